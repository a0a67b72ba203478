#include "components/errors.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "components/arrx.h"
#include "support/testsupport.h"

namespace {

// A hook that keeps the full report line and lets the report return.
std::string g_hookText;
int g_hookCalls = 0;
int keepingHook(int, int, const char* text) {
    g_hookText = text;
    g_hookCalls++;
    return 0;
}

class ErrorsTest : public LibraryTest {
   protected:
    void SetUp() override {
        LibraryTest::SetUp();
        Errors_Callback = keepingHook;
        g_hookText.clear();
        g_hookCalls = 0;
    }
    // Reports Errors_Unofficial with a message of n 'm' bytes from a fixed
    // place; returns the report line the hook saw.
    std::string ReportOfLength(size_t n) {
        std::string msg(n, 'm');
        Errors_Report("place.cpp", 77, Errors_Unofficial.code, Errors_Unofficial.name, "%s",
                      msg.c_str());
        return g_hookText;
    }
    // The report line's fixed part for the next report from ReportOfLength.
    std::string NextPrefix() const {
        char buf[128];
        snprintf(buf, sizeof buf,
                 "Error in place.cpp(77) : id = %d, code = 102, Errors_Unofficial, ",
                 Errors_GetMsg()->id + 1);
        return buf;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> v;
        for (auto& b : boxes_.boxes) v.push_back(b.text);
        return v;
    }
};

TEST_F(ErrorsTest, ReportIdsCountFromOneAlsoAcrossCaughtReports) {
    // A fresh process, so the counter starts where the process starts.
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            int first = 0;
            int last = 0;
            for (int i = 0; i < 10; i++) {
                EXCEPT3_TRY([&] { ERRORS_REPORT(Errors_Unofficial, "error"); },
                            [&] {
                                if (i == 0) first = Except3_GetSys()->msg->id;
                                last = Except3_GetSys()->msg->id;
                            });
            }
            fprintf(stderr, "ids=%d,%d\n", first, last);
            _exit(0);
        },
        testing::ExitedWithCode(0), "ids=1,10");
}

TEST_F(ErrorsTest, ReportLineOf1024StaysWholeAnd1025IsCut) {
    std::string prefix = NextPrefix();
    std::string line = ReportOfLength(1024 - prefix.size());
    EXPECT_EQ(line.size(), 1024u);
    EXPECT_EQ(line, prefix + std::string(1024 - prefix.size(), 'm'));

    prefix = NextPrefix();
    line = ReportOfLength(1025 - prefix.size());
    ASSERT_EQ(line.size(), 1022u);
    EXPECT_EQ(line.substr(0, 1019), (prefix + std::string(1025, 'm')).substr(0, 1019));
    EXPECT_EQ(line.substr(1019), "...");

    // A very long message cannot overrun either buffer.
    line = ReportOfLength(5000);
    EXPECT_EQ(line.size(), 1022u);
}

TEST_F(ErrorsTest, RecordTextIsCutToItsField) {
    std::string line = ReportOfLength(700);
    const Errors_Msg* m = Errors_GetMsg();
    EXPECT_EQ(strlen(m->text), 511u);
    EXPECT_EQ(std::string(m->text), line.substr(0, 511));

    // The cut never splits a double-byte character: 表 is 0x95 0x5C.
    std::string prefix = NextPrefix();
    std::string msg(510 - prefix.size(), 'a');
    msg += "\x95\x5C\x95\x5C";
    Errors_Report("place.cpp", 77, 102, "Errors_Unofficial", "%s", msg.c_str());
    EXPECT_EQ(strlen(m->text), 510u);
    EXPECT_EQ(std::string(m->text), (prefix + msg).substr(0, 510));
}

