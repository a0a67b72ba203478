#include "components/strx.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "platform/fs.h"
#include "support/testsupport.h"

namespace {

class StrXTest : public LibraryTest {};

constexpr char kGuard = '\xA5';
constexpr int kGuardLen = 16;

// A buffer of `size` usable bytes followed by guard bytes that a bounded
// operation must leave untouched.
class Guarded {
   public:
    explicit Guarded(int size) : size_(size) {
        buf_.assign(static_cast<size_t>(size) + kGuardLen, kGuard);
    }
    // Starts with init and its NUL (init must fit in size bytes).
    Guarded(int size, const std::string& init) : Guarded(size) {
        memcpy(buf_.data(), init.c_str(), init.size() + 1);
    }
    char* data() { return buf_.data(); }
    int size() const { return size_; }
    std::string str() const { return std::string(buf_.data()); }
    bool GuardIntact() const {
        for (size_t i = static_cast<size_t>(size_); i < buf_.size(); i++) {
            if (buf_[i] != kGuard) return false;
        }
        return true;
    }
    // True when no byte of the buffer was written (still all guard bytes).
    bool Untouched() const {
        for (char c : buf_) {
            if (c != kGuard) return false;
        }
        return true;
    }

   private:
    int size_;
    std::vector<char> buf_;
};

const std::string kHyo = "\x95\x5C";  // 表: its trail byte is the backslash
const std::string kA = "\x83\x41";    // ア: its trail byte is the letter A

std::string Quote(const std::string& value, int size = 4096) {
    Guarded out(size);
    StrX_QuoteField(out.data(), value.c_str(), size);
    EXPECT_TRUE(out.GuardIntact()) << value;
    return out.str();
}

// Splits every field of text; "|" joins the fields in the result.
std::string SplitAll(const std::string& text) {
    std::string joined;
    std::vector<char> buf(text.size() + 1);
    const char* p = text.c_str();
    bool first = true;
    while (p) {
        p = StrX_SplitField(buf.data(), p);
        if (!first) joined += "|";
        joined += buf.data();
        first = false;
    }
    return joined;
}

// ---- Fields -------------------------------------------------------------

TEST_F(StrXTest, QuoteFieldQuotesOnlyWhenNeeded) {
    struct {
        const char* value;
        const char* quoted;
    } cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"a b", "a b"},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"tab\t", "tab\t"},
    };
    for (const auto& c : cases) EXPECT_EQ(Quote(c.value), c.quoted) << c.value;
}

TEST_F(StrXTest, SplitFieldFollowsTheReaderRules) {
    struct {
        const char* text;
        const char* fields;
    } cases[] = {
        {"", ""},
        {"a", "a"},
        {"a, b,c", "a|b|c"},
        {"  a  ,b", "a|b"},
        {"a\t,b", "a\t|b"},
        {",", "|"},
        {"a,,b", "a||b"},
        {"\"a,b\", c", "a,b|c"},
        {"\"x\"\"y\"", "x\"y"},
        {"\"x\"junk, y", "x|y"},
        {"\"open, no close", "open, no close"},
        {"\"\"", ""},
        {"a, ", "a|"},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitAll(c.text), c.fields) << c.text;
}

TEST_F(StrXTest, SplitFieldInPlaceAndReturnsNextStart) {
    char text[] = "\"a\"\"b\" , next";
    const char* next = StrX_SplitField(text, text);
    EXPECT_STREQ(text, "a\"b");
    ASSERT_NE(next, nullptr);
    EXPECT_STREQ(next, " next");
    char last[] = "only";
    EXPECT_EQ(StrX_SplitField(last, last), nullptr);
    EXPECT_STREQ(last, "only");
}

TEST_F(StrXTest, QuoteAndSplitRoundTrip) {
    const std::string values[] = {"",       " ",    "\"",        "\"\"",          ",",
                                  "a, b",   " x ",  "x\"y\"z",   kHyo + "," + kA, "a\tb",
                                  "  two ", "end,", "\", \", \""};
    for (const std::string& v : values) {
        std::string q = Quote(v);
        std::vector<char> buf(q.size() + 1);
        const char* next = StrX_SplitField(buf.data(), q.c_str());
        EXPECT_EQ(std::string(buf.data()), v) << "[" << v << "] quoted [" << q << "]";
        EXPECT_EQ(next, nullptr) << v;
    }
}

TEST_F(StrXTest, QuoteFieldCutsToFitAndStaysQuoted) {
    // Size 0 writes nothing; sizes too small for "" give an empty field.
    Guarded none(0);
    StrX_QuoteField(none.data(), "a,b", 0);
    EXPECT_TRUE(none.Untouched());
    EXPECT_EQ(Quote("a,b", 1), "");
    EXPECT_EQ(Quote("a,b", 2), "");
    EXPECT_EQ(Quote("a,b", 3), "\"\"");
    EXPECT_EQ(Quote("a,b", 6), "\"a,b\"");  // exact fit
    EXPECT_EQ(Quote("a,b", 5), "\"a,\"");   // one byte short
    // A doubled quote is never split.
    EXPECT_EQ(Quote("a\"b", 5), "\"a\"");
    EXPECT_EQ(Quote("a\"b", 6), "\"a\"\"\"");
    // Unquoted values cut byte-exact but never inside a double-byte character.
    EXPECT_EQ(Quote("abcdef", 4), "abc");
    EXPECT_EQ(Quote("ab" + kHyo, 4), "ab");
    EXPECT_EQ(Quote("ab" + kHyo, 5), "ab" + kHyo);
    // Blanks that a cut leaves at the end go, as a reader would drop them.
    EXPECT_EQ(Quote("ab  cd", 5), "ab");
    EXPECT_EQ(Quote("ab cd", 6), "ab cd");
}

TEST_F(StrXTest, GetFieldCountsFromOneAndCuts) {
    char out[16];
    EXPECT_EQ(StrX_GetField("", 1, out, sizeof out), nullptr);
    EXPECT_STREQ(out, "");
    EXPECT_STREQ(StrX_GetField("a, \"b,c\" ,d", 2, out, sizeof out), "b,c");
    EXPECT_STREQ(StrX_GetField("a,b", 0, out, sizeof out), "a");
    EXPECT_STREQ(StrX_GetField("a,b", -3, out, sizeof out), "a");
    EXPECT_EQ(StrX_GetField("a,b", 3, out, sizeof out), nullptr);
    EXPECT_STREQ(StrX_GetField("a,", 2, out, sizeof out), "");

    Guarded small(4);
    EXPECT_EQ(StrX_GetField("x,abcdef", 2, small.data(), small.size()), small.data());
    EXPECT_EQ(small.str(), "abc");
    EXPECT_TRUE(small.GuardIntact());
    Guarded dbcs(4);
    StrX_GetField(("ab" + kHyo).c_str(), 1, dbcs.data(), dbcs.size());
    EXPECT_EQ(dbcs.str(), "ab");  // the character across the cut is left out
    EXPECT_TRUE(dbcs.GuardIntact());
    Guarded quoted(4);
    StrX_GetField("\"ab\"\"cd\"", 1, quoted.data(), quoted.size());
    EXPECT_EQ(quoted.str(), "ab\"");
    EXPECT_TRUE(quoted.GuardIntact());
}

TEST_F(StrXTest, FieldIndexAndFieldNumAt) {
    const char* list = "Alpha, \"b,eta\" ,gamma";
    EXPECT_EQ(StrX_FieldIndex(list, "Alpha", true), 1);
    EXPECT_EQ(StrX_FieldIndex(list, "alpha", true), -1);
    EXPECT_EQ(StrX_FieldIndex(list, "ALPHA", false), 1);
    EXPECT_EQ(StrX_FieldIndex(list, "b,eta", true), 2);
    EXPECT_EQ(StrX_FieldIndex(list, "gamma", true), 3);
    EXPECT_EQ(StrX_FieldIndex(list, "gam", true), -1);
    EXPECT_EQ(StrX_FieldIndex(list, "gammas", true), -1);
    EXPECT_EQ(StrX_FieldIndex("", "", true), -1);
    EXPECT_EQ(StrX_FieldIndex("a,,b", "", true), 2);
    // Case folding applies to ASCII letters, never to a trail byte.
    std::string kana = kA;  // 0x83 'A'
    std::string other = "\x83\x61";
    EXPECT_EQ(StrX_FieldIndex(("x," + kana).c_str(), other.c_str(), false), -1);
    EXPECT_EQ(StrX_FieldIndex(("x," + kana).c_str(), kana.c_str(), false), 2);

    const char* l = "ab,cd,ef";
    EXPECT_EQ(StrX_FieldNumAt(l, l), 1);
    EXPECT_EQ(StrX_FieldNumAt(l, l + 2), 1);  // the comma itself
    EXPECT_EQ(StrX_FieldNumAt(l, l + 3), 2);
    EXPECT_EQ(StrX_FieldNumAt(l, l + 7), 3);
    EXPECT_EQ(StrX_FieldNumAt("", ""), 0);
}

// ---- Bounded copying ----------------------------------------------------

TEST_F(StrXTest, CopyNNeverWritesPastSize) {
    struct {
        const char* text;
        int size;
        const char* expect;
    } cases[] = {
        {"", 1, ""},        {"", 4, ""},     {"abc", 4, "abc"},  // exact fit
        {"abcd", 4, "abc"},                                      // one byte over
        {"abc", 1, ""},     {"abc", 2, "a"},
    };
    for (const auto& c : cases) {
        Guarded out(c.size);
        EXPECT_EQ(StrX_CopyN(out.data(), c.text, c.size), out.data());
        EXPECT_EQ(out.str(), c.expect) << c.text << " size " << c.size;
        EXPECT_TRUE(out.GuardIntact()) << c.text << " size " << c.size;
    }
    Guarded zero(0);
    StrX_CopyN(zero.data(), "abc", 0);
    StrX_CopyN(zero.data(), "abc", -5);
    EXPECT_TRUE(zero.Untouched());
    // The cut is byte-wise: a double-byte character across it is split.
    Guarded split(3);
    StrX_CopyN(split.data(), ("a" + kHyo).c_str(), 3);
    EXPECT_EQ(split.str(), "a\x95");
    EXPECT_TRUE(split.GuardIntact());
}

TEST_F(StrXTest, CopyPartAndCopyUntil) {
    Guarded a(4);
    StrX_CopyPart(a.data(), "abcdef", 3, 10);  // min(n, size, length) = 3, plus NUL
    EXPECT_EQ(a.str(), "abc");
    EXPECT_TRUE(a.GuardIntact());
    char b[8];
    EXPECT_STREQ(StrX_CopyPart(b, "abcdef", 10, 2), "ab");
    EXPECT_STREQ(StrX_CopyPart(b, "ab", 10, 10), "ab");
    EXPECT_STREQ(StrX_CopyPart(b, "ab", -1, 10), "");
    EXPECT_STREQ(StrX_CopyPart(b, "ab", 10, 0), "");

    Guarded c(4);
    StrX_CopyUntil(c.data(), 3, "abcdef", 'z');  // at most 3 bytes, then the NUL
    EXPECT_EQ(c.str(), "abc");
    EXPECT_TRUE(c.GuardIntact());
    EXPECT_STREQ(StrX_CopyUntil(b, 7, "key=value", '='), "key");
    EXPECT_STREQ(StrX_CopyUntil(b, 7, "=value", '='), "");
    EXPECT_STREQ(StrX_CopyUntil(b, 0, "abc", 'x'), "");
}

TEST_F(StrXTest, CatNAppendsUpToSize) {
    struct {
        const char* text;
        const char* tail;
        int size;
        const char* expect;
    } cases[] = {
        {"", "", 3, ""},          {"ab", "cd", 4, "abcd"},  // exact fit
        {"ab", "cde", 4, "abcd"},                           // one over
        {"abcd", "x", 4, "abcd"}, {"abcde", "x", 4, "abcde"},
        {"", "xyz", 0, ""},       {"", "xyz", 1, "x"},
    };
    for (const auto& c : cases) {
        Guarded buf(c.size + 1 > static_cast<int>(strlen(c.text)) + 1
                        ? c.size + 1
                        : static_cast<int>(strlen(c.text)) + 1,
                    c.text);
        StrX_CatN(buf.data(), c.tail, c.size);
        EXPECT_EQ(buf.str(), c.expect) << c.text << "+" << c.tail << " size " << c.size;
        EXPECT_TRUE(buf.GuardIntact()) << c.text << "+" << c.tail;
    }
}

// ---- Editing in place ---------------------------------------------------

