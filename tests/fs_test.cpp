#include "platform/fs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace {

// Every entry of an inside folder, as "name" or "name/" for a folder, in
// listing order, "." and ".." left out.
std::vector<std::string> List(const std::string& insideFolder, const char* pat = "*.*") {
    std::vector<std::string> out;
    Fs_FindData fd;
    std::string pattern = insideFolder + "\\" + pat;
    intptr_t h = Fs_FindFirst(pattern.c_str(), &fd);
    if (h == -1) return out;
    do {
        if (strcmp(fd.name, ".") == 0 || strcmp(fd.name, "..") == 0) continue;
        out.push_back(std::string(fd.name) + ((fd.attrib & Fs_Attr_SubDir) ? "/" : ""));
    } while (Fs_FindNext(h, &fd) == 0);
    EXPECT_EQ(0, Fs_FindClose(h));
    return out;
}

// Finds one entry by inside name; false when the listing does not hold it.
bool Find(const std::string& insideFolder, const std::string& name, Fs_FindData* out) {
    Fs_FindData fd;
    intptr_t h = Fs_FindFirst((insideFolder + "\\*").c_str(), &fd);
    bool found = false;
    if (h == -1) return false;
    do {
        if (name == fd.name) {
            *out = fd;
            found = true;
        }
    } while (Fs_FindNext(h, &fd) == 0);
    Fs_FindClose(h);
    return found;
}

// Restores the current folder at the end of a test.
struct CwdKeeper {
    char saved[4096];
    CwdKeeper() { Fs_GetCwd(saved, sizeof saved); }
    ~CwdKeeper() { Fs_SetCwd(saved); }
};

}  // namespace

TEST(FsTest, NamesRoundTripBetweenNativeAndInside) {
    struct Case {
        const char8_t* native;
        const char* inside;
    };
    const Case cases[] = {
        {u8"/home/u/pages", "\\home\\u\\pages"},
        {u8"relative/a.htm", "relative\\a.htm"},
        {u8"/表示/ソフト.htm", "\\\x95\x5C\x8E\xA6\\\x83\x5C\x83\x74\x83\x67.htm"},
        {u8"/日本語フォルダ/ｶﾅ", nullptr},
        {u8"", ""},
    };
    for (const Case& c : cases) {
        std::string native = U8(c.native);
        bool exact = false;
        std::string inside = Fs_FromNative(native, &exact);
        EXPECT_TRUE(exact) << native;
        if (c.inside) {
            EXPECT_EQ(c.inside, inside) << native;
        }
        EXPECT_EQ(native, Fs_ToNative(inside)) << native;
    }
    // A 0x5C trail byte never becomes a separator.
    EXPECT_EQ(U8(u8"表/能"), Fs_ToNative("\x95\x5C\\\x94\x5C"));
    // '/' inside is a separator as well.
    EXPECT_EQ("a/b", Fs_ToNative("a/b"));
}

TEST(FsTest, NamesWithoutAnInsideFormAreNotExact) {
    const char8_t* cases[] = {
        u8"/x/\U0001F600.htm",  // no CP932 form
        u8"/x/한국.htm",        // no CP932 form
        u8"/x/a\\b.htm",        // a backslash in a name
        u8"/x/a\u301Cb.htm",    // WAVE DASH: its CP932 code comes back as another character
    };
    for (const char8_t* c : cases) {
        bool exact = true;
        Fs_FromNative(U8(c), &exact);
        EXPECT_FALSE(exact) << U8(c);
    }
}

TEST(FsTest, ListingSortsByNameWithoutCase) {
    TempDir dir;
    for (const char* n : {"b.htm", "A.htm", "c.HTM", "_x", "B2", "0", "a.htm"}) dir.Write(n, "x");
    std::filesystem::create_directory(dir.path() + "/Sub");
    dir.Write(U8(u8"表.htm"), "x");
    dir.Write(U8(u8"あ"), "x");
    std::vector<std::string> want = {"0",     "A.htm", "a.htm", "b.htm",    "B2",
                                     "c.HTM", "Sub/",  "_x",    "\x82\xA0", "\x95\x5C.htm"};
    EXPECT_EQ(want, List(dir.inside()));
}

