#include "components/inifile.h"

#include <cstddef>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <thread>  // std::chrono; <chrono> itself has a literal CP932 cannot hold
#include <vector>

#include "components/arrx.h"
#include "components/bigstack.h"
#include "components/strx.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {
time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
    time_t t = 0;
    StrX_MakeTime(&t, y, mo, d, h, mi, s);
    return t;
}
}  // namespace

class IniFileTest : public LibraryTest {
   protected:
    void SetUp() override {
        LibraryTest::SetUp();
        StrX_Mem_Init(&pool_, poolBlock_, sizeof poolBlock_);
        ArrX_Buf_Init(&array_, arrayBlock_, sizeof arrayBlock_);
    }
    void TearDown() override {
        IniFile_CloseRead(&reader_);
        LibraryTest::TearDown();
    }
    std::string PathOf(const std::string& name) const { return dir_.inside() + "\\" + name; }
    // Writes bytes as the file t.ini and opens reader_ on it.
    void Open(const std::string& bytes, int lineSize = sizeof line_) {
        IniFile_CloseRead(&reader_);
        dir_.Write("t.ini", bytes);
        IniFile_OpenRead(&reader_, PathOf("t.ini").c_str(), line_, lineSize);
    }
    // Runs fn on a writer of w.ini, closes it and returns the file's bytes.
    template <class Fn>
    std::string Written(Fn&& fn) {
        IniWriter w{};
        IniFile_OpenWrite(&w, PathOf("w.ini").c_str());
        fn(&w);
        IniFile_CloseWrite(&w);
        return dir_.Read("w.ini");
    }
    bool LastTextHas(const std::string& part) const {
        return LastText().find(part) != std::string::npos;
    }

    TempDir dir_;
    IniReader reader_{};
    char line_[1024];
    StrX_Mem pool_;
    char poolBlock_[512];
    ArrX_Buf array_;
    alignas(8) unsigned char arrayBlock_[256];
};

// ---- Writer -----------------------------------------------------------------------

TEST_F(IniFileTest, WriterBytesForByte) {
    time_t t = LocalTime(2000, 3, 30, 21, 15, 7);
    const char* paths[] = {"C:\\a\\x.htm", "C:\\a\\y.htm", "C:\\b\\z.htm", "top.htm"};
    std::string bytes = Written([&](IniWriter* w) {
        IniFile_WriteSection(w, "main");
        IniFile_WriteAttr(w, "Update", "t", &t);
        IniFile_WriteAttr(w, "B", "bb", 0, 256);                         // only the low byte counts
        IniFile_WriteAttr(w, "N", "iIx", -42, 255);                      // I takes no argument
        IniFile_WriteAttr(w, "Q", "s", std::string(5000, 'q').c_str());  // quoted form fits 4096
        IniFile_WriteLabel(w, "Label");
        // The last piece, all blanks, is not written; a 0x5C trail byte is
        // not the separator backslash.
        IniFile_WriteSplitAttr(w, "K", ';', "a;; d;  ");
        IniFile_WriteSplitAttr(w, "P", '\\', "x\x95\x5Cy\\z");
        IniFile_WriteSplitAttr(w, "L", ';', std::string(300, 'w').c_str());
        IniFile_WriteFileList(w, "files", paths, 4);
    });
    EXPECT_EQ(bytes,
              "[main] \r\nUpdate = 2000/03/30-21:15:07\r\nB = 0, 0\r\nN = -42, 0xFF\r\nQ = " +
                  std::string(4095, 'q') +
                  "\r\nLabel:\r\nK = a\r\nK = \r\nK = \" d\"\r\nP = x\x95\x5Cy\r\nP = z\r\n"
                  "L = " +
                  std::string(255, 'w') +
                  "\r\n \r\n[files] \r\nFolder = C:\\a\r\nFile = x.htm\r\nFile = y.htm\r\n"
                  "Folder = C:\\b\r\nFile = z.htm\r\nFolder = .\r\nFile = top.htm\r\n \r\n");
    // Read back, starting past the section: it is found with wrap.
    Open(bytes);
    IniFile_FindSection(&reader_, "files", false);
    PtrRange range{};
    IniFile_ReadFileList(&reader_, &pool_, &array_, "files", &range);
    ASSERT_EQ(PtrRange_Count(&range, sizeof(char*)), 4u);
    for (int i = 0; i < 4; i++) EXPECT_STREQ(static_cast<char**>(range.first)[i], paths[i]) << i;
}

