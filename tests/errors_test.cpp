#include "components/errors.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "components/arrx.h"
#include "support/testsupport.h"

namespace {

// A hook that keeps the full report line and lets the report return.
std::string g_hookText;
int keepingHook(int, int, const char* text) {
    g_hookText = text;
    return 0;
}

// Makes a fresh temporary folder current (errlog files land there) and
// restores the previous current folder at the end.
struct InTempDir {
    TempDir dir;
    char cwd[4096] = "";
    InTempDir() {
        if (!getcwd(cwd, sizeof cwd) || chdir(dir.path().c_str()) != 0) ADD_FAILURE();
    }
    ~InTempDir() {
        if (chdir(cwd) != 0) ADD_FAILURE();
    }
};

class ErrorsTest : public LibraryTest {
   protected:
    void SetUp() override {
        LibraryTest::SetUp();
        Errors_Callback = keepingHook;
    }
    // Reports 102 from place.cpp(77) with message msg; returns the line the hook saw.
    std::string Report(const std::string& msg) {
        Errors_Report("place.cpp", 77, 102, "Errors_Unofficial", "%s", msg.c_str());
        return g_hookText;
    }
    // The fixed part of the line of the next Report.
    std::string NextPrefix() const {
        return "Error in place.cpp(77) : id = " + std::to_string(Errors_GetMsg()->id + 1) +
               ", code = 102, Errors_Unofficial, ";
    }
};

TEST_F(ErrorsTest, ReportLineAndRecordTextAreCut) {
    Report("");  // the record now holds the last id given
    std::string prefix = NextPrefix();
    const std::string fits(1024 - prefix.size(), 'm');
    EXPECT_EQ(prefix + fits, Report(fits));
    prefix = NextPrefix();
    const std::string line = Report(std::string(1025 - prefix.size(), 'm'));
    EXPECT_EQ((prefix + std::string(1025, 'm')).substr(0, 1019) + "...", line);
    EXPECT_EQ(line.substr(0, 511), Errors_GetMsg()->text);
    // The record's cut never splits a double-byte character: 表 is 0x95 0x5C.
    prefix = NextPrefix();
    const std::string msg = std::string(510 - prefix.size(), 'a') + "\x95\x5C\x95\x5C";
    Report(msg);
    EXPECT_EQ((prefix + msg).substr(0, 510), Errors_GetMsg()->text);
}

TEST_F(ErrorsTest, WithoutHookReportReturnsWithTheRecordFilled) {
    Errors_Callback = nullptr;
    Report("");
    const int id = Errors_GetMsg()->id + 1;
    Errors_Report("somewhere.cpp", 12, 363, "FileX_Err_CannotReadOpen", "missing %s", "x.htm");
    const Errors_Msg* m = Errors_GetMsg();
    EXPECT_EQ(std::string(m->file) + ":" + std::to_string(m->line) + " " + std::to_string(m->code),
              "somewhere.cpp:12 363");
    EXPECT_EQ("Error in somewhere.cpp(12) : id = " + std::to_string(id) +
                  ", code = 363, FileX_Err_CannotReadOpen, missing x.htm",
              m->text);
    EXPECT_TRUE(boxes_.boxes.empty());
}

// The repeat counter shows in the report's record.
TEST_F(ErrorsTest, ReportIdsAndCounterStartWithTheProcess) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            int first = 0;
            int last = 0;
            for (int i = 0; i < 10; i++)
                EXCEPT3_TRY([&] { ERRORS_REPORT(Errors_Unofficial, "error"); },
                            [&] { (i == 0 ? first : last) = Except3_GetSys()->msg->id; });
            bool odd = Errors_CountUp(2);
            bool even = Errors_CountUp(2);
            Errors_Callback = keepingHook;
            Errors_Report("f.cpp", 1, 102, "Errors_Unofficial", "x");
            fprintf(stderr, "ids=%d,%d %d%d|%s\n", first, last, odd, even, Errors_GetMsg()->text);
            _exit(0);
        },
        testing::ExitedWithCode(0),
        "ids=1,10 01\\|Error in f.cpp\\(1\\) : id = 11, .* x \\(COUNT=2\\)");
}

