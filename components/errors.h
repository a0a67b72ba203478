// The error core: every failure of the system is reported through Errors_Report.
//
// A report composes one line from the reporting source file and line, a code,
// an error-id name and a printf message, stores it in the current message
// record and calls the error hook; the application's hook raises it to the
// innermost try frame (except3.h). The module also owns the error and debug
// message boxes, the fatal end of the program (exit status 14), the pool of
// saved messages shown when the program dies, the debug page buffer with
// errlog.txt / errlog4.txt, and the debugging dumps.
//
// All texts are CP932. All state is process-wide and unlocked: one current
// message, one set of counters, one debug page buffer; static buffers make
// every operation non-re-entrant. Reports of two threads must never overlap.
#pragma once

#include <cstddef>
#include <cstdint>

struct ArrX_Able;

// An error id: its fixed code and its name, as a report passes them.
struct Errors_Id {
    int code;
    const char* name;
};

#define ERRORS_DEFINE_ID(idName, idCode) \
    inline constexpr Errors_Id idName {  \
        idCode, #idName                  \
    }
ERRORS_DEFINE_ID(Errors_Unofficial, 102);
ERRORS_DEFINE_ID(Errors_NotSupport, 107);
ERRORS_DEFINE_ID(Errors_BadCheckSum, 110);
ERRORS_DEFINE_ID(BigStack_Full, 281);
ERRORS_DEFINE_ID(BLex2_Err_DefferentKakkoType, 322);
ERRORS_DEFINE_ID(BLex2_Err_BinaryCannotParse, 323);
ERRORS_DEFINE_ID(BLex2_Err_NoCommentEnd, 324);
ERRORS_DEFINE_ID(FileX_Err_EOF, 361);
ERRORS_DEFINE_ID(FileX_Err_CannotWriteOpen, 362);
ERRORS_DEFINE_ID(FileX_Err_CannotReadOpen, 363);
ERRORS_DEFINE_ID(FileX_Err_CannotWrite, 365);
ERRORS_DEFINE_ID(IniFile_NotFoundSection, 591);
ERRORS_DEFINE_ID(IniFile_Err_FewBuf, 592);
ERRORS_DEFINE_ID(IniFile_Err_BadFormat, 593);
ERRORS_DEFINE_ID(IniFile_Err_FewData, 594);
ERRORS_DEFINE_ID(IniFile_Err_FewAttr, 595);
ERRORS_DEFINE_ID(IniFile_Err_BadAttr, 596);
ERRORS_DEFINE_ID(ArrX_Err_Full, 901);
ERRORS_DEFINE_ID(StrX_Err_MemEmpty, 3180);
ERRORS_DEFINE_ID(NestFind_Err_OverNest, 9991);
ERRORS_DEFINE_ID(NestFind_Err_OverBuf, 9992);
#undef ERRORS_DEFINE_ID

// Codes without an id name of their own.
inline constexpr int Errors_Code_EndProgram = 109;  // the application's hook ends the program
inline constexpr int BLex2_Code_RecordFull = 325;   // a caught 901 relabelled by the lexer
inline constexpr int Except3_Code_Fatal = 5283;     // fatal error of the frame stack (id -1)

// The error message record; 784 bytes, as the message pool's slots.
struct Errors_Msg {
    unsigned char used;  // 1 while a pool slot holds a saved record
    int32_t id;          // serial number of the report; -1 for a fatal frame error
    int32_t code;
    char text[512];  // NUL-terminated; a longer report line is cut to fit
    char file[256];
    int32_t line;
};
static_assert(sizeof(Errors_Msg) == 784, "the message pool holds 784-byte records");

// The error hook: (id, code, report line) -> 1 ends the program, any other
// value lets the report return; it may also leave by raising.
using Errors_CallbackFunc = int (*)(int id, int code, const char* text);
extern Errors_CallbackFunc Errors_Callback;

// Reports a failure (see the module comment). Composes "Error in %s(%d) : id
// = %d, code = %d, %s, %s" into 1024 characters (a longer line is cut to 1019
// characters and "..."), sets the current message, then calls the hook. Returns
// only when no hook is installed or the hook returns a value other than 1. A
// report made while another is unfinished shows the double-error boxes and
// ends the program.
void Errors_Report(const char* file, int line, int code, const char* idName, const char* format,
                   ...) __attribute__((format(printf, 5, 6)));

// Runs `statement` between a va_start and its va_end: when the statement
// raises, ap is ended before the raise goes on, so a variadic function's
// va_end is never skipped by an unwinding report. Expands in the variadic
// function itself, as va_end must be called there.
#define ERRORS_VA_RUN(ap, ...) \
    do {                       \
        try {                  \
            __VA_ARGS__;       \
        } catch (...) {        \
            va_end(ap);        \
            throw;             \
        }                      \
        va_end(ap);            \
    } while (0)

