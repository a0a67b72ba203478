#include "components/strx.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "components/bigstack.h"
#include "platform/fs.h"

#include "support/strxtest.h"

namespace {

// ---- Paths --------------------------------------------------------------

// Path edits that write into a caller's buffer: what they leave there, and
// never a byte past its size.
TEST_F(StrXTest, PathEditsStayInsideTheirSize) {
    auto join = [](const char* part) { return [=](char* b) { StrX_JoinPath(b, part); }; };
    auto move = [](const char* folder) { return [=](char* b) { StrX_MoveToFolder(b, folder); }; };
    auto clean = [](char* b) { StrX_CleanDots(b); };
    ExpectBounded({
        {"Join a drive path", 64, "C:\\a", join("D:\\x"), "D:\\x"},
        {"Join after 表", 64, "C:\\" + kHyo, join("b"), "C:\\" + kHyo + "\\b"},
        {"Move up", 64, "C:\\a\\x.txt", move("..\\b"), "C:\\b\\x.txt"},
        {"Move a bare name", 64, "x.txt", move("bk"), "bk\\x.txt"},
        {"SetExt", 16, "a.htm", [](char* b) { StrX_SetExt(b, "txt"); }, "a.txt"},
        {"CleanDots, leading steps stay", 64, "..\\..\\a", clean, "..\\..\\a"},
        {"CleanDots", 64, "..\\a\\..\\b", clean, "..\\b"},
        {"CleanDots .\\", 64, ".\\a", clean, "a"},
        {"CleanDots, of two steps the second stays", 64, "x\\.\\.\\y", clean, "x\\.\\y"},
        {"CleanDots, a name ending in dots is no step", 64, "a..\\b", clean, "a..\\b"},
        {"CleanDots with a drive", 64, "C:\\a\\..\\..\\b", clean, "C:\\b"},
        {"CleanDots at the root", 64, "\\..\\x", clean, "\\x"},
        {"CleanDots, .\\ after a 0x5C trail byte", 64, "a" + kHyo + ".\\b", clean,
         "a" + kHyo + ".\\b"},
    });
}

std::string AbsPath(const std::string& path, const std::string& folder, int size = 260) {
    return Bounded(size, path, [&](char* b) { StrX_AbsPath(b, size, folder.c_str()); });
}

TEST_F(StrXTest, AbsPathJoinsRelativePaths) {
    // Rows: path, folder, the joined path.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"travel\\kyoto.htm", "C:\\pages", "C:\\pages\\travel\\kyoto.htm"},
        {"..\\b.htm", "C:\\pages\\sub", "C:\\pages\\b.htm"},
        {".", "C:\\pages", "C:\\pages\\"},
        {"http:x", "C:\\pages", "http:x"},
        {"a.htm", "http://host/dir/", "http://host/dir/a.htm"},  // folder ends in a slash
        {"a.htm", "C:\\pages\\", "C:\\pages\\a.htm"},
        {"\\home\\u\\a.htm", "C:\\pages", "\\home\\u\\a.htm"},
        {"..\\..\\..\\a.htm", "C:\\p\\q", "C:\\a.htm"},       // never above the drive
        {"..\\..\\a.htm", "\\home", "\\a.htm"},               // never above the root
        {"a.htm", "C:\\" + kHyo, "C:\\" + kHyo + "\\a.htm"},  // 0x5C trail byte
        {kHyo + ".", "C:\\x", "C:\\x\\" + kHyo + "."},        // no separator-and-dot
    };
    for (const auto& [path, folder, want] : cases)
        EXPECT_EQ(AbsPath(path, folder), want) << path << " in " << folder;
    EXPECT_EQ(AbsPath("abcdef", "C:\\x", 8), "C:\\x\\ab");
    EXPECT_EQ(AbsPath("ab" + kHyo, "C:\\x", 8), "C:\\x\\ab");  // 表 does not fit whole
    EXPECT_EQ(AbsPath("a", "C:\\" + std::string(600, 'f'), 1000).size(), 511u);
    char keep[8] = "ab";
    EXPECT_STREQ(StrX_AbsPath(keep, 0, "C:\\x"), "ab");
}

TEST_F(StrXTest, RelativeAndRootedPaths) {
    // Rows: path, relative, rooted.
    const std::tuple<std::string, bool, bool> cases[] = {
        {"a\\b.htm", true, false},       {"", true, false},         {"a/b:", true, false},
        {"http://host/", true, true},  // the separator follows ':'
        {"C:\\a", false, true},          {"C:a", false, false},     {"/home/u", false, true},
        {"\\\\srv\\share", false, true}, {kHyo + "a", true, false},
    };
    for (const auto& [path, relative, rooted] : cases) {
        EXPECT_EQ(StrX_IsRelativePath(path.c_str()), relative) << path;
        EXPECT_EQ(StrX_IsRootedPath(path.c_str()), rooted) << path;
    }
}