TEST_F(IniFileTest, FailedWritesReport365WithThePathAndStopWriting) {
    // A full disk: /dev/full takes the open, every write fails. A short file
    // fails at its close (the stream's buffer), a long one at a line.
    const struct {
        int lines;
        bool failsAtClose;
    } cases[] = {{1, true}, {3000, false}};
    for (const auto& c : cases) {
        IniWriter w{};
        int written = 0;
        bool closed = false;
        const int code = CaughtCode([&] {
            IniFile_OpenWrite(&w, "\\dev\\full");
            IniFile_WriteSection(&w, "main");
            for (; written < c.lines; written++) IniFile_WriteAttr(&w, "A", "si", "value", written);
            closed = IniFile_CloseWrite(&w);
        });
        EXPECT_EQ(FileX_Err_CannotWrite.code, code) << c.lines;
        EXPECT_FALSE(closed);
        EXPECT_EQ(nullptr, w.fp) << "closed by the writer";
        EXPECT_TRUE(LastTextHas(Sjis(u8"\\dev\\full の書きこみに失敗しました。")))
            << Utf8(LastText());
        EXPECT_EQ(c.failsAtClose, written == c.lines) << c.lines << " lines, " << written;
    }
}

TEST_F(IniFileTest, FailuresWithoutAHookLeaveTheFileClosed) {
    // The report returns: a failed write closes the writer, later writes do
    // nothing and the close says false; a failed open leaves the reader or
    // writer closed, reading the end and writing nothing.
    Errors_Callback = nullptr;
    IniWriter w{};
    IniFile_OpenWrite(&w, "\\dev\\full");
    for (int i = 0; i < 3000; i++) IniFile_WriteAttr(&w, "A", "i", i);
    EXPECT_EQ(nullptr, w.fp);
    EXPECT_FALSE(IniFile_CloseWrite(&w));
    std::string in = PathOf("none.ini");
    IniFile_OpenRead(&reader_, in.c_str(), line_, sizeof line_);
    EXPECT_TRUE(LastTextHas(Sjis(u8"読みこみモードで open できません。") + in)) << Utf8(LastText());
    EXPECT_EQ(reader_.in, nullptr);
    char v[256];
    IniFile_ReadAttr(&reader_, "A", "s", v);
    EXPECT_EQ(Errors_GetMsg()->code, 595);
    IniFile_OpenWrite(&w, PathOf("missing\\w.ini").c_str());
    EXPECT_EQ(Errors_GetMsg()->code, 362);
    EXPECT_EQ(w.fp, nullptr);
    IniFile_WriteAttr(&w, "A", "s", "x");
    IniFile_CloseWrite(&w);
    Errors_Callback = Except3_RaiseHook;
}

// ---- Reader: line syntax -----------------------------------------------------------

// Fields of "sss" under a value limit; every value stops before the guard at
// the limit.
TEST_F(IniFileTest, FieldSplittingAndValueLimitTable) {
    const struct {
        const char* line;
        int limit;
        const char* fields;
    } cases[] = {
        {"A = x, y", 256, "x|y|"},         // a missing third value leaves it empty
        {"A = w, x, y, z", 256, "w|x|y"},  // a fourth value is ignored
        {"A = \"a\"\"b\", c", 256, "a\"b|c|"},
        {"A = \"ab\" junk , c", 256, "ab|c|"},  // text after the closing quote is dropped
        {"A = \"ab, c", 256, "ab, c||"},        // no closing quote: to the line end
        {"A = ab   , c  ", 256, "ab|c|"},       // trailing blanks go
        {"\tA:x", 256, "x||"},
        {"A x, y", 256, "x|y|"},
        {"A = abcdef, next", 4, "abc|nex|"},
        {"A = \x95\x5C\x95\x5C", 4, "\x95\x5C\x95||"},  // a double-byte character is split
        {"A = abc", 0, "||"},                           // counts as 1
    };
    for (const auto& c : cases) {
        Open(std::string(c.line) + "\r\n");
        IniFile_SetValueLimit(&reader_, c.limit);
        char d[3][257];
        memset(d, '#', sizeof d);
        EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttr(&reader_, "A", "sss", d[0], d[1], d[2]); }), 0)
            << Shown(c.line);
        EXPECT_EQ(std::string(d[0]) + "|" + d[1] + "|" + d[2], c.fields) << Shown(c.line);
        EXPECT_EQ(d[0][c.limit < 1 ? 1 : c.limit], '#') << Shown(c.line);
    }
}