TEST_F(StrXTest, AddLastCharSeesDoubleByteCharacters) {
    char buf[16];
    strcpy(buf, "");
    EXPECT_STREQ(StrX_AddLastChar(buf, '\\'), "\\");
    strcpy(buf, "C:\\a\\");
    EXPECT_STREQ(StrX_AddLastChar(buf, '\\'), "C:\\a\\");
    strcpy(buf, "C:\\a");
    EXPECT_STREQ(StrX_AddLastChar(buf, '\\'), "C:\\a\\");
    // The trail byte of 表 is 0x5C but does not count as a backslash.
    strcpy(buf, ("C:\\" + kHyo).c_str());
    EXPECT_EQ(std::string(StrX_AddLastChar(buf, '\\')), "C:\\" + kHyo + "\\");
}

TEST_F(StrXTest, CutLastCharIsByteWise) {
    char buf[16];
    strcpy(buf, ("C:\\" + kHyo).c_str());
    EXPECT_EQ(std::string(StrX_CutLastChar(buf, '\\')), "C:\\\x95");  // the trail byte goes
    strcpy(buf, "C:\\a\\");
    EXPECT_STREQ(StrX_CutLastChar(buf, '\\'), "C:\\a");
    EXPECT_STREQ(StrX_CutLastChar(buf, '\\'), "C:\\a");
    strcpy(buf, "");
    EXPECT_STREQ(StrX_CutLastChar(buf, '\\'), "");
}

TEST_F(StrXTest, CutOperations) {
    char buf[16];
    strcpy(buf, "abc");
    EXPECT_STREQ(StrX_CutLast(buf), "ab");
    strcpy(buf, "");
    EXPECT_STREQ(StrX_CutLast(buf), "");
    strcpy(buf, "abcdef");
    EXPECT_STREQ(StrX_CutLastN(buf, 2), "abcd");
    EXPECT_STREQ(StrX_CutLastN(buf, 0), "abcd");
    EXPECT_STREQ(StrX_CutLastN(buf, 9), "");
    strcpy(buf, "abcdef");
    EXPECT_STREQ(StrX_CutHead(buf, 2), "cdef");
    EXPECT_STREQ(StrX_CutHead(buf, -1), "cdef");
    EXPECT_STREQ(StrX_CutHead(buf, 4), "");
    EXPECT_EQ(StrX_LastChar(""), 0);
    EXPECT_EQ(StrX_LastChar(("a" + kHyo).c_str()), 0x5C);
    strcpy(buf, "tail");
    EXPECT_STREQ(StrX_InsertHead(buf, "head-"), "head-tail");
    strcpy(buf, "tail");
    EXPECT_STREQ(StrX_InsertHead2("", buf), "tail");
    EXPECT_STREQ(StrX_InsertHead2("<", buf), "<tail");
}

TEST_F(StrXTest, TrimAndFriends) {
    struct {
        const char* text;
        const char* trimmed;
    } cases[] = {
        {"", ""}, {" \t\r\n\v\f", ""}, {"  a b  ", "a b"}, {"\ta\n", "a"}, {"x", "x"},
    };
    for (const auto& c : cases) {
        char buf[32];
        strcpy(buf, c.text);
        EXPECT_STREQ(StrX_Trim(buf), c.trimmed) << c.text;
    }
    // 0xA0 and other high bytes are not whitespace.
    char high[] = "\xA0x\xA0";
    EXPECT_STREQ(StrX_Trim(high), "\xA0x\xA0");
    char quoted[] = "  \"\"a \"b\"\"  ";
    EXPECT_STREQ(StrX_TrimQuotes(quoted), "a \"b");
    char q2[] = "\"\"";
    EXPECT_STREQ(StrX_TrimQuotes(q2), "");
    char crlf[] = "\ta\r\nb\tc\n";
    EXPECT_STREQ(StrX_RemoveCrLfTab(crlf), "abc");
}

TEST_F(StrXTest, ReplaceCharKeepsTrailBytesReplaceByteDoesNot) {
    std::string path = "C:\\" + kHyo + "\\a";
    char buf[16];
    strcpy(buf, path.c_str());
    EXPECT_EQ(std::string(StrX_ReplaceChar(buf, '\\', '/')), "C:/" + kHyo + "/a");
    strcpy(buf, path.c_str());
    EXPECT_EQ(std::string(StrX_ReplaceByte(buf, '\\', '/')), "C:/\x95//a");
}

TEST_F(StrXTest, ReplaceStrScansOnAndCuts) {
    struct {
        const char* text;
        int size;
        const char* pattern;
        const char* replacement;
        const char* expect;
    } cases[] = {
        {"a b c", 32, " ", "%20", "a%20b%20c"},
        {"aaa", 32, "a", "aa", "aaaaaa"},  // a replacement is never replaced again
        {"xyxy", 32, "xy", "", ""},
        {"abab", 32, "ab", "b", "bb"},
        {"a b", 6, " ", "%20", "a%20b"},  // exact fit
        {"a b", 5, " ", "%20", "a%20"},   // the tail is cut
        {"a b", 3, " ", "%20", "a%"},     // the replacement itself is cut
        {"abc", 32, "", "x", "abc"},      // empty pattern: nothing
        {"no", 32, "zz", "y", "no"},
    };
    for (const auto& c : cases) {
        Guarded buf(c.size < 8 ? 8 : c.size, c.text);
        StrX_ReplaceStr(buf.data(), c.size, c.pattern, c.replacement);
        EXPECT_EQ(buf.str(), c.expect) << c.text << " " << c.pattern << "->" << c.replacement;
        EXPECT_TRUE(buf.GuardIntact()) << c.text;
        EXPECT_LE(buf.str().size(), static_cast<size_t>(c.size - 1)) << c.text;
    }
    // A pattern is not matched on a trail byte: ア is 0x83 'A'.
    char kana[16];
    strcpy(kana, (kA + "A").c_str());
    EXPECT_EQ(std::string(StrX_ReplaceStr(kana, 16, "A", "b")), kA + "b");
    char num[32] = "page %d of %d";
    EXPECT_STREQ(StrX_ReplaceStrNum(num, sizeof num, "%d", -42), "page -42 of -42");
}

TEST_F(StrXTest, ToLowerToUpperLeaveDoubleByteCharactersAlone) {
    char out[16];
    std::string text = "Ab" + kA + "z";
    EXPECT_EQ(std::string(StrX_ToLower(out, text.c_str())), "ab" + kA + "z");
    EXPECT_EQ(std::string(StrX_ToUpper(out, text.c_str())), "AB" + kA + "Z");
}

// ---- Searching ----------------------------------------------------------

TEST_F(StrXTest, FindStrIIsByteWiseWithoutAsciiCase) {
    const char* text = "xabcx";
    EXPECT_EQ(StrX_FindStrI(text, "ABC"), text + 1);
    EXPECT_EQ(StrX_FindStrI(text, ""), nullptr);
    EXPECT_EQ(StrX_FindStrI("", "a"), nullptr);
    EXPECT_EQ(StrX_FindStrI("", ""), nullptr);
    EXPECT_EQ(StrX_FindStrI("abc", "abcd"), nullptr);
    EXPECT_EQ(StrX_FindStrI("aab", "AB"), static_cast<const char*>("aab") + 1);
    // Byte-wise: a match may begin on a trail byte (ア = 0x83 'A'), but a trail
    // byte is compared exactly, so no character equals another through case.
    std::string kana = kA;
    EXPECT_EQ(StrX_FindStrI(kana.c_str(), "A"), kana.c_str() + 1);
    EXPECT_EQ(StrX_FindStrI(kana.c_str(), "a"), nullptr);
    EXPECT_EQ(StrX_FindStrI("\x83\x61", "\x83\x41"), nullptr);
    std::string mixed = "x" + kA + "Bc";
    EXPECT_EQ(StrX_FindStrI(mixed.c_str(), (kA + "bC").c_str()), mixed.c_str() + 1);
}

TEST_F(StrXTest, FindCharBackReturnsPositionAfterMatch) {
    const char* text = "ab,cd,ef";
    EXPECT_EQ(StrX_FindCharBack(text, text + 7, ','), text + 6);
    EXPECT_EQ(StrX_FindCharBack(text, text + 5, ','), text + 6);  // from itself
    EXPECT_EQ(StrX_FindCharBack(text, text + 4, ','), text + 3);
    EXPECT_EQ(StrX_FindCharBack(text, text + 1, ','), text);  // none: start
    EXPECT_EQ(StrX_FindCharBack(text, text, 'a'), text + 1);
}

TEST_F(StrXTest, CharSearchesSkipTrailBytes) {
    std::string path = "a" + kHyo + "b\\c" + kHyo;
    const char* p = path.c_str();
    EXPECT_EQ(StrX_FindChar(p, '\\'), p + 4);
    EXPECT_EQ(StrX_FindChar(p, 0), p + path.size());
    EXPECT_EQ(StrX_FindChar("abc", 'z'), nullptr);
    EXPECT_EQ(StrX_FindLastChar(p, '\\'), p + 4);
    EXPECT_EQ(StrX_FindLastChar(p, 'z'), nullptr);
    EXPECT_EQ(StrX_FindLastByte(p, '\\'), p + 7);  // byte-wise: the trail byte
    EXPECT_EQ(StrX_FindLastByte(p, 0), p + path.size());
    EXPECT_EQ(StrX_FindAnyByte(p, "\\/"), p + 2);
    EXPECT_EQ(StrX_FindAnyChar(p, "\\/"), p + 4);
    EXPECT_EQ(StrX_FindAnyChar(p, "xyz"), nullptr);
    const char* t = "abcabc";
    EXPECT_EQ(StrX_FindLastStr(t, "bc"), t + 4);
    EXPECT_EQ(StrX_FindLastStr(t, "x"), nullptr);
    EXPECT_EQ(StrX_FindLastStr(t, ""), nullptr);
}

TEST_F(StrXTest, FindWordNeedsBreaksOnBothSides) {
    const char* t = "subword word_x word";
    EXPECT_EQ(StrX_FindWord(t, "word"), t + 15);
    const char* whole = "word";
    EXPECT_EQ(StrX_FindWord(whole, "word"), whole);
    const char* w = "(word)";
    EXPECT_EQ(StrX_FindWord(w, "word"), w + 1);
    EXPECT_EQ(StrX_FindWord("words", "word"), nullptr);
    EXPECT_EQ(StrX_FindWord("x", ""), nullptr);
    std::string jp = kHyo + "word" + kHyo;
    EXPECT_EQ(StrX_FindWord(jp.c_str(), "word"), jp.c_str() + 2);
}

TEST_F(StrXTest, FindInTableBySize) {
    const char* table[] = {"a", nullptr, "b", "c"};
    EXPECT_EQ(StrX_FindInTable("b", table, sizeof table), table + 2);
    EXPECT_EQ(StrX_FindInTable("c", table, 3 * sizeof(char*)), nullptr);
    EXPECT_EQ(StrX_FindInTable("z", table, sizeof table), nullptr);
}

// ---- Classification -----------------------------------------------------

TEST_F(StrXTest, ClassificationIsAsciiOnly) {
    for (int b : {' ', '\t', '\r', '\n', '\v', '\f'}) EXPECT_TRUE(StrX_IsSpace(b)) << b;
    for (int b : {0, int{'a'}, 0x85, 0xA0, 0xFF}) EXPECT_FALSE(StrX_IsSpace(b)) << b;
    EXPECT_TRUE(StrX_IsBlank(""));
    EXPECT_TRUE(StrX_IsBlank(" \t\r\n"));
    EXPECT_FALSE(StrX_IsBlank(" \xA0"));
    EXPECT_TRUE(StrX_IsWordBreak('-'));
    EXPECT_TRUE(StrX_IsWordBreak(0xC1));
    EXPECT_FALSE(StrX_IsWordBreak('_'));
    EXPECT_FALSE(StrX_IsWordBreak('9'));
    EXPECT_TRUE(StrX_IsValidFileName("a.htm"));
    // The trail byte of 表 is 0x5C but not a backslash.
    EXPECT_TRUE(StrX_IsValidFileName((kHyo + ".htm").c_str()));
    for (const char* bad :
         {".hidden", "a\\b", "a/b", "c:", "a,b", "a;b", "a*", "a?", "a\"", "a<", "a>", "a|"}) {
        EXPECT_FALSE(StrX_IsValidFileName(bad)) << bad;
    }
}

