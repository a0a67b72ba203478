#include "components/inifile.h"

#include <cstddef>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "components/arrx.h"
#include "components/bigstack.h"
#include "components/strx.h"
#include "support/testsupport.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
    time_t t = 0;
    StrX_MakeTime(&t, y, mo, d, h, mi, s);
    return t;
}

}  // namespace

class IniFileTest : public LibraryTest {
   protected:
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

    // Reads the first field of the attribute A of a one-line file with "s".
    std::string ReadBackS(const std::string& bytes) {
        Open(bytes);
        char value[256] = "?";
        IniFile_ReadAttr(&reader_, "A", "s", value);
        return value;
    }

    TempDir dir_;
    IniReader reader_{};
    char line_[1024];
};

// ---- Writer -----------------------------------------------------------------------

TEST_F(IniFileTest, WriterLaysOutSectionsAttributesAndSeparators) {
    time_t t = LocalTime(2000, 3, 30, 21, 15, 7);
    std::string bytes = Written([&](IniWriter* w) {
        IniFile_WriteSection(w, "main");
        IniFile_WriteAttr(w, "Application", "s", "Tessaly!");
        IniFile_WriteAttr(w, "Version", "i", 100);
        IniFile_WriteAttr(w, "Update", "t", &t);
        IniFile_WriteAttr(w, "Empty", "");
        IniFile_WriteSection(w, "links");
        IniFile_WriteAttr(w, "A", "sss", "Notes, misc", "", "notes.htm");
    });
    EXPECT_EQ(bytes,
              "[main] \r\n"
              "Application = Tessaly!\r\n"
              "Version = 100\r\n"
              "Update = 2000/03/30-21:15:07\r\n"
              "Empty = \r\n"
              " \r\n"
              "[links] \r\n"
              "A = \"Notes, misc\", , notes.htm\r\n"
              " \r\n");
}

TEST_F(IniFileTest, WriterTypeLetters) {
    std::string bytes = Written([&](IniWriter* w) {
        // b: only the low byte counts; I, S and - take no argument.
        IniFile_WriteAttr(w, "B", "bbbb", 0, 1, 256, 0x101);
        IniFile_WriteAttr(w, "N", "iIi", -42, 7);
        IniFile_WriteAttr(w, "X", "x-x", 255, 0x1234abcd);
        IniFile_WriteAttr(w, "S", "sS", static_cast<const char*>(nullptr));
    });
    EXPECT_EQ(bytes,
              "B = 0, 1, 0, 1\r\n"
              "N = -42, 7\r\n"
              "X = 0xFF, 0x1234ABCD\r\n"
              "S = \r\n"
              " \r\n");
}

TEST_F(IniFileTest, WriterQuotesOnlyWhatNeedsIt) {
    struct Case {
        const char* value;
        const char* field;
    };
    const Case kCases[] = {
        {"", ""},
        {"plain", "plain"},
        {"in side", "in side"},
        {"a,b", "\"a,b\""},
        {"\"", "\"\"\"\""},  // one double quote is written as four
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"\ttab\t", "\ttab\t"},  // tabs are not blanks
        {"\x95\x5C\x8C\x5C", "\x95\x5C\x8C\x5C"},
    };
    for (const Case& c : kCases) {
        std::string bytes = Written([&](IniWriter* w) { IniFile_WriteAttr(w, "A", "s", c.value); });
        EXPECT_EQ(bytes, std::string("A = ") + c.field + "\r\n \r\n") << Utf8(c.value);
        EXPECT_EQ(ReadBackS(bytes), c.value) << Utf8(c.value);
    }
}

TEST_F(IniFileTest, WriterCutsLongStringToQuotedSize) {
    std::string longValue(5000, 'q');
    std::string bytes =
        Written([&](IniWriter* w) { IniFile_WriteAttr(w, "A", "s", longValue.c_str()); });
    EXPECT_EQ(bytes, "A = " + std::string(4095, 'q') + "\r\n \r\n");
}

TEST_F(IniFileTest, WriteLabelAndSplitAttr) {
    std::string bytes = Written([&](IniWriter* w) {
        IniFile_WriteLabel(w, "Label");
        // The last piece, all blanks, is not written; an empty middle piece is.
        IniFile_WriteSplitAttr(w, "K", ';', "a;b c;; d;  ");
        // A 0x5C trail byte is not the separator backslash.
        IniFile_WriteSplitAttr(w, "P", '\\', "x\x95\x5Cy\\z");
        IniFile_WriteSplitAttr(w, "L", ';', (std::string(300, 'w') + ";v").c_str());
        IniFile_WriteSplitAttr(w, "E", ';', "");
    });
    EXPECT_EQ(bytes,
              "Label:\r\n"
              "K = a\r\n"
              "K = b c\r\n"
              "K = \r\n"
              "K = \" d\"\r\n"
              "P = x\x95\x5Cy\r\n"
              "P = z\r\n"
              "L = " +
                  std::string(255, 'w') +
                  "\r\n"
                  "L = v\r\n"
                  " \r\n");
}

