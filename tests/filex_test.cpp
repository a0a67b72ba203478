#include "components/filex.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "components/strx.h"
#include "support/testsupport.h"

namespace {

class FileXTest : public LibraryTest {
   protected:
    std::string In(const std::string& rel) const { return dir_.inside() + "\\" + rel; }
    TempDir dir_;
};

// Reads every field of a CSV text: "field|" per field, "$" after an LF, "."
// at the end of the stream.
std::string ReadFields(const TempDir& dir, const std::string& text, int size = 64) {
    dir.Write("f.csv", text);
    FILE* f = Fs_Open((dir.inside() + "\\f.csv").c_str(), "rb");
    std::string out;
    char buf[128];
    for (int guard = 0; guard < 100; guard++) {
        memset(buf, '#', sizeof buf);
        int end = FileX_ReadCsvField(f, buf, size);
        EXPECT_EQ('#', buf[size]) << text;  // nothing past the buffer
        out += std::string(buf) + "|";
        if (end == '\n') out += "$";
        if (end == EOF) break;
    }
    fclose(f);
    return out + ".";
}

struct Progress {
    std::vector<long> done;
    long total = -99;
    static void Call(void* user, long done, long total) {
        auto* p = static_cast<Progress*>(user);
        p->done.push_back(done);
        p->total = total;
    }
};

}  // namespace

TEST_F(FileXTest, OpenReportsWhyItCannot) {
    struct Case {
        const char* rel;
        const char* mode;
        int code;
    };
    const Case cases[] = {
        {"missing.txt", "rt", 363},
        {"no\\x.txt", "wt", 362},
        {"no\\log.txt", "ab+", 363},  // no 'w' in the mode: the read report
        {"no\\x.bin", "rb", 363},
    };
    for (const Case& c : cases) {
        std::string path = In(c.rel);
        EXPECT_EQ(c.code, CaughtCode([&] { FileX_Open(path.c_str(), c.mode); })) << c.rel;
        std::string want = c.code == 362
                               ? Sjis(u8"ファイル \"") + path + Sjis(u8"\" が書きこめません")
                               : Sjis(u8"ファイル \"") + path + Sjis(u8"\" が見つかりません");
        EXPECT_NE(std::string::npos, LastText().find(want)) << Utf8(LastText());
        EXPECT_NE(std::string::npos, LastText().find("filex.cpp")) << Utf8(LastText());
    }
    dir_.Write("here.txt", "x");
    FILE* f = nullptr;
    EXPECT_EQ(0, CaughtCode([&] { f = FileX_Open(In("here.txt").c_str(), "rt"); }));
    ASSERT_NE(nullptr, f);
    EXPECT_STREQ("(FileName not Recorded)", FileX_GetFileName(f));
    fclose(f);
}

