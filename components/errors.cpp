#include "components/errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "components/arrx.h"
#include "components/except3.h"
#include "components/filex.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/msgbox.h"

Errors_CallbackFunc Errors_Callback = nullptr;

namespace {

const char kErrorTitle[] = "エラーメッセージ";
const char kDebugTitle[] = "デバッグ表示";

constexpr int kLineSize = 1024;       // report lines and boxes
constexpr int kDebugTextSize = 4096;  // one debug text
constexpr int kDebugBufSize = 30583;
constexpr int kDebugWrapAt = 26464;
constexpr int kLogBufSize = 1911;
constexpr int kLogAppendBelow = 887;

int g_idCounter = 0;
int g_nesting = 0;
int g_repeat = 0;
int g_exitCount = 0;
Errors_Msg g_msg;
ArrX_Able g_pool;
bool g_debugOn = true;
bool g_firstLogWrite = true;

char g_debugBuf[kDebugBufSize];
char* g_debugPos = g_debugBuf;
int g_pageNum = 1;

char g_logBuf[kLogBufSize];
char* g_logPos = g_logBuf;
char g_keep[kLineSize];

bool g_breakOn = true;
uint32_t g_breakFilter = 0xCCCCCCCC;
int g_breakCountdown = 1;
int g_breakCount = 0;
uint32_t g_checkSum = 0;

const void* g_watchBlock = nullptr;
const char* g_watchName = "";
bool g_watchIsString = false;
int g_watchSize = 0;
// The watched block's copy: a whole block up to 1 MiB (far beyond any block
// of the system; a larger one is watched over its first 1 MiB), or the
// first 256 bytes of a string.
constexpr int kWatchMax = 1 << 20;
constexpr size_t kWatchStringBytes = 256;
unsigned char g_watchCopy[kWatchMax];

// Formats into buf (bufSize bytes); when the text needs more than keep
// characters, it is cut to keep - 3 characters followed by "...".
// Returns true when it was cut.
bool formatCut(char* buf, size_t bufSize, size_t keep, const char* format, va_list ap) {
    int n = vsnprintf(buf, bufSize, format, ap);
    if (n < 0) {
        buf[0] = '\0';
        return false;
    }
    if (static_cast<size_t>(n) <= keep) return false;
    memcpy(buf + keep - 3, "...", 4);
    return true;
}

// Formats a box text into a kLineSize buffer, cut to 1020 characters and
// "..." when it does not fit (the cut calls Errors_BreakHook).
void formatBoxText(char* text, const char* format, va_list ap) {
    if (formatCut(text, kLineSize, kLineSize - 1, format, ap))
        Errors_BreakHook(0xEEEEEEEE, 0, __FILE_NAME__, __LINE__);
}

void showError(const char* text) {
    if (MsgBox_Show(kErrorTitle, text, MsgBox_OKCancel, MsgBox_IconError) == MsgBox_IDCANCEL)
        Errors_Exit(__FILE_NAME__, __LINE__);
}

// Appends text and CR LF to a log file of the current folder; the first log
// write of the process deletes the old file first.
void appendLogFile(const char* name, const char* text) {
    if (g_firstLogWrite) {
        Fs_Remove(name);
        g_firstLogWrite = false;
    }
    FILE* f = FileX_Open(name, "ab+");
    if (!f) return;
    fputs(text, f);
    fputs("\r\n", f);
    fclose(f);
}

// Appends one debug text to the page ring (see Errors_DebugPrintf).
char* appendDebugBuf(const char* text) {
    char* const end = g_debugBuf + kDebugBufSize;
    if (g_debugPos - g_debugBuf >= kDebugWrapAt) {
        memset(g_debugPos, 0, end - g_debugPos);
        Errors_BreakHook(0xBBBBFFFF, g_pageNum, __FILE_NAME__, __LINE__);
        g_pageNum++;
        g_debugPos = g_debugBuf + snprintf(g_debugBuf, 64, "--- Page %d\r\n", g_pageNum);
    }
    char* start = g_debugPos;
    size_t len = strlen(text);
    memcpy(g_debugPos, text, len);
    memcpy(g_debugPos + len, "\r\n", 2);
    g_debugPos += len + 2;
    if (g_pageNum == 1) {
        *g_debugPos = '\0';
    } else {
        char mark[64];
        int n = snprintf(mark, sizeof mark, "\r\n--- Page %d\r\n", g_pageNum - 1);
        memcpy(g_debugPos, mark, n);  // no NUL: the older page's tail reads on after it
    }
    return start;
}

// Appends text and its NUL to the log buffer, never past its end; the write
// position stays on the NUL.
void appendLogBuf(const char* text) {
    char* const end = g_logBuf + kLogBufSize;
    size_t room = end - g_logPos;
    if (room == 0) return;
    CodePage_CopyCut(g_logPos, room, text);
    g_logPos += strlen(g_logPos);
}

}  // namespace

