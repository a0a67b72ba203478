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
#include "support/names.h"
#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;

class FileXTest : public LibraryTest {
   protected:
    std::string In(const std::string& rel) const { return dir_.inside() + "\\" + rel; }
    bool Exists(const std::string& rel) const { return fs::exists(dir_.path() + "/" + rel); }
    void Files(std::initializer_list<std::pair<std::string, std::string>> files) {
        for (const auto& [rel, bytes] : files) dir_.Write(rel, bytes);
    }
    // Reads every field of a CSV text: "field|" per field, "$" after an LF,
    // "." at the end of the stream; checks the guard byte after the buffer.
    std::string ReadFields(const std::string& text, int size = 64) {
        dir_.Write("f.csv", text);
        FILE* f = Fs_Open(In("f.csv").c_str(), "rb");
        std::string out;
        char buf[128];
        for (int end = 0; end != EOF;) {
            memset(buf, '#', sizeof buf);
            end = FileX_ReadCsvField(f, buf, size);
            EXPECT_EQ('#', buf[size]) << text;
            out += std::string(buf) + "|" + (end == '\n' ? "$" : "");
        }
        fclose(f);
        return out + ".";
    }
    TempDir dir_;
};

struct Progress {
    std::vector<long> done;
    long total = -99;
    static void Call(void* user, long done, long total) {
        static_cast<Progress*>(user)->done.push_back(done);
        static_cast<Progress*>(user)->total = total;
    }
};

TEST_F(FileXTest, OpenReportsWhyItCannotWithThePath) {
    // Rows: path, mode, the code, the text after the path.
    const std::tuple<const char*, const char*, int, const char8_t*> cases[] = {
        {"missing.txt", "rt", 363, u8"\" が見つかりません"},
        {"no\\x.txt", "wt", 362, u8"\" が書きこめません"},
        {"no\\log.txt", "ab+", 363, u8"\" が見つかりません"}};  // no 'w': the read report
    for (const auto& [rel, mode, code, why] : cases) {
        const std::string path = In(rel);
        EXPECT_EQ(CodeName(code), CodeName(CaughtCode([&] { FileX_Open(path.c_str(), mode); })))
            << rel;
        EXPECT_NE(std::string::npos, LastText().find(Sjis(u8"ファイル \"") + path + Sjis(why)))
            << Utf8(LastText());
    }
}

TEST_F(FileXTest, IsDirForms) {
    Files({{"file.txt", "x"}, {U8(u8"表/x"), "x"}});
    // Only one trailing backslash is dropped; "\\" is the root folder; 表 ends
    // in a 0x5C trail byte, which is not a separator.
    for (const std::string& p : {std::string("C:"), std::string("C:\\"), std::string("C:/"),
                                 std::string("\\"), dir_.inside(), dir_.inside() + "\\",
                                 dir_.inside() + "/", In("\x95\x5C"), In("\x95\x5C") + "\\"})
        EXPECT_TRUE(FileX_IsDir(p.c_str())) << Utf8(p);
    for (const std::string& p : {std::string("C:\\\\"), std::string("C:x"), std::string(),
                                 In("file.txt"), In("missing"), "\\" + std::string(300, 'a')})
        EXPECT_FALSE(FileX_IsDir(p.c_str())) << Utf8(p);
}

TEST_F(FileXTest, NumberedNameTakesTheFirstFreeNumber) {
    Files({{"x1", ""}, {"x2", ""}, {"x4", ""}, {"page.htm", ""}});
    // Rows: base, path, the number, the name.
    const std::tuple<std::string, std::string, int, std::string> cases[] = {
        {"x", dir_.inside(), 3, In("x3")},
        {"x", dir_.inside() + "\\", 3, In("x3")},  // no doubled backslash
        {"x", In("page.htm"), 3, In("x3")},        // a file: its folder
        {"y", In("missing.htm"), 1, In("y1")}};
    char buf[260];
    for (const auto& [base, path, n, name] : cases) {
        EXPECT_EQ(n, FileX_NumberedName(base.c_str(), path.c_str(), buf)) << path;
        EXPECT_EQ(name, buf) << path;
    }
    // A name that cannot fit raises instead of counting for ever.
    EXPECT_EQ(Errors_Unofficial.code,
              CaughtCode([&] { FileX_NumberedName(std::string(300, 'b').c_str(), "\\", buf); }));
}

