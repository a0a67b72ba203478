// The string module's HTML text: escaping and character references.

#include "components/strx.h"

#include <cstring>

#include "components/strx_internal.h"

using namespace strx_detail;

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
        if (kGreekRefs[i] && len > 1 && name[0] == foldCase(kGreekRefs[i][0]) &&
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
    // Up to the first '&' nothing changes.
    char* w = strchr(text, '&');
    if (!w) return text;
    const char* r = w;
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
