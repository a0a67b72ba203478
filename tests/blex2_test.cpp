#include "components/blex2.h"

#include <cstring>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "components/strx.h"
#include "support/testsupport.h"

namespace {

constexpr int kGuard = 8;
constexpr unsigned char kGuardByte = 0xCC;

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
        ASSERT_LE(capacity, kMaxCap);
        if (open_) BLex2_Close(&lex_);
        dir_.Write("page.htm", bytes);
        path_ = dir_.inside() + "\\page.htm";
        memset(buf_, kGuardByte, sizeof buf_);
        capacity_ = capacity;
        BLex2_Open(&lex_, path_.c_str(), buf_, capacity);
        open_ = true;
    }
    bool GuardIntact() const {
        for (int i = capacity_; i < capacity_ + kGuard; i++)
            if (buf_[i] != kGuardByte) return false;
        return true;
    }
    // Consumes the rest of the page and returns it.
    std::string Rest() {
        std::string s;
        for (int c; (c = BLex2_GetChar(&lex_)) != -1;) s += static_cast<char>(c);
        return s;
    }
    // Reads a tag with a pool and a table of tableBytes (guarded).
    void ReadTag(int tableBytes = 40, int poolBytes = 4096) {
        memset(table_, kGuardByte, sizeof table_);
        StrX_Mem_Init(&pool_, poolBlock_, poolBytes);
        BLex2_ReadTag(&lex_, &tag_, &pool_, table_, tableBytes);
        tableBytes_ = tableBytes;
    }
    std::string Attrs() const {
        std::string s;
        for (int i = 0; i < tag_.count; i++)
            s +=
                std::string("[") + BLex2_AttrName(&tag_, i) + "=" + BLex2_AttrValue(&tag_, i) + "]";
        return s;
    }
    bool TableGuardIntact() const {
        for (size_t i = tableBytes_; i < sizeof table_; i++)
            if (table_[i] != kGuardByte) return false;
        return true;
    }

    static constexpr int kMaxCap = 1024;
    TempDir dir_;
    std::string path_;
    BLex2 lex_{};
    bool open_ = false;
    int capacity_ = 0;
    unsigned char buf_[kMaxCap + kGuard];
    StrX_Mem pool_{};
    char poolBlock_[4096];
    unsigned char table_[40 + kGuard * 4];
    int tableBytes_ = 0;
    BLex2_Tag tag_{};
};

// ---- Opening, peeking and filling ---------------------------------------------

TEST_F(BLex2Test, OpenStateNamesAndFailures) {
    Open("abc", 16);
    EXPECT_EQ(lex_.nBuf, 0);
    EXPECT_EQ(lex_.bufSize, 16);
    EXPECT_EQ(lex_.tokenType, 257);
    EXPECT_EQ(lex_.tokenLen, 0);
    EXPECT_EQ(lex_.recording, 0);
    EXPECT_EQ(lex_.record.first, nullptr);
    EXPECT_EQ(lex_.record.last, nullptr);
    EXPECT_EQ(std::string(lex_.name), path_);

    BLex2 in{};
    BLex2_Open(&in, nullptr, buf_, 16);  // the standard input
    EXPECT_EQ(in.file, stdin);
    EXPECT_STREQ(in.name, "(stdin)");
    BLex2_Close(&in);
    EXPECT_EQ(in.file, nullptr);
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
    EXPECT_EQ(lex_.nBuf, 4);
    EXPECT_EQ(BLex2_Peek(&lex_, 4), -1);  // the file goes on, the buffer cannot hold it
    EXPECT_EQ(BLex2_Peek(&lex_, 100), -1);
    EXPECT_EQ(lex_.nBuf, 4);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'a');
    BLex2_Skip(&lex_, 4);
    EXPECT_EQ(BLex2_Peek(&lex_, 3), 'h');
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'e');
    BLex2_Skip(&lex_, 3);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'h');
    EXPECT_EQ(BLex2_Peek(&lex_, 1), -1);  // the end
    BLex2_Skip(&lex_, 1);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), -1);
    EXPECT_EQ(BLex2_GetChar(&lex_), -1);
    EXPECT_EQ(BLex2_GetChar(&lex_), -1);
    EXPECT_TRUE(GuardIntact());
}

TEST_F(BLex2Test, BytesAbove7FComeBackUnsigned) {
    Open("\x82\xA0\x80\xFF\x7F");
    EXPECT_EQ(BLex2_Peek(&lex_, 1), 160);
    EXPECT_EQ(BLex2_GetChar(&lex_), 130);
    EXPECT_EQ(BLex2_GetChar(&lex_), 160);
    EXPECT_EQ(BLex2_GetChar(&lex_), 128);
    EXPECT_EQ(BLex2_GetChar(&lex_), 255);
    EXPECT_EQ(BLex2_GetChar(&lex_), 127);
    EXPECT_EQ(BLex2_GetChar(&lex_), -1);
}