TEST_F(StrXTest, PathToUrl) {
    std::string spacesUrl = "file:///C|/";
    for (int i = 0; i < 120; i++) spacesUrl += "%20";
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\a b.htm", "file:///C|/a%20b.htm"},
        {"\\\\srv\\share\\a.htm", "file://srv/share/a.htm"},
        {"\\home\\u\\a b.htm", "file:///home/u/a%20b.htm"},
        {"C:\\" + kHyo + "\\a.htm", "file:///C|/" + kHyo + "/a.htm"},
        {"C:\\" + std::string(120, ' '), spacesUrl.substr(0, 259)},  // cut to 259 bytes
    };
    for (const auto& [path, url] : cases) {
        EXPECT_EQ(Bounded(260, "", [&](char* b) { StrX_PathToUrl(b, path.c_str()); }), url) << path;
        EXPECT_EQ(Bounded(260, path, [](char* b) { StrX_PathToUrl(b, b); }), url) << path;
    }
}

TEST_F(StrXTest, AbsPathAgainstFileProgramAndWorkingFolder) {
    char path[260] = "..\\c.htm";
    EXPECT_STREQ(StrX_AbsPathOfFile(path, sizeof path, "C:\\site\\sub\\a.htm"), "C:\\site\\c.htm");
    StrX_SetExePath("\\opt\\tessaly\\bin\\tessaly");
    char out[260];
    EXPECT_STREQ(StrX_AbsPathExe(out, "..\\share\\outframe.htm", sizeof out),
                 "\\opt\\tessaly\\share\\outframe.htm");
    EXPECT_EQ(Bounded(12, "", [](char* b) { StrX_AbsPathExe(b, "vark.ini", 12); }),
              "\\opt\\tessal");
    char cwd[260];
    Fs_GetCwd(cwd, 255);
    char same[260] = "a.htm";
    EXPECT_EQ(std::string(StrX_AbsPathCwd(same, same, sizeof same)), std::string(cwd) + "\\a.htm");
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // the scratch buffers were released
}

// ---- Relative paths --------------------------------------------------------

TEST_F(StrXTest, RelPathExamples) {
    // Rows: path, base, the result.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"C:\\home\\site\\travel\\kyoto.htm", "C:\\home\\site", "travel\\kyoto.htm"},
        {"C:\\home\\other\\a.htm", "C:\\home\\site", "..\\other\\a.htm"},
        {"C:\\home\\site\\", "C:\\home\\site", ".\\"},
        {"C:\\home\\site/", "C:\\home\\site", "./"},
        {"D:\\x\\y.htm", "C:\\home\\site", "D:..\\..\\x\\y.htm"},
        {"c:\\home\\x.htm", "C:\\Home", "x.htm"},
        {"C:\\home\\sitex\\a.htm", "C:\\home\\site", "..\\sitex\\a.htm"},
        {"C:\\home\\x.htm", "\\home", "x.htm"},    // drive dropped
        {"\\home\\x.htm", "C:\\home", ""},         // base has a drive, path none
        {"a\\x.htm", "b\\c", "..\\..\\a\\x.htm"},  // no common separator
        {"\\x\\a.htm", "b\\c", "\\x\\a.htm"},      // one rooted: unchanged
        // A 0x5C trail byte is no separator, and trail bytes compare exactly.
        {"C:\\home\\\x95\x5Cx\\a.htm", "C:\\home\\\x95\x5C", "..\\\x95\x5Cx\\a.htm"},
        {"C:\\home\\\x95\x5C\\a.htm", "C:\\home\\\x95\x5C", "a.htm"},
        {"C:\\\x82\x61\\a.htm", "C:\\\x82\x41", "..\\\x82\x61\\a.htm"},
    };
    for (const auto& [path, base, want] : cases)
        EXPECT_EQ(Bounded(260, path, [&](char* b) { StrX_RelPath(b, 260, base); }), want)
            << path << " against " << base;
}

TEST_F(StrXTest, RelPathNeverWritesPastLimit) {
    const std::string path = "D:\\x\\y.htm", full = "D:..\\..\\..\\x\\y.htm";
    for (int limit = 1; limit <= static_cast<int>(full.size()) + 1; limit++) {
        std::string got = Bounded(std::max(limit, 11), path,
                                  [&](char* b) { StrX_RelPath(b, limit, "C:\\a\\b\\c"); });
        EXPECT_LT(static_cast<int>(got.size()), limit) << limit << ": " << got;
        EXPECT_EQ(full.compare(0, got.size(), got), 0) << limit << ": " << got;
        EXPECT_TRUE(limit != 8 || got == "D:..\\") << got;  // whole groups only
        EXPECT_TRUE(limit <= static_cast<int>(full.size()) || got == full) << got;
    }
    char buf[16] = "C:\\a\\\x95\x5C";
    EXPECT_STREQ(StrX_RelPath(buf, 2, "C:\\a"), ".");  // nothing fitted: the empty result
    strcpy(buf, "C:\\a\\x\x95\x5C");
    EXPECT_STREQ(StrX_RelPath(buf, 3, "C:\\a"), "x");  // not cut inside a character
}

