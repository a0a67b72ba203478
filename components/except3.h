// Exception frames: try/catch blocks on one process-wide frame stack.
//
// A report of the error core becomes an exception when the hook calls
// Except3_Throw with the current message record; the raise resumes the
// innermost open try frame, whose catch block handles the record by its code
// or raises it again. An exception that finds no frame, or a frame stack used
// out of order, ends the program through Except3_Error (status 14).
//
// Frames ride on C++ exceptions: resuming frame k throws Except3_Resume{k},
// which the try helper of frame k catches, so objects between the raise and
// the frame are destroyed on the way. The flags, the frame records and the
// order of every step are those of the classic context-jump design: every try
// site is written through Except3_Try so that they all read the same.
//
// One frame stack for the process, unlocked: frames of two threads must never
// be open at the same time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "components/bigstack.h"
#include "components/errors.h"

// One open try. The file name is not copied; it must outlive the frame.
struct Except3_Frame {
    unsigned char bNoJump;  // the stack's bNoJump when the try was opened
    const char* file;
    int32_t line;
};

struct Except3_Sys {
    Errors_Msg* msg;        // the record being raised
    unsigned char bExcept;  // an exception is pending
    unsigned char bAgain;   // raised again from inside a catch block
    unsigned char bCatch;   // a catch block of the innermost frame is running
    unsigned char bNoJump;  // a no-jump region is open: a raise only marks it pending
    int32_t nTry;           // open try frames
    int32_t maxTry;         // capacity of the frame array
    Except3_Frame* frames;  // caller-supplied storage
};

// The resumption of frame number `frame` (thrown, never caught by user code).
struct Except3_Resume {
    int frame;
};

// The message table; only text 0 is shown by the system's own paths.
extern const char* const Except3_Msgs[4];

// The process-wide frame stack.
Except3_Sys* Except3_GetSys();

// Clears bExcept and bNoJump and binds the frames; maxTry = the whole frames
// that fit in size bytes; nTry keeps its value.
void Except3_Init(Except3_Sys* sys, Except3_Frame* frames, size_t size);
// Registers frame nTry (file, line, the current bNoJump), adds 1 to nTry and
// clears all four flags. A push beyond maxTry ends the program through
// Except3_Error with table text 3 instead of writing past the array.
void Except3_PushTry(Except3_Sys* sys, const char* file, int line);
// On resumption: false when bAgain is set; otherwise sets bCatch, true.
bool Except3_IsCatch(Except3_Sys* sys);
// Closes the innermost frame; may resume an outer frame (throws) or end the
// program when none is left.
void Except3_EndTry(Except3_Sys* sys);
// Raises msg: ends the current report, then resumes frame nTry - 1. Returns
// to the raiser only inside a no-jump region (the exception stays pending).
void Except3_Throw(Except3_Sys* sys, Errors_Msg* msg);
void Except3_BeginNoJump(Except3_Sys* sys);
// Clears bNoJump and raises a pending exception to the innermost frame.
void Except3_EndNoJump(Except3_Sys* sys);
// True when a raise now would not jump: bNoJump is set or no frame is open.
bool Except3_IsNoJump(Except3_Sys* sys);
bool Except3_IsExcept(Except3_Sys* sys);
// Debug display of the flags and one "  try[%d] in  %s:%d" line per open frame.
void Except3_Dump(Except3_Sys* sys);
// The fatal error of the module: saves the current report into the message
// pool, shows "[1] ..." and "EXIT from ...", ends the process with status 14.
[[noreturn]] void Except3_Error(int code, const char* text, const char* file, int line);

// The application's error hook: ends the program (returns 1) for codes 109
// and 5283, raises every other report with Except3_Throw.
int Except3_RaiseHook(int id, int code, const char* text);

