#include "components/strx.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <iconv.h>
#include <string>
#include <tuple>
#include <vector>

#include "components/bigstack.h"
#include "platform/fs.h"
#include "support/testsupport.h"

namespace {

class StrXTest : public LibraryTest {};

constexpr char kGuard = '\xA5';
const std::string kHyo = "\x95\x5C";  // 表: its trail byte is the backslash
const std::string kA = "\x83\x41";    // ア: its trail byte is the letter A

// Runs op on room bytes that start as init (room > init.size()), followed by
// guard bytes. Returns the text left there, "(untouched)" when room is 0 and
// nothing was written, with " GUARD" added when a byte past room changed.
std::string Bounded(int room, const std::string& init, const std::function<void(char*)>& op) {
    std::vector<char> buf(static_cast<size_t>(room) + 16, kGuard);
    if (room > 0) memcpy(buf.data(), init.c_str(), init.size() + 1);
    op(buf.data());
    bool intact = std::all_of(buf.begin() + room, buf.end(), [](char c) { return c == kGuard; });
    std::string text =
        room > 0 ? std::string(buf.data(), strnlen(buf.data(), buf.size())) : "(untouched)";
    return intact ? text : text + " GUARD";
}

// what, room, init, op, the text Bounded returns.
using BoundedCase =
    std::tuple<const char*, int, std::string, std::function<void(char*)>, std::string>;

void ExpectBounded(std::initializer_list<BoundedCase> cases) {
    for (const auto& [what, room, init, op, want] : cases)
        EXPECT_EQ(Bounded(room, init, op), want) << what;
}

// Splits every field of text; "|" joins the fields in the result.
std::string SplitAll(const std::string& text) {
    std::string joined;
    std::vector<char> buf(text.size() + 1);
    for (const char* p = text.c_str(); p;) {
        p = StrX_SplitField(buf.data(), p);
        joined += std::string(buf.data()) + (p ? "|" : "");
    }
    return joined;
}

// ---- Fields -------------------------------------------------------------

TEST_F(StrXTest, FieldsQuoteSplitAndCutInsideTheirSize) {
    // Rows: a value and its field; the field splits back to the value.
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a b", "a b"},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\ttab\t", "\ttab\t"},  // tabs are not blanks
        {kHyo + "\x8C\x5C", kHyo + "\x8C\x5C"}};
    for (const auto& [value, quoted] : cases) {
        EXPECT_EQ(Bounded(64, "", [&](char* b) { StrX_QuoteField(b, value.c_str(), 64); }), quoted)
            << value;
        EXPECT_EQ(SplitAll(quoted), value) << quoted;
    }
    const std::pair<const char*, const char*> splits[] = {
        {"a, b,c", "a|b|c"}, {"  a  ,b", "a|b"},      {"a\t,b", "a\t|b"},
        {"a,,b", "a||b"},    {"\"x\"junk, y", "x|y"}, {"\"open, no close", "open, no close"},
        {"a, ", "a|"}};
    for (const auto& [text, fields] : splits) EXPECT_EQ(SplitAll(text), fields) << text;
    char text[] = "\"a\"\"b\" , next";
    EXPECT_STREQ(StrX_SplitField(text, text), " next");  // in place
    EXPECT_STREQ(text, "a\"b");

    auto quote = [](std::string value, int size) {
        return [=](char* b) { StrX_QuoteField(b, value.c_str(), size); };
    };
    auto field = [](std::string list, int n) {
        return [=](char* b) { StrX_GetField(list.c_str(), n, b, 4); };
    };
    ExpectBounded({
        {"Quote size 0", 0, "", quote("a,b", 0), "(untouched)"},
        {"Quote no room for \"\"", 2, "", quote("a,b", 2), ""},
        {"Quote exact fit", 6, "", quote("a,b", 6), "\"a,b\""},
        {"Quote one short", 5, "", quote("a,b", 5), "\"a,\""},
        {"Quote keeps doubled quotes whole", 5, "", quote("a\"b", 5), "\"a\""},
        {"Quote keeps 表 whole", 4, "", quote("ab" + kHyo, 4), "ab"},
        {"Quote drops blanks the cut leaves", 5, "", quote("ab  cd", 5), "ab"},
        {"GetField cut", 4, "", field("x,abcdef", 2), "abc"},
        {"GetField keeps 表 whole", 4, "", field("ab" + kHyo, 1), "ab"},
    });
    char out[16];
    EXPECT_STREQ(StrX_GetField("a, \"b,c\" ,d", 2, out, sizeof out), "b,c");
    EXPECT_EQ(StrX_FieldIndex("Alpha, \"b,eta\"", "ALPHA", false), 1);
    // Case folding never applies to a trail byte: ア (0x83 'A') is not 0x83 'a'.
    EXPECT_EQ(StrX_FieldIndex(("x," + kA).c_str(), "\x83\x61", false), -1);
    const char* l = "ab,cd,ef";
    EXPECT_EQ(StrX_FieldNumAt(l, l + 3), 2);
}

// ---- Bounded copying and editing ----------------------------------------

