#include "platform/fs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// The entries of an inside folder matching pat, as "name" or "name/" for a
// folder, in listing order, "." and ".." left out.
Names List(const std::string& insideFolder, const char* pat = "*.*") {
    Names out;
    Fs_FindData fd;
    intptr_t h = Fs_FindFirst((insideFolder + "\\" + pat).c_str(), &fd);
    if (h == -1) return out;
    do {
        if (strcmp(fd.name, ".") != 0 && strcmp(fd.name, "..") != 0)
            out.push_back(std::string(fd.name) + ((fd.attrib & Fs_Attr_SubDir) ? "/" : ""));
    } while (Fs_FindNext(h, &fd) == 0);
    EXPECT_EQ(0, Fs_FindClose(h));
    return out;
}

// The listing entry of one inside name; a name "(none)" when it is not listed.
Fs_FindData Find(const std::string& insideFolder, const std::string& name) {
    Fs_FindData fd, found = {};
    strcpy(found.name, "(none)");
    intptr_t h = Fs_FindFirst((insideFolder + "\\*").c_str(), &fd);
    if (h == -1) return found;
    do {
        if (name == fd.name) found = fd;
    } while (Fs_FindNext(h, &fd) == 0);
    Fs_FindClose(h);
    return found;
}

// Reads a whole stream byte by byte.
std::string ReadAll(FILE* f) {
    std::string got;
    for (int c; (c = fgetc(f)) != EOF;) got += static_cast<char>(c);
    return got;
}

// The inside form of a folder with its links resolved (TMPDIR may hold one).
std::string Real(const TempDir& dir) {
    return Fs_FromNative(fs::canonical(dir.path()).string());
}

TEST(FsTest, NamesRoundTripBetweenNativeAndInside) {
    const std::pair<const char8_t*, const char*> cases[] = {
        {u8"/home/u/pages", "\\home\\u\\pages"},
        {u8"relative/a.htm", "relative\\a.htm"},
        {u8"/表示/ソフト.htm", "\\\x95\x5C\x8E\xA6\\\x83\x5C\x83\x74\x83\x67.htm"},
        {u8"/日本語フォルダ/ｶﾅ", nullptr},
        {u8"", ""}};
    for (const auto& [utf8, want] : cases) {
        const std::string native = U8(utf8);
        bool exact = false;
        const std::string inside = Fs_FromNative(native, &exact);
        EXPECT_TRUE(exact) << native;
        EXPECT_EQ(want ? want : inside, inside) << native;  // the kana: round trip only
        EXPECT_EQ(native, Fs_ToNative(inside)) << native;
    }
    // A 0x5C trail byte never becomes a separator; '/' inside is one as well.
    EXPECT_EQ(U8(u8"表/能"), Fs_ToNative("\x95\x5C\\\x94\x5C"));
    EXPECT_EQ("a/b", Fs_ToNative("a/b"));
}

TEST(FsTest, NamesWithoutAnInsideFormAreNotExactAndNotListed) {
    // No CP932 form (twice), a backslash in a name, and WAVE DASH, whose CP932
    // code comes back as another character.
    const char8_t* names[] = {u8"\U0001F600.htm", u8"한국.htm", u8"a\\b.htm", u8"a\u301Cb.htm"};
    TempDir dir;
    dir.Write("ok.htm", "x");
    for (const char8_t* name : names) {
        bool exact = true;
        Fs_FromNative("/x/" + U8(name), &exact);
        EXPECT_FALSE(exact) << U8(name);
        dir.Write(U8(name), "x");
    }
    fs::create_directory(dir.path() + "/" + U8(u8"한"));
    EXPECT_EQ(Names{"ok.htm"}, List(dir.inside()));
}