TEST_F(IniFileTest, OpenWriteFailureReports362) {
    IniWriter w{};
    std::string path = PathOf("missing\\w.ini");
    EXPECT_EQ(CaughtCode([&] { IniFile_OpenWrite(&w, path.c_str()); }), 362);
    EXPECT_TRUE(Contains(LastText(), "ファイル \"" + path + "\" が書きこめません"))
        << Utf8(LastText());

    // Without a hook the file layer's report returns, and the writer reports
    // in its own words; the closed writer then writes nothing.
    Errors_Callback = nullptr;
    IniFile_OpenWrite(&w, path.c_str());
    EXPECT_EQ(Errors_GetMsg()->code, 362);
    EXPECT_TRUE(Contains(LastText(), "書きこみモードで open できません。" + path))
        << Utf8(LastText());
    EXPECT_EQ(w.fp, nullptr);
    IniFile_WriteSection(&w, "main");
    IniFile_WriteAttr(&w, "A", "s", "x");
    IniFile_CloseWrite(&w);
}

// ---- Reader: line syntax -----------------------------------------------------------

TEST_F(IniFileTest, FieldSplittingTable) {
    struct Case {
        const char* line;
        const char* a;
        const char* b;
        const char* c;
    };
    const Case kCases[] = {
        {"A = ", "", "", ""},
        {"A = x, y", "x", "y", ""},         // a missing third value leaves it empty
        {"A = w, x, y, z", "w", "x", "y"},  // a fourth value is ignored
        {"A = x,", "x", "", ""},
        {"A = , , c", "", "", "c"},
        {"A = \"a,b\", c", "a,b", "c", ""},
        {"A = \"a\"\"b\", c", "a\"b", "c", ""},
        {"A = \"\"\"\"", "\"", "", ""},
        {"A = \"ab\" junk , c", "ab", "c", ""},  // text after the closing quote is dropped
        {"A = \"ab, c", "ab, c", "", ""},        // no closing quote: to the line end
        {"A = ab   , c  ", "ab", "c", ""},       // trailing blanks go
        {"A =    lead", "lead", "", ""},
        {"A = \tt\t, c", "\tt\t", "c", ""},  // tabs are text
        {"A=x,y", "x", "y", ""},
        {"A: x", "x", "", ""},
        {"A:x", "x", "", ""},
        {"A x, y", "x", "y", ""},
        {"  A = x", "x", "", ""},
        {"\tA = x", "x", "", ""},
        {"A = \x95\x5C, \x8C\x5C", "\x95\x5C", "\x8C\x5C", ""},
    };
    for (const Case& c : kCases) {
        Open(std::string(c.line) + "\r\n");
        char a[256] = "?", b[256] = "?", cc[256] = "?";
        EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttr(&reader_, "A", "sss", a, b, cc); }), 0)
            << c.line;
        EXPECT_STREQ(a, c.a) << c.line;
        EXPECT_STREQ(b, c.b) << c.line;
        EXPECT_STREQ(cc, c.c) << c.line;
    }
}

TEST_F(IniFileTest, RoundTripOfAwkwardValues) {
    const char* kValues[] = {
        "comma, inside", "\"", "\"\"", "a \"quoted\" word", " leading",    "trailing ",
        "  both  ",      ",",  "",     "\x95\x5C\x8E\xA6",  "x,\"y\", z ",
    };
    std::string bytes = Written([&](IniWriter* w) {
        IniFile_WriteSection(w, "v");
        for (const char* v : kValues) IniFile_WriteAttr(w, "V", "ss", v, v);
    });
    Open(bytes);
    IniFile_Read_setSection(&reader_, "v");
    for (const char* v : kValues) {
        char a[256], b[256];
        IniFile_ReadAttr(&reader_, "V", "ss", a, b);
        EXPECT_STREQ(a, v) << Utf8(v);
        EXPECT_STREQ(b, v) << Utf8(v);
    }
}

TEST_F(IniFileTest, ReaderTypeLetters) {
    Open(
        "B = 0, 1, x, \r\n"
        "N = 42, -5, +7, 12ab, ab, , \r\n"
        "T = 2000/03/30-21:15:07, \r\n"
        "K = one, two, three\r\n");
    unsigned char b[4] = {9, 9, 9, 9};
    IniFile_ReadAttr(&reader_, "B", "bbbb", &b[0], &b[1], &b[2], &b[3]);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 1);
    EXPECT_EQ(b[2], 1);  // any first byte but '0'
    EXPECT_EQ(b[3], 9);  // empty: unchanged

    int n[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    IniFile_ReadAttr(&reader_, "N", "iiiiiiII", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6],
                     &n[7]);
    EXPECT_EQ(n[0], 42);
    EXPECT_EQ(n[1], -5);
    EXPECT_EQ(n[2], 7);
    EXPECT_EQ(n[3], 12);
    EXPECT_EQ(n[4], 0);   // no digits
    EXPECT_EQ(n[5], 0);   // i: empty stores 0
    EXPECT_EQ(n[6], -1);  // I: empty leaves it
    EXPECT_EQ(n[7], -1);  // I: absent leaves it

    time_t t[2] = {1, 1};
    IniFile_ReadAttr(&reader_, "T", "tt", &t[0], &t[1]);
    EXPECT_EQ(t[0], LocalTime(2000, 3, 30, 21, 15, 7));
    EXPECT_EQ(t[1], 1);  // empty: unchanged

    // x takes a destination and stores nothing; - takes none and drops its field.
    int x = 77;
    char s[256] = "?", big[256] = "keep";
    IniFile_ReadAttr(&reader_, "K", "x-sS", &x, s, big);
    EXPECT_EQ(x, 77);
    EXPECT_STREQ(s, "three");
    EXPECT_STREQ(big, "keep");  // S: absent leaves it
}

