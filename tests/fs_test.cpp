#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
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

// The listing entry of one inside name (a name with no wildcard lists itself).
Fs_FindData Find(const std::string& insideFolder, const std::string& name) {
    Fs_FindData fd = {};
    intptr_t h = Fs_FindFirst((insideFolder + "\\" + name).c_str(), &fd);
    EXPECT_NE(-1, h) << name;
    Fs_FindClose(h);
    return fd;
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

// Every native path has an inside form that reads back; names whose
// characters all have exact CP932 forms are those bytes, the rest is escaped.
TEST(FsTest, NamesRoundTripBetweenNativeAndInside) {
    const std::string tabi = Sjis(u8"旅の記録"), aki = Sjis(u8"秋");
    // Rows: native, inside.
    const std::pair<std::string, std::string> cases[] = {
        {"/home/u/pages", "\\home\\u\\pages"},
        {"relative/a.htm", "relative\\a.htm"},
        {U8(u8"/表示/ソフト.htm"), "\\\x95\x5C\x8E\xA6\\\x83\x5C\x83\x74\x83\x67.htm"},
        {U8(u8"ｶﾅ/～.htm"), "\xB6\xC5\\\x81\x60.htm"},  // FULLWIDTH TILDE comes back: exact
        {"", ""},
        {"#frag.htm", "#frag.htm"},
        {"?q.htm", "?q.htm"},
        {"http:evil.example.htm", "http:evil.example.htm"},
        {"a b.htm", "a b.htm"},
        {U8(u8"café.html"), "caf%C3%A9.html"},
        // WAVE DASH: CP932 has it only as the code that comes back as U+FF5E.
        {U8(u8"旅の記録〜秋〜.htm"), tabi + "%E3%80%9C" + aki + "%E3%80%9C.htm"},
        {U8(u8"Übersetzung.htm"), "%C3%9Cbersetzung.htm"},
        {U8(u8"絵文字😀.htm"), Sjis(u8"絵文字") + "%F0%9F%98%80.htm"},
        {U8(u8"한국어.htm"), "%ED%95%9C%EA%B5%AD%EC%96%B4.htm"},
        {U8(u8"¥.htm"), "%C2%A5.htm"},  // CP932 gives it the backslash byte
        {"caf\xE9.htm", "caf%E9.htm"},  // Latin-1: not UTF-8
        // 京 is escaped only in the name that is not UTF-8.
        {"\xE4\xBA\xAC\xE9/\xE4\xBA\xAC", "%E4%BA%AC%E9\\\x8B\x9E"},
        {"a\nb.htm", "a%0Ab.htm"},
        {"a\tb\rc\x7F\x01", "a%09b%0Dc%7F%01"},
        {"%41.htm", "%2541.htm"},
        {"100%", "100%25"},
        {"/x/a\\b.htm", "\\x\\a%5Cb.htm"},
    };
    for (const auto& [native, inside] : cases) {
        EXPECT_EQ(inside, Fs_FromNative(native)) << native;
        EXPECT_EQ(native, Fs_ToNative(inside)) << native;
    }
    // A 0x5C trail byte never becomes a separator; '/' inside is one as well.
    EXPECT_EQ(U8(u8"表/能"), Fs_ToNative("\x95\x5C\\\x94\x5C"));
    EXPECT_EQ("a/b", Fs_ToNative("a/b"));
}

// What an inside text that no build wrote means (an old database, a typed
// path): a '%' that begins no escape is itself; hex digits may be lower case.
TEST(FsTest, InsideTextsThatAreNoEscapesStandForThemselves) {
    // Rows: inside, native, the inside form that native has.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"%zz.htm", "%zz.htm", "%25zz.htm"},
        {"a%", "a%", "a%25"},
        {"a%4", "a%4", "a%254"},
        {"%4a%4A", "JJ", "JJ"},
        {"%00x", "%00x", "%2500x"},     // no name holds a NUL
        {"a%2Fb", "a%2Fb", "a%252Fb"},  // nor a '/'
        {"a%5cb", "a\\b", "a%5Cb"},
        {"\x95\x5C%41", U8(u8"表A"),
         "\x95\x5C"
         "A"},
    };
    for (const auto& [inside, native, again] : cases) {
        EXPECT_EQ(native, Fs_ToNative(inside)) << inside;
        EXPECT_EQ(again, Fs_FromNative(native)) << inside;
    }
    // Rows: inside, position, the byte or -1.
    const std::tuple<const char*, size_t, int> escapes[] = {
        {"%41", 0, 0x41},  {"%ff", 0, 0xFF}, {"%4", 0, -1},  {"%g1", 0, -1}, {"a%41", 0, -1},
        {"a%41", 1, 0x41}, {"%00", 0, -1},   {"%2F", 0, -1}, {"%2f", 0, -1}, {"%2E", 0, '.'},
    };
    for (const auto& [inside, at, byte] : escapes)
        EXPECT_EQ(byte, Fs_EscapeAt(inside, at)) << inside << " at " << at;
}