TEST_F(StrXTest, WildCmp) {
    struct {
        const char* pattern;
        const char* text;
        int expect;
    } cases[] = {
        {"*.htm", "a.htm", 0},
        {"?b", "ab", 0},
        {"*", "", 0},
        {"*", "anything", 0},
        {"a*c", "abxc", 0},
        {"a*c", "ac", 0},
        {"", "", 0},
        {"abc", "abd", 'c' - 'd'},
        {"ab", "abc", -'c'},
        {"abc", "ab", 'c'},
        {"a*", "", 'a'},
        {"?", "", '?'},
        {"*.htm", "a.hxm", 't' - 'x'},  // leftmost mismatch of the tail
        {"*.htm", "a.txt", 'h' - 't'},
        {"\x95", "a", -107 - 'a'},  // signed 8-bit difference
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StrX_WildCmp(c.pattern, c.text), c.expect) << c.pattern << " ~ " << c.text;
    }
    EXPECT_NE(StrX_WildCmp("*.htm", "htm"), 0);  // shorter than the tail
    EXPECT_NE(StrX_WildCmp("a*.htm", "a.ht"), 0);
}

TEST_F(StrXTest, HashWeighsBytesByPosition) {
    EXPECT_EQ(StrX_Hash("", 7), 0);
    EXPECT_EQ(StrX_Hash("a", 1000), 97);
    EXPECT_EQ(StrX_Hash("ab", 1000), 97 + 2 * 98);
    EXPECT_EQ(StrX_Hash("ba", 1000), 98 + 2 * 97);
    EXPECT_EQ(StrX_Hash("\xFF", 1000), 255);  // bytes count unsigned
    EXPECT_EQ(StrX_Hash("ab", 10), (97 + 2 * 98) % 10);
}

// ---- HTML ---------------------------------------------------------------

TEST_F(StrXTest, HtmlEscapeStopsBeforeWhatDoesNotFit) {
    struct {
        std::string text;
        int size;
        std::string expect;
    } cases[] = {
        {"a&b", 6, "a"},  // the entity does not fit
        {"a&b", 7, "a&amp;"},
        {"a&b", 8, "a&amp;b"},
        {"<x>\"", 32, "&lt;x&gt;\""},
        {"", 1, ""},
        {"abc", 1, ""},
        {"a" + kHyo, 3, "a"},  // no split character
        {"a" + kHyo, 4, "a" + kHyo},
        {"a\x95", 8, "a\x95"},  // a lead byte ending the text
    };
    for (const auto& c : cases) {
        Guarded out(c.size);
        StrX_HtmlEscape(c.text.c_str(), out.data(), c.size);
        EXPECT_EQ(out.str(), c.expect) << c.text << " size " << c.size;
        EXPECT_TRUE(out.GuardIntact()) << c.text << " size " << c.size;
    }
    Guarded zero(0);
    StrX_HtmlEscape("a", zero.data(), 0);
    EXPECT_TRUE(zero.Untouched());
}

// ---- Paths --------------------------------------------------------------

std::string AbsPath(const std::string& path, const std::string& folder, int size = 260) {
    Guarded buf(size < 600 ? 600 : size, path);
    StrX_AbsPath(buf.data(), size, folder.c_str());
    EXPECT_TRUE(buf.GuardIntact()) << path;
    return buf.str();
}

TEST_F(StrXTest, AbsPathJoinsRelativePaths) {
    struct {
        const char* path;
        const char* folder;
        const char* expect;
    } cases[] = {
        {"travel\\kyoto.htm", "C:\\pages", "C:\\pages\\travel\\kyoto.htm"},
        {"..\\b.htm", "C:\\pages\\sub", "C:\\pages\\b.htm"},
        {".", "C:\\pages", "C:\\pages\\"},
        {"http:x", "C:\\pages", "http:x"},
        {"file:///C|/a.htm", "C:\\pages", "file:///C|/a.htm"},
        {"a.htm", "http://host/dir/", "http://host/dir/a.htm"},  // folder ending in a slash
        {"a.htm", "C:\\pages\\", "C:\\pages\\a.htm"},
        {"", "C:\\pages", ""},
        {"\\home\\u\\a.htm", "C:\\pages", "\\home\\u\\a.htm"},
        {"/x", "C:\\pages", "/x"},
        {"D:\\x.htm", "C:\\pages", "D:\\x.htm"},
        {"D:x.htm", "C:\\pages", "D:x.htm"},
        {".\\a.htm", "\\home\\u", "\\home\\u\\a.htm"},
        {"..\\..\\a.htm", "C:\\p\\q\\r", "C:\\p\\a.htm"},
        {"..\\..\\..\\a.htm", "C:\\p\\q", "C:\\a.htm"},  // never above the drive
        {"..\\..\\a.htm", "\\home", "\\a.htm"},          // never above the root
        {"sub\\.", "C:\\pages", "C:\\pages\\sub\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AbsPath(c.path, c.folder), c.expect) << c.path << " in " << c.folder;
    }
}

TEST_F(StrXTest, AbsPathFolderWithTrailByteBackslash) {
    // The folder ends in 表, whose trail byte is 0x5C: a backslash is still added.
    EXPECT_EQ(AbsPath("a.htm", "C:\\" + kHyo), "C:\\" + kHyo + "\\a.htm");
    // A final dot after 表 is not a separator-and-dot.
    EXPECT_EQ(AbsPath(kHyo + ".", "C:\\x"), "C:\\x\\" + kHyo + ".");
}

TEST_F(StrXTest, AbsPathCutsToSize) {
    EXPECT_EQ(AbsPath("abcdef", "C:\\x", 8), "C:\\x\\ab");     // 7 bytes and the NUL
    EXPECT_EQ(AbsPath("ab" + kHyo, "C:\\x", 8), "C:\\x\\ab");  // 表 does not fit whole
    EXPECT_EQ(AbsPath("ab" + kHyo, "C:\\x", 9), "C:\\x\\ab");
    EXPECT_EQ(AbsPath("ab" + kHyo, "C:\\x", 10), "C:\\x\\ab" + kHyo);
    EXPECT_EQ(AbsPath("ab", "C:\\x", 1), "");
    // A size of 0 leaves the buffer as it was.
    char keep[8] = "ab";
    StrX_AbsPath(keep, 0, "C:\\x");
    EXPECT_STREQ(keep, "ab");
    // A long folder and path are cut at 511 bytes of work area.
    std::string longFolder = "C:\\" + std::string(600, 'f');
    EXPECT_EQ(AbsPath("a", longFolder, 1000).size(), 511u);
}

TEST_F(StrXTest, CleanDots) {
    struct {
        const char* path;
        const char* expect;
    } cases[] = {
        {"..\\..\\a", "..\\..\\a"},  // leading steps stay
        {"a\\..\\b", "b"},
        {"x\\a\\..\\b", "x\\b"},
        {"..\\a\\..\\b", "..\\b"},
        {"a\\.\\b", "a\\b"},
        {".\\a", "a"},
        {"x\\.\\.\\y", "x\\.\\y"},  // of two steps in a row the second stays
        {"a.\\b", "a.\\b"},         // a name ending in a dot is no step
        {"a..\\b", "a..\\b"},
        {"C:\\a\\..\\..\\b", "C:\\b"},
        {"\\..\\x", "\\x"},
    };
    for (const auto& c : cases) {
        char buf[64];
        strcpy(buf, c.path);
        EXPECT_STREQ(StrX_CleanDots(buf), c.expect) << c.path;
    }
    // A .\ that follows 表 (trail byte 0x5C) is not a current-folder step.
    std::string t = "a" + kHyo + ".\\b";
    char buf[32];
    strcpy(buf, t.c_str());
    EXPECT_EQ(std::string(StrX_CleanDots(buf)), t);
}

TEST_F(StrXTest, RelativeAndRootedPaths) {
    struct {
        const char* path;
        bool relative;
        bool rooted;
    } cases[] = {
        {"a\\b.htm", true, false},        {"", true, false},
        {"http://host/", true, true},  // the first separator follows a ':'
        {"file:///C|/a.htm", true, true}, {"a/b:", true, false},
        {"C:\\a", false, true},           {"C:a", false, false},
        {"\\\\srv\\share", false, true},  {"//srv/share", false, true},
        {"\\home\\u", false, true},       {"/home/u", false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StrX_IsRelativePath(c.path), c.relative) << c.path;
        EXPECT_EQ(StrX_IsRootedPath(c.path), c.rooted) << c.path;
    }
    // 表 holds a 0x5C trail byte that is not the first separator.
    EXPECT_FALSE(StrX_IsRootedPath((kHyo + "a").c_str()));
}

TEST_F(StrXTest, PathToUrl) {
    struct {
        std::string path;
        std::string url;
    } cases[] = {
        {"C:\\a b.htm", "file:///C|/a%20b.htm"},
        {"C:\\My Pages\\a.htm", "file:///C|/My%20Pages/a.htm"},
        {"\\\\srv\\share\\a.htm", "file://srv/share/a.htm"},
        {"\\home\\u\\a b.htm", "file:///home/u/a%20b.htm"},
        {"C:\\" + kHyo + "\\a.htm", "file:///C|/" + kHyo + "/a.htm"},
        {"rel.htm", "file:///rel.htm"},
    };
    for (const auto& c : cases) {
        char out[260];
        EXPECT_EQ(std::string(StrX_PathToUrl(out, c.path.c_str())), c.url) << c.path;
        char same[260];
        strcpy(same, c.path.c_str());
        EXPECT_EQ(std::string(StrX_PathToUrl(same, same)), c.url) << c.path << " in place";
    }
    // The result stays within 260 bytes.
    std::string longPath = "C:\\" + std::string(120, ' ');
    Guarded out(260);
    StrX_PathToUrl(out.data(), longPath.c_str());
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_LE(out.str().size(), 259u);
}

TEST_F(StrXTest, AbsPathOfFileUsesTheFilesFolder) {
    char path[260] = "b.htm";
    EXPECT_STREQ(StrX_AbsPathOfFile(path, sizeof path, "C:\\site\\a.htm"), "C:\\site\\b.htm");
    char up[260] = "..\\c.htm";
    EXPECT_STREQ(StrX_AbsPathOfFile(up, sizeof up, "C:\\site\\sub\\a.htm"), "C:\\site\\c.htm");
    char empty[260] = "";
    EXPECT_STREQ(StrX_AbsPathOfFile(empty, sizeof empty, "C:\\site\\a.htm"), "");
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // the scratch buffer was released
}

TEST_F(StrXTest, AbsPathExeResolvesAgainstProgramFolder) {
    StrX_SetExePath("\\opt\\tessaly\\bin\\tessaly");
    char out[260];
    EXPECT_STREQ(StrX_AbsPathExe(out, "vark.ini", sizeof out), "\\opt\\tessaly\\bin\\vark.ini");
    EXPECT_STREQ(StrX_AbsPathExe(out, "..\\share\\outframe.htm", sizeof out),
                 "\\opt\\tessaly\\share\\outframe.htm");
    EXPECT_STREQ(StrX_AbsPathExe(out, "\\etc\\x", sizeof out), "\\etc\\x");
    EXPECT_STREQ(StrX_AbsPathExe(out, "C:\\x", sizeof out), "C:\\x");
    Guarded small(12);
    StrX_AbsPathExe(small.data(), "vark.ini", small.size());
    EXPECT_EQ(small.str(), "\\opt\\tessal");
    EXPECT_TRUE(small.GuardIntact());
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);
}

TEST_F(StrXTest, AbsPathCwdJoinsToCurrentFolder) {
    char cwd[260];
    Fs_GetCwd(cwd, 255);
    ASSERT_NE(cwd[0], 0);
    char out[260];
    std::string expect = std::string(cwd) + "\\a.htm";
    EXPECT_EQ(std::string(StrX_AbsPathCwd(out, "a.htm", sizeof out)), expect);
    char same[260] = "a.htm";
    EXPECT_EQ(std::string(StrX_AbsPathCwd(same, same, sizeof same)), expect);
    EXPECT_STREQ(StrX_AbsPathCwd(out, "C:\\x", sizeof out), "C:\\x");
}