TEST_F(IniFileTest, ValueLimitCutsStringsWithGuardByte) {
    struct Case {
        int limit;
        const char* value;
        const char* kept;
    };
    const Case kCases[] = {
        {4, "abcdef", "abc"},
        {4, "abc", "abc"},
        {4, "ab", "ab"},
        {4, "\x95\x5C\x95\x5C", "\x95\x5C\x95"},  // a double-byte character is split
        {1, "abc", ""},
        {0, "abc", ""},  // counts as 1
    };
    for (const Case& c : kCases) {
        Open(std::string("A = ") + c.value + ", next\r\n");
        IniFile_SetValueLimit(&reader_, c.limit);
        char buf[5];
        memset(buf, '#', sizeof buf);
        IniFile_ReadAttr(&reader_, "A", "s", buf);
        EXPECT_STREQ(buf, c.kept) << c.limit << " " << c.value;
        EXPECT_EQ(buf[4], '#') << c.limit << " " << c.value;
    }
}

TEST_F(IniFileTest, ReadAttrReportsFewAttrAndBadAttr) {
    struct Case {
        const char* file;
        int code;
    };
    const Case kCases[] = {
        {"", 595},           {"\r\n\r\n", 595},  // empty lines are passed over
        {"A = x", 595},                          // a last line without a line end counts as absent
        {"A\t= x\r\n", 596},                     // a tab is no separator
        {"A\r\n", 596},                          // nothing after the name
        {"Ab = x\r\n", 596},                     // another name
        {"B = x\r\n", 596},  {" \r\nA = x\r\n", 596},  // a line of blanks is not empty
        {"A = x\r\n", 0},    {"\r\n\r\nA = x\r\n", 0},
    };
    for (const Case& c : kCases) {
        Open(c.file);
        char v[256];
        EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttr(&reader_, "A", "s", v); }), c.code) << c.file;
    }
}

TEST_F(IniFileTest, BadAttrMessageNamesBothAndThePath) {
    Open("A\t= x\r\n");
    char v[256];
    EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttr(&reader_, "A", "s", v); }), 596);
    EXPECT_TRUE(
        Contains(LastText(), "IniFile_Err_BadAttr, 属性名が異なる（アプリ=A, ファイル=A\t= x in " +
                                 PathOf("t.ini") + "）"))
        << Utf8(LastText());

    Open("");
    EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttr(&reader_, "A", "s", v); }), 595);
    EXPECT_TRUE(Contains(LastText(), "IniFile_Err_FewAttr, 属性が少ない")) << Utf8(LastText());
}

TEST_F(IniFileTest, ReadAttrReturnsWhereTheLineWasSought) {
    Open("A = 1\r\n\r\nB = 2\n");
    int v = 0;
    EXPECT_EQ(IniFile_ReadAttr(&reader_, "A", "i", &v), 0);
    EXPECT_EQ(IniFile_ReadAttr(&reader_, "B", "i", &v), 7);
    EXPECT_EQ(v, 2);
}

TEST_F(IniFileTest, LongLineIsReadAsTwoLines) {
    Open("A = abcdefghijklmnop\r\nB = 1\r\n", 16);
    char v[256];
    EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttr(&reader_, "A", "s", v); }), 0);
    EXPECT_STREQ(v, "abcdefghijk");
    // The rest of the line comes next, as a line of its own.
    EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttr(&reader_, "B", "i", v); }), 596);
}

TEST_F(IniFileTest, LfAndCrLfFilesReadAlike) {
    for (const char* eol : {"\r\n", "\n"}) {
        std::string e = eol;
        Open("[main] " + e + "A = x" + e + " " + e + "[two] " + e + "B = 5" + e + " " + e);
        char a[256];
        int b = 0;
        IniFile_Read_setSection(&reader_, "main");
        IniFile_ReadAttr(&reader_, "A", "s", a);
        IniFile_Read_setSection(&reader_, "two");
        IniFile_ReadAttr(&reader_, "B", "i", &b);
        EXPECT_STREQ(a, "x");
        EXPECT_EQ(b, 5);
    }
}

// ---- Sections ------------------------------------------------------------------------

TEST_F(IniFileTest, ReadSetSectionReports) {
    struct Case {
        const char* file;
        int code;
        const char* message;
    };
    const Case kCases[] = {
        {"", 361, "FileX_Err_EOF, EOF in IniFile_Read_setSection"},
        {" \r\n\r\n", 361, "FileX_Err_EOF, EOF in IniFile_Read_setSection"},
        {"[main", 361, "FileX_Err_EOF, EOF in IniFile_Read_setSection"},  // no line end
        {"A = 1\r\n", 593,
         "IniFile_Err_BadFormat, フォーマットがおかしい in IniFile_Read_setSection (main)"},
        {"[main\r\n", 593,
         "IniFile_Err_BadFormat, フォーマットがおかしい in IniFile_Read_setSection (main)"},
        {"[other] \r\n", 591, "IniFile_NotFoundSection, セクション名が期待したものと異なる (main)"},
        {"[mainx]\r\n", 591, "IniFile_NotFoundSection, セクション名が期待したものと異なる (main)"},
        {"[main]x]\r\n", 0, ""},
        {" \r\n\r\n \t[main] \r\n", 0, ""},  // blank lines and leading whitespace pass
    };
    for (const Case& c : kCases) {
        Open(c.file);
        EXPECT_EQ(CaughtCode([&] { IniFile_Read_setSection(&reader_, "main"); }), c.code) << c.file;
        if (c.code) {
            EXPECT_TRUE(Contains(LastText(), c.message)) << c.file << " " << Utf8(LastText());
        }
    }
}

