#include "components/nestfind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "platform/fs.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

// A fresh folder for trees of thousands of files, on the memory file system
// when there is one.
struct BigDir {
    std::string path = access("/dev/shm", W_OK) == 0           ? "/dev/shm"
                       : getenv("TMPDIR") && *getenv("TMPDIR") ? getenv("TMPDIR")
                                                               : "/tmp";
    BigDir() {
        path += "/tessaly-nestfind-XXXXXX";
        if (!mkdtemp(path.data())) abort();
    }
    ~BigDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string inside() const { return Fs_FromNative(path); }
};

// Makes n empty files name0 .. name(n-1) in a native folder.
void MakeFiles(const std::string& native, int n, const char* name = "f") {
    fs::create_directories(native);
    for (int i = 0; i < n; i++)
        close(open((native + "/" + name + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644));
}

class NestFindTest : public LibraryTest {
   protected:
    // Walks folder and returns every reported relative path, a folder marked
    // with a trailing '/'; checks GetPath and GetName against it.
    Paths Walk(const std::string& folder, bool postOrder) {
        Paths out;
        NestFind_Begin(&walk_, folder.c_str(), postOrder);
        while (NestFind_Next(&walk_)) {
            const std::string rel = NestFind_GetRelPath(&walk_), name = NestFind_GetName(&walk_);
            const std::string path = NestFind_GetPath(&walk_);
            EXPECT_EQ(std::string(walk_.base) + rel, path);
            EXPECT_LE(path.size(), 255u);
            EXPECT_EQ(name, rel.substr(rel.size() - name.size()));
            out.push_back(rel + (NestFind_IsDir(&walk_) ? "/" : ""));
        }
        NestFind_End(&walk_);
        return out;
    }
    // Walks folder in files-only mode inside a try frame; returns the caught
    // code and stores the number of files reported in *files.
    int Count(const std::string& folder, int* files) {
        *files = 0;
        int code = CaughtCode([&] {
            NestFind_Begin(&walk_, folder.c_str(), false);
            while (NestFind_Next(&walk_)) ++*files;
        });
        NestFind_End(&walk_);
        return code;
    }
    NestFind walk_;
};

TEST_F(NestFindTest, FilesOnlyAndPostOrderReportInListingOrderAndLinksAreFiles) {
    TempDir dir;
    for (const char* f : {"a.htm", "m/b.htm", "x.htm", "m/n/c.htm"}) dir.Write(f, "x");
    fs::create_directories(dir.path() + "/e/deeper");
    const Paths files = {"a.htm", "m\\b.htm", "m\\n\\c.htm", "x.htm"};
    EXPECT_EQ(files, Walk(dir.inside(), false));
    EXPECT_EQ(files, Walk(dir.inside() + "\\", false));
    EXPECT_EQ(files, Walk(dir.inside() + "/", false));
    EXPECT_EQ(
        (Paths{"a.htm", "e\\deeper/", "e/", "m\\b.htm", "m\\n\\c.htm", "m\\n/", "m/", "x.htm"}),
        Walk(dir.inside() + "\\", true));

    // Empty and missing start folders, and a file as start folder: nothing.
    TempDir empty;
    for (bool postOrder : {false, true}) {
        EXPECT_EQ(Paths{}, Walk(empty.inside(), postOrder));
        EXPECT_EQ(Paths{}, Walk(empty.inside() + "\\none", postOrder));
        EXPECT_EQ(Paths{}, Walk(dir.inside() + "\\a.htm", postOrder));
    }
    // A link to a folder is a file to the walk; a start folder ending in a
    // 0x5C trail byte gets its own backslash.
    TempDir links;
    links.Write(U8(u8"表/能.htm"), "x");
    links.Write("real/x.htm", "x");
    ASSERT_EQ(0, symlink(".", (links.path() + "/loop").c_str()));
    ASSERT_EQ(0, symlink("real", (links.path() + "/zlink").c_str()));
    EXPECT_EQ((Paths{"loop", "real\\x.htm", "zlink", "\x95\x5C\\\x94\x5C.htm"}),
              Walk(links.inside(), false));
    EXPECT_EQ(Paths{"\x94\x5C.htm"}, Walk(links.inside() + "\\\x95\x5C", false));
}

TEST_F(NestFindTest, ThousandsOfEntriesBesideAFolderOfThousandsWalk) {
    // 3500 files beside a folder of 3500, and a folder of 1600 inside one of
    // 1600: every file is reported, in listing order.
    BigDir dir;
    MakeFiles(dir.path + "/wide", 3500, "a");
    MakeFiles(dir.path + "/wide/sub", 3500, "b");
    MakeFiles(dir.path + "/deep", 1600, "a");
    MakeFiles(dir.path + "/deep/sub", 1599, "a");
    MakeFiles(dir.path + "/deep/sub/sub", 1600, "b");
    int files = 0;
    EXPECT_EQ(CodeName(0), CodeName(Count(dir.inside(), &files)));
    EXPECT_EQ(3500 + 3500 + 1600 + 1599 + 1600, files);
    const Paths walked = Walk(dir.inside() + "\\wide", false);
    ASSERT_EQ(7000u, walked.size());
    EXPECT_EQ("a0", walked.front());
    EXPECT_EQ("sub\\b999", walked.back());  // "b10" < "b999" by name
    EXPECT_EQ("sub\\b0", walked[3500]);
}

TEST_F(NestFindTest, TheEntryBoundHoldsAtItsLastEntryAndRaisesOneAfter) {
    // The bound, lowered for the test, counts the open levels' entries
    // together; NestFind_MaxEntries itself is far above any real folder.
    EXPECT_EQ(10000000, NestFind_MaxEntries);
    struct Limit {
        int32_t old = NestFind_SetEntryLimit(3000);
        ~Limit() { NestFind_SetEntryLimit(old); }
    } limit;
    BigDir dir;
    MakeFiles(dir.path + "/full", 3000);
    const std::string full = dir.inside() + "\\full", shared = dir.inside() + "\\open";
    int files = 0;
    EXPECT_EQ(CodeName(0), CodeName(Count(full, &files)));
    EXPECT_EQ(3000, files);
    MakeFiles(dir.path + "/full", 1, "g");
    long fullAllocs = 0;
    {
        AllocCounter counter;
        EXPECT_EQ(CodeName(NestFind_Err_OverBuf.code), CodeName(Count(full, &files)));
        fullAllocs = counter.Count();
    }
    EXPECT_NE(std::string::npos,
              LastText().find("NestFind_Err_OverBuf, NestFind: over Buf (" + full + "\\)\n"))
        << LastText();
    // A folder ten times as large is read only as far as the bound: the
    // platform's allocations (several per name read) stay those of 3001.
    MakeFiles(dir.path + "/huge", 30000);
    long hugeAllocs = 0;
    {
        AllocCounter counter;
        EXPECT_EQ(CodeName(NestFind_Err_OverBuf.code),
                  CodeName(Count(dir.inside() + "\\huge", &files)));
        hugeAllocs = counter.Count();
    }
    EXPECT_LT(hugeAllocs, 2 * fullAllocs) << fullAllocs;
    // The open levels share the bound: 1000 files and a folder (1001 entries),
    // and 2000 in the folder.
    MakeFiles(dir.path + "/open", 1000, "a");
    MakeFiles(dir.path + "/open/sub", 2000);
    EXPECT_EQ(CodeName(NestFind_Err_OverBuf.code), CodeName(Count(shared, &files)));
    EXPECT_EQ(1000, files);  // "a*" sorts before "sub"
    EXPECT_NE(std::string::npos, LastText().find("(" + shared + "\\sub\\)")) << LastText();
    fs::remove(dir.path + "/open/sub/f0");  // 1001 + 1999 = 3000 fit
    EXPECT_EQ(CodeName(0), CodeName(Count(shared, &files)));
    EXPECT_EQ(2999, files);
    // A level left gives its room back: a second folder beside it, as large.
    fs::remove(dir.path + "/open/sub/f1");
    MakeFiles(dir.path + "/open/sub2", 1998);  // 1002 + 1998 = 3000
    EXPECT_EQ(CodeName(0), CodeName(Count(shared, &files)));
    EXPECT_EQ(1000 + 1998 + 1998, files);
}

TEST_F(NestFindTest, TheTableGrowsWithTheEntriesHeldAndIsFreedAtTheEnd) {
    // Names longer than a block holds many of, in a folder larger than the
    // arrays' first size: every name read back whole while the walk goes on,
    // after the table has grown several times over.
    BigDir dir;
    const std::string longName(200, 'n');
    MakeFiles(dir.path + "/a", 5000, longName.c_str());
    MakeFiles(dir.path + "/b", 10, "z");
    const Paths walked = Walk(dir.inside(), false);
    long allocs = 0;
    int files = 0;
    {
        AllocCounter counter;
        NestFind_Begin(&walk_, dir.inside().c_str(), false);
        while (NestFind_Next(&walk_)) files++;
        NestFind_End(&walk_);
        allocs = counter.Count();
    }
    EXPECT_EQ(5010, files);
    ASSERT_EQ(5010u, walked.size());
    EXPECT_EQ("a\\" + longName + "0", walked.front());
    EXPECT_EQ("a\\" + longName + "999", walked[4999]);
    EXPECT_EQ("b\\z9", walked.back());
    EXPECT_EQ(nullptr, walk_.names);  // freed by NestFind_End
    // Beyond the platform's listings, the table grows by doublings and 64 KB
    // blocks (1 MB of names here), never by an allocation per entry.
    long listAllocs = 0;
    {
        AllocCounter counter;
        for (const std::string& folder :
             {dir.inside(), dir.inside() + "\\a", dir.inside() + "\\b"}) {
            Fs_FindData fd;
            int state;
            const intptr_t h =
                Fs_FindFirstMax((folder + "\\*.*").c_str(), &fd, SIZE_MAX, &state, true);
            while (Fs_FindNext(h, &fd) == 0) {
            }
            Fs_FindClose(h);
        }
        listAllocs = counter.Count();
    }
    EXPECT_GT(allocs - listAllocs, 8) << "slot arrays and name blocks";
    EXPECT_LT(allocs - listAllocs, 40) << "slot arrays and name blocks";
}

TEST_F(NestFindTest, FortyNineLevelsWalkAndTheFiftiethRaises) {
    TempDir dir;
    std::string rel = "d";
    for (int i = 1; i < 49; i++) rel += "\\d";
    const std::string native = Fs_ToNative(dir.inside() + "\\" + rel);
    fs::create_directories(native);
    close(open((native + "/f.htm").c_str(), O_CREAT | O_WRONLY, 0644));
    EXPECT_EQ(Paths{rel + "\\f.htm"}, Walk(dir.inside(), false));
    fs::create_directory(native + "/d");
    int files = 0;
    EXPECT_EQ(CodeName(NestFind_Err_OverNest.code), CodeName(Count(dir.inside(), &files)));
    EXPECT_NE(std::string::npos,
              LastText().find("NestFind: over Nest (" + dir.inside() + "\\" + rel + "\\d)\n"))
        << LastText();
}

TEST_F(NestFindTest, PositionAndTotalAreAMixedRadixCount) {
    TempDir dir;
    for (const char* f : {"1", "2", "4", "3/a", "3/b", "3/c", "3/d", "3/e"}) dir.Write(f, "x");
    const Paths want = {"1 0/4",      "2 1/4",      "3\\a 10/20", "3\\b 11/20",
                        "3\\c 12/20", "3\\d 13/20", "3\\e 14/20", "4 3/4"};
    Paths got;
    NestFind_Begin(&walk_, dir.inside().c_str(), false);
    EXPECT_EQ(0, NestFind_GetPos(&walk_));  // no current entry yet
    while (NestFind_Next(&walk_))
        got.push_back(std::string(NestFind_GetRelPath(&walk_)) + " " +
                      std::to_string(NestFind_GetPos(&walk_)) + "/" +
                      std::to_string(NestFind_GetTotal(&walk_)));
    EXPECT_EQ(want, got);
    NestFind_End(&walk_);
}

TEST_F(NestFindTest, TotalPastInt32DropsDeepLevels) {
    // 40 levels of two entries each: 2^40 does not fit 32 bits.
    TempDir dir;
    std::string native = dir.path();
    for (int i = 0; i < 40; i++, native += "/d") MakeFiles(native, 1, "a");  // "a0" before "d"
    MakeFiles(native, 1, "z");
    NestFind_Begin(&walk_, dir.inside().c_str(), false);
    int lastPos = -1;
    while (NestFind_Next(&walk_)) {
        const int pos = NestFind_GetPos(&walk_), total = NestFind_GetTotal(&walk_);
        EXPECT_TRUE(pos >= lastPos && pos < total) << pos << "/" << total;  // never backwards
        lastPos = pos;
    }
    EXPECT_EQ((1 << 30) - 1, lastPos);  // the deepest file: levels 0..29 kept
    NestFind_End(&walk_);
}

TEST_F(NestFindTest, OverlongPathsAreNeverCutForUseAndFilesOnlyReportsThemMarked) {
    TempDir dir;
    const std::string base = dir.inside() + "\\";
    const size_t baseLen = base.size();
    ASSERT_LT(baseLen, 150u);
    // A file whose full path is 255 bytes fits, 256 does not; a folder fits
    // when its path and backslash make 255 bytes. The long file's last
    // character (表, 0x95 0x5C) stands across the 255th byte.
    const std::string fit(255 - baseLen, 'f'), dirFit(254 - baseLen, 'd');
    const std::string longFile = std::string(254 - baseLen, 'g') + "\x95\x5C";
    dir.Write(fit, "x");
    dir.Write(std::string(254 - baseLen, 'g') + U8(u8"表"), "x");
    fs::create_directory(dir.path() + "/" + dirFit);
    dir.Write(std::string(255 - baseLen, 'e') + "/x", "x");
    // Post-order (the tree remover acts on every path): left out.
    EXPECT_EQ((Paths{dirFit + "/", fit}), Walk(dir.inside(), true));
    // Files-only: the long file is reported, marked; its path whole only
    // through CopyPath, cut before the character for display; the long
    // folder is reported marked too (for its caller to count what it holds),
    // never entered.
    Paths got;
    NestFind_Begin(&walk_, dir.inside().c_str(), false);
    while (NestFind_Next(&walk_)) {
        const std::string name = NestFind_GetName(&walk_);
        char whole[600];
        const bool fits = NestFind_CopyPath(&walk_, whole, sizeof whole);
        EXPECT_TRUE(fits);
        EXPECT_EQ(base + name, whole);
        const std::string shown = NestFind_GetPath(&walk_);
        got.push_back(name + (NestFind_IsTooLong(&walk_) ? " long" : "") +
                      (NestFind_IsDir(&walk_) ? " dir" : "") +
                      (NestFind_IsRegular(&walk_) ? " regular" : ""));
        if (NestFind_IsDir(&walk_)) continue;  // its path fits; with its backslash it does not
        if (NestFind_IsTooLong(&walk_)) {
            EXPECT_EQ(std::string(whole, 254), shown);             // not 255: no half character
            EXPECT_EQ(whole, base + NestFind_GetRelPath(&walk_));  // the relative part fits
            EXPECT_FALSE(NestFind_CopyPath(&walk_, whole, 256));
            EXPECT_EQ(254u, strlen(whole));
        } else {
            EXPECT_EQ(whole, shown);
        }
    }
    NestFind_End(&walk_);
    EXPECT_EQ((Paths{std::string(255 - baseLen, 'e') + " long dir", fit + " regular",
                     longFile + " long"}),
              got);
    // A start folder that does not fit base gives an empty walk.
    const std::string longStart(255 - baseLen, 's');
    dir.Write(longStart + "/in", "x");
    EXPECT_EQ(Paths{}, Walk(dir.inside() + "\\" + longStart, false));
    EXPECT_EQ('\0', walk_.base[0]);
}

TEST_F(NestFindTest, GetPathReleasesItsScratchBuffer) {
    TempDir dir;
    dir.Write("a.htm", "x");
    BigStack* s = BigStack_Sys();
    NestFind_Begin(&walk_, dir.inside().c_str(), false);
    ASSERT_TRUE(NestFind_Next(&walk_));
    NestFind_GetPath(&walk_);
    EXPECT_EQ(s->mem, s->sp);
    // With too little room the call raises 281 and leaves no mark behind.
    BigStack_Push(s);
    BigStack_Alloc(s, s->size - static_cast<uint32_t>(s->sp - s->mem) - 200);
    unsigned char *fullSp = s->sp, *mark = s->block1;
    EXPECT_EQ(CodeName(BigStack_Full.code),
              CodeName(CaughtCode([&] { NestFind_GetPath(&walk_); })));
    EXPECT_TRUE(fullSp == s->sp && mark == s->block1);
    BigStack_Pop(s);
    NestFind_End(&walk_);
}

TEST_F(NestFindTest, UnlistableFoldersAreEmptyAndTheStartFolderSaysSo) {
    TempDir dir;
    dir.Write("locked/x.htm", "x");
    dir.Write("y.htm", "x");
    // A fault at the file-system door: root lists every folder whatever its mode.
    static std::string locked;
    locked = dir.path() + "/locked/";
    Fs_SetFaultHook([](const char* op, const char* native) {
        return strcmp(op, "list") == 0 && native == locked ? EACCES : 0;
    });
    EXPECT_EQ((Paths{"locked/", "y.htm"}), Walk(dir.inside(), true));
    EXPECT_EQ(0, walk_.bCannotList);
    EXPECT_EQ(Paths{}, Walk(dir.inside() + "\\locked", true));
    EXPECT_EQ(1, walk_.bCannotList);
    Fs_SetFaultHook(nullptr);
    EXPECT_EQ(Paths{"x.htm"}, Walk(dir.inside() + "\\locked", true));
    EXPECT_EQ(0, walk_.bCannotList);
}

}  // namespace