TEST_F(BLex2Test, BinaryBytesRaise323WhenTheScanReachesThem) {
    const struct {
        char byte;
        int value;
    } cases[] = {{'\x00', 0}, {'\x0C', 12}, {'\x08', 8},  {'\x0B', 11},
                 {'\x01', 1}, {'\x1F', 31}, {'\x19', 25}, {'\x1C', 28}};
    for (const auto& c : cases) {
        Open(std::string("ab") + c.byte + "cd");
        EXPECT_EQ(BLex2_Peek(&lex_, 1), 'b') << c.value;  // not reached yet
        EXPECT_EQ(CaughtCode([&] { BLex2_Peek(&lex_, 2); }), 323) << c.value;
        std::string want = Sjis(u8"バイナリファイルは読みこめません char=(") +
                           std::to_string(c.value) + ") in " + path_;
        EXPECT_NE(LastText().find(want), std::string::npos) << c.value << " " << Utf8(LastText());
        EXPECT_EQ(lex_.nBuf, 2) << c.value;  // the byte is not stored
    }
}

TEST_F(BLex2Test, JisShiftBytesAndTextControlsAreText) {
    Open("\x1B$B\x0E\x0F\x1A\t\r\nx\ry");
    std::string got;
    EXPECT_EQ(CaughtCode([&] { got = Rest(); }), 0);
    EXPECT_EQ(got, "\x1B$B\x0E\x0F\x1A\t\nx\ry");  // text mode: CR LF arrives as LF
}

TEST_F(BLex2Test, MatchComparesWithoutConsuming) {
    Open("<TITLE>Alpha");
    EXPECT_EQ(BLex2_Match(&lex_, "<title>", BLex2_StrNICmp), 0);
    EXPECT_NE(BLex2_Match(&lex_, "<title>", strncmp), 0);
    EXPECT_EQ(BLex2_Match(&lex_, "<TITLE>", strncmp), 0);
    EXPECT_EQ(BLex2_Match(&lex_, "", strncmp), 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), '<');
    EXPECT_NE(BLex2_StrNICmp("\x82\x60", "\x82\x81", 2), 0);  // only ASCII folds
    // Fewer bytes left than the literal: no match.
    Open("</titl");
    EXPECT_NE(BLex2_Match(&lex_, "</title>", BLex2_StrNICmp), 0);
    EXPECT_EQ(BLex2_Match(&lex_, "</titl", BLex2_StrNICmp), 0);
    // A literal longer than the capacity never matches.
    Open("abcdefgh", 4);
    EXPECT_NE(BLex2_Match(&lex_, "abcde", strncmp), 0);
    EXPECT_TRUE(GuardIntact());
}

TEST_F(BLex2Test, JisEscapeClassifiesWithoutConsuming) {
    const struct {
        const char* text;
        int offset;
        int kind;
    } cases[] = {
        {"\x1B$B", 0, 4},   {"\x1B$@", 0, 4},  {"x\x1B(B", 1, 5}, {"\x1B(J", 0, 5},
        {"\x1B(H", 0, 5},   {"\x1B(I", 0, 5},  {"\x1B$A", 0, 0},  {"\x1B(X", 0, 0},
        {"\x1B$", 0, 0},    {"\x1B", 0, 0},    {"", 0, 0},        {"ab\x1B$B", 1, 0},
        {"ab\x1B$B", 2, 4}, {"\x1B$B", -1, 0},
    };
    for (const auto& c : cases) {
        Open(c.text);
        EXPECT_EQ(BLex2_JisEscape(&lex_, c.offset), c.kind) << c.text << " @" << c.offset;
        EXPECT_EQ(BLex2_Peek(&lex_, 0), c.text[0] ? static_cast<unsigned char>(c.text[0]) : -1);
    }
    // Near the capacity only what the buffer holds is classified.
    Open("ab\x1B$B", 4);
    EXPECT_EQ(BLex2_JisEscape(&lex_, 2), 0);
    EXPECT_EQ(BLex2_JisEscape(&lex_, 4), 0);
    EXPECT_TRUE(GuardIntact());
}

TEST_F(BLex2Test, SkipSpaceCountsLineFeeds) {
    Open(" \t\r\n\n \r x");
    EXPECT_EQ(BLex2_SkipSpace(&lex_), 2);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'x');
    EXPECT_EQ(BLex2_SkipSpace(&lex_), 0);
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
        {"\"ab cd\" x", 10, " >", "ab cd", ' ', "x"},
        {"\"ab cd\">x", 10, " >", "ab cd", '>', "x"},
        {"\"abcd\"x", 3, " >", "ab", 'c', "d\"x"},
        {"\"ab", 10, " >", "ab", -1, ""},
        {"\"ab\"", 10, " >", "ab", -1, ""},
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
        for (int i = c.size; i < static_cast<int>(sizeof out); i++)
            EXPECT_EQ(static_cast<unsigned char>(out[i]), kGuardByte) << c.text << " @" << i;
        EXPECT_EQ(Rest(), c.rest) << c.text;
    }
}

