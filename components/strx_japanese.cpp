// The string module's Japanese codes: JIS, EUC-JP and Shift_JIS conversion,
// charset names and the page-encoding decision.

#include "components/strx.h"

#include <cstring>

#include "components/strx_internal.h"
#include "platform/codepage.h"

using namespace strx_detail;

// ---- Japanese encodings -------------------------------------------------

int StrX_JisEscapeKind(const char* position) {
    if (position[0] != 0x1B) return StrX_Jis_None;
    if (position[1] == '$' && (position[2] == '@' || position[2] == 'B')) return StrX_Jis_TwoByte;
    if (position[1] == '(' &&
        (position[2] == 'H' || position[2] == 'B' || position[2] == 'J' || position[2] == 'I')) {
        return StrX_Jis_OneByte;
    }
    return StrX_Jis_None;
}

namespace {
constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kSo = 0x0E;
constexpr unsigned char kGetaLead = 0x81;  // 〓, for a character with no Shift_JIS form
constexpr unsigned char kGetaTrail = 0xAC;
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
        } else if (c == 0x8F) {
            // JIS X 0212 (0x8F and two bytes 0xA1..0xFE: ç, é, ü) has no
            // Shift_JIS form: the geta mark 〓 stands for the character. Two
            // bytes of it give the mark too; a lone 0x8F (it would become the
            // control byte SI) is dropped.
            unsigned t1 = byteAt(p + 1);
            if (t1 == 0) break;  // the text ends inside the character
            if (t1 < 0xA1 || t1 == 0xFF) {
                p++;
                continue;
            }
            unsigned t2 = byteAt(p + 2);
            if (t2 == 0) break;
            *w++ = static_cast<char>(kGetaLead);
            *w++ = static_cast<char>(kGetaTrail);
            p += (t2 >= 0xA1 && t2 <= 0xFE) ? 3 : 2;
            continue;
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
