#include "components/strxmem.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "components/bigstack.h"
#include "components/errors.h"
#include "components/strx.h"
#include "platform/codepage.h"
#include "platform/fs.h"

namespace {

bool isSep(unsigned char c) {
    return c == '\\' || c == '/';
}

bool isLead(unsigned char c) {
    return CodePage_IsLead(c);
}

unsigned char foldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool hasDrive(const char* p) {
    return p[0] != '\0' && p[1] == ':';
}

// The last single-byte separator of text (Shift_JIS-aware), or nullptr.
char* findLastSep(char* text) {
    char* found = nullptr;
    for (char* p = text; *p != '\0'; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (isLead(c)) {
            if (p[1] == '\0') break;
            p++;
        } else if (isSep(c)) {
            found = p;
        }
    }
    return found;
}

// Position of the last character of text (Shift_JIS-aware), or nullptr when empty.
const char* lastCharPos(const char* text) {
    const char* last = nullptr;
    for (const char* p = text; *p != '\0'; p++) {
        last = p;
        if (isLead(static_cast<unsigned char>(*p)) && p[1] != '\0') p++;
    }
    return last;
}

// True when the last character of text is a single-byte separator.
bool endsWithSep(const char* text) {
    const char* last = lastCharPos(text);
    return last != nullptr && last[1] == '\0' && isSep(static_cast<unsigned char>(*last));
}

// Copies text into out[0, size) at a character boundary: at most size - 1
// bytes and a NUL; size must be at least 1. Returns the bytes copied.
size_t copyCut(char* out, const char* text, size_t size) {
    size_t n = 0;
    while (text[n] != '\0') {
        size_t w = (isLead(static_cast<unsigned char>(text[n])) && text[n + 1] != '\0') ? 2 : 1;
        if (n + w > size - 1) break;
        n += w;
    }
    memmove(out, text, n);
    out[n] = '\0';
    return n;
}

char g_relWork[512];     // StrX_RelPath's work buffer
char g_linkWork[260];    // StrX_RelLink's work buffer
char g_fileName[260];    // StrX_MoveToFolder's file-name buffer
char g_timeFormat[100];  // StrX_FormatTime's format buffer
char g_buildDate[100];   // StrX_BuildDateText's result
char g_nowText[30];      // StrX_NowText's result
char g_nowFormat[80];    // StrX_NowFormat's result
int g_timeParts[6];      // StrX_TextToTime's six numbers
bool g_localeToInit = true;

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Takes n bytes of scratch under a new mark of BigStack_Sys(); release with
// scratchDrop. When the mark and the buffer do not fit, BigStack_Full is
// raised before any mark is set, so a raise leaves the stack as it was.
char* scratchTake(uint32_t n) {
    BigStack* s = BigStack_Sys();
    uint32_t need = 4 + ((n + 3) & ~3u);
    if (s->size - static_cast<uint32_t>(s->sp - s->mem) < need) BigStack_Alloc(s, need);
    BigStack_Push(s);
    return static_cast<char*>(BigStack_Alloc(s, n));
}

void scratchDrop() {
    BigStack_Pop(BigStack_Sys());
}

// strftime with the Windows run-time's '#' forms (see the header). The format
// is expanded into a work buffer first; a format whose expansion does not fit
// is cut at a conversion boundary. Returns out; empty when the result does
// not fit out[0, size).
char* formatTm(const struct tm* tmv, const char* format, char* out, int size) {
    if (size <= 0) return out;
    out[0] = '\0';
    char work[512];
    size_t n = 0;
    auto put = [&](const char* piece, size_t len) {
        if (n + len >= sizeof work) return false;
        memcpy(work + n, piece, len);
        n += len;
        return true;
    };
    for (const char* p = format; *p != '\0';) {
        bool ok;
        if (p[0] == '%' && p[1] == '#') {
            char c = p[2];
            if (c == '\0') break;
            p += 3;
            if (strchr("dHIjmMSUwWyY", c) != nullptr) {
                char one[3] = {'%', c, '\0'};
                char num[16];
                size_t len = strftime(num, sizeof num, one, tmv);
                size_t z = 0;
                while (z + 1 < len && num[z] == '0') z++;
                ok = put(num + z, len - z);
            } else if (c == 'c') {
                ok = put("%A, %B %d, %Y %H:%M:%S", 22);
            } else if (c == 'x') {
                ok = put("%A, %B %d, %Y", 13);
            } else {
                char one[2] = {'%', c};
                ok = put(one, 2);
            }
        } else if (p[0] == '%' && p[1] != '\0') {
            ok = put(p, 2);
            p += 2;
        } else {
            ok = put(p, 1);
            p++;
        }
        if (!ok) break;
    }
    work[n] = '\0';
    if (n == 0) return out;
    if (strftime(out, static_cast<size_t>(size), work, tmv) == 0) out[0] = '\0';
    return out;
}

// The prefix test for paths: ASCII letters without case, double-byte
// characters exactly. Returns the position after prefix in text, or nullptr.
const char* afterPrefixI(const char* text, const char* prefix) {
    while (*prefix != '\0') {
        unsigned char c = static_cast<unsigned char>(*prefix);
        if (isLead(c) && prefix[1] != '\0') {
            if (text[0] != prefix[0] || text[1] != prefix[1]) return nullptr;
            text += 2;
            prefix += 2;
            continue;
        }
        if (*text == '\0' || isLead(static_cast<unsigned char>(*text)) ||
            foldAscii(static_cast<unsigned char>(*text)) != foldAscii(c)) {
            return nullptr;
        }
        text++;
        prefix++;
    }
    return text;
}

}  // namespace