TEST_F(IniFileTest, ReaderTypeLetters) {
    Open(
        "B = 0, x, \r\nN = 42, 12ab, ab, , \r\nT = 2000/03/30-21:15:07, \r\nK = one, two, "
        "three\r\n");
    unsigned char b[3] = {9, 9, 9};
    IniFile_ReadAttr(&reader_, "B", "bbb", &b[0], &b[1], &b[2]);
    EXPECT_EQ(std::string(b, b + 3), std::string("\0\1\x09", 3));  // x: not '0'; empty: kept
    int n[6] = {-1, -1, -1, -1, -1, -1};
    IniFile_ReadAttr(&reader_, "N", "iiiiII", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]);
    // No digits and an empty i store 0; an empty or absent I leaves its value.
    EXPECT_EQ(std::vector<int>(n, n + 6), (std::vector<int>{42, 12, 0, 0, -1, -1}));
    time_t t[2] = {1, 1};
    IniFile_ReadAttr(&reader_, "T", "tt", &t[0], &t[1]);
    EXPECT_EQ(t[0], LocalTime(2000, 3, 30, 21, 15, 7));
    EXPECT_EQ(t[1], 1);  // empty: unchanged
    // x takes a destination and stores nothing; - takes none and drops its field.
    int x = 77;
    char s[256] = "?", big[256] = "keep";
    IniFile_ReadAttr(&reader_, "K", "x-sS", &x, s, big);
    EXPECT_EQ(std::to_string(x) + s + big, "77threekeep");
}

// ---- Failures ----------------------------------------------------------------------

