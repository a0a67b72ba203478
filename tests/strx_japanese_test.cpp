#include "components/strx.h"

#include <cstring>
#include <iconv.h>
#include <string>
#include <tuple>
#include <vector>

#include "platform/codepage.h"
#include "support/strxtest.h"

namespace {

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

// EUC-JP's three-byte characters (JIS X 0212, which Shift_JIS lacks) become
// the geta mark, and the text around them stays intact: kana, half-width
// kana, ASCII, and a 0x8F that begins no character.
TEST_F(StrXTest, EucJisX0212CharactersBecomeTheGetaMark) {
    const std::string geta = "\x81\xAC";
    const std::pair<std::string, std::string> cases[] = {
        {"Traduction fran\x8F\xAB\xB1"
         "aise",
         "Traduction fran" + geta + "aise"},                                           // ç
        {"\x8F\xAB\xB1\x8F\xAB\xB3\x8F\xAB\xE4", geta + geta + geta},                  // ç é ü
        {"\xA4\xCE\x8F\xAB\xB1\x8E\xB1\xB0\xA1", "\x82\xCC" + geta + "\xB1\x88\x9F"},  // の ç ｱ 亜
        {"\x8F\xAB"
         "a",
         geta + "a"},  // two bytes of it, then ASCII read anew
        {"\x8F"
         "a\x8F",
         "a"},                     // a lone 0x8F, and one at the very end
        {"x\x8F\xAB", "x"},        // cut inside the character
        {"\x8F\x8E\xB1", "\xB1"},  // a lone 0x8F before half-width kana
        {"\xB0\xA1\x8E\xDF"
         "abc",
         "\x88\x9F\xDF"
         "abc"},  // ordinary EUC-JP, untouched
    };
    for (const auto& [euc, sjis] : cases) EXPECT_EQ(sjis, Convert(StrX_EucToSjis, euc)) << euc;
    // Through the page conversion, cut to its buffer at a whole character.
    char out[19];
    StrX_ToSjisFrom(out, 19,
                    "Traduction fran\x8F\xAB\xB1"
                    "aise",
                    StrX_Code_Euc);
    EXPECT_EQ("Traduction fran" + geta, std::string(out));
    StrX_ToSjisFrom(out, 18,
                    "Traduction fran\x8F\xAB\xB1"
                    "aise",
                    StrX_Code_Euc);
    EXPECT_EQ("Traduction fran", std::string(out));  // the text is cut inside the ç
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
            {StrX_EucToSjis, "a\x1b(", "a", {0, 1, 1, 1}},
            // JIS X 0212 (ç is 0x8F 0xAB 0xB1): the geta mark, never half of it.
            {StrX_EucToSjis, "a\x8F\xAB\xB1z", "a\x81\xACz", {0, 1, 1, 1, 3, 4}}};
    for (const auto& [fn, text, whole, kept] : cases) {
        ASSERT_EQ(kept.size(), text.size() + 1);
        for (size_t n = 0; n <= text.size(); n++)
            EXPECT_EQ(Convert(fn, text.substr(0, n)), whole.substr(0, kept[n])) << text << " " << n;
    }
}

}  // namespace