TEST_F(FileXTest, IsDirForms) {
    dir_.Write("file.txt", "x");
    dir_.Write(reinterpret_cast<const char*>(u8"表/x"), "x");
    std::filesystem::create_directory(dir_.path() + "/sub");
    struct Case {
        std::string path;
        bool want;
    };
    const Case cases[] = {
        {"C:", true},
        {"C:\\", true},
        {"C:/", true},
        {"z:", true},
        {"C:\\\\", false},  // only one trailing backslash is dropped
        {"C:x", false},
        {"", false},
        {"\\", true},  // the root folder
        {"/", true},
        {dir_.inside(), true},
        {dir_.inside() + "\\", true},
        {dir_.inside() + "/", true},
        {In("sub"), true},
        {In("sub") + "\\", true},
        {In("\x95\x5C"), true},  // a 0x5C trail byte is not a separator
        {In("\x95\x5C") + "\\", true},
        {In("file.txt"), false},
        {In("missing"), false},
        {In("missing") + "\\", false},
        {"\\" + std::string(300, 'a'), false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, FileX_IsDir(c.path.c_str())) << Utf8(c.path);
}

TEST_F(FileXTest, GetSizeReportsAMissingFile) {
    dir_.Write("five", "12345");
    EXPECT_EQ(5, FileX_GetSize(In("five").c_str()));
    int32_t size = 0;
    EXPECT_EQ(102, CaughtCode([&] { size = FileX_GetSize(In("none").c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("Errors_Unofficial, error"));
}

TEST_F(FileXTest, NumberedNameTakesTheFirstFreeNumber) {
    dir_.Write("x1", "");
    dir_.Write("x2", "");
    dir_.Write("x4", "");
    dir_.Write("page.htm", "");
    char buf[260];
    EXPECT_EQ(3, FileX_NumberedName("x", dir_.inside().c_str(), buf));
    EXPECT_EQ(In("x3"), buf);
    EXPECT_EQ(3, FileX_NumberedName("x", (dir_.inside() + "\\").c_str(), buf));
    EXPECT_EQ(In("x3"), buf);
    // Any other path: its folder.
    EXPECT_EQ(3, FileX_NumberedName("x", In("page.htm").c_str(), buf));
    EXPECT_EQ(In("x3"), buf);
    EXPECT_EQ(1, FileX_NumberedName("y", In("missing.htm").c_str(), buf));
    EXPECT_EQ(In("y1"), buf);
    // A name that cannot fit raises instead of counting for ever.
    std::string base(300, 'b');
    int n = 0;
    EXPECT_EQ(102, CaughtCode([&] { n = FileX_NumberedName(base.c_str(), "\\", buf); }));
}

TEST_F(FileXTest, CompareTellsMissingDifferentAndEqual) {
    std::string block(256, 'a');
    dir_.Write("a", block + "tail");
    dir_.Write("same", block + "tail");
    dir_.Write("other", block + "tale");
    dir_.Write("prefix", block);  // ends on a block boundary
    dir_.Write("empty1", "");
    dir_.Write("empty2", "");
    struct Case {
        const char* p1;
        const char* p2;
        int want;
    };
    const Case cases[] = {
        {"none1", "none2", -3}, {"none1", "a", -1},      {"a", "none2", -2},
        {"a", "same", 0},       {"a", "other", 1},       {"a", "prefix", 1},
        {"prefix", "a", 1},     {"empty1", "empty2", 0}, {"empty1", "a", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.want, FileX_Compare(In(c.p1).c_str(), In(c.p2).c_str())) << c.p1 << " " << c.p2;
}

TEST_F(FileXTest, CopyCopiesWithProgressAndMakesFolders) {
    std::string data;
    for (int i = 0; i < 2500; i++) data += static_cast<char>('a' + i % 26);
    dir_.Write("src.bin", data);
    Progress p;
    long n = FileX_Copy(In("new\\deep\\dst.bin").c_str(), In("src.bin").c_str(), 0, -1,
                        Progress::Call, &p);
    EXPECT_EQ(2500, n);
    EXPECT_EQ(data, dir_.Read("new/deep/dst.bin"));
    EXPECT_EQ((std::vector<long>{0, 1024, 2048, 2500}), p.done);
    EXPECT_EQ(2500, p.total);

    // From an offset up to an end.
    Progress q;
    n = FileX_Copy(In("part.bin").c_str(), In("src.bin").c_str(), 100, 1200, Progress::Call, &q);
    EXPECT_EQ(1100, n);
    EXPECT_EQ(data.substr(100, 1100), dir_.Read("part.bin"));
    EXPECT_EQ((std::vector<long>{0, 1024, 1100}), q.done);
    EXPECT_EQ(2400, q.total);  // max(size, end) - offset

    // As much as fits: the whole file on a disk with room.
    n = FileX_Copy(In("fit.bin").c_str(), In("src.bin").c_str(), 0, -2, nullptr, nullptr);
    EXPECT_EQ(2500, n);
    EXPECT_EQ(data, dir_.Read("fit.bin"));
}

TEST_F(FileXTest, CopyOfAMissingSourceLeavesTheDestination) {
    dir_.Write("dst.bin", "keep me");
    EXPECT_EQ(363, CaughtCode([&] {
                  FileX_Copy(In("dst.bin").c_str(), In("none").c_str(), 0, -1, nullptr, nullptr);
              }));
    EXPECT_EQ("keep me", dir_.Read("dst.bin"));
    // A destination that cannot be written: 362, the source closed again.
    std::filesystem::create_directory(dir_.path() + "/folder");
    EXPECT_EQ(362, CaughtCode([&] {
                  FileX_Copy(In("folder").c_str(), In("dst.bin").c_str(), 0, -1, nullptr, nullptr);
              }));
    EXPECT_NE(std::string::npos, LastText().find(In("folder"))) << Utf8(LastText());
}

TEST_F(FileXTest, CopyFailingWriteRemovesTheDestination) {
    std::string data(20000, 'z');
    dir_.Write("src.bin", data);
    // Files of this process may grow to 5000 bytes: the copy's writes fail.
    struct rlimit old;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    struct rlimit small = old;
    small.rlim_cur = 5000;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    Progress p;
    std::string dst = In("dst.bin");
    int code = CaughtCode(
        [&] { FileX_Copy(dst.c_str(), In("src.bin").c_str(), 0, -1, Progress::Call, &p); });
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(365, code);
    EXPECT_NE(std::string::npos, LastText().find(dst + Sjis(u8" の書きこみに失敗しました。")))
        << Utf8(LastText());
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/dst.bin"));
    EXPECT_FALSE(p.done.empty());
}

TEST_F(FileXTest, RemoveTreeRemovesEverythingBelow) {
    TempDir outside;
    outside.Write("keep/inner.txt", "k");
    outside.Write("keep.txt", "k");
    ASSERT_EQ(0, chmod((outside.path() + "/keep.txt").c_str(), 0444));
    dir_.Write("t/a.txt", "a");
    dir_.Write("t/sub/b.txt", "b");
    dir_.Write("t/sub/deeper/c.txt", "c");
    std::filesystem::create_directories(dir_.path() + "/t/empty");
    ASSERT_EQ(0, chmod((dir_.path() + "/t/sub/b.txt").c_str(), 0444));
    ASSERT_EQ(0, symlink((outside.path() + "/keep").c_str(), (dir_.path() + "/t/dlink").c_str()));
    ASSERT_EQ(0,
              symlink((outside.path() + "/keep.txt").c_str(), (dir_.path() + "/t/flink").c_str()));

    EXPECT_EQ(0, FileX_RemoveTree(In("t").c_str()));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/t"));
    // Links were removed, never followed.
    EXPECT_EQ("k", outside.Read("keep/inner.txt"));
    struct stat sb;
    ASSERT_EQ(0, stat((outside.path() + "/keep.txt").c_str(), &sb));
    EXPECT_EQ(0444u, sb.st_mode & 0777);

    EXPECT_EQ(-1, FileX_RemoveTree(In("t").c_str()));  // gone: the existence test
    dir_.Write("u/x", "x");
    EXPECT_EQ(0, FileX_RemoveTree((In("u") + "\\").c_str()));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/u"));
}

TEST_F(FileXTest, RemoveTreeDoesNotGoThroughALinkedFolder) {
    TempDir outside;
    outside.Write("inner.txt", "k");
    ASSERT_EQ(0, symlink(outside.path().c_str(), (dir_.path() + "/link").c_str()));
    EXPECT_EQ(-1, FileX_RemoveTree(In("link").c_str()));
    EXPECT_EQ(-1, FileX_RemoveTree((In("link") + "\\").c_str()));
    EXPECT_EQ("k", outside.Read("inner.txt"));
}

TEST_F(FileXTest, RemoveTreeRefusesTheSystemAndHomeFolders) {
    char home[260];
    ASSERT_TRUE(Fs_HomeDir(home, sizeof home));
    const std::string cases[] = {
        "\\",
        "/",
        "\\\\",
        "C:",
        "C:\\",
        "\\usr",
        "/usr/",
        "\\ETC",
        "\\var\\",
        "\\usr\\..\\",
        "\\bin\\.",
        "\\proc",
        "\\root",
        "\\sys",
        "\\tmp",
        "\\home",
        "\\lib64",
        home,
        std::string(home) + "\\",
        "",
    };
    for (const std::string& c : cases) {
        // Never call the removal unless the refusal is certain.
        ASSERT_TRUE(FileX_IsProtectedFolder(c.c_str())) << Utf8(c);
        EXPECT_EQ(102, CaughtCode([&] { FileX_RemoveTree(c.c_str()); })) << Utf8(c);
        EXPECT_NE(std::string::npos, LastText().find("Errors_Unofficial, error"));
    }
    // The home folder reached through a link is refused as well.
    ASSERT_EQ(0, symlink(Fs_ToNative(home).c_str(), (dir_.path() + "/h").c_str()));
    ASSERT_TRUE(FileX_IsProtectedFolder(In("h").c_str()));
    EXPECT_EQ(102, CaughtCode([&] { FileX_RemoveTree(In("h").c_str()); }));

    // Ordinary folders are not protected.
    EXPECT_FALSE(FileX_IsProtectedFolder(dir_.inside().c_str()));
    EXPECT_FALSE(FileX_IsProtectedFolder("\\usr\\share\\doc\\tessaly-none"));
    EXPECT_FALSE(FileX_IsProtectedFolder((std::string(home) + "\\pages").c_str()));
}

TEST_F(FileXTest, CsvFieldsReadQuotedAndPlain) {
    struct Case {
        std::string text;
        std::string want;
    };
    const Case cases[] = {
        {"", "|."},
        {"abc", "abc|."},
        {"a,b\nc", "a|b|$c|."},
        {"a,,\n", "a|||$|."},
        {"\"d,e\",f", "d,e|f|."},
        {"\"f\"\"g\",x", "f\"g|x|."},
        {"\"q\"junk,next", "q|next|."},
        {"\"open", "open|."},
        {"\"\"", "|."},
        {"\"line\nbreak\"\n", "line\nbreak|$|."},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, ReadFields(dir_, c.text)) << c.text;
    // Cut to size - 1 bytes; the rest is read and dropped.
    EXPECT_EQ("abc|de|.", ReadFields(dir_, "abcdef,de", 4));
    EXPECT_EQ("abc|x|.", ReadFields(dir_, "\"abcdef\",x", 4));
    EXPECT_EQ("||.", ReadFields(dir_, "abc,x", 1));  // room for the NUL only
}

TEST_F(FileXTest, CsvFieldsSkipAndWrite) {
    dir_.Write("s.csv", "\"a,b\",c\n");
    FILE* f = Fs_Open(In("s.csv").c_str(), "rb");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(',', FileX_SkipCsvField(f));
    char buf[8];
    EXPECT_EQ('\n', FileX_ReadCsvField(f, buf, sizeof buf));
    EXPECT_STREQ("c", buf);
    EXPECT_EQ(EOF, FileX_SkipCsvField(f));
    fclose(f);

    f = Fs_Open(In("w.csv").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(5, FileX_WriteCsvField(f, "plain"));
    fputc(',', f);
    EXPECT_EQ(5, FileX_WriteCsvField(f, "a,b"));
    fputc(',', f);
    EXPECT_EQ(6, FileX_WriteCsvField(f, "q\"r"));
    fputc(',', f);
    EXPECT_EQ(0, FileX_WriteCsvField(f, ""));
    fclose(f);
    EXPECT_EQ("plain,\"a,b\",\"q\"\"r\",", dir_.Read("w.csv"));
    EXPECT_EQ("plain|a,b|q\"r||.", ReadFields(dir_, dir_.Read("w.csv")));
}

TEST_F(FileXTest, FindListsEveryEntryAndListFilesOnlyFiles) {
    dir_.Write("b.txt", "x");
    dir_.Write("a.txt", "x");
    std::filesystem::create_directory(dir_.path() + "/c");
    FileX_Find find;
    FileX_FindFirst(&find, dir_.inside().c_str());
    std::vector<std::string> names;
    while (!FileX_FindNext(&find)) names.push_back(find.data.name);
    EXPECT_TRUE(FileX_FindNext(&find));
    EXPECT_EQ(0, FileX_FindClose(&find));
    EXPECT_EQ((std::vector<std::string>{".", "..", "a.txt", "b.txt", "c"}), names);

    FileX_FindFirst(&find, In("none").c_str());
    EXPECT_EQ(-1, find.handle);
    EXPECT_TRUE(FileX_FindNext(&find));
    EXPECT_EQ(-1, FileX_FindClose(&find));

    char block[512];
    StrX_Mem pool;
    StrX_Mem_Init(&pool, block, sizeof block);
    EXPECT_EQ(2, FileX_ListFiles((dir_.inside() + "\\").c_str(), &pool));
    std::vector<std::string> listed;
    for (char* s = StrX_Mem_Next(&pool, nullptr); s; s = StrX_Mem_Next(&pool, s))
        listed.push_back(s);
    EXPECT_EQ((std::vector<std::string>{In("a.txt"), In("b.txt")}), listed);

    // A full pool raises and the listing is closed on the way out.
    for (const char* n : {"d.txt", "e.txt", "f.txt", "g.txt"}) dir_.Write(n, "x");
    char tiny[8];
    StrX_Mem_Init(&pool, tiny, sizeof tiny);
    EXPECT_EQ(3180, CaughtCode([&] { FileX_ListFiles(dir_.inside().c_str(), &pool); }));
}

TEST_F(FileXTest, HashAndCheckTime) {
    dir_.Write("h.bin", std::string("\x01\x01\x01\x01\x01\x01\x01\x01\xFF", 9));
    // 1<<0 + ... + 1<<6 = 127, byte 7 shifted 0 = 1, byte 8 (0xFF) shifted 1.
    EXPECT_EQ(127 + 1 + 0x1FE, FileX_GetHash(In("h.bin").c_str(), 100));
    EXPECT_EQ(1 + 2 + 4, FileX_GetHash(In("h.bin").c_str(), 3));
    EXPECT_EQ(363, CaughtCode([&] { FileX_GetHash(In("none").c_str(), 3); }));

    time_t last = 0;
    EXPECT_FALSE(FileX_CheckTime(In("h.bin").c_str(), &last));
    EXPECT_NE(0, last);
    EXPECT_TRUE(FileX_CheckTime(In("h.bin").c_str(), &last));
    EXPECT_FALSE(FileX_CheckTime(In("none").c_str(), &last));
    EXPECT_EQ(0, last);
}

TEST_F(FileXTest, MkDirsMakesEveryMissingFolder) {
    EXPECT_EQ(0, FileX_MkDirs(In("a\\b\\c").c_str(), false));
    EXPECT_TRUE(std::filesystem::is_directory(dir_.path() + "/a/b/c"));
    EXPECT_EQ(-1, FileX_MkDirs(In("a\\b\\c\\").c_str(), false));  // already there
    EXPECT_EQ(0, FileX_MkDirs(In("x\\y\\file.txt").c_str(), true));
    EXPECT_TRUE(std::filesystem::is_directory(dir_.path() + "/x/y"));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/x/y/file.txt"));
    EXPECT_EQ(0, FileX_MkDirs(In("\x95\x5C\\\x94\x5C").c_str(), false));
    EXPECT_TRUE(std::filesystem::is_directory(dir_.path() + "/" +
                                              reinterpret_cast<const char*>(u8"表/能")));
}

TEST_F(FileXTest, BackupPathAndPushPopDir) {
    char path[260] = "\\data\\site\\vark.kwf";
    EXPECT_STREQ("\\data\\site\\backup\\vark.kwf", FileX_BackupPath(path));

    dir_.Write("sub/file.txt", "x");
    char before[260];
    Fs_GetCwd(before, sizeof before);
    BigStack_Push(BigStack_Sys());
    char* saved = nullptr;
    FileX_PushDir(&saved, In("sub").c_str());
    ASSERT_NE(nullptr, saved);
    EXPECT_STREQ(before, saved);
    char now[260];
    Fs_GetCwd(now, sizeof now);
    std::string real = Fs_FromNative(std::filesystem::canonical(dir_.path()).string());
    EXPECT_EQ(real + "\\sub", now);
    char* saved2 = nullptr;
    FileX_PushDir(&saved2, In("file.txt").c_str());  // a file: its folder
    Fs_GetCwd(now, sizeof now);
    EXPECT_EQ(real, now);
    EXPECT_EQ(0, FileX_PopDir(&saved2));
    Fs_GetCwd(now, sizeof now);
    EXPECT_EQ(real + "\\sub", now);
    EXPECT_EQ(0, FileX_PopDir(&saved));
    Fs_GetCwd(now, sizeof now);
    EXPECT_STREQ(before, now);
    BigStack_Pop(BigStack_Sys());
}

TEST_F(FileXTest, DiskInfoFromTheFileSystem) {
    FileX_DiskInfo info;
    ASSERT_EQ(1, FileX_DiskInfo_Get(&info, dir_.inside().c_str()));
    EXPECT_GT(info.totalClusters, 0u);
    EXPECT_GT(FileX_DiskInfo_TotalBytes(&info), 0);
    EXPECT_LE(FileX_DiskInfo_FreeBytes(&info), FileX_DiskInfo_TotalBytes(&info));

    FileX_DiskInfo fixed = {8, 512, 10, 0x7FFFFFFF};
    EXPECT_EQ(40960, FileX_DiskInfo_FreeBytes(&fixed));
    EXPECT_EQ(INT32_MAX, FileX_DiskInfo_TotalBytes(&fixed));  // capped, no overflow
    dir_.Write("one", "x");
    dir_.Write("exact", std::string(4096, 'x'));
    dir_.Write("more", std::string(4097, 'x'));
    EXPECT_EQ(4096, FileX_DiskInfo_FileBytes(&fixed, In("one").c_str()));
    EXPECT_EQ(4096, FileX_DiskInfo_FileBytes(&fixed, In("exact").c_str()));
    EXPECT_EQ(8192, FileX_DiskInfo_FileBytes(&fixed, In("more").c_str()));
    EXPECT_EQ(0, FileX_DiskInfo_FileBytes(&fixed, In("none").c_str()));

    EXPECT_EQ(0, FileX_DiskInfo_Get(&info, In("none").c_str()));
    EXPECT_EQ(0u, info.sectorsPerCluster);
    EXPECT_EQ(0u, info.freeClusters);
    FileX_DiskInfo_Clear(&fixed);
    EXPECT_EQ(0, FileX_DiskInfo_TotalBytes(&fixed));
}

TEST_F(FileXTest, AppendAndCopyToStream) {
    dir_.Write("d.txt", "one\r\n");
    dir_.Write("s.txt", "two\r\nthree");
    FileX_AppendFile(In("d.txt").c_str(), In("s.txt").c_str());
    EXPECT_EQ("one\r\ntwo\r\nthree", dir_.Read("d.txt"));
    EXPECT_EQ(363, CaughtCode([&] { FileX_AppendFile(In("d.txt").c_str(), In("no").c_str()); }));
    EXPECT_EQ(363, CaughtCode([&] { FileX_AppendFile(In("no\\d").c_str(), In("s.txt").c_str()); }));

    FILE* out = Fs_Open(In("o.bin").c_str(), "wb");
    ASSERT_NE(nullptr, out);
    FileX_CopyToStream(out, In("s.txt").c_str(), 't');  // CR LF read as LF
    FileX_CopyToStream(out, In("s.txt").c_str(), 'b');
    fclose(out);
    EXPECT_EQ("two\nthreetwo\r\nthree", dir_.Read("o.bin"));
}

TEST_F(FileXTest, TempNameIsInTheTempFolder) {
    setenv("TMP", dir_.path().c_str(), 1);
    char buf[260];
    FileX_TempName("vk", buf);
    unsetenv("TMP");
    std::string want = dir_.inside() + "\\vk";
    EXPECT_EQ(want, std::string(buf).substr(0, want.size()));
}