// Every report a reading or writing operation makes, by its code and text.
TEST_F(IniFileTest, FailureTable) {
    char v[256];
    PtrRange range{};
    int one = 1;
    auto readA = [&] { IniFile_ReadAttr(&reader_, "A", "s", v); };
    auto setMain = [&] { IniFile_Read_setSection(&reader_, "main"); };
    ArrX_Buf ints;
    alignas(4) unsigned char intBlock[8];
    ArrX_Buf_Init(&ints, intBlock, sizeof intBlock);
    char tinyBlock[8], *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
    StrX_Mem tiny;
    StrX_Mem_Init(&tiny, tinyBlock, sizeof tinyBlock);
    char small[12], joined[13];
    memset(joined, '#', sizeof joined);
    StrX_Mem smallPool;
    StrX_Mem_Init(&smallPool, small, sizeof small);
    IniReader r{};
    IniWriter w{};
    const std::string none = PathOf("none.ini"), missing = PathOf("missing\\w.ini");
    const struct {
        std::string file;
        std::function<void()> op;
        int code;
        std::string text;
        int limit = 256;
    } cases[] = {
        {"\r\n\r\n", readA, 595, Sjis(u8"IniFile_Err_FewAttr, 属性が少ない")},
        {"A = x", readA, 595, ""},  // a last line without a line end counts as absent
        {"A\t= x\r\n", readA, 596,  // a tab is no separator
         Sjis(u8"IniFile_Err_BadAttr, 属性名が異なる（アプリ=A, ファイル=A\t= x in ") +
             PathOf("t.ini") + Sjis(u8"）")},
        {" \r\nA = x\r\n", readA, 596, ""},  // a line of blanks is not empty
        {"[main", setMain, 361, "FileX_Err_EOF, EOF in IniFile_Read_setSection"},  // no line end
        {"[main\r\n", setMain, 593,
         Sjis(u8"IniFile_Err_BadFormat, フォーマットがおかしい in IniFile_Read_setSection (main)")},
        {"[mainx]\r\n", setMain, 591,
         Sjis(u8"IniFile_NotFoundSection, セクション名が期待したものと異なる (main)")},
        {" \r\n\r\n \t[main]x] \r\n", setMain, 0, ""},
        {"P = 1, 2\r\nP = 3\r\n",
         [&] { IniFile_ReadAttrArray(&reader_, &pool_, &array_, "P", "ii", &range); }, 594,
         Sjis(u8"IniFile_Err_FewData, P 属性のデータのが少ない")},
        {"P = 1, 2\r\n",
         [&] { IniFile_ReadAttrArray(&reader_, &pool_, &array_, "P", "ib", &range); }, 107,
         "Errors_NotSupport, Not Support in this Version"},
        {"R = 5\r\n",  // an offset outside the record
         [&] { IniFile_ReadRecordArray(&reader_, &pool_, &array_, "R", "i", &range, 8, 6); }, 102,
         ""},
        {"N = 1, 2, 3\r\n",  // two ints fit, the third does not
         [&] { IniFile_ReadAttrPooled(&reader_, &pool_, "N", "*i", &ints); }, 901, ""},
        {"A = abcdef, x, y, z\r\n",
         [&] { IniFile_ReadAttrPooled(&reader_, &tiny, "A", "ssss", &a, &b, &c, &d); }, 3180, ""},
        {"J = abc\r\nJ = def\r\nJ = ghi\r\n",
         [&] { IniFile_ReadJoined(&reader_, "J", "; ", joined, 12); }, 592,
         Sjis(u8"IniFile_Err_FewBuf, バッファ領域が少ない（J属性）"), 4},
        {"S = abc\r\nS = def\r\nS = ghi\r\n",
         [&] { IniFile_ReadStrings(&reader_, "S", &smallPool); }, 592,
         Sjis(u8"IniFile_Err_FewBuf, 文字列の格納領域が足りません"), 4},
        {"[state] \r\nOther = 1\r\n",
         [&] { IniFile_WaitValue(&reader_, "state", "Ready", "i", &one, 3, 1); }, 596, ""},
        {"", [&] { IniFile_OpenRead(&r, none.c_str(), line_, 16); }, 363,
         Sjis(u8"ファイル \"") + none + Sjis(u8"\" が見つかりません")},
        {"", [&] { IniFile_OpenWrite(&w, missing.c_str()); }, 362,
         Sjis(u8"ファイル \"") + missing + Sjis(u8"\" が書きこめません")},
    };
    for (const auto& c : cases) {
        Open(c.file);
        IniFile_SetValueLimit(&reader_, c.limit);
        unsigned char* sp = BigStack_Sys()->sp;
        EXPECT_EQ(CodeName(c.code), CodeName(CaughtCode(c.op))) << Shown(c.file);
        EXPECT_TRUE(LastTextHas(c.text)) << Shown(c.file) << ": " << Shown(LastText());
        EXPECT_EQ(BigStack_Sys()->sp, sp) << Shown(c.file);  // scratch released on the way out
    }
    // What fitted stays: the second int; a full pool keeps what fits. Room is
    // checked before each line: nothing is written past the buffer, and the
    // pool keeps two whole values.
    EXPECT_EQ(reinterpret_cast<int*>(intBlock)[1], 2);
    EXPECT_EQ(std::string(a) + "|" + b, "abcde|");
    EXPECT_EQ(c, nullptr);
    EXPECT_STREQ(joined, "abc; def; ");
    EXPECT_EQ(joined[12], '#');
    EXPECT_STREQ(StrX_Mem_Next(&smallPool, StrX_Mem_Next(&smallPool, nullptr)), "def");
}

// ---- Sections and counts -------------------------------------------------------------

TEST_F(IniFileTest, MissingSectionWithAndWithoutWrap) {
    const std::string file = "[a] \r\nX = 1\r\n \r\n[b] \r\nY = 2\r\n \r\n";
    auto findAfterB = [&](const char* name, bool wrap) {
        Open(file);
        EXPECT_EQ(IniFile_FindSection(&reader_, "b", false), 22);  // just after the head
        return CaughtCode([&] { IniFile_FindSection(&reader_, name, wrap); });
    };
    EXPECT_EQ(findAfterB("a", false), 591);  // a lies behind
    EXPECT_TRUE(LastTextHas(Sjis(u8"セクション a が見つかりません")));
    EXPECT_EQ(findAfterB("a", true), 0);
    EXPECT_EQ(findAfterB("c", true), 591);
    Open(file);
    IniFile_FindSection(&reader_, "b", false);
    int y = 0;
    EXPECT_EQ(IniFile_ReadAttr(&reader_, "Y", "i", &y), 22);  // where the line was sought
    EXPECT_EQ(y, 2);
    // After a wrong name setSection sets the reader back: the right one reads on.
    Open(file);
    EXPECT_EQ(CaughtCode([&] { IniFile_Read_setSection(&reader_, "b"); }), 591);
    EXPECT_EQ(CaughtCode([&] { IniFile_Read_setSection(&reader_, "a"); }), 0);
}

