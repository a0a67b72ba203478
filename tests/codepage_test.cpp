#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "support/testsupport.h"

namespace {

TEST(CodePageTest, Utf8ToSjisGetaMarksWhatHasNoFormAndCutsWhole) {
    const std::string geta = "\x81\xAC", kyoto = Sjis(u8"京都"), kyo = Sjis(u8"京");
    // Rows: UTF-8 text, size, the result; inputs are runtime strings, since a
    // literal in this file would be compiled to CP932.
    const std::tuple<std::string, size_t, std::string> cases[] = {
        {U8(u8"a😀b"), 64, "a" + geta + "b"},
        {U8(u8"〜"), 64, Sjis(u8"～")},
        {"a\x80\xFFz", 64, "a" + geta + geta + "z"},  // one mark per invalid byte
        {"ab\xE4\xBA", 64, "ab"},                     // a sequence cut by the end is dropped
        {"\xC0\xAF", 64, geta + geta},                // an overlong form
        {U8(u8"京都"), 0, "(nothing)"},
        {U8(u8"京都"), 2, ""},  // the first character needs 2 bytes and the NUL
        {U8(u8"京都"), 4, kyo},
        {U8(u8"京都"), 5, kyoto},
    };
    for (const auto& [utf8, size, want] : cases) {
        char buf[80];
        memset(buf, 0x5A, sizeof buf);
        size_t n = CodePage_Utf8ToSjisGeta(utf8.c_str(), buf, size);
        EXPECT_EQ(size ? std::string(buf) : "(nothing)", want) << utf8 << " into " << size;
        EXPECT_EQ(n, size ? strlen(buf) : 0) << utf8 << " into " << size;
        EXPECT_EQ(std::string(buf + size, sizeof buf - size), std::string(sizeof buf - size, 0x5A))
            << utf8 << " into " << size;
    }
}

TEST(CodePageTest, ConvertersMarkEachUnconvertibleUnitWithAQuestionMark) {
    // Rows: Shift_JIS in, UTF-8 out.
    const std::pair<std::string, std::string> toUtf8[] = {
        {"a\x80"
         "b",
         "a?b"},
        {"\x95\x5C\xFD", U8(u8"表?")},
        {"x\x82", "x?"},  // a lead byte without its trail byte
    };
    for (const auto& [sjis, utf8] : toUtf8) {
        bool exact = true;
        EXPECT_EQ(utf8, CodePage_SjisToUtf8(sjis, &exact)) << sjis;
        EXPECT_FALSE(exact) << sjis;
    }
    bool exact = true;
    EXPECT_EQ("a?" + Sjis(u8"京"), CodePage_Utf8ToSjis("a\xF0\x9F\x98\x80" + U8(u8"京"), &exact));
    EXPECT_FALSE(exact);
}

TEST(CodePageTest, CharCutNeverEndsInsideACharacter) {
    // Rows: text, the most bytes, the bytes kept.
    const std::tuple<std::string, size_t, size_t> cases[] = {
        {"a\x95\x5C"
         "b",
         2, 1},
        {"a\x95\x5C"
         "b",
         3, 3},
        {"\x95\x5C", 1, 0},
        {"abc", 2, 2},
        {"ab", 2, 2},
        {"a\x95", 1, 1},
        {"\x95\x5C\x95\x5C", 3, 2},
        {"", 0, 0},
        {"ab", 0, 0},
    };
    for (const auto& [text, most, kept] : cases) {
        EXPECT_EQ(kept, CodePage_CharCut(text, most)) << text << " " << most;
        char buf[8];
        memset(buf, 0x5A, sizeof buf);
        EXPECT_EQ(kept, CodePage_CopyCut(buf, most + 1, text)) << text << " " << most;
        EXPECT_EQ(text.substr(0, kept), std::string(buf)) << text << " " << most;
        EXPECT_EQ(0x5A, buf[most + 1]) << text << " " << most;
    }
}

TEST(CodePageTest, LeadBytesAtTheirEdges) {
    for (int b : {0x00, 0x5C, 0x7F, 0x80, 0xA0, 0xA1, 0xDF, 0xFD, 0xFF})
        EXPECT_FALSE(CodePage_IsLead(static_cast<unsigned char>(b))) << b;
    for (int b : {0x81, 0x95, 0x9F, 0xE0, 0xEA, 0xFC})
        EXPECT_TRUE(CodePage_IsLead(static_cast<unsigned char>(b))) << b;
}

TEST(CodePageTest, IsUtf8) {
    // Rows: text, valid, holds a character beyond ASCII.
    const std::tuple<const char*, bool, bool> cases[] = {
        {"", true, false},
        {"\xE4\xBA\xAC", true, true},        // 京
        {"\x8B\x9E\x93\x73", false, false},  // 京都 in Shift_JIS
        {"\xC3\xBD", true, true},            // ﾃｽ in Shift_JIS, ý in UTF-8
        {"\xC0\xAF", false, false},          // overlong '/'
        {"\xED\xA0\x80", false, false},      // a surrogate
        {"\xF4\x90\x80\x80", false, false},  // beyond U+10FFFF
        {"a\xE4\xBA", false, false},         // cut off
    };
    for (const auto& [text, valid, multi] : cases) {
        bool gotMulti = !multi;
        EXPECT_EQ(CodePage_IsUtf8(text, &gotMulti), valid) << text;
        EXPECT_TRUE(!valid || gotMulti == multi) << text;
    }
}

TEST(CodePageTest, ConvertingTakesNoHeapOnceOpen) {
    char out[64];
    CodePage_Utf8ToSjisGeta("\xE4\xBA\xAC", out, sizeof out);  // opens the converter
    const std::string text = U8(u8"京都の旅と野家");
    AllocCounter count;
    CodePage_Utf8ToSjisGeta(text.c_str(), out, sizeof out);
    EXPECT_EQ(count.Count(), 0);
}

}  // namespace
