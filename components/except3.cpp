#include "components/except3.h"

#include "components/arrx.h"
#include "components/bigstack.h"

#include <cstring>

const char* const Except3_Msgs[4] = {
    "キャッチできない例外が発生しました",
    ("catch か finally ブロック内か、ロングジャンプしない領域で例外を処理していないときに try "
     "があってはなりません。\n以前のエラーメッセージが一部消える可能性があります。"),
    "finally ブロック内で例外が発生しました。一部の後始末処理は行われません。",
    "try 用スタック領域がいっぱいになりました。",
};

namespace {
Except3_Sys g_sys;
int g_firstErrorCount = 0;
int g_secondErrorCount = 0;

[[noreturn]] void fatal(int line, int textIndex = 0) {
    Except3_Error(Except3_Code_Fatal, Except3_Msgs[textIndex], __FILE_NAME__, line);
}

// Marks the raise (again from a catch block, or a new one) and resumes the
// innermost frame; with none open, the fatal error.
[[noreturn]] void resumeInnermost(Except3_Sys* sys, int line) {
    if (sys->nTry <= 0) fatal(line);
    if (sys->bCatch)
        sys->bAgain = 1;
    else
        sys->bExcept = 1;
    throw Except3_Resume{sys->nTry - 1};
}

// Propagates a pending exception out of a removed frame.
void propagate(Except3_Sys* sys, unsigned char removedNoJump) {
    if (removedNoJump) return;  // stays pending for the enclosing no-jump region
    if (sys->nTry > 0) throw Except3_Resume{sys->nTry - 1};
    fatal(__LINE__);
}
}  // namespace

Except3_Sys* Except3_GetSys() {
    return &g_sys;
}

Except3_Saved Except3_Save(const Except3_Sys* sys) {
    const BigStack* stack = BigStack_Sys();
    return {sys->msg,     sys->bExcept, sys->bAgain, sys->bCatch,
            sys->bNoJump, sys->nTry,    stack->sp,   stack->block1};
}

void Except3_Restore(Except3_Sys* sys, const Except3_Saved& saved) {
    sys->msg = saved.msg;
    sys->bExcept = saved.bExcept;
    sys->bAgain = saved.bAgain;
    sys->bCatch = saved.bCatch;
    sys->bNoJump = saved.bNoJump;
    sys->nTry = saved.nTry;
    // Marks pushed inside the try are dropped; a stack never set up has none.
    BigStack* stack = BigStack_Sys();
    if (stack->mem) {
        stack->sp = saved.sp;
        stack->block1 = saved.block1;
    }
}

void Except3_Init(Except3_Sys* sys, Except3_Frame* frames, size_t size) {
    sys->bExcept = 0;
    sys->bNoJump = 0;
    sys->frames = frames;
    sys->maxTry = static_cast<int32_t>(size / sizeof(Except3_Frame));
}

void Except3_PushTry(Except3_Sys* sys, const char* file, int line) {
    if (sys->nTry < 0 || sys->nTry >= sys->maxTry) {
        // The frame array is full. The fatal path shows the saved current
        // record, so it is made to name the condition first.
        Errors_Msg_Set(Errors_GetMsg(), -1, Except3_Code_Fatal, __FILE_NAME__, __LINE__, "%s",
                       Except3_Msgs[3]);
        fatal(__LINE__, 3);
    }
    Except3_Frame* f = &sys->frames[sys->nTry];
    f->file = file;
    f->line = line;
    f->bNoJump = sys->bNoJump;
    sys->nTry++;
    sys->bExcept = sys->bAgain = sys->bCatch = sys->bNoJump = 0;
}

bool Except3_IsCatch(Except3_Sys* sys) {
    if (sys->bAgain) return false;
    sys->bCatch = 1;
    return true;
}