TEST_F(IniFileTest, CountAttrAndCountLinesRestoreThePosition) {
    const struct {
        const char* file;
        int count;
    } cases[] = {
        {"A = x\r\nA = y\r\nAb = z\r\n", 2},
        {"A = x\r\nA = y\r\nA = z", 3},  // a last line without a line end counts here
        {"\tA=x\r\n A:y\r\nA\t= z\r\n", 2},
    };
    for (const auto& c : cases) {
        Open(c.file);
        EXPECT_EQ(IniFile_CountAttr(&reader_, "A"), c.count) << Shown(c.file);
        EXPECT_EQ(IniFile_CountAttr(&reader_, "A"), c.count) << Shown(c.file);  // nothing consumed
        EXPECT_EQ(IniFile_CountRecords(&reader_, "A"), c.count) << Shown(c.file);
    }
    // Lines longer than a 16-byte buffer (15 bytes a piece): CountAttr counts
    // pieces that read as lines of the name, CountRecords whole lines.
    const struct {
        const char* file;
        int attrs, records;
    } longer[] = {
        {"A = 0123456789\r\nA = y\r\n", 2, 2},           // 14 bytes and the LF: one piece
        {"A = 0123456789a\r\nA = y\r\n", 1, 2},          // 15: the rest, its LF, ends CountAttr
        {"A = 0123456789ab\r\nA = y\r\n", 1, 2},         // 16: the rest "b" ends CountAttr
        {"A = 0123456789aA = rest\r\nA = y\r\n", 3, 2},  // a rest that reads as a line
        {"A = 0123456789abcdefghijklmnopq\r\nA = y\r\nB\r\n", 1, 2},  // three pieces
        {"A = 0123456789abcdef", 1, 1},                               // the last line, no line end
    };
    for (const auto& c : longer) {
        Open(c.file, 16);
        EXPECT_EQ(IniFile_CountAttr(&reader_, "A"), c.attrs) << Shown(c.file);
        EXPECT_EQ(IniFile_CountRecords(&reader_, "A"), c.records) << Shown(c.file);
        EXPECT_EQ(IniFile_CountRecords(&reader_, "A"), c.records)
            << Shown(c.file);  // nothing consumed
        char value[16];
        IniFile_ReadAttr(&reader_, "A", "s", value);  // the position was restored
        EXPECT_EQ(0, strncmp(value, "0123456789", 10)) << Shown(c.file);
    }
    Open("[s] \r\na = 1\r\n\r\nb = 2\r\n \r\n  [t] \r\nc = 3\r\n");
    IniFile_Read_setSection(&reader_, "s");
    EXPECT_EQ(IniFile_CountLines(&reader_), 2);
    EXPECT_EQ(IniFile_CountLines(&reader_), 2);
}

// ---- Further reads ---------------------------------------------------------------------

TEST_F(IniFileTest, FurtherReadsEachOnce) {
    Open("  Some name  = a, 5\r\nA = 3\r\n[next] \r\nK = 1, two\r\n");
    char name[256], s[256];
    int i = -1;
    EXPECT_EQ(IniFile_ReadAnyAttr(&reader_, name, "si", s, &i), 0);
    EXPECT_EQ(std::string(name) + "|" + s + "|" + std::to_string(i), "Some name|a|5");
    EXPECT_FALSE(IniFile_ReadOptAttr(&reader_, "B", "s", s, "fallback"));  // consumes nothing
    EXPECT_STREQ(s, "fallback");
    EXPECT_TRUE(IniFile_ReadOptAttr(&reader_, "A", "i", &i, 99));
    EXPECT_EQ(i, 3);
    EXPECT_EQ(IniFile_ReadAnyAttr(&reader_, name, "s", s), -1);  // the head is left unread
    long k = IniFile_FindSection(&reader_, "next", false);
    IniFile_Rewind(&reader_);
    EXPECT_EQ(IniFile_ReadAttrAt(&reader_, k, "is", &i, s), k);
    EXPECT_EQ(std::to_string(i) + "|" + s, "1|two");
}

