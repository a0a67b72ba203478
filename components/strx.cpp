#include "components/strx.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "components/bigstack.h"
#include "components/strxmem.h"
#include "platform/codepage.h"
#include "platform/fs.h"

namespace {

inline unsigned char byteAt(const char* p) {
    return static_cast<unsigned char>(*p);
}
inline bool isLead(const char* p) {
    return CodePage_IsLead(byteAt(p));
}
// Steps over one character: a lead byte and the byte after it, or one byte. A
// lead byte right before the NUL counts as a single byte.
inline const char* nextChar(const char* p) {
    return (isLead(p) && p[1]) ? p + 2 : p + 1;
}
inline char* nextChar(char* p) {
    return (isLead(p) && p[1]) ? p + 2 : p + 1;
}
inline bool isSep(char c) {
    return c == '\\' || c == '/';
}
inline bool isAsciiUpper(int c) {
    return c >= 'A' && c <= 'Z';
}
inline bool isAsciiLower(int c) {
    return c >= 'a' && c <= 'z';
}
inline bool isAsciiAlpha(int c) {
    return isAsciiUpper(c) || isAsciiLower(c);
}
inline bool isAsciiDigit(int c) {
    return c >= '0' && c <= '9';
}
inline int foldCase(int c) {
    return isAsciiUpper(c) ? c - 'A' + 'a' : c;
}

// The length of the longest prefix of text[0, len) that is at most maxLen bytes
// and does not end inside a double-byte character.
size_t charCut(const char* text, size_t len, size_t maxLen) {
    if (len <= maxLen) return len;
    size_t i = 0;
    while (i < maxLen) {
        size_t step = (CodePage_IsLead(byteAt(text + i)) && i + 1 < len) ? 2 : 1;
        if (i + step > maxLen) break;
        i += step;
    }
    return i;
}

// True when value must be quoted to read back whole.
bool needsQuote(const char* value, size_t len) {
    if (len == 0) return false;
    if (value[0] == ' ' || value[len - 1] == ' ') return true;
    return strpbrk(value, ",\"") != nullptr;
}

// Splits one field at text (see the module header). Writes at most cap bytes
// of the unquoted field and a NUL to out (nothing when out is null); a cut does
// not split a double-byte character. out may be text itself: the write position
// never passes the read position. *fullLen (when given) receives the length of
// the whole unquoted field. Returns the start of the next field or null.
const char* splitField(char* out, size_t cap, const char* text, size_t* fullLen = nullptr) {
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
        while (*p && *p != ',') p++;
        next = (*p == ',') ? p + 1 : nullptr;
    } else {
        const char* s = p;
        while (*p && *p != ',') p++;
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
    if (cut) w = charCut(out, w + 1, w);  // drop a lead byte whose trail was cut off
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
        size_t n = charCut(value, len, room);
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

// ---- Bounded copying ----------------------------------------------------

char* StrX_CopyN(char* out, const char* text, int size) {
    if (size <= 0) return out;
    size_t n = strnlen(text, static_cast<size_t>(size) - 1);
    memmove(out, text, n);
    out[n] = 0;
    return out;
}

char* StrX_CatN(char* text, const char* tail, int size) {
    if (size < 0) return text;
    size_t len = strlen(text);
    if (len >= static_cast<size_t>(size)) return text;
    size_t n = strnlen(tail, static_cast<size_t>(size) - len);
    memmove(text + len, tail, n);
    text[len + n] = 0;
    return text;
}

// ---- Editing in place ---------------------------------------------------

char* StrX_AddLastChar(char* text, int ch) {
    char* last = nullptr;
    char* p = text;
    while (*p) {
        last = p;
        p = nextChar(p);
    }
    bool single = last && p - last == 1;
    if (single && byteAt(last) == static_cast<unsigned char>(ch)) return text;
    p[0] = static_cast<char>(ch);
    p[1] = 0;
    return text;
}

char* StrX_CutLastChar(char* text, int ch) {
    size_t len = strlen(text);
    if (len > 0 && byteAt(text + len - 1) == static_cast<unsigned char>(ch)) text[len - 1] = 0;
    return text;
}

char* StrX_Trim(char* text) {
    size_t len = strlen(text);
    while (len > 0 && StrX_IsSpace(byteAt(text + len - 1))) len--;
    size_t s = 0;
    while (s < len && StrX_IsSpace(byteAt(text + s))) s++;
    memmove(text, text + s, len - s);
    text[len - s] = 0;
    return text;
}

// ---- Searching ----------------------------------------------------------

char* StrX_FindStrI(const char* text, const char* pattern) {
    if (!*pattern) return nullptr;
    bool startTrail = false;  // text[t] is the trail byte of a double-byte character
    for (const char* t = text; *t; t++) {
        const char* a = t;
        const char* b = pattern;
        bool aTrail = startTrail;
        bool bTrail = false;
        for (;;) {
            unsigned char ca = byteAt(a);
            unsigned char cb = byteAt(b);
            if (!ca) break;
            bool same = (aTrail || bTrail) ? ca == cb : foldCase(ca) == foldCase(cb);
            if (!same) break;
            aTrail = !aTrail && CodePage_IsLead(ca);
            bTrail = !bTrail && CodePage_IsLead(cb);
            a++;
            b++;
            if (!*b) return const_cast<char*>(t);
        }
        startTrail = !startTrail && isLead(t);
    }
    return nullptr;
}

char* StrX_FindCharBack(const char* start, const char* from, int ch) {
    if (from < start) return const_cast<char*>(start);
    unsigned char c = static_cast<unsigned char>(ch);
    for (const char* p = from;; p--) {
        if (byteAt(p) == c) return const_cast<char*>(p + 1);
        if (p == start) break;
    }
    return const_cast<char*>(start);
}

// ---- Classification -----------------------------------------------------

bool StrX_IsSpace(int byte) {
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == '\v' ||
           byte == '\f';
}

int StrX_Hash(const char* text, int n) {
    if (n <= 0) return 0;
    uint32_t sum = 0;
    uint32_t pos = 1;
    for (const char* p = text; *p; p++, pos++) sum += byteAt(p) * pos;
    return static_cast<int>(sum % static_cast<uint32_t>(n));
}

// ---- HTML ---------------------------------------------------------------

char* StrX_HtmlEscape(const char* text, char* out, int size) {
    if (size <= 0) return out;
    size_t room = static_cast<size_t>(size) - 1;
    size_t w = 0;
    const char* p = text;
    while (*p) {
        const char* piece;
        size_t len;
        switch (*p) {
            case '&':
                piece = "&amp;";
                len = 5;
                break;
            case '<':
                piece = "&lt;";
                len = 4;
                break;
            case '>':
                piece = "&gt;";
                len = 4;
                break;
            default:
                piece = p;
                len = static_cast<size_t>(nextChar(p) - p);
                break;
        }
        if (w + len > room) break;
        memcpy(out + w, piece, len);
        w += len;
        if (isLead(p) && !p[1]) break;  // a lead byte that ends the text
        p += (piece == p) ? len : 1;
    }
    out[w] = 0;
    return out;
}

// ---- Paths --------------------------------------------------------------

namespace {
// Removes one parent-folder step with the element before it; returns false
// when there is none left (leading ..\ steps stay).
bool removeParentStep(char* path) {
    bool leading = true;
    size_t prevStart = 0;
    bool havePrev = false;
    size_t start = 0;
    for (;;) {
        bool dotdot = path[start] == '.' && path[start + 1] == '.' && path[start + 2] == '\\';
        if (dotdot && !leading && havePrev) {
            size_t prevLen = start - 1 - prevStart;
            size_t from = prevStart;
            if (prevStart == 0 && prevLen == 0) from = start;                    // above the root
            if (prevStart == 0 && prevLen == 2 && path[1] == ':') from = start;  // above a drive
            size_t to = start + 3;
            memmove(path + from, path + to, strlen(path + to) + 1);
            return true;
        }
        if (!dotdot) leading = false;
        const char* p = path + start;
        while (*p && !isSep(*p)) p = nextChar(p);
        if (!*p) return false;
        prevStart = start;
        havePrev = true;
        start = static_cast<size_t>(p - path) + 1;
    }
}
}  // namespace

char* StrX_CleanDots(char* path) {
    while (removeParentStep(path)) {
    }
    char* p = path;
    bool atElem = true;
    while (*p) {
        if (atElem && p[0] == '.' && p[1] == '\\') {
            memmove(p, p + 2, strlen(p + 2) + 1);
            if (!*p) break;
            // The scan goes on one character further, so of two steps in a row the second stays.
        }
        atElem = isSep(*p);
        p = nextChar(p);
    }
    return path;
}

char* StrX_AbsPath(char* path, int size, const char* folder) {
    if (!*path || isSep(path[0]) || path[1] == ':' || strncmp(path, "file:", 5) == 0 ||
        strncmp(path, "http:", 5) == 0) {
        return path;
    }
    char work[512];
    StrX_CopyN(work, folder, sizeof work);
    size_t len = strlen(work);
    if (!(len > 0 && work[len - 1] == '/') && len < sizeof work - 1) StrX_AddLastChar(work, '\\');
    StrX_CatN(work, path, sizeof work - 1);
    StrX_CleanDots(work);
    len = strlen(work);
    size_t limit = size > 0 ? static_cast<size_t>(size) - 1 : 0;
    if (limit > sizeof work - 1) limit = sizeof work - 1;
    len = charCut(work, len, limit);
    work[len] = 0;
    if (len >= 2 && work[len - 1] == '.') {
        // A final separator and dot loses the dot; the separator must not be a trail byte.
        const char* p = work;
        const char* lastStart = nullptr;
        while (p < work + len - 1) {
            lastStart = p;
            p = nextChar(p);
        }
        if (lastStart == work + len - 2 && isSep(work[len - 2])) work[len - 1] = 0;
    }
    if (size > 0) StrX_CopyN(path, work, size);
    return path;
}

bool StrX_IsRelativePath(const char* path) {
    if (isSep(path[0])) return false;  // network or rooted path
    if (path[0] && path[1] == ':') return false;
    return true;
}

// ---- Japanese encodings -------------------------------------------------

int StrX_JisEscapeKind(const char* position) {
    if (position[0] != 0x1B) return 0;
    if (position[1] == '$' && (position[2] == '@' || position[2] == 'B')) return 4;
    if (position[1] == '(' &&
        (position[2] == 'H' || position[2] == 'B' || position[2] == 'J' || position[2] == 'I')) {
        return 5;
    }
    return 0;
}

// ---- Comma-separated fields (continued) ---------------------------------

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
        while (*p && *p != ',') p++;
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

// ---- Bounded copying (continued) ----------------------------------------

char* StrX_CopyPart(char* out, const char* text, int size, int n) {
    size_t m = 0;
    if (size > 0 && n > 0) {
        size_t limit = static_cast<size_t>(size < n ? size : n);
        m = strnlen(text, limit);
    }
    memmove(out, text, m);
    out[m] = 0;
    return out;
}

char* StrX_CopyUntil(char* out, int size, const char* text, int stop) {
    size_t n = 0;
    unsigned char s = static_cast<unsigned char>(stop);
    size_t limit = size > 0 ? static_cast<size_t>(size) : 0;
    while (n < limit && text[n] && byteAt(text + n) != s) n++;
    memmove(out, text, n);
    out[n] = 0;
    return out;
}

// ---- Editing in place (continued) ---------------------------------------

char* StrX_InsertHead(char* text, const char* head) {
    size_t hl = strlen(head);
    size_t tl = strlen(text);
    memmove(text + hl, text, tl + 1);
    memcpy(text, head, hl);
    return text;
}

char* StrX_InsertHead2(const char* head, char* text) {
    return StrX_InsertHead(text, head);
}

char* StrX_CutLast(char* text) {
    size_t len = strlen(text);
    if (len > 0) text[len - 1] = 0;
    return text;
}

char* StrX_CutLastN(char* text, int n) {
    if (n <= 0) return text;
    size_t len = strlen(text);
    size_t k = static_cast<size_t>(n);
    text[k >= len ? 0 : len - k] = 0;
    return text;
}

char* StrX_CutHead(char* text, int n) {
    if (n <= 0) return text;
    size_t len = strlen(text);
    size_t k = static_cast<size_t>(n);
    if (k >= len) {
        text[0] = 0;
    } else {
        memmove(text, text + k, len - k + 1);
    }
    return text;
}

int StrX_LastChar(const char* text) {
    size_t len = strlen(text);
    return len ? byteAt(text + len - 1) : 0;
}

char* StrX_TrimQuotes(char* text) {
    StrX_Trim(text);
    size_t len = strlen(text);
    while (len > 0 && text[len - 1] == '"') len--;
    size_t s = 0;
    while (s < len && text[s] == '"') s++;
    memmove(text, text + s, len - s);
    text[len - s] = 0;
    return text;
}

char* StrX_RemoveCrLfTab(char* text) {
    char* w = text;
    for (const char* p = text; *p; p++) {
        if (*p != '\r' && *p != '\n' && *p != '\t') *w++ = *p;
    }
    *w = 0;
    return text;
}

char* StrX_ReplaceByte(char* text, int a, int b) {
    unsigned char ca = static_cast<unsigned char>(a);
    for (char* p = text; *p; p++) {
        if (byteAt(p) == ca) *p = static_cast<char>(b);
    }
    return text;
}

char* StrX_ReplaceChar(char* text, int a, int b) {
    unsigned char ca = static_cast<unsigned char>(a);
    for (char* p = text; *p;) {
        char* n = nextChar(p);
        if (n - p == 1 && byteAt(p) == ca) *p = static_cast<char>(b);
        p = n;
    }
    return text;
}

namespace {
// The first occurrence of pattern at a character start of text, or null.
char* findAtChar(char* text, const char* pattern, size_t pl) {
    for (char* p = text; *p; p = nextChar(p)) {
        if (strncmp(p, pattern, pl) == 0) return p;
    }
    return nullptr;
}
}  // namespace

char* StrX_ReplaceStr(char* text, int size, const char* pattern, const char* replacement) {
    size_t pl = strlen(pattern);
    if (pl == 0 || size <= 0) return text;
    size_t room = static_cast<size_t>(size) - 1;
    size_t len = strlen(text);
    if (len > room) {
        len = room;
        text[len] = 0;
    }
    size_t rl = strlen(replacement);
    char* p = text;
    while (char* m = findAtChar(p, pattern, pl)) {
        size_t at = static_cast<size_t>(m - text);
        size_t tailLen = len - at - pl;
        if (at + rl >= room) {  // the replacement reaches the end: cut it there
            size_t n = room - at;
            memcpy(m, replacement, n);
            text[room] = 0;
            break;
        }
        size_t keep = tailLen;
        if (at + rl + keep > room) keep = room - at - rl;
        memmove(m + rl, m + pl, keep);
        memcpy(m, replacement, rl);
        len = at + rl + keep;
        text[len] = 0;
        p = m + rl;
    }
    return text;
}

char* StrX_ReplaceStrNum(char* text, int size, const char* pattern, int number) {
    char digits[16];
    snprintf(digits, sizeof digits, "%d", number);
    return StrX_ReplaceStr(text, size, pattern, digits);
}

namespace {
char* mapCase(char* out, const char* text, bool upper) {
    char* w = out;
    const char* p = text;
    while (*p) {
        const char* n = nextChar(p);
        if (n - p == 2) {
            *w++ = p[0];
            *w++ = p[1];
        } else {
            int c = byteAt(p);
            if (upper && isAsciiLower(c)) c = c - 'a' + 'A';
            if (!upper && isAsciiUpper(c)) c = c - 'A' + 'a';
            *w++ = static_cast<char>(c);
        }
        p = n;
    }
    *w = 0;
    return out;
}
}  // namespace

char* StrX_ToLower(char* out, const char* text) {
    return mapCase(out, text, false);
}
char* StrX_ToUpper(char* out, const char* text) {
    return mapCase(out, text, true);
}

// ---- Searching (continued) ----------------------------------------------

char* StrX_FindChar(const char* text, int ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    const char* p = text;
    for (; *p; p = nextChar(p)) {
        if (byteAt(p) == c && !isLead(p)) return const_cast<char*>(p);
        if (byteAt(p) == c && !p[1]) return const_cast<char*>(p);  // a lone lead byte
    }
    return c == 0 ? const_cast<char*>(p) : nullptr;
}

char* StrX_FindLastChar(const char* text, int ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    const char* found = nullptr;
    const char* p = text;
    for (; *p;) {
        const char* n = nextChar(p);
        if (n - p == 1 && byteAt(p) == c) found = p;
        p = n;
    }
    if (c == 0) return const_cast<char*>(p);
    return const_cast<char*>(found);
}

char* StrX_FindLastByte(const char* text, int ch) {
    return const_cast<char*>(strrchr(text, static_cast<unsigned char>(ch)));
}

char* StrX_FindAnyByte(const char* text, const char* set) {
    return const_cast<char*>(strpbrk(text, set));
}

char* StrX_FindAnyChar(const char* text, const char* set) {
    for (const char* p = text; *p;) {
        const char* n = nextChar(p);
        if (n - p == 1 && strchr(set, *p)) return const_cast<char*>(p);
        p = n;
    }
    return nullptr;
}

char* StrX_FindLastStr(const char* text, const char* pattern) {
    size_t pl = strlen(pattern);
    if (pl == 0) return nullptr;
    const char* found = nullptr;
    for (const char* p = text; *p; p = nextChar(p)) {
        if (strncmp(p, pattern, pl) == 0) found = p;
    }
    return const_cast<char*>(found);
}

char* StrX_FindWord(const char* text, const char* word) {
    size_t wl = strlen(word);
    if (wl == 0) return nullptr;
    bool prevBreak = true;  // the character before p is a word break (or p is the start)
    for (const char* p = text; *p;) {
        const char* n = nextChar(p);
        if (prevBreak && strncmp(p, word, wl) == 0) {
            const char* after = p + wl;
            if (!*after || isLead(after) || StrX_IsWordBreak(byteAt(after))) {
                return const_cast<char*>(p);
            }
        }
        prevBreak = (n - p == 2) || StrX_IsWordBreak(byteAt(p));
        p = n;
    }
    return nullptr;
}

const char* const* StrX_FindInTable(const char* text, const char* const* table, int size) {
    if (size <= 0) return nullptr;
    size_t count = static_cast<size_t>(size) / sizeof(const char*);
    for (size_t i = 0; i < count; i++) {
        if (table[i] && strcmp(table[i], text) == 0) return table + i;
    }
    return nullptr;
}

// ---- Classification (continued) -----------------------------------------

bool StrX_IsBlank(const char* text) {
    for (const char* p = text; *p; p++) {
        if (!StrX_IsSpace(byteAt(p))) return false;
    }
    return true;
}

bool StrX_IsWordBreak(int byte) {
    return !(isAsciiAlpha(byte) || isAsciiDigit(byte) || byte == '_');
}

bool StrX_IsValidFileName(const char* name) {
    if (name[0] == '.') return false;
    for (const char* p = name; *p;) {
        const char* n = nextChar(p);
        if (n - p == 1 && strchr("\\/:,;*?\"<>|", *p)) return false;
        p = n;
    }
    return true;
}

int StrX_WildCmp(const char* pattern, const char* text) {
    auto diff = [](const char* a, const char* b) {
        return static_cast<int>(static_cast<signed char>(*a)) -
               static_cast<int>(static_cast<signed char>(*b));
    };
    const char* p = pattern;
    const char* t = text;
    for (; *p != '*'; p++, t++) {
        if (!*p) return -static_cast<int>(static_cast<signed char>(*t));
        if (!*t) return diff(p, t);
        if (*p != '?' && *p != *t) return diff(p, t);
    }
    const char* tail = p + 1;
    size_t tl = strlen(tail);
    size_t rest = strlen(t);
    if (rest < tl) return -1;
    const char* u = t + rest - tl;
    for (size_t i = 0; i < tl; i++) {
        if (tail[i] != '?' && tail[i] != u[i]) return diff(tail + i, u + i);
    }
    return 0;
}

// ---- Paths (continued) --------------------------------------------------

namespace {
char g_exePath[260];

inline bool isDrivePath(const char* path) {
    return path[0] && path[1] == ':';
}
}  // namespace

void StrX_SetExePath(const char* path) {
    StrX_CopyN(g_exePath, path, sizeof g_exePath);
}

const char* StrX_GetExePath() {
    if (!g_exePath[0]) Fs_GetExePath(g_exePath, sizeof g_exePath);
    return g_exePath;
}

char* StrX_AbsPathOfFile(char* path, int size, const char* file) {
    if (!*path) return path;
    BigStack* bs = BigStack_Sys();
    BigStack_Push(bs);
    char* folder = static_cast<char*>(BigStack_Alloc(bs, 260));
    StrX_CopyN(folder, file, 260);
    StrX_CutFileName(folder);
    StrX_AbsPath(path, size, folder);
    BigStack_Pop(bs);
    return path;
}

char* StrX_AbsPathCwd(char* out, const char* path, int size) {
    if (out != path) StrX_CopyN(out, path, size);
    BigStack* bs = BigStack_Sys();
    BigStack_Push(bs);
    char* cwd = static_cast<char*>(BigStack_Alloc(bs, 260));
    Fs_GetCwd(cwd, 255);
    StrX_AbsPath(out, size, cwd);
    BigStack_Pop(bs);
    return out;
}

char* StrX_AbsPathExe(char* out, const char* path, int size) {
    if (isSep(path[0]) || isDrivePath(path)) return StrX_CopyN(out, path, size);
    BigStack* bs = BigStack_Sys();
    BigStack_Push(bs);
    char* work = static_cast<char*>(BigStack_Alloc(bs, 260));
    StrX_CopyN(work, StrX_GetExePath(), 260);
    char* sep = StrX_FindLastChar(work, '\\');
    if (sep) {
        sep[1] = 0;
    } else {
        work[0] = 0;
    }
    StrX_CatN(work, path, 256);
    StrX_CleanDots(work);
    StrX_CopyN(out, work, size);
    BigStack_Pop(bs);
    return out;
}

bool StrX_IsRootedPath(const char* path) {
    for (const char* p = path; *p; p = nextChar(p)) {
        if (isSep(*p) && !isLead(p)) return p == path || p[-1] == ':';
    }
    return false;
}

char* StrX_PathToUrl(char* out, const char* path) {
    constexpr size_t kUrlSize = 260;
    char work[kUrlSize];
    const char* scheme;
    const char* rest = path;
    if (isSep(path[0]) && isSep(path[1])) {
        scheme = "file://";
        rest = path + 2;
    } else if (isSep(path[0])) {
        scheme = "file://";  // a rooted path: the scheme and the native path
    } else {
        scheme = "file:///";
    }
    size_t sl = strlen(scheme);
    memcpy(work, scheme, sl + 1);
    StrX_CatN(work, rest, kUrlSize - 1);
    if (strcmp(scheme, "file:///") == 0 && work[9] == ':') work[9] = '|';
    StrX_ReplaceChar(work + sl, '\\', '/');
    StrX_ReplaceStr(work, kUrlSize, " ", "%20");
    memcpy(out, work, strlen(work) + 1);
    return out;
}

char* StrX_FileNameToIdent(char* out, const char* path) {
    const char* name = path;
    for (const char* p = path; *p; p = nextChar(p)) {
        if (isSep(*p)) name = p + 1;
    }
    const char* end = strrchr(name, '.');
    if (!end) end = name + strlen(name);
    char* w = out;
    if (name < end && isAsciiDigit(byteAt(name))) *w++ = '_';
    for (const char* p = name; p < end; p++) {
        int c = byteAt(p);
        *w++ = (isAsciiAlpha(c) || isAsciiDigit(c)) ? static_cast<char>(c) : '_';
    }
    *w = 0;
    return out;
}

char* StrX_WildRename(char* out, const char* target, const char* name, const char* source) {
    const char* srcStar = strchr(source, '*');
    const char* tgtStar = strchr(target, '*');
    if (!srcStar || !tgtStar || StrX_WildCmp(source, name) != 0) {
        memmove(out, target, strlen(target) + 1);
        return out;
    }
    size_t before = static_cast<size_t>(srcStar - source);
    size_t after = strlen(srcStar + 1);
    size_t nl = strlen(name);
    const char* part = name + before;
    size_t partLen = nl - before - after;
    size_t tb = static_cast<size_t>(tgtStar - target);
    size_t ta = strlen(tgtStar + 1);
    // Built right to left so that out may hold no other argument's bytes in front.
    memmove(out + tb + partLen, tgtStar + 1, ta + 1);
    memmove(out + tb, part, partLen);
    memmove(out, target, tb);
    return out;
}

// ---- Japanese encodings (continued) -------------------------------------

namespace {
constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kSo = 0x0E;
constexpr unsigned char kSi = 0x0F;

inline bool isJisByte(unsigned c) {
    return c >= 0x21 && c <= 0x7E;
}

// Writes the Shift_JIS pair of JIS row r and cell t (low seven bits).
inline void putJis(char*& w, unsigned r, unsigned t) {
    unsigned code = StrX_JisToSjisCode((r << 8) | t);
    *w++ = static_cast<char>(code >> 8);
    *w++ = static_cast<char>(code & 0xFF);
}
}  // namespace

unsigned StrX_JisToSjisCode(unsigned code) {
    int r = static_cast<int>((code >> 8) & 0x7F);
    int t = static_cast<int>(code & 0x7F);
    int k = (r - 33) * 94 + (t - 33);
    if (k < 0) k = 0;  // not a JIS X 0208 code: the arithmetic stays in range
    unsigned lead = static_cast<unsigned>(k / 188 + 0x81);
    if (lead >= 0xA0) lead += 0x40;
    unsigned trail = static_cast<unsigned>(k % 188 + 0x40);
    if (k % 188 > 62) trail++;
    return ((lead & 0xFF) << 8) | trail;
}

int StrX_DetectCode(const char* text) {
    for (const char* p = text; *p; p++) {
        unsigned c = byteAt(p);
        if (c == kEsc) {
            if (p[1] == '$' && (p[2] == '@' || p[2] == 'B')) return StrX_Code_Jis;
            if (p[1] == '(' && p[2] == 'I') return StrX_Code_Euc;
            continue;
        }
        if (c == 0x8E) {
            unsigned n = byteAt(p + 1);
            return (n >= 0x40 && n <= 0xEC && n != 0x7F) ? StrX_Code_Sjis : StrX_Code_Euc;
        }
        if (c >= 0x80 && c <= 0x9F) return StrX_Code_Sjis;
        if (c >= 0xA0) return StrX_Code_Euc;
    }
    return StrX_Code_Ascii;
}

char* StrX_ToSjis(char* out, const char* text) {
    switch (StrX_DetectCode(text)) {
        case StrX_Code_Jis:
            return StrX_JisToSjis(out, text);
        case StrX_Code_Euc:
            return StrX_EucToSjis(out, text);
        default:
            memmove(out, text, strlen(text) + 1);
            return out;
    }
}

char* StrX_JisToSjis(char* out, const char* text) {
    enum { kAscii, kKanji, kKana } mode = kAscii;
    char* w = out;
    const char* p = text;
    while (*p) {
        unsigned c = byteAt(p) & 0x7F;
        if (c == kEsc) {
            unsigned c1 = byteAt(p + 1) & 0x7F;
            if (c1 == 0) break;  // the text ends inside an escape
            if (c1 == '$' || c1 == '(') {
                unsigned c2 = byteAt(p + 2) & 0x7F;
                if (c2 == 0) break;
                if (c1 == '$' && (c2 == '@' || c2 == 'B')) {
                    mode = kKanji;
                    p += 3;
                    continue;
                }
                if (c1 == '(' && c2 == 'I') {
                    mode = kKana;
                    p += 3;
                    continue;
                }
                if (c1 == '(' && (c2 == 'B' || c2 == 'H' || c2 == 'J')) {
                    mode = kAscii;
                    p += 3;
                    continue;
                }
            }
            // Any other ESC is an ordinary byte.
        } else if (c == kSo) {
            mode = kKana;
            p++;
            continue;
        } else if (c == kSi) {
            if (mode == kKana) mode = kAscii;
            p++;
            continue;
        }
        if (mode == kKanji && isJisByte(c)) {
            unsigned t = byteAt(p + 1) & 0x7F;
            if (t == 0) break;    // the text ends between the two bytes of a kanji
            if (!isJisByte(t)) {  // a lone first byte: dropped, the next byte read anew
                p++;
                continue;
            }
            putJis(w, c, t);
            p += 2;
            continue;
        }
        if (mode == kKana && c >= 0x21 && c <= 0x5F) c |= 0x80;
        *w++ = static_cast<char>(c);
        p++;
    }
    *w = 0;
    return out;
}

char* StrX_EucToSjis(char* out, const char* text) {
    bool kana = false;
    char* w = out;
    const char* p = text;
    while (*p) {
        unsigned c = byteAt(p);
        if (c >= 0xA1 && c <= 0xFE) {
            unsigned t = byteAt(p + 1);
            if (t == 0) break;  // the text ends inside a double-byte character
            if (t >= 0xA1 && t <= 0xFE) {
                putJis(w, c & 0x7F, t & 0x7F);
                p += 2;
                continue;
            }
        } else if (c == 0x8E) {
            unsigned t = byteAt(p + 1);
            if (t == 0) break;
            if (t >= 0xA1 && t <= 0xDF) {
                *w++ = static_cast<char>(t);
                p += 2;
                continue;
            }
        } else if (c == kSo || c == kSi) {
            kana = c == kSo;
            p++;
            continue;
        } else if (c == kEsc && p[1] == '(') {
            if (!p[2]) break;  // the text ends inside an escape
            if (p[2] == 'I' || p[2] == 'J' || p[2] == 'B') {
                kana = p[2] == 'I';
                p += 3;
                continue;
            }
        } else if (c == kEsc && !p[1]) {
            break;
        }
        if (c >= 0x80) {
            c &= 0x7F;
        } else if (kana && c >= 0x21 && c <= 0x5F) {
            c |= 0x80;
        }
        *w++ = static_cast<char>(c);
        p++;
    }
    *w = 0;
    return out;
}

// ---- Pointer ranges -----------------------------------------------------

namespace {
inline unsigned char* bytes(void* p) {
    return static_cast<unsigned char*>(p);
}
inline const unsigned char* bytes(const void* p) {
    return static_cast<const unsigned char*>(p);
}
inline size_t rangeBytes(const PtrRange* r) {
    return PtrRange_IsValid(r) ? static_cast<size_t>(bytes(r->last) - bytes(r->first)) : 0;
}
}  // namespace

void PtrRange_Set(PtrRange* range, void* start, size_t length) {
    range->first = start;
    range->last = bytes(start) + length;
}

void* PtrRange_SetEnds(PtrRange* range, void* start, void* end) {
    range->first = start;
    range->last = end;
    return end;
}

PtrRange* PtrRange_SetStr(PtrRange* range, char* text) {
    PtrRange_Set(range, text, strlen(text));
    return range;
}

bool PtrRange_IsValid(const PtrRange* range) {
    return range->first && range->last && bytes(range->last) >= bytes(range->first);
}

size_t PtrRange_Count(const PtrRange* range, size_t elemSize) {
    return elemSize ? rangeBytes(range) / elemSize : 0;
}

void* PtrRange_At(const PtrRange* range, size_t elemSize, size_t n) {
    if (n >= PtrRange_Count(range, elemSize)) return nullptr;
    return bytes(range->first) + n * elemSize;
}

size_t PtrRange_ToPtrs(const PtrRange* range, size_t elemSize, void** ptrs, size_t maxCount) {
    size_t n = PtrRange_Count(range, elemSize);
    if (n > maxCount) n = maxCount;
    for (size_t i = 0; i < n; i++) ptrs[i] = bytes(range->first) + i * elemSize;
    return n;
}

void* PtrRange_Copy(PtrRange* dst, const PtrRange* src, void* block, size_t size) {
    size_t n = rangeBytes(src);
    if (n > size) n = size;
    memmove(block, src->first, n);
    PtrRange_Set(dst, block, n);
    return dst->last;
}

void* PtrRange_NextMarked(const PtrRange* range, const void* elem, size_t elemSize,
                          size_t markOfs) {
    if (elemSize == 0 || markOfs >= elemSize) return nullptr;
    size_t count = PtrRange_Count(range, elemSize);
    size_t i = 0;
    if (elem) i = static_cast<size_t>(bytes(elem) - bytes(range->first)) / elemSize + 1;
    for (; i < count; i++) {
        unsigned char* e = bytes(range->first) + i * elemSize;
        if (e[markOfs] == 1) return e;
    }
    return nullptr;
}

size_t PtrRange_Fill(PtrRange* range, size_t elemSize, const void* values, size_t count) {
    size_t n = PtrRange_Count(range, elemSize);
    if (n > count) n = count;
    memmove(range->first, values, n * elemSize);
    return n;
}

bool PtrRange_Move(PtrRange* range, void* from, size_t n, void* to) {
    if (!PtrRange_IsValid(range)) return false;
    unsigned char* first = bytes(range->first);
    unsigned char* last = bytes(range->last);
    unsigned char* f = bytes(from);
    unsigned char* t = bytes(to);
    size_t total = static_cast<size_t>(last - first);
    if (f < first || t < first || n > total) return false;
    size_t fo = static_cast<size_t>(f - first);
    size_t to_ = static_cast<size_t>(t - first);
    if (fo > total - n || to_ > total - n) return false;
    if (f < t) {
        std::rotate(f, f + n, t + n);
    } else if (t < f) {
        std::rotate(t, f, f + n);
    }
    return true;
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
        size_t n = charCut(p, static_cast<size_t>(e - p), static_cast<size_t>(size) - 1);
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