TEST_F(StrXTest, FileNameToIdent) {
    struct {
        std::string path;
        std::string ident;
    } cases[] = {
        {"C:\\dir\\page.htm", "page"},
        {"C:\\dir\\3d-view.htm", "_3d_view"},
        {"name.", "name"},
        {"a.b.c", "a_b"},
        {"noext", "noext"},
        {"dir/x y.txt", "x_y"},
        {"C:\\d\\" + kHyo + "1.htm", "__1"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_EQ(std::string(StrX_FileNameToIdent(out, c.path.c_str())), c.ident) << c.path;
    }
}

TEST_F(StrXTest, WildRename) {
    char out[64];
    EXPECT_STREQ(StrX_WildRename(out, "*.bak", "report.txt", "*.txt"), "report.bak");
    EXPECT_STREQ(StrX_WildRename(out, "old_*", "a.txt", "*.txt"), "old_a");
    EXPECT_STREQ(StrX_WildRename(out, "x*y", "pre-mid-post", "pre-*-post"), "xmidy");
    EXPECT_STREQ(StrX_WildRename(out, "*.bak", "a.htm", "*.txt"), "*.bak");  // no match
}

// ---- Japanese encodings -------------------------------------------------

TEST_F(StrXTest, DetectCode) {
    struct {
        const char* text;
        int code;
    } cases[] = {
        {"", StrX_Code_Ascii},
        {"plain ascii", StrX_Code_Ascii},
        {"a\x1b$B\x30\x21", StrX_Code_Jis},
        {"\x1b$@", StrX_Code_Jis},
        {"\x1b(I\x31", StrX_Code_Euc},
        {"\x1b(B", StrX_Code_Ascii},
        {"\x95\x5C", StrX_Code_Sjis},
        {"\x8E\x40", StrX_Code_Sjis},
        {"\x8E\xEC", StrX_Code_Sjis},
        {"\x8E\xB1", StrX_Code_Sjis},
        {"\x8E\x7F", StrX_Code_Euc},
        {"\x8E\xED", StrX_Code_Euc},
        {"\x8E", StrX_Code_Euc},
        {"\xB0\xA1", StrX_Code_Euc},
        {"ab\xB1\xB2\xB3", StrX_Code_Euc},  // Shift_JIS half-width kana reads as EUC
        {"\xA0", StrX_Code_Euc},
    };
    for (const auto& c : cases) EXPECT_EQ(StrX_DetectCode(c.text), c.code) << c.text;
}

TEST_F(StrXTest, CharsetNamesAndUtf8Detection) {
    struct {
        const char* name;
        int code;
    } names[] = {
        {"Shift_JIS", StrX_Code_Sjis},   {"shift-jis", StrX_Code_Sjis},
        {"X-SJIS", StrX_Code_Sjis},      {"windows-31j", StrX_Code_Sjis},
        {"CP932", StrX_Code_Sjis},       {"EUC-JP", StrX_Code_Euc},
        {"x-euc-jp", StrX_Code_Euc},     {"ISO-2022-JP", StrX_Code_Jis},
        {"utf-8", StrX_Code_Utf8},       {"UTF8", StrX_Code_Utf8},
        {"iso-8859-1", StrX_Code_Ascii}, {"utf-8 ", StrX_Code_Ascii},
        {"", StrX_Code_Ascii},
    };
    for (const auto& n : names) EXPECT_EQ(StrX_CharsetCode(n.name), n.code) << n.name;
    EXPECT_EQ(StrX_CharsetCode(nullptr), StrX_Code_Ascii);

    EXPECT_EQ(StrX_DetectCodeUtf8("\xE4\xBA\xAC"), StrX_Code_Utf8);
    EXPECT_EQ(StrX_DetectCodeUtf8("ascii"), StrX_Code_Ascii);
    EXPECT_EQ(StrX_DetectCodeUtf8("\x8B\x9E\x93\x73"), StrX_Code_Sjis);  // not UTF-8
    EXPECT_EQ(StrX_DetectCodeUtf8("\x1b$B5~\x1b(B"), StrX_Code_Jis);     // 7-bit: ASCII to UTF-8
}

TEST_F(StrXTest, ToSjisFromCutsAtWholeCharacters) {
    const std::string kyoto = "\x8B\x9E\x93\x73";  // 京都
    struct {
        const char* what;
        std::string text;
        int code;
        int size;
        std::string out;
    } cases[] = {
        {"Shift_JIS copied", kyoto, StrX_Code_Sjis, 16, kyoto},
        {"Shift_JIS cut inside a character", kyoto, StrX_Code_Sjis, 4, "\x8B\x9E"},
        {"ASCII copied", "abc", StrX_Code_Ascii, 16, "abc"},
        {"JIS", "\x1b$B5~ET\x1b(B", StrX_Code_Jis, 16, kyoto},
        {"JIS cut", "\x1b$B5~ET\x1b(B", StrX_Code_Jis, 6, "\x8B\x9E"},
        {"EUC", "\xB5\xFE\xC5\xD4", StrX_Code_Euc, 16, kyoto},
        {"EUC cut", "\xB5\xFE\xC5\xD4", StrX_Code_Euc, 4, "\x8B\x9E"},
        {"UTF-8", "\xE4\xBA\xAC\xE9\x83\xBD", StrX_Code_Utf8, 16, kyoto},
        {"UTF-8 cut", "\xE4\xBA\xAC\xE9\x83\xBD", StrX_Code_Utf8, 4, "\x8B\x9E"},
        {"size 1", kyoto, StrX_Code_Utf8, 1, ""},
    };
    for (const auto& c : cases) {
        char out[32];
        memset(out, 'G', sizeof out);
        StrX_ToSjisFrom(out, c.size, c.text.c_str(), c.code);
        EXPECT_EQ(std::string(out), c.out) << c.what;
        for (int i = c.size; i < static_cast<int>(sizeof out); i++)
            EXPECT_EQ(out[i], 'G') << c.what << " @" << i;
    }
    char hyo[] = "a\x95\x5C\x95";
    EXPECT_STREQ(StrX_TrimBrokenChar(hyo), "a\x95\x5C");
    char whole[] = "a\x95\x5C";
    EXPECT_STREQ(StrX_TrimBrokenChar(whole), "a\x95\x5C");
}

TEST_F(StrXTest, JisToSjisCodeArithmetic) {
    EXPECT_EQ(StrX_JisToSjisCode(0x2121), 0x8140u);  // ideographic space
    EXPECT_EQ(StrX_JisToSjisCode(0x3021), 0x889Fu);  // 亜
    EXPECT_EQ(StrX_JisToSjisCode(0x215F), 0x817Eu);  // trail 0x7E
    EXPECT_EQ(StrX_JisToSjisCode(0x2160), 0x8180u);  // trail skips 0x7F
    EXPECT_EQ(StrX_JisToSjisCode(0x5E21), 0x9F9Fu);  // the last lead below 0xA0
    EXPECT_EQ(StrX_JisToSjisCode(0x5F21), 0xE040u);  // the lead jumps past 0x9F
    EXPECT_EQ(StrX_JisToSjisCode(0x6021), 0xE09Fu);
    EXPECT_EQ(StrX_JisToSjisCode(0x7E7E), 0xEFFCu);
    EXPECT_EQ(StrX_JisToSjisCode(0xB0A1), 0x889Fu);  // high bits ignored
}

std::string JisText(const std::string& body) {
    return "\x1b$B" + body + "\x1b(B";
}

std::string Convert(char* (*fn)(char*, const char*), const std::string& text) {
    std::vector<char> out(text.size() + 1 + kGuardLen, kGuard);
    fn(out.data(), text.c_str());
    for (size_t i = text.size() + 1; i < out.size(); i++) {
        EXPECT_EQ(out[i], kGuard) << "overrun converting " << text;
    }
    return std::string(out.data());
}

// What iconv makes of text, or "" when it cannot convert all of it.
std::string Iconv(const char* from, const std::string& text) {
    iconv_t cd = iconv_open("CP932", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "";
    char out[64];
    char* src = const_cast<char*>(text.data());
    size_t srcLeft = text.size();
    char* dst = out;
    size_t dstLeft = sizeof out;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || srcLeft != 0) return "";
    return std::string(out, dst);
}

TEST_F(StrXTest, Jis0208AgreesWithIconvOnEveryRowAndCell) {
    int comparedJis = 0;
    int comparedEuc = 0;
    for (int r = 0x21; r <= 0x7E; r++) {
        std::string jisRow;
        std::string eucRow;
        for (int t = 0x21; t <= 0x7E; t++) {
            jisRow += static_cast<char>(r);
            jisRow += static_cast<char>(t);
            eucRow += static_cast<char>(r | 0x80);
            eucRow += static_cast<char>(t | 0x80);
        }
        std::string fromJis = Convert(StrX_JisToSjis, JisText(jisRow));
        std::string fromEuc = Convert(StrX_EucToSjis, eucRow);
        ASSERT_EQ(fromJis.size(), 94u * 2) << "row " << r;
        ASSERT_EQ(fromEuc.size(), 94u * 2) << "row " << r;
        for (int t = 0x21; t <= 0x7E; t++) {
            size_t i = static_cast<size_t>(t - 0x21) * 2;
            std::string wantJis = Iconv("ISO-2022-JP", JisText(jisRow.substr(i, 2)));
            std::string wantEuc = Iconv("EUC-JP", eucRow.substr(i, 2));
            if (!wantJis.empty()) {
                EXPECT_EQ(fromJis.substr(i, 2), wantJis)
                    << std::hex << "JIS row " << r << " cell " << t;
                comparedJis++;
            }
            if (!wantEuc.empty()) {
                EXPECT_EQ(fromEuc.substr(i, 2), wantEuc)
                    << std::hex << "EUC row " << r << " cell " << t;
                comparedEuc++;
            }
        }
    }
    EXPECT_GT(comparedJis, 6800);  // JIS X 0208 has 6879 characters
    EXPECT_GT(comparedEuc, 6800);
}

TEST_F(StrXTest, KanaModesAgreeWithIconv) {
    std::string jis = "\x1b(I";
    std::string so = "\x0E";
    std::string euc;
    std::string eucSo = "\x0E";
    for (int c = 0x21; c <= 0x5F; c++) {
        jis += static_cast<char>(c);
        so += static_cast<char>(c);
        euc += "\x8E";
        euc += static_cast<char>(c | 0x80);
        eucSo += static_cast<char>(c);
    }
    jis += "\x1b(Bz";
    so += "\x0Fz";
    eucSo += "\x0Fz";
    std::string want;
    for (int c = 0x21; c <= 0x5F; c++) {
        std::string k = Iconv("EUC-JP", std::string("\x8E") + static_cast<char>(c | 0x80));
        ASSERT_EQ(k.size(), 1u) << c;
        want += k;
    }
    EXPECT_EQ(Convert(StrX_JisToSjis, jis), want + "z");
    EXPECT_EQ(Convert(StrX_JisToSjis, so), want + "z");
    EXPECT_EQ(Convert(StrX_EucToSjis, euc), want);
    EXPECT_EQ(Convert(StrX_EucToSjis, eucSo), want + "z");
    EXPECT_EQ(Convert(StrX_EucToSjis, "\x1b(I\x31\x1b(Jz"), "\xB1z");
}

TEST_F(StrXTest, JisToSjisModesAndOddBytes) {
    // ASCII around kanji; escapes are not copied.
    EXPECT_EQ(Convert(StrX_JisToSjis, "a" + JisText("\x30\x21") + "b"),
              "a\x88\x9F"
              "b");
    EXPECT_EQ(Convert(StrX_JisToSjis, "\x1b$@\x30\x21\x1b(J!"), "\x88\x9F!");
    // An unknown escape is an ordinary byte.
    EXPECT_EQ(Convert(StrX_JisToSjis, "\x1bx"), "\x1bx");
    // Every byte is taken by its low seven bits.
    EXPECT_EQ(Convert(StrX_JisToSjis, "\xC1"), "A");
    // A blank in kanji mode stays a blank.
    EXPECT_EQ(Convert(StrX_JisToSjis, JisText("\x30\x21 \x30\x21")), "\x88\x9F \x88\x9F");
    // A lone first byte before an escape is dropped; the escape still works.
    EXPECT_EQ(Convert(StrX_JisToSjis, "\x1b$B\x30\x1b(Bz"), "z");
}

TEST_F(StrXTest, CutTextsEndCleanly) {
    std::string jis = "a\x1b$B\x30\x21\x30\x22\x1b(Bz";
    std::string fullJis = Convert(StrX_JisToSjis, jis);
    ASSERT_EQ(fullJis, "a\x88\x9F\x88\xA0z");
    const char* jisWant[] = {"",
                             "a",
                             "a",
                             "a",
                             "a",
                             "a",
                             "a\x88\x9F",
                             "a\x88\x9F",
                             "a\x88\x9F\x88\xA0",
                             "a\x88\x9F\x88\xA0",
                             "a\x88\x9F\x88\xA0",
                             "a\x88\x9F\x88\xA0",
                             "a\x88\x9F\x88\xA0z"};
    ASSERT_EQ(std::size(jisWant), jis.size() + 1);
    for (size_t n = 0; n <= jis.size(); n++) {
        EXPECT_EQ(Convert(StrX_JisToSjis, jis.substr(0, n)), jisWant[n]) << "prefix " << n;
    }
    std::string euc = "a\xB0\xA1\xB0\xA2\x8E\xB1z";
    const char* eucWant[] = {"",
                             "a",
                             "a",
                             "a\x88\x9F",
                             "a\x88\x9F",
                             "a\x88\x9F\x88\xA0",
                             "a\x88\x9F\x88\xA0",
                             "a\x88\x9F\x88\xA0\xB1",
                             "a\x88\x9F\x88\xA0\xB1z"};
    ASSERT_EQ(std::size(eucWant), euc.size() + 1);
    for (size_t n = 0; n <= euc.size(); n++) {
        EXPECT_EQ(Convert(StrX_EucToSjis, euc.substr(0, n)), eucWant[n]) << "prefix " << n;
    }
    EXPECT_EQ(Convert(StrX_EucToSjis, "a\x1b("), "a");
}

TEST_F(StrXTest, ToSjisDispatchesByDetectedCode) {
    EXPECT_EQ(Convert(StrX_ToSjis, JisText("\x30\x21")), "\x88\x9F");
    EXPECT_EQ(Convert(StrX_ToSjis, "\xB0\xA1"), "\x88\x9F");
    EXPECT_EQ(Convert(StrX_ToSjis, "\x88\x9F"), "\x88\x9F");
    EXPECT_EQ(Convert(StrX_ToSjis, "ascii"), "ascii");
    char inPlace[] = "\x1b$B\x30\x21\x1b(B";
    EXPECT_STREQ(StrX_ToSjis(inPlace, inPlace), "\x88\x9F");
}

TEST_F(StrXTest, JisEscapeKind) {
    EXPECT_EQ(StrX_JisEscapeKind("\x1b$@"), 4);
    EXPECT_EQ(StrX_JisEscapeKind("\x1b$B"), 4);
    for (const char* s : {"\x1b(H", "\x1b(B", "\x1b(J", "\x1b(I"})
        EXPECT_EQ(StrX_JisEscapeKind(s), 5);
    for (const char* s : {"\x1b$A", "\x1b(C", "\x1b", "", "$B", "\x1b$"}) {
        EXPECT_EQ(StrX_JisEscapeKind(s), 0) << s;
    }
}

// ---- Pointer ranges -----------------------------------------------------

TEST_F(StrXTest, PtrRangeBasics) {
    int values[5] = {10, 20, 30, 40, 50};
    PtrRange r;
    PtrRange_Set(&r, values, sizeof values);
    EXPECT_EQ(r.first, values);
    EXPECT_EQ(r.last, values + 5);
    EXPECT_TRUE(PtrRange_IsValid(&r));
    EXPECT_EQ(PtrRange_Count(&r, sizeof(int)), 5u);
    EXPECT_EQ(PtrRange_Count(&r, 0), 0u);
    EXPECT_EQ(PtrRange_At(&r, sizeof(int), 4), values + 4);
    EXPECT_EQ(PtrRange_At(&r, sizeof(int), 5), nullptr);
    EXPECT_EQ(PtrRange_SetEnds(&r, values + 1, values + 3), values + 3);
    EXPECT_EQ(PtrRange_Count(&r, sizeof(int)), 2u);
    PtrRange back{values + 3, values + 1};
    EXPECT_FALSE(PtrRange_IsValid(&back));
    EXPECT_EQ(PtrRange_Count(&back, sizeof(int)), 0u);
    char text[] = "abc";
    PtrRange s;
    PtrRange_SetStr(&s, text);
    EXPECT_EQ(PtrRange_Count(&s, 1), 3u);
}

TEST_F(StrXTest, PtrRangePointersCopyFill) {
    int values[4] = {1, 2, 3, 4};
    PtrRange r;
    PtrRange_Set(&r, values, sizeof values);
    void* ptrs[3];
    EXPECT_EQ(PtrRange_ToPtrs(&r, sizeof(int), ptrs, 3), 3u);
    EXPECT_EQ(ptrs[2], values + 2);

    int copy[3] = {0, 0, 0};
    PtrRange c;
    EXPECT_EQ(PtrRange_Copy(&c, &r, copy, sizeof copy), copy + 3);  // cut to the block
    EXPECT_EQ(copy[2], 3);

    const int fill[6] = {7, 8, 9, 10, 11, 12};
    EXPECT_EQ(PtrRange_Fill(&r, sizeof(int), fill, 2), 2u);
    EXPECT_EQ(values[1], 8);
    EXPECT_EQ(values[2], 3);
    EXPECT_EQ(PtrRange_Fill(&r, sizeof(int), fill, 6), 4u);  // only what fits
    EXPECT_EQ(values[3], 10);
}

TEST_F(StrXTest, PtrRangeNextMarked) {
    struct Rec {
        unsigned char used;
        int v;
    } recs[4] = {{0, 1}, {1, 2}, {2, 3}, {1, 4}};
    PtrRange r;
    PtrRange_Set(&r, recs, sizeof recs);
    void* e = PtrRange_NextMarked(&r, nullptr, sizeof(Rec), 0);
    EXPECT_EQ(e, &recs[1]);
    e = PtrRange_NextMarked(&r, e, sizeof(Rec), 0);
    EXPECT_EQ(e, &recs[3]);  // marker 2 is not 1
    EXPECT_EQ(PtrRange_NextMarked(&r, e, sizeof(Rec), 0), nullptr);
}

TEST_F(StrXTest, PtrRangeMoveRotatesWithinTheArray) {
    char a[] = "0123456789";
    PtrRange r;
    PtrRange_Set(&r, a, 10);
    EXPECT_TRUE(PtrRange_Move(&r, a + 1, 2, a + 5));  // 12 to where 56 was
    EXPECT_STREQ(a, "0345612789");
    EXPECT_TRUE(PtrRange_Move(&r, a + 5, 2, a + 1));  // and back
    EXPECT_STREQ(a, "0123456789");
    EXPECT_TRUE(PtrRange_Move(&r, a + 3, 1, a + 3));
    EXPECT_STREQ(a, "0123456789");
    EXPECT_FALSE(PtrRange_Move(&r, a + 8, 3, a));  // the block passes the end
    EXPECT_FALSE(PtrRange_Move(&r, a, 3, a + 8));  // the new place passes the end
    EXPECT_STREQ(a, "0123456789");
}

// ---- Words and tokens ---------------------------------------------------

TEST_F(StrXTest, GetWord) {
    char out[16];
    const char* text = "  one \"two three\" four";
    const char* p = StrX_GetWord(out, sizeof out, text);
    EXPECT_STREQ(out, "one");
    p = StrX_GetWord(out, sizeof out, p);
    EXPECT_STREQ(out, "two three");
    p = StrX_GetWord(out, sizeof out, p);
    EXPECT_STREQ(out, "four");
    EXPECT_EQ(StrX_GetWord(out, sizeof out, p), nullptr);
    EXPECT_STREQ(out, "");
    Guarded small(3);
    StrX_GetWord(small.data(), small.size(), "abcdef");
    EXPECT_EQ(small.str(), "ab");
    EXPECT_TRUE(small.GuardIntact());
    StrX_GetWord(out, sizeof out, "\"open");
    EXPECT_STREQ(out, "open");
}

TEST_F(StrXTest, GetIdentAndTokens) {
    char out[16];
    const char* p = StrX_GetIdent("  _a1 b", out, sizeof out);
    EXPECT_STREQ(out, "_a1");
    EXPECT_STREQ(p, " b");
    EXPECT_EQ(StrX_GetIdent("1abc", out, sizeof out), nullptr);
    EXPECT_STREQ(out, "");

    std::string jp = kHyo + "x";
    p = StrX_GetToken(jp.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), kHyo);
    EXPECT_STREQ(p, "x");
    EXPECT_EQ(StrX_GetToken("+x", out, sizeof out), nullptr);
    Guarded two(2);
    StrX_GetToken(jp.c_str(), two.data(), two.size());
    EXPECT_EQ(two.str(), "");  // the character does not fit whole
    EXPECT_TRUE(two.GuardIntact());

    std::string run = "ab " + kHyo + kHyo + " cd  ef";
    p = StrX_GetTokens(run.c_str(), 10, out, sizeof out);
    EXPECT_EQ(std::string(out), "ab " + kHyo + kHyo + " cd");  // two blanks end the run
    EXPECT_STREQ(p, "  ef");
    p = StrX_GetTokens(run.c_str(), 2, out, sizeof out);
    EXPECT_EQ(std::string(out), "ab " + kHyo);
    Guarded small(6);
    StrX_GetTokens("abc defg", 5, small.data(), small.size());
    EXPECT_EQ(small.str(), "abc");  // defg does not fit whole
    EXPECT_TRUE(small.GuardIntact());
    EXPECT_EQ(StrX_GetTokens("  ", 3, out, sizeof out), nullptr);
}