TEST_F(ErrorsTest, FatalPathsExitWith14AndTheirBoxes) {
    const std::string exitBox = U8(u8"BOX\\[エラーメッセージ\\] EXIT from ");
    struct Case {
        const char* what;
        void (*run)();
        std::string boxes;    // regex of every box line
        bool cancel = false;  // answer the first box with Cancel
        Errors_CallbackFunc hook = Except3_RaiseHook;
    } cases[] = {
        {"a report inside the hook is a double error",
         [] { Errors_Report("outer.cpp", 4, 102, "Errors_Unofficial", "outer"); },
         U8(u8"BOX\\[エラーメッセージ\\] 二重エラーです in inner.cpp\\(5\\) "
            u8"code=901\\(ArrX_Err_Full\\)\n"
            u8"BOX\\[エラーメッセージ\\] Error in inner.cpp\\(5\\) : id = 2, code = 901, "
            u8"ArrX_Err_Full, inner\n") +
             exitBox + "inner.cpp\\(5\\)\nBOXES=3",
         false,
         [](int, int, const char*) {
             Errors_Report("inner.cpp", 5, 901, "ArrX_Err_Full", "inner");
             return 0;
         }},
        {"Cancel in the EXIT box calls Errors_Exit again, which shows nothing",
         [] { Errors_Exit("a.cpp", 3); }, exitBox + "a.cpp\\(3\\)\nBOXES=1", true},
        {"Errors_Exit clears a pending exception",
         [] {
             Except3_GetSys()->bExcept = 1;
             std::atexit([] { fprintf(stderr, "bExcept=%d\n", Except3_GetSys()->bExcept); });
             Errors_Exit("a.cpp", 3);
         },
         exitBox + "a.cpp\\(3\\)\nbExcept=0\nBOXES=1"},
        {"Cancel in an error box", [] { Errors_Printf("first"); },
         "BOX\\[.*\\] first\n" + exitBox + "errors.cpp\\([0-9]+\\)\nBOXES=2", true},
        {"Cancel in a debug box", [] { Errors_DebugPrintf("look %d", 1); },
         U8(u8"BOX\\[デバッグ表示\\] look 1\n") + exitBox + "errors.cpp\\([0-9]+\\)\nBOXES=2",
         true},
        {"a debug text over 4096 characters",
         [] { Errors_DebugPrintf("%s", std::string(4097, 'q').c_str()); },
         U8(u8"BOX\\[デバッグ表示\\] msg block over\n") + exitBox +
             "errors.cpp\\([0-9]+\\)\nBOXES=2"},
        {"a hook returning 1",
         [] { Errors_Report("end.cpp", 42, 102, "Errors_Unofficial", "stop"); },
         exitBox + "end.cpp\\(42\\)\nBOXES=1", false, [](int, int, const char*) { return 1; }},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                MsgBox_Recorder* recorder = SetUpLibraryForDeath();
                if (c.cancel) recorder->script.push_back(MsgBox_IDCANCEL);
                Errors_Callback = c.hook;
                c.run();
            },
            testing::ExitedWithCode(14), "^" + c.boxes + "\n$")
            << c.what;
    }
}

TEST_F(ErrorsTest, FirstLogWriteDeletesOldErrlogAndEntriesEndInCrLf) {
    // The child re-runs this test in a fresh process: both name the folder by the parent's id.
    const bool child = testing::internal::InDeathTestChild();
    const std::string dir = "/tmp/tessaly-errlog-" + std::to_string(child ? getppid() : getpid());
    if (!child) {
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/errlog.txt", std::ios::binary) << "old contents\r\n";
        std::ofstream(dir + "/errlog4.txt", std::ios::binary) << "old four\r\n";
    }
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            if (chdir(dir.c_str()) != 0) _exit(3);
            Errors_DebugPrintf("one %d", 1);
            Errors_DebugPrintf("two");
            Errors_LogPrintf("four");
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ("one 1\r\ntwo\r\n", ReadFile(dir + "/errlog.txt"));
    // errlog4.txt shares the first-write flag, which errlog.txt already cleared.
    EXPECT_EQ("old four\r\nfour\r\n", ReadFile(dir + "/errlog4.txt"));
    std::filesystem::remove_all(dir);
}