TEST_F(ErrorsTest, WithoutHookReportReturnsAndRecordsTheMessage) {
    Errors_Callback = nullptr;
    int before = Errors_GetMsg()->id;
    Errors_Report("somewhere.cpp", 12, 363, "FileX_Err_CannotReadOpen", "missing %s", "x.htm");
    const Errors_Msg* m = Errors_GetMsg();
    EXPECT_EQ(m->id, before + 1);
    EXPECT_EQ(m->code, 363);
    EXPECT_STREQ(m->file, "somewhere.cpp");
    EXPECT_EQ(m->line, 12);
    char expect[200];
    snprintf(
        expect, sizeof expect,
        "Error in somewhere.cpp(12) : id = %d, code = 363, FileX_Err_CannotReadOpen, missing x.htm",
        before + 1);
    EXPECT_STREQ(m->text, expect);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(ErrorsTest, RepeatCounterShowsInLineAndRecord) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Errors_Callback = keepingHook;
            EXPECT_FALSE(Errors_CountUp(2));  // counter 1
            bool second = Errors_CountUp(2);  // counter 2
            Errors_Report("f.cpp", 1, 102, "Errors_Unofficial", "x");
            fprintf(stderr, "second=%d|%s|%s\n", second, g_hookText.c_str(), Errors_GetMsg()->text);
            _exit(0);
        },
        testing::ExitedWithCode(0),
        "second=1\\|Error in f.cpp\\(1\\) : id = 1, code = 102, Errors_Unofficial, x "
        "\\(COUNT=2\\)\\|"
        "Error in f.cpp\\(1\\) : id = 1, code = 102, Errors_Unofficial, x "
        "\\(COUNT=2\\)\\(COUNT=2\\)");
}

int reportingAgainHook(int, int, const char*) {
    Errors_Report("inner.cpp", 5, 901, "ArrX_Err_Full", "inner");
    return 0;
}

TEST_F(ErrorsTest, ReportInsideTheHookShowsDoubleErrorAndExits) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Errors_Callback = reportingAgainHook;
            Errors_Report("outer.cpp", 4, 102, "Errors_Unofficial", "outer");
        },
        testing::ExitedWithCode(14),
        std::string(
            U8(u8"BOX\\[エラーメッセージ\\] 二重エラーです in inner.cpp\\(5\\) "
               u8"code=901\\(ArrX_Err_Full\\)\n"
               u8"BOX\\[エラーメッセージ\\] Error in inner.cpp\\(5\\) : id = 2, code = 901, "
               u8"ArrX_Err_Full, inner\n"
               u8"BOX\\[エラーメッセージ\\] EXIT from inner.cpp\\(5\\)\nBOXES=3")));
}

TEST_F(ErrorsTest, ExitTwiceShowsOneBox) {
    EXPECT_EXIT(
        {
            // Cancel in the EXIT box calls Errors_Exit again, which shows nothing more.
            SetUpLibraryForDeath()->script.push_back(MsgBox_IDCANCEL);
            Errors_Exit("a.cpp", 3);
        },
        testing::ExitedWithCode(14), "BOX\\[.*\\] EXIT from a.cpp\\(3\\)\nBOXES=1");
}

TEST_F(ErrorsTest, CancelInAnErrorBoxEndsTheProgram) {
    EXPECT_EXIT(
        {
            MsgBox_Recorder* rec = SetUpLibraryForDeath();
            rec->script.push_back(MsgBox_IDCANCEL);
            Errors_Printf("first");
            fprintf(stderr, "not reached\n");
        },
        testing::ExitedWithCode(14),
        "BOX\\[.*\\] first\nBOX\\[.*\\] EXIT from errors.cpp\\([0-9]+\\)\nBOXES=2");
}

TEST_F(ErrorsTest, PrintfCutsAtItsBuffer) {
    std::string t1023(1023, 'x'), t1024(1024, 'y');
    Errors_Printf("%s", t1023.c_str());
    Errors_Printf("%s", t1024.c_str());
    ASSERT_EQ(boxes_.boxes.size(), 2u);
    EXPECT_EQ(boxes_.boxes[0].text, t1023);
    EXPECT_EQ(boxes_.boxes[1].text, std::string(1020, 'y') + "...");
    EXPECT_EQ(boxes_.boxes[0].title, Sjis(u8"エラーメッセージ"));
    EXPECT_EQ(boxes_.boxes[0].buttons, MsgBox_OKCancel);
    EXPECT_EQ(boxes_.boxes[0].icon, MsgBox_IconError);
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
    auto read = [&](const char* name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read("errlog.txt"), "one 1\r\ntwo\r\n");
    // errlog4.txt shares the first-write flag, which errlog.txt already cleared.
    EXPECT_EQ(read("errlog4.txt"), "old four\r\nfour\r\n");
    std::filesystem::remove_all(dir);
}

