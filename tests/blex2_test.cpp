#include "components/blex2.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "components/strx.h"
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
};

// ---- Opening, peeking and filling ---------------------------------------------

TEST_F(BLex2Test, OpenNamesTheStreamAndFailures) {
    Open("abc", 16);
    EXPECT_EQ(std::string(lex_.name), path_);
    EXPECT_EQ(lex_.tokenType, 257);
    BLex2 in{};
    BLex2_Open(&in, nullptr, buf_, 16);  // the standard input
    EXPECT_EQ(in.file, stdin);
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
    EXPECT_EQ(BLex2_Peek(&lex_, 100), -1);
    EXPECT_EQ(lex_.nBuf, 4);
    BLex2_Skip(&lex_, 4);
    EXPECT_EQ(BLex2_Peek(&lex_, 3), 'h');
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'e');
    BLex2_Skip(&lex_, 3);
    EXPECT_EQ(BLex2_Peek(&lex_, 1), -1);  // the end
    EXPECT_EQ(BLex2_GetChar(&lex_), 'h');
    EXPECT_EQ(BLex2_GetChar(&lex_), -1);
    EXPECT_EQ(BLex2_GetChar(&lex_), -1);
    EXPECT_TRUE(GuardIntact());
    Open("\x82\xA0\x80\xFF\x7F");  // bytes above 0x7F come back unsigned
    EXPECT_EQ(BLex2_Peek(&lex_, 1), 160);
    for (int want : {130, 160, 128, 255, 127, -1}) EXPECT_EQ(BLex2_GetChar(&lex_), want);
}

TEST_F(BLex2Test, BinaryBytesRaise323ShiftBytesDoNot) {
    for (char byte : {'\x00', '\x0C', '\x08', '\x0B', '\x1F'}) {
        int value = byte;
        Open(std::string("ab") + byte + "cd");
        EXPECT_EQ(BLex2_Peek(&lex_, 1), 'b') << value;  // not reached yet
        EXPECT_EQ(CaughtCode([&] { BLex2_Peek(&lex_, 2); }), 323) << value;
        std::string want = Sjis(u8"バイナリファイルは読みこめません char=(") +
                           std::to_string(value) + ") in " + path_;
        EXPECT_NE(LastText().find(want), std::string::npos) << value << " " << Utf8(LastText());
        EXPECT_EQ(lex_.nBuf, 2) << value;  // the byte is not stored
    }
    Open("<meta name=\"key\x0Cwords\">");
    EXPECT_EQ(CaughtCode([&] { ReadTag(); }), 323);
    // Skipping beyond the held bytes does not test them.
    Open(std::string("ab\x00\x0C"
                     "cd\x00",
                     7),
         16);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'a');
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 4); }), 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'c');
    EXPECT_EQ(CaughtCode([&] { BLex2_Peek(&lex_, 1); }), 323);
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
        {"abc def", 4, " >", "abc", ' ', "def"},
        {"  \n abc>x", 10, " >", "abc", '>', "x"},
        {"abc   =v", 10, "=>", "abc", '=', "v"},
        {"a b  =v", 10, "=>", "a b", '=', "v"},
        {"abc", 10, " >", "abc", -1, ""},
        {"\"ab cd\">x", 10, " >", "ab cd", '>', "x"},
        {"\"abcd\"x", 3, " >", "ab", 'c', "d\"x"},
        {"\"ab", 10, " >", "ab", -1, ""},
        {"\"\"", 10, " >", "", -1, ""},
        {"'a b'", 10, " >", "'a", ' ', "b'"},
        {"abc ", 1, " >", "", 'a', "bc "},
        {"a\tb c", 10, " >", "a\tb", ' ', "c"},
        // ISO-2022-JP two-byte text is taken whole: ア is 0x25 0x22 ('%' '"'),
        // and the pair 0x3E 0x20 holds '>' and a blank.
        {"\"\x1b$B%\"\x1b(B\" x", 16, " >", "\x1b$B%\"\x1b(B", ' ', "x"},
        {"\x1b$B> \x1b(B>x", 16, " >", "\x1b$B> \x1b(B", '>', "x"},
        // Back in ASCII after ESC ( B, the quote ends the word again.
        {"\"\x1b$B%\"\x1b(B\"\"", 16, " >", "\x1b$B%\"\x1b(B", '"', ""},
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
    Open("  \n ");  // at the end, out stays untouched
    char out[8] = "XYZ";
    EXPECT_EQ(BLex2_ReadWord(&lex_, out, sizeof out, " >"), 0);
    Open("abc");
    EXPECT_EQ(BLex2_ReadWord(&lex_, out, 0, " >"), 'a');  // size 0 stores nothing
    EXPECT_STREQ(out, "XYZ");
}