void Errors_Report(const char* file, int line, int code, const char* idName, const char* format,
                   ...) {
    int id = ++g_idCounter;
    char message[kLineSize];
    va_list ap;
    va_start(ap, format);
    vsnprintf(message, sizeof message, format, ap);
    va_end(ap);

    // One byte more than the line's 1024 characters, so a line of exactly 1024 stays whole.
    char reportLine[kLineSize + 1];
    int n;
    if (g_repeat > 0)
        n = snprintf(reportLine, sizeof reportLine,
                     "Error in %s(%d) : id = %d, code = %d, %s, %s (COUNT=%d)", file, line, id,
                     code, idName, message, g_repeat);
    else
        n = snprintf(reportLine, sizeof reportLine, "Error in %s(%d) : id = %d, code = %d, %s, %s",
                     file, line, id, code, idName, message);
    if (n > kLineSize) {
        memcpy(reportLine + 1019, "...", 4);
        Errors_BreakHook(0xEEEEEEEE, 0, __FILE_NAME__, __LINE__);
    }
    Errors_Msg_Set(&g_msg, id, code, file, line, "%s", reportLine);

    if (++g_nesting > 1) {
        Errors_Printf("二重エラーです in %s(%d) code=%d(%s)", file, line, code, idName);
        Errors_Printf("%s", reportLine);
        Errors_Exit(file, line);
    }
    if (Errors_Callback && Errors_Callback(id, code, reportLine) == 1) Errors_Exit(file, line);
    g_nesting = 0;
}

int Errors_Printf(const char* format, ...) {
    char text[kLineSize];
    va_list ap;
    va_start(ap, format);
    formatBoxText(text, format, ap);
    va_end(ap);
    showError(text);
    return 0;
}

char* Errors_DebugPrintf(const char* format, ...) {
    if (!g_debugOn) return nullptr;
    static char text[kDebugTextSize + 1];
    va_list ap;
    va_start(ap, format);
    bool cut = formatCut(text, sizeof text, kDebugTextSize, format, ap);
    va_end(ap);
    if (cut) {
        Errors_BreakHook(0xEEEEEEEE, 0, __FILE_NAME__, __LINE__);
        Errors_DebugPrintf("msg block over");
        Errors_Exit(__FILE_NAME__, __LINE__);
    }
    if (MsgBox_Show(kDebugTitle, text, MsgBox_OKCancel, MsgBox_IconNone) == MsgBox_IDCANCEL)
        Errors_Exit(__FILE_NAME__, __LINE__);
    char* start = appendDebugBuf(text);
    appendLogFile("errlog.txt", text);
    return start;
}

char* Errors_LogPrintf(const char* format, ...) {
    char text[kLineSize];
    va_list ap;
    va_start(ap, format);
    formatBoxText(text, format, ap);
    va_end(ap);
    Errors_Printf("%s", text);
    char* before = g_logPos;
    if (g_logPos - g_logBuf < kLogAppendBelow) {
        if (g_keep[0]) {
            appendLogBuf(g_keep);
            g_keep[0] = '\0';
        }
        appendLogBuf(text);
    }
    appendLogFile("errlog4.txt", text);
    return before;
}

char* Errors_PrintfKeep(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    formatBoxText(g_keep, format, ap);
    va_end(ap);
    Errors_Printf("%s", g_keep);
    return g_keep;
}

void Errors_Exit(const char* file, int line) {
    if (++g_exitCount == 1) {
        Except3_GetSys()->bExcept = 0;
        Errors_Printf("EXIT from %s(%d)", file, line);
    }
    std::exit(14);
}

