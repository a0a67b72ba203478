#include "components/except3.h"

#include "components/arrx.h"

#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace {

class Except3Test : public LibraryTest {
   protected:
    Except3_Sys* sys = Except3_GetSys();
    void Raise(int code = 102) { Errors_Report("r.cpp", 1, code, "Test_Err", "raised"); }
};

TEST_F(Except3Test, BodyEndingNormallyLeavesTheStackAsItWas) {
    bool ran = false;
    EXCEPT3_TRY(
        [&] {
            EXPECT_EQ(sys->nTry, 1);
            ran = true;
        },
        [&] { ADD_FAILURE() << "no raise, no catch"; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(sys->nTry, 0);
    EXPECT_FALSE(sys->bNoJump || sys->bExcept || sys->bAgain || sys->bCatch);

    // A try inside a catch block ends that block's bCatch.
    EXCEPT3_TRY([&] { Raise(); },
                [&] {
                    EXPECT_TRUE(sys->bCatch && sys->bExcept);
                    EXCEPT3_TRY([&] {}, [] {});
                    EXPECT_FALSE(sys->bCatch || sys->bExcept);
                    EXPECT_EQ(sys->nTry, 1);
                });
    EXPECT_EQ(sys->nTry, 0);
}

TEST_F(Except3Test, BodyEndingNormallyKeepsTheEnclosingFrameAndRegion) {
    // Inside an open frame and a no-jump region: the try's own body runs with
    // the region off, and the try's end brings back both as they were.
    EXCEPT3_TRY(
        [&] {
            Except3_BeginNoJump(sys);
            EXCEPT3_TRY(
                [&] {
                    EXPECT_EQ(sys->nTry, 2);
                    EXPECT_FALSE(sys->bNoJump);
                },
                [&] { ADD_FAILURE() << "no raise, no catch"; });
            EXPECT_EQ(sys->nTry, 1);
            EXPECT_TRUE(sys->bNoJump);
            EXPECT_FALSE(sys->bExcept || sys->bAgain || sys->bCatch);
            Except3_EndNoJump(sys);  // nothing pending: no jump
            EXPECT_FALSE(sys->bNoJump);
        },
        [&] { ADD_FAILURE() << "no raise, no catch"; });
    EXPECT_EQ(sys->nTry, 0);
    EXPECT_FALSE(sys->bNoJump || sys->bExcept || sys->bAgain || sys->bCatch);
}

TEST_F(Except3Test, ReportInBodyResumesCatchWithTheCurrentRecord) {
    bool after = false, caught = false;
    EXCEPT3_TRY(
        [&] {
            Raise(363);
            after = true;
        },
        [&] {
            caught = true;
            EXPECT_EQ(sys->msg, Errors_GetMsg());
            EXPECT_EQ(sys->msg->code, 363);
            EXPECT_TRUE(sys->bExcept && sys->bCatch && !sys->bAgain);
        });
    EXPECT_TRUE(caught);
    EXPECT_FALSE(after);
    // The catch block fell out: handled, and the statement after the try runs.
    EXPECT_FALSE(sys->bExcept || sys->bCatch || sys->bAgain);
    EXPECT_EQ(sys->nTry, 0);
}

TEST_F(Except3Test, RaiseAgainReachesTheOuterCatchWithTheSameRecord) {
    std::vector<std::string> steps;
    EXCEPT3_TRY(
        [&] {
            EXCEPT3_TRY([&] { Raise(901); },
                        [&] {
                            steps.push_back("inner");
                            Except3_Throw(sys, sys->msg);
                            steps.push_back("not reached");
                        });
            steps.push_back("after inner: not reached");
        },
        [&] {
            steps.push_back("outer " + std::to_string(sys->msg->code));
            EXPECT_EQ(sys->msg, Errors_GetMsg());
            EXPECT_EQ(sys->nTry, 1);
        });
    EXPECT_EQ(steps, (std::vector<std::string>{"inner", "outer 901"}));
    EXPECT_EQ(sys->nTry, 0);
    EXPECT_FALSE(sys->bExcept || sys->bCatch || sys->bAgain);
}

TEST_F(Except3Test, FrameWithoutCatchPropagates) {
    int outer = 0;
    EXCEPT3_TRY([&] { EXCEPT3_TRY([&] { Raise(591); }, [&] { Except3_Throw(sys, sys->msg); }); },
                [&] { outer = sys->msg->code; });
    EXPECT_EQ(outer, 591);
}

TEST_F(Except3Test, RaiseAgainWithNoOuterFrameEndsTheProgram) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            EXCEPT3_TRY([&] { Errors_Report("r.cpp", 9, 363, "FileX_Err_CannotReadOpen", "gone"); },
                        [&] { Except3_Throw(Except3_GetSys(), Except3_GetSys()->msg); });
        },
        testing::ExitedWithCode(14),
        "BOX\\[.*\\] \\[1\\] Error in r.cpp\\(9\\) : id = 1, code = 363, FileX_Err_CannotReadOpen, "
        "gone\nBOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\nBOXES=2");
}

