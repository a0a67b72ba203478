#include "components/blex2.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "components/strx.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {
constexpr int kGuard = 8;
constexpr unsigned char kGuardByte = 0xCC;

bool Guarded(const void* p, size_t from, size_t to) {
    for (size_t i = from; i < to; i++)
        if (static_cast<const unsigned char*>(p)[i] != kGuardByte) return false;
    return true;
}
}  // namespace

// A reader over a page written into a fresh folder. The read-ahead buffer is
// followed by guard bytes that no operation may touch.
class BLex2Test : public LibraryTest {
   protected:
    void TearDown() override {
        if (open_) BLex2_Close(&lex_);
        LibraryTest::TearDown();
    }
    // Writes bytes to page.htm and opens a reader on it with the capacity.
    void Open(const std::string& bytes, int capacity = 64) {
        if (open_) BLex2_Close(&lex_);
        dir_.Write("page.htm", bytes);
        path_ = dir_.inside() + "\\page.htm";
        memset(buf_, kGuardByte, sizeof buf_);
        capacity_ = capacity;
        BLex2_Open(&lex_, path_.c_str(), buf_, capacity);
        open_ = true;
    }
    bool GuardIntact() const { return Guarded(buf_, capacity_, capacity_ + kGuard); }
    // Consumes the rest of the page and returns it.
    std::string Rest() {
        std::string s;
        for (int c; (c = BLex2_GetChar(&lex_)) != -1;) s += static_cast<char>(c);
        return s;
    }
    // Reads a tag with a pool and a table of tableBytes; the table's guard
    // bytes must stay.
    void ReadTag(int tableBytes = 40, int poolBytes = 4096) {
        memset(table_, kGuardByte, sizeof table_);
        StrX_Mem_Init(&pool_, poolBlock_, poolBytes);
        BLex2_ReadTag(&lex_, &tag_, &pool_, table_, tableBytes);
        EXPECT_TRUE(Guarded(table_, tableBytes, sizeof table_));
    }
    std::string Attrs() const {
        std::string s;
        for (int i = 0; i < tag_.count; i++)
            s +=
                std::string("[") + BLex2_AttrName(&tag_, i) + "=" + BLex2_AttrValue(&tag_, i) + "]";
        return s;
    }
    // Sets up a record buffer of size bytes followed by guard bytes.
    void Record(int size) {
        memset(rec_, kGuardByte, sizeof rec_);
        BLex2_SetRecordBuf(&lex_, rec_, size);
        BLex2_StartRecord(&lex_);
    }

    TempDir dir_;
    std::string path_;
    BLex2 lex_{};
    bool open_ = false;
    int capacity_ = 0;
    unsigned char buf_[1024 + kGuard];
    StrX_Mem pool_{};
    char poolBlock_[4096];
    unsigned char table_[40 + kGuard * 4];
    BLex2_Tag tag_{};
    unsigned char rec_[400 + kGuard];
};

// ---- Opening, peeking and filling ---------------------------------------------

TEST_F(BLex2Test, OpenNamesTheStreamAndFailures) {
    BLex2 in{};
    BLex2_Open(&in, nullptr, buf_, 16);  // the standard input
    EXPECT_STREQ(in.name, "(stdin)");
    BLex2_Close(&in);
    EXPECT_NE(fileno(stdin), -1);  // not closed
    std::string missing = dir_.inside() + "\\nothing.htm";
    EXPECT_EQ(CaughtCode([&] { BLex2_Open(&in, missing.c_str(), buf_, 16); }), 363);
    EXPECT_NE(LastText().find(missing), std::string::npos);
    std::string longName(300, 'n');
    EXPECT_EQ(CaughtCode([&] { BLex2_Open(&in, longName.c_str(), buf_, 16); }), 363);
    EXPECT_EQ(strlen(in.name), 259u);
}