TEST(FsTest, ListingSortsByNameWithoutCase) {
    TempDir dir;
    for (const char* n : {"b.htm", "A.htm", "c.HTM", "_x", "B2", "0", "a.htm"}) dir.Write(n, "x");
    fs::create_directory(dir.path() + "/Sub");
    dir.Write(U8(u8"表.htm"), "x");
    dir.Write(U8(u8"あ"), "x");
    EXPECT_EQ((Names{"0", "A.htm", "a.htm", "b.htm", "B2", "c.HTM", "Sub/", "_x", "\x82\xA0",
                     "\x95\x5C.htm"}),
              List(dir.inside()));
    // 'z' folds to 'Z' (0x5A) before '_' (0x5F); equal without case, the raw
    // bytes decide; a trail byte that looks like a letter is not folded.
    EXPECT_LT(Fs_CompareNames("z", "_"), 0);
    EXPECT_LT(Fs_CompareNames("A", "a"), 0);
    EXPECT_LT(Fs_CompareNames("\x82\x61", "\x82\x81"), 0);
}

TEST(FsTest, ListingGivesDotsFirstAndFailsForAMissingFolder) {
    TempDir dir;
    dir.Write("!first", "x");  // '!' sorts before '.'
    Fs_FindData fd;
    intptr_t h = Fs_FindFirst((dir.inside() + "\\*.*").c_str(), &fd);
    ASSERT_NE(-1, h);
    Names names = {fd.name};
    EXPECT_TRUE(fd.attrib & Fs_Attr_SubDir);
    while (Fs_FindNext(h, &fd) == 0) names.push_back(fd.name);
    EXPECT_EQ(-1, Fs_FindNext(h, &fd));  // stays at the end
    EXPECT_EQ(0, Fs_FindClose(h));
    EXPECT_EQ((Names{".", "..", "!first"}), names);
    EXPECT_EQ(-1, Fs_FindClose(-1));
    EXPECT_EQ(-1, Fs_FindFirst((dir.inside() + "\\none\\*.*").c_str(), &fd));
    EXPECT_EQ(-1, Fs_FindFirst((dir.inside() + "\\!first\\*.*").c_str(), &fd));
}

TEST(FsTest, ListingMatchesWildcardsWithoutCase) {
    TempDir dir;
    for (const char* n : {"a.htm", "B.HTM", "c.html", "d.txt", "noext", "e.htm.bak"})
        dir.Write(n, "x");
    const std::pair<const char*, Names> cases[] = {
        {"*.htm", {"a.htm", "B.HTM"}},
        {"*.htm*", {"a.htm", "B.HTM", "c.html", "e.htm.bak"}},
        {"?.txt", {"d.txt"}},
        {"noext.*", {"noext"}},
        {"*", {"a.htm", "B.HTM", "c.html", "d.txt", "e.htm.bak", "noext"}},
        {"zz*", {}}};
    for (const auto& [pattern, want] : cases)
        EXPECT_EQ(want, List(dir.inside(), pattern)) << pattern;
}

TEST(FsTest, ListingEntriesCarryAttributesSizeAndTime) {
    TempDir dir;
    dir.Write("data.bin", std::string(1234, 'x'));
    dir.Write("ro.txt", "abc");
    dir.Write(".hidden", "");
    ASSERT_EQ(0, chmod((dir.path() + "/ro.txt").c_str(), 0444));
    fs::create_directory(dir.path() + "/folder");
    const Fs_FindData data = Find(dir.inside(), "data.bin");
    EXPECT_EQ(1234, data.size);
    EXPECT_EQ(0u, data.attrib);
    struct stat sb;
    ASSERT_EQ(0, stat((dir.path() + "/data.bin").c_str(), &sb));
    EXPECT_EQ(static_cast<int64_t>(sb.st_mtime), data.timeWrite);
    EXPECT_EQ(Fs_Attr_ReadOnly, Find(dir.inside(), "ro.txt").attrib);
    EXPECT_EQ(Fs_Attr_SubDir, Find(dir.inside(), "folder").attrib);
    EXPECT_EQ(Fs_Attr_Hidden, Find(dir.inside(), ".hidden").attrib);
}