// Every name is listed under its inside form and opens by it; only a name
// whose inside form passes 259 bytes is left out.
TEST(FsTest, EveryNameIsListedAndOpensByItsInsideForm) {
    const std::string eAcute = U8(u8"é");
    std::string fits = std::string(199, 'n');
    for (int i = 0; i < 10; i++) fits += eAcute;  // 219 bytes, inside 259
    const std::string natives[] = {U8(u8"\U0001F600.htm"), U8(u8"한국.htm"), "a\\b.htm",
                                   U8(u8"a\u301Cb.htm"),   "a\nb.htm",       "%41.htm",
                                   "caf\xE9.htm",          "A.htm",          fits};
    TempDir dir;
    Names want;
    for (const std::string& native : natives) {
        dir.Write(native, native);
        want.push_back(Fs_FromNative(native));
    }
    dir.Write("n" + fits, "too long");  // inside 260 bytes
    fs::create_directory(dir.path() + "/" + U8(u8"한"));
    want.push_back(Fs_FromNative(U8(u8"한")));
    std::sort(want.begin(), want.end(), [](const std::string& a, const std::string& b) {
        return Fs_CompareNames(a.c_str(), b.c_str()) < 0;
    });
    for (std::string& name : want)
        if (name == "%ED%95%9C") name += "/";
    EXPECT_EQ(want, List(dir.inside()));
    for (const std::string& native : natives) {
        FILE* f = Fs_Open((dir.inside() + "\\" + Fs_FromNative(native)).c_str(), "rb");
        ASSERT_NE(nullptr, f) << native;
        EXPECT_EQ(native, ReadAll(f)) << native;
        fclose(f);
    }
}

TEST(FsTest, ListingSortsAndMatchesWildcardsWithoutCase) {
    TempDir dir;
    for (const char* n : {"b.htm", "A.htm", "c.HTM", "_x", "B2", "0", "a.htm"}) dir.Write(n, "x");
    fs::create_directory(dir.path() + "/Sub");
    dir.Write(U8(u8"表.htm"), "x");
    dir.Write(U8(u8"あ"), "x");
    // Letters fold to upper case ('S' 0x53 before '_' 0x5F); equal without case, raw bytes decide.
    EXPECT_EQ((Names{"0", "A.htm", "a.htm", "b.htm", "B2", "c.HTM", "Sub/", "_x", "\x82\xA0",
                     "\x95\x5C.htm"}),
              List(dir.inside()));
    EXPECT_LT(Fs_CompareNames("\x82\x61", "\x82\x81"), 0);  // a trail byte is not folded
    // '?' takes one character, 表 as well.
    const std::pair<const char*, Names> patterns[] = {
        {"?.HTM", {"A.htm", "a.htm", "b.htm", "c.HTM", "\x95\x5C.htm"}},
        {"b*", {"b.htm", "B2"}},
        {"0.*", {"0"}}};
    for (const auto& [pattern, want] : patterns)
        EXPECT_EQ(want, List(dir.inside(), pattern)) << pattern;
    Fs_FindData fd;
    EXPECT_EQ(-1, Fs_FindFirst((dir.inside() + "\\none\\*.*").c_str(), &fd));
    EXPECT_EQ(-1, Fs_FindFirst((dir.inside() + "\\b.htm\\*.*").c_str(), &fd));
}

// Entries carry attributes, size and time; a link to a folder or a broken
// link is a device, never a folder, and is not removed as one.
TEST(FsTest, ListingEntriesCarryAttributesAndLinksAreNoFolders) {
    TempDir dir;
    dir.Write("real/inner.htm", "x");
    dir.Write("file.htm", "12345");
    dir.Write("ro.bin", std::string(1234, 'x'));
    dir.Write(".hidden", "");
    ASSERT_EQ(0, chmod((dir.path() + "/ro.bin").c_str(), 0444));
    struct stat sb;
    ASSERT_EQ(0, stat((dir.path() + "/ro.bin").c_str(), &sb));
    const Fs_FindData ro = Find(dir.inside(), "ro.bin");
    EXPECT_TRUE(ro.size == 1234 && ro.attrib == Fs_Attr_ReadOnly && ro.timeWrite == sb.st_mtime);
    EXPECT_EQ(Fs_Attr_Hidden, Find(dir.inside(), ".hidden").attrib);
    ASSERT_EQ(0, symlink("real", (dir.path() + "/link").c_str()));
    ASSERT_EQ(0, symlink("file.htm", (dir.path() + "/flink.htm").c_str()));
    ASSERT_EQ(0, symlink("missing", (dir.path() + "/broken").c_str()));
    EXPECT_EQ((Names{".hidden", "broken", "file.htm", "flink.htm", "link", "real/", "ro.bin"}),
              List(dir.inside()));
    EXPECT_EQ(5, Find(dir.inside(), "flink.htm").size);  // a link to a file reads like the file
    const Fs_FindData link = Find(dir.inside(), "link");
    EXPECT_TRUE(link.attrib == Fs_Attr_Device && link.size == 0);
    EXPECT_EQ(Fs_Attr_Device, Find(dir.inside(), "broken").attrib);
    EXPECT_EQ(0u, Find(dir.inside(), "flink.htm").attrib);
    EXPECT_EQ(-1, Fs_RmDir((dir.inside() + "\\link").c_str()));  // not removed as a folder
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

    // A CR LF pair, a bare LF, a lone CR, a CR LF at the end.
    dir.Write("r.txt", "one\r\ntwo\nthree\rx\r\n");
    f = Fs_Open((dir.inside() + "\\r.txt").c_str(), "rt");
    ASSERT_NE(nullptr, f);
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
}

