// The string module's fields and lists: comma-separated fields, words and
// tokens, list expansion, the string pool, string sets and the command-line reader.

#include "components/strx.h"

#include <cstdio>
#include <cstring>

#include "components/errors.h"
#include "components/strx_internal.h"

using namespace strx_detail;

namespace {

// True when value must be quoted to read back whole.
bool needsQuote(const char* value, size_t len) {
    if (len == 0) return false;
    if (value[0] == ' ' || value[len - 1] == ' ') return true;
    return strpbrk(value, ",\"") != nullptr;
}

// Splits one field at text (see the module header). Writes at most cap bytes
// of the unquoted field and a NUL to out (nothing when out is null); a cut does
// not split a double-byte character, or, with atByte, is made at a byte. out
// may be text itself: the write position never passes the read position.
// *fullLen (when given) receives the length of the whole unquoted field.
// Returns the start of the next field or null.
const char* splitField(char* out, size_t cap, const char* text, size_t* fullLen = nullptr,
                       bool atByte = false) {
    const char* p = text;
    while (*p == ' ') p++;
    const char* next;
    size_t w = 0;
    size_t full = 0;
    bool cut = false;
    if (*p == '"') {
        p++;
        for (;;) {
            char c = *p;
            if (c == 0) break;
            if (c == '"') {
                if (p[1] != '"') {
                    p++;
                    break;
                }
                p++;  // a doubled quote yields one
            }
            if (out && w < cap) {
                out[w++] = c;
            } else {
                cut = true;
            }
            full++;
            p++;
        }
        p = strchrnul(p, ',');
        next = (*p == ',') ? p + 1 : nullptr;
    } else {
        const char* s = p;
        p = strchrnul(p, ',');
        const char* e = p;
        while (e > s && e[-1] == ' ') e--;
        next = (*p == ',') ? p + 1 : nullptr;
        size_t n = static_cast<size_t>(e - s);
        full = n;
        if (n > cap) {
            n = cap;
            cut = true;
        }
        if (out) memmove(out, s, n);
        w = n;
    }
    if (fullLen) *fullLen = full;
    if (!out) return next;
    if (cut && !atByte)
        w = CodePage_CharCut(std::string_view(out, w + 1),
                             w);  // drop a lead byte whose trail was cut off
    out[w] = 0;
    return next;
}

}  // namespace

// ---- Comma-separated fields ---------------------------------------------

char* StrX_QuoteField(char* out, const char* value, int size) {
    if (size <= 0) return out;
    size_t room = static_cast<size_t>(size) - 1;
    size_t len = strlen(value);
    if (!needsQuote(value, len)) {
        // Cut unquoted; blanks the cut leaves at the end go too, as a reader drops them.
        size_t n = CodePage_CharCut(std::string_view(value, len), room);
        if (n < len) {
            while (n > 0 && value[n - 1] == ' ') n--;
        }
        memcpy(out, value, n);
        out[n] = 0;
        return out;
    }
    if (room < 2) {  // not even "" fits: an empty field
        out[0] = 0;
        return out;
    }
    size_t w = 0;
    out[w++] = '"';
    const char* p = value;
    while (*p) {
        size_t piece = (*p == '"') ? 2 : static_cast<size_t>(nextChar(p) - p);
        if (w + piece + 1 > room) break;  // keep room for the closing quote
        if (*p == '"') {
            out[w++] = '"';
            out[w++] = '"';
            p++;
        } else {
            for (size_t k = 0; k < piece; k++) out[w++] = *p++;
        }
    }
    out[w++] = '"';
    out[w] = 0;
    return out;
}

const char* StrX_SplitField(char* out, const char* text) {
    return splitField(out, static_cast<size_t>(-1), text);
}

const char* StrX_SplitFieldCut(char* out, int size, const char* text) {
    if (size <= 0) return splitField(nullptr, 0, text);
    return splitField(out, static_cast<size_t>(size) - 1, text, nullptr, true);
}

char* StrX_GetField(const char* list, int n, char* out, int size) {
    if (size > 0) out[0] = 0;
    if (!*list) return nullptr;
    if (n < 1) n = 1;
    const char* p = list;
    for (int i = 1; i < n; i++) {
        p = splitField(nullptr, 0, p);
        if (!p) return nullptr;
    }
    if (size > 0) splitField(out, static_cast<size_t>(size) - 1, p);
    return out;
}

namespace {
// Compares the field at p (unquoted, as splitField reads it) with text; sets
// *next to the start of the next field or null.
bool fieldEquals(const char* p, const char* text, bool caseSensitive, const char** next) {
    while (*p == ' ') p++;
    const char* t = text;
    bool equal = true;
    bool trail = false;  // the field byte just compared was a lead byte
    auto match = [&](char c) {
        if (!equal) return;
        if (!*t) {
            equal = false;
            return;
        }
        unsigned char a = static_cast<unsigned char>(c);
        unsigned char b = byteAt(t);
        bool same = (caseSensitive || trail) ? a == b : foldCase(a) == foldCase(b);
        trail = !trail && CodePage_IsLead(a);
        if (!same) equal = false;
        t++;
    };
    if (*p == '"') {
        p++;
        while (*p) {
            if (*p == '"') {
                if (p[1] != '"') {
                    p++;
                    break;
                }
                p++;
            }
            match(*p);
            p++;
        }
        while (*p && *p != ',') p++;
    } else {
        const char* s = p;
        p = strchrnul(p, ',');
        const char* e = p;
        while (e > s && e[-1] == ' ') e--;
        for (const char* q = s; q < e; q++) match(*q);
    }
    *next = (*p == ',') ? p + 1 : nullptr;
    return equal && !*t;
}
}  // namespace