TEST_F(StrXTest, ExpandList) {
    char out[64];
    EXPECT_EQ(StrX_ExpandList(out, sizeof out, "<%s>", "a, \"b,c\" ,d", ";"), 3);
    EXPECT_STREQ(out, "<a>;<b,c>;<d>");
    EXPECT_EQ(StrX_ExpandList(out, sizeof out, "%s=%s%%", "x", ","), 1);
    EXPECT_STREQ(out, "x=x%");
    EXPECT_EQ(StrX_ExpandList(out, sizeof out, "<%s>", "", ","), 0);
    EXPECT_STREQ(out, "");
    Guarded small(10);
    EXPECT_EQ(StrX_ExpandList(small.data(), small.size(), "<%s>", "ab,cd,ef", ","), 2);
    EXPECT_EQ(small.str(), "<ab>,<cd>");  // exactly 9 bytes; the third would not fit
    EXPECT_TRUE(small.GuardIntact());
    Guarded tiny(4);
    EXPECT_EQ(StrX_ExpandList(tiny.data(), tiny.size(), "<%s>", "abcdef", ","), 0);
    EXPECT_EQ(tiny.str(), "");
    EXPECT_TRUE(tiny.GuardIntact());
}

TEST_F(StrXTest, PrintArgs) {
    const char* args[] = {"prog", "a b"};
    testing::internal::CaptureStdout();
    StrX_PrintArgs(2, args);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "argc = 2\nargv[0] = prog\nargv[1] = a b\n");
}

// ---- Memory -------------------------------------------------------------

// The no-heap tests below rely on the counter: it must see both kinds of
// allocation, or those tests could not fail.
TEST_F(StrXTest, AllocCounterSeesHeapAllocations) {
    void* (*volatile allocate)(size_t) = malloc;
    long count;
    {
        AllocCounter counter;
        void* p = allocate(40);
        free(p);
        count = counter.Count();
    }
    EXPECT_EQ(count, 1);
    {
        AllocCounter counter;
        std::string* s = new std::string(100, 'x');  // the object and its text
        asm volatile("" : : "g"(s) : "memory");      // kept, whatever the optimiser
        count = counter.Count();
        delete s;
    }
    EXPECT_EQ(count, 2);
}

TEST_F(StrXTest, StringAndPathOperationsTakeNoHeap) {
    StrX_SetExePath("\\opt\\t\\tessaly");
    char a[260];
    char b[260];
    char c[512];
    long count;
    {
        AllocCounter counter;
        StrX_QuoteField(a, "a, \"b\"", sizeof a);
        StrX_SplitField(b, a);
        StrX_GetField("x,y,z", 2, b, sizeof b);
        StrX_FieldIndex("x,y,z", "Y", false);
        StrX_CopyN(a, "C:\\pages\\sub", sizeof a);
        StrX_AddLastChar(a, '\\');
        StrX_CatN(a, "..\\b.htm", 259);
        StrX_CleanDots(a);
        strcpy(b, "travel\\kyoto.htm");
        StrX_AbsPath(b, sizeof b, "C:\\pages");
        strcpy(b, "b.htm");
        StrX_AbsPathOfFile(b, sizeof b, "C:\\x\\a.htm");
        StrX_AbsPathExe(b, "vark.ini", sizeof b);
        StrX_PathToUrl(b, "C:\\My Pages\\a.htm");
        StrX_HtmlEscape("a<b>&c", c, sizeof c);
        StrX_FindStrI("Hello World", "WORLD");
        StrX_FindCharBack(c, c + 3, '&');
        StrX_WildCmp("*.htm", "a.htm");
        strcpy(c, "a b c");
        StrX_ReplaceStr(c, sizeof c, " ", "%20");
        StrX_ToSjis(c, "\x1b$B\x30\x21\x1b(B");
        StrX_EucToSjis(c, "\xB0\xA1");
        StrX_Trim(c);
        StrX_ExpandList(c, sizeof c, "<%s>", "a,b", ",");
        count = counter.Count();
    }
    EXPECT_EQ(count, 0);
}

}  // namespace