// Reports from the current place: ERRORS_REPORT(FileX_Err_CannotReadOpen, "...", path).
#define ERRORS_REPORT(id, ...) \
    Errors_Report(__FILE_NAME__, __LINE__, (id).code, (id).name, __VA_ARGS__)

// Shows an error box ("エラーメッセージ", OK/Cancel); Cancel ends the program.
// The text is cut to 1020 characters and "..." when it does not fit 1024 bytes.
// Returns 0.
int Errors_Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Debug display: shows a box ("デバッグ表示", OK/Cancel), appends the text to
// the debug page buffer and to errlog.txt (the first log write of the process
// deletes the old file). Returns where the text begins in the page buffer, or
// nullptr when the display is switched off. A text over 4096 characters ends
// the program after "msg block over".
char* Errors_DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Shows like Errors_Printf, then appends the kept text and this text to the
// log buffer (while it has room) and the text to errlog4.txt. Returns the log
// buffer's write position before the call.
char* Errors_LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Shows like Errors_Printf and keeps a copy for the next Errors_LogPrintf;
// returns the kept copy.
char* Errors_PrintfKeep(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends the process with status 14; the first call shows "EXIT from %s(%d)".
[[noreturn]] void Errors_Exit(const char* file, int line);

// Fills msg: id, code, file (copied, cut to 255), line, then the text from
// the format (cut to 511 bytes at a character boundary); appends "(COUNT=%d)"
// while the repeat counter is positive.
void Errors_Msg_Set(Errors_Msg* msg, int id, int code, const char* file, int line,
                    const char* format, ...) __attribute__((format(printf, 6, 7)));

Errors_Msg* Errors_GetMsg();
// The message pool: an ArrX_Able of Errors_Msg slots (flag at offset 0),
// unbound (first == nullptr) until the application binds it with ArrX_Able_Init.
ArrX_Able* Errors_GetMsgPool();

// Shows "[%d] %s" for each used record of the pool, numbered from 1. An
// unbound pool shows nothing.
void Errors_MsgPool_Print(ArrX_Able* pool);
// Sets the report nesting counter to 0.
void Errors_EndReport();
// Shows the pool, a notice, then the current record's text.
void Errors_PrintRecent();
// Adds 1 to the repeat counter; true when n > 0 and the counter is a multiple of n.
bool Errors_CountUp(int n);

// Switches the debug display on (the initial state) or off.
void Errors_SetDebugDisplay(bool on);
// Switches Errors_Break on (the initial state) or off; sets its hint filter
// (0xCCCCCCCC: no filter) and its countdown.
void Errors_SetBreak(bool on, uint32_t hintFilter, int countdown);

// --- Debugging aids; each shows its lines through Errors_DebugPrintf unless said.
// Printable form of a byte: 0 as '0', CR and LF as ' ', 32..255 as themselves,
// anything else as '.' (the byte is taken as signed, so 128..255 become '.').
char Errors_PrintableChar(int byte);
// Errors_Printf of "  %s = %d, 0x%X, %dKB, %fMB".
void Errors_PrintSize(const char* name, int value);
void Errors_PrintInt(const char* name, const void* address, int value, const char* file, int line);
void Errors_PrintStr(const char* name, const void* address, const char* str, const char* file,
                     int line);
// Dumps print whole addresses (at least 8 hex digits); rows of 16 bytes put
// " - " after each byte whose address is 3 modulo 4.
void Errors_DumpMem(const char* name, const void* block, int size, const char* file, int line);
void Errors_DumpAddr(const char* name, const void* address, int size, const char* file, int line);
// Watches a whole block (up to 1 MiB; a string by its first 256 bytes):
// WatchCheck shows each changed 32-byte step since the last check.
void Errors_WatchStart(const void* block, const char* name, bool isString, int size,
                       const char* file, int line);
void Errors_WatchCheck(const char* place, int line);
void Errors_PrintInitChk(const void* record, uint32_t value);
// Sums every byte of each [start, end) range of a list of address pairs
// (listSize in bytes) and reports Errors_BadCheckSum (110) when the total
// differs from the expected sum (set by Errors_SetCheckSum, 0 at start).
void Errors_CheckSum(const void* const* ranges, int listSize);
void Errors_SetCheckSum(uint32_t expected);
void Errors_Break(uint32_t value, uint32_t hint, const char* file, int line);
// Does nothing and returns 1: the place for a debugger breakpoint.
int Errors_BreakHook(uint32_t value, uint32_t hint, const char* file = nullptr, int line = 0);
// Zeroes the debug page buffer, the log buffer and the kept text; page 1.
void Errors_InitDebugBuf();

// Read access to the debug buffers, for tests and the debugger.
const char* Errors_DebugBuf();  // 30583 bytes
const char* Errors_LogBuf();    // 1911 bytes
int Errors_DebugPageNum();