TEST_F(BLex2Test, ReadWordAtTheEndLeavesOutUntouched) {
    Open("  \n ");
    char out[8] = "XYZ";
    EXPECT_EQ(BLex2_ReadWord(&lex_, out, sizeof out, " >"), 0);
    EXPECT_STREQ(out, "XYZ");
    Open("abc");
    EXPECT_EQ(BLex2_ReadWord(&lex_, out, 0, " >"), 'a');  // size 0 stores nothing
    EXPECT_STREQ(out, "XYZ");
}

TEST_F(BLex2Test, ReadTagMetaKeywords) {
    Open("<meta name=\"keywords\" content=\"a, b\">after");
    ReadTag();
    EXPECT_STREQ(tag_.name, "meta");
    EXPECT_EQ(tag_.count, 2);
    EXPECT_EQ(Attrs(), "[name=keywords][content=a, b]");
    EXPECT_STREQ(BLex2_GetAttr(&tag_, "name"), "keywords");
    EXPECT_STREQ(BLex2_GetAttr(&tag_, "content"), "a, b");
    EXPECT_EQ(BLex2_GetAttr(&tag_, "NAME"), nullptr);
    EXPECT_EQ(BLex2_GetAttr(&tag_, "http-equiv"), nullptr);
    EXPECT_EQ(Rest(), "after");
    EXPECT_TRUE(TableGuardIntact());
}

TEST_F(BLex2Test, ReadTagFoldsNamesButNotValues) {
    Open("<META NAME=\"Keywords\" CONTENT=\"A B\">");
    ReadTag();
    EXPECT_STREQ(tag_.name, "meta");
    EXPECT_EQ(Attrs(), "[name=Keywords][content=A B]");
    // Folding steps over trail bytes: the trail byte 0x41 of a katakana stays.
    Open("<X\x83\x41Y a\x83\x41=V>");
    ReadTag();
    EXPECT_STREQ(tag_.name, "x\x83\x41y");
    EXPECT_EQ(Attrs(), "[a\x83\x41=V]");
}

TEST_F(BLex2Test, ReadTagShapes) {
    const struct {
        const char* text;
        const char* name;
        const char* attrs;
        const char* rest;
    } cases[] = {
        {"<title>T", "title", "", "T"},
        {"</head>", "/head", "", ""},
        {"< \n title>x", "title", "", "x"},
        {"<title >x", "title", "[=]", "x"},
        {"<meta\nname=\"x\">y", "meta\nname=\"x\"", "", "y"},
        {"<meta\tname=x>", "meta\tname=x", "", ""},
        {"<a href = \"x y\" id=z>r", "a", "[href=x y][id=z]", "r"},
        {"<p class='a b'>", "p", "[class='a][b'=]", ""},
        {"<input checked>", "input", "[checked=]", ""},
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
        EXPECT_TRUE(TableGuardIntact()) << c.text;
    }
}

TEST_F(BLex2Test, ReadTagWith40ByteTableReadsFiveOfSevenAttributes) {
    Open("<x a1=1 a2=\"2\" a3=3 a4=4 a5=5 a6=6 a7=7>rest");
    ReadTag(40);
    EXPECT_EQ(tag_.count, 5);
    EXPECT_EQ(Attrs(), "[a1=1][a2=2][a3=3][a4=4][a5=5]");
    EXPECT_EQ(BLex2_GetAttr(&tag_, "a6"), nullptr);
    EXPECT_EQ(Rest(), "a6=6 a7=7>rest");  // the rest of the tag stays unread
    EXPECT_TRUE(TableGuardIntact());
    // The slots: five name slots, then five value slots, 4 bytes each.
    EXPECT_EQ(reinterpret_cast<unsigned char*>(tag_.attrValues) - table_, 20);
}

TEST_F(BLex2Test, ReadTagOnAFullPoolRaises3180) {
    Open("<meta name=\"keywords\" content=\"abc\">");
    EXPECT_EQ(CaughtCode([&] { ReadTag(40, 16); }), 3180);
    // Values are cut to the pool's room, never written past it.
    Open("<a href=\"abcdefghijklmnop\">");
    ReadTag(8, 20);
    EXPECT_STREQ(tag_.name, "a");
    EXPECT_EQ(Attrs(), "[href=abcdefghij]");
}