TEST_F(IniFileTest, ReadSetSectionWithAnotherNameSetsTheReaderBack) {
    Open("[a] \r\nX = 1\r\n \r\n[b] \r\nY = 2\r\n");
    int v = 0;
    IniFile_Read_setSection(&reader_, "a");
    IniFile_ReadAttr(&reader_, "X", "i", &v);
    EXPECT_EQ(CaughtCode([&] { IniFile_Read_setSection(&reader_, "c"); }), 591);
    // Back before the separator line: the right name now reads on.
    EXPECT_EQ(CaughtCode([&] {
                  IniFile_Read_setSection(&reader_, "b");
                  IniFile_ReadAttr(&reader_, "Y", "i", &v);
              }),
              0);
    EXPECT_EQ(v, 2);
}

TEST_F(IniFileTest, FindSectionReturnsPositionAfterTheHead) {
    Open("[a] \r\nX = 1\r\n \r\n[b] \r\nY = 2\r\n");
    long pos = -1;
    EXPECT_EQ(CaughtCode([&] { pos = IniFile_FindSection(&reader_, "b", false); }), 0);
    EXPECT_EQ(pos, 22);
    int y = 0;
    IniFile_ReadAttr(&reader_, "Y", "i", &y);
    EXPECT_EQ(y, 2);
}

TEST_F(IniFileTest, FindSectionWithAndWithoutWrap) {
    const std::string file = "[a] \r\nX = 1\r\n \r\n[b] \r\nY = 2\r\n \r\n";
    struct Case {
        const char* name;
        bool wrap;
        int code;
    };
    // The reader starts after the head of b, so a lies behind it.
    const Case kCases[] = {
        {"a", false, 591}, {"a", true, 0},    {"b", false, 591},
        {"b", true, 0},    {"c", false, 591}, {"c", true, 591},
    };
    for (const Case& c : kCases) {
        Open(file);
        IniFile_FindSection(&reader_, "b", false);
        EXPECT_EQ(CaughtCode([&] { IniFile_FindSection(&reader_, c.name, c.wrap); }), c.code)
            << c.name << " wrap=" << c.wrap;
        if (c.code) {
            EXPECT_TRUE(Contains(LastText(), std::string("IniFile_NotFoundSection, セクション ") +
                                                 c.name + " が見つかりません"))
                << Utf8(LastText());
        }
    }
    // Leading whitespace is not allowed before the '['.
    Open(" [a] \r\n");
    EXPECT_EQ(CaughtCode([&] { IniFile_FindSection(&reader_, "a", true); }), 591);
}

TEST_F(IniFileTest, CountAttrCountsLeadingRunAndRestoresPosition) {
    struct Case {
        const char* file;
        int count;
    };
    const Case kCases[] = {
        {"A = x\r\nA = y\r\nAb = z\r\n", 2},
        {"A = x\r\nA = y\r\nA = z", 3},  // a last line without a line end counts here
        {" \r\nA = x\r\n", 0},           // the separator line ends the count
        {"\r\nA = x\r\n", 0},
        {"A\t= x\r\n", 0},
        {"\tA=x\r\n A:y\r\nA z\r\n", 3},
        {"", 0},
    };
    for (const Case& c : kCases) {
        Open(c.file);
        EXPECT_EQ(IniFile_CountAttr(&reader_, "A"), c.count) << c.file;
        EXPECT_EQ(IniFile_CountAttr(&reader_, "A"), c.count) << c.file;  // nothing consumed
    }
}

TEST_F(IniFileTest, CountLinesStopsAtTheNextHead) {
    Open("[s] \r\na = 1\r\n\r\nb = 2\r\n \r\n  [t] \r\nc = 3\r\n");
    IniFile_Read_setSection(&reader_, "s");
    EXPECT_EQ(IniFile_CountLines(&reader_), 2);
    int a = 0;
    IniFile_ReadAttr(&reader_, "a", "i", &a);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(IniFile_CountLines(&reader_), 1);
    IniFile_ReadAttr(&reader_, "b", "i", &a);
    EXPECT_EQ(IniFile_CountLines(&reader_), 0);
    IniFile_Read_setSection(&reader_, "t");
    EXPECT_EQ(IniFile_CountLines(&reader_), 1);
}

TEST_F(IniFileTest, RewindGoesBackToTheStart) {
    Open("[s] \r\nA = 1\r\n");
    IniFile_Read_setSection(&reader_, "s");
    IniFile_Rewind(&reader_);
    EXPECT_EQ(CaughtCode([&] { IniFile_Read_setSection(&reader_, "s"); }), 0);
}

TEST_F(IniFileTest, OpenReadFailureReports363) {
    std::string path = PathOf("none.ini");
    EXPECT_EQ(CaughtCode([&] { IniFile_OpenRead(&reader_, path.c_str(), line_, sizeof line_); }),
              363);
    EXPECT_TRUE(Contains(LastText(), "ファイル \"" + path + "\" が見つかりません"))
        << Utf8(LastText());

    Errors_Callback = nullptr;
    IniFile_OpenRead(&reader_, path.c_str(), line_, sizeof line_);
    EXPECT_EQ(Errors_GetMsg()->code, 363);
    EXPECT_TRUE(Contains(LastText(), "読みこみモードで open できません。" + path))
        << Utf8(LastText());
    EXPECT_EQ(reader_.fp, nullptr);
    EXPECT_EQ(reader_.valueLimit, 256);
    // A reader that is not open meets the end of the file at once.
    char v[256];
    IniFile_ReadAttr(&reader_, "A", "s", v);
    EXPECT_EQ(Errors_GetMsg()->code, 595);
    EXPECT_EQ(IniFile_CountAttr(&reader_, "A"), 0);
}