TEST_F(BLex2Test, PeekAtTheEndAndBeyondTheCapacity) {
    Open("", 4);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), -1);  // empty file
    Open("abcdefgh", 4);
    EXPECT_EQ(BLex2_Peek(&lex_, -1), -1);
    EXPECT_EQ(BLex2_Peek(&lex_, 1), 'b');
    EXPECT_EQ(lex_.nBuf, 2);  // filled only as far as asked
    EXPECT_EQ(BLex2_Peek(&lex_, 3), 'd');
    EXPECT_EQ(BLex2_Peek(&lex_, 4), -1);  // the file goes on, the buffer cannot hold it
    EXPECT_EQ(lex_.nBuf, 4);
    BLex2_Skip(&lex_, 7);
    EXPECT_EQ(BLex2_Peek(&lex_, 1), -1);  // the end
    EXPECT_EQ(BLex2_GetChar(&lex_), 'h');
    EXPECT_EQ(BLex2_GetChar(&lex_), -1);
    EXPECT_TRUE(GuardIntact());
    Open("\x82\xA0\x80\xFF\x7F");  // bytes above 0x7F come back unsigned
    for (int want : {130, 160, 128, 255, 127, -1}) EXPECT_EQ(BLex2_GetChar(&lex_), want);
}

TEST_F(BLex2Test, BinaryBytesRaise323ShiftBytesDoNot) {
    for (char byte : {'\x00', '\x0C', '\x08'}) {
        int value = byte;
        Open(std::string("ab") + byte + "cd");
        EXPECT_EQ(BLex2_Peek(&lex_, 1), 'b') << value;  // not reached yet
        EXPECT_EQ(CaughtCode([&] { BLex2_Peek(&lex_, 2); }), 323) << value;
        std::string want = Sjis(u8"バイナリファイルは読みこめません char=(") +
                           std::to_string(value) + ") in " + path_;
        EXPECT_NE(LastText().find(want), std::string::npos) << value << " " << Utf8(LastText());
        EXPECT_EQ(lex_.nBuf, 2) << value;  // the byte is not stored
    }
    // ESC, SO, SI and text controls are text; text mode gives CR LF as LF.
    Open("\x1B$B\x0E\x0F\x1A\t\r\nx\ry");
    std::string got;
    EXPECT_EQ(CaughtCode([&] { got = Rest(); }), 0);
    EXPECT_EQ(got, "\x1B$B\x0E\x0F\x1A\t\nx\ry");
}

// ---- Words and tags -----------------------------------------------------------

TEST_F(BLex2Test, ReadWordCases) {
    const struct {
        const char* text;
        int size;
        const char* delims;
        const char* word;
        int ret;
        const char* rest;
    } cases[] = {
        {"abcdef rest", 4, " >", "abc", 'd', "ef rest"},
        {"  \n abc>x", 10, " >", "abc", '>', "x"},
        {"a b  =v", 10, "=>", "a b", '=', "v"},  // trailing blanks go
        {"abc", 10, " >", "abc", -1, ""},
        {"\"ab cd\">x", 10, " >", "ab cd", '>', "x"},
        {"\"abcd\"x", 3, " >", "ab", 'c', "d\"x"},
        {"'a b'", 10, " >", "'a", ' ', "b'"},
        {"abc ", 1, " >", "", 'a', "bc "},
        // ISO-2022-JP two-byte text is taken whole: ア is 0x25 0x22 ('%' '"'),
        // and the pair 0x3E 0x20 holds '>' and a blank.
        {"\"\x1b$B%\"\x1b(B\" x", 16, " >", "\x1b$B%\"\x1b(B", ' ', "x"},
        {"\x1b$B> \x1b(B>x", 16, " >", "\x1b$B> \x1b(B", '>', "x"},
        // Back in ASCII after ESC ( B, the quote ends the word again.
        {"\"\x1b$B%\"\x1b(B\"\"", 16, " >", "\x1b$B%\"\x1b(B", '"', ""},
        // Half-width katakana (ESC ( I) too: 0x22 is the kana ｢; after ESC ( J
        // (JIS Roman) it is a quote again.
        {"\"\x1b(I\"\x1b(J\" x", 16, " >", "\x1b(I\"\x1b(J", ' ', "x"},
    };
    for (const auto& c : cases) {
        Open(c.text);
        char out[16];
        memset(out, kGuardByte, sizeof out);
        EXPECT_EQ(BLex2_ReadWord(&lex_, out, c.size, c.delims), c.ret) << c.text;
        EXPECT_STREQ(out, c.word) << c.text;
        EXPECT_TRUE(Guarded(out, c.size, sizeof out)) << c.text;
        EXPECT_EQ(Rest(), c.rest) << c.text;
    }
    Open("abc");
    char out[8] = "XYZ";
    EXPECT_EQ(BLex2_ReadWord(&lex_, out, 0, " >"), 'a');  // size 0 stores nothing
    EXPECT_STREQ(out, "XYZ");
}