TEST_F(ErrorsTest, DebugDisplayOffDoesNothing) {
    Errors_SetDebugDisplay(false);
    EXPECT_EQ(Errors_DebugPrintf("hidden"), nullptr);
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(Errors_DebugBuf()[0], '\0');
    Errors_SetDebugDisplay(true);
}

TEST_F(ErrorsTest, DebugPageRingAfterOneWrap) {
    TempDir dir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    // Texts of 98 bytes take 100 bytes with CR LF: 265 texts reach 26500.
    std::string line(98, 'a');
    int i = 0;
    for (; Errors_DebugPageNum() == 1; i++) {
        std::string t = line;
        snprintf(t.data(), 8, "%06d", i);
        t[6] = '-';
        char* at = Errors_DebugPrintf("%s", t.c_str());
        if (Errors_DebugPageNum() == 1) {
            ASSERT_EQ(at, Errors_DebugBuf() + 100 * i) << i;
        } else {
            EXPECT_EQ(at, Errors_DebugBuf() + strlen("--- Page 2\r\n"));
        }
    }
    EXPECT_EQ(i, 266);  // the 265th append (index 264) reached 26500; the next one wrapped
    const std::string buf = Errors_DebugBuf();
    std::string expect = "--- Page 2\r\n000265-" + std::string(91, 'a') + "\r\n\r\n--- Page 1\r\n";
    ASSERT_EQ(buf.substr(0, expect.size()), expect);
    // The rest of page 1 follows from where the marker ends, up to the old write position.
    size_t tailStart = expect.size();
    EXPECT_EQ(buf.size(), 26500u);
    std::string page1Original;
    for (int k = 0; k < 265; k++) {
        std::string t = line;
        snprintf(t.data(), 8, "%06d", k);
        t[6] = '-';
        page1Original += t + "\r\n";
    }
    EXPECT_EQ(buf.substr(tailStart), page1Original.substr(tailStart));
    // A later text on page 2 moves the marker along.
    Errors_DebugPrintf("next");
    EXPECT_EQ(
        std::string(Errors_DebugBuf())
            .substr(expect.size() - strlen("\r\n--- Page 1\r\n"), 6 + strlen("\r\n--- Page 1\r\n")),
        "next\r\n\r\n--- Page 1\r\n");
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(ErrorsTest, LogPrintfAppendsKeptTextThenText) {
    TempDir dir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    char* kept = Errors_PrintfKeep("kept %d", 7);
    EXPECT_STREQ(kept, "kept 7");
    const char* before = Errors_LogPrintf("log %s", "a");
    EXPECT_EQ(before, Errors_LogBuf());
    // Each entry's write position stays on its NUL, so entries run together.
    EXPECT_EQ(std::string(Errors_LogBuf(), 12), std::string("kept 7log a\0", 12));
    // The kept text is consumed.
    const char* second = Errors_LogPrintf("b");
    EXPECT_EQ(second, Errors_LogBuf() + 11);
    EXPECT_STREQ(Errors_LogBuf(), "kept 7log ab");
    EXPECT_EQ(boxes_.boxes.size(), 3u);
    // The log buffer stops taking entries once past its threshold, and never overruns.
    std::string big(1000, 'z');
    for (int k = 0; k < 5; k++) Errors_LogPrintf("%s", big.c_str());
    EXPECT_LT(strlen(Errors_LogBuf()), 1911u);
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(ErrorsTest, OverlongDebugTextEndsTheProgram) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            std::string t(5000, 'q');
            Errors_DebugPrintf("%s", t.c_str());
        },
        testing::ExitedWithCode(14),
        std::string(
            U8(u8"BOX\\[デバッグ表示\\] msg block over\n"
               u8"BOX\\[エラーメッセージ\\] EXIT from errors.cpp\\([0-9]+\\)\nBOXES=2\n$")));
}