TEST_F(BLex2Test, ReadTagShapes) {
    const struct {
        const char* text;
        const char* name;
        const char* attrs;
        const char* rest;
    } cases[] = {
        {"<meta name=\"keywords\" content=\"a, b\">after", "meta", "[name=keywords][content=a, b]",
         "after"},
        // Names fold to lower case, values do not; folding steps over the
        // trail byte 0x41 of a katakana.
        {"<META NAME=\"Keywords\" CONTENT=\"A B\">", "meta", "[name=Keywords][content=A B]", ""},
        {"<X\x83\x41Y a\x83\x41=V>", "x\x83\x41y", "[a\x83\x41=V]", ""},
        {"</head>", "/head", "", ""},
        {"< \n title>x", "title", "", "x"},
        {"<title >x", "title", "[=]", "x"},
        {"<meta\nname=\"x\">y", "meta\nname=\"x\"", "", "y"},
        {"<a href = \"x y\" id=z>r", "a", "[href=x y][id=z]", "r"},
        {"<p class='a b'>", "p", "[class='a][b'=]", ""},
        {"<input checked value=1>", "input", "[checked value=1]", ""},
        {"<!-- <b> -->", "!--", "[<b=]", " -->"},  // the first tag inside is swallowed
        {"<a x=\"1>2\">", "a", "[x=1>2]", ""},
        {"<meta name=x", "meta", "[name=x][=][=][=][=]", ""},
    };
    for (const auto& c : cases) {
        Open(c.text);
        ReadTag();
        EXPECT_STREQ(tag_.name, c.name) << c.text;
        EXPECT_EQ(Attrs(), c.attrs) << c.text;
        EXPECT_EQ(Rest(), c.rest) << c.text;
    }
    Open("<meta name=\"keywords\" content=\"a, b\">");
    ReadTag();
    EXPECT_STREQ(BLex2_GetAttr(&tag_, "content"), "a, b");
    EXPECT_EQ(BLex2_GetAttr(&tag_, "NAME"), nullptr);
    EXPECT_EQ(BLex2_GetAttr(&tag_, "http-equiv"), nullptr);
}

TEST_F(BLex2Test, ReadTagWith40ByteTableReadsFiveOfSevenAttributes) {
    Open("<x a1=1 a2=\"2\" a3=3 a4=4 a5=5 a6=6 a7=7>rest");
    ReadTag(40);
    EXPECT_EQ(tag_.count, 5);
    EXPECT_EQ(Attrs(), "[a1=1][a2=2][a3=3][a4=4][a5=5]");
    EXPECT_EQ(BLex2_GetAttr(&tag_, "a6"), nullptr);
    EXPECT_EQ(Rest(), "a6=6 a7=7>rest");  // the rest of the tag stays unread
    // Five name slots, then five value slots, 4 bytes each.
    EXPECT_EQ(reinterpret_cast<unsigned char*>(tag_.attrValues) - table_, 20);
}

TEST_F(BLex2Test, ReadTagOnAFullPoolRaises3180) {
    Open("<meta name=\"keywords\" content=\"abc\">");
    EXPECT_EQ(CaughtCode([&] { ReadTag(40, 16); }), 3180);
    // Values are cut to the pool's room, never written past it.
    Open("<a href=\"abcdefghijklmnop\">");
    ReadTag(8, 20);
    EXPECT_EQ(Attrs(), "[href=abcdefghij]");
}