void Errors_Msg_Set(Errors_Msg* msg, int id, int code, const char* file, int line,
                    const char* format, ...) {
    msg->id = id;
    msg->code = code;
    CodePage_CopyCut(msg->file, sizeof msg->file, file ? file : "");
    msg->line = line;
    char text[kLineSize + 16];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    CodePage_CopyCut(msg->text, sizeof msg->text, text);
    if (g_repeat > 0) {
        size_t len = strlen(msg->text);
        snprintf(msg->text + len, sizeof msg->text - len, "(COUNT=%d)", g_repeat);
    }
}

Errors_Msg* Errors_GetMsg() {
    return &g_msg;
}
ArrX_Able* Errors_GetMsgPool() {
    return &g_pool;
}

void Errors_MsgPool_Print(ArrX_Able* pool) {
    if (!pool || !pool->first) return;
    int n = 0;
    char* end = static_cast<char*>(pool->last);
    char* slot = static_cast<char*>(pool->first);
    for (;;) {
        void* p = slot;
        ArrX_Able_SkipFree(&p, sizeof(Errors_Msg), 0, end);
        slot = static_cast<char*>(p);
        if (slot + sizeof(Errors_Msg) > end) break;
        Errors_Printf("[%d] %s", ++n, reinterpret_cast<Errors_Msg*>(slot)->text);
        slot += sizeof(Errors_Msg);
    }
}

void Errors_EndReport() {
    g_nesting = 0;
}

void Errors_PrintRecent() {
    Errors_MsgPool_Print(&g_pool);
    Errors_Printf("Following Message is recently Error, but it may have soluved...");
    Errors_Printf("%s", g_msg.text);
}

bool Errors_CountUp(int n) {
    g_repeat++;
    return n > 0 && g_repeat % n == 0;
}

void Errors_SetDebugDisplay(bool on) {
    g_debugOn = on;
}

void Errors_SetBreak(bool on, uint32_t hintFilter, int countdown) {
    g_breakOn = on;
    g_breakFilter = hintFilter;
    g_breakCountdown = countdown;
}

char Errors_PrintableChar(int byte) {
    if (byte == 0) return '0';
    if (byte == '\r' || byte == '\n') return ' ';
    if (byte >= 32 && byte <= 255) return static_cast<char>(byte);
    return '.';
}

void Errors_PrintSize(const char* name, int value) {
    Errors_Printf("  %s = %d, 0x%X, %dKB, %fMB", name, value, value, value / 1024,
                  value / 1048576.0);
}

void Errors_PrintInt(const char* name, const void* address, int value, const char* file, int line) {
    Errors_DebugPrintf("%s (%p) = %d(0x%X) '%c' : %s(%d)", name, address, value, value,
                       Errors_PrintableChar(value), file, line);
}

void Errors_PrintStr(const char* name, const void* address, const char* str, const char* file,
                     int line) {
    char shown[20];
    int n = 0;
    for (; n < 19 && str[n]; n++) shown[n] = Errors_PrintableChar(static_cast<signed char>(str[n]));
    shown[n] = '\0';
    Errors_DebugPrintf("%s (%p) = %p \"%s\" : %s(%d)", name, address, static_cast<const void*>(str),
                       shown, file, line);
}

namespace {

// The whole address, for dump lines (at least 8 hex digits, all of a 64-bit one).
unsigned long long addrOf(const void* p) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p));
}

// Appends one dump row of 16 positions starting at rowStart; bytes outside
// [from, to) show as three blanks, and " - " follows each byte whose address
// is 3 modulo 4.
void appendRow(char* out, size_t size, const unsigned char* rowStart, const unsigned char* from,
               const unsigned char* to) {
    size_t len = strlen(out);
    for (int i = 0; i < 16; i++) {
        const unsigned char* p = rowStart + i;
        if (p >= from && p < to)
            len += snprintf(out + len, size - len, "%02X%s", *p,
                            (reinterpret_cast<uintptr_t>(p) % 4 == 3) ? " - " : " ");
        else
            len += snprintf(out + len, size - len, "   ");
    }
}

}  // namespace