TEST_F(BLex2Test, BinaryByteInsideATagRaises323) {
    Open("<meta name=\"key\x0Cwords\">");
    EXPECT_EQ(CaughtCode([&] { ReadTag(); }), 323);
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
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'y');

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
    for (int i = 400; i < 400 + kGuard; i++) EXPECT_EQ(rec[i], kGuardByte) << i;
    EXPECT_EQ(BLex2_GetChar(&lex_), 'y');  // not recording any more: no raise
}

TEST_F(BLex2Test, RecordFullWithOnlyTheHeldByteLeftRaises901) {
    Open("abcdef");
    unsigned char rec[4];
    BLex2_SetRecordBuf(&lex_, rec, sizeof rec);
    BLex2_StartRecord(&lex_);
    BLex2_Peek(&lex_, 3);
    BLex2_Skip(&lex_, 4);  // all held bytes: appended without the relabelling frame
    EXPECT_EQ(memcmp(rec, "abcd", 4), 0);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'e');
    EXPECT_EQ(lex_.nBuf, 1);
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 1); }), 901);
}

TEST_F(BLex2Test, SkipBeyondHeldBytesRecordsWhileThereIsRoomAndDropsTheRest) {
    Open("abcdefgh");
    unsigned char rec[4 + kGuard];
    memset(rec, kGuardByte, sizeof rec);
    BLex2_SetRecordBuf(&lex_, rec, 4);
    BLex2_StartRecord(&lex_);
    BLex2_Peek(&lex_, 1);
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 6); }), 0);
    EXPECT_EQ(memcmp(rec, "abcd", 4), 0);
    for (int i = 4; i < 4 + kGuard; i++) EXPECT_EQ(rec[i], kGuardByte) << i;
    BLex2_EndRecord(&lex_);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'g');
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(BLex2Test, SkipBeyondHeldBytesDoesNotTestForBinary) {
    Open(std::string("ab\x00\x0C"
                     "cd"
                     "\x00",
                     7),
         16);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'a');
    EXPECT_EQ(CaughtCode([&] { BLex2_Skip(&lex_, 4); }), 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'c');
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'd');
    EXPECT_EQ(CaughtCode([&] { BLex2_Peek(&lex_, 1); }), 323);
}

TEST_F(BLex2Test, EmptyRecordGivesEmptyText) {
    Open("abc");
    char rec[16];
    memset(rec, 'G', sizeof rec);
    BLex2_SetRecordBuf(&lex_, rec, sizeof rec);
    BLex2_StartRecord(&lex_);
    ArrX_Buf* r = BLex2_EndRecord(&lex_);
    EXPECT_EQ(r->first, r->last);
    EXPECT_STREQ(static_cast<char*>(r->first), "");
}

TEST_F(BLex2Test, EndRecordDropsTrailingNulBytes) {
    Open(std::string("ab\0\0c", 5));
    char rec[16];
    BLex2_SetRecordBuf(&lex_, rec, sizeof rec);
    BLex2_StartRecord(&lex_);
    BLex2_Skip(&lex_, 4);  // read straight from the file: the NULs are recorded
    ArrX_Buf* r = BLex2_EndRecord(&lex_);
    EXPECT_EQ(static_cast<char*>(r->last) - rec, 2);
    EXPECT_STREQ(rec, "ab");
}

TEST_F(BLex2Test, ClearRecordEmptiesAndRecordingFollowsStartAndEnd) {
    Open("abcdef");
    char rec[16];
    BLex2_SetRecordBuf(&lex_, rec, sizeof rec);
    BLex2_Skip(&lex_, 1);  // not recording
    BLex2_StartRecord(&lex_);
    BLex2_Peek(&lex_, 3);
    BLex2_Skip(&lex_, 2);
    BLex2_ClearRecord(&lex_);
    BLex2_Skip(&lex_, 1);
    EXPECT_STREQ(static_cast<char*>(BLex2_EndRecord(&lex_)->first), "d");
    BLex2_Skip(&lex_, 1);
    EXPECT_STREQ(static_cast<char*>(BLex2_EndRecord(&lex_)->first), "d");
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
    EXPECT_EQ(BLex2_Tell(&lex_), 0);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'a');
    EXPECT_EQ(BLex2_Tell(&lex_), 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'a');
    EXPECT_EQ(BLex2_GetChar(&lex_), 'b');
    EXPECT_EQ(BLex2_Peek(&lex_, 4), 'e');  // holds LF c d LF e
    EXPECT_EQ(BLex2_Tell(&lex_), 2);
    EXPECT_EQ(BLex2_GetChar(&lex_), '\n');
    EXPECT_EQ(BLex2_Tell(&lex_), 4);
    BLex2_Skip(&lex_, 2);
    long afterCd = BLex2_Tell(&lex_);
    EXPECT_EQ(afterCd, 6);

    EXPECT_EQ(BLex2_Seek(&lex_, 2), 0);
    EXPECT_EQ(lex_.nBuf, 6);  // filled ahead up to 31 bytes: LF c d LF e f
    EXPECT_EQ(BLex2_Tell(&lex_), 2);
    EXPECT_EQ(BLex2_GetChar(&lex_), '\n');
    EXPECT_EQ(BLex2_GetChar(&lex_), 'c');

    EXPECT_EQ(BLex2_Seek(&lex_, afterCd), 0);
    EXPECT_EQ(Rest(), "\nef");
    EXPECT_EQ(BLex2_Tell(&lex_), 10);
}

