#include "components/except3.h"

#include "components/arrx.h"
#include "components/bigstack.h"

#include <filesystem>
#include <functional>
#include <tuple>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "support/testsupport.h"

namespace {

using Steps = std::vector<std::string>;

class Except3Test : public LibraryTest {
   protected:
    Except3_Sys* sys = Except3_GetSys();
    void Raise(int code) { Errors_Report("r.cpp", 1, code, "Test_Err", "raised"); }
    bool AnyFlag() const { return sys->bNoJump || sys->bExcept || sys->bAgain || sys->bCatch; }
};

// What runs, in order, in nested frames and no-jump regions. Each step logs
// the frames open, the flags set and, while raised, the current record's
// code; every try logs "past" when its code goes on after it.
TEST_F(Except3Test, BodiesCatchesAndNoJumpRegionsRunInOrder) {
    Steps steps;
    auto log = [&](const std::string& what) {
        std::string s = what + " n" + std::to_string(sys->nTry) + (sys->bNoJump ? " nojump" : "") +
                        (sys->bExcept ? " except" : "") + (sys->bCatch ? " catch" : "") +
                        (sys->bAgain ? " again" : "");
        if (sys->bExcept || sys->bCatch) s += " " + std::to_string(sys->msg->code);
        if (sys->msg && sys->msg != Errors_GetMsg()) s += " other record";
        steps.push_back(s);
    };
    using Fn = std::function<void()>;
    auto step = [&](const char* what) -> Fn { return [=] { log(what); }; };
    auto raise = [&](int code) -> Fn {
        return [=, this] {
            Raise(code);
            log("returned");
        };
    };
    auto rethrow = [&](const char* what) -> Fn {
        return [=, this] {
            log(what);
            Except3_Throw(sys, sys->msg);
        };
    };
    auto tryIn = [&](Fn body, Fn catchBlock) -> Fn {
        return [=] {
            EXCEPT3_TRY(body, catchBlock);
            log("past");
        };
    };
    auto region = [&](Fn inner) -> Fn {
        return [=, this] {
            Except3_BeginNoJump(sys);
            inner();
            log("region");
            Except3_EndNoJump(sys);
            log("end");
        };
    };
    const std::tuple<const char*, Fn, Steps> cases[] = {
        {"a body ending normally", tryIn(step("body"), step("catch")), {"body n1", "past n0"}},
        {"an inner frame runs with the region off and brings it back",
         tryIn(region(tryIn(step("inner"), step("catch"))), step("catch")),
         {"inner n2", "past n1 nojump", "region n1 nojump", "end n1", "past n0"}},
        {"a report resumes the catch; raising again reaches the outer catch",
         tryIn(tryIn(raise(363), rethrow("inner")), step("outer")),
         {"inner n2 except catch 363", "outer n1 except catch 363", "past n0"}},
        {"a raise in a no-jump region returns; the region's end resumes the catch",
         tryIn(region(raise(595)), step("catch")),
         {"returned n1 nojump except 595", "region n1 nojump except 595",
          "catch n1 except catch 595", "past n0"}},
        {"a try in a no-jump region jumps, then leaves its exception pending",
         tryIn(region(tryIn(raise(593), rethrow("inner"))), step("outer")),
         {"inner n2 except catch 593", "past n1 nojump except 593", "region n1 nojump except 593",
          "outer n1 except catch 593", "past n0"}},
    };
    for (const auto& [what, run, want] : cases) {
        steps.clear();
        run();
        EXPECT_EQ(want, steps) << what;
    }
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
    Except3_Sys s{};
    Except3_Frame frames[3];
    Except3_Init(&s, frames, sizeof frames + sizeof(Except3_Frame) / 2);
    EXPECT_EQ(3, s.maxTry);  // whole frames only
}

// A standard exception passing through frames, from a body or a catch block,
// leaves the frame count, the flags, the record pointer and the scratch marks
// exactly as they were when the outermost try it left began: outside any
// frame, inside a no-jump region, inside a catch block (so a caller that
// catches it has nothing to repair, and nothing is reset to zero by hand).
TEST_F(Except3Test, StandardExceptionLeavesFramesFlagsAndScratchAsBefore) {
    BigStack* bs = BigStack_Sys();
    const std::pair<const char*, void (*)()> kinds[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }},
        {"filesystem", [] {
             throw std::filesystem::filesystem_error(
                 "x", std::make_error_code(std::errc::no_such_file_or_directory));
         }}};
    auto state = [&] {
        return std::make_tuple(sys->msg, sys->bExcept, sys->bAgain, sys->bCatch, sys->bNoJump,
                               sys->nTry, bs->sp, bs->block1);
    };
    auto check = [&](const std::string& where) {
        for (const auto& [what, raise] : kinds) {
            for (bool fromCatch : {false, true}) {
                const std::string name = where + " " + what + (fromCatch ? " from catch" : "");
                BigStack_Push(bs);  // an outer request's mark stays
                const auto before = state();
                bool caught = false;
                try {
                    EXCEPT3_TRY(
                        [&] {
                            BigStack_Push(bs);
                            BigStack_Alloc(bs, 100);
                            EXCEPT3_TRY(
                                [&] {
                                    BigStack_Push(bs);
                                    if (fromCatch) Raise(363);
                                    raise();
                                },
                                [&] { raise(); });
                        },
                        [] {});
                } catch (const std::exception&) {
                    caught = true;
                }
                EXPECT_TRUE(caught) << name;
                EXPECT_TRUE(before == state()) << name;
                BigStack_Pop(bs);
            }
        }
    };
    check("outside");
    Except3_BeginNoJump(sys);
    check("no-jump region");
    Except3_EndNoJump(sys);
    EXCEPT3_TRY([&] { Raise(595); }, [&] { check("catch block"); });
    EXPECT_TRUE(sys->nTry == 0 && !AnyFlag());
    // Frames work as before: a report reaches its own catch block.
    EXPECT_EQ(595, CaughtCode([&] { Raise(595); }));
}