// The tag's name, its attributes and what is left of the page, read with a
// table of tableBytes (8 per attribute) and a pool of poolBytes.
TEST_F(BLex2Test, ReadTagTable) {
    const struct {
        const char* text;
        int tableBytes, poolBytes, code;
        const char* name;
        const char* attrs;
        const char* rest;
    } cases[] = {
        {"<meta name=\"keywords\" content=\"a, b\">after", 40, 4096, 0, "meta",
         "[name=keywords][content=a, b]", "after"},
        // Names fold to lower case, values do not; folding steps over the
        // trail byte 0x41 of a katakana.
        {"<META NAME=\"Keywords\" CONTENT=\"A B\">", 40, 4096, 0, "meta",
         "[name=Keywords][content=A B]", ""},
        {"<X\x83\x41Y a\x83\x41=V>", 40, 4096, 0, "x\x83\x41y", "[a\x83\x41=V]", ""},
        {"</head>", 40, 4096, 0, "/head", "", ""},
        {"<a href = \"x y\" id=z>r", 40, 4096, 0, "a", "[href=x y][id=z]", "r"},
        {"<a x=\"1>2\">", 40, 4096, 0, "a", "[x=1>2]", ""},
        {"<meta name=x", 40, 4096, 0, "meta", "[name=x][=][=][=][=]", ""},  // the end fills up to n
        // A full table leaves the rest of the tag unread.
        {"<x a1=1 a2=\"2\" a3=3 a4=4 a5=5 a6=6 a7=7>rest", 40, 4096, 0, "x",
         "[a1=1][a2=2][a3=3][a4=4][a5=5]", " a6=6 a7=7>rest"},
        {"<x a1=1 a2=2>rest", 16, 4096, 0, "x", "[a1=1][a2=2]", "rest"},  // exactly full
        // As browsers read tags: single quotes group, TAB, LF and CR separate,
        // a name without '=' has an empty value, a quote inside a value or
        // outside its start is an ordinary byte.
        {"<meta name='keywords' content='a, b'>", 40, 4096, 0, "meta",
         "[name=keywords][content=a, b]", ""},
        {"<meta\tname=k\ncontent=\"v\"\r>r", 40, 4096, 0, "meta", "[name=k][content=v]", "r"},
        {"<title\n>T", 40, 4096, 0, "title", "", "T"},
        {"<input disabled value = 'a\"b' x=it's y=\"it's\">", 40, 4096, 0, "input",
         "[disabled=][value=a\"b][x=it's][y=it's]", ""},
        {"<a x='1>2'y=\"3\"z=''>", 40, 4096, 0, "a", "[x=1>2][y=3][z=]", ""},
        {"<a x='\x1b$B$'\x1b(B'>", 40, 4096, 0, "a", "[x=\x1b$B$'\x1b(B]", ""},  // ぇ in JIS
        {"<a x='\x1b(I'\x1b(J'>", 40, 4096, 0, "a", "[x=\x1b(I'\x1b(J]", ""},    // the kana ｧ
        {"<a x='open>rest", 40, 4096, 0, "a", "[x=open>rest][=][=][=][=]", ""},  // to the end
        // Values are cut to the pool's room, never written past it; no room raises 3180.
        {"<a href=\"abcdefghijklmnop\">", 8, 20, 0, "a", "[href=abcdefghij]", "klmnop\">"},
        {"<meta name=\"keywords\" content=\"abc\">", 40, 16, 3180, "", "", ""},
    };
    for (const auto& c : cases) {
        Open(c.text);
        EXPECT_EQ(CaughtCode([&] { ReadTag(c.tableBytes, c.poolBytes); }), c.code) << c.text;
        if (c.code) continue;
        EXPECT_STREQ(tag_.name, c.name) << c.text;
        EXPECT_EQ(Attrs(), c.attrs) << c.text;
        EXPECT_EQ(Rest(), c.rest) << c.text;
        // n name slots of 4 bytes, then n value slots.
        EXPECT_EQ(reinterpret_cast<unsigned char*>(tag_.attrValues) - table_, c.tableBytes / 2)
            << c.text;
    }
    Open("<meta name=x");
    ReadTag();
    EXPECT_STREQ(BLex2_GetAttr(&tag_, "name"), "x");
    EXPECT_EQ(BLex2_GetAttr(&tag_, "NAME"), nullptr);
}