TEST_F(BLex2Test, SeekFillsAtMost31BytesAndRewindStartsOver) {
    Open(std::string(100, 'a') + "b", 64);
    EXPECT_EQ(BLex2_Seek(&lex_, 0), 0);
    EXPECT_EQ(lex_.nBuf, 31);
    EXPECT_EQ(BLex2_Seek(&lex_, 100), 0);
    EXPECT_EQ(lex_.nBuf, 1);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'b');
    EXPECT_EQ(BLex2_GetChar(&lex_), -1);
    EXPECT_EQ(BLex2_Rewind(&lex_), 0);
    EXPECT_EQ(lex_.nBuf, 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'a');
    EXPECT_EQ(BLex2_Tell(&lex_), 1);
    Open("abc", 16);
    EXPECT_EQ(BLex2_Seek(&lex_, 0), 0);
    EXPECT_EQ(lex_.nBuf, 3);
    EXPECT_TRUE(GuardIntact());
}

// ---- Lines, literals and patterns -----------------------------------------------------

TEST_F(BLex2Test, LineOperations) {
    Open("  \t x\n \t\nabc\r\r\n\ndef\nxyz");
    EXPECT_EQ(BLex2_SkipBlankRest(&lex_), 0);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'x');
    EXPECT_EQ(BLex2_SkipLine(&lex_), ' ');
    EXPECT_EQ(BLex2_SkipBlankRest(&lex_), 1);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), '\n');  // the LF stays
    BLex2_Skip(&lex_, 1);
    EXPECT_EQ(BLex2_SkipLine(&lex_), 'd');  // CR CR LF LF all passed
    char line[3];
    EXPECT_EQ(BLex2_ReadLine(&lex_, line, sizeof line), '\n');
    EXPECT_STREQ(line, "de");  // cut to size - 1, the rest consumed
    EXPECT_EQ(BLex2_GetChar(&lex_), '\n');
    EXPECT_EQ(BLex2_ReadLine(&lex_, line, sizeof line), -1);
    EXPECT_STREQ(line, "xy");
    EXPECT_EQ(BLex2_SkipBlankRest(&lex_), 0);  // the end is no LF
    EXPECT_EQ(BLex2_SkipLine(&lex_), -1);
}

TEST_F(BLex2Test, FindRunAndPeekString) {
    Open("ab==c=\nd===", 16);
    EXPECT_EQ(BLex2_FindInLine(&lex_, '='), 2);
    EXPECT_EQ(BLex2_FindInLine(&lex_, 'd'), -1);  // beyond the LF
    EXPECT_TRUE(BLex2_IsRunInLine(&lex_, '=', 2));
    EXPECT_FALSE(BLex2_IsRunInLine(&lex_, '=', 3));
    EXPECT_TRUE(BLex2_IsRunInLine(&lex_, '!', 0));
    char out[6 + kGuard];
    memset(out, kGuardByte, sizeof out);
    EXPECT_EQ(BLex2_PeekStr(&lex_, out, 6), 5);
    EXPECT_STREQ(out, "ab==c");
    for (size_t i = 6; i < sizeof out; i++)
        EXPECT_EQ(static_cast<unsigned char>(out[i]), kGuardByte);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 'a');  // nothing consumed
    char all[32];
    EXPECT_EQ(BLex2_PeekStr(&lex_, all, sizeof all), -1);  // the file ends first
    EXPECT_STREQ(all, "ab==c=\nd===");
    // Beyond the capacity the count stops there.
    Open(std::string(40, 'q'), 16);
    EXPECT_EQ(BLex2_PeekStr(&lex_, all, sizeof all), 16);
    EXPECT_EQ(std::string(all), std::string(16, 'q'));
    EXPECT_FALSE(BLex2_IsRunInLine(&lex_, 'q', 17));  // cannot be seen
    EXPECT_EQ(BLex2_FindInLine(&lex_, 'x'), -1);
    EXPECT_TRUE(GuardIntact());
}