TEST_F(IniFileTest, PooledReadsEachOnce) {
    Open(
        "A = one, , , 4\r\nB = head, x, , z\r\nL = a, \"b, c\"\r\n"
        "P = 1, one, 2000/03/30-21:15:07\r\nP = 2, , \r\nR = 5, five, \r\n");
    char dummy, *s1 = nullptr, *s2 = &dummy, *s3 = nullptr;
    int i = 0;
    IniFile_ReadAttrPooled(&reader_, &pool_, "A", "ssSi", &s1, &s2, &s3, &i);
    EXPECT_EQ(s2, nullptr);  // s: an empty field gives no string
    ASSERT_NE(s3, nullptr);  // S: an empty pooled string
    EXPECT_EQ(std::string(s1) + "|" + s3 + "|" + std::to_string(i), "one||4");
    IniFile_ReadAttrPooled(&reader_, &pool_, "B", "s*s", &s1, &array_);  // '*': the rest
    char** items = static_cast<char**>(array_.first);
    ASSERT_EQ(static_cast<char**>(array_.last) - items, 3);
    EXPECT_EQ(std::string(s1) + "|" + items[0] + "|" + items[2], "head|x|z");
    EXPECT_EQ(items[1], nullptr);
    PtrRange range{};
    IniFile_ReadStringList(&reader_, &pool_, "L", &range);
    EXPECT_EQ(std::string(static_cast<char*>(range.first), static_cast<char*>(range.last)),
              std::string("a\0b, c\0", 7));
    EXPECT_FALSE(IniFile_ReadOptAttrPooled(&reader_, &pool_, "C", "s", &s1, "def"));
    EXPECT_TRUE(s1 > poolBlock_ && s1 < poolBlock_ + sizeof poolBlock_);  // a pooled copy
    EXPECT_STREQ(s1, "def");
    // Array slots and records start zeroed: empty fields leave zeros.
    EXPECT_EQ(IniFile_ReadAttrArray(&reader_, &pool_, &array_, "P", "ist", &range), 2);
    ASSERT_EQ(PtrRange_Count(&range, sizeof(IniFile_Value)), 6u);
    IniFile_Value* v = static_cast<IniFile_Value*>(range.first);
    EXPECT_EQ(std::to_string(v[0].i) + v[1].s + std::to_string(v[3].i), "1one2");
    EXPECT_EQ(v[2].t, LocalTime(2000, 3, 30, 21, 15, 7));
    EXPECT_TRUE(v[4].s == nullptr && v[5].t == 0);
    struct Rec {
        char tag;
        int n;
        char* s;
        time_t t;
    };
    EXPECT_EQ(IniFile_ReadRecordArray(
                  &reader_, &pool_, &array_, "R", "ist", &range, static_cast<int>(sizeof(Rec)),
                  static_cast<int>(offsetof(Rec, n)), static_cast<int>(offsetof(Rec, s)),
                  static_cast<int>(offsetof(Rec, t))),
              1);
    Rec* r = static_cast<Rec*>(range.first);
    EXPECT_EQ(std::to_string(r->tag) + "|" + std::to_string(r->n) + "|" + r->s, "0|5|five");
    EXPECT_EQ(r->t, 0);
}

// ---- Waiting ------------------------------------------------------------------------------

TEST_F(IniFileTest, WaitValueSeesTheValueOrGivesUpAfterItsBound) {
    Open("[other] \r\nQ = 0\r\n \r\n[state] \r\nReady = 1\r\n \r\n");
    int one = 1, zero = 0, v256 = 0x100;
    unsigned char* sp = BigStack_Sys()->sp;
    EXPECT_TRUE(IniFile_WaitValue(&reader_, "state", "Ready", "i", &one, 3, 1));
    EXPECT_TRUE(IniFile_WaitValue(&reader_, "state", "Ready", "s", "1", 3, 1));
    EXPECT_FALSE(IniFile_WaitValue(&reader_, "state", "Ready", "b", &v256, 3, 1));  // low byte
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(IniFile_WaitValue(&reader_, "state", "Ready", "i", &zero, 5, 20));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_GE(ms, 80);  // four pauses between five reads
    EXPECT_EQ(BigStack_Sys()->sp, sp);
}