// ---- String pool ---------------------------------------------------------

void StrX_Mem_Init(StrX_Mem* mem, char* block, size_t size) {
    mem->start = mem->last = block;
    mem->end = block + size;
    if (size > 0) block[0] = '\0';
}

StrX_Mem* StrX_Mem_Clear(StrX_Mem* mem) {
    mem->last = mem->start;
    if (mem->start < mem->end) mem->start[0] = '\0';
    return mem;
}

char* StrX_Mem_Alloc(StrX_Mem* mem) {
    char* p = mem->end;
    if (mem->last < mem->end) {
        size_t room = mem->end - mem->last;
        size_t len = strnlen(mem->last, room);
        p = (len < room) ? mem->last + len + 1 : mem->end;
    }
    mem->last = p;
    if (p >= mem->end) {
        ERRORS_REPORT(StrX_Err_MemEmpty, "アプリ内部のメモリ領域が足りません");
        return mem->end;  // the report returned (no hook): nothing may be written here
    }
    *p = '\0';
    return p;
}

int StrX_Mem_Left(const StrX_Mem* mem) {
    if (mem->last >= mem->end) return 0;
    size_t room = mem->end - mem->last;
    size_t len = strnlen(mem->last, room);
    if (len + 1 >= room) return 0;
    return static_cast<int>(room - len - 1);
}

char* StrX_Mem_Add(StrX_Mem* mem, const char* text) {
    char* p = StrX_Mem_Alloc(mem);
    if (p >= mem->end) return p;
    int left = StrX_Mem_Left(mem);
    size_t len = strlen(text);
    if (len >= static_cast<size_t>(left)) len = left > 0 ? left - 1 : 0;
    memcpy(p, text, len);
    p[len] = '\0';
    return p;
}

namespace {
// The last string equals text (an empty pool has no last string: its
// sentinel is never handed out).
bool lastEquals(const StrX_Mem* mem, const char* text) {
    return mem->last != mem->start && mem->last < mem->end && strcmp(mem->last, text) == 0;
}
}  // namespace