// ---- Further reads -------------------------------------------------------------------

TEST_F(IniFileTest, ReadAnyAttrTakesAnyNameAndStopsAtAHead) {
    Open(" \r\n  Some name  = a, 5\r\nLabel:\r\nK=v\r\n[next] \r\nZ = 1\r\n");
    char name[256], s[256];
    int i = -1;
    EXPECT_EQ(IniFile_ReadAnyAttr(&reader_, name, "si", s, &i), 0);
    EXPECT_STREQ(name, "Some name");
    EXPECT_STREQ(s, "a");
    EXPECT_EQ(i, 5);
    EXPECT_GE(IniFile_ReadAnyAttr(&reader_, name, "s", s), 0);
    EXPECT_STREQ(name, "Label:");
    EXPECT_STREQ(s, "");
    IniFile_ReadAnyAttr(&reader_, name, "s", s);
    EXPECT_STREQ(name, "K");
    EXPECT_STREQ(s, "v");
    strcpy(s, "same");
    EXPECT_EQ(IniFile_ReadAnyAttr(&reader_, name, "s", s), -1);
    EXPECT_STREQ(s, "same");
    // The head is left unread.
    EXPECT_EQ(CaughtCode([&] { IniFile_Read_setSection(&reader_, "next"); }), 0);
    IniFile_ReadAnyAttr(&reader_, name, "i", &i);
    EXPECT_EQ(i, 1);
    EXPECT_EQ(IniFile_ReadAnyAttr(&reader_, name, "i", &i), -1);
}

TEST_F(IniFileTest, ReadAttrAtReadsFromARememberedPosition) {
    Open("[a] \r\nLabel:\r\nX = 1, two\r\n[b] \r\nY = 2\r\n");
    long pos = IniFile_FindSection(&reader_, "a", false);
    IniFile_FindSection(&reader_, "b", false);
    int i = 0;
    char s[256];
    EXPECT_EQ(IniFile_ReadAttrAt(&reader_, pos, "is", &i, s), 14);
    EXPECT_EQ(i, 1);
    EXPECT_STREQ(s, "two");
    // No '=' up to the end of the file: every field is absent.
    EXPECT_EQ(IniFile_ReadAttrAt(&reader_, 0, "is", &i, s), 14);
    Open("[a] \r\nno value here\r\n");
    i = 5;
    strcpy(s, "x");
    EXPECT_EQ(IniFile_ReadAttrAt(&reader_, 0, "is", &i, s), -1);
    EXPECT_EQ(i, 0);
    EXPECT_STREQ(s, "");
}

TEST_F(IniFileTest, ReadOptAttrReadsOrStoresTheDefault) {
    Open("A = 3\r\nS = text\r\nZ = 1\r\n");
    int a = 0, b = 0;
    unsigned char flag = 7;
    char s[256], t[256];
    EXPECT_TRUE(IniFile_ReadOptAttr(&reader_, "A", "i", &a, 99));
    EXPECT_EQ(a, 3);
    EXPECT_FALSE(IniFile_ReadOptAttr(&reader_, "B", "i", &b, 99));
    EXPECT_EQ(b, 99);
    EXPECT_FALSE(IniFile_ReadOptAttr(&reader_, "F", "b", &flag, 0x100));
    EXPECT_EQ(flag, 0);  // the low byte counts
    EXPECT_FALSE(IniFile_ReadOptAttr(&reader_, "T", "s", t, "fallback"));
    EXPECT_STREQ(t, "fallback");
    EXPECT_TRUE(IniFile_ReadOptAttr(&reader_, "S", "s", s, "fallback"));
    EXPECT_STREQ(s, "text");
    // A missing attribute consumed nothing: Z is still next.
    int z = 0;
    EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttr(&reader_, "Z", "i", &z); }), 0);
    EXPECT_EQ(z, 1);
    EXPECT_FALSE(IniFile_ReadOptAttr(&reader_, "S", "s", s, static_cast<const char*>(nullptr)));
    EXPECT_STREQ(s, "");
}

// ---- Pooled reads ------------------------------------------------------------------------

class IniFilePoolTest : public IniFileTest {
   protected:
    void SetUp() override {
        IniFileTest::SetUp();
        StrX_Mem_Init(&pool_, poolBlock_, sizeof poolBlock_);
        ArrX_Buf_Init(&array_, arrayBlock_, sizeof arrayBlock_);
    }
    StrX_Mem pool_;
    char poolBlock_[512];
    ArrX_Buf array_;
    alignas(8) unsigned char arrayBlock_[256];
};