TEST(FsTest, CompareNamesFoldsAsciiOnly) {
    EXPECT_LT(Fs_CompareNames("abc", "ABD"), 0);
    EXPECT_GT(Fs_CompareNames("abd", "ABC"), 0);
    EXPECT_LT(Fs_CompareNames("ab", "abc"), 0);
    EXPECT_LT(Fs_CompareNames("Z", "_"), 0);  // 'Z' 0x5A < '_' 0x5F; 'z' folds to 'Z'
    EXPECT_LT(Fs_CompareNames("z", "_"), 0);
    // Equal without case: raw bytes decide, so the order is total.
    EXPECT_LT(Fs_CompareNames("A", "a"), 0);
    EXPECT_EQ(Fs_CompareNames("a", "a"), 0);
    // A trail byte that looks like a letter is not folded: 0x82 0x61 vs 0x82 0x81.
    EXPECT_LT(Fs_CompareNames("\x82\x61", "\x82\x81"), 0);
    EXPECT_NE(Fs_CompareNames("\x82\x61", "\x82\x41"), 0);
}

TEST(FsTest, ListingLeavesOutNamesThatCannotBeNamedInside) {
    TempDir dir;
    dir.Write("ok.htm", "x");
    dir.Write(U8(u8"\U0001F600.htm"), "x");
    dir.Write("back\\slash.htm", "x");
    dir.Write(U8(u8"a\u301Cb.htm"), "x");
    std::filesystem::create_directory(dir.path() + "/" + U8(u8"한"));
    EXPECT_EQ(std::vector<std::string>{"ok.htm"}, List(dir.inside()));
}

TEST(FsTest, ListingGivesDotsFirstThenEntries) {
    TempDir dir;
    dir.Write("!first", "x");  // '!' sorts before '.'
    Fs_FindData fd;
    intptr_t h = Fs_FindFirst((dir.inside() + "\\*.*").c_str(), &fd);
    ASSERT_NE(-1, h);
    EXPECT_STREQ(".", fd.name);
    EXPECT_TRUE(fd.attrib & Fs_Attr_SubDir);
    ASSERT_EQ(0, Fs_FindNext(h, &fd));
    EXPECT_STREQ("..", fd.name);
    ASSERT_EQ(0, Fs_FindNext(h, &fd));
    EXPECT_STREQ("!first", fd.name);
    EXPECT_EQ(-1, Fs_FindNext(h, &fd));
    EXPECT_EQ(-1, Fs_FindNext(h, &fd));  // stays at the end
    EXPECT_EQ(0, Fs_FindClose(h));
    EXPECT_EQ(-1, Fs_FindClose(-1));
}

TEST(FsTest, ListingOfMissingFolderFails) {
    TempDir dir;
    Fs_FindData fd;
    EXPECT_EQ(-1, Fs_FindFirst((dir.inside() + "\\none\\*.*").c_str(), &fd));
    dir.Write("file", "x");
    EXPECT_EQ(-1, Fs_FindFirst((dir.inside() + "\\file\\*.*").c_str(), &fd));
}

TEST(FsTest, ListingMatchesWildcardsWithoutCase) {
    TempDir dir;
    for (const char* n : {"a.htm", "B.HTM", "c.html", "d.txt", "noext", "e.htm.bak"})
        dir.Write(n, "x");
    struct Case {
        const char* pattern;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"*.htm", {"a.htm", "B.HTM"}},
        {"*.htm*", {"a.htm", "B.HTM", "c.html", "e.htm.bak"}},
        {"?.txt", {"d.txt"}},
        {"noext.*", {"noext"}},
        {"*", {"a.htm", "B.HTM", "c.html", "d.txt", "e.htm.bak", "noext"}},
        {"zz*", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, List(dir.inside(), c.pattern)) << c.pattern;
}