void Errors_DumpMem(const char* name, const void* block, int size, const char* file, int line) {
    const unsigned char* b = static_cast<const unsigned char*>(block);
    char row[256];
    if (size < 16) {
        // One line; here the separator counts from the block start.
        int len = snprintf(row, sizeof row, "%s(%08llX)  %08llX : ", name, addrOf(b), addrOf(b));
        for (int i = 0; i < size; i++)
            len +=
                snprintf(row + len, sizeof row - len, "%02X%s", b[i], (i % 4 == 3) ? " - " : " ");
        snprintf(row + len, sizeof row - len, ": %s(%d)", file, line);
        Errors_DebugPrintf("%s", row);
        return;
    }
    Errors_DebugPrintf("%s(%08llX) : size = %d(0x%X) : %s(%d)", name, addrOf(b), size, size, file,
                       line);
    for (int ofs = 0; ofs < size; ofs += 16) {
        snprintf(row, sizeof row, "%s  %08llX : ", name, addrOf(b + ofs));
        appendRow(row, sizeof row, b + ofs, b, b + size);
        Errors_DebugPrintf("%s", row);
    }
}

void Errors_DumpAddr(const char* name, const void* address, int size, const char* file, int line) {
    const unsigned char* from = static_cast<const unsigned char*>(address);
    const unsigned char* to = from + size;
    const unsigned char* rowStart =
        reinterpret_cast<const unsigned char*>(reinterpret_cast<uintptr_t>(from) & ~uintptr_t(15));
    char row[256];
    if (to <= rowStart + 16) {
        snprintf(row, sizeof row, "%s(%08llX)  %08llX : ", name, addrOf(from), addrOf(rowStart));
        appendRow(row, sizeof row, rowStart, from, to);
        size_t len = strlen(row);
        snprintf(row + len, sizeof row - len, ": %s(%d)", file, line);
        Errors_DebugPrintf("%s", row);
        return;
    }
    Errors_DebugPrintf("%s(%08llX) : size = %d(0x%X) : %s(%d)", name, addrOf(from), size, size,
                       file, line);
    for (; rowStart < to; rowStart += 16) {
        snprintf(row, sizeof row, "%s  %08llX : ", name, addrOf(rowStart));
        appendRow(row, sizeof row, rowStart, from, to);
        Errors_DebugPrintf("%s", row);
    }
}

namespace {

void takeWatchCopy() {
    if (!g_watchBlock) return;
    if (g_watchIsString) {
        // The first 256 bytes of the string, zero-filled after its NUL.
        const char* str = static_cast<const char*>(g_watchBlock);
        size_t n = strnlen(str, kWatchStringBytes);
        memset(g_watchCopy, 0, kWatchStringBytes);
        memcpy(g_watchCopy, str, n);
    } else {
        memcpy(g_watchCopy, g_watchBlock, g_watchSize);
    }
}

// The first four 32-bit words of a step, for the watch lines.
void words(const unsigned char* p, int avail, uint32_t w[4]) {
    for (int i = 0; i < 4; i++) {
        w[i] = 0;
        for (int k = 0; k < 4; k++)
            if (i * 4 + k < avail) w[i] |= uint32_t(p[i * 4 + k]) << (8 * k);
    }
}

}  // namespace

void Errors_WatchStart(const void* block, const char* name, bool isString, int size,
                       const char* file, int line) {
    g_watchBlock = block;
    g_watchName = name ? name : "";
    g_watchIsString = isString;
    g_watchSize = size < 0 ? 0 : size > kWatchMax ? kWatchMax : size;
    if (!block) {
        Errors_DebugPrintf("first WATCH!★ : %s (adr = NULL, size = 0x%X) : %s(%d)", g_watchName,
                           size, file, line);
        return;
    }
    takeWatchCopy();
    if (isString) {
        Errors_DebugPrintf("first WATCH!★ : %s (adr = %p) : %s : %s(%d)", g_watchName, block,
                           static_cast<const char*>(block), file, line);
        return;
    }
    const unsigned char* b = static_cast<const unsigned char*>(block);
    for (int ofs = 0; ofs < g_watchSize; ofs += 32) {
        uint32_t w[4];
        words(b + ofs, g_watchSize - ofs, w);
        char ws[48];
        snprintf(ws, sizeof ws, "%08X %08X %08X %08X", w[0], w[1], w[2], w[3]);
        Errors_DebugPrintf("first WATCH!★ : %s (adr = %p, size = 0x%X) : %s : %s(%d)", g_watchName,
                           static_cast<const void*>(b + ofs), size, ws, file, line);
    }
}