// ---- Recording ------------------------------------------------------------------

TEST_F(BLex2Test, RecordOf400BytesThenEndRecordCutsTo399) {
    Open(std::string(400, 'x') + "yz<");
    Record(400);
    for (int i = 0; i < 400; i++) {
        BLex2_JisEscape(&lex_, 0);  // holds bytes ahead, as the page reader does
        BLex2_Skip(&lex_, 1);
    }
    const int idBefore = Errors_GetMsg()->id;
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 1); }), 325);
    EXPECT_EQ(LastText(), Sjis(u8"記録バッファが満杯です"));
    EXPECT_EQ(Errors_GetMsg()->id, idBefore + 1);     // the id of the buffer's report
    EXPECT_STREQ(Errors_GetMsg()->file, "arrx.cpp");  // and its place
    ASSERT_EQ(boxes_.boxes.size(), 1u);               // the buffer's own overflow box first
    EXPECT_EQ(boxes_.boxes[0].text.rfind(Sjis(u8"バッファが満杯です"), 0), 0u);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'y');  // nothing was consumed
    ArrX_Buf* r = BLex2_EndRecord(&lex_);
    EXPECT_EQ(r, BLex2_GetRecord(&lex_));
    EXPECT_EQ(std::string(static_cast<char*>(r->first)), std::string(399, 'x'));
    EXPECT_EQ(static_cast<unsigned char*>(r->last) - rec_, 399);
    EXPECT_TRUE(Guarded(rec_, 400, sizeof rec_));
    EXPECT_EQ(BLex2_GetChar(&lex_), 'y');  // not recording any more: no raise
}

TEST_F(BLex2Test, RecordEdges) {
    // Bytes skipped beyond the held ones are recorded while there is room and
    // dropped after, silently.
    Open("abcdefgh");
    Record(4);
    BLex2_Peek(&lex_, 1);
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 6); }), 0);
    EXPECT_EQ(memcmp(rec_, "abcd", 4), 0);
    EXPECT_TRUE(Guarded(rec_, 4, sizeof rec_));
    EXPECT_TRUE(boxes_.boxes.empty());
    // Held bytes filling it exactly are appended without the relabelling
    // frame; the next one raises the buffer's own 901.
    Open("abcdef");
    Record(4);
    BLex2_Peek(&lex_, 3);
    BLex2_Skip(&lex_, 4);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'e');
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 1); }), 901);
    // An empty record; a cleared one; NULs read straight from the file are
    // recorded and dropped at the end.
    Open(std::string("xyab\0\0c", 7));
    Record(16);
    ArrX_Buf* r = BLex2_EndRecord(&lex_);
    EXPECT_EQ(r->first, r->last);
    EXPECT_EQ(rec_[0], 0);
    BLex2_StartRecord(&lex_);
    BLex2_Skip(&lex_, 2);
    BLex2_ClearRecord(&lex_);
    BLex2_Skip(&lex_, 4);
    r = BLex2_EndRecord(&lex_);
    EXPECT_EQ(static_cast<unsigned char*>(r->last) - rec_, 2);
    EXPECT_STREQ(reinterpret_cast<char*>(rec_), "ab");
}