char* StrX_Mem_AddIfNew(StrX_Mem* mem, const char* text) {
    if (lastEquals(mem, text)) return mem->last;
    return StrX_Mem_Add(mem, text);
}

char* StrX_Mem_AddOrSet(StrX_Mem* mem, const char* text) {
    if (lastEquals(mem, text)) {
        if (mem->last != text) strcpy(mem->last, text);  // equal: same length, fits
        return mem->last;
    }
    return StrX_Mem_Add(mem, text);
}

char* StrX_Mem_Next(const StrX_Mem* mem, const char* str) {
    if (str == nullptr) {
        if (mem->last == mem->start || mem->start + 1 >= mem->end) return nullptr;
        return mem->start + 1;
    }
    if (str >= mem->last) return nullptr;
    char* next = const_cast<char*>(str) + strlen(str) + 1;
    return next < mem->end ? next : nullptr;
}

StrX_Mem* StrX_Mem_DropLast(StrX_Mem* mem) {
    if (mem->last <= mem->start) return mem;
    // last - 1 is the NUL of the previous string (or the sentinel at start).
    char* p = mem->last - 1;
    if (p == mem->start) {
        mem->last = mem->start;
        return mem;
    }
    while (p > mem->start && p[-1] != '\0') p--;
    mem->last = p;
    return mem;
}

void StrX_Mem_Dump(const StrX_Mem* mem) {
    Errors_DebugPrintf("StrX_Mem:");
    for (char* s = StrX_Mem_Next(mem, nullptr); s != nullptr; s = StrX_Mem_Next(mem, s)) {
        Errors_DebugPrintf("  %s", s);
    }
}

// ---- Relative paths --------------------------------------------------------

char* StrX_RelPath(char* path, int limit, const char* base) {
    if (path[0] == '\0' || limit <= 0) return path;
    const bool endedWithSep = endsWithSep(path);
    const char lastCh = path[strlen(path) - 1];
    char* W = g_relWork;
    copyCut(W, path, sizeof g_relWork);

    const size_t lim = static_cast<size_t>(limit);
    size_t o = 0;  // output length
    const char* w = W;
    const char* b = base;

    // Drive letters.
    if (hasDrive(W) && hasDrive(base)) {
        if (foldAscii(W[0]) != foldAscii(base[0]) && lim >= 3) {
            path[o++] = W[0];
            path[o++] = ':';
        }
        w += 2;
        b += 2;
    } else if (hasDrive(W)) {
        w += 2;
    } else if (hasDrive(base)) {
        path[0] = '\0';
        return path;
    }
    const char* w0 = w;
    const char* b0 = b;

    // Common part.
    const char* sepW = nullptr;
    const char* sepB = nullptr;
    while (*w != '\0' && *b != '\0') {
        unsigned char cw = static_cast<unsigned char>(*w);
        unsigned char cb = static_cast<unsigned char>(*b);
        if (isLead(cw) && w[1] != '\0') {
            if (cw != cb || w[1] != b[1]) break;
            w += 2;
            b += 2;
            continue;
        }
        if (isSep(cw) && isSep(cb)) {
            sepW = w;
            sepB = b;
        } else if (isLead(cb) || foldAscii(cw) != foldAscii(cb)) {
            break;
        }
        w++;
        b++;
    }

    const char* rest;
    if (*b == '\0' && isSep(static_cast<unsigned char>(*w))) {
        // The path lies inside the base.
        bool afterDrive = (o == 2 && path[1] == ':');
        if (o != 0 && !afterDrive && o + 2 <= lim) path[o++] = *w;
        rest = w + 1;
    } else {
        // One ".." per base folder from the last common separator on.
        const char* from = sepB;
        if (sepW == nullptr) {
            const bool oneRooted =
                isSep(static_cast<unsigned char>(*w0)) != isSep(static_cast<unsigned char>(*b0));
            if (*b0 == '\0' || oneRooted) {
                from = nullptr;  // no common folder: the path stays as it is
            } else {
                // Two relative paths: as if both began after one common separator.
                if (lim - o < 4) {
                    path[o] = '\0';
                    return path;
                }
                memcpy(path + o, "..\\", 3);
                o += 3;
                from = b0;
            }
        }
        if (from != nullptr) {
            for (const char* p = from; *p != '\0'; p++) {
                unsigned char c = static_cast<unsigned char>(*p);
                if (isLead(c) && p[1] != '\0') {
                    p++;
                    continue;
                }
                if (!isSep(c) || p[1] == '\0') continue;
                if (lim - o < 4) {
                    path[o] = '\0';
                    return path;
                }
                path[o++] = '.';
                path[o++] = '.';
                path[o++] = static_cast<char>(c);
            }
        }
        rest = sepW != nullptr ? sepW + 1 : w0;
    }

    // The remainder, cut to leave room for the NUL.
    o += copyCut(path + o, rest, lim - o);

    if (o == 0) {
        if (lim >= 2) path[o++] = '.';
        if (endedWithSep && lim >= 3) path[o++] = lastCh;
        path[o] = '\0';
    }
    return path;
}