TEST_F(FileXTest, CompareTellsMissingDifferentAndEqual) {
    const std::string block(256, 'a');  // "prefix" ends on a block boundary
    Files({{"a", block + "t"}, {"same", block + "t"}, {"other", block + "u"}, {"prefix", block}});
    // Rows: the two files, the result.
    const std::tuple<const char*, const char*, int> cases[] = {
        {"none1", "none2", -3}, {"none1", "a", -1}, {"a", "none2", -2}, {"a", "same", 0},
        {"a", "other", 1},      {"a", "prefix", 1}, {"prefix", "a", 1}};
    for (const auto& [p1, p2, want] : cases)
        EXPECT_EQ(want, FileX_Compare(In(p1).c_str(), In(p2).c_str())) << p1 << " " << p2;
}

TEST_F(FileXTest, CopyCopiesWithProgressAndMakesFolders) {
    std::string data;
    for (int i = 0; i < 2500; i++) data += static_cast<char>('a' + i % 26);
    dir_.Write("src.bin", data);
    const std::string src = In("src.bin");
    Progress p, q;
    EXPECT_EQ(2500,
              FileX_Copy(In("new\\deep\\dst.bin").c_str(), src.c_str(), 0, -1, Progress::Call, &p));
    EXPECT_EQ(data, dir_.Read("new/deep/dst.bin"));
    EXPECT_EQ((std::vector<long>{0, 1024, 2048, 2500}), p.done);
    EXPECT_EQ(2500, p.total);
    // From an offset up to an end: total = max(size, end) - offset.
    EXPECT_EQ(1100, FileX_Copy(In("part.bin").c_str(), src.c_str(), 100, 1200, Progress::Call, &q));
    EXPECT_EQ(data.substr(100, 1100), dir_.Read("part.bin"));
    EXPECT_EQ((std::vector<long>{0, 1024, 1100}), q.done);
    EXPECT_EQ(2400, q.total);
    EXPECT_EQ(2500, FileX_Copy(In("fit.bin").c_str(), src.c_str(), 0, -2, nullptr, nullptr));

    // A missing source leaves the destination as it was.
    EXPECT_EQ(FileX_Err_CannotReadOpen.code, CaughtCode([&] {
                  FileX_Copy(In("fit.bin").c_str(), In("none").c_str(), 0, -1, nullptr, nullptr);
              }));
    EXPECT_EQ(data, dir_.Read("fit.bin"));
    EXPECT_EQ(FileX_Err_CannotWriteOpen.code, CaughtCode([&] {
                  FileX_Copy(In("new").c_str(), src.c_str(), 0, -1, nullptr, nullptr);
              }));
    EXPECT_NE(std::string::npos, LastText().find(In("new"))) << Utf8(LastText());
}

TEST_F(FileXTest, CopyFailingWriteRemovesTheDestination) {
    dir_.Write("src.bin", std::string(20000, 'z'));
    // Files of this process may grow to 5000 bytes: the copy's writes fail.
    struct rlimit old;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    const struct rlimit small = {5000, old.rlim_max};
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    Progress p;
    const std::string dst = In("dst.bin");
    int code = CaughtCode(
        [&] { FileX_Copy(dst.c_str(), In("src.bin").c_str(), 0, -1, Progress::Call, &p); });
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(FileX_Err_CannotWrite.code, code);
    EXPECT_NE(std::string::npos, LastText().find(dst + Sjis(u8" の書きこみに失敗しました。")))
        << Utf8(LastText());
    EXPECT_FALSE(Exists("dst.bin"));
    EXPECT_FALSE(p.done.empty());
}

