#include "components/strx.h"

#include <cstring>
#include <ctime>
#include <iterator>
#include <random>
#include <string>
#include <tuple>

#include "platform/codepage.h"
#include "support/strxtest.h"

namespace {

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
    });
    EXPECT_EQ(StrX_LastChar(("a" + kHyo).c_str()), 0x5C);
}

// ---- Searching and classification ---------------------------------------

TEST_F(StrXTest, SearchesSkipTrailBytes) {
    EXPECT_STREQ(StrX_FindStrI("xaabcx", "ABC"), "abcx");
    // A match may begin on a trail byte, but a trail byte is compared exactly.
    EXPECT_EQ(StrX_FindStrI(kA.c_str(), "A"), kA.c_str() + 1);
    EXPECT_EQ(StrX_FindStrI(kA.c_str(), "a"), nullptr);

    // FindStrIChar: the first match at a character start. Texts of pieces
    // where a trail byte is a letter (ア is 83 41), a backslash (表 is 95 5C)
    // or the pattern's own bytes, and a lead byte cut by the end: against
    // FindStrI tried at each character start.
    const std::string pieces[] = {"a", "A", "b", "\\", kA, kHyo, "\x83", "\x95", "\x41\x83"};
    const std::string patterns[] = {"a",
                                    "A",
                                    "ab",
                                    "\\",
                                    kA,
                                    kHyo,
                                    kA + "a",
                                    "\x41",
                                    "\x5C"
                                    "b",
                                    "\x83\x41",
                                    "Ab"};
    std::mt19937 random(3);
    int checked = 0;
    for (int i = 0; i < 4000; i++) {
        std::string t;
        for (int n = random() % 7; n > 0; n--) t += pieces[random() % std::size(pieces)];
        for (const std::string& pattern : patterns) {
            const char* want = nullptr;
            for (const char* c = t.c_str(); *c && !want;
                 c += (CodePage_IsLead(static_cast<unsigned char>(*c)) && c[1]) ? 2 : 1)
                if (StrX_FindStrI(c, pattern.c_str()) == c) want = c;
            ASSERT_EQ(want, StrX_FindStrIChar(t.c_str(), pattern.c_str()))
                << ::testing::PrintToString(t) << " / " << ::testing::PrintToString(pattern);
            checked += want != nullptr;
        }
    }
    EXPECT_GT(checked, 1000) << "matches found";
    EXPECT_EQ(nullptr, StrX_FindStrIChar(kA.c_str(), "A"));  // only on the trail byte
    EXPECT_EQ(nullptr, StrX_FindStrIChar("abc", ""));

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

// ---- Numbers and pointer ranges ---------------------------------------------

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