// ---- Recording ------------------------------------------------------------------

TEST_F(BLex2Test, RecordOf400BytesThenEndRecordCutsTo399) {
    Open(std::string(400, 'x') + "yz<");
    unsigned char rec[400 + kGuard];
    memset(rec, kGuardByte, sizeof rec);
    BLex2_SetRecordBuf(&lex_, rec, 400);
    BLex2_StartRecord(&lex_);
    for (int i = 0; i < 400; i++) {
        BLex2_JisEscape(&lex_, 0);  // holds bytes ahead, as the page reader does
        BLex2_Skip(&lex_, 1);
    }
    EXPECT_EQ(static_cast<unsigned char*>(lex_.record.last) - rec, 400);
    const int idBefore = Errors_GetMsg()->id;
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 1); }), 325);
    Errors_Msg* msg = Errors_GetMsg();
    EXPECT_EQ(LastText(), Sjis(u8"記録バッファが満杯です"));
    EXPECT_EQ(msg->id, idBefore + 1);     // the id of the buffer's report
    EXPECT_STREQ(msg->file, "arrx.cpp");  // and its place
    EXPECT_GT(msg->line, 0);
    ASSERT_EQ(boxes_.boxes.size(), 1u);  // the buffer's own overflow box first
    EXPECT_EQ(boxes_.boxes[0].text.rfind(Sjis(u8"バッファが満杯です"), 0), 0u);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'y');  // nothing was consumed
    ArrX_Buf* r = BLex2_EndRecord(&lex_);
    EXPECT_EQ(lex_.recording, 0);
    EXPECT_EQ(r, BLex2_GetRecord(&lex_));
    EXPECT_EQ(std::string(static_cast<char*>(r->first)), std::string(399, 'x'));
    EXPECT_EQ(static_cast<unsigned char*>(r->last) - rec, 399);
    EXPECT_TRUE(Guarded(rec, 400, sizeof rec));
    EXPECT_EQ(BLex2_GetChar(&lex_), 'y');  // not recording any more: no raise
}

TEST_F(BLex2Test, RecordOverflowOutsideTheHeldBytes) {
    // Bytes skipped beyond the held ones are recorded while there is room and
    // dropped after, silently.
    Open("abcdefgh");
    unsigned char rec[4 + kGuard];
    memset(rec, kGuardByte, sizeof rec);
    BLex2_SetRecordBuf(&lex_, rec, 4);
    BLex2_StartRecord(&lex_);
    BLex2_Peek(&lex_, 1);
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 6); }), 0);
    EXPECT_EQ(memcmp(rec, "abcd", 4), 0);
    EXPECT_TRUE(Guarded(rec, 4, sizeof rec));
    BLex2_EndRecord(&lex_);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'g');
    EXPECT_TRUE(boxes_.boxes.empty());
    // Held bytes filling it exactly are appended without the relabelling
    // frame; the next one raises the buffer's own 901.
    Open("abcdef");
    BLex2_SetRecordBuf(&lex_, rec, 4);
    BLex2_StartRecord(&lex_);
    BLex2_Peek(&lex_, 3);
    BLex2_Skip(&lex_, 4);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'e');
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 1); }), 901);
}

TEST_F(BLex2Test, EmptyClearedAndNulEndedRecords) {
    Open(std::string("xyab\0\0c", 7));
    char rec[16];
    memset(rec, 'G', sizeof rec);
    BLex2_SetRecordBuf(&lex_, rec, sizeof rec);
    BLex2_StartRecord(&lex_);
    ArrX_Buf* r = BLex2_EndRecord(&lex_);
    EXPECT_EQ(r->first, r->last);
    EXPECT_STREQ(rec, "");
    BLex2_Skip(&lex_, 1);  // not recording
    BLex2_StartRecord(&lex_);
    BLex2_Skip(&lex_, 1);
    BLex2_ClearRecord(&lex_);
    BLex2_Skip(&lex_, 4);  // read straight from the file: the NULs are recorded
    r = BLex2_EndRecord(&lex_);
    EXPECT_EQ(static_cast<char*>(r->last) - rec, 2);  // trailing NULs dropped
    EXPECT_STREQ(rec, "ab");
    BLex2_Skip(&lex_, 1);
    EXPECT_STREQ(static_cast<char*>(BLex2_EndRecord(&lex_)->first), "ab");
}