// ---- Path parts --------------------------------------------------------------

char* StrX_CutFileName(char* path) {
    if (endsWithSep(path)) path[strlen(path) - 1] = '\0';
    char* sep = findLastSep(path);
    if (sep == nullptr) {
        path[0] = '\0';
    } else if (sep == path || (sep == path + 2 && path[1] == ':')) {
        sep[1] = '\0';
    } else {
        *sep = '\0';
    }
    return path;
}

char* StrX_GetFolder(char* out, const char* path) {
    if (out != path) memmove(out, path, strlen(path) + 1);
    return StrX_CutFileName(out);
}

char* StrX_GetFileNamePtr(const char* path) {
    const char* last = lastCharPos(path);
    if (last != nullptr && last[1] == '\0' && *last == '\\') {
        // Ends in a backslash: the element before it.
        const char* from = path;
        for (const char* p = path; p < last; p++) {
            if (isLead(static_cast<unsigned char>(*p)) && p + 1 < last) {
                p++;
            } else if (*p == '\\') {
                from = p + 1;
            }
        }
        return const_cast<char*>(from);
    }
    const char* sep = StrX_FindLastChar(path, '\\');
    return const_cast<char*>(sep != nullptr ? sep + 1 : path);
}

char* StrX_GetFileName(char* out, const char* path) {
    const char* from = StrX_GetFileNamePtr(path);
    size_t len = strlen(from);
    if (endsWithSep(from) && from[len - 1] == '\\') len--;
    memmove(out, from, len);
    out[len] = '\0';
    return out;
}

char* StrX_JoinPath(char* path, const char* part) {
    if (path[0] != '\0' && !hasDrive(part)) {
        StrX_AddLastChar(path, '\\');
        strcat(path, part);
    } else if (path != part) {
        memmove(path, part, strlen(part) + 1);
    }
    return path;
}

char* StrX_MoveToFolder(char* path, const char* folder) {
    StrX_GetFileName(g_fileName, path);
    if (isSep(static_cast<unsigned char>(folder[0])) || hasDrive(folder)) {
        memmove(path, folder, strlen(folder) + 1);
    } else {
        StrX_CutFileName(path);
        StrX_JoinPath(path, folder);
        StrX_CleanDots(path);
    }
    return StrX_JoinPath(path, g_fileName);
}

char* StrX_GetExt(const char* path) {
    const char* dot = strrchr(path, '.');
    return const_cast<char*>(dot != nullptr ? dot + 1 : path + strlen(path));
}

char* StrX_SetExt(char* path, const char* ext) {
    char* dot = strrchr(path, '.');
    if (dot != nullptr) {
        strcpy(dot + 1, ext);
    } else {
        strcat(path, ".");
        strcat(path, ext);
    }
    return path;
}

