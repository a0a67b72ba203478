// The string module's text operations: bounded copying, editing in place,
// searching, classification, number text and pointer ranges.

#include "components/strx.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "components/strx_internal.h"

using namespace strx_detail;

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

int StrX_LastSingleChar(const char* text) {
    int last = 0;
    for (const char* p = text; *p; p = nextChar(p)) last = isLead(p) && p[1] ? 0 : byteAt(p);
    return last;
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
    // Up to the first CR, LF or TAB nothing moves.
    char* w = text + strcspn(text, "\r\n\t");
    if (*w == '\0') return text;
    for (const char* p = w; *p; p++) {
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
            c = upper ? CodePage_ToUpper(c) : foldCase(c);
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

// ---- Searching ----------------------------------------------------------

namespace {

// True when pattern stands at t, ASCII letters without case on bytes that
// are not trail bytes; tTrail tells that t is a trail byte.
bool matchesAt(const char* t, const char* pattern, bool tTrail) {
    const char* a = t;
    const char* b = pattern;
    bool aTrail = tTrail;
    bool bTrail = false;
    for (;;) {
        unsigned char ca = byteAt(a);
        unsigned char cb = byteAt(b);
        if (!ca) return false;
        bool same = (aTrail || bTrail) ? ca == cb : foldCase(ca) == foldCase(cb);
        if (!same) return false;
        aTrail = !aTrail && CodePage_IsLead(ca);
        bTrail = !bTrail && CodePage_IsLead(cb);
        a++;
        b++;
        if (!*b) return true;
    }
}

}  // namespace

char* StrX_FindStrI(const char* text, const char* pattern) {
    if (!*pattern) return nullptr;
    // A match is tried only where its first byte agrees: exactly on a trail
    // byte, without case elsewhere (as matchesAt compares it).
    const unsigned char first = byteAt(pattern);
    const unsigned char firstFolded = foldByte(first);
    bool trail = false;  // text[t] is the trail byte of a double-byte character
    for (const char* t = text; *t; t++) {
        const unsigned char c = byteAt(t);
        if ((trail ? c == first : foldByte(c) == firstFolded) && matchesAt(t, pattern, trail))
            return const_cast<char*>(t);
        trail = !trail && CodePage_IsLead(c);
    }
    return nullptr;
}

char* StrX_FindStrIChar(const char* text, const char* pattern) {
    if (!*pattern) return nullptr;
    // Character starts only; a match is tried where its first byte agrees (at
    // a character start, without case).
    const unsigned char first = foldByte(byteAt(pattern));
    if (isAsciiAlpha(first)) {
        for (const char* t = text; *t; t = nextChar(t))
            if (foldByte(byteAt(t)) == first && matchesAt(t, pattern, false))
                return const_cast<char*>(t);
        return nullptr;
    }
    // A byte that is no letter is found by strchr; the character starts are
    // stepped up to it to tell whether it is one.
    const char* start = text;
    for (const char* hit = strchr(text, first); hit; hit = strchr(hit + 1, first)) {
        while (start < hit) start = nextChar(start);
        if (start == hit && matchesAt(hit, pattern, false)) return const_cast<char*>(hit);
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