int StrX_FieldIndex(const char* list, const char* text, bool caseSensitive) {
    if (!*list) return -1;
    const char* p = list;
    for (int n = 1; p; n++) {
        const char* next;
        if (fieldEquals(p, text, caseSensitive, &next)) return n;
        p = next;
    }
    return -1;
}

int StrX_FieldNumAt(const char* list, const char* position) {
    if (!*list || position < list) return 0;
    int count = 0;
    for (const char* p = list; p && p <= position; p = splitField(nullptr, 0, p)) count++;
    return count;
}

// ---- Words and tokens ---------------------------------------------------

namespace {
inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
inline bool isIdentStart(const char* p) {
    return isAsciiAlpha(byteAt(p)) || *p == '_';
}
inline bool isIdentChar(const char* p) {
    return isIdentStart(p) || isAsciiDigit(byteAt(p));
}
inline const char* skipBlanks(const char* p) {
    while (isBlank(*p)) p++;
    return p;
}
// The end of the token at p, or null when none begins there.
const char* tokenEnd(const char* p) {
    if (isIdentStart(p)) {
        while (isIdentChar(p)) p++;
        return p;
    }
    if (isLead(p) && p[1]) return p + 2;
    return nullptr;
}
// Copies [s, e) into out[0, size), cut to size - 1 bytes.
void copyRange(char* out, int size, const char* s, const char* e) {
    if (size <= 0) return;
    size_t n = static_cast<size_t>(e - s);
    if (n > static_cast<size_t>(size) - 1) n = static_cast<size_t>(size) - 1;
    memmove(out, s, n);
    out[n] = 0;
}
}  // namespace

const char* StrX_GetWord(char* out, int size, const char* text) {
    if (size > 0) out[0] = 0;
    const char* p = skipBlanks(text);
    if (!*p) return nullptr;
    if (*p == '"') {
        const char* s = p + 1;
        const char* e = strchr(s, '"');
        if (!e) e = s + strlen(s);
        copyRange(out, size, s, e);
        return *e ? e + 1 : e;
    }
    const char* e = p;
    while (*e && !isBlank(*e)) e = nextChar(e);
    copyRange(out, size, p, e);
    return e;
}

const char* StrX_GetIdent(const char* text, char* out, int size) {
    if (size > 0) out[0] = 0;
    const char* p = skipBlanks(text);
    if (!isIdentStart(p)) return nullptr;
    const char* e = p;
    while (isIdentChar(e)) e++;
    copyRange(out, size, p, e);
    return e;
}

const char* StrX_GetToken(const char* text, char* out, int size) {
    if (size > 0) out[0] = 0;
    const char* p = skipBlanks(text);
    const char* e = tokenEnd(p);
    if (!e) return nullptr;
    if (size > 0) {
        size_t n = CodePage_CharCut(std::string_view(p, static_cast<size_t>(e - p)),
                                    static_cast<size_t>(size) - 1);
        memmove(out, p, n);
        out[n] = 0;
    }
    return e;
}

const char* StrX_GetTokens(const char* text, int count, char* out, int size) {
    if (size > 0) out[0] = 0;
    if (size <= 0 || count <= 0) return nullptr;
    size_t room = static_cast<size_t>(size) - 1;
    const char* start = skipBlanks(text);
    const char* p = start;
    const char* taken = nullptr;  // the end of the last token taken
    for (int i = 0; i < count; i++) {
        const char* s = p;
        if (taken && *s == ' ') s++;  // one blank between two tokens
        const char* e = tokenEnd(s);
        if (!e || static_cast<size_t>(e - start) > room) break;
        taken = e;
        p = e;
    }
    if (!taken) return nullptr;
    copyRange(out, size, start, taken);
    return taken;
}

// ---- Lists and arguments ------------------------------------------------

int StrX_ExpandList(char* out, int size, const char* tmpl, const char* list,
                    const char* separator) {
    if (size <= 0) return 0;
    out[0] = 0;
    if (!*list) return 0;
    size_t room = static_cast<size_t>(size) - 1;
    size_t w = 0;
    size_t sepLen = strlen(separator);
    int count = 0;
    for (const char* field = list; field;) {
        size_t mark = w;
        bool fits = true;
        if (count > 0) {
            if (w + sepLen > room) fits = false;
            if (fits) {
                memcpy(out + w, separator, sepLen);
                w += sepLen;
            }
        }
        const char* next = splitField(nullptr, 0, field);
        for (const char* t = tmpl; fits && *t;) {
            if (t[0] == '%' && t[1] == 's') {
                // The field is written in place; it must fit whole.
                size_t cap = room - w;
                size_t full = 0;
                splitField(out + w, cap, field, &full);
                bool whole = full <= cap;
                size_t fl = full;
                if (!whole) {
                    fits = false;
                    break;
                }
                w += fl;
                t += 2;
            } else {
                size_t step = (t[0] == '%' && t[1] == '%') ? 2 : 1;
                if (w + 1 > room) {
                    fits = false;
                    break;
                }
                out[w++] = *t;
                t += step;
            }
        }
        if (!fits) {
            out[mark] = 0;
            return count;
        }
        out[w] = 0;
        count++;
        field = next;
    }
    return count;
}

void StrX_PrintArgs(int count, const char* const* args) {
    printf("argc = %d\n", count);
    for (int i = 0; i < count; i++) printf("argv[%d] = %s\n", i, args[i]);
}

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