TEST_F(ErrorsTest, CancelInADebugBoxEndsTheProgram) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath()->script.push_back(MsgBox_IDCANCEL);
            Errors_DebugPrintf("look %d", 1);
            fprintf(stderr, "not reached\n");
        },
        testing::ExitedWithCode(14),
        std::string(
            U8(u8"^BOX\\[デバッグ表示\\] look 1\n"
               u8"BOX\\[エラーメッセージ\\] EXIT from errors.cpp\\([0-9]+\\)\nBOXES=2\n$")));
}

int endingHook(int, int, const char*) {
    return 1;
}

TEST_F(ErrorsTest, HookReturningOneEndsTheProgramAtTheReport) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Errors_Callback = endingHook;
            Errors_Report("end.cpp", 42, 102, "Errors_Unofficial", "stop");
            fprintf(stderr, "not reached\n");
        },
        testing::ExitedWithCode(14), "^BOX\\[.*\\] EXIT from end.cpp\\(42\\)\nBOXES=1\n$");
}

TEST_F(ErrorsTest, MsgPoolPrintNumbersOnlyUsedSlots) {
    ArrX_Able* pool = Errors_GetMsgPool();
    Errors_Msg* slots = static_cast<Errors_Msg*>(pool->first);
    slots[1].used = 1;
    strcpy(slots[1].text, "first saved");
    slots[3].used = 1;
    strcpy(slots[3].text, "second saved");
    Errors_MsgPool_Print(pool);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"[1] first saved", "[2] second saved"}));

    boxes_.boxes.clear();
    Errors_Msg_Set(Errors_GetMsg(), 3, 102, "f.cpp", 9, "current %d", 5);
    Errors_PrintRecent();
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{
                  "[1] first saved", "[2] second saved",
                  "Following Message is recently Error, but it may have soluved...", "current 5"}));
}

TEST_F(ErrorsTest, PrintableCharTable) {
    struct {
        int in;
        char out;
    } cases[] = {{0, '0'},   {'\r', ' '},   {'\n', ' '}, {'\t', '.'}, {31, '.'}, {32, ' '},
                 {'A', 'A'}, {255, '\xFF'}, {-1, '.'},   {-128, '.'}, {256, '.'}};
    for (auto& c : cases) EXPECT_EQ(Errors_PrintableChar(c.in), c.out) << c.in;
}