char* StrX_LongPath(char* out, const char* path) {
    char* src = scratchTake(260);
    char* prefix = scratchTake(260);
    // Scratch buffers are 4-byte aligned; the listing record wants 8.
    char* raw = scratchTake(sizeof(Fs_FindData) + 4);
    Fs_FindData* found =
        reinterpret_cast<Fs_FindData*>(raw + (reinterpret_cast<uintptr_t>(raw) & 4));
    copyCut(src, path, 260);
    char* res = prefix;  // the result is built in prefix, which is also the search path
    // The leading part, up to the first separator.
    const char* p = src;
    while (*p != '\0' && !isSep(static_cast<unsigned char>(*p))) {
        p += (isLead(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
    }
    size_t n = p - src;
    memcpy(res, src, n);
    res[n] = '\0';
    while (*p != '\0') {
        char sep = *p++;
        const char* elem = p;
        while (*p != '\0' && !isSep(static_cast<unsigned char>(*p))) {
            p += (isLead(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
        }
        size_t len = p - elem;
        if (n + 1 + len > 259) break;
        res[n] = sep;
        memcpy(res + n + 1, elem, len);
        res[n + 1 + len] = '\0';
        if (len > 0) {
            intptr_t h = Fs_FindFirst(res, found);
            if (h != -1) {
                Fs_FindClose(h);
                size_t flen = strlen(found->name);
                if (n + 1 + flen <= 259) {
                    memcpy(res + n + 1, found->name, flen + 1);
                    len = flen;
                }
            }
        }
        n += 1 + len;
    }
    memmove(out, res, n + 1);
    scratchDrop();
    scratchDrop();
    scratchDrop();
    return out;
}

// ---- Relative paths over files and lists -----------------------------------

char* StrX_RelPathToFile(char* path, int limit, const char* baseFile) {
    char* folder = scratchTake(260);
    copyCut(folder, baseFile, 260);
    StrX_CutFileName(folder);
    StrX_RelPath(path, limit, folder);
    scratchDrop();
    return path;
}

char* StrX_RelLink(char* link, int limit, const char* baseFile) {
    const char* hash = StrX_FindChar(link, '#');
    if (hash == link) return link;  // an anchor alone is relative already
    if (hash != nullptr) {
        size_t head = hash - link;
        if (strncmp(link, baseFile, head) == 0 &&
            (baseFile[head] == '\0' || baseFile[head] == '#')) {
            memmove(link, hash, strlen(hash) + 1);
            return link;
        }
    }
    copyCut(g_linkWork, baseFile, sizeof g_linkWork);
    StrX_CutFileName(g_linkWork);
    return StrX_RelPath(link, limit, g_linkWork);
}

namespace {

char* joinList(char* out, const char* list, int size, const char* baseFile, bool relative) {
    if (size <= 0) return out;
    out[0] = '\0';
    char* elem = scratchTake(260);
    size_t used = 0;
    bool overflow = false;
    for (int i = 1; StrX_GetField(list, i, elem, 260) != nullptr && elem[0] != '\0'; i++) {
        if (relative) {
            StrX_RelPathToFile(elem, 260, baseFile);
        } else {
            StrX_AbsPathOfFile(elem, 260, baseFile);
        }
        size_t sepLen = (i > 1) ? 2 : 0;
        size_t len = strlen(elem);
        if (used + sepLen + len > static_cast<size_t>(size) - 1) {
            overflow = true;
            break;
        }
        memcpy(out + used, ", ", sepLen);
        memcpy(out + used + sepLen, elem, len + 1);
        used += sepLen + len;
    }
    scratchDrop();
    if (overflow) ERRORS_REPORT(Errors_Unofficial, "error");
    return out;
}

}  // namespace

char* StrX_PathList(char* out, const char* list, int size, const char* baseFile) {
    return joinList(out, list, size, baseFile, false);
}

char* StrX_RelPathList(char* out, const char* list, int size, const char* baseFile) {
    return joinList(out, list, size, baseFile, true);
}

char* StrX_ReplaceBase(const char* path, const char* oldFolder, const char* newFolder, char* out,
                       int size) {
    if (size <= 0) return out;
    out[0] = '\0';
    const char* rest = afterPrefixI(path, oldFolder);
    if (rest == nullptr) {
        ERRORS_REPORT(Errors_Unofficial, "error");
        return out;
    }
    if (!endsWithSep(oldFolder) && *rest != '\0') {
        if (!isSep(static_cast<unsigned char>(*rest))) {  // only a name's start matched
            ERRORS_REPORT(Errors_Unofficial, "error");
            return out;
        }
        rest++;
    }
    size_t lim = static_cast<size_t>(size);
    size_t n = copyCut(out, newFolder, lim);
    bool fits = (n == strlen(newFolder));
    if (fits && !(endsWithSep(out) && out[n - 1] == '\\')) {
        if (n + 1 < lim) {
            out[n++] = '\\';
            out[n] = '\0';
        } else {
            fits = false;
        }
    }
    if (fits) {
        size_t m = copyCut(out + n, rest, lim - n);
        fits = (m == strlen(rest));
    }
    if (!fits) ERRORS_REPORT(Errors_Unofficial, "error");
    return out;
}

// ---- Time text ---------------------------------------------------------------

void StrX_InitLocale() {
    if (!g_localeToInit) return;
    g_localeToInit = false;
    setlocale(LC_ALL, "");
    tzset();
}

char* StrX_TimeToText(time_t t, char* out) {
    return StrX_FormatTime(t, "%Y/%m/%d-%H:%M:%S", out, 20);
}

int StrX_TextToTime(time_t* t, const char* text) {
    StrX_InitLocale();
    const char* p = text;
    for (int& part : g_timeParts) {
        p = StrX_ParseInt(p, &part);
        if (*p != '\0') p++;
    }
    return StrX_MakeTime(t, g_timeParts[0], g_timeParts[1], g_timeParts[2], g_timeParts[3],
                         g_timeParts[4], g_timeParts[5]);
}

int StrX_MakeTime(time_t* t, int year, int month, int day, int hour, int minute, int second) {
    StrX_InitLocale();
    if (year < INT32_MIN + 1900) return 1;  // the year does not fit the run-time's field
    struct tm tmv;
    memset(&tmv, 0, sizeof tmv);
    tmv.tm_year = year - 1900;
    tmv.tm_mon = month - 1;
    tmv.tm_mday = day;
    tmv.tm_hour = hour;
    tmv.tm_min = minute;
    tmv.tm_sec = second;
    tmv.tm_isdst = -1;
    time_t v = mktime(&tmv);
    if (v == static_cast<time_t>(-1)) return 1;
    *t = v;
    return 0;
}

char* StrX_FormatTime(time_t t, const char* format, char* out, int size) {
    StrX_InitLocale();
    if (size <= 0) return out;
    out[0] = '\0';
    const struct tm* lt = localtime(&t);
    if (lt == nullptr) return out;
    struct tm tmv = *lt;
    copyCut(g_timeFormat, format, sizeof g_timeFormat);
    StrX_ReplaceStr(g_timeFormat, sizeof g_timeFormat, "%n", kMonths[tmv.tm_mon]);
    return formatTm(&tmv, g_timeFormat, out, size);
}

const char* StrX_BuildDateText(const char* date, const char* time, const char* format) {
    StrX_InitLocale();
    // "%s %d %d", the name held to 15 bytes (a longer word is skipped whole).
    char name[16] = "";
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    const char* p = date;
    while (StrX_IsSpace(static_cast<unsigned char>(*p))) p++;
    size_t n = 0;
    for (; *p != '\0' && !StrX_IsSpace(static_cast<unsigned char>(*p)); p++) {
        if (n < sizeof name - 1) name[n++] = *p;
    }
    name[n] = '\0';
    sscanf(p, "%d %d", &day, &year);
    sscanf(time, "%d:%d:%d", &hour, &minute, &second);
    int month = 13;
    for (int i = 0; i < 12; i++) {
        if (strcmp(name, kMonths[i]) == 0) {
            month = i + 1;
            break;
        }
    }
    g_buildDate[0] = '\0';
    time_t t;
    if (StrX_MakeTime(&t, year, month, day, hour, minute, second) == 0) {
        StrX_FormatTime(t, format, g_buildDate, sizeof g_buildDate);
    }
    return g_buildDate;
}

struct tm* StrX_SplitSpan(struct tm* span, double seconds) {
    auto toInt = [](double v) {
        if (!(v >= INT32_MIN)) return static_cast<int>(INT32_MIN);  // also NaN
        if (v > INT32_MAX) return static_cast<int>(INT32_MAX);
        return static_cast<int>(v);
    };
    memset(span, 0, sizeof *span);
    double minutes = std::floor(seconds / 60);
    double hours = std::floor(minutes / 60);
    double days = std::floor(hours / 24);
    span->tm_sec = toInt(seconds - 60 * minutes);
    span->tm_min = toInt(minutes - 60 * hours);
    span->tm_hour = toInt(hours - 24 * days);
    span->tm_mday = toInt(days);
    span->tm_mon = 0;
    span->tm_year = 0;
    span->tm_isdst = -1;
    return span;
}

int StrX_CompareTimes(time_t a, bool aValid, time_t b, bool bValid) {
    if (aValid && bValid) return a > b ? 1 : (a < b ? -1 : 0);
    if (aValid) return 2;
    if (bValid) return -2;
    return 0;
}

time_t* StrX_ClearTime(time_t* t) {
    *t = 0;
    return t;
}

char* StrX_TimeText(time_t t, char* out, int size) {
    StrX_InitLocale();
    if (size <= 0) return out;
    out[0] = '\0';
    const struct tm* lt = localtime(&t);
    if (lt == nullptr) return out;
    struct tm tmv = *lt;
    return formatTm(&tmv, "%c", out, size);
}

const char* StrX_NowText() {
    return StrX_TimeText(time(nullptr), g_nowText, sizeof g_nowText);
}

const char* StrX_NowFormat(const char* format) {
    StrX_InitLocale();
    g_nowFormat[0] = '\0';
    time_t now = time(nullptr);
    const struct tm* lt = localtime(&now);
    if (lt == nullptr) return g_nowFormat;
    struct tm tmv = *lt;
    return formatTm(&tmv, format, g_nowFormat, sizeof g_nowFormat);
}

// ---- Conversions -------------------------------------------------------------

namespace {

char* hexDigits(char* out, unsigned value, int digits) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; i--) {
        out[i] = kHex[value & 0xF];
        value >>= 4;
    }
    out[digits] = '\0';
    return out + digits;
}

}  // namespace

char* StrX_Hex2(char* out, unsigned value) {
    return hexDigits(out, value & 0xFF, 2);
}
char* StrX_Hex4(char* out, unsigned value) {
    return hexDigits(out, value & 0xFFFF, 4);
}
char* StrX_Hex8(char* out, unsigned value) {
    return hexDigits(out, value, 8);
}

char* StrX_Bin32(char* out, unsigned value, char separator) {
    static const char* const kGroups[16] = {"0000", "0001", "0010", "0011", "0100", "0101",
                                            "0110", "0111", "1000", "1001", "1010", "1011",
                                            "1100", "1101", "1110", "1111"};
    char* p = out;
    for (int nibble = 7; nibble >= 0; nibble--) {
        memcpy(p, kGroups[(value >> (nibble * 4)) & 0xF], 4);
        p += 4;
        if (separator != '\0' && nibble % 2 == 0 && nibble != 0) *p++ = separator;
    }
    *p = '\0';
    return out;
}

int StrX_ParseBin(const char* text) {
    uint32_t v = 0;
    for (const char* p = text; *p != '\0'; p++) {
        if (*p == '0' || *p == '1') v = (v << 1) | static_cast<uint32_t>(*p - '0');
    }
    return static_cast<int>(v);
}

const char* StrX_ParseInt(const char* text, int* value) {
    const char* p = text;
    bool negative = false;
    if (*p == '+') p++;
    while (*p == '-') {
        negative = !negative;
        p++;
    }
    uint32_t v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + static_cast<uint32_t>(*p - '0');
        p++;
    }
    *value = static_cast<int>(negative ? 0u - v : v);
    return p;
}

char* StrX_IntToStr(char* out, int size, int value) {
    if (size <= 0) return out;
    char digits[12];
    int n = 0;
    uint32_t mag = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + mag % 10);
        mag /= 10;
    } while (mag != 0);
    if (value < 0) digits[n++] = '-';
    int o = 0;
    while (n > 0 && o < size - 1) out[o++] = digits[--n];
    out[o] = '\0';
    return out + o;
}