// The clean-up of a try runs exactly once on every way out, before the catch
// block on a report; Except3_Rethrow passes the same record to the next frame.
TEST_F(Except3Test, CleanUpRunsOnceOnEveryWayOut) {
    Steps steps;
    auto log = [&](const std::string& what) {
        steps.push_back(what + " n" + std::to_string(sys->nTry) + (sys->bCatch ? " catch" : ""));
    };
    using Fn = std::function<void()>;
    auto say = [&](const char* what) -> Fn { return [=] { log(what); }; };
    auto raise = [&](int code) -> Fn { return [=, this] { Raise(code); }; };
    auto then = [](Fn first, Fn second) -> Fn { return [=] { first(), second(); }; };
    const Fn bad = [] { throw std::bad_alloc(); }, clean = say("clean");
    const struct {
        const char* name;
        Fn body, catchBlock, cleanup;
        Steps want;
        int outerCode;  // what reaches the enclosing frame; -1 a standard exception
    } cases[] = {
        {"normal end: after the frame closed",
         say("body"),
         say("catch"),
         clean,
         {"body n2", "clean n1"},
         0},
        {"handled: before the catch block",
         raise(363),
         say("catch"),
         clean,
         {"clean n2 catch", "catch n2 catch"},
         0},
        {"raised again: the outer frame gets the record",
         raise(363),
         then(say("catch"), Except3_Rethrow),
         clean,
         {"clean n2 catch", "catch n2 catch"},
         363},
        {"a new raise from the catch block",
         raise(363),
         raise(595),
         clean,
         {"clean n2 catch"},
         595},
        {"a standard exception from the body", bad, say("catch"), clean, {"clean n1"}, -1},
        {"a standard exception from the catch block",
         raise(363),
         bad,
         clean,
         {"clean n2 catch"},
         -1},
        {"a report from the clean-up after a normal end goes out",
         say("body"),
         say("catch"),
         then(clean, raise(365)),
         {"body n2", "clean n1"},
         365},
    };
    for (const auto& c : cases) {
        steps.clear();
        int code = 0;
        try {
            code = CaughtCode([&] { EXCEPT3_TRY(c.body, c.catchBlock, c.cleanup); });
        } catch (const std::bad_alloc&) {
            code = -1;
        }
        EXPECT_EQ(c.want, steps) << c.name;
        EXPECT_EQ(c.outerCode, code) << c.name;
        EXPECT_TRUE(sys->nTry == 0 && !AnyFlag()) << c.name;
    }
}