// ---- Memory ---------------------------------------------------------------------------------

// The letter t is left out: its time text goes through the run-time's local
// time conversion, which is not this module's.
TEST_F(IniFileTest, ReadingAndWritingAttributesTakeNoHeap) {
    IniWriter w{};
    IniFile_OpenWrite(&w, PathOf("w.ini").c_str());
    IniFile_WriteSection(&w, "main");
    fflush(w.fp);  // the stream and the file below it take their buffers here
    long writes;
    {
        AllocCounter count;
        for (int i = 0; i < 50; i++) IniFile_WriteAttr(&w, "A", "sibx", "x, y", i, 1, 15);
        writes = count.Count();
    }
    IniFile_CloseWrite(&w);
    EXPECT_EQ(writes, 0);
    IniFile_OpenRead(&reader_, PathOf("w.ini").c_str(), line_, sizeof line_);
    IniFile_Read_setSection(&reader_, "main");
    AllocCounter count;
    char s[256];
    int i = 0, x = 0;
    unsigned char b = 0;
    int n = IniFile_CountAttr(&reader_, "A");
    for (int k = 0; k < n; k++) IniFile_ReadAttr(&reader_, "A", "sibx", s, &i, &b, &x);
    EXPECT_EQ(count.Count(), 0);
    EXPECT_EQ(std::to_string(n) + "|" + std::to_string(i) + "|" + s, "50|49|x, y");
}

// ---- A list in one pass ----------------------------------------------------------------------

// The list after [links] read by IniFile_CountAttr and that many
// IniFile_ReadAttr calls, and read in one pass: every line's three values, and
// the code of a report that ended the reading (0 for none).
TEST_F(IniFileTest, OnePassReadsWhatCountAndReadRead) {
    const std::string head = "[main] \r\nx = 1\r\n \r\n[links] \r\n";
    const std::string lf8 = "A = " + std::string(6, 'w');  // 10 bytes, fills a line buffer of 11
    const struct {
        const char* name;
        std::string list;
        int lineSize;
    } cases[] = {
        {"CR LF", "A = a, b, c\r\nA = \"d, e\", , f\r\n \r\n", 1024},
        {"bare LF", "A = a, b, c\nA = d\n \n", 1024},
        {"a last line without an end", "A = a\r\nA = b", 1024},
        {"another name ends it", "A = a\r\nAb = b\r\nA = c\r\n", 1024},
        {"blanks, tabs, ':' and '='", " \tA: a\r\nA=b\r\n\tA c\r\n", 1024},
        {"a line that fills the buffer", lf8 + "\r\n" + lf8 + "x\r\nA = z\r\n", 11},
        {"a line one byte longer", lf8 + "xy\r\nA = z\r\n", 11},
        {"a line split into A-lines", "A = x" + std::string(6, ' ') + "A = y\r\n", 11},
        {"a NUL inside a value", std::string("A = a\0b, c\r\nA = d\r\n", 20), 1024},
        // Values cut at the limit of 24 (23 bytes), byte by byte.
        {"values longer than the limit",
         "A = " + std::string(30, 'a') + ", \"" + std::string(20, 'b') + "\"\"c\"\"" +
             std::string(10, 'd') + "\", " + std::string(22, 'e') + "\x95\x5C\r\n",
         1024},
        {"blanks, quotes and missing fields", "A =   x  ,\"\" , \" q \" z, \r\nA = only\r\nA\r\n",
         1024},
    };
    auto read = [&](const std::string& list, int lineSize, bool onePass) {
        char t[64], k[64], p[64];
        std::string log;
        auto next = [&](const std::function<void()>& read) {
            strcpy(t, "-"), strcpy(k, "-"), strcpy(p, "-");
            read();
            log += std::string(t) + "|" + k + "|" + p + "\n";
        };
        Open(head + list, lineSize);
        IniFile_SetValueLimit(&reader_, 24);
        const int code = CaughtCode([&] {
            IniFile_FindSection(&reader_, "links", false);
            TextRead_Line line;
            if (onePass) {
                while (IniFile_NextAttrLine(&reader_, "A", &line))
                    next([&] { IniFile_ReadAttrLine(&reader_, &line, "A", "sss", t, k, p); });
            } else {
                for (int i = IniFile_CountAttr(&reader_, "A"); i > 0; i--)
                    next([&] { IniFile_ReadAttr(&reader_, "A", "sss", t, k, p); });
            }
        });
        return log + "report " + std::to_string(code);
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.list, c.lineSize, false), read(c.list, c.lineSize, true)) << c.name;
    }
}