TEST_F(IniFilePoolTest, ReadAttrPooledCopiesStringsIntoThePool) {
    Open("A = one, , , 4, two\r\n");
    char* s1 = nullptr;
    char* s2 = reinterpret_cast<char*>(1);
    char* s3 = nullptr;
    int i = 0;
    char* s4 = nullptr;
    IniFile_ReadAttrPooled(&reader_, &pool_, "A", "ssSis", &s1, &s2, &s3, &i, &s4);
    EXPECT_STREQ(s1, "one");
    EXPECT_EQ(s2, nullptr);  // s: an empty field gives no string
    ASSERT_NE(s3, nullptr);  // S: an empty pooled string
    EXPECT_STREQ(s3, "");
    EXPECT_EQ(i, 4);
    EXPECT_STREQ(s4, "two");
    EXPECT_TRUE(s1 > poolBlock_ && s4 < poolBlock_ + sizeof poolBlock_);
    EXPECT_EQ(StrX_Mem_Next(&pool_, nullptr), s1);
}

TEST_F(IniFilePoolTest, StarAppendsTheRemainingFieldsToAnArray) {
    Open("A = head, x, , z\r\nN = 1, 2, 3\r\n");
    char* head = nullptr;
    IniFile_ReadAttrPooled(&reader_, &pool_, "A", "s*s", &head, &array_);
    EXPECT_STREQ(head, "head");
    ASSERT_EQ(static_cast<char*>(array_.last) - static_cast<char*>(array_.first),
              static_cast<ptrdiff_t>(3 * sizeof(char*)));
    char** items = static_cast<char**>(array_.first);
    EXPECT_STREQ(items[0], "x");
    EXPECT_EQ(items[1], nullptr);
    EXPECT_STREQ(items[2], "z");

    ArrX_Buf ints;
    alignas(4) unsigned char block[8];
    ArrX_Buf_Init(&ints, block, sizeof block);
    // Two ints fit, the third does not.
    EXPECT_EQ(CaughtCode([&] { IniFile_ReadAttrPooled(&reader_, &pool_, "N", "*i", &ints); }), 901);
    EXPECT_EQ(reinterpret_cast<int*>(block)[0], 1);
    EXPECT_EQ(reinterpret_cast<int*>(block)[1], 2);
}

TEST_F(IniFilePoolTest, FullPoolRaises3180) {
    char small[8];
    StrX_Mem pool;
    StrX_Mem_Init(&pool, small, sizeof small);
    Open("A = abcdef, x, y, z\r\n");
    char *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
    EXPECT_EQ(
        CaughtCode([&] { IniFile_ReadAttrPooled(&reader_, &pool, "A", "ssss", &a, &b, &c, &d); }),
        3180);
    EXPECT_STREQ(a, "abcde");  // the pool keeps what fits
    EXPECT_STREQ(b, "");       // at the block's last byte
    EXPECT_EQ(c, nullptr);
}

TEST_F(IniFilePoolTest, ReadStringListReturnsTheRangeUsed) {
    Open("L = a, \"b, c\", , d\r\nE = \r\n");
    PtrRange range{};
    IniFile_ReadStringList(&reader_, &pool_, "L", &range);
    std::string all(static_cast<char*>(range.first), static_cast<char*>(range.last));
    EXPECT_EQ(all, std::string("a\0b, c\0\0d\0", 10));
    EXPECT_EQ(range.first, poolBlock_ + 1);

    IniFile_ReadStringList(&reader_, &pool_, "E", &range);
    EXPECT_EQ(range.first, range.last);
    EXPECT_EQ(range.first, poolBlock_ + 11);
}

TEST_F(IniFilePoolTest, ReadOptAttrPooled) {
    Open("S = here\r\nZ = 1\r\n");
    char* s = nullptr;
    char* d = nullptr;
    char* n = reinterpret_cast<char*>(1);
    int i = 0;
    EXPECT_TRUE(IniFile_ReadOptAttrPooled(&reader_, &pool_, "S", "s", &s, "def"));
    EXPECT_STREQ(s, "here");
    EXPECT_FALSE(IniFile_ReadOptAttrPooled(&reader_, &pool_, "D", "s", &d, "def"));
    EXPECT_STREQ(d, "def");
    EXPECT_TRUE(d > poolBlock_ && d < poolBlock_ + sizeof poolBlock_);  // a pooled copy
    EXPECT_FALSE(IniFile_ReadOptAttrPooled(&reader_, &pool_, "N", "s", &n,
                                           static_cast<const char*>(nullptr)));
    EXPECT_EQ(n, nullptr);
    EXPECT_FALSE(IniFile_ReadOptAttrPooled(&reader_, &pool_, "I", "i", &i, 12));
    EXPECT_EQ(i, 12);
    EXPECT_TRUE(IniFile_ReadOptAttrPooled(&reader_, &pool_, "Z", "i", &i, 12));
    EXPECT_EQ(i, 1);
}

TEST_F(IniFilePoolTest, ReadAttrArrayFillsSlotsPerLine) {
    Open("P = 1, one, 2000/03/30-21:15:07\r\nP = 2, , \r\nQ = 9\r\n");
    PtrRange range{};
    int lines = IniFile_ReadAttrArray(&reader_, &pool_, &array_, "P", "ist", &range);
    EXPECT_EQ(lines, 2);
    ASSERT_EQ(PtrRange_Count(&range, sizeof(IniFile_Value)), 6u);
    IniFile_Value* v = static_cast<IniFile_Value*>(range.first);
    EXPECT_EQ(v[0].i, 1);
    EXPECT_STREQ(v[1].s, "one");
    EXPECT_EQ(v[2].t, LocalTime(2000, 3, 30, 21, 15, 7));
    EXPECT_EQ(v[3].i, 2);
    EXPECT_EQ(v[4].s, nullptr);
    EXPECT_EQ(v[5].t, 0);  // empty: the zeroed slot stays
    int q = 0;
    IniFile_ReadAttr(&reader_, "Q", "i", &q);
    EXPECT_EQ(q, 9);
}