// Runs fill on size bytes followed by '#' guards; returns the text left,
// "(untouched)" for size 0, with " GUARD" added when a byte past size changed.
// what, size, the call, the text Cut returns.
using CutCase = std::tuple<const char*, size_t, std::function<void(char*, size_t)>, std::string>;

std::string Cut(size_t size, const std::function<void(char*, size_t)>& fill) {
    char buf[4200];
    memset(buf, '#', sizeof buf);
    fill(buf, size);
    const std::string text = size ? std::string(buf, strnlen(buf, size)) : "(untouched)";
    bool intact = std::string(buf + size, sizeof buf - size) == std::string(sizeof buf - size, '#');
    return intact ? text : text + " GUARD";
}

TEST(FsTest, ProcessPathsAndTempNamesAreInsideFormAndCutWhole) {
    TempDir dir;
    dir.Write("real/f", "x");
    ASSERT_EQ(0, symlink("real", (dir.path() + "/link").c_str()));
    char saved[4096], exe[4096];
    Fs_GetCwd(saved, sizeof saved);
    ASSERT_EQ(0, Fs_MkDir((dir.inside() + "\\" + Sjis(u8"表示")).c_str()));
    ASSERT_TRUE(Fs_SetCwd((dir.inside() + "\\" + Sjis(u8"表示")).c_str()));
    const std::string cwd = Real(dir) + "\\" + Sjis(u8"表示"), link = dir.inside() + "\\link";
    Fs_GetExePath(exe, sizeof exe);
    auto getCwd = [](char* b, size_t n) { Fs_GetCwd(b, n); };
    auto real = [&](std::string p) {
        return [=](char* b, size_t n) { Fs_RealPath(p.c_str(), b, n); };
    };
    auto temp = [&](char* b, size_t n) { Fs_TempName(dir.inside().c_str(), "tsy", b, n); };
    const size_t n = cwd.size();
    const CutCase cases[] = {
        {"GetCwd whole", n + 1, getCwd, cwd},
        {"GetCwd never half a character", n, getCwd, cwd.substr(0, n - 2)},
        {"GetCwd size 1", 1, getCwd, ""},
        {"GetCwd size 0", 0, getCwd, "(untouched)"},
        {"GetExePath cut", 4, [](char* b, size_t n) { Fs_GetExePath(b, n); }, std::string(exe, 3)},
        {"RealPath", 4096, real(link + "\\..\\link\\."), Real(dir) + "\\real"},
        {"RealPath does not fit", 4, real(link), ""},
        {"RealPath of nothing", 4096, real(link + "\\none"), ""},
        {"TempName does not fit", 4, temp, ""},
        {"HomeDir does not fit", 2, [](char* b, size_t n) { Fs_HomeDir(b, n); }, ""},
    };
    for (const auto& [what, size, fill, want] : cases) EXPECT_EQ(Cut(size, fill), want) << what;
    EXPECT_FALSE(Fs_SetCwd((dir.inside() + "\\missing").c_str()));
    EXPECT_TRUE(Fs_SetCwd(saved));
    EXPECT_EQ("\\fs_test", std::string(exe).substr(strlen(exe) - 8));
    EXPECT_TRUE(Fs_IsLink(link.c_str()));
    EXPECT_FALSE(Fs_IsLink((dir.inside() + "\\real").c_str()));
    char home[4096];
    Fs_StatData st;
    ASSERT_TRUE(Fs_HomeDir(home, sizeof home));
    EXPECT_TRUE(home[0] == '\\' && Fs_Stat(home, &st) && st.isDir) << Utf8(home);
    setenv("TMP", dir.path().c_str(), 1);
    char a[300], b[300];
    ASSERT_TRUE(Fs_TempName("\\", "tsy", a, sizeof a) && Fs_TempName("\\", "tsy", b, sizeof b));
    unsetenv("TMP");
    EXPECT_EQ(dir.inside() + "\\tsy", std::string(a).substr(0, strlen(a) - 6));
    EXPECT_STRNE(a, b);
    EXPECT_EQ(-1, Fs_Access(a, Fs_Access_Exist));  // named, not made
}