namespace {

// Sets TZ for one scope and restores the previous value afterwards.
class TzScope {
   public:
    explicit TzScope(const char* tz) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TzScope() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

   private:
    bool had_;
    std::string old_;
};

std::string Format(time_t t, const char* format, int size = 100) {
    char out[128];
    StrX_FormatTime(t, format, out, size);
    return out;
}

time_t Make(int y, int mo, int d, int h, int mi, int s) {
    time_t t = 0;
    EXPECT_EQ(StrX_MakeTime(&t, y, mo, d, h, mi, s), 0);
    return t;
}

}  // namespace

// ---- String pool ---------------------------------------------------------

TEST_F(StrXTest, MemAddCutsAndReportsWhenFull) {
    char block[8 + 4];
    memset(block, 'G', sizeof block);
    StrX_Mem mem;
    StrX_Mem_Init(&mem, block, 8);
    char* a = StrX_Mem_Add(&mem, "abc");
    EXPECT_EQ(a, block + 1);
    EXPECT_STREQ(a, "abc");
    char* d = StrX_Mem_Add(&mem, "de");
    EXPECT_EQ(d, block + 5);
    EXPECT_STREQ(d, "d");  // the copy keeps one byte free
    char* e = nullptr;
    EXPECT_EQ(CaughtCode([&] { e = StrX_Mem_Alloc(&mem); }), 0);
    EXPECT_EQ(e, block + 7);
    EXPECT_EQ(StrX_Mem_Left(&mem), 0);
    EXPECT_EQ(CaughtCode([&] { StrX_Mem_Alloc(&mem); }), 3180);
    EXPECT_NE(LastText().find(Sjis(u8"アプリ内部のメモリ領域が足りません")), std::string::npos);
    EXPECT_EQ(mem.last, mem.end);
    EXPECT_EQ(StrX_Mem_Left(&mem), 0);
    EXPECT_EQ(CaughtCode([&] { StrX_Mem_Add(&mem, "x"); }), 3180);
    EXPECT_EQ(std::string(block + 8, 4), "GGGG");
    StrX_Mem_Clear(&mem);
    EXPECT_STREQ(StrX_Mem_Add(&mem, "xyz"), "xyz");
}

TEST_F(StrXTest, MemNextWalksInOrderAndDropLastReuses) {
    char block[32];
    StrX_Mem mem;
    StrX_Mem_Init(&mem, block, sizeof block);
    EXPECT_EQ(StrX_Mem_Next(&mem, nullptr), nullptr);  // empty pool
    StrX_Mem_Add(&mem, "one");
    StrX_Mem_Add(&mem, "");
    StrX_Mem_Add(&mem, "three");
    std::string walked;
    for (char* s = StrX_Mem_Next(&mem, nullptr); s; s = StrX_Mem_Next(&mem, s)) {
        walked += std::string("[") + s + "]";
    }
    EXPECT_EQ(walked, "[one][][three]");

    char* dropped = mem.last;
    StrX_Mem_DropLast(&mem);
    EXPECT_STREQ(mem.last, "");  // the empty second string is last again
    EXPECT_EQ(StrX_Mem_AddIfNew(&mem, ""), mem.last);
    EXPECT_EQ(StrX_Mem_Add(&mem, "four"), dropped);  // the dropped bytes are reused
    StrX_Mem_DropLast(&mem);
    StrX_Mem_DropLast(&mem);
    StrX_Mem_DropLast(&mem);
    EXPECT_EQ(mem.last, mem.start);
    StrX_Mem_DropLast(&mem);  // an empty pool stays empty
    EXPECT_EQ(mem.last, mem.start);
    EXPECT_EQ(StrX_Mem_Next(&mem, nullptr), nullptr);
    EXPECT_EQ(StrX_Mem_Add(&mem, "x"), block + 1);
}

TEST_F(StrXTest, MemAddIfNewAndLeft) {
    char block[16];
    StrX_Mem mem;
    StrX_Mem_Init(&mem, block, sizeof block);
    EXPECT_EQ(StrX_Mem_Left(&mem), 15);
    char* first = StrX_Mem_AddIfNew(&mem, "");  // a real string, not the sentinel
    EXPECT_EQ(first, block + 1);
    StrX_Mem_DropLast(&mem);
    char* a = StrX_Mem_AddIfNew(&mem, "ab");
    EXPECT_EQ(StrX_Mem_AddIfNew(&mem, "ab"), a);
    EXPECT_EQ(StrX_Mem_AddOrSet(&mem, "ab"), a);
    EXPECT_EQ(StrX_Mem_Left(&mem), 16 - 1 - 2 - 1);  // bytes 4..15
    char* b = StrX_Mem_AddIfNew(&mem, "cd");
    EXPECT_EQ(b, a + 3);
    char* p = StrX_Mem_Alloc(&mem);  // the usual pattern: write at most Left bytes
    int left = StrX_Mem_Left(&mem);
    EXPECT_EQ(left, 16 - 7 - 1);
    memset(p, 'z', left - 1);
    p[left - 1] = '\0';
    EXPECT_EQ(StrX_Mem_Left(&mem), 1);  // the pattern always leaves the last byte
    EXPECT_EQ(CaughtCode([&] { StrX_Mem_Alloc(&mem); }), 0);  // the block's last byte
    EXPECT_EQ(CaughtCode([&] { StrX_Mem_Alloc(&mem); }), 3180);
}

// ---- Relative paths --------------------------------------------------------

struct RelCase {
    const char* path;
    const char* base;
    const char* want;
};

TEST_F(StrXTest, RelPathExamples) {
    const RelCase cases[] = {
        {"C:\\home\\site\\travel\\kyoto.htm", "C:\\home\\site", "travel\\kyoto.htm"},
        {"C:\\home\\other\\a.htm", "C:\\home\\site", "..\\other\\a.htm"},
        {"C:\\home\\site\\", "C:\\home\\site", ".\\"},
        {"C:\\home\\site/", "C:\\home\\site", "./"},
        {"C:\\home\\site\\", "C:\\home\\site\\", ".\\"},
        {"D:\\x\\y.htm", "C:\\home\\site", "D:..\\..\\x\\y.htm"},
        {"c:\\home\\x.htm", "C:\\Home", "x.htm"},
        {"C:\\home\\site\\a.htm", "C:\\home\\site\\", "a.htm"},
        {"C:\\home\\sitex\\a.htm", "C:\\home\\site", "..\\sitex\\a.htm"},
        {"C:/home/site/a.htm", "C:\\home\\site", "a.htm"},
        {"C:\\home\\x.htm", "\\home", "x.htm"},  // drive dropped
        {"\\home\\x.htm", "C:\\home", ""},       // base has a drive, path none
        {"\\home\\u\\p\\a.htm", "\\home\\u\\q", "..\\p\\a.htm"},
        {"", "C:\\home", ""},
        {"a\\x.htm", "b\\c", "..\\..\\a\\x.htm"},  // no common separator
        {"sitex\\a.htm", "site", "..\\sitex\\a.htm"},
        {"\\x\\a.htm", "b\\c", "\\x\\a.htm"},  // one rooted: unchanged
        {"a.htm", "", "a.htm"},
        // A 0x5C trail byte is no separator: \x95\x5C is one character.
        {"C:\\home\\\x95\x5Cx\\a.htm", "C:\\home\\\x95\x5C", "..\\\x95\x5Cx\\a.htm"},
        {"C:\\home\\\x95\x5C\\a.htm", "C:\\home\\\x95\x5C", "a.htm"},
        // Trail bytes that are letters compare exactly.
        {"C:\\\x82\x61\\a.htm", "C:\\\x82\x41", "..\\\x82\x61\\a.htm"},
    };
    for (const RelCase& c : cases) {
        char buf[260];
        strcpy(buf, c.path);
        EXPECT_STREQ(StrX_RelPath(buf, sizeof buf, c.base), c.want)
            << c.path << " against " << c.base;
    }
}

TEST_F(StrXTest, RelPathNeverWritesPastLimit) {
    const char* path = "D:\\x\\y.htm";
    const char* base = "C:\\a\\b\\c";
    const std::string full = "D:..\\..\\..\\x\\y.htm";
    for (int limit = 1; limit <= static_cast<int>(full.size()) + 2; limit++) {
        char buf[64];
        memset(buf, 'G', sizeof buf);
        strcpy(buf, path);
        StrX_RelPath(buf, limit, base);
        std::string got = buf;
        EXPECT_LT(static_cast<int>(got.size()), limit) << "limit " << limit;
        EXPECT_EQ(full.compare(0, got.size(), got), 0) << "limit " << limit << ": " << got;
        for (int i = std::max(limit, static_cast<int>(strlen(path)) + 1); i < 64; i++) {
            EXPECT_EQ(buf[i], 'G') << "limit " << limit << " byte " << i;
        }
        if (limit == static_cast<int>(full.size()) + 1) {
            EXPECT_EQ(got, full);
        }
    }
    // The "..\" groups stop when a group and the NUL no longer fit.
    char buf[16];
    strcpy(buf, path);
    EXPECT_STREQ(StrX_RelPath(buf, 8, base), "D:..\\");
    // The remainder is not cut inside a double-byte character.
    strcpy(buf, "C:\\a\\\x95\x5C");
    EXPECT_STREQ(StrX_RelPath(buf, 2, "C:\\a"), ".");  // nothing fitted: the empty result
    strcpy(buf, "C:\\a\\x\x95\x5C");
    EXPECT_STREQ(StrX_RelPath(buf, 3, "C:\\a"), "x");
}

// ---- Path parts --------------------------------------------------------------

TEST_F(StrXTest, CutFileNameAndGetFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\a\\b\\", "C:\\a"},
        {"C:\\a\\b", "C:\\a"},
        {"C:\\a", "C:\\"},
        {"C:/a/b.htm", "C:/a"},
        {"\\home\\u", "\\home"},
        {"\\home", "\\"},
        {"name.htm", ""},
        {"", ""},
        {"C:\\\x95\x5C", "C:\\"},  // the trail byte is no separator
        {"C:\\d\\\x95\x5C\\", "C:\\d"},
    };
    for (const auto& [path, want] : cases) {
        char buf[260];
        strcpy(buf, path);
        EXPECT_STREQ(StrX_CutFileName(buf), want) << path;
        char out[260];
        EXPECT_STREQ(StrX_GetFolder(out, path), want) << path;
    }
}

TEST_F(StrXTest, GetFileNameTakesLastBackslashElement) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\a\\b.htm", "b.htm"},
        {"C:\\a\\b\\", "b"},
        {"b.htm", "b.htm"},
        {"C:/a/b", "C:/a/b"},  // only the backslash separates here
        {"\\", ""},
        {"", ""},
        {"C:\\a\\\x95\x5C", "\x95\x5C"},  // a trail byte 0x5C is no backslash
        {"C:\\\x95\x5C\\", "\x95\x5C"},
    };
    for (const auto& [path, want] : cases) {
        char out[260];
        EXPECT_STREQ(StrX_GetFileName(out, path), want) << path;
    }
    const char* path = "C:\\a\\b\\";
    EXPECT_EQ(StrX_GetFileNamePtr(path), path + 5);
}

TEST_F(StrXTest, JoinMoveAndExtensions) {
    struct Case {
        const char* path;
        const char* part;
        const char* want;
    };
    const Case joins[] = {
        {"C:\\a", "b", "C:\\a\\b"},
        {"C:\\a\\", "b", "C:\\a\\b"},
        {"", "b", "b"},
        {"C:\\a", "D:\\x", "D:\\x"},
        {"C:\\\x95\x5C", "b", "C:\\\x95\x5C\\b"},
    };
    for (const Case& c : joins) {
        char buf[260];
        strcpy(buf, c.path);
        EXPECT_STREQ(StrX_JoinPath(buf, c.part), c.want) << c.path << " + " << c.part;
    }
    const Case moves[] = {
        {"C:\\a\\x.txt", "backup", "C:\\a\\backup\\x.txt"},
        {"C:\\a\\x.txt", "..\\b", "C:\\b\\x.txt"},
        {"C:\\a\\x.txt", "D:\\y", "D:\\y\\x.txt"},
        {"C:\\a\\x.txt", "\\y", "\\y\\x.txt"},
        {"x.txt", "bk", "bk\\x.txt"},
    };
    for (const Case& c : moves) {
        char buf[260];
        strcpy(buf, c.path);
        EXPECT_STREQ(StrX_MoveToFolder(buf, c.part), c.want) << c.path << " into " << c.part;
    }
    const char* p = "C:\\a.d\\b";
    EXPECT_STREQ(StrX_GetExt("a.b.htm"), "htm");
    EXPECT_EQ(StrX_GetExt(p), p + 5);  // the last dot of the whole path
    p = "noext";
    EXPECT_EQ(StrX_GetExt(p), p + 5);
    const Case exts[] = {{"a.htm", "txt", "a.txt"}, {"a", "txt", "a.txt"}, {"a.", "txt", "a.txt"}};
    for (const Case& c : exts) {
        char buf[260];
        strcpy(buf, c.path);
        EXPECT_STREQ(StrX_SetExt(buf, c.part), c.want) << c.path;
    }
}