// ---- JIS text as the page reader scans it -------------------------------------

TEST_F(BLex2Test, LessThanByteInsideJisKanjiIsNotATag) {
    // ESC $ B, the kanji 0x3C21 and 0x3C3C ('<' bytes), ESC ( B, then a tag.
    Open("\x1B$B\x3C\x21\x3C\x3C\x1B(B<b>x<i>");
    std::string tags;
    bool twoByte = false;
    while (BLex2_Peek(&lex_, 0) != -1) {
        int kind = BLex2_JisEscape(&lex_, 0);
        if (kind == 4) twoByte = true;
        if (kind == 5) twoByte = false;
        if (twoByte || BLex2_Peek(&lex_, 0) != '<') {
            BLex2_Skip(&lex_, 1);
            continue;
        }
        ReadTag();
        tags += std::string("[") + tag_.name + "]";
    }
    EXPECT_EQ(tags, "[b][i]");
}

// ---- Tell, seek and rewind --------------------------------------------------------

TEST_F(BLex2Test, TellAndSeekCountHeldLineFeedsAsCrLf) {
    Open("ab\r\ncd\r\nef");  // read as ab LF cd LF ef
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'a');
    EXPECT_EQ(BLex2_Tell(&lex_), 0);
    BLex2_Skip(&lex_, 2);
    EXPECT_EQ(BLex2_Peek(&lex_, 4), 'e');  // holds LF c d LF e
    EXPECT_EQ(BLex2_Tell(&lex_), 2);
    EXPECT_EQ(BLex2_GetChar(&lex_), '\n');
    EXPECT_EQ(BLex2_Tell(&lex_), 4);
    BLex2_Skip(&lex_, 2);
    EXPECT_EQ(BLex2_Tell(&lex_), 6);
    EXPECT_EQ(BLex2_Seek(&lex_, 2), 0);
    EXPECT_EQ(lex_.nBuf, 6);  // filled ahead up to 31 bytes: LF c d LF e f
    EXPECT_EQ(BLex2_Tell(&lex_), 2);
    EXPECT_EQ(BLex2_GetChar(&lex_), '\n');
    EXPECT_EQ(BLex2_Seek(&lex_, 6), 0);
    EXPECT_EQ(Rest(), "\nef");
    EXPECT_EQ(BLex2_Tell(&lex_), 10);
    Open(std::string(100, 'a') + "b", 64);
    EXPECT_EQ(BLex2_Seek(&lex_, 0), 0);
    EXPECT_EQ(lex_.nBuf, 31);
    EXPECT_EQ(BLex2_Seek(&lex_, 100), 0);
    EXPECT_EQ(Rest(), "b");
    EXPECT_EQ(BLex2_Rewind(&lex_), 0);
    EXPECT_EQ(lex_.nBuf, 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'a');
    EXPECT_EQ(BLex2_Tell(&lex_), 1);
    EXPECT_TRUE(GuardIntact());
}

// ---- Lines, literals, numbers and identifiers ------------------------------------