TEST(FsTest, SymlinkToFolderIsNotAFolder) {
    TempDir dir;
    dir.Write("real/inner.htm", "x");
    dir.Write("file.htm", "12345");
    ASSERT_EQ(0, symlink("real", (dir.path() + "/link").c_str()));
    ASSERT_EQ(0, symlink(".", (dir.path() + "/loop").c_str()));
    ASSERT_EQ(0, symlink("file.htm", (dir.path() + "/flink.htm").c_str()));
    ASSERT_EQ(0, symlink("missing", (dir.path() + "/broken").c_str()));
    EXPECT_EQ((Names{"broken", "file.htm", "flink.htm", "link", "loop", "real/"}),
              List(dir.inside()));
    EXPECT_EQ(5, Find(dir.inside(), "flink.htm").size);  // a link to a file reads like the file
    const Fs_FindData link = Find(dir.inside(), "link");
    EXPECT_EQ(0u, link.attrib & Fs_Attr_SubDir);
    EXPECT_EQ(0, link.size);
    // The link cannot be removed as a folder.
    EXPECT_EQ(-1, Fs_RmDir((dir.inside() + "\\link").c_str()));
    EXPECT_TRUE(fs::exists(dir.path() + "/real/inner.htm"));
}

TEST(FsTest, TextModeTurnsLfIntoCrLfBothWaysAtExactPositions) {
    TempDir dir;
    const std::string path = dir.inside() + "\\t.txt";
    FILE* f = Fs_Open(path.c_str(), "wt");
    ASSERT_NE(nullptr, f);
    fputs("a\n", f);
    EXPECT_EQ(3, ftell(f));  // the raw position on disk
    fputs("b\n\nc", f);
    fclose(f);
    EXPECT_EQ("a\r\nb\r\n\r\nc", dir.Read("t.txt"));
    f = Fs_Open(path.c_str(), "wb");
    fputs("a\nb", f);
    fclose(f);
    EXPECT_EQ("a\nb", dir.Read("t.txt"));

    // A CR LF pair, a bare LF, a lone CR, a CR LF at the end.
    dir.Write("r.txt", "one\r\ntwo\nthree\rx\r\n");
    f = Fs_Open((dir.inside() + "\\r.txt").c_str(), "rt");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ('o', fgetc(f));
    ASSERT_EQ(0, fseek(f, 3, SEEK_SET));
    EXPECT_EQ('\n', fgetc(f));
    EXPECT_EQ(5, ftell(f));
    ASSERT_EQ(0, fseek(f, 0, SEEK_SET));
    EXPECT_EQ("one\ntwo\nthree\rx\n", ReadAll(f));
    fclose(f);
    // A CR LF across the stream's internal buffer boundary still reads as LF.
    dir.Write("big.txt", std::string(8191, 'a') + "\r\nz");
    f = Fs_Open((dir.inside() + "\\big.txt").c_str(), "r");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(std::string(8191, 'a') + "\nz", ReadAll(f));
    fclose(f);

    EXPECT_EQ(nullptr, Fs_Open((dir.inside() + "\\none.txt").c_str(), "rt"));
    EXPECT_EQ(nullptr, Fs_Open((dir.inside() + "\\no\\x.txt").c_str(), "wt"));
    EXPECT_EQ(nullptr, Fs_Open("", "rt"));
}

TEST(FsTest, CwdComesBackInInsideFormAndIsCut) {
    TempDir dir;
    char saved[4096];
    Fs_GetCwd(saved, sizeof saved);
    const std::string sub = dir.inside() + "\\" + Sjis(u8"表示");
    ASSERT_EQ(0, Fs_MkDir(sub.c_str()));
    ASSERT_TRUE(Fs_SetCwd(sub.c_str()));
    const std::string real = Real(dir) + "\\" + Sjis(u8"表示");
    // Cut: size - 1 bytes at most, never half a double-byte character.
    const size_t n = real.size();
    const std::pair<size_t, std::string> cases[] = {{n + 1, real},
                                                    {n, real.substr(0, n - 2)},
                                                    {n - 1, real.substr(0, n - 2)},
                                                    {n - 2, real.substr(0, n - 4)},
                                                    {1, ""}};
    for (const auto& [size, want] : cases) {
        char out[4200];
        memset(out, '#', sizeof out);
        Fs_GetCwd(out, size);
        EXPECT_EQ(want, out) << size;
        EXPECT_EQ('#', out[size]) << size;
    }
    char none[1] = {'#'};
    Fs_GetCwd(none, 0);
    EXPECT_EQ('#', none[0]);
    EXPECT_FALSE(Fs_SetCwd((dir.inside() + "\\missing").c_str()));
    EXPECT_TRUE(Fs_SetCwd(saved));
}