void Except3_EndTry(Except3_Sys* sys) {
    if (sys->nTry <= 0) fatal(__LINE__);
    const unsigned char savedNoJump = sys->frames[sys->nTry - 1].bNoJump;
    if (savedNoJump) sys->bNoJump = 1;
    if (!sys->bExcept) {
        sys->nTry--;
        return;
    }
    sys->nTry--;
    if (sys->bAgain) {
        sys->bAgain = 0;
        sys->bCatch = 0;
        propagate(sys, savedNoJump);
    } else if (sys->bCatch) {
        sys->bExcept = 0;
        sys->bCatch = 0;
    } else {
        propagate(sys, savedNoJump);
    }
}

void Except3_Throw(Except3_Sys* sys, Errors_Msg* msg) {
    Errors_EndReport();
    sys->msg = msg;
    if (sys->bNoJump) {
        sys->bExcept = 1;
        return;
    }
    resumeInnermost(sys, __LINE__);
}

void Except3_BeginNoJump(Except3_Sys* sys) {
    sys->bNoJump = 1;
}

void Except3_EndNoJump(Except3_Sys* sys) {
    sys->bNoJump = 0;
    if (!sys->bExcept) return;
    resumeInnermost(sys, __LINE__);
}

bool Except3_IsNoJump(Except3_Sys* sys) {
    return sys->bNoJump || sys->nTry == 0;
}

bool Except3_IsExcept(Except3_Sys* sys) {
    return sys->bExcept != 0;
}

void Except3_Dump(Except3_Sys* sys) {
    Errors_DebugPrintf("Except3:");
    Errors_DebugPrintf("  msg adr = %p", static_cast<void*>(sys->msg));
    Errors_DebugPrintf("  bExcept = %d", sys->bExcept);
    Errors_DebugPrintf("  bCatch = %d", sys->bCatch);
    Errors_DebugPrintf("  bAgain = %d", sys->bAgain);
    Errors_DebugPrintf("  nTry = %d", sys->nTry);
    for (int i = 0; i < sys->nTry && i < sys->maxTry; i++)
        Errors_DebugPrintf("  try[%d] in  %s:%d", i, sys->frames[i].file, sys->frames[i].line);
}

void Except3_Error(int code, const char* text, const char* file, int line) {
    if (++g_firstErrorCount >= 2) {
        Errors_Printf("%s", text);  // a table text is shown as it is, never as a format
    } else {
        Errors_Msg* cur = Errors_GetMsg();
        ArrX_Able* pool = Errors_GetMsgPool();
        // An unbound pool cannot keep the report; the boxes below then show none.
        // A full pool reports ArrX_Err_Full; when that report returns (no hook)
        // there is no slot and the report is not saved.
        if (pool->first) {
            Errors_Msg* slot =
                static_cast<Errors_Msg*>(ArrX_Able_FindFree(pool, sizeof(Errors_Msg), 0));
            if (slot) {
                memcpy(slot, cur, sizeof *slot);
                slot->used = 1;
            }
        }
        Errors_Msg_Set(cur, -1, code, file, line, "%s", text);
        if (Errors_Callback) {
            g_sys.bExcept = 0;
            auto callHook = [&] { Errors_Callback(cur->id, code, cur->text); };
            if (g_sys.nTry >= 0 && g_sys.nTry < g_sys.maxTry) {
                Except3_Try(&g_sys, __FILE_NAME__, __LINE__, callHook, [] {});
            } else {
                // No room for a frame of our own: a raise from the hook is dropped all the same.
                try {
                    callHook();
                } catch (const Except3_Resume&) {
                }
            }
        }
    }
    if (++g_secondErrorCount < 2) Errors_MsgPool_Print(Errors_GetMsgPool());
    Errors_Exit(file, line);
}

void Except3_Rethrow() {
    Except3_Throw(&g_sys, g_sys.msg);
    // Only a no-jump region opened by the catch block itself comes back here.
    fatal(__LINE__);
}

int Except3_RaiseHook(int, int code, const char*) {
    if (code == Errors_Code_EndProgram || code == Except3_Code_Fatal) return 1;
    Except3_Throw(&g_sys, Errors_GetMsg());
    return 0;  // only inside a no-jump region
}