// The scratch helper pops its mark on every way out, a standard exception too.
TEST_F(Except3Test, WithScratchPopsItsMarkOnEveryWayOut) {
    BigStack* bs = BigStack_Sys();
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"normal", [] {}},
        {"report", [this] { Raise(363); }},
        {"standard exception", [] { throw std::bad_alloc(); }},
    };
    for (const auto& [name, leave] : cases) {
        unsigned char *sp = bs->sp, *mark = bs->block1;
        auto use = [&] {
            Except3_WithScratch([&](BigStack* stack) {
                BigStack_Alloc(stack, 64);
                leave();
            });
        };
        // A report needs a frame to reach; a standard exception is caught
        // with no frame around that could put the marks back.
        try {
            if (std::string(name) == "report")
                CaughtCode(use);
            else
                use();
        } catch (const std::bad_alloc&) {
        }
        EXPECT_TRUE(sp == bs->sp && mark == bs->block1) << name;
    }
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

Except3_Sys* Sys() {
    return Except3_GetSys();
}
void Report(int line, int code, const char* text) {
    Errors_Report("r.cpp", line, code, "Test_Err", "%s", text);
}

// Every fatal path of the frame stack ends the process with status 14.
TEST_F(Except3Test, FatalPathsEndTheProgramWithTheirBoxes) {
    const std::string exitBox = "BOX\\[.*\\] EXIT from except3.cpp\\([0-9]+\\)\nBOXES=";
    // The saved current record as "[1] ..." and the EXIT box.
    auto saved = [&](const std::string& record) {
        return "BOX\\[.*\\] \\[1\\] " + record + "\n" + exitBox + "2";
    };
    std::string pool;
    for (int i = 0; i < 5; i++)
        pool += "BOX\\[.*\\] \\[" + std::to_string(i + 1) + "\\] saved " + std::to_string(i) + "\n";
    const std::pair<void (*)(), std::string> cases[] = {
        {[] { Report(3, 102, "no frame"); }, saved("Error in r.cpp\\(3\\) : id = 1, code = 102, "
                                                   "Test_Err, no frame")},
        {[] {
             EXCEPT3_TRY([] { Report(9, 363, "gone"); }, [] { Except3_Throw(Sys(), Sys()->msg); });
         },
         saved("Error in r.cpp\\(9\\) : id = 1, code = 363, Test_Err, gone")},
        {[] { Nest(1); }, saved(U8(u8"try 用スタック領域がいっぱいになりました。"))},
        {[] { Except3_EndTry(Sys()); }, saved("")},  // the empty current record
        {[] {
             Except3_BeginNoJump(Sys());
             Report(5, 595, "pending");
             Except3_EndNoJump(Sys());
         },
         saved("Error in r.cpp\\(5\\) .*pending")},
        {[] {  // pending at the end of the outermost body
             EXCEPT3_TRY(
                 [] {
                     Except3_BeginNoJump(Sys());
                     Report(6, 593, "left pending");
                 },
                 [] { fprintf(stderr, "catch ran\n"); });
         },
         saved("Error in r.cpp\\(6\\) .*left pending")},
        // A catch block that opens a no-jump region and raises again in it.
        {[] {
             EXCEPT3_TRY([] { Report(8, 363, "kept"); },
                         [] {
                             Except3_BeginNoJump(Sys());
                             Except3_Rethrow();
                         });
         },
         saved("Error in r.cpp\\(8\\) .*kept")},
        // The hook ends the program for 109 where it was reported.
        {[] { EXCEPT3_TRY([] { Report(2, 109, "stop"); }, [] {}); },
         "BOX\\[.*\\] EXIT from r.cpp\\(2\\)\nBOXES=1"},
        // A full pool on the fatal path: the second fatal error shows table
        // text 0 and the pool; without a hook that report returns, nothing saved.
        {[] {
             FillMessagePool();
             Report(7, 102, "first");
         },
         U8(u8"BOX\\[.*\\] キャッチできない例外が発生しました\n") + pool + exitBox + "7"},
        {[] {
             Errors_Callback = nullptr;
             FillMessagePool();
             Except3_EndTry(Sys());
         },
         pool + exitBox + "6"},
        // A fatal error while the fatal path runs shows its text as it is,
        // never as a format.
        {[] {
             Errors_Callback = [](int, int, const char*) {
                 Except3_Error(5283, "100%s done", "h.cpp", 4);
                 return 0;
             };
             Except3_EndTry(Sys());
         },
         "BOX\\[.*\\] 100%s done\nBOX\\[.*\\] \\[1\\] \nBOX\\[.*\\] EXIT from "
         "h.cpp\\(4\\)\nBOXES=3"},
    };
    for (const auto& [run, boxes] : cases) {
        EXPECT_EXIT(
            {
                SetUpLibraryForDeath();
                run();
            },
            testing::ExitedWithCode(14), "^" + boxes + "\n$");
    }
}

}  // namespace