TEST_F(BLex2Test, SkipToLiteralAndMatchAny) {
    Open("xx<!-- a --> b");
    EXPECT_EQ(BLex2_SkipTo(&lex_, "-->"), 0);
    EXPECT_EQ(BLex2_Match(&lex_, "-->", strncmp), 0);
    const char* literals[] = {"--", "-->", " b"};
    ArrX_Buf list;
    ArrX_Buf_Init(&list, literals, sizeof literals);
    list.last = list.bufLast;
    EXPECT_EQ(BLex2_MatchAny(&lex_, &list), literals[0]);
    BLex2_Skip(&lex_, 3);
    EXPECT_EQ(BLex2_MatchAny(&lex_, &list), literals[2]);
    BLex2_Skip(&lex_, 1);
    EXPECT_EQ(BLex2_MatchAny(&lex_, &list), nullptr);
    EXPECT_EQ(BLex2_SkipTo(&lex_, "zz"), -1);
    EXPECT_EQ(BLex2_Peek(&lex_, 0), -1);
}

TEST_F(BLex2Test, StrCmp2Patterns) {
    const struct {
        const char* text;
        const char* pattern;
        int caseFlag;
        int result;
    } cases[] = {
        {"<TITLE>x", "<title>", 0, 0},
        {"<TITLE>x", "<title>", 1, -1},
        {"<TITLE>x", "<TITLE>", 0x101, 0},
        {"<TITLE>x", "<title>", 0x100, 0},  // only the low byte counts
        {"<TITLE>", "<title>", 0, -1},      // the match reaches the last byte
        {"<title", "<title>", 0, -1},       // the end before the pattern's end
        {"<a  \t href=1>", "<a%Hhref", 0, 0},
        {"<ahref=1>", "<a%Hhref", 0, -1},  // %H needs a blank
        {"<ahref=1>", "<a%hhref", 0, 0},
        {"<a \t href=1>", "<a%hhref", 0, 0},
        {"<a\r\n \thref=1>", "<a%nhref", 0, 0},
        {"<a\r\n \thref=1>", "<a%hhref", 0, -1},
        {"<meta name=x>y", "<meta%*>y", 0, -1},  // y is the last byte
        {"<meta name=x>yz", "<meta%*>y", 0, 0},
        {"<meta name=x", "<meta%*>", 0, -1},
        {"100%!", "100%%!", 0, -1},
        {"100%!x", "100%%!", 0, 0},
        {"a%bcx", "a%bc", 0, 0},  // '%' before another byte is itself
        {"\x82\xA0x", "\x82\xA0", 0, 0},
        {"", "", 0, -1},
        {"a", "", 0, 0},
    };
    for (const auto& c : cases) {
        Open(c.text);
        EXPECT_EQ(BLex2_StrCmp2(&lex_, c.pattern, c.caseFlag), c.result)
            << c.text << " ~ " << c.pattern;
        EXPECT_EQ(BLex2_Peek(&lex_, 0), c.text[0] ? static_cast<unsigned char>(c.text[0]) : -1);
    }
    Open("x <B>bold</B> y");
    EXPECT_EQ(BLex2_SkipToPattern(&lex_, "</b>", 0), 0);
    EXPECT_EQ(Rest(), "</B> y");
    Open("x <B>");
    EXPECT_EQ(BLex2_SkipToPattern(&lex_, "</b>", 0), -1);
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

// ---- Numbers, fields and identifiers ---------------------------------------------------

TEST_F(BLex2Test, NumberStartTests) {
    const struct {
        const char* text;
        bool plain, isSigned;
    } cases[] = {{"7", true, true},     {".5", true, true},   {".x", false, false},
                 {"-7", false, true},   {"+.5", false, true}, {"-.", false, false},
                 {"--1", false, false}, {"x", false, false},  {"", false, false}};
    for (const auto& c : cases) {
        Open(c.text);
        EXPECT_EQ(BLex2_IsNumberStart(&lex_), c.plain) << c.text;
        EXPECT_EQ(BLex2_IsSignedNumberStart(&lex_), c.isSigned) << c.text;
    }
}

TEST_F(BLex2Test, ReadIntAndHex) {
    Open("123,-45,-x,0x,7fFg,-1A,4294967297");
    EXPECT_EQ(BLex2_ReadInt(&lex_), 123);
    EXPECT_EQ(BLex2_GetChar(&lex_), ',');
    EXPECT_EQ(BLex2_ReadInt(&lex_), -45);
    EXPECT_EQ(BLex2_GetChar(&lex_), ',');
    EXPECT_EQ(BLex2_ReadInt(&lex_), 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), '-');  // a lone sign stays
    BLex2_Skip(&lex_, 2);
    EXPECT_EQ(BLex2_ReadInt(&lex_), 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'x');
    BLex2_Skip(&lex_, 1);
    EXPECT_EQ(BLex2_ReadHex(&lex_), 0x7FF);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'g');
    BLex2_Skip(&lex_, 1);
    EXPECT_EQ(BLex2_ReadHex(&lex_), -0x1A);
    BLex2_Skip(&lex_, 1);
    EXPECT_EQ(BLex2_ReadInt(&lex_), 1);  // wraps modulo 2^32
}