TEST_F(FileXTest, RemoveTreeRemovesEverythingBelowAndNeverFollowsLinks) {
    TempDir outside;
    outside.Write("keep/inner.txt", "k");
    outside.Write("keep.txt", "k");
    ASSERT_EQ(0, chmod((outside.path() + "/keep.txt").c_str(), 0444));
    Files({{"t/a.txt", "a"}, {"t/sub/deeper/c.txt", "c"}, {"t/sub/b.txt", "b"}, {"u/x", "x"}});
    fs::create_directories(dir_.path() + "/t/empty");
    ASSERT_EQ(0, chmod((dir_.path() + "/t/sub/b.txt").c_str(), 0444));
    fs::create_directory_symlink(outside.path() + "/keep", dir_.path() + "/t/dlink");
    fs::create_symlink(outside.path() + "/keep.txt", dir_.path() + "/t/flink");
    fs::create_directory_symlink(outside.path(), dir_.path() + "/link");

    EXPECT_EQ(0, FileX_RemoveTree(In("t").c_str()));
    EXPECT_FALSE(Exists("t"));
    EXPECT_EQ("k", outside.Read("keep/inner.txt"));
    struct stat sb;
    ASSERT_EQ(0, stat((outside.path() + "/keep.txt").c_str(), &sb));
    EXPECT_EQ(0444u, sb.st_mode & 0777);
    EXPECT_EQ(-1, FileX_RemoveTree(In("t").c_str()));  // gone
    EXPECT_EQ(0, FileX_RemoveTree((In("u") + "\\").c_str()));
    EXPECT_FALSE(Exists("u"));
    // A linked folder is not gone through.
    EXPECT_EQ(-1, FileX_RemoveTree((In("link") + "\\").c_str()));
    EXPECT_EQ("k", outside.Read("keep.txt"));
}

TEST_F(FileXTest, RemoveTreeRefusesTheSystemAndHomeFolders) {
    char buf[260];
    ASSERT_TRUE(Fs_HomeDir(buf, sizeof buf));
    const std::string home = buf;
    fs::create_directory_symlink(Fs_ToNative(home), dir_.path() + "/h");
    const std::string cases[] = {
        "\\",    "\\\\",   "C:\\", "/usr/",     "\\ETC", "\\var\\", "\\usr\\..\\",
        "\\tmp", "\\home", home,   home + "\\", "",      In("h"),
    };
    for (const std::string& c : cases) {
        // Never call the removal unless the refusal is certain.
        ASSERT_TRUE(FileX_IsProtectedFolder(c.c_str())) << Utf8(c);
        EXPECT_EQ(Errors_Unofficial.code, CaughtCode([&] { FileX_RemoveTree(c.c_str()); }))
            << Utf8(c);
    }
    EXPECT_FALSE(FileX_IsProtectedFolder(dir_.inside().c_str()));
    EXPECT_FALSE(FileX_IsProtectedFolder((home + "\\pages").c_str()));
}

TEST_F(FileXTest, CsvFieldsReadQuotedAndPlain) {
    const std::pair<std::string, std::string> cases[] = {{"", "|."},
                                                         {"a,b\nc", "a|b|$c|."},
                                                         {"a,,\n", "a|||$|."},
                                                         {"\"d,e\",f", "d,e|f|."},
                                                         {"\"f\"\"g\",x", "f\"g|x|."},
                                                         {"\"q\"junk,next", "q|next|."},
                                                         {"\"open", "open|."},
                                                         {"\"line\nbreak\"\n", "line\nbreak|$|."}};
    for (const auto& [text, want] : cases) EXPECT_EQ(want, ReadFields(text)) << text;
    // Cut to size - 1 bytes; the rest is read and dropped.
    EXPECT_EQ("abc|de|.", ReadFields("abcdef,de", 4));
    EXPECT_EQ("abc|x|.", ReadFields("\"abcdef\",x", 4));
    EXPECT_EQ("||.", ReadFields("abc,x", 1));  // room for the NUL only

    FILE* f = Fs_Open(In("f.csv").c_str(), "rb");  // "abc,x"
    EXPECT_EQ(',', FileX_SkipCsvField(f));
    fclose(f);
    f = Fs_Open(In("w.csv").c_str(), "wb");
    std::vector<int> sizes;
    for (const char* t : {"plain", "a,b", "q\"r", ""}) sizes.push_back(FileX_WriteCsvField(f, t));
    fclose(f);
    EXPECT_EQ((std::vector<int>{5, 5, 6, 0}), sizes);
    EXPECT_EQ("plain\"a,b\"\"q\"\"r\"", dir_.Read("w.csv"));
}

