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
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Except3_EndTry(Except3_GetSys());
        },
        testing::ExitedWithCode(14), "EXIT from except3.cpp");
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
