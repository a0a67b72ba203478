#include "components/nestfind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "platform/fs.h"
#include "support/testsupport.h"

namespace {

class NestFindTest : public LibraryTest {
   protected:
    // Walks folder and returns every reported relative path, a folder marked
    // with a trailing '/'. Also checks that GetPath is base + relative path.
    std::vector<std::string> Walk(const std::string& folder, bool postOrder) {
        std::vector<std::string> out;
        NestFind_Begin(&walk_, folder.c_str(), postOrder);
        while (NestFind_Next(&walk_)) {
            std::string rel = NestFind_GetRelPath(&walk_);
            std::string path = NestFind_GetPath(&walk_);
            EXPECT_EQ(std::string(walk_.base) + rel, path);
            EXPECT_LE(path.size(), 255u);
            std::string name = NestFind_GetName(&walk_);
            EXPECT_EQ(name, rel.substr(rel.size() - name.size()));
            out.push_back(rel + (NestFind_IsDir(&walk_) ? "/" : ""));
        }
        NestFind_End(&walk_);
        return out;
    }

    // Makes n empty files name0 .. name(n-1) in a native folder.
    static void MakeFiles(const std::string& native, int n, const char* name = "f") {
        std::filesystem::create_directories(native);
        for (int i = 0; i < n; i++) {
            std::string p = native + "/" + name + std::to_string(i);
            int fd = open(p.c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0) << p;
            close(fd);
        }
    }

    NestFind walk_;
};

using Paths = std::vector<std::string>;

// A fresh folder for trees of thousands of files: on the memory file system
// when there is one (creating files there is quick), else under the temporary
// folder. Removed with its contents by the destructor.
class BigDir {
   public:
    BigDir() {
        std::string root = "/dev/shm";
        if (access(root.c_str(), W_OK) != 0) {
            const char* tmp = getenv("TMPDIR");
            root = tmp && *tmp ? tmp : "/tmp";
        }
        std::string tmpl = root + "/tessaly-nestfind-XXXXXX";
        if (!mkdtemp(tmpl.data())) abort();
        path_ = tmpl;
    }
    ~BigDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string inside() const { return Fs_FromNative(path_); }

   private:
    std::string path_;
};

}  // namespace

TEST_F(NestFindTest, FilesOnlyAndPostOrderReportInListingOrder) {
    TempDir dir;
    dir.Write("a.htm", "x");
    dir.Write("sub/b.htm", "x");
    dir.Write("c.htm", "x");
    // Listings are sorted by name: a.htm, c.htm, sub.
    EXPECT_EQ((Paths{"a.htm", "c.htm", "sub\\b.htm"}), Walk(dir.inside(), false));
    EXPECT_EQ((Paths{"a.htm", "c.htm", "sub\\b.htm", "sub/"}), Walk(dir.inside(), true));

    // A folder listed between two files: its contents come between them.
    TempDir mid;
    mid.Write("a.htm", "x");
    mid.Write("m/b.htm", "x");
    mid.Write("x.htm", "x");
    EXPECT_EQ((Paths{"a.htm", "m\\b.htm", "x.htm"}), Walk(mid.inside(), false));
    EXPECT_EQ((Paths{"a.htm", "m\\b.htm", "m/", "x.htm"}), Walk(mid.inside(), true));
}

TEST_F(NestFindTest, EmptyFoldersInBothModes) {
    TempDir dir;
    // An empty start folder: nothing in either mode.
    EXPECT_EQ(Paths{}, Walk(dir.inside(), false));
    EXPECT_EQ(Paths{}, Walk(dir.inside(), true));

    std::filesystem::create_directories(dir.path() + "/e/deeper");
    std::filesystem::create_directories(dir.path() + "/z");
    dir.Write("m.htm", "x");
    for (const std::string& start : {dir.inside(), dir.inside() + "\\", dir.inside() + "/"}) {
        EXPECT_EQ(Paths{"m.htm"}, Walk(start, false)) << start;
        EXPECT_EQ((Paths{"e\\deeper/", "e/", "m.htm", "z/"}), Walk(start, true)) << start;
    }
}

TEST_F(NestFindTest, TrailingSeparatorGivesTheSamePaths) {
    TempDir dir;
    dir.Write("sub/b.htm", "x");
    NestFind_Begin(&walk_, dir.inside().c_str(), false);
    ASSERT_TRUE(NestFind_Next(&walk_));
    std::string without = NestFind_GetPath(&walk_);
    NestFind_End(&walk_);
    NestFind_Begin(&walk_, (dir.inside() + "\\").c_str(), false);
    ASSERT_TRUE(NestFind_Next(&walk_));
    EXPECT_EQ(without, NestFind_GetPath(&walk_));
    EXPECT_EQ(dir.inside() + "\\sub\\b.htm", without);
    EXPECT_FALSE(NestFind_Next(&walk_));
    EXPECT_FALSE(NestFind_Next(&walk_));  // stays over
    NestFind_End(&walk_);
}