TEST(FsTest, ListingEntriesCarryAttributesSizeAndTime) {
    TempDir dir;
    dir.Write("data.bin", std::string(1234, 'x'));
    dir.Write("ro.txt", "abc");
    dir.Write(".hidden", "");
    ASSERT_EQ(0, chmod((dir.path() + "/ro.txt").c_str(), 0444));
    std::filesystem::create_directory(dir.path() + "/folder");

    Fs_FindData fd;
    ASSERT_TRUE(Find(dir.inside(), "data.bin", &fd));
    EXPECT_EQ(1234, fd.size);
    EXPECT_EQ(0u, fd.attrib);
    struct stat sb;
    ASSERT_EQ(0, stat((dir.path() + "/data.bin").c_str(), &sb));
    EXPECT_EQ(static_cast<int64_t>(sb.st_mtime), fd.timeWrite);

    ASSERT_TRUE(Find(dir.inside(), "ro.txt", &fd));
    EXPECT_EQ(Fs_Attr_ReadOnly, fd.attrib);
    ASSERT_TRUE(Find(dir.inside(), "folder", &fd));
    EXPECT_EQ(Fs_Attr_SubDir, fd.attrib);
    EXPECT_EQ(0, fd.size);
    ASSERT_TRUE(Find(dir.inside(), ".hidden", &fd));
    EXPECT_EQ(Fs_Attr_Hidden, fd.attrib);
}

TEST(FsTest, SymlinkToFolderIsNotAFolder) {
    TempDir dir;
    dir.Write("real/inner.htm", "x");
    dir.Write("file.htm", "12345");
    ASSERT_EQ(0, symlink("real", (dir.path() + "/link").c_str()));
    ASSERT_EQ(0, symlink(".", (dir.path() + "/loop").c_str()));
    ASSERT_EQ(0, symlink("file.htm", (dir.path() + "/flink.htm").c_str()));
    ASSERT_EQ(0, symlink("missing", (dir.path() + "/broken").c_str()));
    std::vector<std::string> want = {"broken", "file.htm", "flink.htm", "link", "loop", "real/"};
    EXPECT_EQ(want, List(dir.inside()));

    Fs_FindData fd;
    ASSERT_TRUE(Find(dir.inside(), "flink.htm", &fd));
    EXPECT_EQ(5, fd.size);  // a link to a file reads like the file
    ASSERT_TRUE(Find(dir.inside(), "link", &fd));
    EXPECT_EQ(0u, fd.attrib & Fs_Attr_SubDir);
    EXPECT_EQ(0, fd.size);

    // The link cannot be removed as a folder.
    EXPECT_EQ(-1, Fs_RmDir((dir.inside() + "\\link").c_str()));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/real/inner.htm"));
}