TEST_F(Except3Test, RaiseWithNoFrameEndsTheProgram) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Errors_Report("r.cpp", 3, 102, "Errors_Unofficial", "no frame");
        },
        testing::ExitedWithCode(14),
        "BOX\\[.*\\] \\[1\\] Error in r.cpp\\(3\\) : id = 1, code = 102, Errors_Unofficial, no "
        "frame\nBOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\nBOXES=2");
}

TEST_F(Except3Test, FatalErrorLeavesTheRecordMarked) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            std::atexit([] {
                Errors_Msg* m = Errors_GetMsg();
                auto* saved = static_cast<Errors_Msg*>(Errors_GetMsgPool()->first);
                fprintf(stderr, "cur=%d,%d used=%d,%d\n", m->id, m->code, saved[0].used,
                        saved[1].used);
            });
            Errors_Report("r.cpp", 3, 102, "Errors_Unofficial", "x");
        },
        testing::ExitedWithCode(14), "cur=-1,5283 used=1,0");
}

TEST_F(Except3Test, HookEndsTheProgramForCode109) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            EXCEPT3_TRY([&] { Errors_Report("h.cpp", 2, 109, "End", "stop"); }, [] {});
        },
        testing::ExitedWithCode(14), "BOX\\[.*\\] EXIT from h.cpp\\(2\\)\nBOXES=1");
}

TEST_F(Except3Test, RaiseInNoJumpRegionReturnsThenEndNoJumpResumes) {
    std::vector<std::string> steps;
    EXCEPT3_TRY(
        [&] {
            Except3_BeginNoJump(sys);
            EXPECT_TRUE(Except3_IsNoJump(sys));
            Raise(595);
            steps.push_back("returned");
            EXPECT_TRUE(Except3_IsExcept(sys));
            Except3_EndNoJump(sys);
            steps.push_back("not reached");
        },
        [&] { steps.push_back("catch " + std::to_string(sys->msg->code)); });
    EXPECT_EQ(steps, (std::vector<std::string>{"returned", "catch 595"}));
    EXPECT_FALSE(sys->bNoJump || sys->bExcept);
    EXPECT_TRUE(Except3_IsNoJump(sys));  // no frame open
}

TEST_F(Except3Test, TryInsideNoJumpRegionJumpsThenLeavesThePendingException) {
    std::vector<std::string> steps;
    EXCEPT3_TRY(
        [&] {
            Except3_BeginNoJump(sys);
            EXCEPT3_TRY(
                [&] {
                    EXPECT_FALSE(sys->bNoJump);  // the try's own body jumps again
                    Raise(593);
                    steps.push_back("not reached");
                },
                [&] {
                    steps.push_back("inner catch");
                    Except3_Throw(sys, sys->msg);
                });
            // The region is in force again and the exception stays pending.
            steps.push_back("after inner try");
            EXPECT_TRUE(sys->bNoJump);
            EXPECT_TRUE(Except3_IsExcept(sys));
            Except3_EndNoJump(sys);
            steps.push_back("not reached either");
        },
        [&] { steps.push_back("outer catch " + std::to_string(sys->msg->code)); });
    EXPECT_EQ(steps,
              (std::vector<std::string>{"inner catch", "after inner try", "outer catch 593"}));
    EXPECT_EQ(sys->nTry, 0);
}

TEST_F(Except3Test, DumpListsFlagsAndFramesOutermostFirst) {
    int lineOuter = 0, lineInner = 0;
    EXCEPT3_TRY(
        [&] {
            lineOuter = sys->frames[0].line;
            EXCEPT3_TRY(
                [&] {
                    lineInner = sys->frames[1].line;
                    Except3_Dump(sys);
                },
                [] {});
        },
        [] {});
    ASSERT_EQ(boxes_.boxes.size(), 8u);
    char msgAdr[64];
    snprintf(msgAdr, sizeof msgAdr, "  msg adr = %p", static_cast<void*>(sys->msg));
    std::vector<std::string> expect = {
        "Except3:",
        msgAdr,
        "  bExcept = 0",
        "  bCatch = 0",
        "  bAgain = 0",
        "  nTry = 2",
        "  try[0] in  except3_test.cpp:" + std::to_string(lineOuter),
        "  try[1] in  except3_test.cpp:" + std::to_string(lineInner)};
    for (size_t i = 0; i < expect.size(); i++) EXPECT_EQ(boxes_.boxes[i].text, expect[i]) << i;
}