TEST_F(ErrorsTest, DebugDumpLines) {
    Errors_PrintSize("buf", 3 * 1048576 + 2048);
    Errors_PrintInt("n", reinterpret_cast<void*>(0x10), 65, "x.cpp", 4);
    static const char kStr[] = "ab\ncd\x81";
    Errors_PrintStr("s", reinterpret_cast<void*>(0x20), kStr, "y.cpp", 5);
    ASSERT_EQ(boxes_.boxes.size(), 3u);
    EXPECT_EQ(boxes_.boxes[0].text, "  buf = 3147776, 0x300800, 3074KB, 3.001953MB");
    EXPECT_EQ(boxes_.boxes[1].text, "n (0x10) = 65(0x41) 'A' : x.cpp(4)");
    char expect[128];
    snprintf(expect, sizeof expect, "s (0x20) = %p \"ab cd.\" : y.cpp(5)",
             static_cast<const void*>(kStr));
    EXPECT_EQ(boxes_.boxes[2].text, expect);
    EXPECT_EQ(boxes_.boxes[2].title, Sjis(u8"デバッグ表示"));

    boxes_.boxes.clear();
    alignas(16) static unsigned char block[20];
    for (int k = 0; k < 20; k++) block[k] = static_cast<unsigned char>(k);
    unsigned a = static_cast<unsigned>(reinterpret_cast<uintptr_t>(block));
    Errors_DumpMem("m", block, 5, "z.cpp", 6);
    Errors_DumpMem("m", block, 20, "z.cpp", 7);
    ASSERT_EQ(boxes_.boxes.size(), 4u);
    char l0[128], l1[128], l2[128], l3[160];
    snprintf(l0, sizeof l0, "m(%08X)  %08X : 00 01 02 03 - 04 : z.cpp(6)", a, a);
    snprintf(l1, sizeof l1, "m(%08X) : size = 20(0x14) : z.cpp(7)", a);
    snprintf(l2, sizeof l2, "m  %08X : 00 01 02 03 - 04 05 06 07 - 08 09 0A 0B - 0C 0D 0E 0F - ",
             a);
    snprintf(l3, sizeof l3, "m  %08X : 10 11 12 13 - %s", a + 16, std::string(36, ' ').c_str());
    EXPECT_EQ(boxes_.boxes[0].text, l0);
    EXPECT_EQ(boxes_.boxes[1].text, l1);
    EXPECT_EQ(boxes_.boxes[2].text, l2);
    EXPECT_EQ(boxes_.boxes[3].text, l3);

    boxes_.boxes.clear();
    Errors_DumpAddr("d", block + 2, 3, "w.cpp", 8);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    char d0[160];
    snprintf(d0, sizeof d0, "d(%08X)  %08X :       02 03 - 04 %s: w.cpp(8)", a + 2, a,
             std::string(33, ' ').c_str());
    EXPECT_EQ(boxes_.boxes[0].text, d0);
}

TEST_F(ErrorsTest, WatchReportsChangedSteps) {
    static char text[16] = "watched";
    Errors_WatchStart(text, "t", true, 0, "w.cpp", 1);
    Errors_WatchCheck("here", 2);
    text[0] = 'W';
    Errors_WatchCheck("there", 3);
    Errors_WatchCheck("again", 4);
    ASSERT_EQ(boxes_.boxes.size(), 4u);
    EXPECT_NE(boxes_.boxes[0].text.find("first WATCH!"), std::string::npos);
    EXPECT_EQ(boxes_.boxes[1].text, "WATCH : no change : here(2)");
    EXPECT_NE(boxes_.boxes[2].text.find(": Watched : there(3)"), std::string::npos);
    EXPECT_EQ(boxes_.boxes[3].text, "WATCH : no change : again(4)");
}

TEST_F(ErrorsTest, CheckSumReportsAMismatch) {
    static const unsigned char data[] = {1, 2, 3, 250};
    const void* ranges[] = {data, data + 4};
    Errors_Callback = Except3_RaiseHook;
    Errors_SetCheckSum(256);
    EXPECT_EQ(CaughtCode([&] { Errors_CheckSum(ranges, sizeof ranges); }), 0);
    Errors_SetCheckSum(0);
    EXPECT_EQ(CaughtCode([&] { Errors_CheckSum(ranges, sizeof ranges); }), 110);
    EXPECT_NE(
        LastText().find("CheckSum ERROR run_sum = 256(0x00000100), right_sum = 0(0x00000000)"),
        std::string::npos);
}

TEST_F(ErrorsTest, BreakShowsUnlessFilteredOrMarked) {
    Errors_SetBreak(true, 0xCCCCCCCC, 1);
    Errors_Break(1, 7, "b.cpp", 10);
    Errors_Break(0xCCCCCCCC, 7, "b.cpp", 11);  // counted, not shown
    Errors_SetBreak(true, 9, 1);
    Errors_Break(1, 7, "b.cpp", 12);  // filtered out
    Errors_Break(1, 9, "b.cpp", 13);
    Errors_SetBreak(false, 0xCCCCCCCC, 1);
    Errors_Break(1, 9, "b.cpp", 14);
    Errors_SetBreak(true, 0xCCCCCCCC, 1);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"break in b.cpp(10) : hint = 7(0x7)",
                                                    "break in b.cpp(13) : hint = 9(0x9)"}));
}

}  // namespace