TEST(FsTest, ExePathAndHomeDirAreInsideForm) {
    char buf[4096];
    Fs_GetExePath(buf, sizeof buf);
    const std::string path = buf;
    ASSERT_GT(path.size(), 8u);
    EXPECT_EQ('\\', path[0]);
    EXPECT_EQ("\\fs_test", path.substr(path.size() - 8));
    char small[5];
    memset(small, '#', sizeof small);
    Fs_GetExePath(small, 4);
    EXPECT_EQ(path.substr(0, 3), small);
    EXPECT_EQ('#', small[4]);

    ASSERT_TRUE(Fs_HomeDir(buf, sizeof buf));
    EXPECT_EQ('\\', buf[0]);
    Fs_StatData st;
    EXPECT_TRUE(Fs_Stat(buf, &st) && st.isDir) << Utf8(buf);
}

TEST(FsTest, StatAccessAndFolders) {
    TempDir dir;
    dir.Write("f.txt", "hello");
    const std::string f = dir.inside() + "\\f.txt", sub = dir.inside() + "\\sub";
    Fs_StatData st;
    ASSERT_TRUE(Fs_Stat(f.c_str(), &st));
    EXPECT_TRUE(st.size == 5 && !st.isDir && !st.readOnly);
    ASSERT_TRUE(Fs_Stat(dir.inside().c_str(), &st));
    EXPECT_TRUE(st.isDir);
    EXPECT_FALSE(Fs_Stat((dir.inside() + "\\none").c_str(), &st));
    EXPECT_EQ(0, st.size);
    EXPECT_EQ(0, Fs_Access(f.c_str(), Fs_Access_ReadWrite));
    EXPECT_EQ(-1, Fs_Access((dir.inside() + "\\none").c_str(), Fs_Access_Exist));
    ASSERT_EQ(0, Fs_Chmod(f.c_str(), 0444));
    ASSERT_TRUE(Fs_Stat(f.c_str(), &st));
    EXPECT_TRUE(st.readOnly);
    EXPECT_EQ(geteuid() == 0 ? 0 : -1, Fs_Access(f.c_str(), Fs_Access_Write));
    ASSERT_EQ(0, Fs_Chmod(f.c_str(), 0600));

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
    const std::string prefix = dir.inside() + "\\tsy";
    EXPECT_EQ(0u, std::string(a).find(prefix));
    EXPECT_EQ(prefix.size() + 6, strlen(a));
    EXPECT_STRNE(a, b);
    EXPECT_EQ(-1, Fs_Access(a, Fs_Access_Exist));  // named, not made
    char small[8];
    memset(small, '#', sizeof small);
    EXPECT_FALSE(Fs_TempName(dir.inside().c_str(), "tsy", small, 4));
    EXPECT_STREQ("", small);
    EXPECT_EQ('#', small[4]);
}

TEST(FsTest, RealPathResolvesLinksAndDots) {
    TempDir dir;
    dir.Write("real/f", "x");
    ASSERT_EQ(0, symlink("real", (dir.path() + "/link").c_str()));
    char out[4096];
    ASSERT_TRUE(Fs_RealPath((dir.inside() + "\\link\\..\\link\\.").c_str(), out, sizeof out));
    EXPECT_EQ(Real(dir) + "\\real", out);
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

}  // namespace