// ---- Tell, seek and rewind --------------------------------------------------------

TEST_F(BLex2Test, TellAndSeekCountHeldLineFeedsAsCrLf) {
    Open("ab\r\ncd\r\nef");  // read as ab LF cd LF ef
    BLex2_Skip(&lex_, 2);
    EXPECT_EQ(BLex2_Peek(&lex_, 4), 'e');  // holds LF c d LF e
    EXPECT_EQ(BLex2_Tell(&lex_), 2);
    BLex2_Skip(&lex_, 3);
    EXPECT_EQ(BLex2_Tell(&lex_), 6);
    EXPECT_EQ(BLex2_Seek(&lex_, 2), 0);
    EXPECT_EQ(BLex2_Tell(&lex_), 2);
    EXPECT_EQ(Rest(), "\ncd\nef");
    EXPECT_EQ(BLex2_Tell(&lex_), 10);
    Open(std::string(100, 'a') + "b", 64);
    EXPECT_EQ(BLex2_Seek(&lex_, 0), 0);
    EXPECT_EQ(lex_.nBuf, 31);  // filled 31 bytes ahead
    EXPECT_EQ(BLex2_Seek(&lex_, 100), 0);
    EXPECT_EQ(Rest(), "b");
    EXPECT_EQ(BLex2_Rewind(&lex_), 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'a');
    EXPECT_TRUE(GuardIntact());
}

// ---- Further look-ahead and scanning operations -------------------------------------