TEST_F(NestFindTest, MissingStartFolderIsEmpty) {
    TempDir dir;
    EXPECT_EQ(Paths{}, Walk(dir.inside() + "\\none", true));
    dir.Write("file", "x");
    EXPECT_EQ(Paths{}, Walk(dir.inside() + "\\file", false));
}

TEST_F(NestFindTest, JapaneseNamesAndTrailByteFiveC) {
    TempDir dir;
    dir.Write(reinterpret_cast<const char*>(u8"表/能.htm"), "x");
    EXPECT_EQ(Paths{"\x95\x5C\\\x94\x5C.htm"}, Walk(dir.inside(), false));
    // A start folder ending in a 0x5C trail byte gets its own backslash.
    EXPECT_EQ(Paths{"\x94\x5C.htm"}, Walk(dir.inside() + "\\\x95\x5C", false));
}

TEST_F(NestFindTest, LinkToFolderIsAFileToTheWalk) {
    TempDir dir;
    dir.Write("real/x.htm", "x");
    ASSERT_EQ(0, symlink(".", (dir.path() + "/loop").c_str()));
    ASSERT_EQ(0, symlink("real", (dir.path() + "/zlink").c_str()));
    EXPECT_EQ((Paths{"loop", "real\\x.htm", "zlink"}), Walk(dir.inside(), false));
}

TEST_F(NestFindTest, ThreeThousandEntriesFitAndOneMoreRaises) {
    BigDir dir;
    MakeFiles(dir.path() + "/full", 3000);
    int n = 0;
    EXPECT_EQ(0, CaughtCode([&] {
                  NestFind_Begin(&walk_, (dir.inside() + "\\full").c_str(), false);
                  while (NestFind_Next(&walk_)) n++;
              }));
    NestFind_End(&walk_);
    EXPECT_EQ(3000, n);

    MakeFiles(dir.path() + "/full", 1, "g");  // one more: 3001
    std::string folder = dir.inside() + "\\full";
    EXPECT_EQ(9992, CaughtCode([&] { NestFind_Begin(&walk_, folder.c_str(), false); }));
    NestFind_End(&walk_);
    EXPECT_NE(std::string::npos, LastText().find("NestFind: over Buf (" + folder + "\\)\n"))
        << LastText();
    EXPECT_NE(std::string::npos, LastText().find("NestFind_Err_OverBuf")) << LastText();
}

TEST_F(NestFindTest, OpenLevelsShareTheTable) {
    // 1000 files and one folder at level 0 (1001 entries); the folder holds
    // 2000: entering it passes 3000 entries on the open path.
    BigDir dir;
    MakeFiles(dir.path(), 1000, "a");
    MakeFiles(dir.path() + "/sub", 2000);
    int files = 0;
    EXPECT_EQ(9992, CaughtCode([&] {
                  NestFind_Begin(&walk_, dir.inside().c_str(), false);
                  while (NestFind_Next(&walk_)) files++;
              }));
    NestFind_End(&walk_);
    EXPECT_EQ(1000, files);  // "a*" sorts before "sub"
    EXPECT_NE(std::string::npos, LastText().find("(" + dir.inside() + "\\sub\\)")) << LastText();

    // 1999 in the folder fit exactly: 1001 + 1999 = 3000.
    std::filesystem::remove(dir.path() + "/sub/f0");
    files = 0;
    EXPECT_EQ(0, CaughtCode([&] {
                  NestFind_Begin(&walk_, dir.inside().c_str(), false);
                  while (NestFind_Next(&walk_)) files++;
              }));
    NestFind_End(&walk_);
    EXPECT_EQ(2999, files);
}

TEST_F(NestFindTest, FortyNineLevelsWalkAndTheFiftiethRaises) {
    TempDir dir;
    std::string native = dir.path();
    std::string rel;
    for (int i = 0; i < 49; i++) {
        native += "/d";
        rel += rel.empty() ? "d" : "\\d";
    }
    std::filesystem::create_directories(native);
    dir.Write(native.substr(dir.path().size() + 1) + "/f.htm", "x");
    EXPECT_EQ(Paths{rel + "\\f.htm"}, Walk(dir.inside(), false));

    std::filesystem::create_directory(native + "/d");
    std::string fiftieth = dir.inside() + "\\" + rel + "\\d";
    EXPECT_EQ(9991, CaughtCode([&] {
                  NestFind_Begin(&walk_, dir.inside().c_str(), false);
                  while (NestFind_Next(&walk_)) {
                  }
              }));
    EXPECT_EQ(49, walk_.depth);  // left at the level whose listing holds it
    NestFind_End(&walk_);
    EXPECT_NE(std::string::npos, LastText().find("NestFind: over Nest (" + fiftieth + ")\n"))
        << LastText();
}