TEST_F(StrXTest, RelPathToFileLinksAndLists) {
    const char* base = "C:\\home\\index.htm";
    char out[260] = "C:\\home\\travel\\k.htm";
    EXPECT_STREQ(StrX_RelPathToFile(out, sizeof out, base), "travel\\k.htm");
    strcpy(out, "C:\\home\\index.htm#top");
    EXPECT_STREQ(StrX_RelLink(out, sizeof out, "C:\\home\\index.htm#x"), "#top");
    EXPECT_STREQ(StrX_PathList(out, "a.htm, sub\\b.htm", sizeof out, base),
                 "C:\\home\\a.htm, C:\\home\\sub\\b.htm");
    // Overflow: out keeps what fits and the report is 102.
    const char* two = "C:\\home\\a.htm,C:\\home\\bb.htm";  // "a.htm, bb.htm": 13 bytes
    memset(out, 'G', sizeof out);
    EXPECT_EQ(CaughtCode([&] { StrX_RelPathList(out, two, 13, base); }), 102);
    EXPECT_STREQ(out, "a.htm");
    EXPECT_EQ(std::string(out + 6, 11), std::string(11, 'G'));
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // scratch released before the raise
}

TEST_F(StrXTest, ReplaceBaseMovesPathToNewFolder) {
    // Rows: path, old folder, new folder, the code raised, what out holds (12 bytes).
    const std::tuple<const char*, const char*, const char*, int, const char*> cases[] = {
        {"C:\\o\\s\\a", "C:\\o\\", "D:\\n\\", 0, "D:\\n\\s\\a"},
        {"C:\\o", "C:\\o", "D:\\n", 0, "D:\\n\\"},
        {"C:\\ox\\a", "C:\\o", "D:\\n", 102, ""},                    // not inside the old folder
        {"C:\\", "C:\\o", "D:\\n", 102, ""},                         // shorter than the folder
        {"C:\\o\\abcdef", "C:\\o", "D:\\n", 0, "D:\\n\\abcdef"},     // exact fit
        {"C:\\o\\abcdefg", "C:\\o", "D:\\n", 102, "D:\\n\\abcdef"},  // one byte over
    };
    for (const auto& [path, oldFolder, newFolder, code, want] : cases) {
        char out[12 + 4];
        memset(out, 'G', sizeof out);
        EXPECT_EQ(CaughtCode([&] { StrX_ReplaceBase(path, oldFolder, newFolder, out, 12); }), code)
            << path;
        EXPECT_STREQ(out, want) << path;
        EXPECT_EQ(std::string(out + 12, 4), "GGGG") << path;
    }
}

// ---- Path parts --------------------------------------------------------------

TEST_F(StrXTest, FolderAndFileNameParts) {
    // Rows: path, its folder (CutFileName, GetFolder), its name (GetFileName).
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"C:\\a\\b\\", "C:\\a", "b"},
        {"C:\\a", "C:\\", "a"},
        {"C:/a/b.htm", "C:/a", "C:/a/b.htm"},  // only the backslash separates names
        {"name.htm", "", "name.htm"},
        {"\\", "", ""},
        {"C:\\\x95\x5C", "C:\\", "\x95\x5C"},  // a 0x5C trail byte is no separator
        {"C:\\d\\\x95\x5C\\", "C:\\d", "\x95\x5C"},
    };
    char out[260];
    for (const auto& [path, folder, name] : cases) {
        EXPECT_EQ(Bounded(260, path, [&](char* b) { StrX_CutFileName(b); }), folder) << path;
        EXPECT_STREQ(StrX_GetFolder(out, path), folder) << path;
        EXPECT_STREQ(StrX_GetFileName(out, path), name) << path;
    }
    const char* path = "C:\\a\\b\\";
    EXPECT_EQ(StrX_GetFileNamePtr(path), path + 5);
    const char* p = "C:\\a.d\\b";
    EXPECT_EQ(StrX_GetExt(p), p + 5);  // the last dot of the whole path
    EXPECT_STREQ(StrX_FileNameToIdent(out, "C:\\dir\\3d-view.htm"), "_3d_view");
    EXPECT_STREQ(StrX_WildRename(out, "x*y", "pre-mid-post", "pre-*-post"), "xmidy");
    TempDir dir;
    dir.Write("Pages/Sub/a.htm", "x");
    const std::string root = dir.inside();
    EXPECT_EQ(StrX_LongPath(out, (root + "\\pages\\SUB\\A.HTM").c_str()),
              root + "\\Pages\\Sub\\a.htm");
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // scratch released
}

}  // namespace