// Operations that return a number: the result, then what is left of the page
// (a look ahead leaves all of it).
TEST_F(BLex2Test, NumberResultsAndWhatIsLeft) {
    using Op = std::function<double(BLex2*)>;
    auto jis = [](int at) -> Op { return [=](BLex2* l) { return BLex2_JisEscape(l, at); }; };
    auto match = [](const char* lit, BLex2_CompareFunc f) -> Op {
        return [=](BLex2* l) { return BLex2_Match(l, lit, f) == 0; };
    };
    auto cmp2 = [](const char* pat) -> Op {
        return [=](BLex2* l) { return BLex2_StrCmp2(l, pat, 0); };
    };
    Op matchAny = [](BLex2* l) {  // 1 when the first listed literal wins
        static const char* lits[] = {"--", "-->"};
        ArrX_Buf list = {lits, lits + 2, lits + 2};
        return BLex2_MatchAny(l, &list) == lits[0];
    };
    Op findEq = [](BLex2* l) { return BLex2_FindInLine(l, '='); };
    Op run3 = [](BLex2* l) { return BLex2_IsRunInLine(l, '=', 3); };
    Op skipLineComment = [](BLex2* l) { return BLex2_SkipLineComment(l), 0; };
    const std::string digits(300, '1');
    const struct {
        const char* text;
        Op op;
        double want;
        const char* rest;
        int capacity = 64;
    } cases[] = {
        {"\x1B$B", jis(0), 4, "\x1B$B"},
        {"x\x1B(B", jis(1), 5, "x\x1B(B"},
        {"ab\x1B$B", jis(2), 0, "ab\x1B$B", 4},  // only what the buffer holds counts
        {"<TITLE>Alpha", match("<title>", BLex2_StrNICmp), 1, "<TITLE>Alpha"},
        {"</titl", match("</title>", BLex2_StrNICmp), 0, "</titl"},  // fewer bytes left
        {"<TITLE>", cmp2("<title>"), -1, "<TITLE>"},  // the match reaches the last byte
        {"<a  \t href=1>", cmp2("<a%Hhref"), 0, "<a  \t href=1>"},
        {"<ahref=1>", cmp2("<a%Hhref"), -1, "<ahref=1>"},  // %H needs a blank
        {"--> b", matchAny, 1, "--> b"},
        {"x <B>bold</B> y", [](BLex2* l) { return BLex2_SkipToPattern(l, "</b>", 0); }, 0,
         "</B> y"},
        {"xx<!-- a --> b", [](BLex2* l) { return BLex2_SkipTo(l, "-->"); }, 0, "--> b"},
        {".5", BLex2_IsNumberStart, 1, ".5"},
        {"+.5", BLex2_IsSignedNumberStart, 1, "+.5"},
        {"-45,", BLex2_ReadInt, -45, ","},
        {"-1A,", BLex2_ReadHex, -0x1A, ","},
        {"-1.5e2x", BLex2_ReadReal, -150, "x"},
        {digits.c_str(), BLex2_ReadReal, std::stod(digits.substr(45)), digits.c_str() + 255, 512},
        {"ab==c=\nd===", findEq, 2, "ab==c=\nd==="},
        {"ab==c=\nd===", run3, 0, "ab==c=\nd==="},  // the run after the LF does not count
        {" \t\r\n\n \r x", BLex2_SkipSpace, 2, "x"},
        {" \t\nabc", BLex2_SkipBlankRest, 1, "\nabc"},
        {"abc\r\r\n\ndef", BLex2_SkipLine, 'd', "def"},
        {"_ab1 c", BLex2_IsIdentStart, 1, "_ab1 c"},
        {"ab\x88\x9F", BLex2_IdentLen, 2, "ab\x88\x9F"},  // ends before a lead byte
        {" /* a\n b */ // c\n\t/**/x", BLex2_SkipSpaceComment, 2, "x"},
        {"// z\nw", BLex2_IsLineComment, 1, "// z\nw"},
        {"// z\nw", skipLineComment, 0, "\nw"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const auto& c = cases[i];
        Open(c.text, c.capacity);
        EXPECT_DOUBLE_EQ(c.op(&lex_), c.want) << i << ": " << c.text;
        EXPECT_EQ(Rest(), c.rest) << i << ": " << c.text;
        EXPECT_TRUE(GuardIntact()) << i;
    }
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // ReadReal's scratch mark is gone
    Open("12\x0C");
    EXPECT_EQ(BLex2_Peek(&lex_, 0), '1');
    EXPECT_EQ(CaughtCode([&] { BLex2_ReadReal(&lex_); }), 323);
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // popped when a binary byte stops it
    Open("/* open\n");
    EXPECT_EQ(CaughtCode([&] { BLex2_SkipBlockComment(&lex_); }), 324);
    EXPECT_NE(LastText().find(Sjis(u8"コメントの終端がありません")), std::string::npos);
}

// Operations that fill a caller's buffer: the result, the text, the guard
// bytes after size, and what is left of the page.
TEST_F(BLex2Test, BoundedTextReadsAndWhatIsLeft) {
    using Op = std::function<int(BLex2*, char*, int)>;
    Op field = [](BLex2* l, char* out, int size) {
        return static_cast<int>(BLex2_ReadQuotedField(l, out, size) - out);
    };
    Op token = [](BLex2* l, char* out, int size) {
        BLex2_SetToken(l, 300, 5);
        int n = BLex2_GetTokenText(l, out, size);
        BLex2_SkipToken(l);
        return n;
    };
    const std::string q40(40, 'q');
    const struct {
        const char* text;
        Op op;
        int size, ret;
        const char* out;
        const char* rest;
        int capacity = 64;
    } cases[] = {
        {"def\nxyz", BLex2_ReadLine, 3, '\n', "de", "\nxyz"},  // cut to size - 1
        {"ab==c=\nd===", BLex2_PeekStr, 6, 5, "ab==c", "ab==c=\nd==="},
        {q40.c_str(), BLex2_PeekStr, 32, 16, q40.c_str() + 24, q40.c_str(), 16},  // the capacity
        {"\"a,b\"\"c\",d", field, 16, 5, "a,b\"c", ",d"},
        {"\"abcdef\",", field, 4, 3, "abc", ","},
        {"_ab1 c", BLex2_PeekIdent, 4, 4, "_a", "_ab1 c"},  // at most size - 2 bytes
        {"_ab1 c", BLex2_ReadIdent, 4, 4, "_a", " c"},
        {"foo bar\x88\x9F baz;x", BLex2_ReadIdentWords, 32, 13, "foo bar\x88\x9F baz", ";x"},
        {"ab\x88\x9F", BLex2_ReadIdentWords, 4, 2, "ab", ""},  // the kanji is dropped
        {"abcdef", token, 3, 2, "ab", "f"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const auto& c = cases[i];
        Open(c.text, c.capacity);
        char out[32 + kGuard];
        memset(out, kGuardByte, sizeof out);
        EXPECT_EQ(c.op(&lex_, out, c.size), c.ret) << i << ": " << c.text;
        EXPECT_STREQ(out, c.out) << i << ": " << c.text;
        EXPECT_TRUE(Guarded(out, c.size, sizeof out)) << i << ": " << c.text;
        EXPECT_EQ(Rest(), c.rest) << i << ": " << c.text;
    }
}

TEST(BLex2DeathTest, StrCmp2BeyondTheCapacityEndsWithStatus1) {
    TempDir dir;
    dir.Write("long.htm", std::string(64, 'a'));
    std::string path = dir.inside() + "\\long.htm";
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            unsigned char buf[8];
            BLex2 lex;
            BLex2_Open(&lex, path.c_str(), buf, sizeof buf);
            BLex2_StrCmp2(&lex, "%*b", 0);
        },
        testing::ExitedWithCode(1), "BLex2_StrCmp2\\(\\) : buf over");
}