TEST_F(StrXTest, LongPathNamesElementsAsListed) {
    TempDir dir;
    dir.Write("Pages/Sub/a.htm", "x");
    const std::string root = dir.inside();
    const std::pair<std::string, std::string> cases[] = {
        {root + "\\pages\\SUB\\A.HTM", root + "\\Pages\\Sub\\a.htm"},
        {root + "\\PAGES\\none\\x", root + "\\Pages\\none\\x"},  // no match: kept
        {root + "\\pages\\", root + "\\Pages\\"},
        {"name", "name"},
    };
    for (const auto& [path, want] : cases) {
        char out[260];
        EXPECT_EQ(StrX_LongPath(out, path.c_str()), want) << path;
        char same[260];
        strcpy(same, path.c_str());
        EXPECT_EQ(StrX_LongPath(same, same), want) << path;
    }
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // scratch released
}

// ---- Relative paths over files and lists -----------------------------------

TEST_F(StrXTest, RelPathToFileAndRelLink) {
    const char* base = "C:\\home\\site\\index.htm";
    char buf[260];
    strcpy(buf, "C:\\home\\site\\travel\\k.htm");
    EXPECT_STREQ(StrX_RelPathToFile(buf, sizeof buf, base), "travel\\k.htm");
    const RelCase links[] = {
        {"C:\\home\\site\\index.htm#top", base, "#top"},
        {"C:\\home\\site\\index.htm#top", "C:\\home\\site\\index.htm#x", "#top"},
        {"C:\\home\\site\\index.html#top", base, "index.html#top"},
        {"C:\\home\\site\\a.htm", base, "a.htm"},
        {"C:\\home\\b.htm#s", base, "..\\b.htm#s"},
        {"#top", base, "#top"},
    };
    for (const RelCase& c : links) {
        strcpy(buf, c.path);
        EXPECT_STREQ(StrX_RelLink(buf, sizeof buf, c.base), c.want) << c.path << " | " << c.base;
    }
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);
}

TEST_F(StrXTest, PathListsJoinElements) {
    const char* base = "C:\\home\\index.htm";
    char out[64];
    EXPECT_STREQ(StrX_PathList(out, "a.htm, sub\\b.htm", sizeof out, base),
                 "C:\\home\\a.htm, C:\\home\\sub\\b.htm");
    EXPECT_STREQ(StrX_RelPathList(out, "C:\\home\\a.htm,C:\\other\\b.htm", sizeof out, base),
                 "a.htm, ..\\other\\b.htm");
    EXPECT_STREQ(StrX_PathList(out, "", sizeof out, base), "");
    EXPECT_STREQ(StrX_PathList(out, ",a.htm", sizeof out, base), "");
    EXPECT_STREQ(StrX_RelPathList(out, "C:\\home\\a.htm,,C:\\home\\b.htm", sizeof out, base),
                 "a.htm");  // an empty element ends the list

    // Overflow: out keeps what fits and the report is 102.
    const char* two = "C:\\home\\a.htm,C:\\home\\bb.htm";  // "a.htm, bb.htm": 13 bytes
    char small[13 + 4];
    memset(small, 'G', sizeof small);
    EXPECT_EQ(CaughtCode([&] { StrX_RelPathList(small, two, 13, base); }), 102);
    EXPECT_STREQ(small, "a.htm");
    EXPECT_EQ(std::string(small + 6, 11), "GGGGGGGGGGG");
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // scratch released before the raise
    EXPECT_EQ(CaughtCode([&] { StrX_RelPathList(small, two, 14, base); }), 0);  // exact fit
    EXPECT_STREQ(small, "a.htm, bb.htm");
    EXPECT_EQ(std::string(small + 14, 3), "GGG");
}

TEST_F(StrXTest, ReplaceBaseMovesPathToNewFolder) {
    struct Case {
        const char* path;
        const char* oldFolder;
        const char* newFolder;
        const char* want;
    };
    const Case cases[] = {
        {"C:\\old\\sub\\a.htm", "C:\\old", "D:\\new", "D:\\new\\sub\\a.htm"},
        {"C:\\old\\sub\\a.htm", "C:\\old\\", "D:\\new\\", "D:\\new\\sub\\a.htm"},
        {"C:\\OLD\\a.htm", "c:\\old", "D:\\new", "D:\\new\\a.htm"},
        {"C:\\old", "C:\\old", "D:\\new", "D:\\new\\"},
    };
    for (const Case& c : cases) {
        char out[260];
        EXPECT_EQ(CaughtCode([&] { StrX_ReplaceBase(c.path, c.oldFolder, c.newFolder, out, 260); }),
                  0)
            << c.path;
        EXPECT_STREQ(out, c.want) << c.path;
    }
    char out[12 + 4];
    memset(out, 'G', sizeof out);
    EXPECT_EQ(CaughtCode([&] { StrX_ReplaceBase("C:\\oldx\\a", "C:\\old", "D:\\n", out, 12); }),
              102);  // not inside the old folder
    EXPECT_STREQ(out, "");
    EXPECT_EQ(CaughtCode([&] { StrX_ReplaceBase("C:\\o\\abcdefg", "C:\\o", "D:\\n", out, 12); }),
              102);  // D:\n\abcdefg needs 13 bytes
    EXPECT_EQ(std::string(out + 12, 4), "GGGG");
    EXPECT_EQ(CaughtCode([&] { StrX_ReplaceBase("C:\\o\\abcdef", "C:\\o", "D:\\n", out, 12); }), 0);
    EXPECT_STREQ(out, "D:\\n\\abcdef");
}

// ---- Time text ---------------------------------------------------------------

TEST_F(StrXTest, TimeTextRoundTripsInTwoZones) {
    for (const char* tz : {"JST-9", "EST5EDT"}) {
        TzScope zone(tz);
        int repeated = 0;
        // Every 7 hours 13 minutes 17 seconds through 2000 and 2001, DST changes included.
        for (time_t t = 946684800; t < 1009843200; t += 7 * 3600 + 13 * 60 + 17) {
            char text[20];
            StrX_TimeToText(t, text);
            time_t back = 0;
            ASSERT_EQ(StrX_TextToTime(&back, text), 0) << tz << " " << text;
            char again[20];
            StrX_TimeToText(back, again);
            EXPECT_STREQ(again, text) << tz;
            if (back != t) {
                // Only in the hour a fall-back repeats may the other of the two be taken.
                EXPECT_EQ(std::llabs(static_cast<long long>(back - t)), 3600) << tz << " " << text;
                repeated++;
            }
        }
        EXPECT_LE(repeated, 2) << tz;
    }
    {
        TzScope zone("JST-9");
        char text[20];
        EXPECT_STREQ(StrX_TimeToText(954424861, text), "2000/03/30-23:01:01");
        time_t t = 0;
        EXPECT_EQ(StrX_TextToTime(&t, "2000/03/30-23:01:01"), 0);
        EXPECT_EQ(t, 954424861);
        EXPECT_EQ(StrX_TextToTime(&t, "2000.3.30 23-1-1"), 0);  // any separator byte
        EXPECT_EQ(t, 954424861);
    }
    {
        TzScope zone("EST5EDT");
        char text[20];
        EXPECT_STREQ(StrX_TimeToText(954424861, text), "2000/03/30-09:01:01");              // EST
        EXPECT_STREQ(StrX_TimeToText(954424861 + 7 * 86400, text), "2000/04/06-10:01:01");  // EDT
        time_t t = 0;
        EXPECT_EQ(StrX_TextToTime(&t, "2000/07/01-12:00:00"), 0);
        EXPECT_EQ(t, 962467200);  // 16:00 UTC: daylight saving chosen by the run-time
    }
}

TEST_F(StrXTest, MakeTimeFailureLeavesOutput) {
    time_t t = 12345;
    EXPECT_EQ(StrX_MakeTime(&t, INT_MIN, 1, 1, 0, 0, 0), 1);
    EXPECT_EQ(t, 12345);
    EXPECT_EQ(StrX_TextToTime(&t, "-2147483648/1/1-0:0:0"), 1);
    EXPECT_EQ(t, 12345);
    EXPECT_EQ(StrX_ClearTime(&t), &t);
    EXPECT_EQ(t, 0);
}

TEST_F(StrXTest, FormatTimeWindowsForms) {
    TzScope zone("JST-9");
    const time_t t = Make(2000, 3, 5, 1, 2, 3);
    const std::pair<const char*, const char*> cases[] = {
        {"%n.%#d.%Y", "Mar.5.2000"},
        {"%d", "05"},
        {"%#m/%#d", "3/5"},
        {"%#H:%#M:%#S", "1:2:3"},
        {"%#I", "1"},
        {"%#y", "0"},  // one digit stays
        {"%#Y", "2000"},
        {"%#j", "65"},
        {"%#w %#U %#W", "0 10 9"},
        {"%#x", "Sunday, March 05, 2000"},
        {"%#c", "Sunday, March 05, 2000 01:02:03"},
        {"%#a %#b", "Sun Mar"},  // '#' ignored, not glibc's case swap
        {"%%#d", "%#d"},
        {"%n %n", "Mar Mar"},
        {"", ""},
    };
    for (const auto& [format, want] : cases) {
        EXPECT_EQ(Format(t, format), want) << format;
    }
    EXPECT_EQ(Format(Make(2000, 3, 30, 23, 1, 1), "%n.%#d.%Y"), "Mar.30.2000");
    EXPECT_EQ(Format(Make(2000, 12, 31, 12, 0, 0), "%n %#j"), "Dec 366");
    EXPECT_EQ(Format(Make(2005, 1, 9, 0, 0, 0), "%#y-%#j"), "5-9");

    // Bounds: exact fit, one byte short (empty), guard bytes untouched.
    char out[16];
    memset(out, 'G', sizeof out);
    StrX_FormatTime(t, "%n.%#d.%Y", out, 11);
    EXPECT_STREQ(out, "Mar.5.2000");
    EXPECT_EQ(std::string(out + 11, 5), "GGGGG");
    memset(out, 'G', sizeof out);
    StrX_FormatTime(t, "%n.%#d.%Y", out, 10);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(std::string(out + 10, 6), "GGGGGG");
    memset(out, 'G', sizeof out);
    StrX_FormatTime(t, "%Y", out, 0);
    EXPECT_EQ(out[0], 'G');
    char text[20 + 4];
    memset(text, 'G', sizeof text);
    StrX_TimeToText(t, text);
    EXPECT_STREQ(text, "2000/03/05-01:02:03");
    EXPECT_EQ(std::string(text + 20, 4), "GGGG");
}

TEST_F(StrXTest, BuildDateTextReadsCompilerDate) {
    TzScope zone("EST5EDT");
    EXPECT_STREQ(StrX_BuildDateText("Mar 30 2000", "23:01:01", "%n.%#d.%Y"), "Mar.30.2000");
    EXPECT_STREQ(StrX_BuildDateText("Mar  5 2000", "23:01:01", "%n.%#d.%Y"), "Mar.5.2000");
    EXPECT_STREQ(StrX_BuildDateText("Mar 30 2000", "23:01:01", "%Y/%m/%d %H:%M:%S"),
                 "2000/03/30 23:01:01");
    // A name that is not an exact abbreviation is month 13: January of the next year.
    EXPECT_STREQ(StrX_BuildDateText("mar 5 2000", "0:0:0", "%Y/%#m/%#d"), "2001/1/5");
    EXPECT_STREQ(StrX_BuildDateText("March 5 2000", "0:0:0", "%Y/%#m/%#d"), "2001/1/5");
    // A name longer than any buffer is read safely and matches nothing.
    EXPECT_STREQ(StrX_BuildDateText("Marchxxxxxxxxxxxxxxxxxxxxxxxxxxxxx 5 2000", "0:0:0", "%Y"),
                 "2001");
}