TEST_F(Except3Test, EleventhFrameEndsTheProgramInsteadOfOverrunning) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            std::function<void(int)> nest = [&](int depth) {
                EXCEPT3_TRY([&] { nest(depth + 1); }, [] {});
            };
            nest(1);
        },
        testing::ExitedWithCode(14),
        std::string(reinterpret_cast<const char*>(
            u8"\\[1\\] try 用スタック領域がいっぱいになりました。\n"
            u8"BOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\nBOXES=2")));
}

TEST_F(Except3Test, EndTryWithoutFrameEndsTheProgram) {
    // The saved record is the current one, still empty in a fresh process.
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Except3_EndTry(Except3_GetSys());
        },
        testing::ExitedWithCode(14),
        "^BOX\\[.*\\] \\[1\\] \nBOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\nBOXES=2\n$");
}

TEST_F(Except3Test, EndNoJumpWithAPendingExceptionAndNoFrameEndsTheProgram) {
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Except3_Sys* s = Except3_GetSys();
            Except3_BeginNoJump(s);
            Errors_Report("r.cpp", 5, 595, "IniFile_Err_FewAttr", "pending");
            fprintf(stderr, "returned=%d\n", Except3_IsExcept(s));
            Except3_EndNoJump(s);
        },
        testing::ExitedWithCode(14),
        "^returned=1\nBOX\\[.*\\] \\[1\\] Error in r.cpp\\(5\\) : id = 1, code = 595, "
        "IniFile_Err_FewAttr, pending\nBOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\n"
        "BOXES=2\n$");
}

TEST_F(Except3Test, ExceptionPendingAtTheEndOfTheOutermostBodyEndsTheProgram) {
    // The raise only marks the exception pending inside the region; the body
    // then ends normally and the frame's end finds no outer frame to take it.
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            EXCEPT3_TRY(
                [&] {
                    Except3_BeginNoJump(Except3_GetSys());
                    Errors_Report("r.cpp", 6, 593, "IniFile_Err_BadFormat", "left pending");
                },
                [] { fprintf(stderr, "catch ran\n"); });
        },
        testing::ExitedWithCode(14),
        "^BOX\\[.*\\] \\[1\\] Error in r.cpp\\(6\\) : id = 1, code = 593, "
        "IniFile_Err_BadFormat, left pending\nBOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\n"
        "BOXES=2\n$");
}

// Marks every slot of the message pool used, its text "saved n".
void FillMessagePool() {
    auto* slots = static_cast<Errors_Msg*>(Errors_GetMsgPool()->first);
    for (int i = 0; i < 5; i++) {
        slots[i].used = 1;
        snprintf(slots[i].text, sizeof slots[i].text, "saved %d", i);
    }
}

TEST_F(Except3Test, FullMessagePoolOnTheFatalPathShowsTheTableTextThenThePool) {
    // Saving the report finds no free slot: that report raises with no frame
    // either, and the second fatal error shows table text 0 and the pool.
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            FillMessagePool();
            Errors_Report("r.cpp", 7, 102, "Errors_Unofficial", "first");
        },
        testing::ExitedWithCode(14),
        std::string(reinterpret_cast<const char*>(
            u8"^BOX\\[.*\\] キャッチできない例外が発生しました\n"
            u8"BOX\\[.*\\] \\[1\\] saved 0\nBOX\\[.*\\] \\[2\\] saved 1\n"
            u8"BOX\\[.*\\] \\[3\\] saved 2\nBOX\\[.*\\] \\[4\\] saved 3\n"
            u8"BOX\\[.*\\] \\[5\\] saved 4\n"
            u8"BOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\nBOXES=7\n$")));
}

TEST_F(Except3Test, FullMessagePoolWithoutHookStillEndsTheProgramCleanly) {
    // Without a hook the pool's report returns with no slot: nothing is saved.
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Errors_Callback = nullptr;
            FillMessagePool();
            Except3_EndTry(Except3_GetSys());
        },
        testing::ExitedWithCode(14),
        "^BOX\\[.*\\] \\[1\\] saved 0\n(BOX\\[.*\\] \\[[2-4]\\] saved [1-3]\n){3}"
        "BOX\\[.*\\] \\[5\\] saved 4\nBOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\n"
        "BOXES=6\n$");
}

TEST_F(Except3Test, InitCountsWholeFrames) {
    Except3_Sys s{};
    Except3_Frame frames[3];
    s.nTry = 2;
    s.bExcept = s.bNoJump = 1;
    Except3_Init(&s, frames, sizeof frames + sizeof(Except3_Frame) / 2);
    EXPECT_EQ(s.maxTry, 3);
    EXPECT_EQ(s.nTry, 2);
    EXPECT_FALSE(s.bExcept || s.bNoJump);
}

}  // namespace