TEST(FsTest, StatAccessAndFolders) {
    TempDir dir;
    dir.Write("f.txt", "hello");
    const std::string f = dir.inside() + "\\f.txt", sub = dir.inside() + "\\sub";
    Fs_StatData st;
    ASSERT_EQ(0, Fs_Chmod(f.c_str(), 0444));
    ASSERT_TRUE(Fs_Stat(f.c_str(), &st));
    EXPECT_TRUE(st.size == 5 && !st.isDir && st.readOnly);
    EXPECT_EQ(geteuid() == 0 ? 0 : -1, Fs_Access(f.c_str(), Fs_Access_Write));
    EXPECT_FALSE(Fs_Stat((dir.inside() + "\\none").c_str(), &st));
    EXPECT_EQ(0, st.size);
    EXPECT_EQ(0, Fs_MkDir(sub.c_str()));
    EXPECT_EQ(0, Fs_Rename(f.c_str(), (sub + "\\g.txt").c_str()));
    EXPECT_EQ("hello", dir.Read("sub/g.txt"));
    EXPECT_EQ(-1, Fs_RmDir(sub.c_str()));   // not empty
    EXPECT_EQ(-1, Fs_Remove(sub.c_str()));  // a folder is not a file
}

TEST(FsTest, ReadOpensNeverWaitOnWhatIsNotAFile) {
    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir.path() + "/fifo.htm").c_str(), 0644));
    ASSERT_EQ(0, symlink("/dev/null", (dir.path() + "/null.htm").c_str()));
    dir.Write("f.htm", "x");
    const std::pair<const char*, const char*> refused[] = {
        {"fifo.htm", "rt"}, {"fifo.htm", "rb"}, {"null.htm", "r"}};
    alarm(20);  // an open that waits would hang here
    for (const auto& [name, mode] : refused) {
        EXPECT_EQ(nullptr, Fs_Open((dir.inside() + "\\" + name).c_str(), mode)) << name << mode;
        EXPECT_EQ(-1, Fs_OpenReadFd((dir.inside() + "\\" + name).c_str())) << name;
    }
    alarm(0);
    FILE* f = Fs_Open((dir.inside() + "\\f.htm").c_str(), "rt");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ('x', fgetc(f));  // a regular file reads as before, blocking mode restored
    fclose(f);
    EXPECT_EQ(Fs_Attr_Device, Find(dir.inside(), "fifo.htm").attrib);
}