TEST_F(ErrorsTest, FailedLogWriteReports365) {
    // In a child: files may not grow at all, and the limit's signal is ignored.
    auto child = [] {
        InTempDir in;
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{0, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        Errors_Callback = Except3_RaiseHook;
        int code = 0;
        EXCEPT3_TRY([&] { Errors_DebugPrintf("x"); }, [&] { code = Except3_GetSys()->msg->code; });
        limit.rlim_cur = RLIM_INFINITY;  // the test's own report is a file too
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string text = Errors_GetMsg()->text;
        fprintf(stderr, "code %d %s\n", code, Utf8(text).c_str());
        _exit(text.find(Sjis(u8"errlog.txt の書きこみに失敗しました。")) != std::string::npos ? 0
                                                                                              : 1);
    };
    EXPECT_EXIT(child(), testing::ExitedWithCode(0), "code 365 ");
}

TEST_F(ErrorsTest, DebugPageRingAfterOneWrap) {
    InTempDir in;
    // Texts of 98 bytes take 100 bytes with CR LF: 265 texts reach 26500.
    auto text = [](int k) {
        char num[8];
        snprintf(num, sizeof num, "%06d", k);
        return num + ("-" + std::string(91, 'a'));
    };
    int i = 0;
    for (; Errors_DebugPageNum() == 1; i++) Errors_DebugPrintf("%s", text(i).c_str());
    EXPECT_EQ(266, i);
    const std::string buf = Errors_DebugBuf();
    const std::string head = "--- Page 2\r\n" + text(265) + "\r\n\r\n--- Page 1\r\n";
    ASSERT_EQ(head, buf.substr(0, head.size()));
    // The rest of page 1 follows the marker, up to the old write position.
    std::string page1;
    for (int k = 0; k < 265; k++) page1 += text(k) + "\r\n";
    EXPECT_EQ(page1.substr(head.size()), buf.substr(head.size()));
    // A later text on page 2 moves the marker along.
    const size_t at = head.size() - strlen("\r\n--- Page 1\r\n");
    EXPECT_EQ(Errors_DebugBuf() + at, Errors_DebugPrintf("next"));  // where the text begins
    EXPECT_EQ("next\r\n\r\n--- Page 1\r\n", std::string(Errors_DebugBuf()).substr(at, 20));
}

// The log buffer takes a text only while it holds fewer than 887 bytes.
TEST_F(ErrorsTest, LogPrintfAppendsKeptTextThenTextBelowItsThreshold) {
    InTempDir in;
    EXPECT_STREQ("kept 7", Errors_PrintfKeep("kept %d", 7));
    EXPECT_EQ(Errors_LogBuf(), Errors_LogPrintf("log %s", "a"));
    // Entries run together; the kept text is consumed.
    EXPECT_EQ(Errors_LogBuf() + 11, Errors_LogPrintf("b"));
    EXPECT_STREQ("kept 7log ab", Errors_LogBuf());
    for (const auto& [before, added] : {std::pair{886, true}, {887, false}}) {
        Errors_InitDebugBuf();
        Errors_LogPrintf("%s", std::string(before, 'a').c_str());
        ASSERT_EQ(static_cast<size_t>(before), strlen(Errors_LogBuf()));
        Errors_LogPrintf("b");
        EXPECT_EQ(before + (added ? 1u : 0u), strlen(Errors_LogBuf())) << before;
    }
}

// What each display shows, byte for byte. Dumps show whole addresses; under
// 16 bytes the " - " counts from the block start, in rows it follows the
// bytes at addresses 3 modulo 4 (here the block starts 1 past a 16-byte
// boundary: offsets 2, 6, 10 and 14).
TEST_F(ErrorsTest, DisplaysShowTheirLinesByteForByte) {
    static const char kStr[] = "ab\ncd\x81";
    alignas(16) static unsigned char bytes[40];
    for (int i = 0; i < 40; i++) bytes[i] = static_cast<unsigned char>(i);
    static const unsigned char* block = bytes + 1;
    const unsigned long long a = reinterpret_cast<uintptr_t>(block);
    ASSERT_GT(a, 0xFFFFFFFFull) << "the test needs an address beyond 32 bits";
    auto line = [](const char* format, unsigned long long x, unsigned long long y = 0) {
        char text[160];
        snprintf(text, sizeof text, format, x, y);
        return std::string(text);
    };
    using Lines = std::vector<std::string>;
    const std::tuple<const char*, std::function<void()>, Lines> cases[] = {
        {"size",
         [] { Errors_PrintSize("buf", 3 * 1048576 + 2048); },
         {"  buf = 3147776, 0x300800, 3074KB, 3.001953MB"}},
        {"int",
         [] { Errors_PrintInt("n", reinterpret_cast<void*>(0x10), 65, "x.cpp", 4); },
         {"n (0x10) = 65(0x41) 'A' : x.cpp(4)"}},
        {"string",
         [] { Errors_PrintStr("s", reinterpret_cast<void*>(0x20), kStr, "y.cpp", 5); },
         {"s (0x20) = " + PtrText(kStr) + " \"ab cd.\" : y.cpp(5)"}},
        {"a break only for its hint",
         [] {
             Errors_SetBreak(true, 9, 1);
             Errors_Break(1, 7, "b.cpp", 12);
             Errors_Break(1, 9, "b.cpp", 13);
             Errors_SetBreak(true, 0xCCCCCCCC, 1);
         },
         {"break in b.cpp(13) : hint = 9(0x9)"}},
        {"error boxes cut at their buffer",
         [] {
             Errors_Printf("%s", std::string(1023, 'x').c_str());
             Errors_Printf("%s", std::string(1024, 'y').c_str());
         },
         {std::string(1023, 'x'), std::string(1020, 'y') + "..."}},
        {"a debug text of 4096 characters whole",
         [] { Errors_DebugPrintf("%s", std::string(4096, 'd').c_str()); },
         {std::string(4096, 'd')}},
        {"the saved records numbered, used slots only",
         [] {
             Errors_Msg* slots = static_cast<Errors_Msg*>(Errors_GetMsgPool()->first);
             slots[1].used = slots[3].used = 1;
             strcpy(slots[1].text, "first saved");
             strcpy(slots[3].text, "second saved");
             Errors_Msg_Set(Errors_GetMsg(), 3, 102, "f.cpp", 9, "current %d", 5);
             Errors_PrintRecent();
         },
         {"[1] first saved", "[2] second saved",
          "Following Message is recently Error, but it may have soluved...", "current 5"}},
        {"dump in one line",
         [] { Errors_DumpMem("m", block, 5, "z.cpp", 6); },
         {line("m(%08llX)  %08llX : 01 02 03 04 - 05 : z.cpp(6)", a, a)}},
        {"dump of one row by address",
         [] { Errors_DumpAddr("d", block + 2, 3, "w.cpp", 8); },
         {line("d(%08llX)  %08llX : ", a + 2, a - 1) + std::string(9, ' ') + "03 - 04 05 " +
          std::string(30, ' ') + ": w.cpp(8)"}},
        {"dump in rows",
         [] { Errors_DumpMem("m", block, 20, "z.cpp", 6); },
         {line("m(%08llX) : size = 20(0x14) : z.cpp(6)", a),
          line("m  %08llX : ", a) + "01 02 03 - 04 05 06 07 - 08 09 0A 0B - 0C 0D 0E 0F - 10 ",
          line("m  %08llX : ", a + 16) + "11 12 13 - 14 " + std::string(36, ' ')}},
    };
    for (const auto& [what, show, lines] : cases) {
        boxes_.boxes.clear();
        show();
        EXPECT_EQ(lines, BoxTexts(boxes_)) << what;
    }
    EXPECT_EQ(std::string("0 . \xFF.."),
              std::string({Errors_PrintableChar(0), Errors_PrintableChar('\n'),
                           Errors_PrintableChar('\t'), Errors_PrintableChar(' '),
                           Errors_PrintableChar(255), Errors_PrintableChar(-1),
                           Errors_PrintableChar(256)}));
    Errors_SetDebugDisplay(false);
    EXPECT_EQ(nullptr, Errors_DebugPrintf("hidden"));
}

TEST_F(ErrorsTest, CheckSumReportsAChangedSum) {
    static const unsigned char data[] = {1, 2, 3, 250};
    const void* ranges[] = {data, data + 4};
    Errors_Callback = Except3_RaiseHook;
    Errors_SetCheckSum(0);
    EXPECT_EQ(Errors_BadCheckSum.code, CaughtCode([&] { Errors_CheckSum(ranges, sizeof ranges); }));
    EXPECT_NE(
        std::string::npos,
        LastText().find("CheckSum ERROR run_sum = 256(0x00000100), right_sum = 0(0x00000000)"));
}

TEST_F(ErrorsTest, WatchSeesAChangeAnywhereInTheBlock) {
    static unsigned char block[1000];
    Errors_WatchStart(block, "b", false, sizeof block, "w.cpp", 1);
    EXPECT_EQ(32u, BoxTexts(boxes_).size());  // one line per 32 bytes, the whole block
    boxes_.boxes.clear();
    block[990] = 0x5A;
    Errors_WatchCheck("here", 2);
    EXPECT_EQ((std::vector<std::string>{Sjis(u8"WATCH!★ : adr = ") + PtrText(block + 960) +
                                        " : 00000000 00000000 00000000 00000000 : here(2)"}),
              BoxTexts(boxes_));
    boxes_.boxes.clear();
    Errors_WatchCheck("again", 3);  // the check took a new copy
    EXPECT_EQ((std::vector<std::string>{"WATCH : no change : again(3)"}), BoxTexts(boxes_));
    static char text[16];
    strcpy(text, "watched");  // a text watch keeps the address
    Errors_WatchStart(text, "t", true, 0, "w.cpp", 1);
    text[0] = 'W';
    Errors_WatchCheck("there", 3);
    EXPECT_NE(std::string::npos, BoxTexts(boxes_).back().find(": Watched : there(3)"));
}

}  // namespace