TEST_F(IniFilePoolTest, ReadAttrArrayReports) {
    Open("P = 1, 2\r\nP = 3\r\n");
    PtrRange range{};
    EXPECT_EQ(
        CaughtCode([&] { IniFile_ReadAttrArray(&reader_, &pool_, &array_, "P", "ii", &range); }),
        594);
    EXPECT_TRUE(Contains(LastText(), "IniFile_Err_FewData, P 属性のデータのが少ない"))
        << Utf8(LastText());

    Open("P = 1, 2\r\n");
    EXPECT_EQ(
        CaughtCode([&] { IniFile_ReadAttrArray(&reader_, &pool_, &array_, "P", "ib", &range); }),
        107);
    EXPECT_TRUE(Contains(LastText(), "Errors_NotSupport, Not Support in this Version"))
        << Utf8(LastText());
    // Refused before reading: P is still next.
    EXPECT_EQ(IniFile_CountAttr(&reader_, "P"), 1);
}

TEST_F(IniFilePoolTest, ReadRecordArrayPlacesEachLetterAtItsOffset) {
    struct Rec {
        char tag;
        int n;
        char* s;
        time_t t;
    };
    Open("R = 5, five, 2000/03/30-21:15:07\r\nR = 6, six, \r\n");
    PtrRange range{};
    int lines = IniFile_ReadRecordArray(
        &reader_, &pool_, &array_, "R", "ist", &range, static_cast<int>(sizeof(Rec)),
        static_cast<int>(offsetof(Rec, n)), static_cast<int>(offsetof(Rec, s)),
        static_cast<int>(offsetof(Rec, t)));
    EXPECT_EQ(lines, 2);
    ASSERT_EQ(PtrRange_Count(&range, sizeof(Rec)), 2u);
    Rec* r = static_cast<Rec*>(range.first);
    EXPECT_EQ(r[0].tag, 0);
    EXPECT_EQ(r[0].n, 5);
    EXPECT_STREQ(r[0].s, "five");
    EXPECT_EQ(r[0].t, LocalTime(2000, 3, 30, 21, 15, 7));
    EXPECT_EQ(r[1].n, 6);
    EXPECT_STREQ(r[1].s, "six");
    EXPECT_EQ(r[1].t, 0);
}

TEST_F(IniFilePoolTest, ReadRecordArrayRefusesAnOffsetOutsideTheRecordAndPopsItsMark) {
    Open("R = 5\r\n");
    PtrRange range{};
    unsigned char* sp = BigStack_Sys()->sp;
    EXPECT_EQ(CaughtCode([&] {
                  IniFile_ReadRecordArray(&reader_, &pool_, &array_, "R", "i", &range, 8, 6);
              }),
              102);
    EXPECT_EQ(BigStack_Sys()->sp, sp);
    EXPECT_EQ(BigStack_Sys()->block1, nullptr);
    EXPECT_EQ(array_.last, array_.first);
    EXPECT_EQ(CaughtCode([&] {
                  IniFile_ReadRecordArray(&reader_, &pool_, &array_, "R", "i", &range, 8, 4);
              }),
              0);
}