TEST(FsTest, TextModeWritesCrLf) {
    TempDir dir;
    std::string path = dir.inside() + "\\t.txt";
    FILE* f = Fs_Open(path.c_str(), "wt");
    ASSERT_NE(nullptr, f);
    fputs("a\nb\n\nc", f);
    fclose(f);
    EXPECT_EQ("a\r\nb\r\n\r\nc", dir.Read("t.txt"));

    f = Fs_Open(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fputs("a\nb", f);
    fclose(f);
    EXPECT_EQ("a\nb", dir.Read("t.txt"));
}

TEST(FsTest, TextModeReadsCrLfAndLf) {
    TempDir dir;
    // A CR LF pair, a bare LF, a lone CR, a CR LF at the end.
    dir.Write("r.txt", "one\r\ntwo\nthree\rx\r\n");
    FILE* f = Fs_Open((dir.inside() + "\\r.txt").c_str(), "rt");
    ASSERT_NE(nullptr, f);
    std::string got;
    int c;
    while ((c = fgetc(f)) != EOF) got += static_cast<char>(c);
    fclose(f);
    EXPECT_EQ("one\ntwo\nthree\rx\n", got);

    // A CR LF across the stream's internal buffer boundary still reads as LF.
    std::string big(8191, 'a');
    big += "\r\nz";
    dir.Write("big.txt", big);
    f = Fs_Open((dir.inside() + "\\big.txt").c_str(), "r");
    ASSERT_NE(nullptr, f);
    got.clear();
    while ((c = fgetc(f)) != EOF) got += static_cast<char>(c);
    fclose(f);
    EXPECT_EQ(std::string(8191, 'a') + "\nz", got);
}

TEST(FsTest, OpenFailsForMissingFileOrFolder) {
    TempDir dir;
    EXPECT_EQ(nullptr, Fs_Open((dir.inside() + "\\none.txt").c_str(), "rt"));
    EXPECT_EQ(nullptr, Fs_Open((dir.inside() + "\\no\\x.txt").c_str(), "wt"));
    EXPECT_EQ(nullptr, Fs_Open("", "rt"));
}

TEST(FsTest, CwdComesBackInInsideFormAndIsCut) {
    TempDir dir;
    CwdKeeper keep;
    std::string sub = dir.inside() + "\\" + Sjis(u8"表示");
    ASSERT_EQ(0, Fs_MkDir(sub.c_str()));
    ASSERT_TRUE(Fs_SetCwd(sub.c_str()));
    char buf[4096];
    Fs_GetCwd(buf, sizeof buf);
    // TMPDIR may itself hold a link: compare with the resolved form.
    std::string real =
        Fs_FromNative(std::filesystem::canonical(dir.path()).string()) + "\\" + Sjis(u8"表示");
    EXPECT_EQ(real, buf);

    // Cut: size - 1 bytes at most, never half a double-byte character.
    const size_t n = real.size();
    struct Case {
        size_t size;
        std::string want;
    };
    const Case cases[] = {
        {n + 1, real},
        {n, real.substr(0, n - 2)},  // the last character is double-byte
        {n - 1, real.substr(0, n - 2)},
        {n - 2, real.substr(0, n - 4)},
        {1, ""},
    };
    for (const Case& c : cases) {
        char out[4200];
        memset(out, '#', sizeof out);
        Fs_GetCwd(out, c.size);
        EXPECT_EQ(c.want, out) << c.size;
        EXPECT_EQ('#', out[c.size]) << c.size;  // guard byte after the buffer
    }
    char none[1] = {'#'};
    Fs_GetCwd(none, 0);
    EXPECT_EQ('#', none[0]);

    EXPECT_FALSE(Fs_SetCwd((dir.inside() + "\\missing").c_str()));
}

TEST(FsTest, ExePathNamesThisProgram) {
    char buf[4096];
    Fs_GetExePath(buf, sizeof buf);
    std::string path = buf;
    ASSERT_GT(path.size(), 8u);
    EXPECT_EQ('\\', path[0]);
    EXPECT_EQ("\\fs_test", path.substr(path.size() - 8));
    char small[5];
    memset(small, '#', sizeof small);
    Fs_GetExePath(small, 4);
    EXPECT_EQ(path.substr(0, 3), small);
    EXPECT_EQ('#', small[4]);
}

TEST(FsTest, StatAccessAndFolders) {
    TempDir dir;
    dir.Write("f.txt", "hello");
    std::string f = dir.inside() + "\\f.txt";
    Fs_StatData st;
    ASSERT_TRUE(Fs_Stat(f.c_str(), &st));
    EXPECT_EQ(5, st.size);
    EXPECT_FALSE(st.isDir);
    EXPECT_FALSE(st.readOnly);
    ASSERT_TRUE(Fs_Stat(dir.inside().c_str(), &st));
    EXPECT_TRUE(st.isDir);
    EXPECT_FALSE(Fs_Stat((dir.inside() + "\\none").c_str(), &st));
    EXPECT_EQ(0, st.size);

    EXPECT_EQ(0, Fs_Access(f.c_str(), Fs_Access_Exist));
    EXPECT_EQ(0, Fs_Access(f.c_str(), Fs_Access_ReadWrite));
    EXPECT_EQ(-1, Fs_Access((dir.inside() + "\\none").c_str(), Fs_Access_Exist));

    ASSERT_EQ(0, Fs_Chmod(f.c_str(), 0444));
    ASSERT_TRUE(Fs_Stat(f.c_str(), &st));
    EXPECT_TRUE(st.readOnly);
    if (geteuid() != 0) {
        EXPECT_EQ(-1, Fs_Access(f.c_str(), Fs_Access_Write));
    }
    ASSERT_EQ(0, Fs_Chmod(f.c_str(), 0600));

    std::string sub = dir.inside() + "\\sub";
    EXPECT_EQ(0, Fs_MkDir(sub.c_str()));
    EXPECT_EQ(-1, Fs_MkDir(sub.c_str()));  // exists
    EXPECT_EQ(0, Fs_Rename(f.c_str(), (sub + "\\g.txt").c_str()));
    EXPECT_EQ("hello", dir.Read("sub/g.txt"));
    EXPECT_EQ(-1, Fs_RmDir(sub.c_str()));   // not empty
    EXPECT_EQ(-1, Fs_Remove(sub.c_str()));  // a folder is not a file
    EXPECT_EQ(0, Fs_Remove((sub + "\\g.txt").c_str()));
    EXPECT_EQ(0, Fs_RmDir(sub.c_str()));
    EXPECT_EQ(-1, Fs_Access(sub.c_str(), Fs_Access_Exist));
}

TEST(FsTest, TempNameIsFreshAndCut) {
    TempDir dir;
    setenv("TMP", dir.path().c_str(), 1);
    char a[300], b[300];
    ASSERT_TRUE(Fs_TempName("\\", "tsy", a, sizeof a));
    ASSERT_TRUE(Fs_TempName("\\", "tsy", b, sizeof b));
    unsetenv("TMP");
    std::string prefix = dir.inside() + "\\tsy";
    EXPECT_EQ(prefix, std::string(a).substr(0, prefix.size()));
    EXPECT_EQ(prefix.size() + 6, strlen(a));
    EXPECT_STRNE(a, b);
    EXPECT_EQ(-1, Fs_Access(a, Fs_Access_Exist));  // named, not made
    char small[8];
    memset(small, '#', sizeof small);
    EXPECT_FALSE(Fs_TempName(dir.inside().c_str(), "tsy", small, 4));
    EXPECT_STREQ("", small);
    EXPECT_EQ('#', small[4]);
}

TEST(FsTest, HomeDirIsInsideForm) {
    char buf[4096];
    ASSERT_TRUE(Fs_HomeDir(buf, sizeof buf));
    std::string home = buf;
    EXPECT_EQ('\\', home[0]);
    Fs_StatData st;
    EXPECT_TRUE(Fs_Stat(home.c_str(), &st) && st.isDir) << Utf8(home);
}

TEST(FsTest, DiskGeometryUsesTheBlockAsCluster) {
    TempDir dir;
    Fs_DiskGeometry g;
    ASSERT_TRUE(Fs_GetDiskGeometry(dir.inside().c_str(), &g));
    EXPECT_GT(g.sectorsPerCluster, 0u);
    EXPECT_GT(g.bytesPerSector, 0u);
    EXPECT_GT(g.totalClusters, 0u);
    EXPECT_LE(g.freeClusters, g.totalClusters);
    EXPECT_FALSE(Fs_GetDiskGeometry((dir.inside() + "\\none").c_str(), &g));
    EXPECT_EQ(0u, g.sectorsPerCluster);
    EXPECT_EQ(0u, g.totalClusters);
}

TEST(FsTest, RealPathResolvesLinksAndDots) {
    TempDir dir;
    dir.Write("real/f", "x");
    ASSERT_EQ(0, symlink("real", (dir.path() + "/link").c_str()));
    std::string real = Fs_FromNative(std::filesystem::canonical(dir.path()).string()) + "\\real";
    char out[4096];
    ASSERT_TRUE(Fs_RealPath((dir.inside() + "\\link\\..\\link\\.").c_str(), out, sizeof out));
    EXPECT_EQ(real, out);
    EXPECT_TRUE(Fs_IsLink((dir.inside() + "\\link").c_str()));
    EXPECT_FALSE(Fs_IsLink((dir.inside() + "\\real").c_str()));
    EXPECT_FALSE(Fs_IsLink((dir.inside() + "\\none").c_str()));
    EXPECT_FALSE(Fs_RealPath((dir.inside() + "\\none").c_str(), out, sizeof out));
    EXPECT_STREQ("", out);
    char small[8];
    memset(small, '#', sizeof small);
    EXPECT_FALSE(Fs_RealPath((dir.inside() + "\\link").c_str(), small, 4));  // does not fit
    EXPECT_STREQ("", small);
    EXPECT_EQ('#', small[4]);
}
