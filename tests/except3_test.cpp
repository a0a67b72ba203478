#include "components/except3.h"

#include "components/arrx.h"

#include <string>
#include <vector>

#include "support/testsupport.h"

namespace {

using Steps = std::vector<std::string>;

class Except3Test : public LibraryTest {
   protected:
    Except3_Sys* sys = Except3_GetSys();
    void Raise(int code = 102) { Errors_Report("r.cpp", 1, code, "Test_Err", "raised"); }
    bool AnyFlag() const { return sys->bNoJump || sys->bExcept || sys->bAgain || sys->bCatch; }
};

TEST_F(Except3Test, BodyEndingNormallyLeavesTheStackAsItWas) {
    bool ran = false;
    EXCEPT3_TRY([&] { ran = sys->nTry == 1; }, [&] { ADD_FAILURE() << "no raise, no catch"; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(0, sys->nTry);
    EXPECT_FALSE(AnyFlag());

    // Inside an open frame and a no-jump region: the inner body runs with the
    // region off, and its end brings back both as they were.
    EXCEPT3_TRY(
        [&] {
            Except3_BeginNoJump(sys);
            EXCEPT3_TRY([&] { EXPECT_TRUE(sys->nTry == 2 && !sys->bNoJump); },
                        [&] { ADD_FAILURE() << "no raise, no catch"; });
            EXPECT_EQ(1, sys->nTry);
            EXPECT_TRUE(sys->bNoJump && !sys->bExcept && !sys->bAgain && !sys->bCatch);
            Except3_EndNoJump(sys);  // nothing pending: no jump
        },
        [&] { ADD_FAILURE() << "no raise, no catch"; });
    EXPECT_EQ(0, sys->nTry);
    EXPECT_FALSE(AnyFlag());

    // A try inside a catch block ends that block's bCatch.
    EXCEPT3_TRY([&] { Raise(); },
                [&] {
                    EXPECT_TRUE(sys->bCatch && sys->bExcept);
                    EXCEPT3_TRY([&] {}, [] {});
                    EXPECT_FALSE(sys->bCatch || sys->bExcept);
                    EXPECT_EQ(1, sys->nTry);
                });
    EXPECT_EQ(0, sys->nTry);
}

TEST_F(Except3Test, ReportResumesCatchWithTheCurrentRecordAndCatchFallsOut) {
    Steps steps;
    EXCEPT3_TRY(
        [&] {
            Raise(363);
            steps.push_back("after the raise");
        },
        [&] {
            steps.push_back("catch " + std::to_string(sys->msg->code));
            EXPECT_EQ(Errors_GetMsg(), sys->msg);
            EXPECT_TRUE(sys->bExcept && sys->bCatch && !sys->bAgain);
        });
    EXPECT_EQ(Steps{"catch 363"}, steps);
    EXPECT_FALSE(AnyFlag());
    EXPECT_EQ(0, sys->nTry);
}

TEST_F(Except3Test, RaiseAgainReachesTheOuterCatchWithTheSameRecord) {
    Steps steps;
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
            EXPECT_EQ(Errors_GetMsg(), sys->msg);
            EXPECT_EQ(1, sys->nTry);
        });
    EXPECT_EQ((Steps{"inner", "outer 901"}), steps);
    EXPECT_EQ(0, sys->nTry);
    EXPECT_FALSE(AnyFlag());
}

TEST_F(Except3Test, RaiseInNoJumpRegionReturnsThenEndNoJumpResumes) {
    Steps steps;
    EXCEPT3_TRY(
        [&] {
            Except3_BeginNoJump(sys);
            EXPECT_TRUE(Except3_IsNoJump(sys));
            Raise(595);
            steps.push_back(Except3_IsExcept(sys) ? "returned, pending" : "returned");
            Except3_EndNoJump(sys);
            steps.push_back("not reached");
        },
        [&] { steps.push_back("catch " + std::to_string(sys->msg->code)); });
    EXPECT_EQ((Steps{"returned, pending", "catch 595"}), steps);
    EXPECT_FALSE(sys->bNoJump || sys->bExcept);
    EXPECT_TRUE(Except3_IsNoJump(sys));  // no frame open
}

TEST_F(Except3Test, TryInsideNoJumpRegionJumpsThenLeavesThePendingException) {
    Steps steps;
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
            steps.push_back(sys->bNoJump && Except3_IsExcept(sys) ? "after, pending" : "after");
            Except3_EndNoJump(sys);
            steps.push_back("not reached either");
        },
        [&] { steps.push_back("outer catch " + std::to_string(sys->msg->code)); });
    EXPECT_EQ((Steps{"inner catch", "after, pending", "outer catch 593"}), steps);
    EXPECT_EQ(0, sys->nTry);
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
    EXPECT_EQ((Steps{"Except3:", "  msg adr = " + PtrText(sys->msg), "  bExcept = 0",
                     "  bCatch = 0", "  bAgain = 0", "  nTry = 2",
                     "  try[0] in  except3_test.cpp:" + std::to_string(lineOuter),
                     "  try[1] in  except3_test.cpp:" + std::to_string(lineInner)}),
              BoxTexts(boxes_));
}