TEST_F(BLex2Test, ReadRealCases) {
    const struct {
        const char* text;
        double value;
        const char* rest;
    } cases[] = {
        {"3.25;", 3.25, ";"}, {"-1.5e2x", -150, "x"}, {"+.5", 0.5, ""}, {"2E-3 ", 0.002, " "},
        {"1.2.3", 1.2, ".3"}, {"1e5e6", 1e5, "e6"},   {"7e", 7, ""},    {"x1", 0, "x1"},
        {"-x", 0, "-x"},      {"12-3", 12, "-3"},
    };
    for (const auto& c : cases) {
        Open(c.text);
        EXPECT_DOUBLE_EQ(BLex2_ReadReal(&lex_), c.value) << c.text;
        EXPECT_EQ(Rest(), c.rest) << c.text;
    }
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);  // the scratch mark is gone
    // 300 digits: 255 are read, the rest stays.
    Open(std::string(300, '1'), 512);
    BLex2_ReadReal(&lex_);
    EXPECT_EQ(Rest(), std::string(45, '1'));
}

TEST_F(BLex2Test, ReadRealPopsItsMarkWhenABinaryByteStopsIt) {
    Open(
        "12\x0C"
        "3");
    EXPECT_EQ(BLex2_Peek(&lex_, 0), '1');
    EXPECT_EQ(CaughtCode([&] { BLex2_ReadReal(&lex_); }), 323);
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem);
}

TEST_F(BLex2Test, ReadQuotedFieldCases) {
    const struct {
        const char* text;
        int size;
        const char* field;
        const char* rest;
    } cases[] = {
        {"abc,def", 16, "abc", ",def"},
        {"abc\ndef", 16, "abc", "\ndef"},
        {"\"a,b\"\"c\",d", 16, "a,b\"c", ",d"},
        {"\"a\nb\"", 16, "a\nb", ""},
        {"\"abc", 16, "abc", ""},
        {"abcdef,", 4, "abc", ","},
        {"\"abcdef\",", 4, "abc", ","},
        {"", 16, "", ""},
    };
    for (const auto& c : cases) {
        Open(c.text);
        char out[16 + kGuard];
        memset(out, kGuardByte, sizeof out);
        char* end = BLex2_ReadQuotedField(&lex_, out, c.size);
        EXPECT_STREQ(out, c.field) << c.text;
        EXPECT_EQ(end, out + strlen(c.field)) << c.text;
        EXPECT_EQ(static_cast<unsigned char>(out[c.size]), kGuardByte) << c.text;
        EXPECT_EQ(Rest(), c.rest) << c.text;
    }
}

TEST_F(BLex2Test, IdentifierOperations) {
    Open(
        "_ab1 c \x88\x9F"
        "9x");
    EXPECT_TRUE(BLex2_IsIdentStart(&lex_));
    EXPECT_EQ(BLex2_IdentLen(&lex_), 4);
    char out[4 + kGuard];
    memset(out, kGuardByte, sizeof out);
    EXPECT_EQ(BLex2_PeekIdent(&lex_, out, 4), 4);
    EXPECT_STREQ(out, "_a");  // at most size - 2 bytes
    EXPECT_EQ(static_cast<unsigned char>(out[4]), kGuardByte);
    EXPECT_EQ(BLex2_ReadIdent(&lex_, out, 4), 4);
    EXPECT_STREQ(out, "_a");
    EXPECT_EQ(BLex2_GetChar(&lex_), ' ');
    char big[16];
    EXPECT_EQ(BLex2_ReadIdent(&lex_, big, sizeof big), 1);
    EXPECT_STREQ(big, "c");
    BLex2_Skip(&lex_, 1);
    EXPECT_FALSE(BLex2_IsIdentStart(&lex_));  // a lead byte
    EXPECT_EQ(BLex2_IdentLen(&lex_), 0);
    EXPECT_EQ(BLex2_ReadIdent(&lex_, big, sizeof big), 0);
    EXPECT_STREQ(big, "");
    EXPECT_EQ(BLex2_Peek(&lex_, 0), 0x88);  // nothing consumed
    // An identifier ends before a lead byte.
    Open("ab\x88\x9F");
    EXPECT_EQ(BLex2_IdentLen(&lex_), 2);
}