TEST_F(BLex2Test, BracketStackMismatchNamesBothLines) {
    Open("");
    unsigned char block[24 + kGuard];
    memset(block, kGuardByte, sizeof block);
    BLex2_Kakko stack;
    BLex2_Kakko_Init(&stack, block, 24);
    BLex2_Pos at3{3, 1}, at4{4, 5}, at7{7, 2};
    BLex2_Kakko_Push(&stack, '(', &at3);
    BLex2_Kakko_Push(&stack, '[', &at4);
    EXPECT_EQ(BLex2_Kakko_Pop(&lex_, &stack, ']', &at7), '[');
    EXPECT_EQ(CaughtCode([&] { BLex2_Kakko_Pop(&lex_, &stack, '}', &at7); }), 322);
    EXPECT_NE(LastText().find(Sjis(u8"括弧の対応関係がおかしい '('～'}' "
                                   u8"ファイル:(FileName not Recorded) 行:3～7")),
              std::string::npos)
        << Utf8(LastText());
    // Beyond the buffer only the depth counts.
    for (int i = 0; i < 3; i++) BLex2_Kakko_Push(&stack, '{', &at3);
    EXPECT_EQ(BLex2_Kakko_Depth(&stack), 3);
    EXPECT_EQ(BLex2_Kakko_Pop(&lex_, &stack, '}', &at7), 0);
    EXPECT_TRUE(Guarded(block, 24, sizeof block));
}