// Every operation that writes into a caller's buffer: what it leaves there,
// and never a byte past its size.
TEST_F(StrXTest, CopiesAndEditsStayInsideTheirSize) {
    auto copyN = [](std::string t, int n) { return [=](char* b) { StrX_CopyN(b, t.c_str(), n); }; };
    auto catN = [](const char* t, int n) { return [=](char* b) { StrX_CatN(b, t, n); }; };
    const std::string hyoPath = "C:\\" + kHyo + "\\a";
    auto addLast = [](char* b) { StrX_AddLastChar(b, '\\'); };
    auto cutLast = [](char* b) { StrX_CutLastChar(b, '\\'); };
    auto replace = [](int size, const char* pattern, const char* replacement) {
        return [=](char* b) { StrX_ReplaceStr(b, size, pattern, replacement); };
    };
    auto join = [](const char* part) { return [=](char* b) { StrX_JoinPath(b, part); }; };
    auto move = [](const char* folder) { return [=](char* b) { StrX_MoveToFolder(b, folder); }; };
    auto escape = [](std::string text, int size) {
        return [=](char* b) { StrX_HtmlEscape(text.c_str(), b, size); };
    };
    auto clean = [](char* b) { StrX_CleanDots(b); };
    ExpectBounded({
        {"CopyN exact fit", 4, "", copyN("abc", 4), "abc"},
        {"CopyN one over", 4, "", copyN("abcd", 4), "abc"},
        {"CopyN size 1", 1, "", copyN("abc", 1), ""},
        {"CopyN size 0", 0, "", copyN("abc", 0), "(untouched)"},
        {"CopyN size -5", 0, "", copyN("abc", -5), "(untouched)"},
        {"CopyN cuts byte-wise", 3, "", copyN("a" + kHyo, 3), "a\x95"},
        {"CopyPart by size", 4, "", [](char* b) { StrX_CopyPart(b, "abcdef", 3, 10); }, "abc"},
        {"CopyPart by n", 8, "", [](char* b) { StrX_CopyPart(b, "abcdef", 10, 2); }, "ab"},
        {"CopyUntil by size", 4, "", [](char* b) { StrX_CopyUntil(b, 3, "abcdef", 'z'); }, "abc"},
        {"CopyUntil stop", 8, "", [](char* b) { StrX_CopyUntil(b, 7, "key=v", '='); }, "key"},
        {"CatN exact fit", 5, "ab", catN("cd", 4), "abcd"},
        {"CatN one over", 5, "ab", catN("cde", 4), "abcd"},
        {"AddLastChar after 表", 16, "C:\\" + kHyo, addLast, "C:\\" + kHyo + "\\"},
        {"CutLastChar takes a trail byte", 16, "C:\\" + kHyo, cutLast, "C:\\\x95"},
        {"CutLast", 16, "abc", [](char* b) { StrX_CutLast(b); }, "ab"},
        {"CutLastN beyond", 16, "abc", [](char* b) { StrX_CutLastN(b, 9); }, ""},
        {"CutHead", 16, "abcdef", [](char* b) { StrX_CutHead(b, 2); }, "cdef"},
        {"InsertHead", 16, "tail", [](char* b) { StrX_InsertHead(b, "head-"); }, "head-tail"},
        {"InsertHead2", 16, "tail", [](char* b) { StrX_InsertHead2("<", b); }, "<tail"},
        {"Trim", 16, "\t a b \r\n\v\f", [](char* b) { StrX_Trim(b); }, "a b"},
        {"TrimQuotes", 16, "  \"\"a \"b\"\" ", [](char* b) { StrX_TrimQuotes(b); }, "a \"b"},
        {"RemoveCrLfTab", 16, "\ta\r\nb\tc\n", [](char* b) { StrX_RemoveCrLfTab(b); }, "abc"},
        {"ReplaceChar keeps the trail byte", 16, hyoPath,
         [](char* b) { StrX_ReplaceChar(b, '\\', '/'); }, "C:/" + kHyo + "/a"},
        {"ReplaceByte takes it", 16, hyoPath, [](char* b) { StrX_ReplaceByte(b, '\\', '/'); },
         "C:/\x95//a"},
        {"ToLower", 16, "", [](char* b) { StrX_ToLower(b, "Ab\x83\x41Z"); }, "ab\x83\x41z"},
        {"ToUpper", 16, "", [](char* b) { StrX_ToUpper(b, "Ab\x83\x61z"); }, "AB\x83\x61Z"},
        {"ReplaceStr never rescans", 32, "aaa", replace(32, "a", "aa"), "aaaaaa"},
        {"ReplaceStr exact fit", 6, "a b", replace(6, " ", "%20"), "a%20b"},
        {"ReplaceStr tail cut", 5, "a b", replace(5, " ", "%20"), "a%20"},
        {"ReplaceStr not on a trail byte", 32, kA + "A", replace(32, "A", "b"), kA + "b"},
        {"ReplaceStrNum", 32, "p %d of %d", [](char* b) { StrX_ReplaceStrNum(b, 32, "%d", -42); },
         "p -42 of -42"},
        {"Join a drive path", 64, "C:\\a", join("D:\\x"), "D:\\x"},
        {"Join after 表", 64, "C:\\" + kHyo, join("b"), "C:\\" + kHyo + "\\b"},
        {"Move up", 64, "C:\\a\\x.txt", move("..\\b"), "C:\\b\\x.txt"},
        {"Move a bare name", 64, "x.txt", move("bk"), "bk\\x.txt"},
        {"SetExt", 16, "a.htm", [](char* b) { StrX_SetExt(b, "txt"); }, "a.txt"},
        {"HtmlEscape, an entity that does not fit", 6, "", escape("a&b", 6), "a"},
        {"HtmlEscape exact fit", 8, "", escape("a&b", 8), "a&amp;b"},
        {"HtmlEscape all entities", 32, "", escape("<x>\"", 32), "&lt;x&gt;\""},
        {"HtmlEscape size 0", 0, "", escape("abc", 0), "(untouched)"},
        {"HtmlEscape, 表 does not fit", 3, "", escape("a" + kHyo, 3), "a"},
        {"HtmlEscape, a lead byte ends the text", 8, "", escape("a\x95", 8), "a\x95"},
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
    EXPECT_EQ(StrX_LastChar(("a" + kHyo).c_str()), 0x5C);
}

// ---- Searching and classification ---------------------------------------

TEST_F(StrXTest, SearchesSkipTrailBytes) {
    EXPECT_STREQ(StrX_FindStrI("xaabcx", "ABC"), "abcx");
    // A match may begin on a trail byte, but a trail byte is compared exactly.
    EXPECT_EQ(StrX_FindStrI(kA.c_str(), "A"), kA.c_str() + 1);
    EXPECT_EQ(StrX_FindStrI(kA.c_str(), "a"), nullptr);

    const char* text = "ab,cd,ef";
    EXPECT_EQ(StrX_FindCharBack(text, text + 5, ','), text + 6);  // from itself

    std::string path = "a" + kHyo + "b\\c" + kHyo;
    const char* p = path.c_str();
    EXPECT_EQ(StrX_FindLastChar(p, '\\'), p + 4);
    EXPECT_EQ(StrX_FindLastByte(p, '\\'), p + 7);  // byte-wise: the trail byte
    EXPECT_EQ(StrX_FindAnyByte(p, "\\/"), p + 2);
    EXPECT_EQ(StrX_FindAnyChar(p, "\\/"), p + 4);
    EXPECT_STREQ(StrX_FindLastStr("abcabc", "bc"), "bc");
    EXPECT_STREQ(StrX_FindWord("subword word_x word", "word"), "word");
    const char* table[] = {"a", nullptr, "b", "c"};
    EXPECT_EQ(StrX_FindInTable("c", table, 3 * sizeof(char*)), nullptr);  // outside the size
}

TEST_F(StrXTest, ClassificationIsAsciiOnly) {
    for (int b : {' ', '\t', '\r', '\n', '\v', '\f'}) EXPECT_TRUE(StrX_IsSpace(b)) << b;
    for (int b : {0, int{'a'}, 0x85, 0xA0, 0xFF}) EXPECT_FALSE(StrX_IsSpace(b)) << b;
    EXPECT_FALSE(StrX_IsBlank(" \xA0"));
    EXPECT_TRUE(StrX_IsWordBreak(0xC1));
    EXPECT_TRUE(StrX_IsValidFileName((kHyo + ".htm").c_str()));  // 0x5C trail byte
    for (const char* bad : {".hidden", "a\\b", "a/b", "c:", "a,b", "a*", "a?", "a\"", "a|"})
        EXPECT_FALSE(StrX_IsValidFileName(bad)) << bad;
    EXPECT_EQ(StrX_Hash("\xFF", 1000), 255);  // bytes count unsigned
}

TEST_F(StrXTest, WildCmp) {
    // Rows: pattern, text, the result.
    const std::tuple<const char*, const char*, int> cases[] = {
        {"*.htm", "a.htm", 0},         {"?b", "ab", 0},      {"a*c", "ac", 0},
        {"abc", "abd", 'c' - 'd'},     {"ab", "abc", -'c'},  {"abc", "ab", 'c'},
        {"*.htm", "a.hxm", 't' - 'x'},                        // leftmost mismatch of the tail
        {"*.htm", "a.txt", 'h' - 't'}, {"*.htm", "htm", -1},  // shorter than the tail
        {"\x95", "a", -107 - 'a'},                            // signed 8-bit difference
    };
    for (const auto& [pattern, text, want] : cases)
        EXPECT_EQ(StrX_WildCmp(pattern, text), want) << pattern << " ~ " << text;
}

// ---- Paths --------------------------------------------------------------

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

// ---- Japanese encodings -------------------------------------------------

TEST_F(StrXTest, DetectCodeAndCharsetNames) {
    // Shift_JIS half-width kana (0xB1...) reads as EUC.
    const std::pair<const char*, int> cases[] = {
        {"", StrX_Code_Ascii},        {"a\x1b$B\x30\x21", StrX_Code_Jis},
        {"\x1b(I1", StrX_Code_Euc},   {"\x95\x5C", StrX_Code_Sjis},
        {"\x8E\xEC", StrX_Code_Sjis}, {"\x8E\xED", StrX_Code_Euc},
        {"\x8E\x7F", StrX_Code_Euc},  {"ab\xB1\xB2\xB3", StrX_Code_Euc}};
    for (const auto& [text, code] : cases) EXPECT_EQ(StrX_DetectCode(text), code) << text;

    const std::pair<const char*, int> names[] = {
        {"windows-31j", StrX_Code_Sjis}, {"EUC-JP", StrX_Code_Euc},
        {"ISO-2022-JP", StrX_Code_Jis},  {"UTF8", StrX_Code_Utf8},
        {"utf-8 ", StrX_Code_Ascii},     {nullptr, StrX_Code_Ascii}};
    for (const auto& [name, code] : names) EXPECT_EQ(StrX_CharsetCode(name), code);
}

TEST_F(StrXTest, PageCodeIsDecidedFromBothTextsByWhatEachEncodingCanForm) {
    struct Case {
        const char* title;
        bool titleCut;
        const char* keywords;
        bool keywordsCut;
        int code;
    };
    const Case cases[] = {
        {"", false, "", false, StrX_Code_Ascii},
        {"Cafe", false, "tea; cake", false, StrX_Code_Ascii},
        // An escape anywhere; ESC ( J alone counts too.
        {"Cafe", false, "\x1b$B5~ET\x1b(B", false, StrX_Code_Jis},
        {"a\x1b(Jb", false, "\x95\x5C", false, StrX_Code_Jis},
        // UTF-8 in one text, ASCII in the other; a cut text may end inside a
        // character, an uncut one may not.
        {"\xE4\xBA\xAC\xE9\x83", true, "", false, StrX_Code_Utf8},
        {"Kyoto", false, "\xE4\xBA\xAC", false, StrX_Code_Utf8},
        {"\xE4\xBA\xAC\xE9\x83", false, "", false, StrX_Code_Sjis},
        // Shift_JIS level-2 kanji and half-width kana first (E0 D9 E0 E6 珈琲,
        // B6 DA B0 ｶﾚｰ): a byte EUC-JP cannot form later decides.
        {"Cafe", false, "\xE0\xD9\xE0\xE6; \x83\x50\x81\x5B\x83\x4C", false, StrX_Code_Sjis},
        {"\xC3\xBD\xC4 page", false, "\xB6\xDA\xB0; \xD7\xB2\xBD", false, StrX_Code_Sjis},
        {"\xE0\xD9\xE0\xE6", false, "", false, StrX_Code_Sjis},  // both read: no half-width kana
        // EUC-JP: bytes 0xFD and 0xFE and a lone 0xA0-0xFE pair end only here;
        // 0x8E before kana and 0x8F before two bytes are EUC-JP's own.
        {"\xB5\xFE\xC5\xD4", false, "", false, StrX_Code_Euc},
        {"\xA4\xCE\xA5\xDA\xA1\xBC\xA5\xB8", false, "", false, StrX_Code_Euc},  // のページ
        {"\x8E\xB1\xB5\xFE", false, "", false, StrX_Code_Euc},
        {"\x8F\xB0\xA1\xFE\xA1", false, "", false, StrX_Code_Euc},
        // Read both ways: the signs of either encoding, then fewer half-width kana.
        {"\xCE\xB0\xD1\xCD\xDF\xB0\xBC\xDE", false, "", false, StrX_Code_Sjis},  // ﾎｰﾑﾍﾟｰｼﾞ
        {"\xB8\xD7\xDE\xB0", false, "", false, StrX_Code_Euc},   // ﾞ after ﾗ: 弊亙 in EUC-JP
        {"\xCC\xBE\xC1\xB0", false, "", false, StrX_Code_Euc},   // 名前
        {"\xAF\xB0\xB1\xB2", false, "", false, StrX_Code_Sjis},  // ｯｰｱｲ: row 15 in EUC-JP
        {"\x8E\xB1\x8E\xB2", false, "", false, StrX_Code_Euc},   // ｱｲ, not 鴫湿
        {"\xD8\xCC\xA7\xDA", false, "", false, StrX_Code_Sjis},  // ﾘﾌｧﾚ: Cyrillic in EUC-JP
        {"\xB5\xFE\xC5", true, "", false, StrX_Code_Euc},
        {"\xE0\xD9\xE0", true, "", false, StrX_Code_Sjis},  // a cut lead byte: both read
        // A Shift_JIS lead byte without its trail, or a byte neither forms.
        {"\xB5\xFE\xC5", false, "", false, StrX_Code_Sjis},
        {"\x95", false, "\xA4\xCE", false, StrX_Code_Sjis},
        {"\x80", false, "", false, StrX_Code_Sjis},
    };
    for (const Case& c : cases) {  // the texts may trade places
        EXPECT_EQ(StrX_DetectPageCode(c.title, c.titleCut, c.keywords, c.keywordsCut), c.code)
            << c.title << " / " << c.keywords << (c.titleCut ? " (title cut)" : "");
        EXPECT_EQ(StrX_DetectPageCode(c.keywords, c.keywordsCut, c.title, c.titleCut), c.code)
            << c.keywords << " / " << c.title << (c.titleCut ? " (keywords cut)" : "");
    }
}

TEST_F(StrXTest, HtmlUnescapeDecodesReferencesAndLeavesOtherTextAlone) {
    const std::string geta = "\x81\xAC", hyo = "\x95\x5C";
    const std::pair<std::string, std::string> cases[] = {
        {"Tom &amp; Jerry", "Tom & Jerry"},
        {"&lt;b&gt; &quot;q&quot; &apos;", "<b> \"q\" '"},
        {"A&nbsp;B&ensp;C", "A B C"},
        {"A &ndash; B &mdash; C", "A - B \x81\x5C C"},
        {"&hellip;&lsquo;&rdquo;&times;&alpha;&Omega;&sigmaf;",
         "\x81\x63\x81\x65\x81\x68\x81\x7E"
         "\x83\xBF\x83\xB6" +
             geta},
        {"&#20140;&#x90FD;&#X90fd;&#38;", "\x8B\x9E\x93\x73\x93\x73&"},
        {"&copy; &#x1F600; &#0; &#27; &#x110000; &#99999999999;",
         geta + " " + geta + " " + geta + " " + geta + " " + geta + " " + geta},
        {"&#150;&#128;&#129;", "-" + geta + geta},  // Windows-1252's en dash and euro sign
        {"a&shy;b&#x200B;c&#10;d", "abc\nd"},
        // Not references: stay as written.
        {"AT&T &amp &#38 &#; &#x; &unknown; & ; &&", "AT&T &amp &#38 &#; &#x; &unknown; & ; &&"},
        {"&AMP;&Amp;", "&&Amp;"},
        // Shift_JIS text around them keeps its bytes (trail bytes 0x5C and letters).
        {hyo + "&amp;" + hyo + "\x83\x41&lt;", hyo + "&" + hyo + "\x83\x41<"},
        {"", ""}};
    for (const auto& [text, decoded] : cases) {
        char buf[128];
        strcpy(buf, text.c_str());
        EXPECT_EQ(StrX_HtmlUnescape(buf), decoded) << text;
    }
}

TEST_F(StrXTest, ToSjisFromCutsAtWholeCharacters) {
    const std::string kyoto = "\x8B\x9E\x93\x73", kyo = "\x8B\x9E";  // 京都, 京
    const std::string utf8 = "\xE4\xBA\xAC\xE9\x83\xBD";
    // Rows: text, its encoding, size, the result.
    const std::tuple<std::string, int, int, std::string> cases[] = {
        {kyoto, StrX_Code_Sjis, 4, kyo},   {"\x1b$B5~ET\x1b(B", StrX_Code_Jis, 6, kyo},
        {utf8, StrX_Code_Utf8, 16, kyoto}, {"\xB5\xFE\xC5\xD4", StrX_Code_Euc, 4, kyo},
        {utf8, StrX_Code_Utf8, 4, kyo},    {utf8, StrX_Code_Utf8, 1, ""}};
    for (const auto& [text, code, size, want] : cases) {
        EXPECT_EQ(Bounded(size, "", [&](char* b) { StrX_ToSjisFrom(b, size, text.c_str(), code); }),
                  want)
            << code << " " << size;
    }
    char broken[] = "a\x95\x5C\x95";
    EXPECT_STREQ(StrX_TrimBrokenChar(broken), "a\x95\x5C");
    EXPECT_STREQ(StrX_TrimBrokenChar(broken), "a\x95\x5C");  // a whole character stays
}

std::string JisText(const std::string& body) {
    return "\x1b$B" + body + "\x1b(B";
}

// Converts text with fn into a buffer of its length and a NUL, followed by
// guard bytes (" GUARD" added when one changed).
std::string Convert(char* (*fn)(char*, const char*), const std::string& text) {
    return Bounded(static_cast<int>(text.size()) + 1, "", [&](char* b) { fn(b, text.c_str()); });
}

// What iconv makes of text, or "" when it cannot convert all of it.
std::string Iconv(const char* from, const std::string& text) {
    iconv_t cd = iconv_open("CP932", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "";
    char out[64];
    char *src = const_cast<char*>(text.data()), *dst = out;
    size_t srcLeft = text.size(), dstLeft = sizeof out;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv_close(cd);
    return r == static_cast<size_t>(-1) || srcLeft != 0 ? "" : std::string(out, dst);
}

TEST_F(StrXTest, Jis0208AgreesWithIconvOnEveryRowAndCell) {
    int comparedJis = 0, comparedEuc = 0;
    for (int r = 0x21; r <= 0x7E; r++) {
        for (int t = 0x21; t <= 0x7E; t++) {
            const std::string jis = JisText({static_cast<char>(r), static_cast<char>(t)});
            const std::string euc = {static_cast<char>(r | 0x80), static_cast<char>(t | 0x80)};
            const std::string wantJis = Iconv("ISO-2022-JP", jis), wantEuc = Iconv("EUC-JP", euc);
            comparedJis += !wantJis.empty();
            comparedEuc += !wantEuc.empty();
            EXPECT_EQ(wantJis.empty() ? "" : Convert(StrX_JisToSjis, jis), wantJis)
                << r << " " << t;
            EXPECT_EQ(wantEuc.empty() ? "" : Convert(StrX_EucToSjis, euc), wantEuc)
                << r << " " << t;
        }
    }
    EXPECT_GT(comparedJis, 6800);  // JIS X 0208 has 6879 characters
    EXPECT_GT(comparedEuc, 6800);
    EXPECT_EQ(StrX_JisToSjisCode(0x7E7E), 0xEFFCu);  // unassigned rows too
}

TEST_F(StrXTest, ConverterModesAndEscapes) {
    // Half-width kana 0x21..0x5F in each mode: "!_" is the first and the last.
    EXPECT_EQ(Convert(StrX_JisToSjis, "\x1b(I!_\x1b(Bz"), "\xA1\xDFz");
    EXPECT_EQ(Convert(StrX_JisToSjis, "\x0E!_\x0Fz"), "\xA1\xDFz");
    EXPECT_EQ(Convert(StrX_EucToSjis, "\x8E\xA1\x8E\xDF"), "\xA1\xDF");
    EXPECT_EQ(Convert(StrX_EucToSjis, "\x0E!_\x0Fz"), "\xA1\xDFz");
    EXPECT_EQ(Convert(StrX_JisToSjis, "\x1b$@\x30\x21\x1b(J!"), "\x88\x9F!");
    EXPECT_EQ(Convert(StrX_JisToSjis, "\x1bx"), "\x1bx");  // an unknown escape is a byte
    EXPECT_EQ(Convert(StrX_JisToSjis, JisText("\x30\x21 \x30\x21")), "\x88\x9F \x88\x9F");
    // A lone first byte before an escape is dropped; the escape still works.
    EXPECT_EQ(Convert(StrX_JisToSjis, "\x1b$B\x30\x1b(Bz"), "z");
    EXPECT_EQ(Convert(StrX_ToSjis, "\xB0\xA1"), "\x88\x9F");
    const std::pair<const char*, int> escapes[] = {{"\x1b$@", 4}, {"\x1b$B", 4}, {"\x1b(H", 5},
                                                   {"\x1b(I", 5}, {"\x1b$A", 0}, {"\x1b", 0}};
    for (const auto& [text, kind] : escapes) EXPECT_EQ(StrX_JisEscapeKind(text), kind) << text;
}

TEST_F(StrXTest, CutTextsEndCleanly) {
    // Rows: converter, text, its whole conversion, and for every prefix of the
    // text how many bytes of the whole it gives (never a part of an escape or
    // a character).
    const std::string jis = "a\x1b$B\x30\x21\x30\x22\x1b(Bz", euc = "a\xB0\xA1\xB0\xA2\x8E\xB1z";
    const std::tuple<char* (*)(char*, const char*), std::string, std::string, std::vector<size_t>>
        cases[] = {
            {StrX_JisToSjis, jis, "a\x88\x9F\x88\xA0z", {0, 1, 1, 1, 1, 1, 3, 3, 5, 5, 5, 5, 6}},
            {StrX_EucToSjis, euc, "a\x88\x9F\x88\xA0\xB1z", {0, 1, 1, 3, 3, 5, 5, 6, 7}},
            {StrX_EucToSjis, "a\x1b(", "a", {0, 1, 1, 1}}};
    for (const auto& [fn, text, whole, kept] : cases) {
        ASSERT_EQ(kept.size(), text.size() + 1);
        for (size_t n = 0; n <= text.size(); n++)
            EXPECT_EQ(Convert(fn, text.substr(0, n)), whole.substr(0, kept[n])) << text << " " << n;
    }
}

// ---- String pool and set ------------------------------------------------

TEST_F(StrXTest, MemPoolOfEightBytes) {
    char block[8 + 4];
    memset(block, 'G', sizeof block);
    StrX_Mem mem;
    StrX_Mem_Init(&mem, block, 8);
    EXPECT_EQ(StrX_Mem_Add(&mem, "abc"), block + 1);
    EXPECT_STREQ(StrX_Mem_Add(&mem, "de"), "d");  // the copy keeps one byte free
    EXPECT_EQ(StrX_Mem_Alloc(&mem), block + 7);
    EXPECT_EQ(StrX_Mem_Left(&mem), 0);
    EXPECT_EQ(CaughtCode([&] { StrX_Mem_Alloc(&mem); }), 3180);
    EXPECT_NE(LastText().find(Sjis(u8"アプリ内部のメモリ領域が足りません")), std::string::npos);
    EXPECT_EQ(std::string(block + 8, 4), "GGGG");

    StrX_Mem_Clear(&mem);
    EXPECT_EQ(StrX_Mem_Next(&mem, nullptr), nullptr);   // empty pool
    EXPECT_EQ(StrX_Mem_AddIfNew(&mem, ""), block + 1);  // a real string, not the sentinel
    StrX_Mem_DropLast(&mem);
    for (const char* s : {"a", "", "b"}) StrX_Mem_Add(&mem, s);
    StrX_Mem_Dump(&mem);  // walks with StrX_Mem_Next
    EXPECT_EQ(BoxTexts(boxes_), (std::vector<std::string>{"StrX_Mem:", "  a", "  ", "  b"}));
    char* dropped = mem.last;
    StrX_Mem_DropLast(&mem);
    EXPECT_EQ(StrX_Mem_AddIfNew(&mem, ""), mem.last);     // the empty string is last again
    EXPECT_EQ(StrX_Mem_AddOrSet(&mem, "c"), dropped);     // the dropped bytes are reused
    for (int i = 0; i < 4; i++) StrX_Mem_DropLast(&mem);  // the last drop finds it empty
    EXPECT_EQ(StrX_Mem_Add(&mem, "x"), block + 1);
}

TEST_F(StrXTest, SetFindsAndMatchesWholeMembers) {
    char block[] = "a.htm\0b.txt\0*.htm";  // three members, the last ends in the array's NUL
    StrX_Set set, cut;
    StrX_Set_Init(&set, block, block + sizeof block);
    EXPECT_EQ(StrX_Set_Find(&set, "*.txt"), 1);
    EXPECT_EQ(StrX_Set_Match(&set, "x.htm"), 2);
    StrX_Set_Init(&cut, block, block + 8);  // an unterminated last member is not read
    EXPECT_EQ(StrX_Set_Find(&cut, "b*"), -1);
    StrX_Set_Dump(&set);
    EXPECT_EQ(BoxTexts(boxes_),
              (std::vector<std::string>{"StrX_Set:", "  a.htm", "  b.txt", "  *.htm"}));
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

// ---- Time text ---------------------------------------------------------------

// Sets TZ for one scope and restores the previous value (an empty one as unset).
class TzScope {
   public:
    explicit TzScope(const char* tz) : old_(getenv("TZ") ? getenv("TZ") : "") { Set(tz); }
    ~TzScope() { Set(old_.empty() ? nullptr : old_.c_str()); }

   private:
    static void Set(const char* tz) {
        tz ? setenv("TZ", tz, 1) : unsetenv("TZ");
        tzset();
    }
    std::string old_;
};

TEST_F(StrXTest, TimeTextRoundTripsInTwoZones) {
    for (const char* tz : {"JST-9", "EST5EDT"}) {
        TzScope zone(tz);
        int repeated = 0;
        // Every 7 hours 13 minutes 17 seconds through 2000 and 2001, DST changes included.
        for (time_t t = 946684800; t < 1009843200; t += 7 * 3600 + 13 * 60 + 17) {
            char text[20], again[20];
            time_t back = 0;
            ASSERT_EQ(StrX_TextToTime(&back, StrX_TimeToText(t, text)), 0) << tz << " " << text;
            EXPECT_STREQ(StrX_TimeToText(back, again), text) << tz;
            if (back != t) {
                // Only in the hour a fall-back repeats may the other of the two be taken.
                EXPECT_EQ(std::llabs(static_cast<long long>(back - t)), 3600) << tz << " " << text;
                repeated++;
            }
        }
        EXPECT_LE(repeated, 2) << tz;
    }
    TzScope zone("EST5EDT");
    time_t t = 12345;
    EXPECT_EQ(StrX_TextToTime(&t, "-2147483648/1/1-0:0:0"), 1);  // failure leaves the output
    EXPECT_EQ(t, 12345);
    EXPECT_EQ(StrX_TextToTime(&t, "2000/07/01-12:00:00"), 0);
    EXPECT_EQ(t, 962467200);  // 16:00 UTC: daylight saving chosen by the run-time
    EXPECT_EQ(*StrX_ClearTime(&t), 0);
}

std::string Format(int y, int mo, int d, int h, int mi, int s, const char* format) {
    time_t t = 0;
    EXPECT_EQ(StrX_MakeTime(&t, y, mo, d, h, mi, s), 0);
    char out[128];
    return StrX_FormatTime(t, format, out, sizeof out);
}

TEST_F(StrXTest, FormatTimeWindowsForms) {
    TzScope zone("JST-9");
    const std::pair<const char*, const char*> cases[] = {
        {"%n.%#d.%Y", "Mar.5.2000"},
        {"%#m/%#d %#H:%#M:%#S", "3/5 1:2:3"},
        {"%%#d", "%#d"},
        {"%#x", "Sunday, March 05, 2000"},
        {"%#c", "Sunday, March 05, 2000 01:02:03"},
        {"%#a %#b", "Sun Mar"}};  // '#' ignored, not glibc's case swap
    for (const auto& [format, want] : cases)
        EXPECT_EQ(Format(2000, 3, 5, 1, 2, 3, format), want) << format;
    EXPECT_EQ(Format(2000, 3, 30, 23, 1, 1, "%n.%#d.%Y"), "Mar.30.2000");

    TzScope utc("UTC0");
    auto format = [](int n) { return [=](char* b) { StrX_FormatTime(0, "%n.%#d.%Y", b, n); }; };
    auto timeText = [](int size) { return [=](char* b) { StrX_TimeText(954424861, b, size); }; };
    ExpectBounded({
        {"FormatTime exact fit", 11, "", format(11), "Jan.1.1970"},
        {"FormatTime one short", 10, "", format(10), ""},
        {"FormatTime size 0", 0, "", format(0), "(untouched)"},
        {"TimeText, the C locale's %c", 25, "", timeText(25), "Thu Mar 30 14:01:01 2000"},
        {"TimeText one short", 24, "", timeText(24), ""},
    });
    EXPECT_EQ(strlen(StrX_NowText()), 24u);
    EXPECT_EQ(strlen(StrX_NowFormat("%Y")), 4u);
}

TEST_F(StrXTest, BuildDateTextReadsCompilerDate) {
    TzScope zone("EST5EDT");
    EXPECT_STREQ(StrX_BuildDateText("Mar 30 2000", "23:01:01", "%n.%#d.%Y"), "Mar.30.2000");
    EXPECT_STREQ(StrX_BuildDateText("Mar  5 2000", "23:01:01", "%n.%#d.%Y"), "Mar.5.2000");
    // A name that is not an exact abbreviation is month 13: January of the next year.
    EXPECT_STREQ(StrX_BuildDateText("mar 5 2000", "0:0:0", "%Y/%#m/%#d"), "2001/1/5");
    // A name longer than any buffer is read safely and matches nothing.
    EXPECT_STREQ(StrX_BuildDateText("Marchxxxxxxxxxxxxxxxxxxxxxxxxxxxxx 5 2000", "0:0:0", "%Y"),
                 "2001");
}

TEST_F(StrXTest, SplitSpanAndCompareTimes) {
    // Rows: seconds, then days, hours, minutes and seconds of the span (-1: floor division).
    const std::tuple<double, int, int, int, int> cases[] = {
        {86400 + 3600 + 60 + 1, 1, 1, 1, 1}, {59.9, 0, 0, 0, 59}, {-1, -1, 23, 59, 59}};
    struct tm span;
    for (const auto& [seconds, days, hours, minutes, secs] : cases) {
        StrX_SplitSpan(&span, seconds);
        EXPECT_EQ(std::tie(span.tm_mday, span.tm_hour, span.tm_min, span.tm_sec),
                  std::tie(days, hours, minutes, secs))
            << seconds;
        EXPECT_EQ(std::tie(span.tm_mon, span.tm_year, span.tm_isdst), std::make_tuple(0, 0, -1));
    }
    EXPECT_EQ(StrX_SplitSpan(&span, 1e30)->tm_mday, INT_MAX);  // held to the int range
    EXPECT_EQ(StrX_CompareTimes(3, true, 5, true), -1);
    EXPECT_EQ(StrX_CompareTimes(4, true, 9, false), 2);  // a valid time is the later
}

// ---- Numbers, words and lists --------------------------------------------------

TEST_F(StrXTest, NumberForms) {
    char out[16];
    EXPECT_EQ(std::string(out, StrX_IntToStr(out, sizeof out, INT_MIN)), "-2147483648");
    EXPECT_EQ(Bounded(0, "", [](char* b) { StrX_IntToStr(b, 0, -1234); }), "(untouched)");
    EXPECT_EQ(Bounded(5, "", [](char* b) { StrX_IntToStr(b, 5, -1234); }), "-123");
    int v = 99;
    const char* text = "+-2147483648x";
    EXPECT_EQ(StrX_ParseInt(text, &v), text + 12);
    EXPECT_EQ(v, INT_MIN);
    char hex[40];
    EXPECT_EQ(std::string(hex, StrX_Hex2(hex, 0x1AB)), "AB");
    EXPECT_EQ(std::string(hex, StrX_Hex4(hex, 0x12345)), "2345");
    EXPECT_EQ(std::string(hex, StrX_Hex8(hex, 0xDEADBEEF)), "DEADBEEF");
    EXPECT_STREQ(StrX_Bin32(hex, 0x0F00A501u, '.'), "00001111.00000000.10100101.00000001");
    EXPECT_EQ(StrX_ParseBin("1x0 1"), 5);
    EXPECT_EQ(StrX_Wait(25), 2);  // tenth rounds
}

TEST_F(StrXTest, WordsTokensAndLists) {
    char out[16];
    EXPECT_STREQ(StrX_GetWord(out, sizeof out, "  \"two three\" four"), " four");
    EXPECT_STREQ(out, "two three");
    EXPECT_STREQ(StrX_GetIdent("  _a1 b", out, sizeof out), " b");
    EXPECT_STREQ(out, "_a1");
    EXPECT_STREQ(StrX_GetToken((kHyo + "x").c_str(), out, sizeof out), "x");
    EXPECT_EQ(std::string(out), kHyo);
    std::string run = "ab " + kHyo + kHyo + " cd  ef";
    EXPECT_STREQ(StrX_GetTokens(run.c_str(), 10, out, sizeof out), "  ef");
    EXPECT_EQ(std::string(out), "ab " + kHyo + kHyo + " cd");  // two blanks end the run
    ExpectBounded({
        {"GetWord cut", 3, "", [](char* b) { StrX_GetWord(b, 3, "abcdef"); }, "ab"},
        {"GetToken 表 does not fit", 2, "",
         [](char* b) { StrX_GetToken((kHyo + "x").c_str(), b, 2); }, ""},
        {"GetTokens defg does not fit", 6, "", [](char* b) { StrX_GetTokens("abc defg", 5, b, 6); },
         "abc"},
        {"ExpandList exact fit", 10, "",
         [](char* b) { StrX_ExpandList(b, 10, "<%s>", "ab,cd,ef", ","); }, "<ab>,<cd>"},
    });
    EXPECT_EQ(StrX_ExpandList(out, sizeof out, "%s=%s%%", "x", ","), 1);
    EXPECT_STREQ(out, "x=x%");
}

TEST_F(StrXTest, PtrRangeOperations) {
    int values[5] = {10, 20, 30, 40, 50}, copy[3] = {0, 0, 0};
    const int fill[6] = {7, 8, 9, 10, 11, 12};
    PtrRange r, c, back{values + 3, values + 1};
    PtrRange_Set(&r, values, sizeof values);
    EXPECT_EQ(PtrRange_At(&r, sizeof(int), 5), nullptr);
    void* ptrs[3];
    EXPECT_EQ(PtrRange_ToPtrs(&r, sizeof(int), ptrs, 3), 3u);
    EXPECT_FALSE(PtrRange_IsValid(&back));
    EXPECT_EQ(PtrRange_Copy(&c, &r, copy, sizeof copy), copy + 3);  // cut to the block
    PtrRange_SetEnds(&r, values + 1, values + 5);
    EXPECT_EQ(PtrRange_Fill(&r, sizeof(int), fill, 6), 4u);  // only what fits
    EXPECT_EQ(values[4], 10);
    char text[] = "0123456789";
    EXPECT_EQ(PtrRange_Count(PtrRange_SetStr(&r, text), 1), 10u);
    EXPECT_TRUE(PtrRange_Move(&r, text + 1, 2, text + 5));  // 12 to where 56 was
    EXPECT_STREQ(text, "0345612789");
    EXPECT_FALSE(PtrRange_Move(&r, text, 3, text + 8));  // the new place passes the end
    unsigned char marks[3] = {0, 2, 1};
    PtrRange_Set(&r, marks, sizeof marks);
    EXPECT_EQ(PtrRange_NextMarked(&r, nullptr, 1, 0), marks + 2);  // marker 2 is not 1
}

// ---- Command line ------------------------------------------------------------

TEST_F(StrXTest, ArgsReadsQuotedAndPlainArguments) {
    TempDir dir;
    dir.Write("Pages/a.htm", "x");
    StrX_Args args;
    auto all = [&](const std::string& line) {  // every argument, joined by "|"
        StrX_Args_Init(&args, line.c_str());
        std::string seen = args.arg;
        while (StrX_Args_Next(&args)) seen += std::string("|") + args.arg;
        return seen;
    };
    const std::string line = "\"C:\\My Pages\\a b.htm\" -x  " + dir.inside() + "\\pages\\A.htm";
    // Two blanks hold an empty argument; a plain one is named as listed.
    EXPECT_EQ(all(line), "C:\\My Pages\\a b.htm|-x||" + dir.inside() + "\\Pages\\a.htm");
    StrX_Args_Rewind(&args);
    EXPECT_STREQ(StrX_Args_Get(&args), "C:\\My Pages\\a b.htm");
    EXPECT_EQ(all(std::string(300, 'q')), std::string(259, 'q'));

    const char* argv[] = {"prog", "a b"};
    testing::internal::CaptureStdout();
    StrX_PrintArgs(2, argv);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "argc = 2\nargv[0] = prog\nargv[1] = a b\n");
}

// ---- No heap -----------------------------------------------------------------

TEST_F(StrXTest, OperationsTakeNoHeap) {
    {  // the counter sees malloc and operator new, so this test can fail
        AllocCounter probe;
        void* (*volatile allocate)(size_t) = malloc;
        free(allocate(40));
        int* p = new int(1);
        asm volatile("" : : "g"(p) : "memory");
        delete p;
        EXPECT_EQ(probe.Count(), 2);
    }
    TzScope zone("JST-9");
    StrX_SetExePath("\\opt\\t\\tessaly");
    char a[260], b[260];
    StrX_FormatTime(0, "%Y", a, sizeof a);                         // reads the zone once
    StrX_ToSjisFrom(a, sizeof a, "\xE4\xBA\xAC", StrX_Code_Utf8);  // opens the converter
    time_t t = 0;
    AllocCounter counter;
    StrX_AbsPath(strcpy(b, "travel\\kyoto.htm"), sizeof b, "C:\\pages");
    StrX_AbsPathExe(b, "vark.ini", sizeof b);
    StrX_PathToUrl(b, "C:\\My Pages\\a.htm");
    StrX_ToSjis(a, "\x1b$B\x30\x21\x1b(B");
    StrX_ToSjisFrom(a, sizeof a, "\xE4\xBA\xAC\xE9\x83\xBD", StrX_Code_Utf8);
    StrX_RelPath(strcpy(a, "C:\\home\\site\\travel\\kyoto.htm"), sizeof a, "C:\\home\\site");
    StrX_TextToTime(&t, StrX_TimeToText(954424861, a));
    StrX_BuildDateText("Mar 30 2000", "23:01:01", "%n.%#d.%Y");
    EXPECT_EQ(counter.Count(), 0);
}

}  // namespace
