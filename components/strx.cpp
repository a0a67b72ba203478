#include "components/strx.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "components/bigstack.h"
#include "components/errors.h"
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
inline unsigned char foldByte(unsigned char c) {
    return static_cast<unsigned char>(foldCase(c));
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
    if (cut)
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

namespace {

// The first match of pattern in text, ASCII letters without case on bytes
// that are not trail bytes; with onBoundary, only matches that begin on a
// character boundary of text count.
char* findStrI(const char* text, const char* pattern, bool onBoundary) {
    if (!*pattern) return nullptr;
    bool startTrail = false;  // text[t] is the trail byte of a double-byte character
    for (const char* t = text; *t; t++) {
        const char* a = t;
        const char* b = pattern;
        bool aTrail = startTrail;
        bool bTrail = false;
        while (!(onBoundary && startTrail)) {
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

}  // namespace

char* StrX_FindStrI(const char* text, const char* pattern) {
    return findStrI(text, pattern, false);
}

char* StrX_FindStrIChar(const char* text, const char* pattern) {
    return findStrI(text, pattern, true);
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
    const size_t room = static_cast<size_t>(size) - 1;
    size_t w = 0;
    const char* p = text;
    // No trail byte is one of & < > (trail bytes start at 0x40), so a byte
    // that is one of them always stands for itself.
    auto special = [](char c) { return c == '&' || c == '<' || c == '>'; };
    while (*p) {
        if (special(*p)) {
            const char* entity = *p == '&' ? "&amp;" : *p == '<' ? "&lt;" : "&gt;";
            const size_t len = strlen(entity);
            if (w + len > room) break;
            memcpy(out + w, entity, len);
            w += len;
            p++;
            continue;
        }
        // A run of other characters, whole ones only, copied at once.
        const char* q = p;
        while (*q && !special(*q)) {
            const char* next = nextChar(q);
            if (w + static_cast<size_t>(next - p) > room) break;
            q = next;
        }
        memcpy(out + w, p, static_cast<size_t>(q - p));
        w += static_cast<size_t>(q - p);
        if (*q && !special(*q)) break;  // the next character does not fit
        p = q;
    }
    out[w] = 0;
    return out;
}

namespace {

// The named character references a page's head may use: HTML's own, the
// Latin-1 set, general punctuation, arrows, mathematical signs and the Greek
// letters. Names compare exactly (HTML names are case-sensitive).
struct NamedRef {
    const char* name;
    unsigned codePoint;
};
constexpr NamedRef kNamedRefs[] = {
    {"quot", 0x22},     {"amp", 0x26},       {"apos", 0x27},     {"lt", 0x3C},
    {"gt", 0x3E},       {"QUOT", 0x22},      {"AMP", 0x26},      {"LT", 0x3C},
    {"GT", 0x3E},       {"OElig", 0x152},    {"oelig", 0x153},   {"Scaron", 0x160},
    {"scaron", 0x161},  {"Yuml", 0x178},     {"fnof", 0x192},    {"circ", 0x2C6},
    {"tilde", 0x2DC},   {"thetasym", 0x3D1}, {"upsih", 0x3D2},   {"piv", 0x3D6},
    {"ensp", 0x2002},   {"emsp", 0x2003},    {"thinsp", 0x2009}, {"zwnj", 0x200C},
    {"zwj", 0x200D},    {"lrm", 0x200E},     {"rlm", 0x200F},    {"ndash", 0x2013},
    {"mdash", 0x2014},  {"lsquo", 0x2018},   {"rsquo", 0x2019},  {"sbquo", 0x201A},
    {"ldquo", 0x201C},  {"rdquo", 0x201D},   {"bdquo", 0x201E},  {"dagger", 0x2020},
    {"Dagger", 0x2021}, {"bull", 0x2022},    {"hellip", 0x2026}, {"permil", 0x2030},
    {"prime", 0x2032},  {"Prime", 0x2033},   {"lsaquo", 0x2039}, {"rsaquo", 0x203A},
    {"oline", 0x203E},  {"frasl", 0x2044},   {"euro", 0x20AC},   {"image", 0x2111},
    {"weierp", 0x2118}, {"real", 0x211C},    {"trade", 0x2122},  {"alefsym", 0x2135},
    {"larr", 0x2190},   {"uarr", 0x2191},    {"rarr", 0x2192},   {"darr", 0x2193},
    {"harr", 0x2194},   {"crarr", 0x21B5},   {"lArr", 0x21D0},   {"uArr", 0x21D1},
    {"rArr", 0x21D2},   {"dArr", 0x21D3},    {"hArr", 0x21D4},   {"forall", 0x2200},
    {"part", 0x2202},   {"exist", 0x2203},   {"empty", 0x2205},  {"nabla", 0x2207},
    {"isin", 0x2208},   {"notin", 0x2209},   {"ni", 0x220B},     {"prod", 0x220F},
    {"sum", 0x2211},    {"minus", 0x2212},   {"lowast", 0x2217}, {"radic", 0x221A},
    {"prop", 0x221D},   {"infin", 0x221E},   {"ang", 0x2220},    {"and", 0x2227},
    {"or", 0x2228},     {"cap", 0x2229},     {"cup", 0x222A},    {"int", 0x222B},
    {"there4", 0x2234}, {"sim", 0x223C},     {"cong", 0x2245},   {"asymp", 0x2248},
    {"ne", 0x2260},     {"equiv", 0x2261},   {"le", 0x2264},     {"ge", 0x2265},
    {"sub", 0x2282},    {"sup", 0x2283},     {"nsub", 0x2284},   {"sube", 0x2286},
    {"supe", 0x2287},   {"oplus", 0x2295},   {"otimes", 0x2297}, {"perp", 0x22A5},
    {"sdot", 0x22C5},   {"lceil", 0x2308},   {"rceil", 0x2309},  {"lfloor", 0x230A},
    {"rfloor", 0x230B}, {"lang", 0x2329},    {"rang", 0x232A},   {"loz", 0x25CA},
    {"spades", 0x2660}, {"clubs", 0x2663},   {"hearts", 0x2665}, {"diams", 0x2666},
    {"sigmaf", 0x3C2},
};
// U+00A0 to U+00FF, in order.
constexpr const char* kLatin1Refs[] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};
// U+0391 to U+03A9 and U+03B1 to U+03C9 (U+03A2 is unassigned; U+03C2 is sigmaf).
constexpr const char* kGreekRefs[] = {
    "Alpha", "Beta",   "Gamma",   "Delta", "Epsilon", "Zeta",    "Eta",   "Theta", "Iota",
    "Kappa", "Lambda", "Mu",      "Nu",    "Xi",      "Omicron", "Pi",    "Rho",   nullptr,
    "Sigma", "Tau",    "Upsilon", "Phi",   "Chi",     "Psi",     "Omega",
};
// What the references &#128; to &#159; stand for in pages (the Windows-1252
// characters, as browsers read them); 0 where that code has none.
constexpr unsigned short kC1Refs[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool nameIs(const char* name, size_t len, const char* known) {
    return known && strlen(known) == len && memcmp(name, known, len) == 0;
}

// The code point a reference name stands for; 0 when the name is not known.
unsigned namedRef(const char* name, size_t len) {
    for (const NamedRef& r : kNamedRefs)
        if (nameIs(name, len, r.name)) return r.codePoint;
    for (size_t i = 0; i < sizeof kLatin1Refs / sizeof kLatin1Refs[0]; i++)
        if (nameIs(name, len, kLatin1Refs[i])) return 0xA0 + static_cast<unsigned>(i);
    for (size_t i = 0; i < sizeof kGreekRefs / sizeof kGreekRefs[0]; i++) {
        if (nameIs(name, len, kGreekRefs[i])) return 0x391 + static_cast<unsigned>(i);
        // The small letters, in the capitals' order: the same name begun in lower case.
        if (kGreekRefs[i] && len > 1 && name[0] == kGreekRefs[i][0] + ('a' - 'A') &&
            nameIs(name + 1, len - 1, kGreekRefs[i] + 1))
            return 0x3B1 + static_cast<unsigned>(i);
    }
    return 0;
}

// Parses the reference that starts at p ('&'); on success returns its length
// (through the ';') and its code point (0x110000 for a number beyond Unicode).
size_t parseRef(const char* p, unsigned* codePoint) {
    const char* q = p + 1;
    if (*q == '#') {
        q++;
        const bool hex = *q == 'x' || *q == 'X';
        if (hex) q++;
        const char* digits = q;
        unsigned value = 0;
        for (;; q++) {
            int d;
            if (*q >= '0' && *q <= '9')
                d = *q - '0';
            else if (hex && *q >= 'a' && *q <= 'f')
                d = *q - 'a' + 10;
            else if (hex && *q >= 'A' && *q <= 'F')
                d = *q - 'A' + 10;
            else
                break;
            value = value * (hex ? 16 : 10) + static_cast<unsigned>(d);
            if (value > 0x10FFFF) value = 0x110000;  // stays out of range, never wraps
        }
        if (q == digits || *q != ';') return 0;
        *codePoint = value;
        return static_cast<size_t>(q + 1 - p);
    }
    while ((*q >= 'a' && *q <= 'z') || (*q >= 'A' && *q <= 'Z') || (*q >= '0' && *q <= '9')) q++;
    if (*q != ';') return 0;
    *codePoint = namedRef(p + 1, static_cast<size_t>(q - p - 1));
    return *codePoint ? static_cast<size_t>(q + 1 - p) : 0;
}

// Writes the Shift_JIS form of a referenced code point at out (at most 2
// bytes); returns its length. Tab, LF and CR stay themselves; another control
// character, a surrogate, a number beyond Unicode and a character CP932 has no
// form for give the geta mark.
size_t refToSjis(unsigned cp, char* out) {
    if (cp >= 0x80 && cp <= 0x9F) cp = kC1Refs[cp - 0x80] ? kC1Refs[cp - 0x80] : 0xFFFD;
    if (cp == '\t' || cp == '\n' || cp == '\r' || (cp >= 0x20 && cp < 0x7F)) {
        *out = static_cast<char>(cp);
        return 1;
    }
    char utf8[5] = {};
    if (cp < 0x20 || cp == 0x7F || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        cp = 0xFFFD;  // no Shift_JIS form: the converter gives the geta mark
    }
    if (cp < 0x800) {
        utf8[0] = static_cast<char>(0xC0 | (cp >> 6));
        utf8[1] = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        utf8[0] = static_cast<char>(0xE0 | (cp >> 12));
        utf8[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8[2] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        utf8[0] = static_cast<char>(0xF0 | (cp >> 18));
        utf8[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        utf8[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8[3] = static_cast<char>(0x80 | (cp & 0x3F));
    }
    char sjis[3];
    const size_t n = CodePage_Utf8ToSjisGeta(utf8, sjis, sizeof sjis);
    memcpy(out, sjis, n);
    return n;
}

}  // namespace

char* StrX_HtmlUnescape(char* text) {
    char* w = text;
    const char* r = text;
    while (*r) {
        unsigned cp = 0;
        size_t len = *r == '&' ? parseRef(r, &cp) : 0;
        if (len == 0) {
            // '&' is never the trail byte of a double-byte character.
            *w++ = *r++;
            continue;
        }
        // A reference is at least 4 bytes and yields at most 2: never past r.
        w += refToSjis(cp, w);
        r += len;
    }
    *w = '\0';
    return text;
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
    len = CodePage_CharCut(std::string_view(work, len), limit);
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

char* StrX_TrimBrokenChar(char* text) {
    for (char* p = text; *p; p = nextChar(p)) {
        if (isLead(p) && !p[1]) {
            *p = '\0';
            break;
        }
    }
    return text;
}

int StrX_CharsetCode(const char* name) {
    static const struct {
        const char* name;
        int code;
    } kNames[] = {
        {"shift_jis", StrX_Code_Sjis},   {"shift-jis", StrX_Code_Sjis},
        {"x-sjis", StrX_Code_Sjis},      {"sjis", StrX_Code_Sjis},
        {"windows-31j", StrX_Code_Sjis}, {"cp932", StrX_Code_Sjis},
        {"ms_kanji", StrX_Code_Sjis},    {"csshiftjis", StrX_Code_Sjis},
        {"euc-jp", StrX_Code_Euc},       {"x-euc-jp", StrX_Code_Euc},
        {"eucjp", StrX_Code_Euc},        {"cseucpkdfmtjapanese", StrX_Code_Euc},
        {"iso-2022-jp", StrX_Code_Jis},  {"csiso2022jp", StrX_Code_Jis},
        {"utf-8", StrX_Code_Utf8},       {"utf8", StrX_Code_Utf8},
    };
    if (!name) return StrX_Code_Ascii;
    const size_t len = strlen(name);
    for (const auto& n : kNames) {
        if (strlen(n.name) != len) continue;
        size_t i = 0;
        while (i < len &&
               static_cast<unsigned char>(foldCase(byteAt(name + i))) == byteAt(n.name + i))
            i++;
        if (i == len) return n.code;
    }
    return StrX_Code_Ascii;
}

namespace {

// How a text reads as Shift_JIS or as EUC-JP: whether every byte forms a
// character of that encoding, how many half-width katakana the reading holds,
// and how many of its characters are likely or unlikely in real Japanese text.
// With cut, a character begun at the very end and cut off there does not
// count against the text.
//
// Text in one encoding read as the other: EUC-JP kana (leads 0xA4, 0xA5) and
// punctuation (0xA1) read as Shift_JIS become the half-width marks ｡､･,
// which real text seldom holds; a half-width voiced mark ﾞ or ﾟ then follows a
// character that cannot take it; EUC-JP half-width kana become kanji of lead
// 0x8E; Shift_JIS half-width kana read as EUC-JP become Greek, Cyrillic, box
// drawing; and JIS rows that hold no characters show up (Shift_JIS leads 0xEB
// and above, EUC-JP rows 9 to 15 and 85 to 94).
struct Reading {
    bool valid = true;
    int halfKana = 0;
    int likely = 0;    // EUC-JP: full-width kana; Shift_JIS: ﾞ or ﾟ after a kana that takes it
    int unlikely = 0;  // characters real text seldom holds, or marks out of place
};

bool isSjisTrail(unsigned c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}
bool isEucByte(unsigned c) {
    return c >= 0xA1 && c <= 0xFE;
}
// True when the half-width kana byte c can carry the voiced mark ﾞ (0xDE) or,
// with semi, the semi-voiced mark ﾟ (0xDF).
bool takesMark(unsigned c, bool semi) {
    const bool ha = c >= 0xCA && c <= 0xCE;                          // ﾊ to ﾎ
    return semi ? ha : ha || (c >= 0xB6 && c <= 0xC4) || c == 0xB3;  // ｶ to ﾄ, ｳ
}

void readSjis(const unsigned char* p, bool cut, Reading* r) {
    unsigned prev = 0;
    while (*p) {
        const unsigned c = *p;
        if (c < 0x80) {
            p++;
        } else if (c >= 0xA1 && c <= 0xDF) {
            r->halfKana++;
            if (c == 0xA1 || c == 0xA4 || c == 0xA5) r->unlikely++;  // ｡､･
            if (c >= 0xDE) (takesMark(prev, c == 0xDF) ? r->likely : r->unlikely)++;
            p++;
        } else if (CodePage_IsLead(static_cast<unsigned char>(c))) {
            if (!p[1]) {
                if (!cut) r->valid = false;
                return;
            }
            if (!isSjisTrail(p[1])) r->valid = false;
            // Rows that hold no characters, and 0x8E before a half-width
            // kana byte: EUC-JP's own way of writing half-width katakana.
            if (c >= 0xEB || (c == 0x8E && p[1] >= 0xA1 && p[1] <= 0xDF)) r->unlikely++;
            p += 2;
        } else {
            r->valid = false;  // 0x80, 0xA0, 0xFD..0xFF
            p++;
        }
        prev = c;
    }
}

void readEuc(const unsigned char* p, bool cut, Reading* r) {
    while (*p) {
        const unsigned c = *p;
        // Bytes this character needs after its first, and what they may be.
        int need;
        bool kana = false;
        if (c < 0x80) {
            p++;
            continue;
        } else if (c == 0x8E) {
            need = 1, kana = true;
        } else if (c == 0x8F) {
            need = 2;
        } else if (isEucByte(c)) {
            need = 1;
        } else {
            r->valid = false;  // 0x80..0x8D, 0x90..0xA0, 0xFF
            p++;
            continue;
        }
        int i = 1;
        for (; i <= need && p[i]; i++) {
            if (kana ? !(p[i] >= 0xA1 && p[i] <= 0xDF) : !isEucByte(p[i])) {
                r->valid = false;
                break;
            }
        }
        if (i <= need && !p[i]) {
            if (!cut) r->valid = false;
            return;
        }
        if (i > need) {
            if (kana) r->halfKana++;
            if (c == 0xA4 || c == 0xA5) r->likely++;
            // Greek, Cyrillic and box drawing (rows 6 to 8), rows that hold
            // no characters (9 to 15 but for 13, 85 to 94): what Shift_JIS
            // half-width kana ｦ to ｯ and level-2 kanji read as.
            if ((c >= 0xA6 && c <= 0xAF && c != 0xAD) || c >= 0xF5) r->unlikely++;
        }
        p += i <= need ? i : need + 1;
    }
}

bool hasJisEscape(const char* text) {
    for (const char* p = text; *p; p++)
        if (p[0] == kEsc && ((p[1] == '$' && (p[2] == '@' || p[2] == 'B')) ||
                             (p[1] == '(' && (p[2] == 'I' || p[2] == 'J'))))
            return true;
    return false;
}

bool hasHighByte(const char* text) {
    for (const char* p = text; *p; p++)
        if (byteAt(p) >= 0x80) return true;
    return false;
}

}  // namespace

int StrX_DetectPageCode(const char* title, bool titleCut, const char* keywords, bool keywordsCut) {
    if (hasJisEscape(title) || hasJisEscape(keywords)) return StrX_Code_Jis;
    if (!hasHighByte(title) && !hasHighByte(keywords)) return StrX_Code_Ascii;
    bool multiTitle = false, multiKeywords = false;
    if (CodePage_IsUtf8(title, &multiTitle, titleCut) &&
        CodePage_IsUtf8(keywords, &multiKeywords, keywordsCut) && (multiTitle || multiKeywords))
        return StrX_Code_Utf8;
    Reading sjis, euc;
    readSjis(reinterpret_cast<const unsigned char*>(title), titleCut, &sjis);
    readSjis(reinterpret_cast<const unsigned char*>(keywords), keywordsCut, &sjis);
    readEuc(reinterpret_cast<const unsigned char*>(title), titleCut, &euc);
    readEuc(reinterpret_cast<const unsigned char*>(keywords), keywordsCut, &euc);
    if (euc.valid && !sjis.valid) return StrX_Code_Euc;
    if (sjis.valid && !euc.valid) return StrX_Code_Sjis;
    if (!euc.valid) return StrX_Code_Sjis;  // neither: the bytes stay as they are
    // Both readings hold. The signs of either encoding first; without them,
    // real Japanese text seldom runs in half-width katakana, while EUC-JP kana
    // and kanji read as Shift_JIS turn into runs of them. When nothing tells,
    // the bytes stay as they are.
    const int forEuc = euc.likely + sjis.unlikely, forSjis = sjis.likely + euc.unlikely;
    if (forEuc != forSjis) return forEuc > forSjis ? StrX_Code_Euc : StrX_Code_Sjis;
    return euc.halfKana < sjis.halfKana ? StrX_Code_Euc : StrX_Code_Sjis;
}

char* StrX_ToSjisFrom(char* out, int size, const char* text, int code) {
    if (size <= 0) return out;
    switch (code) {
        case StrX_Code_Utf8:
            CodePage_Utf8ToSjisGeta(text, out, static_cast<size_t>(size));
            return out;
        case StrX_Code_Jis:
        case StrX_Code_Euc: {
            // The converters write at most as many bytes as they read: convert
            // no more of the text than fits, then cut at a character boundary.
            char* work = out;
            const size_t len = strlen(text);
            if (len + 1 > static_cast<size_t>(size)) {
                size_t n = static_cast<size_t>(size) - 1;
                memcpy(out, text, n);
                out[n] = '\0';
                text = out;
            }
            if (code == StrX_Code_Jis)
                StrX_JisToSjis(work, text);
            else
                StrX_EucToSjis(work, text);
            StrX_TrimBrokenChar(out);
            return out;
        }
        default:
            StrX_CopyN(out, text, size);
            StrX_TrimBrokenChar(out);
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

// ==== The upper half =========================================================

namespace {

bool hasDrive(const char* p) {
    return p[0] != '\0' && p[1] == ':';
}

// The last single-byte separator of text (Shift_JIS-aware), or nullptr.
char* findLastSep(char* text) {
    char* found = nullptr;
    for (char* p = text; *p != '\0'; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (CodePage_IsLead(c)) {
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
        if (CodePage_IsLead(static_cast<unsigned char>(*p)) && p[1] != '\0') p++;
    }
    return last;
}

// True when the last character of text is a single-byte separator.
bool endsWithSep(const char* text) {
    const char* last = lastCharPos(text);
    return last != nullptr && last[1] == '\0' && isSep(static_cast<unsigned char>(*last));
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
    uint64_t need = BigStack_MarkSize + BigStack_Rounded(n);
    if (s->size - static_cast<uint32_t>(s->sp - s->mem) < need)
        BigStack_Alloc(s, static_cast<uint32_t>(need > UINT32_MAX ? UINT32_MAX : need));
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
        if (CodePage_IsLead(c) && prefix[1] != '\0') {
            if (text[0] != prefix[0] || text[1] != prefix[1]) return nullptr;
            text += 2;
            prefix += 2;
            continue;
        }
        if (*text == '\0' || CodePage_IsLead(static_cast<unsigned char>(*text)) ||
            foldByte(static_cast<unsigned char>(*text)) != foldByte(c)) {
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
    CodePage_CopyCut(W, sizeof g_relWork, path);

    const size_t lim = static_cast<size_t>(limit);
    size_t o = 0;  // output length
    const char* w = W;
    const char* b = base;

    // Drive letters.
    if (hasDrive(W) && hasDrive(base)) {
        if (foldByte(W[0]) != foldByte(base[0]) && lim >= 3) {
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
        if (CodePage_IsLead(cw) && w[1] != '\0') {
            if (cw != cb || w[1] != b[1]) break;
            w += 2;
            b += 2;
            continue;
        }
        if (isSep(cw) && isSep(cb)) {
            sepW = w;
            sepB = b;
        } else if (CodePage_IsLead(cb) || foldByte(cw) != foldByte(cb)) {
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
                if (CodePage_IsLead(c) && p[1] != '\0') {
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
    o += CodePage_CopyCut(path + o, lim - o, rest);

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
            if (CodePage_IsLead(static_cast<unsigned char>(*p)) && p + 1 < last) {
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
    CodePage_CopyCut(src, 260, path);
    char* res = prefix;  // the result is built in prefix, which is also the search path
    // The leading part, up to the first separator.
    const char* p = src;
    while (*p != '\0' && !isSep(static_cast<unsigned char>(*p))) {
        p += (CodePage_IsLead(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
    }
    size_t n = p - src;
    memcpy(res, src, n);
    res[n] = '\0';
    while (*p != '\0') {
        char sep = *p++;
        const char* elem = p;
        while (*p != '\0' && !isSep(static_cast<unsigned char>(*p))) {
            p += (CodePage_IsLead(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
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
    CodePage_CopyCut(folder, 260, baseFile);
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
    CodePage_CopyCut(g_linkWork, sizeof g_linkWork, baseFile);
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
    size_t n = CodePage_CopyCut(out, lim, newFolder);
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
        size_t m = CodePage_CopyCut(out + n, lim - n, rest);
        fits = (m == strlen(rest));
    }
    if (!fits) ERRORS_REPORT(Errors_Unofficial, "error");
    return out;
}

// ---- Time text ---------------------------------------------------------------

void StrX_InitLocale() {
    if (!g_localeToInit) return;
    g_localeToInit = false;
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

namespace {

// Sets out to "" and *local to the local time of t. False when out has no
// room or t has no local time. localtime_r: no hidden shared buffer (the
// build runs on a worker thread) and no heap, where plain localtime may
// allocate.
bool startTimeText(time_t t, char* out, int size, struct tm* local) {
    StrX_InitLocale();
    if (size <= 0) return false;
    out[0] = '\0';
    return localtime_r(&t, local) != nullptr;
}

}  // namespace

char* StrX_FormatTime(time_t t, const char* format, char* out, int size) {
    struct tm tmv;
    if (!startTimeText(t, out, size, &tmv)) return out;
    CodePage_CopyCut(g_timeFormat, sizeof g_timeFormat, format);
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
    struct tm tmv;
    if (!startTimeText(t, out, size, &tmv)) return out;
    return formatTm(&tmv, "%c", out, size);
}

const char* StrX_NowText() {
    return StrX_TimeText(time(nullptr), g_nowText, sizeof g_nowText);
}

const char* StrX_NowFormat(const char* format) {
    struct tm tmv;
    if (!startTimeText(time(nullptr), g_nowFormat, sizeof g_nowFormat, &tmv)) return g_nowFormat;
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