TEST_F(BLex2Test, PositionsStatesAndPrintingEachOnce) {
    Open("ab\nc");
    BLex2_Pos pos;
    BLex2_Pos_Init(&pos);
    while (BLex2_GetCharPos(&lex_, &pos) != 'c') {
    }
    EXPECT_EQ(std::to_string(pos.line) + ":" + std::to_string(pos.column), "2:2");
    // Steps over the page: "+" inside, "-" outside, then the token's length.
    auto trace = [&](const char* text, const std::function<bool()>& step) {
        Open(text);
        std::string t;
        for (; BLex2_Peek(&lex_, 0) != -1; BLex2_SkipToken(&lex_)) {
            t += step() ? "+" : "-";
            t += std::to_string(lex_.tokenLen);
        }
        return t;
    };
    BLex2_CommentState comment;
    BLex2_CommentState_Init(&comment);
    EXPECT_EQ(trace("a/*b*/c", [&] { return BLex2_CommentState_Step(&lex_, &comment); }),
              "-1+2+1+2-1");
    // x " a \" then the kanji 0x955C (its trail byte is no escape) and ".
    BLex2_QuoteState quote;
    BLex2_QuoteState_Init(&quote);
    EXPECT_EQ(trace("x\"a\\\"\x95\\\"y", [&] { return BLex2_QuoteState_Step(&lex_, &quote); }),
              "-1+1+1+2+2+1-1");
    Open("<Meta Name=\"k\">");
    ReadTag();
    testing::internal::CaptureStdout();
    BLex2_PrintTag(&tag_);
    BLex2_FPrintTag(stdout, &tag_);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "<meta name=\"k\"><META name=\"k\">");
}

// ---- Memory -------------------------------------------------------------------------

TEST_F(BLex2Test, ScanningTakesNoHeapMemory) {
    Open("<head><meta name=\"keywords\" content=\"a b\"><title>T</title>1.5 x</head>");
    BLex2_Peek(&lex_, 0);  // the stream's own buffer exists from here on
    BLex2_SetRecordBuf(&lex_, rec_, 64);
    AllocCounter counter;
    std::string keywords;
    while (BLex2_Peek(&lex_, 0) != -1) {
        BLex2_JisEscape(&lex_, 0);
        if (BLex2_Peek(&lex_, 0) != '<') {
            if (BLex2_IsNumberStart(&lex_)) BLex2_ReadReal(&lex_);
            BLex2_Skip(&lex_, 1);
            continue;
        }
        if (BLex2_Match(&lex_, "</title>", BLex2_StrNICmp) == 0) BLex2_EndRecord(&lex_);
        ReadTag();
        if (strcmp(tag_.name, "title") == 0) BLex2_StartRecord(&lex_);
        if (const char* v = BLex2_GetAttr(&tag_, "content")) keywords = v;
    }
    long allocs = counter.Count();
    EXPECT_EQ(allocs, 0);
    EXPECT_EQ(keywords, "a b");
    EXPECT_STREQ(reinterpret_cast<char*>(rec_), "T");
}

TEST_F(BLex2Test, WordsReadInRunsKeepTheByteRules) {
    // A quoted value across the reader's block edge, whose CR LF pairs (one
    // split by the edge) are read as one LF; then the same value cut.
    const std::string text =
        "\"" + std::string(4094, 'a') + "\r\n" + std::string(10, 'b') + "\r\nc\">rest";
    std::vector<char> out(8192);
    Open(text);
    EXPECT_EQ('>', BLex2_ReadWord(&lex_, out.data(), 8192, " >"));
    EXPECT_EQ(std::string(4094, 'a') + "\n" + std::string(10, 'b') + "\nc", out.data());
    EXPECT_EQ("rest", Rest());
    Open(text);
    EXPECT_EQ('b', BLex2_ReadWord(&lex_, out.data(), 4097, " >"));
    EXPECT_EQ(std::string(4094, 'a') + "\nb", out.data());
    EXPECT_EQ(std::string(8, 'b') + "\nc\">rest", Rest());
    // A byte no text holds is reported inside a word too.
    Open(
        "ab\x01"
        "cd>");
    EXPECT_EQ(CodeName(BLex2_Err_BinaryCannotParse.code),
              CodeName(CaughtCode([&] { BLex2_ReadWord(&lex_, out.data(), 100, " >"); })));
}
