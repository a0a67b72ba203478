#include "components/strxmem.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "support/testsupport.h"

namespace {

// Day and month names of the time forms are the C locale's in these tests,
// whatever the machine's locale: the user's default is read once, on the first
// time operation.
const int kCLocale = [] {
    setenv("LC_ALL", "C", 1);
    return 0;
}();

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

class StrXTest : public LibraryTest {};

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