void Errors_WatchCheck(const char* place, int line) {
    bool changed = false;
    if (g_watchBlock) {
        const unsigned char* b = static_cast<const unsigned char*>(g_watchBlock);
        if (g_watchIsString) {
            if (strncmp(reinterpret_cast<const char*>(b),
                        reinterpret_cast<const char*>(g_watchCopy), kWatchStringBytes) != 0) {
                changed = true;
                Errors_DebugPrintf("WATCH!★ : adr = %p : %s : %s(%d)", g_watchBlock,
                                   reinterpret_cast<const char*>(b), place, line);
            }
        } else {
            for (int ofs = 0; ofs < g_watchSize; ofs += 32) {
                int n = g_watchSize - ofs < 32 ? g_watchSize - ofs : 32;
                if (memcmp(b + ofs, g_watchCopy + ofs, n) == 0) continue;
                changed = true;
                uint32_t w[4];
                words(b + ofs, n, w);
                char ws[48];
                snprintf(ws, sizeof ws, "%08X %08X %08X %08X", w[0], w[1], w[2], w[3]);
                Errors_DebugPrintf("WATCH!★ : adr = %p : %s : %s(%d)",
                                   static_cast<const void*>(b + ofs), ws, place, line);
            }
        }
    }
    if (!changed) Errors_DebugPrintf("WATCH : no change : %s(%d)", place, line);
    takeWatchCopy();
}

void Errors_PrintInitChk(const void* record, uint32_t value) {
    uint32_t w[4];
    memcpy(w, record, sizeof w);
    // The magics are 32-bit words: the address takes part by its low 32 bits.
    uint32_t a = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record));
    Errors_DebugPrintf("&__initchk = %p, var = %08X, now-magic = %08X, culc-magic = %08X", record,
                       w[3], a + 1 + value + w[1] * w[2], a + 1 + w[0] + w[1] * w[2]);
}

void Errors_CheckSum(const void* const* ranges, int listSize) {
    uint32_t sum = 0;
    int pairs = listSize / static_cast<int>(2 * sizeof(void*));
    for (int i = 0; i < pairs; i++) {
        const unsigned char* p = static_cast<const unsigned char*>(ranges[2 * i]);
        const unsigned char* end = static_cast<const unsigned char*>(ranges[2 * i + 1]);
        for (; p < end; p++) sum += *p;
    }
    if (sum != g_checkSum)
        ERRORS_REPORT(Errors_BadCheckSum,
                      "CheckSum ERROR run_sum = %d(0x%08X), right_sum = %d(0x%08X)", sum, sum,
                      g_checkSum, g_checkSum);
}

void Errors_SetCheckSum(uint32_t expected) {
    g_checkSum = expected;
}

void Errors_Break(uint32_t value, uint32_t hint, const char* file, int line) {
    if (!g_breakOn) return;
    if (g_breakFilter != 0xCCCCCCCC && hint != g_breakFilter) return;
    if (value != 0xCCCCCCCC)
        Errors_Printf("break in %s(%d) : hint = %d(0x%X)", file, line, hint, hint);
    g_breakCount++;
    if (g_breakCountdown <= 1)
        Errors_BreakHook(value, hint, file, line);
    else
        g_breakCountdown--;
}

int Errors_BreakHook(uint32_t, uint32_t, const char*, int) {
    return 1;
}

void Errors_InitDebugBuf() {
    memset(g_debugBuf, 0, sizeof g_debugBuf);
    memset(g_logBuf, 0, sizeof g_logBuf);
    g_keep[0] = '\0';
    g_pageNum = 1;
    g_debugPos = g_debugBuf;
    g_logPos = g_logBuf;
}

const char* Errors_DebugBuf() {
    return g_debugBuf;
}
const char* Errors_LogBuf() {
    return g_logBuf;
}
int Errors_DebugPageNum() {
    return g_pageNum;
}