TEST_F(BLex2Test, ReadIdentWordsJoinsWordsAndKanji) {
    const struct {
        const char* text;
        int size;
        const char* words;
        const char* rest;
    } cases[] = {
        {"foo bar\x88\x9F baz;x", 32, "foo bar\x88\x9F baz", ";x"},
        {"foo  bar", 32, "foo", "  bar"},
        {"foo ;", 32, "foo", " ;"},
        {"\x88\x9F\x88\xA0", 32, "\x88\x9F\x88\xA0", ""},
        {"ab\x88\x9F", 4, "ab", ""},  // the kanji does not fit: consumed, dropped
        {"9ab", 32, "", "9ab"},
        {" ab", 32, "", " ab"},
    };
    for (const auto& c : cases) {
        Open(c.text);
        char out[32];
        EXPECT_EQ(BLex2_ReadIdentWords(&lex_, out, c.size), static_cast<int>(strlen(c.words)))
            << c.text;
        EXPECT_STREQ(out, c.words) << c.text;
        EXPECT_EQ(Rest(), c.rest) << c.text;
    }
}

// ---- Comments, positions, brackets and states ----------------------------------------

TEST_F(BLex2Test, CommentSkipping) {
    Open(" /* a\n b */ // c\n\t/**/x/* open\n");
    EXPECT_EQ(BLex2_SkipSpaceComment(&lex_), 2);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'x');
    EXPECT_TRUE(BLex2_IsBlockComment(&lex_));
    EXPECT_FALSE(BLex2_IsLineComment(&lex_));
    EXPECT_EQ(CaughtCode([&] { BLex2_SkipBlockComment(&lex_); }), 324);
    EXPECT_NE(LastText().find(Sjis(u8"コメントの終端がありません")), std::string::npos);
    Open("/*/ x */y// z\nw");
    EXPECT_EQ(BLex2_SkipBlockComment(&lex_), 0);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'y');
    EXPECT_TRUE(BLex2_IsLineComment(&lex_));
    BLex2_SkipLineComment(&lex_);
    EXPECT_EQ(Rest(), "\nw");
}

TEST_F(BLex2Test, LineAndColumn) {
    Open("ab\nc");
    BLex2_Pos pos;
    BLex2_Pos_Init(&pos);
    EXPECT_EQ(pos.line, 1);
    EXPECT_EQ(pos.column, 1);
    BLex2_GetCharPos(&lex_, &pos);
    BLex2_GetCharPos(&lex_, &pos);
    EXPECT_EQ(pos.column, 3);
    EXPECT_EQ(BLex2_GetCharPos(&lex_, &pos), '\n');
    EXPECT_EQ(pos.line, 2);
    EXPECT_EQ(pos.column, 1);
    BLex2_GetCharPos(&lex_, &pos);
    EXPECT_EQ(BLex2_GetCharPos(&lex_, &pos), -1);
    EXPECT_EQ(pos.line, 2);
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
    EXPECT_EQ(BLex2_Kakko_Depth(&stack), 1);
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
    for (int i = 24; i < 24 + kGuard; i++) EXPECT_EQ(block[i], kGuardByte) << i;
}

TEST_F(BLex2Test, CommentStateTokens) {
    Open("a/*b*/c//d\ne");
    BLex2_CommentState state;
    BLex2_CommentState_Init(&state);
    std::string trace;
    while (BLex2_Peek(&lex_, 0) != -1) {
        bool in = BLex2_CommentState_Step(&lex_, &state);
        char text[4];
        BLex2_GetTokenText(&lex_, text, sizeof text);
        trace += std::to_string(lex_.tokenType) + (in ? "+" : "-") + text + " ";
        BLex2_SkipToken(&lex_);
    }
    EXPECT_EQ(trace, "257-a 258+/* 257+b 259+*/ 257-c 260+// 257+d 257-\n 257-e ");
}

TEST_F(BLex2Test, QuoteStateTokens) {
    Open("x\"a\\\"\\n\x95\\\"'y");
    BLex2_QuoteState state;
    BLex2_QuoteState_Init(&state);
    std::string trace;
    while (BLex2_Peek(&lex_, 0) != -1) {
        bool in = BLex2_QuoteState_Step(&lex_, &state);
        trace +=
            std::to_string(lex_.tokenType) + (in ? "+" : "-") + std::to_string(lex_.tokenLen) + " ";
        BLex2_SkipToken(&lex_);
    }
    // x, ", a, \", \, n, the kanji 0x955C (its trail byte is no escape), ", ', y.
    EXPECT_EQ(trace, "257-1 257+1 257+1 261+2 257+1 257+1 257+2 257+1 257+1 257+1 ");
    EXPECT_EQ(state.quote, '\'');
}

TEST_F(BLex2Test, TokenTextIsBounded) {
    Open("abcdef");
    BLex2_SetToken(&lex_, 300, 5);
    EXPECT_EQ(lex_.nBuf, 5);
    char out[3 + kGuard];
    memset(out, kGuardByte, sizeof out);
    EXPECT_EQ(BLex2_GetTokenText(&lex_, out, 3), 2);
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(static_cast<unsigned char>(out[3]), kGuardByte);
    BLex2_SkipToken(&lex_);
    EXPECT_EQ(BLex2_GetChar(&lex_), 'f');
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