// What a descriptor opened by Fs_OpenReadFd reads, "-1 errno" when the open
// fails; the descriptor is closed.
std::string ReadFd(const std::string& inside) {
    int64_t size = -2;
    const int fd = Fs_OpenReadFd(inside.c_str(), &size);
    if (fd < 0) return "-1 " + std::string(strerrorname_np(errno));
    char buf[64];
    const ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    return (size < 0 ? "folder " : "") + std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(FsTest, FolderReadsOpenWhatTheWholePathOpens) {
    TempDir dir;
    for (const char* f : {"a/x.htm", "a/y.htm", "b/x.htm", "b/c/x.htm", "c/x.htm", "x.htm"})
        dir.Write(f, f);
    ASSERT_EQ(0, mkfifo((dir.path() + "/a/fifo.htm").c_str(), 0644));
    ASSERT_EQ(0, mkdir((dir.path() + "/a/sub").c_str(), 0755));
    // Folders met in turn, left and met again, names that are no file, a
    // FIFO and a folder among the files.
    const std::vector<std::string> order = {"a\\x.htm",    "a\\y.htm", "b\\x.htm",    "a\\x.htm",
                                            "b\\c\\x.htm", "x.htm",    "a\\none.htm", "none\\x.htm",
                                            "a\\fifo.htm", "a\\sub",   "b\\x.htm",    "a\\y.htm"};
    std::vector<std::string> plain;
    for (const std::string& rel : order) plain.push_back(ReadFd(dir.inside() + "\\" + rel));
    EXPECT_EQ("b/x.htm", plain[2]);
    EXPECT_EQ("-1 ENOENT", plain[6]);
    EXPECT_EQ("-1 ENXIO", plain[8]);
    EXPECT_EQ("folder ", plain[9]);
    const int before = OpenDescriptors();
    {
        Fs_FolderReads outer;
        {
            Fs_FolderReads inner;  // holds nest
            for (size_t i = 0; i < order.size(); i++)
                EXPECT_EQ(plain[i], ReadFd(dir.inside() + "\\" + order[i])) << order[i];
        }
        EXPECT_EQ(before + 1, OpenDescriptors());  // the outer hold keeps the folder
        // A relative path names a file of the current folder as it is now.
        const std::string cwd = std::filesystem::current_path();
        ASSERT_TRUE(Fs_SetCwd(dir.inside().c_str()));
        EXPECT_EQ("c/x.htm", ReadFd("c\\x.htm"));
        ASSERT_TRUE(Fs_SetCwd((dir.inside() + "\\b").c_str()));
        EXPECT_EQ("b/c/x.htm", ReadFd("c\\x.htm"));
        std::filesystem::current_path(cwd);
        // The kept folder replaced by another of its name: a name only the new
        // one holds is found by the whole path.
        ASSERT_EQ(0, rename((dir.path() + "/a").c_str(), (dir.path() + "/old").c_str()));
        dir.Write("a/z.htm", "new z");
        EXPECT_EQ("new z", ReadFd(dir.inside() + "\\a\\z.htm"));
        // A name the kept folder still holds is read from it, as it was found.
        EXPECT_EQ("a/x.htm", ReadFd(dir.inside() + "\\a\\x.htm"));
    }
    EXPECT_EQ(before, OpenDescriptors());
}

TEST(FsTest, WriteOpensNeverWaitAndRefuseFifosAndSockets) {
    TempDir dir;
    const std::string fifo = dir.path() + "/fifo.htm";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    ASSERT_EQ(0, mknod((dir.path() + "/sock.htm").c_str(), S_IFSOCK | 0644, 0));
    ASSERT_EQ(0, symlink("/dev/null", (dir.path() + "/null.htm").c_str()));
    alarm(20);  // an open that waits would hang here
    for (const char* mode : {"wt", "wb", "a", "ab+", "r+", "w+b"}) {
        EXPECT_EQ(nullptr, Fs_Open((dir.inside() + "\\fifo.htm").c_str(), mode)) << mode;
        EXPECT_EQ(nullptr, Fs_Open((dir.inside() + "\\sock.htm").c_str(), mode)) << mode;
        // A character device named on purpose is a sink.
        FILE* null = Fs_Open((dir.inside() + "\\null.htm").c_str(), mode);
        EXPECT_NE(nullptr, null) << mode;
        if (null) {
            EXPECT_EQ(0, fclose(null));
        }
    }
    // A FIFO that has a reader is refused as well, and nothing reaches it.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    errno = 0;
    EXPECT_EQ(nullptr, Fs_Open((dir.inside() + "\\fifo.htm").c_str(), "wt"));
    EXPECT_EQ(ENXIO, errno);
    char byte;
    EXPECT_EQ(0, read(reader, &byte, 1));  // no writer, no byte
    close(reader);
    alarm(0);
    // Regular files: "w" truncates, "a" appends, "x" makes only a new file,
    // a new file gets 0666 less the umask; writes wait as usual.
    const mode_t mask = umask(027);
    dir.Write("f.txt", "old text");
    const std::string f = dir.inside() + "\\f.txt", g = dir.inside() + "\\g.txt";
    FILE* w = Fs_Open(f.c_str(), "wt");
    ASSERT_NE(nullptr, w);
    fputs("a\n", w);
    EXPECT_EQ(0, fclose(w));
    w = Fs_Open(f.c_str(), "ab");
    ASSERT_NE(nullptr, w);
    fputs("b", w);
    EXPECT_EQ(0, fclose(w));
    EXPECT_EQ("a\r\nb", dir.Read("f.txt"));
    EXPECT_EQ(nullptr, Fs_Open(f.c_str(), "wtx"));
    w = Fs_Open(g.c_str(), "wtx");
    umask(mask);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(0, fclose(w));
    struct stat sb;
    ASSERT_EQ(0, stat((dir.path() + "/g.txt").c_str(), &sb));
    EXPECT_EQ(0640u, sb.st_mode & 07777);
    EXPECT_EQ("a\r\nb", dir.Read("f.txt"));
}

TEST(FsTest, ListingStopsPastItsLimitAndTellsAFolderItCannotRead) {
    TempDir dir;
    for (const char* name : {"e", "d", "c", "b", "a"}) dir.Write(name, "");
    Fs_FindData fd;
    const std::string pattern = dir.inside() + "\\*.*";
    const struct {
        size_t max;
        int state;
        size_t listed;  // entries other than "." and ".."
    } cases[] = {
        {5, Fs_List_Ok, 5}, {100, Fs_List_Ok, 5}, {2, Fs_List_OverMax, 3}, {0, Fs_List_OverMax, 1}};
    for (const auto& c : cases) {
        int state = -1;
        intptr_t h = Fs_FindFirstMax(pattern.c_str(), &fd, c.max, &state);
        ASSERT_NE(-1, h) << c.max;
        size_t listed = 0;
        do listed += fd.name[0] != '.';
        while (Fs_FindNext(h, &fd) == 0);
        Fs_FindClose(h);
        EXPECT_EQ(c.state, state) << c.max;
        EXPECT_EQ(c.listed, listed) << c.max;
    }
    // Nothing matches, against: the folder cannot be read (a fault at the door).
    int state = -1;
    EXPECT_EQ(-1, Fs_FindFirstMax((dir.inside() + "\\*.x").c_str(), &fd, 10, &state));
    EXPECT_EQ(Fs_List_Ok, state);
    Fs_SetFaultHook([](const char* op, const char*) { return strcmp(op, "list") ? 0 : EACCES; });
    EXPECT_EQ(-1, Fs_FindFirstMax(pattern.c_str(), &fd, 10, &state));
    EXPECT_EQ(-1, Fs_FindFirst(pattern.c_str(), &fd));
    Fs_SetFaultHook(nullptr);
    EXPECT_EQ(Fs_List_Cannot, state);
}

// A folder of many entries, whose records fill many of the listing's blocks
// (long names among them), lists each entry once with its own name, size and
// kind, "." and ".." first and the rest in name order, in a full listing and
// in a kinds-only one.
TEST(FsTest, ListingOfManyEntriesKeepsEveryEntrysNameFieldsAndOrder) {
    TempDir dir;
    struct Entry {
        std::string inside;
        int64_t size;
        bool folder;
    };
    std::vector<Entry> want;
    char number[16];
    for (int i = 0; i < 3000; i++) {
        snprintf(number, sizeof number, "%05d", (i * 7919) % 3000);
        const std::string n = number;
        std::string native, inside;
        switch (i % 5) {
            case 0:
                native = inside = "p" + n + ".htm";
                break;
            case 1:
                native = inside = "P" + n + ".HTM";
                break;
            case 2:
                native = inside = std::string(240, 'x') + n;
                break;  // 245 bytes
            case 3:
                native = U8(u8"表") + n;
                inside = "\x95\x5C" + n;
                break;
            default:
                native = "a%b" + n;
                inside = "a%25b" + n;
        }
        const bool folder = i % 50 == 49;
        if (folder)
            fs::create_directory(dir.path() + "/" + native);
        else
            dir.Write(native, std::string(static_cast<size_t>(i % 97), 'c'));
        want.push_back({inside, folder ? 0 : i % 97, folder});
    }
    std::sort(want.begin(), want.end(), [](const Entry& a, const Entry& b) {
        return Fs_CompareNames(a.inside.c_str(), b.inside.c_str()) < 0;
    });
    for (bool kindsOnly : {false, true}) {
        Fs_FindData fd;
        int state = -1;
        intptr_t h =
            Fs_FindFirstMax((dir.inside() + "\\*.*").c_str(), &fd, SIZE_MAX, &state, kindsOnly);
        ASSERT_NE(-1, h);
        std::vector<Entry> got;
        Names dots;
        do {
            if (got.empty() && (strcmp(fd.name, ".") == 0 || strcmp(fd.name, "..") == 0)) {
                dots.push_back(fd.name);
                continue;
            }
            got.push_back({fd.name, fd.size, (fd.attrib & Fs_Attr_SubDir) != 0});
        } while (Fs_FindNext(h, &fd) == 0);
        Fs_FindClose(h);
        EXPECT_EQ(Fs_List_Ok, state);
        EXPECT_EQ((Names{".", ".."}), dots) << kindsOnly;
        ASSERT_EQ(want.size(), got.size()) << kindsOnly;
        for (size_t i = 0; i < want.size(); i++) {
            EXPECT_EQ(want[i].inside, got[i].inside) << i;
            EXPECT_EQ(want[i].folder, got[i].folder) << got[i].inside;
            EXPECT_EQ(kindsOnly ? 0 : want[i].size, got[i].size) << got[i].inside;
        }
    }
}

// The names in a native folder, sorted.
Names Files(const std::string& native) {
    Names names;
    for (const auto& e : fs::directory_iterator(native)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FsTest, TempFilesAreNewHiddenAndTakeTheTargetsModeAndGroup) {
    TempDir dir;
    dir.Write("db.kwf", "old");
    const std::string target = dir.inside() + "\\db.kwf", native = dir.path() + "/db.kwf";
    ASSERT_EQ(0, chmod(native.c_str(), 0604));
    ASSERT_EQ(0, chown(native.c_str(), static_cast<uid_t>(-1), 4321));
    char a[300], b[300];
    FILE* fa = Fs_CreateTemp(target.c_str(), "wt", a, sizeof a);
    FILE* fb = Fs_CreateTemp(target.c_str(), "wb", b, sizeof b);
    ASSERT_TRUE(fa && fb);
    EXPECT_STRNE(a, b);
    const std::string nameA = fs::path(Fs_ToNative(a)).filename();
    EXPECT_TRUE(Fs_IsTempOf(Fs_FromNative(nameA).c_str(), target.c_str())) << nameA;
    struct stat sb;
    ASSERT_EQ(0, stat(Fs_ToNative(a).c_str(), &sb));
    EXPECT_EQ(0604u, sb.st_mode & 07777);
    EXPECT_EQ(4321u, sb.st_gid);
    fputs("new\n", fa);
    EXPECT_EQ(0, fclose(fa));
    fclose(fb);
    // The last temp file made is the one a signal handler removes.
    Fs_RemovePendingTemp();
    EXPECT_EQ((Names{nameA, "db.kwf"}), Files(dir.path()));
    EXPECT_EQ(0, Fs_CommitTemp(a, target.c_str()));
    EXPECT_EQ("new\r\n", dir.Read("db.kwf"));
    EXPECT_EQ(Names{"db.kwf"}, Files(dir.path()));
    // Leftovers of dead writers go; a name that is not exactly ours stays.
    EXPECT_EQ(0, Fs_RemoveStaleTemps(target.c_str()));
    EXPECT_EQ(Names{"db.kwf"}, Files(dir.path()));
    // Two openings of the folder lock: the second is refused, never waits.
    const int lock = Fs_LockFolder(target.c_str());
    ASSERT_GE(lock, 0);
    EXPECT_EQ(Fs_Lock_Busy, Fs_LockFolder(target.c_str()));
    Fs_Unlock(lock);
    const int again = Fs_LockFolder(target.c_str());
    EXPECT_GE(again, 0);
    Fs_Unlock(again);
    // Replacing through a link replaces its target; a broken link has none.
    ASSERT_EQ(0, symlink("db.kwf", (dir.path() + "/link.kwf").c_str()));
    ASSERT_EQ(0, symlink("none", (dir.path() + "/broken.kwf").c_str()));
    char out[300];
    EXPECT_TRUE(Fs_ReplaceTarget((dir.inside() + "\\link.kwf").c_str(), out, sizeof out));
    EXPECT_EQ(Real(dir) + "\\db.kwf", out);
    EXPECT_FALSE(Fs_ReplaceTarget((dir.inside() + "\\broken.kwf").c_str(), out, sizeof out));
    EXPECT_TRUE(Fs_SameFile(target.c_str(), (dir.inside() + "\\.\\db.kwf").c_str()));
    EXPECT_FALSE(Fs_SameFile(target.c_str(), (dir.inside() + "\\.db.kwf.tmp").c_str()));
}

// The mode and group of each temp file as the door's hook sees them when it
// has just been made ("created") and before its final mode ("mode").
std::vector<std::string> g_seen;
int ObserveTemp(const char* op, const char* native) {
    if (strcmp(op, "created") != 0 && strcmp(op, "mode") != 0) return 0;
    struct stat sb;
    EXPECT_EQ(0, stat(native, &sb));
    char text[64];
    snprintf(text, sizeof text, "%s %04o %u", op, static_cast<unsigned>(sb.st_mode & 07777),
             static_cast<unsigned>(sb.st_gid));
    g_seen.push_back(text);
    return 0;
}

TEST(FsTest, TempFilesAreOwnersAloneUntilTheirGroupAndModeAreSet) {
    TempDir dir;
    dir.Write("db.kwf", "old");
    const std::string target = dir.inside() + "\\db.kwf", native = dir.path() + "/db.kwf";
    ASSERT_EQ(0, chmod(native.c_str(), 0644));
    ASSERT_EQ(0, chown(native.c_str(), static_cast<uid_t>(-1), 4321));
    const unsigned ownGroup = static_cast<unsigned>(getegid());
    const mode_t mask = umask(022);
    g_seen.clear();
    Fs_SetFaultHook(ObserveTemp);
    char temp[300];
    FILE* f = Fs_CreateTemp(target.c_str(), "wb", temp, sizeof temp);
    ASSERT_NE(nullptr, f);
    fclose(f);
    struct stat sb;
    ASSERT_EQ(0, stat(Fs_ToNative(temp).c_str(), &sb));
    EXPECT_EQ(0644u, sb.st_mode & 07777);
    EXPECT_EQ(0, Fs_DiscardTemp(temp));
    // No previous file: the mode a new file gets.
    f = Fs_CreateTemp((dir.inside() + "\\new.kwf").c_str(), "wb", temp, sizeof temp);
    ASSERT_NE(nullptr, f);
    fclose(f);
    ASSERT_EQ(0, stat(Fs_ToNative(temp).c_str(), &sb));
    EXPECT_EQ(0644u, sb.st_mode & 07777);
    EXPECT_EQ(0, Fs_DiscardTemp(temp));
    Fs_SetFaultHook(nullptr);
    umask(mask);
    const std::vector<std::string> seen = {
        "created 0600 " + std::to_string(ownGroup), "mode 0600 4321",
        "created 0600 " + std::to_string(ownGroup), "mode 0600 " + std::to_string(ownGroup)};
    EXPECT_EQ(seen, g_seen);
    // A failure once the file is made leaves nothing behind.
    for (const char* op : {"created", "mode"}) {
        static std::string failing;
        failing = op;
        Fs_SetFaultHook([](const char* o, const char*) { return failing == o ? EIO : 0; });
        errno = 0;
        EXPECT_EQ(nullptr, Fs_CreateTemp(target.c_str(), "wb", temp, sizeof temp)) << op;
        EXPECT_EQ(EIO, errno) << op;
        Fs_SetFaultHook(nullptr);
        EXPECT_EQ((Names{"db.kwf"}), Files(dir.path())) << op;
    }
}

// The temp name of db.kwf is exactly "." + "db.kwf" + "." + 6 characters +
// ".tmp": a name one character longer or shorter anywhere is another file,
// never taken for ours nor removed as a leftover.
TEST(FsTest, OnlyNamesOfExactlyTheTempFormAreTakenForOurs) {
    const std::pair<const char*, bool> names[] = {
        {".db.kwf.abc123.tmp", true},   {".db.kwf.zzzzzz.tmp", true},
        {".db.kwf.abc1234.tmp", false}, {".db.kwf.abc12.tmp", false},
        {".db.kwf.tmp", false},         {"db.kwf.abc123.tmp", false},
        {"..db.kwf.abc123.tmp", false}, {".db.kwfx.abc123.tmp", false},
        {".db.kw.abc1234.tmp", false},  {".db.kwf.abc123.tmpx", false},
        {".db.kwf.abc123x.tmp", false}, {".db.kwf.abc123.tm", false},
        {".db.kwf.abc123.TMP", false},  {".x.kwf.abc123.tmp", false},
    };
    TempDir dir;
    const std::string target = dir.inside() + "\\db.kwf";
    dir.Write("db.kwf", "mine");
    Names kept{"db.kwf"};
    int ours = 0;
    for (const auto& [name, want] : names) {
        EXPECT_EQ(want, Fs_IsTempOf(name, target.c_str())) << name;
        dir.Write(name, "");
        if (want)
            ours++;
        else
            kept.push_back(name);
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(ours, Fs_RemoveStaleTemps(target.c_str()));
    EXPECT_EQ(kept, Files(dir.path()));
    EXPECT_EQ("mine", dir.Read("db.kwf"));
}

// A name the temp file was about to take, where another hand has put a link
// to a file of the user's.
std::string g_plantedAt, g_victim;
int PlantLinkAtFirstName(const char* op, const char* native) {
    if (strcmp(op, "name") == 0 && g_plantedAt.empty()) {
        g_plantedAt = native;
        EXPECT_EQ(0, symlink(g_victim.c_str(), native));
    }
    return 0;
}

TEST(FsTest, TempFileNeverOpensWhatIsAlreadyAtItsName) {
    TempDir dir;
    dir.Write("victim.txt", "mine");
    g_victim = dir.path() + "/victim.txt";
    g_plantedAt.clear();
    Fs_SetFaultHook(PlantLinkAtFirstName);
    char temp[300];
    FILE* f = Fs_CreateTemp((dir.inside() + "\\db.kwf").c_str(), "wb", temp, sizeof temp);
    Fs_SetFaultHook(nullptr);
    ASSERT_TRUE(f);
    fputs("database", f);
    EXPECT_EQ(0, fclose(f));
    EXPECT_NE(g_plantedAt, Fs_ToNative(temp));  // another name was taken
    EXPECT_EQ("mine", dir.Read("victim.txt"));
    EXPECT_EQ(0, Fs_DiscardTemp(temp));
}

TEST(FsTest, ListingOfKindsOnlyTellsEveryEntryAsTheFullListingDoes) {
    TempDir dir;
    dir.Write("file.htm", "12345");
    dir.Write(".hidden.htm", "");
    dir.Write("real/inner.htm", "x");
    ASSERT_EQ(0, chmod((dir.path() + "/file.htm").c_str(), 0444));
    ASSERT_EQ(0, mkfifo((dir.path() + "/fifo.htm").c_str(), 0644));
    for (const auto& [link, target] : {std::pair{"flink.htm", "file.htm"},
                                       {"dlink.htm", "real"},
                                       {"broken.htm", "missing"},
                                       {"null.htm", "/dev/null"}})
        ASSERT_EQ(0, symlink(target, (dir.path() + "/" + link).c_str()));
    const auto kinds = [&](bool kindsOnly) {
        std::vector<std::pair<std::string, uint32_t>> entries;
        Fs_FindData fd;
        int state;
        const std::string pattern = dir.inside() + "\\*.*";
        intptr_t h = Fs_FindFirstMax(pattern.c_str(), &fd, 100, &state, kindsOnly);
        EXPECT_NE(-1, h);
        do
            entries.emplace_back(fd.name,
                                 fd.attrib & (Fs_Attr_SubDir | Fs_Attr_Device | Fs_Attr_Hidden));
        while (Fs_FindNext(h, &fd) == 0);
        Fs_FindClose(h);
        return entries;
    };
    const auto full = kinds(false);
    EXPECT_EQ(10u, full.size());  // . .. and the eight entries
    EXPECT_EQ(full, kinds(true));
}

}  // namespace