TEST_F(NestFindTest, PositionAndTotalAreAMixedRadixCount) {
    TempDir dir;
    for (const char* f : {"1", "2", "4", "3/a", "3/b", "3/c", "3/d", "3/e"}) dir.Write(f, "x");
    struct Step {
        const char* rel;
        int pos, total;
    };
    const Step want[] = {
        {"1", 0, 4},      {"2", 1, 4},      {"3\\a", 10, 20}, {"3\\b", 11, 20},
        {"3\\c", 12, 20}, {"3\\d", 13, 20}, {"3\\e", 14, 20}, {"4", 3, 4},
    };
    NestFind_Begin(&walk_, dir.inside().c_str(), false);
    EXPECT_EQ(0, NestFind_GetPos(&walk_));  // no current entry yet
    for (const Step& s : want) {
        ASSERT_TRUE(NestFind_Next(&walk_)) << s.rel;
        EXPECT_STREQ(s.rel, NestFind_GetRelPath(&walk_));
        EXPECT_EQ(s.pos, NestFind_GetPos(&walk_)) << s.rel;
        EXPECT_EQ(s.total, NestFind_GetTotal(&walk_)) << s.rel;
    }
    EXPECT_FALSE(NestFind_Next(&walk_));
    EXPECT_EQ(0, NestFind_GetPos(&walk_));
    EXPECT_EQ(1, NestFind_GetTotal(&walk_));
    NestFind_End(&walk_);
}

TEST_F(NestFindTest, TotalPastInt32DropsDeepLevels) {
    // 40 levels of two entries each: 2^40 does not fit 32 bits.
    TempDir dir;
    std::string native = dir.path();
    for (int i = 0; i < 40; i++) {
        MakeFiles(native, 1, "a");  // "a0" before "d"
        native += "/d";
    }
    MakeFiles(native, 1, "z");
    NestFind_Begin(&walk_, dir.inside().c_str(), false);
    int lastPos = -1;
    while (NestFind_Next(&walk_)) {
        int pos = NestFind_GetPos(&walk_), total = NestFind_GetTotal(&walk_);
        EXPECT_GT(total, 0);
        EXPECT_GE(pos, 0);
        EXPECT_LT(pos, total);
        EXPECT_GE(pos, lastPos);  // the count never runs backwards
        lastPos = pos;
        if (walk_.depth == 40) {
            EXPECT_EQ(1 << 30, total);  // levels 0..29 kept
            EXPECT_EQ((1 << 30) - 1, pos);
        }
    }
    NestFind_End(&walk_);
}

TEST_F(NestFindTest, OverlongPathsAreSkippedNeverCut) {
    TempDir dir;
    const size_t baseLen = dir.inside().size() + 1;  // with its backslash
    ASSERT_LT(baseLen, 150u);
    // A file whose full path is exactly 255 bytes fits; 256 is skipped.
    std::string fit(255 - baseLen, 'f');
    std::string over(256 - baseLen, 'g');
    dir.Write(fit, "x");
    dir.Write(over, "x");
    // A folder whose path and backslash make 255 bytes is entered (an empty
    // one); one byte longer and it is skipped with its contents.
    std::string dirFit(254 - baseLen, 'd');
    std::string dirOver(255 - baseLen, 'e');
    std::filesystem::create_directory(dir.path() + "/" + dirFit);
    dir.Write(dirOver + "/x", "x");
    EXPECT_EQ((Paths{dirFit + "/", fit}), Walk(dir.inside(), true));
    EXPECT_EQ(Paths{fit}, Walk(dir.inside(), false));

    // A start folder that does not fit base gives an empty walk.
    std::string longStart = dir.inside() + "\\" + std::string(255 - baseLen, 's');
    std::filesystem::create_directory(Fs_ToNative(longStart));
    dir.Write(std::string(255 - baseLen, 's') + "/in", "x");
    EXPECT_EQ(Paths{}, Walk(longStart, false));
    EXPECT_EQ('\0', walk_.base[0]);
}

TEST_F(NestFindTest, GetPathReleasesItsScratchBuffer) {
    TempDir dir;
    dir.Write("a.htm", "x");
    BigStack* s = BigStack_Sys();
    NestFind_Begin(&walk_, dir.inside().c_str(), false);
    ASSERT_TRUE(NestFind_Next(&walk_));
    unsigned char* sp = s->sp;
    NestFind_GetPath(&walk_);
    EXPECT_EQ(sp, s->sp);

    // With too little room the call raises 281 and leaves no mark behind.
    BigStack_Push(s);
    uint32_t room = s->size - static_cast<uint32_t>(s->sp - s->mem);
    BigStack_Alloc(s, room - 200);
    unsigned char* fullSp = s->sp;
    unsigned char* mark = s->block1;
    EXPECT_EQ(281, CaughtCode([&] { NestFind_GetPath(&walk_); }));
    EXPECT_EQ(fullSp, s->sp);
    EXPECT_EQ(mark, s->block1);
    BigStack_Pop(s);
    EXPECT_EQ(sp, s->sp);
    NestFind_End(&walk_);
}

TEST_F(NestFindTest, UnlistableFolderCountsAsEmpty) {
    if (geteuid() == 0) GTEST_SKIP() << "root can list every folder";
    TempDir dir;
    dir.Write("locked/x.htm", "x");
    dir.Write("y.htm", "x");
    ASSERT_EQ(0, chmod((dir.path() + "/locked").c_str(), 0));
    EXPECT_EQ((Paths{"locked/", "y.htm"}), Walk(dir.inside(), true));
    chmod((dir.path() + "/locked").c_str(), 0755);
}