TEST_F(Except3Test, InitCountsWholeFrames) {
    Except3_Sys s{};
    Except3_Frame frames[3];
    s.nTry = 2;
    s.bExcept = s.bNoJump = 1;
    Except3_Init(&s, frames, sizeof frames + sizeof(Except3_Frame) / 2);
    EXPECT_EQ(3, s.maxTry);
    EXPECT_EQ(2, s.nTry);
    EXPECT_FALSE(s.bExcept || s.bNoJump);
}

// Marks every slot of the message pool used, its text "saved n".
void FillMessagePool() {
    auto* slots = static_cast<Errors_Msg*>(Errors_GetMsgPool()->first);
    for (int i = 0; i < 5; i++) {
        slots[i].used = 1;
        snprintf(slots[i].text, sizeof slots[i].text, "saved %d", i);
    }
}

void Nest(int depth) {
    EXCEPT3_TRY([&] { Nest(depth + 1); }, [] {});
}

// Every fatal path of the frame stack ends the process with status 14.
TEST_F(Except3Test, FatalPathsEndTheProgramWithTheirBoxes) {
    const std::string exitBox = "BOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\nBOXES=";
    // These show the saved current record as "[1] ..." and the EXIT box.
    const std::pair<void (*)(), std::string> savedRecord[] = {
        {[] { Errors_Report("r.cpp", 3, 102, "Errors_Unofficial", "no frame"); },
         "Error in r.cpp\\(3\\) : id = 1, code = 102, Errors_Unofficial, no frame"},
        {[] {
             EXCEPT3_TRY([] { Errors_Report("r.cpp", 9, 363, "FileX_Err_CannotReadOpen", "gone"); },
                         [] { Except3_Throw(Except3_GetSys(), Except3_GetSys()->msg); });
         },
         "Error in r.cpp\\(9\\) : id = 1, code = 363, FileX_Err_CannotReadOpen, gone"},
        {[] { Nest(1); }, U8(u8"try 用スタック領域がいっぱいになりました。")},
        {[] { Except3_EndTry(Except3_GetSys()); }, ""},  // the empty current record
        {[] {
             Except3_BeginNoJump(Except3_GetSys());
             Errors_Report("r.cpp", 5, 595, "IniFile_Err_FewAttr", "pending");
             Except3_EndNoJump(Except3_GetSys());
         },
         "Error in r.cpp\\(5\\) : id = 1, code = 595, IniFile_Err_FewAttr, pending"},
        {[] {  // pending at the end of the outermost body
             EXCEPT3_TRY(
                 [] {
                     Except3_BeginNoJump(Except3_GetSys());
                     Errors_Report("r.cpp", 6, 593, "IniFile_Err_BadFormat", "left pending");
                 },
                 [] { fprintf(stderr, "catch ran\n"); });
         },
         "Error in r.cpp\\(6\\) : id = 1, code = 593, IniFile_Err_BadFormat, left pending"}};
    for (const auto& [run, record] : savedRecord) {
        EXPECT_EXIT(
            {
                SetUpLibraryForDeath();
                run();
            },
            testing::ExitedWithCode(14),
            "^BOX\\[.*\\] \\[1\\] " + record + "\n" + exitBox + "2\n$");
    }
    // The current record is marked as the fatal error once the report is saved.
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            std::atexit([] {
                auto* saved = static_cast<Errors_Msg*>(Errors_GetMsgPool()->first);
                fprintf(stderr, "cur=%d,%d used=%d,%d\n", Errors_GetMsg()->id,
                        Errors_GetMsg()->code, saved[0].used, saved[1].used);
            });
            Errors_Report("r.cpp", 3, 102, "Errors_Unofficial", "x");
        },
        testing::ExitedWithCode(14), "cur=-1,5283 used=1,0");
    // The hook ends the program for 109 where it was reported.
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            EXCEPT3_TRY([] { Errors_Report("h.cpp", 2, 109, "End", "stop"); }, [] {});
        },
        testing::ExitedWithCode(14), "^BOX\\[.*\\] EXIT from h.cpp\\(2\\)\nBOXES=1\n$");
    // A full pool on the fatal path: the report of saving finds no frame
    // either, and the second fatal error shows table text 0 and the pool;
    // without a hook that report returns and nothing is saved.
    std::string pool;
    for (int i = 0; i < 5; i++)
        pool += "BOX\\[.*\\] \\[" + std::to_string(i + 1) + "\\] saved " + std::to_string(i) + "\n";
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            FillMessagePool();
            Errors_Report("r.cpp", 7, 102, "Errors_Unofficial", "first");
        },
        testing::ExitedWithCode(14),
        U8(u8"^BOX\\[.*\\] キャッチできない例外が発生しました\n") + pool + exitBox + "7\n$");
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Errors_Callback = nullptr;
            FillMessagePool();
            Except3_EndTry(Except3_GetSys());
        },
        testing::ExitedWithCode(14), "^" + pool + exitBox + "6\n$");
}

}  // namespace
