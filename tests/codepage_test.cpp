#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/testsupport.h"

namespace {

// Converts with CodePage_Utf8ToSjisGeta into size bytes followed by guard
// bytes, and checks the guard.
std::string Geta(const std::string& utf8, size_t size) {
    char buf[64];
    memset(buf, 0x5A, sizeof buf);
    size_t n = CodePage_Utf8ToSjisGeta(utf8.c_str(), buf, size);
    for (size_t i = size; i < sizeof buf; i++) EXPECT_EQ(buf[i], 0x5A) << "guard @" << i;
    if (size == 0) return "(nothing)";
    EXPECT_EQ(strlen(buf), n);
    return buf;
}

TEST(CodePageTest, Utf8ToSjisGetaMarksWhatHasNoForm) {
    const std::string geta = "\x81\xAC";
    // Strings outside CP932 live in variables: the assertion macros would
    // spell their arguments in the test's own CP932 literals.
    const std::string emoji = U8(u8"a😀b"), rare = U8(u8"𠮷野家"), wave = U8(u8"〜");
    EXPECT_EQ(Geta(U8(u8"京都"), 64), Sjis(u8"京都"));
    EXPECT_EQ(Geta(emoji, 64), "a" + geta + "b");
    EXPECT_EQ(Geta(rare, 64), geta + Sjis(u8"野家"));
    EXPECT_EQ(Geta(wave, 64), Sjis(u8"～"));
    // Bytes that are not UTF-8: one mark each; a sequence cut by the end is dropped.
    EXPECT_EQ(Geta("a\x80\xFF"
                   "b",
                   64),
              "a" + geta + geta + "b");
    EXPECT_EQ(Geta("ab\xE4\xBA", 64), "ab");
    // An overlong form and a surrogate are not UTF-8.
    EXPECT_EQ(Geta("\xC0\xAF", 64), geta + geta);
    EXPECT_EQ(Geta("\xED\xA0\x80", 64), geta + geta + geta);
}

TEST(CodePageTest, Utf8ToSjisGetaCutsAtWholeCharacters) {
    const std::string kyoto = U8(u8"京都");  // 4 bytes in CP932
    EXPECT_EQ(Geta(kyoto, 0), "(nothing)");
    EXPECT_EQ(Geta(kyoto, 1), "");
    EXPECT_EQ(Geta(kyoto, 2), "");  // the first character needs 2 bytes and the NUL
    EXPECT_EQ(Geta(kyoto, 3), Sjis(u8"京"));
    EXPECT_EQ(Geta(kyoto, 4), Sjis(u8"京"));
    EXPECT_EQ(Geta(kyoto, 5), Sjis(u8"京都"));
}

TEST(CodePageTest, IsUtf8) {
    const struct {
        const char* text;
        bool valid, multi;
    } cases[] = {
        {"", true, false},
        {"plain ascii", true, false},
        {"\xE4\xBA\xAC", true, true},        // 京
        {"\xF0\x9F\x98\x80", true, true},    // an emoji
        {"\x8B\x9E\x93\x73", false, false},  // 京都 in Shift_JIS
        {"\xC3\xBD", true, true},            // ﾃｽ in Shift_JIS, ý in UTF-8
        {"\xC0\xAF", false, false},          // overlong '/'
        {"\xED\xA0\x80", false, false},      // a surrogate
        {"\xF4\x90\x80\x80", false, false},  // beyond U+10FFFF
        {"a\xE4\xBA", false, false},         // cut off
    };
    for (const auto& c : cases) {
        bool multi = !c.multi;
        EXPECT_EQ(CodePage_IsUtf8(c.text, &multi), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(multi, c.multi) << c.text;
        }
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