int StrX_Wait(int n) {
    int rounds = n / 10;
    if (rounds < 0) rounds = 0;
    for (int r = 0; r < rounds; r++) {
        volatile int counter = 0;
        while (counter < 4060) {
            counter = counter + 1;
        }
    }
    return rounds;
}

// ---- String set --------------------------------------------------------------

void StrX_Set_Init(StrX_Set* set, char* start, char* end) {
    set->start = start;
    set->end = end;
}

namespace {

// Calls fn(index, member) for each member until it returns true; returns that
// index or -1.
template <class Fn>
int eachMember(const StrX_Set* set, Fn&& fn) {
    int i = 0;
    for (char* p = set->start; p < set->end; i++) {
        size_t len = strnlen(p, set->end - p);
        if (len == static_cast<size_t>(set->end - p)) break;  // unterminated tail
        if (fn(i, p)) return i;
        p += len + 1;
    }
    return -1;
}

}  // namespace

int StrX_Set_Find(const StrX_Set* set, const char* pattern) {
    return eachMember(set, [&](int, const char* m) { return StrX_WildCmp(pattern, m) == 0; });
}

int StrX_Set_Match(const StrX_Set* set, const char* text) {
    return eachMember(set, [&](int, const char* m) { return StrX_WildCmp(m, text) == 0; });
}