TEST_F(IniFileTest, ReadJoinedJoinsLinesAndChecksRoom) {
    Open("J = a\r\nJ = \"b, c\", ignored\r\nJ = d\r\nK = e\r\n");
    IniFile_SetValueLimit(&reader_, 4);
    char buf[32];
    EXPECT_EQ(IniFile_ReadJoined(&reader_, "J", "; ", buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "a; b, ; d; ");  // each value cut to 3 bytes
    char k[8];
    IniFile_ReadAttr(&reader_, "K", "s", k);
    EXPECT_STREQ(k, "e");

    // Room for two lines only: value limit 4 plus a separator of 2 bytes each.
    Open("J = abc\r\nJ = def\r\nJ = ghi\r\n");
    IniFile_SetValueLimit(&reader_, 4);
    char small[13];
    memset(small, '#', sizeof small);
    EXPECT_EQ(CaughtCode([&] { IniFile_ReadJoined(&reader_, "J", "; ", small, 12); }), 592);
    EXPECT_TRUE(Contains(LastText(), "IniFile_Err_FewBuf, バッファ領域が少ない（J属性）"))
        << Utf8(LastText());
    EXPECT_STREQ(small, "abc; def; ");
    EXPECT_EQ(small[12], '#');
}

TEST_F(IniFilePoolTest, ReadStringsPoolsEachLineAndChecksRoom) {
    Open("S = one\r\nS = \"t, wo\"\r\nS = \r\nT = x\r\n");
    EXPECT_EQ(IniFile_ReadStrings(&reader_, "S", &pool_), 3);
    const char* s = StrX_Mem_Next(&pool_, nullptr);
    EXPECT_STREQ(s, "one");
    s = StrX_Mem_Next(&pool_, s);
    EXPECT_STREQ(s, "t, wo");
    s = StrX_Mem_Next(&pool_, s);
    EXPECT_STREQ(s, "");
    EXPECT_EQ(StrX_Mem_Next(&pool_, s), nullptr);

    // A pool of 12 bytes keeps two 3-byte values at a value limit of 4; the
    // third line finds no room for a whole value and is refused.
    char block[12];
    StrX_Mem pool;
    StrX_Mem_Init(&pool, block, sizeof block);
    Open("S = abc\r\nS = def\r\nS = ghi\r\n");
    IniFile_SetValueLimit(&reader_, 4);
    EXPECT_EQ(CaughtCode([&] { IniFile_ReadStrings(&reader_, "S", &pool); }), 592);
    EXPECT_TRUE(Contains(LastText(), "IniFile_Err_FewBuf, 文字列の格納領域が足りません"))
        << Utf8(LastText());
    EXPECT_STREQ(StrX_Mem_Next(&pool, nullptr), "abc");
    EXPECT_STREQ(StrX_Mem_Next(&pool, StrX_Mem_Next(&pool, nullptr)), "def");
}

// ---- File lists ---------------------------------------------------------------------------

TEST_F(IniFilePoolTest, FileListWrittenByteForByteAndReadBack) {
    const char* kPaths[] = {"C:\\a\\x.htm", "C:\\a\\y.htm", "C:\\b\\z.htm", "top.htm",
                            "C:\\a\\w.htm"};
    std::string bytes = Written([&](IniWriter* w) {
        IniFile_WriteSection(w, "main");
        IniFile_WriteAttr(w, "N", "i", 5);
        IniFile_WriteFileList(w, "files", kPaths, 5);
    });
    EXPECT_EQ(bytes,
              "[main] \r\n"
              "N = 5\r\n"
              " \r\n"
              "[files] \r\n"
              "Folder = C:\\a\r\n"
              "File = x.htm\r\n"
              "File = y.htm\r\n"
              "Folder = C:\\b\r\n"
              "File = z.htm\r\n"
              "Folder = .\r\n"
              "File = top.htm\r\n"
              "Folder = C:\\a\r\n"
              "File = w.htm\r\n"
              " \r\n");

    dir_.Write("t.ini", bytes);
    IniFile_OpenRead(&reader_, PathOf("t.ini").c_str(), line_, sizeof line_);
    // Start past the section: it is found with wrap.
    IniFile_FindSection(&reader_, "files", false);
    PtrRange range{};
    IniFile_ReadFileList(&reader_, &pool_, &array_, "files", &range);
    ASSERT_EQ(PtrRange_Count(&range, sizeof(char*)), 5u);
    char** p = static_cast<char**>(range.first);
    for (int i = 0; i < 5; i++) EXPECT_STREQ(p[i], kPaths[i]) << i;
}

// ---- Waiting ------------------------------------------------------------------------------

TEST_F(IniFileTest, WaitValueSeesTheValueOrGivesUp) {
    Open("[other] \r\nQ = 0\r\n \r\n[state] \r\nReady = 1\r\n \r\n");
    int one = 1, zero = 0;
    unsigned char* sp = BigStack_Sys()->sp;
    EXPECT_TRUE(IniFile_WaitValue(&reader_, "state", "Ready", "i", &one, 3, 1));
    EXPECT_TRUE(IniFile_WaitValue(&reader_, "state", "Ready", "b", &one, 3, 1));
    EXPECT_TRUE(IniFile_WaitValue(&reader_, "state", "Ready", "s", "1", 3, 1));
    int v256 = 0x100;  // b compares the low byte's zero-ness
    EXPECT_FALSE(IniFile_WaitValue(&reader_, "state", "Ready", "b", &v256, 3, 1));

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(IniFile_WaitValue(&reader_, "state", "Ready", "i", &zero, 5, 20));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_GE(ms, 80);  // four pauses between five reads
    EXPECT_FALSE(IniFile_WaitValue(&reader_, "state", "Ready", "t", &zero, 5, 20));
    EXPECT_EQ(BigStack_Sys()->sp, sp);
}

TEST_F(IniFileTest, WaitValueReleasesItsScratchOnAReport) {
    Open("[state] \r\nOther = 1\r\n");
    int one = 1;
    unsigned char* sp = BigStack_Sys()->sp;
    EXPECT_EQ(CaughtCode([&] { IniFile_WaitValue(&reader_, "state", "Ready", "i", &one, 3, 1); }),
              596);
    EXPECT_EQ(BigStack_Sys()->sp, sp);
    EXPECT_EQ(BigStack_Sys()->block1, nullptr);
    EXPECT_EQ(CaughtCode([&] { IniFile_WaitValue(&reader_, "none", "Ready", "i", &one, 3, 1); }),
              591);
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
        for (int i = 0; i < 50; i++) IniFile_WriteAttr(&w, "A", "sibxs", "x, y", i, 1, 15, "z");
        writes = count.Count();
    }
    IniFile_CloseWrite(&w);
    EXPECT_EQ(writes, 0);

    IniFile_OpenRead(&reader_, PathOf("w.ini").c_str(), line_, sizeof line_);
    IniFile_Read_setSection(&reader_, "main");
    AllocCounter count;
    char s[256], z[256];
    int i = 0, x = 0;
    unsigned char b = 0;
    int n = IniFile_CountAttr(&reader_, "A");
    for (int k = 0; k < n; k++) IniFile_ReadAttr(&reader_, "A", "sibxs", s, &i, &b, &x, z);
    EXPECT_EQ(count.Count(), 0);
    EXPECT_EQ(n, 50);
    EXPECT_EQ(i, 49);
    EXPECT_EQ(b, 1);
    EXPECT_STREQ(s, "x, y");
    EXPECT_STREQ(z, "z");
}