// The frame stack's state and the process-wide scratch stack's marks at the
// start of a try: what the try puts back when a standard exception (not a
// report: std::bad_alloc, a file-system error) passes through it.
struct Except3_Saved {
    Errors_Msg* msg;
    unsigned char bExcept, bAgain, bCatch, bNoJump;
    int32_t nTry;
    unsigned char* sp;
    unsigned char* block1;
};
Except3_Saved Except3_Save(const Except3_Sys* sys);
void Except3_Restore(Except3_Sys* sys, const Except3_Saved& saved);

// A try site: runs body; when a raise resumes this frame and it is not a
// raise from its own catch block, runs catchBlock (which reads sys->msg and
// handles it by falling out, or passes it on with Except3_Rethrow); always
// ends with Except3_EndTry. Neither body nor catchBlock may return from the
// enclosing function (they are lambdas: a return leaves only the lambda).
//
// The clean-up, when given, releases what the body holds and runs exactly
// once on every way out: after Except3_EndTry when the body ends normally
// (a report from it goes to the enclosing frame); before catchBlock when a
// report resumes this frame (so the catch block may raise again at once, and
// must not use what was released); and when a standard exception passes.
//
// A standard exception (not a report: std::bad_alloc, a file-system error)
// leaves the try with the frame count, the four flags, the record pointer and
// the scratch stack's marks as they were when the try began, then runs the
// clean-up, and goes on: a caller that catches it need not repair the frame
// stack.
template <class Body, class Catch, class Cleanup>
void Except3_Try(Except3_Sys* sys, const char* file, int line, Body&& body, Catch&& catchBlock,
                 Cleanup&& cleanup) {
    const int frame = sys->nTry;
    const Except3_Saved saved = Except3_Save(sys);
    bool cleaned = false;
    auto cleanOnce = [&] {
        if (cleaned) return;
        cleaned = true;
        cleanup();
    };
    try {
        bool resumed = false;
        try {
            Except3_PushTry(sys, file, line);
            body();
        } catch (const Except3_Resume& r) {
            if (r.frame != frame) throw;
            resumed = true;
        }
        while (resumed) {
            resumed = false;
            if (Except3_IsCatch(sys)) {
                try {
                    cleanOnce();
                    catchBlock();
                } catch (const Except3_Resume& r) {
                    if (r.frame != frame) throw;
                    resumed = true;
                }
            }
        }
        Except3_EndTry(sys);
    } catch (const Except3_Resume&) {
        // This frame is closed and the report goes on to an outer one.
        cleanOnce();
        throw;
    } catch (...) {
        Except3_Restore(sys, saved);
        cleanOnce();
        throw;
    }
    cleanOnce();
}

template <class Body, class Catch>
void Except3_Try(Except3_Sys* sys, const char* file, int line, Body&& body, Catch&& catchBlock) {
    Except3_Try(sys, file, line, body, catchBlock, [] {});
}

// Raises the record being handled (the stack's msg) again from a catch block:
// the one way a catch block passes a report on, after its own work. Never
// returns: a catch block runs outside any no-jump region (its try closed the
// region), and a catch block that opens one and raises inside it ends the
// program (5283, table text 0). Usable as a whole catch block:
// EXCEPT3_TRY(body, Except3_Rethrow, cleanup).
[[noreturn]] void Except3_Rethrow();

// The usual try site on the process-wide stack, naming this source place:
// EXCEPT3_TRY(body, catchBlock). Variadic, so that commas inside the lambdas
// (braced initialisers) do not split the arguments.
#define EXCEPT3_TRY(...) Except3_Try(Except3_GetSys(), __FILE_NAME__, __LINE__, __VA_ARGS__)

// Runs body(stack) under a mark of the process-wide scratch stack. The mark is
// popped on every way out: after body, before a report goes on to the
// caller's frame, and when a standard exception passes.
template <class Body>
void Except3_WithScratch(Body&& body) {
    BigStack* stack = BigStack_Sys();
    BigStack_Push(stack);
    EXCEPT3_TRY([&] { body(stack); }, Except3_Rethrow, [&] { BigStack_Pop(stack); });
}