TEST_F(FileXTest, FindListsEveryEntryAndListFilesOnlyFiles) {
    Files({{"b.txt", "x"}, {"a.txt", "x"}, {"c/d.txt", "x"}});
    FileX_Find find;
    std::vector<std::string> names;
    FileX_FindFirst(&find, dir_.inside().c_str());
    while (!FileX_FindNext(&find)) names.push_back(find.data.name);
    EXPECT_EQ(0, FileX_FindClose(&find));
    EXPECT_EQ((std::vector<std::string>{".", "..", "a.txt", "b.txt", "c"}), names);
    char block[512], tiny[8];
    StrX_Mem pool;
    StrX_Mem_Init(&pool, block, sizeof block);
    EXPECT_EQ(2, FileX_ListFiles((dir_.inside() + "\\").c_str(), &pool));
    EXPECT_EQ(In("b.txt"), StrX_Mem_Next(&pool, StrX_Mem_Next(&pool, nullptr)));
    // A full pool raises and the listing is closed on the way out.
    Files({{"d.txt", "x"}, {"e.txt", "x"}, {"f.txt", "x"}, {"g.txt", "x"}});
    StrX_Mem_Init(&pool, tiny, sizeof tiny);
    EXPECT_EQ(StrX_Err_MemEmpty.code,
              CaughtCode([&] { FileX_ListFiles(dir_.inside().c_str(), &pool); }));
}

TEST_F(FileXTest, FurtherOperationsEachOnce) {
    Files({{"h.bin", std::string("\x01\x01\x01\x01\x01\x01\x01\x01\xFF", 9)},
           {"d.txt", "one\r\n"},
           {"s.txt", "2\r\n3"},
           {"sub/more", std::string(4097, 'x')}});
    // Byte n is shifted n % 7 bits: 127 from bytes 0..6, then 1, then 0xFF << 1.
    EXPECT_EQ(127 + 1 + 0x1FE, FileX_GetHash(In("h.bin").c_str(), 100));
    EXPECT_EQ(9, FileX_GetSize(In("h.bin").c_str()));
    EXPECT_EQ(Errors_Unofficial.code, CaughtCode([&] { FileX_GetSize(In("none").c_str()); }));
    time_t last = 0;
    EXPECT_FALSE(FileX_CheckTime(In("h.bin").c_str(), &last));
    EXPECT_TRUE(FileX_CheckTime(In("h.bin").c_str(), &last));

    EXPECT_EQ(0, FileX_MkDirs(In("\x95\x5C\\\x94\x5C\\file.txt").c_str(), true));
    EXPECT_TRUE(fs::is_directory(dir_.path() + "/" + U8(u8"表/能")));
    EXPECT_FALSE(Exists(U8(u8"表/能/file.txt")));
    char path[260] = "\\data\\site\\vark.kwf";
    EXPECT_STREQ("\\data\\site\\backup\\vark.kwf", FileX_BackupPath(path));

    FileX_AppendFile(In("d.txt").c_str(), In("s.txt").c_str());
    EXPECT_EQ("one\r\n2\r\n3", dir_.Read("d.txt"));
    EXPECT_EQ(FileX_Err_CannotReadOpen.code,
              CaughtCode([&] { FileX_AppendFile(In("d.txt").c_str(), In("no").c_str()); }));
    FILE* out = Fs_Open(In("o.bin").c_str(), "wb");
    FileX_CopyToStream(out, In("s.txt").c_str(), 't');  // CR LF read as LF
    fclose(out);
    EXPECT_EQ("2\n3", dir_.Read("o.bin"));

    char before[260], now[260];
    Fs_GetCwd(before, sizeof before);
    BigStack_Push(BigStack_Sys());
    char* saved = nullptr;
    FileX_PushDir(&saved, In("sub\\more").c_str());  // a file: its folder
    Fs_GetCwd(now, sizeof now);
    EXPECT_EQ(Fs_FromNative(fs::canonical(dir_.path()).string()) + "\\sub", now);
    EXPECT_EQ(0, FileX_PopDir(&saved));
    Fs_GetCwd(now, sizeof now);
    EXPECT_STREQ(before, now);
    BigStack_Pop(BigStack_Sys());

    FileX_DiskInfo info = {1, 1, 1, 1}, fixed = {8, 512, 10, 0x7FFFFFFF};
    EXPECT_EQ(0, FileX_DiskInfo_Get(&info, In("none").c_str()));
    EXPECT_EQ(0u, info.sectorsPerCluster | info.bytesPerSector);
    EXPECT_EQ(40960, FileX_DiskInfo_FreeBytes(&fixed));
    EXPECT_EQ(INT32_MAX, FileX_DiskInfo_TotalBytes(&fixed));  // capped, no overflow
    EXPECT_EQ(8192, FileX_DiskInfo_FileBytes(&fixed, In("sub\\more").c_str()));
}

}  // namespace