TEST_F(StrXTest, SplitSpanAndCompareTimes) {
    struct tm span;
    StrX_SplitSpan(&span, 86400 + 3600 + 60 + 1);
    EXPECT_EQ(span.tm_mday, 1);
    EXPECT_EQ(span.tm_hour, 1);
    EXPECT_EQ(span.tm_min, 1);
    EXPECT_EQ(span.tm_sec, 1);
    EXPECT_EQ(span.tm_mon, 0);
    EXPECT_EQ(span.tm_year, 0);
    EXPECT_EQ(span.tm_isdst, -1);
    StrX_SplitSpan(&span, 59.9);
    EXPECT_EQ(span.tm_sec, 59);
    EXPECT_EQ(span.tm_min, 0);
    StrX_SplitSpan(&span, -1);  // a time in the future: floor division
    EXPECT_EQ(span.tm_mday, -1);
    EXPECT_EQ(span.tm_hour, 23);
    EXPECT_EQ(span.tm_min, 59);
    EXPECT_EQ(span.tm_sec, 59);
    StrX_SplitSpan(&span, 1e30);  // held to the int range
    EXPECT_EQ(span.tm_mday, INT_MAX);

    EXPECT_EQ(StrX_CompareTimes(5, true, 3, true), 1);
    EXPECT_EQ(StrX_CompareTimes(3, true, 5, true), -1);
    EXPECT_EQ(StrX_CompareTimes(4, true, 4, true), 0);
    EXPECT_EQ(StrX_CompareTimes(4, true, 9, false), 2);
    EXPECT_EQ(StrX_CompareTimes(4, false, 9, true), -2);
    EXPECT_EQ(StrX_CompareTimes(4, false, 9, false), 0);
}

TEST_F(StrXTest, NowAndTimeTextUsePlatformForm) {
    TzScope zone("UTC0");
    char out[64 + 4];
    memset(out, 'G', sizeof out);
    StrX_TimeText(954424861, out, 64);
    EXPECT_STREQ(out, "Thu Mar 30 14:01:01 2000");  // the C locale's %c
    memset(out, 'G', sizeof out);
    StrX_TimeText(954424861, out, 24);  // one short: empty, nothing past the size
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[24], 'G');
    EXPECT_EQ(strlen(StrX_NowText()), 24u);
    char year[8];
    time_t now = time(nullptr);
    strftime(year, sizeof year, "%Y", gmtime(&now));
    EXPECT_EQ(std::string(StrX_NowFormat("%Y")), year);
}

// ---- Conversions -------------------------------------------------------------

TEST_F(StrXTest, HexAndBinaryForms) {
    char out[40];
    EXPECT_EQ(StrX_Hex2(out, 0x1AB), out + 2);
    EXPECT_STREQ(out, "AB");
    EXPECT_EQ(StrX_Hex4(out, 0x12345), out + 4);
    EXPECT_STREQ(out, "2345");
    EXPECT_EQ(StrX_Hex8(out, 0xDEADBEEF), out + 8);
    EXPECT_STREQ(out, "DEADBEEF");
    StrX_Hex8(out, 0);
    EXPECT_STREQ(out, "00000000");
    EXPECT_STREQ(StrX_Bin32(out, 0x80000001u, '\0'), "10000000000000000000000000000001");
    EXPECT_STREQ(StrX_Bin32(out, 0x0F00A501u, '.'), "00001111.00000000.10100101.00000001");
    EXPECT_EQ(StrX_ParseBin("1x0 1"), 5);
    EXPECT_EQ(StrX_ParseBin(""), 0);
    EXPECT_EQ(StrX_ParseBin("11111111111111111111111111111111"), -1);
}

TEST_F(StrXTest, ParseIntSignsAndDigits) {
    struct Case {
        const char* text;
        int value;
        int consumed;
    };
    const Case cases[] = {
        {"+12x", 12, 3},
        {"--5", 5, 3},
        {"-5", -5, 2},
        {"+-7", -7, 3},
        {"", 0, 0},
        {"abc", 0, 0},
        {"2000/03", 2000, 4},
        {"-0", 0, 2},
        {"2147483647", INT_MAX, 10},
        {"-2147483648", INT_MIN, 11},
    };
    for (const Case& c : cases) {
        int v = 99;
        const char* end = StrX_ParseInt(c.text, &v);
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(end - c.text, c.consumed) << c.text;
    }
}

TEST_F(StrXTest, IntToStrCutsToSize) {
    const std::pair<int, const char*> cases[] = {
        {0, "0"},
        {7, "7"},
        {-123, "-123"},
        {99999, "99999"},
        {100000, "100000"},
        {INT_MIN, "-2147483648"},
        {INT_MAX, "2147483647"},
    };
    for (const auto& [value, want] : cases) {
        char out[16];
        char* end = StrX_IntToStr(out, sizeof out, value);
        EXPECT_STREQ(out, want) << value;
        EXPECT_EQ(end, out + strlen(want)) << value;
    }
    for (int size = 0; size <= 6; size++) {
        char out[8];
        memset(out, 'G', sizeof out);
        char* end = StrX_IntToStr(out, size, -1234);
        std::string got = size > 0 ? std::string(out) : std::string();
        EXPECT_EQ(got, std::string("-1234").substr(0, size > 0 ? size - 1 : 0)) << size;
        EXPECT_EQ(end, out + got.size()) << size;
        for (int i = size; i < 8; i++) EXPECT_EQ(out[i], 'G') << size << " byte " << i;
    }
}

TEST_F(StrXTest, WaitRunsTenthRounds) {
    EXPECT_EQ(StrX_Wait(25), 2);
    EXPECT_EQ(StrX_Wait(9), 0);
    EXPECT_EQ(StrX_Wait(-30), 0);
}

// ---- String set and command line ---------------------------------------------

TEST_F(StrXTest, SetFindAndMatch) {
    char block[] = "a.htm\0b.txt\0*.htm";  // three members, the last ends in the array's NUL
    StrX_Set set;
    StrX_Set_Init(&set, block, block + sizeof block);
    EXPECT_EQ(StrX_Set_Find(&set, "*.txt"), 1);
    EXPECT_EQ(StrX_Set_Find(&set, "*.htm"), 0);
    EXPECT_EQ(StrX_Set_Find(&set, "?.txt"), 1);
    EXPECT_EQ(StrX_Set_Find(&set, "zz"), -1);
    EXPECT_EQ(StrX_Set_Match(&set, "x.htm"), 2);
    EXPECT_EQ(StrX_Set_Match(&set, "a.htm"), 0);
    EXPECT_EQ(StrX_Set_Match(&set, "q"), -1);
    StrX_Set empty;
    StrX_Set_Init(&empty, block, block);
    EXPECT_EQ(StrX_Set_Find(&empty, "*"), -1);
    StrX_Set cut;  // an unterminated last member is not read
    StrX_Set_Init(&cut, block, block + 8);
    EXPECT_EQ(StrX_Set_Find(&cut, "b*"), -1);
    EXPECT_EQ(StrX_Set_Find(&cut, "a*"), 0);

    StrX_Set_Dump(&set);
    ASSERT_EQ(boxes_.boxes.size(), 4u);
    EXPECT_EQ(boxes_.boxes[0].text, "StrX_Set:");
    EXPECT_EQ(boxes_.boxes[3].text, "  *.htm");
}

TEST_F(StrXTest, MemDumpShowsEachString) {
    char block[32];
    StrX_Mem mem;
    StrX_Mem_Init(&mem, block, sizeof block);
    StrX_Mem_Add(&mem, "one");
    StrX_Mem_Add(&mem, "two");
    StrX_Mem_Dump(&mem);
    ASSERT_EQ(boxes_.boxes.size(), 3u);
    EXPECT_EQ(boxes_.boxes[0].text, "StrX_Mem:");
    EXPECT_EQ(boxes_.boxes[1].text, "  one");
    EXPECT_EQ(boxes_.boxes[2].text, "  two");
}

TEST_F(StrXTest, ArgsReadsQuotedAndPlainArguments) {
    TempDir dir;
    dir.Write("Pages/a.htm", "x");
    const std::string line = "\"C:\\My Pages\\a b.htm\" -x  " + dir.inside() + "\\pages\\A.htm";
    StrX_Args args;
    StrX_Args_Init(&args, line.c_str());
    EXPECT_STREQ(StrX_Args_Get(&args), "C:\\My Pages\\a b.htm");
    EXPECT_TRUE(StrX_Args_Next(&args));
    EXPECT_STREQ(args.arg, "-x");
    EXPECT_TRUE(StrX_Args_Next(&args));
    EXPECT_STREQ(args.arg, "");  // two blanks: an empty argument between them
    EXPECT_TRUE(StrX_Args_Next(&args));
    EXPECT_EQ(std::string(args.arg), dir.inside() + "\\Pages\\a.htm");  // as listed
    EXPECT_FALSE(StrX_Args_Next(&args));
    EXPECT_FALSE(StrX_Args_Next(&args));
    StrX_Args_Rewind(&args);
    EXPECT_STREQ(args.arg, "C:\\My Pages\\a b.htm");

    StrX_Args_Init(&args, "\"unclosed arg");
    EXPECT_STREQ(args.arg, "unclosed arg");
    EXPECT_FALSE(StrX_Args_Next(&args));
    StrX_Args_Init(&args, "\"x\"");
    EXPECT_FALSE(StrX_Args_Next(&args));  // the closing quote ends the line: no step past it
    std::string longArg(300, 'q');
    StrX_Args_Init(&args, longArg.c_str());
    EXPECT_EQ(strlen(args.arg), 259u);
}

// ---- No heap -----------------------------------------------------------------

TEST_F(StrXTest, OperationsTakeNoHeap) {
    TzScope zone("JST-9");
    char warm[32];
    StrX_FormatTime(0, "%Y", warm, sizeof warm);  // the locale and zone are read once

    char pool[64];
    char rel[260], folder[260], name[260], moved[260], list[128], based[64], timeText[20];
    char formatted[32], number[16], hex[12];
    int relOk, setIdx;
    time_t back = 0;
    const char* build;
    struct tm span;
    long count;
    {
        AllocCounter counter;
        StrX_Mem mem;
        StrX_Mem_Init(&mem, pool, sizeof pool);
        StrX_Mem_Add(&mem, "keyword");
        StrX_Mem_AddIfNew(&mem, "keyword");
        strcpy(rel, "C:\\home\\site\\travel\\kyoto.htm");
        StrX_RelPath(rel, sizeof rel, "C:\\home\\site");
        strcpy(moved, "C:\\home\\x.txt");
        StrX_MoveToFolder(moved, "..\\bk");
        StrX_GetFolder(folder, "C:\\home\\site\\a.htm");
        StrX_GetFileName(name, "C:\\home\\site\\a.htm");
        StrX_RelPathToFile(folder, sizeof folder, "C:\\home\\index.htm");
        StrX_RelPathList(list, "C:\\home\\a.htm,C:\\b.htm", sizeof list, "C:\\home\\i.htm");
        StrX_ReplaceBase("C:\\old\\a.htm", "C:\\old", "D:\\new", based, sizeof based);
        StrX_TimeToText(954424861, timeText);
        relOk = StrX_TextToTime(&back, timeText);
        StrX_FormatTime(back, "%n.%#d.%Y", formatted, sizeof formatted);
        build = StrX_BuildDateText("Mar 30 2000", "23:01:01", "%n.%#d.%Y");
        StrX_SplitSpan(&span, 90061);
        StrX_IntToStr(number, sizeof number, -42);
        StrX_Hex8(hex, 0xABCDEF);
        char setBlock[] = "a.htm\0*.txt";
        StrX_Set set;
        StrX_Set_Init(&set, setBlock, setBlock + sizeof setBlock);
        setIdx = StrX_Set_Match(&set, "x.txt");
        count = counter.Count();
    }
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(rel, "travel\\kyoto.htm");
    EXPECT_STREQ(moved, "C:\\bk\\x.txt");
    EXPECT_STREQ(folder, "site");
    EXPECT_STREQ(name, "a.htm");
    EXPECT_STREQ(list, "a.htm, ..\\b.htm");
    EXPECT_STREQ(based, "D:\\new\\a.htm");
    EXPECT_EQ(relOk, 0);
    EXPECT_EQ(back, 954424861);
    EXPECT_STREQ(formatted, "Mar.30.2000");
    EXPECT_STREQ(build, "Mar.30.2000");
    EXPECT_EQ(span.tm_mday, 1);
    EXPECT_STREQ(number, "-42");
    EXPECT_STREQ(hex, "00ABCDEF");
    EXPECT_EQ(setIdx, 1);
}