// A search's loop over the list: the lines handed out that hold the byte
// 'k', with and without passing over the lines that cannot, must be the
// same, and so must a report that ends it; passing over reads far fewer.
TEST_F(IniFileTest, LinesWithoutTheKeyArePassedOverAsTheOnePassReadWouldPass) {
    const std::string head = "[main] \r\nx = 1\r\n \r\n[links] \r\n";
    const std::string lf8 = "A = " + std::string(6, 'w');  // 10 bytes, fills a line buffer of 11
    std::string many;
    for (int i = 0; i < 5000; i++)
        many += i % 997 == 5 ? "A = k" + std::to_string(i) + "\r\n" : "A = t, w, p\r\n";
    const struct {
        const char* name;
        std::string list;
        int lineSize;
    } cases[] = {
        {"CR LF", "A = a, b\r\nA = k, x\r\nA = d\r\n \r\nA = k\r\n", 1024},
        {"bare LF and bare CR", "A = a\nA = k\rx\nA = b\rk\nA = c\n \n", 1024},
        {"a last line without an end", "A = a\r\nA = b", 1024},
        {"a last line with the key", "A = a\r\nA = bk", 1024},
        {"another name ends it", "A = a\r\nAb = b\r\nA = k\r\n", 1024},
        {"a key in another name's line", "A = a\r\nkA = b\r\nA = k\r\n", 1024},
        {"blanks, tabs, ':' and '='", " \tA: a\r\nA=b\r\n\tA k\r\n", 1024},
        {"a tab is no separator", "A = a\r\nA\tb\r\nA = k\r\n", 1024},
        {"a line that fills the buffer", lf8 + "\r\n" + lf8 + "\r\nA = k\r\n", 11},
        {"a line one byte longer", lf8 + "x\r\n" + lf8 + "xk\r\nA = k\r\n", 11},
        {"CR LF at the buffer's edge", lf8 + "\r\nA = " + std::string(7, 'w') + "\r\nA = k\r\n",
         11},
        {"a line split into A-lines", "A = x" + std::string(6, ' ') + "A = k\r\nA = k\r\n", 11},
        {"blanks longer than a piece", std::string(10, ' ') + "A = x\r\nA = k\r\n", 11},
        {"5000 lines over several blocks", many + " \r\n", 1024},
    };
    const IniFile_Finder findK = [](const void*, const char* from, const char* end) {
        return static_cast<const char*>(memchr(from, 'k', static_cast<size_t>(end - from)));
    };
    auto search = [&](const std::string& list, int lineSize, bool passOver, int* handed) {
        std::string log;
        *handed = 0;
        Open(head + list, lineSize);
        const int code = CaughtCode([&] {
            IniFile_FindSection(&reader_, "links", false);
            TextRead_Line line;
            for (;;) {
                if (passOver) IniFile_SkipAttrLinesWithout(&reader_, "A", findK, nullptr);
                if (!IniFile_NextAttrLine(&reader_, "A", &line)) break;
                ++*handed;
                const std::string text(line.text, static_cast<size_t>(line.length));
                if (text.find('k') != std::string::npos) log += text + "\n";
                IniFile_SkipLineRest(&reader_, &line);
            }
        });
        return log + "report " + std::to_string(code) + " at " +
               std::to_string(TextRead_Tell(reader_.in));
    };
    for (const auto& c : cases) {
        int all = 0, passed = 0;
        EXPECT_EQ(search(c.list, c.lineSize, false, &all),
                  search(c.list, c.lineSize, true, &passed))
            << c.name;
        EXPECT_LE(passed, all) << c.name;
    }
    int all = 0, passed = 0;
    search(many, 1024, false, &all);
    search(many, 1024, true, &passed);
    EXPECT_EQ(5000, all);
    EXPECT_LT(passed, 30) << "lines read one by one";
}