// Operations that return a number, as one table: the result, then what is
// left of the page (a look ahead leaves all of it).
TEST_F(BLex2Test, NumberResultsAndWhatIsLeft) {
    using Op = std::function<double(BLex2*)>;
    auto jis = [](int at) -> Op { return [=](BLex2* l) { return BLex2_JisEscape(l, at); }; };
    auto match = [](const char* lit, BLex2_CompareFunc f) -> Op {
        return [=](BLex2* l) { return BLex2_Match(l, lit, f) == 0; };
    };
    auto cmp2 = [](const char* pat, int flag) -> Op {
        return [=](BLex2* l) { return BLex2_StrCmp2(l, pat, flag); };
    };
    auto skipTo = [](const char* lit) -> Op {
        return [=](BLex2* l) { return BLex2_SkipTo(l, lit); };
    };
    auto skipToPat = [](const char* pat) -> Op {
        return [=](BLex2* l) { return BLex2_SkipToPattern(l, pat, 0); };
    };
    auto find = [](int ch) -> Op { return [=](BLex2* l) { return BLex2_FindInLine(l, ch); }; };
    auto run = [](int ch, int n) -> Op {
        return [=](BLex2* l) { return BLex2_IsRunInLine(l, ch, n); };
    };
    Op skipLineComment = [](BLex2* l) { return BLex2_SkipLineComment(l), 0; };
    const std::string digits(300, '1'), q40(40, 'q');
    const struct {
        const char* text;
        Op op;
        double want;
        const char* rest;
        int capacity = 64;
    } cases[] = {
        // JIS escapes: 4 starts two-byte text, 5 one-byte text.
        {"\x1B$B", jis(0), 4, "\x1B$B"},
        {"\x1B$@", jis(0), 4, "\x1B$@"},
        {"x\x1B(B", jis(1), 5, "x\x1B(B"},
        {"\x1B(J", jis(0), 5, "\x1B(J"},
        {"\x1B$A", jis(0), 0, "\x1B$A"},
        {"\x1B$", jis(0), 0, "\x1B$"},
        {"", jis(0), 0, ""},
        {"ab\x1B$B", jis(1), 0, "ab\x1B$B"},
        {"\x1B$B", jis(-1), 0, "\x1B$B"},
        {"ab\x1B$B", jis(2), 0, "ab\x1B$B", 4},  // only what the buffer holds counts
        {"<TITLE>Alpha", match("<title>", BLex2_StrNICmp), 1, "<TITLE>Alpha"},
        {"<TITLE>Alpha", match("<title>", strncmp), 0, "<TITLE>Alpha"},
        {"</titl", match("</title>", BLex2_StrNICmp), 0, "</titl"},  // fewer bytes left
        {"</titl", match("</titl", BLex2_StrNICmp), 1, "</titl"},
        {"abcdefgh", match("abcde", strncmp), 0, "abcdefgh", 4},  // longer than the capacity
        {"<TITLE>x", cmp2("<title>", 0), 0, "<TITLE>x"},
        {"<TITLE>x", cmp2("<title>", 1), -1, "<TITLE>x"},
        {"<TITLE>x", cmp2("<title>", 0x100), 0, "<TITLE>x"},  // only the low byte counts
        {"<TITLE>", cmp2("<title>", 0), -1, "<TITLE>"},       // the match reaches the last byte
        {"<a  \t href=1>", cmp2("<a%Hhref", 0), 0, "<a  \t href=1>"},
        {"<ahref=1>", cmp2("<a%Hhref", 0), -1, "<ahref=1>"},  // %H needs a blank
        {"<ahref=1>", cmp2("<a%hhref", 0), 0, "<ahref=1>"},
        {"<a\r\n \thref=1>", cmp2("<a%nhref", 0), 0, "<a\n \thref=1>"},
        {"<a\r\n \thref=1>", cmp2("<a%hhref", 0), -1, "<a\n \thref=1>"},
        {"<meta x>yz", cmp2("<meta%*>y", 0), 0, "<meta x>yz"},
        {"100%!x", cmp2("100%%!", 0), 0, "100%!x"},
        {"a%bcx", cmp2("a%bc", 0), 0, "a%bcx"},  // '%' before another byte is itself
        {"", cmp2("", 0), -1, ""},
        {"x <B>bold</B> y", skipToPat("</b>"), 0, "</B> y"},
        {"x <B>", skipToPat("</b>"), -1, ""},
        {"xx<!-- a --> b", skipTo("-->"), 0, "--> b"},
        {"ab", skipTo("zz"), -1, ""},
        {".5", BLex2_IsNumberStart, 1, ".5"},
        {".x", BLex2_IsNumberStart, 0, ".x"},
        {"+.5", BLex2_IsNumberStart, 0, "+.5"},
        {"+.5", BLex2_IsSignedNumberStart, 1, "+.5"},
        {"-.", BLex2_IsSignedNumberStart, 0, "-."},
        {"-45,", BLex2_ReadInt, -45, ","},
        {"-x", BLex2_ReadInt, 0, "-x"},        // a lone sign stays
        {"4294967297", BLex2_ReadInt, 1, ""},  // wraps modulo 2^32
        {"7fFg", BLex2_ReadHex, 0x7FF, "g"},
        {"-1A,", BLex2_ReadHex, -0x1A, ","},
        {"-1.5e2x", BLex2_ReadReal, -150, "x"},
        {"2E-3 ", BLex2_ReadReal, 0.002, " "},
        {"1.2.3", BLex2_ReadReal, 1.2, ".3"},
        {"1e5e6", BLex2_ReadReal, 1e5, "e6"},
        {"7e", BLex2_ReadReal, 7, ""},
        {"12-3", BLex2_ReadReal, 12, "-3"},
        {digits.c_str(), BLex2_ReadReal, std::stod(digits.substr(45)), digits.c_str() + 255, 512},
        {"ab==c=\nd===", find('='), 2, "ab==c=\nd==="},
        {"ab==c=\nd===", find('d'), -1, "ab==c=\nd==="},  // beyond the LF
        {"ab==c=\nd===", run('=', 2), 1, "ab==c=\nd==="},
        {"ab==c=\nd===", run('=', 3), 0, "ab==c=\nd==="},
        {q40.c_str(), run('q', 17), 0, q40.c_str(), 16},  // cannot be seen
        {" \t\r\n\n \r x", BLex2_SkipSpace, 2, "x"},      // counts line feeds
        {"  \t x", BLex2_SkipBlankRest, 0, "x"},
        {" \t\nabc", BLex2_SkipBlankRest, 1, "\nabc"},  // the LF stays
        {"  ", BLex2_SkipBlankRest, 0, ""},             // the end is no LF
        {"x\n \t\nabc", BLex2_SkipLine, ' ', " \t\nabc"},
        {"abc\r\r\n\ndef", BLex2_SkipLine, 'd', "def"},  // CR CR LF LF all passed
        {"xyz", BLex2_SkipLine, -1, ""},
        {"_ab1 c", BLex2_IsIdentStart, 1, "_ab1 c"},
        {"_ab1 c", BLex2_IdentLen, 4, "_ab1 c"},
        {"\x88\x9F", BLex2_IsIdentStart, 0, "\x88\x9F"},  // a lead byte
        {"ab\x88\x9F", BLex2_IdentLen, 2, "ab\x88\x9F"},  // ends before a lead byte
        {" /* a\n b */ // c\n\t/**/x", BLex2_SkipSpaceComment, 2, "x"},
        {"/**/x", BLex2_IsBlockComment, 1, "/**/x"},
        {"// z\nw", BLex2_IsLineComment, 1, "// z\nw"},
        {"/*/ x */y", BLex2_SkipBlockComment, 0, "y"},
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
    Open(
        "12\x0C"
        "3");
    EXPECT_EQ(BLex2_Peek(&lex_, 0), '1');
    EXPECT_EQ(CaughtCode([&] { BLex2_ReadReal(&lex_); }), 323);
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // popped when a binary byte stops it
    Open("x/* open\n");
    BLex2_Skip(&lex_, 1);
    EXPECT_EQ(CaughtCode([&] { BLex2_SkipBlockComment(&lex_); }), 324);
    EXPECT_NE(LastText().find(Sjis(u8"コメントの終端がありません")), std::string::npos);
    EXPECT_NE(BLex2_StrNICmp("\x82\x60", "\x82\x81", 2), 0);  // only ASCII folds
}

// Operations that fill a caller's buffer, as one table: the result, the
// text, the guard bytes after size, and what is left of the page.
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
        {"xyz", BLex2_ReadLine, 3, -1, "xy", ""},
        {"ab==c=\nd===", BLex2_PeekStr, 6, 5, "ab==c", "ab==c=\nd==="},
        {"ab==c=\nd===", BLex2_PeekStr, 32, -1, "ab==c=\nd===", "ab==c=\nd==="},  // the end first
        {q40.c_str(), BLex2_PeekStr, 32, 16, q40.c_str() + 24, q40.c_str(), 16},  // the capacity
        {"abc\ndef", field, 16, 3, "abc", "\ndef"},
        {"\"a,b\"\"c\",d", field, 16, 5, "a,b\"c", ",d"},
        {"\"abc", field, 16, 3, "abc", ""},
        {"abcdef,", field, 4, 3, "abc", ","},
        {"\"abcdef\",", field, 4, 3, "abc", ","},
        {"_ab1 c", BLex2_PeekIdent, 4, 4, "_a", "_ab1 c"},  // at most size - 2 bytes
        {"_ab1 c", BLex2_ReadIdent, 4, 4, "_a", " c"},
        {"c \x88\x9F", BLex2_ReadIdent, 16, 1, "c", " \x88\x9F"},
        {"\x88\x9F"
         "9x",
         BLex2_ReadIdent, 16, 0, "",
         "\x88\x9F"
         "9x"},
        {"foo bar\x88\x9F baz;x", BLex2_ReadIdentWords, 32, 13, "foo bar\x88\x9F baz", ";x"},
        {"foo  bar", BLex2_ReadIdentWords, 32, 3, "foo", "  bar"},
        {"ab\x88\x9F", BLex2_ReadIdentWords, 4, 2, "ab", ""},  // the kanji is dropped
        {"9ab", BLex2_ReadIdentWords, 32, 0, "", "9ab"},
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

TEST_F(BLex2Test, MatchAnyTakesTheFirstListedLiteral) {
    Open("--> b");
    const char* literals[] = {"--", "-->", " b"};
    ArrX_Buf list;
    ArrX_Buf_Init(&list, literals, sizeof literals);
    list.last = list.bufLast;
    EXPECT_EQ(BLex2_MatchAny(&lex_, &list), literals[0]);
    BLex2_Skip(&lex_, 3);
    EXPECT_EQ(BLex2_MatchAny(&lex_, &list), literals[2]);
    BLex2_Skip(&lex_, 1);
    EXPECT_EQ(BLex2_MatchAny(&lex_, &list), nullptr);
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

// ---- Comments, positions, brackets and states ----------------------------------------

TEST_F(BLex2Test, LineAndColumn) {
    Open("ab\nc");
    BLex2_Pos pos;
    BLex2_Pos_Init(&pos);
    std::string trace;
    for (int c; (c = BLex2_GetCharPos(&lex_, &pos)) != -1;)
        trace += std::to_string(pos.line) + ":" + std::to_string(pos.column) + " ";
    EXPECT_EQ(trace, "1:2 1:3 2:1 2:2 ");
    EXPECT_EQ(pos.column, 2);
}

TEST_F(BLex2Test, BracketStackMismatchNamesBothLines) {
    Open("");
    unsigned char block[24 + kGuard];
    memset(block, kGuardByte, sizeof block);
    BLex2_Kakko stack;
    BLex2_Kakko_Init(&stack, block, 24);
    EXPECT_EQ(stack.max, 2);
    BLex2_Pos at3{3, 1}, at4{4, 5}, at7{7, 2};
    BLex2_Kakko_Push(&stack, '(', &at3);
    BLex2_Kakko_Push(&stack, '[', &at4);
    EXPECT_EQ(BLex2_Kakko_Pop(&lex_, &stack, ']', &at7), '[');
    EXPECT_EQ(CaughtCode([&] { BLex2_Kakko_Pop(&lex_, &stack, '}', &at7); }), 322);
    EXPECT_NE(LastText().find(Sjis(u8"括弧の対応関係がおかしい '('～'}' "
                                   u8"ファイル:(FileName not Recorded) 行:3～7")),
              std::string::npos)
        << Utf8(LastText());
    EXPECT_EQ(BLex2_Kakko_Pop(&lex_, &stack, ')', &at7), 0);  // empty stays empty
    EXPECT_EQ(BLex2_Kakko_Depth(&stack), 0);
    // Beyond the buffer only the depth counts.
    BLex2_Kakko_Push(&stack, '{', &at3);
    BLex2_Kakko_Push(&stack, '{', &at3);
    BLex2_Kakko_Push(&stack, '(', &at4);
    EXPECT_EQ(BLex2_Kakko_Depth(&stack), 3);
    EXPECT_EQ(CaughtCode([&] { BLex2_Kakko_Pop(&lex_, &stack, ']', &at7); }), 0);
    EXPECT_EQ(BLex2_Kakko_Pop(&lex_, &stack, '}', &at7), '{');
    EXPECT_TRUE(Guarded(block, 24, sizeof block));
}

TEST_F(BLex2Test, CommentAndQuoteStateTokens) {
    Open("a/*b*/c//d\ne");
    BLex2_CommentState comment;
    BLex2_CommentState_Init(&comment);
    std::string trace;
    while (BLex2_Peek(&lex_, 0) != -1) {
        bool in = BLex2_CommentState_Step(&lex_, &comment);
        char text[4];
        BLex2_GetTokenText(&lex_, text, sizeof text);
        trace += std::to_string(lex_.tokenType) + (in ? "+" : "-") + text + " ";
        BLex2_SkipToken(&lex_);
    }
    EXPECT_EQ(trace, "257-a 258+/* 257+b 259+*/ 257-c 260+// 257+d 257-\n 257-e ");
    // x, ", a, \", \, n, the kanji 0x955C (its trail byte is no escape), ", ', y.
    Open("x\"a\\\"\\n\x95\\\"'y");
    BLex2_QuoteState quote;
    BLex2_QuoteState_Init(&quote);
    trace.clear();
    while (BLex2_Peek(&lex_, 0) != -1) {
        bool in = BLex2_QuoteState_Step(&lex_, &quote);
        trace +=
            std::to_string(lex_.tokenType) + (in ? "+" : "-") + std::to_string(lex_.tokenLen) + " ";
        BLex2_SkipToken(&lex_);
    }
    EXPECT_EQ(trace, "257-1 257+1 257+1 261+2 257+1 257+1 257+2 257+1 257+1 257+1 ");
    EXPECT_EQ(quote.quote, '\'');
}

TEST_F(BLex2Test, PrintTagForms) {
    Open("<Meta Name=\"k\" content=\"a b\">");
    ReadTag();
    testing::internal::CaptureStdout();
    BLex2_PrintTag(&tag_);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "<meta name=\"k\" content=\"a b\">");
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    BLex2_FPrintTag(f, &tag_);
    rewind(f);
    char got[64] = {};
    EXPECT_GT(fread(got, 1, sizeof got - 1, f), 0u);
    fclose(f);
    EXPECT_STREQ(got, "<META name=\"k\" content=\"a b\">");
}

// ---- Memory -------------------------------------------------------------------------

TEST_F(BLex2Test, ScanningTakesNoHeapMemory) {
    Open("<head><meta name=\"keywords\" content=\"a b\"><title>T</title>1.5 x</head>");
    BLex2_Peek(&lex_, 0);  // the stream's own buffer exists from here on
    char rec[64];
    BLex2_SetRecordBuf(&lex_, rec, sizeof rec);
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
    EXPECT_STREQ(static_cast<char*>(lex_.record.first), "T");
}