const StrX_Set* StrX_Set_Dump(const StrX_Set* set) {
    Errors_DebugPrintf("StrX_Set:");
    eachMember(set, [&](int, const char* m) {
        Errors_DebugPrintf("  %s", m);
        return false;
    });
    return set;
}

// ---- Command-line reader -----------------------------------------------------

void StrX_Args_Init(StrX_Args* args, const char* line) {
    args->line = line;
    StrX_Args_Rewind(args);
}

void StrX_Args_Rewind(StrX_Args* args) {
    args->pos = args->line;
    StrX_Args_Get(args);
}

bool StrX_Args_Next(StrX_Args* args) {
    const char* p = args->pos;
    if (*p == '"') {
        const char* close = strchr(p + 1, '"');
        p = (close == nullptr) ? p + strlen(p) : close + 1;
        if (*p != '\0') p++;
    } else {
        const char* blank = strchr(p, ' ');
        p = (blank == nullptr) ? p + strlen(p) : blank + 1;
    }
    args->pos = p;
    StrX_Args_Get(args);
    return *p != '\0';
}

char* StrX_Args_Get(StrX_Args* args) {
    if (*args->pos == '"') {
        StrX_CopyUntil(args->arg, 259, args->pos + 1, '"');
    } else {
        StrX_CopyUntil(args->arg, 259, args->pos, ' ');
        if (args->arg[0] != '\0') StrX_LongPath(args->arg, args->arg);
    }
    return args->arg;
}
