#include "platform/codepage.h"

#include <iconv.h>

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// The iconv descriptor from one encoding to another, opened once per thread
// and direction (opening one looks the converters up, which costs more than
// converting a line); it comes back in its initial state. (iconv_t)-1 when
// the conversion is not available. *owned is set when the cache had no room:
// the caller then closes the descriptor.
iconv_t descriptor(const char* to, const char* from, bool* owned) {
    *owned = false;
    struct Cache {
        struct Slot {
            const char* to;
            const char* from;
            iconv_t cd;
        } slots[4];
        int used = 0;
        ~Cache() {
            for (int i = 0; i < used; i++)
                if (slots[i].cd != (iconv_t)-1) iconv_close(slots[i].cd);
        }
    };
    thread_local Cache cache;
    for (int i = 0; i < cache.used; i++) {
        Cache::Slot& s = cache.slots[i];
        if (strcmp(s.to, to) == 0 && strcmp(s.from, from) == 0) {
            if (s.cd != (iconv_t)-1) iconv(s.cd, nullptr, nullptr, nullptr, nullptr);
            return s.cd;
        }
    }
    iconv_t cd = iconv_open(to, from);
    if (cache.used < 4)
        cache.slots[cache.used++] = Cache::Slot{to, from, cd};
    else
        *owned = cd != (iconv_t)-1;
    return cd;
}

// Converts with iconv, replacing each unconvertible unit of the input by '?'.
// unitOf returns how many input bytes make up the unit that starts at p.
std::string convert(const char* to, const char* from, std::string_view in, bool* exact,
                    size_t (*unitOf)(const unsigned char* p, size_t left)) {
    if (exact) *exact = true;
    // ASCII reads the same in CP932 and UTF-8: no converter needed (a search
    // lists thousands of links this way).
    if (CodePage_IsAscii(in)) return std::string(in);
    std::string out;
    bool owned = false;
    iconv_t cd = descriptor(to, from, &owned);
    if (cd == (iconv_t)-1) {
        if (exact) *exact = false;
        return std::string(in);
    }
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char chunk[256];
    while (srcLeft > 0) {
        char* dst = chunk;
        size_t dstLeft = sizeof chunk;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(chunk, dst - chunk);
        if (r == (size_t)-1) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL: one unit cannot be converted.
            if (exact) *exact = false;
            out.push_back('?');
            size_t n = unitOf(reinterpret_cast<const unsigned char*>(src), srcLeft);
            src += n;
            srcLeft -= n;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* dst = chunk;
    size_t dstLeft = sizeof chunk;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(chunk, dst - chunk);
    if (owned) iconv_close(cd);
    return out;
}

size_t sjisUnit(const unsigned char* p, size_t left) {
    return (CodePage_IsLead(p[0]) && left >= 2) ? 2 : 1;
}

size_t utf8Unit(const unsigned char* p, size_t left) {
    size_t n = 1;
    if (p[0] >= 0xC2 && p[0] <= 0xDF)
        n = 2;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF)
        n = 3;
    else if (p[0] >= 0xF0 && p[0] <= 0xF4)
        n = 4;
    if (n > left) return 1;
    for (size_t i = 1; i < n; i++)
        if ((p[i] & 0xC0) != 0x80) return 1;  // a broken sequence: skip the first byte only
    return n;
}

}  // namespace

bool CodePage_IsAscii(std::string_view text) {
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {  // eight bytes at a time
        uint64_t word;
        memcpy(&word, text.data() + i, sizeof word);
        if (word & 0x8080808080808080u) return false;
    }
    for (; i < text.size(); i++)
        if (text[i] & 0x80) return false;
    return true;
}

size_t CodePage_CharCut(std::string_view text, size_t maxLen) {
    if (text.size() <= maxLen) return text.size();
    size_t n = 0;
    while (n < maxLen) {
        size_t unit =
            (CodePage_IsLead(static_cast<unsigned char>(text[n])) && n + 1 < text.size()) ? 2 : 1;
        if (n + unit > maxLen) break;
        n += unit;
    }
    return n;
}

size_t CodePage_CopyCut(char* out, size_t size, std::string_view text) {
    if (size == 0) return 0;
    size_t n = CodePage_CharCut(text, size - 1);
    memmove(out, text.data(), n);
    out[n] = '\0';
    return n;
}

namespace {

// CP932 to UTF-8 a character at a time, from tables that iconv fills as each
// byte and each double-byte code is first met: a search that lists thousands
// of titles asks the converter once per distinct character, not once per
// text. CP932 has no shift states, so a text converts as the concatenation of
// its characters, cut where iconv cuts them: a byte that iconv reads alone is
// a unit, one it wants a second byte for (a lead byte) makes a unit with the
// byte after it. A unit iconv refuses becomes '?' and skips what sjisUnit
// says, as a whole-text conversion does.
//
// An entry holds the UTF-8 bytes shifted up by 8 and their count in the low
// byte; 0 is not yet asked. The tables are shared by every thread: an entry
// is the same whoever fills it, so relaxed atomics suffice.
constexpr uint32_t kMemoUnknown = 0;
constexpr uint32_t kMemoLead = 0xFE;     // (bytes) iconv wants a second byte
constexpr uint32_t kMemoRefused = 0xFF;  // iconv has no counterpart
constexpr uint32_t kMemoTooLong = 0xFD;  // more UTF-8 bytes than an entry holds
std::atomic<uint32_t> g_byteMemo[256];
std::atomic<uint32_t> g_pairMemo[128 * 256];  // [first byte - 0x80][second byte]

// What iconv makes of in[0, n) as one unit: its entry.
uint32_t askIconv(const unsigned char* in, size_t n) {
    bool owned = false;
    iconv_t cd = descriptor("UTF-8", "CP932", &owned);
    if (cd == (iconv_t)-1) return kMemoRefused;
    char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
    size_t srcLeft = n;
    unsigned char utf8[16];
    char* dst = reinterpret_cast<char*>(utf8);
    size_t dstLeft = sizeof utf8;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    const int err = errno;
    if (owned) iconv_close(cd);
    const size_t produced = sizeof utf8 - dstLeft;
    if (r == (size_t)-1) return n == 1 && err == EINVAL ? kMemoLead : kMemoRefused;
    if (srcLeft != 0 || produced == 0) return kMemoRefused;
    if (produced > 3) return kMemoTooLong;
    uint32_t entry = static_cast<uint32_t>(produced);
    for (size_t i = 0; i < produced; i++) entry |= static_cast<uint32_t>(utf8[i]) << (8 * (i + 1));
    return entry;
}

uint32_t memo(std::atomic<uint32_t>* slot, const unsigned char* in, size_t n) {
    uint32_t entry = slot->load(std::memory_order_relaxed);
    if (entry == kMemoUnknown) {
        entry = askIconv(in, n);
        slot->store(entry, std::memory_order_relaxed);
    }
    return entry;
}

}  // namespace

namespace {

// Converts sjis into out, which has room for 3 bytes for each of its bytes
// (no unit makes more); returns the bytes written, or -1 when a unit met is
// not as CP932 has it in iconv (the caller then converts the whole text).
long sjisToUtf8Units(std::string_view sjis, char* out, bool* exact) {
    const auto* p = reinterpret_cast<const unsigned char*>(sjis.data());
    const auto* const end = p + sjis.size();
    char* w = out;
    while (p < end) {
        // What was met before: an ASCII byte iconv reads as itself, a pair of
        // a byte known to lead (no other pair entry is ever filled).
        if (*p < 0x80) {
            if (g_byteMemo[*p].load(std::memory_order_relaxed) == (uint32_t{*p} << 8 | 1)) {
                *w++ = static_cast<char>(*p++);
                continue;
            }
        } else if (end - p >= 2) {
            const uint32_t pair =
                g_pairMemo[(*p - 0x80) * 256 + p[1]].load(std::memory_order_relaxed);
            if ((pair & 0xFF) >= 1 && (pair & 0xFF) <= 3) {
                w[0] = static_cast<char>(pair >> 8);
                w[1] = static_cast<char>(pair >> 16);
                w[2] = static_cast<char>(pair >> 24);
                w += pair & 0xFF;
                p += 2;
                continue;
            }
        }
        uint32_t entry = memo(&g_byteMemo[*p], p, 1);
        size_t unit = 1;
        if (entry == kMemoLead && end - p >= 2 && *p >= 0x80) {
            entry = memo(&g_pairMemo[(*p - 0x80) * 256 + p[1]], p, 2);
            unit = 2;
        }
        if (entry == kMemoTooLong || (entry == kMemoLead && end - p >= 2)) return -1;
        if (entry == kMemoRefused || entry == kMemoLead) {
            *exact = false;
            *w++ = '?';
            p += sjisUnit(p, static_cast<size_t>(end - p));
            continue;
        }
        w[0] = static_cast<char>(entry >> 8);
        w[1] = static_cast<char>(entry >> 16);
        w[2] = static_cast<char>(entry >> 24);
        w += entry & 0xFF;
        p += unit;
    }
    return w - out;
}

}  // namespace

bool CodePage_AppendSjisAsUtf8(std::string* out, std::string_view sjis) {
    // A text all ASCII is itself (a search lists thousands of links this way).
    if (CodePage_IsAscii(sjis)) {
        out->append(sjis);
        return true;
    }
    bool exact = true;
    long written;
    if (sjis.size() <= 1024) {
        char room[3 * 1024];
        written = sjisToUtf8Units(sjis, room, &exact);
        if (written >= 0) out->append(room, static_cast<size_t>(written));
    } else {
        const size_t start = out->size();
        out->resize(start + 3 * sjis.size());
        written = sjisToUtf8Units(sjis, out->data() + start, &exact);
        out->resize(written >= 0 ? start + static_cast<size_t>(written) : start);
    }
    if (written >= 0) return exact;
    // A unit never met with CP932 as iconv has it: the whole-text conversion
    // stays exact for whatever the converter does.
    bool whole = true;
    out->append(convert("UTF-8", "CP932", sjis, &whole, sjisUnit));
    return whole;
}

std::string CodePage_SjisToUtf8(std::string_view sjis, bool* exact) {
    std::string out;
    out.reserve(sjis.size() + sjis.size() / 2);
    const bool whole = CodePage_AppendSjisAsUtf8(&out, sjis);
    if (exact) *exact = whole;
    return out;
}

std::string CodePage_Utf8ToSjis(std::string_view utf8, bool* exact) {
    return convert("CP932", "UTF-8", utf8, exact, utf8Unit);
}

bool CodePage_Utf8ToSjisBuf(std::string_view utf8, char* out, size_t size) {
    if (size == 0) return false;
    bool exact = true;
    std::string s = CodePage_Utf8ToSjis(utf8, &exact);
    return CodePage_CopyCut(out, size, s) == s.size() && exact;
}

namespace {

// Characters whose usual Unicode form CP932 maps from a neighbouring code
// point instead (the JIS forms of these marks), and characters a page uses for
// layout that a stored one-line text takes as their plain form: the no-break
// and typographic spaces as a blank, the en dash as a hyphen, invisible format
// characters as nothing.
struct Alias {
    unsigned codePoint;
    unsigned char len;  // 0: dropped
    unsigned char sjis[2];
};
constexpr Alias kAliases[] = {
    {0x301C, 2, {0x81, 0x60}},  // WAVE DASH -> ～
    {0x2016, 2, {0x81, 0x61}},  // DOUBLE VERTICAL LINE -> ∥
    {0x2212, 2, {0x81, 0x7C}},  // MINUS SIGN -> －
    {0x2014, 2, {0x81, 0x5C}},  // EM DASH -> ―
    {0x00A2, 2, {0x81, 0x91}},  // CENT SIGN -> ￠
    {0x00A3, 2, {0x81, 0x92}},  // POUND SIGN -> ￡
    {0x00AC, 2, {0x81, 0xCA}},  // NOT SIGN -> ￢
    {0x00A0, 1, {0x20, 0}},     // NO-BREAK SPACE -> blank
    {0x2002, 1, {0x20, 0}},     // EN SPACE -> blank
    {0x2003, 1, {0x20, 0}},     // EM SPACE -> blank
    {0x2009, 1, {0x20, 0}},     // THIN SPACE -> blank
    {0x2013, 1, {0x2D, 0}},     // EN DASH -> hyphen
    {0x00AD, 0, {0, 0}},        // SOFT HYPHEN
    {0x200B, 0, {0, 0}},        // ZERO WIDTH SPACE
    {0x200C, 0, {0, 0}},        // ZERO WIDTH NON-JOINER
    {0x200D, 0, {0, 0}},        // ZERO WIDTH JOINER
    {0x200E, 0, {0, 0}},        // LEFT-TO-RIGHT MARK
    {0x200F, 0, {0, 0}},        // RIGHT-TO-LEFT MARK
    {0xFEFF, 0, {0, 0}},        // ZERO WIDTH NO-BREAK SPACE (a byte-order mark inside text)
};
constexpr unsigned char kGeta[2] = {0x81, 0xAC};

// Length of the valid UTF-8 sequence at p (left bytes available) and its code
// point; 0 when the bytes there are not a valid sequence, -1 when a valid
// beginning is cut off by the end.
int utf8Sequence(const unsigned char* p, size_t left, unsigned* cp) {
    unsigned c = p[0];
    int n;
    unsigned min;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        n = 2, min = 0x80, *cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, min = 0x800, *cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, min = 0x10000, *cp = c & 0x07;
    } else {
        return 0;
    }
    for (int i = 1; i < n; i++) {
        if (static_cast<size_t>(i) >= left) return -1;
        if ((p[i] & 0xC0) != 0x80) return 0;
        *cp = (*cp << 6) | (p[i] & 0x3F);
    }
    if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
    return n;
}

std::mutex g_getaMutex;
iconv_t g_getaCd = (iconv_t)-1;

}  // namespace

size_t CodePage_Utf8Length(const char* text, size_t left) {
    if (left == 0) return 0;
    unsigned cp;
    const int n = utf8Sequence(reinterpret_cast<const unsigned char*>(text), left, &cp);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t CodePage_ExactSjisChar(std::string_view utf8, char out[2]) {
    bool exact = true;
    const std::string sjis = CodePage_Utf8ToSjis(utf8, &exact);
    if (!exact || sjis.empty() || sjis.size() > 2) return 0;
    if (CodePage_SjisToUtf8(sjis, &exact) != utf8 || !exact) return 0;
    memcpy(out, sjis.data(), sjis.size());
    return sjis.size();
}

bool CodePage_IsUtf8(const char* text, bool* multiByte, bool cutEnd) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t left = strlen(text);
    bool multi = false;
    while (left > 0) {
        unsigned cp;
        int n = utf8Sequence(p, left, &cp);
        if (n < 0 && cutEnd) break;  // a valid beginning cut off by the end
        if (n <= 0) {
            if (multiByte) *multiByte = multi;
            return false;
        }
        if (n > 1) multi = true;
        p += n;
        left -= n;
    }
    if (multiByte) *multiByte = multi;
    return true;
}

namespace {

// The CP932 form of each character of the Basic Multilingual Plane that
// CodePage_Utf8ToSjisGeta has converted once: bit 31 set when known, bit 30
// when the form is the geta mark of a character without one, bits 16 to 17
// its length (0 to 2: a dropped character has none), bits 0 to 15 its bytes.
// Shared by every thread: an entry is the same whoever fills it.
std::atomic<uint32_t> g_bmpForm[0x10000];
constexpr uint32_t kFormKnown = 0x80000000u;
constexpr uint32_t kFormGeta = 0x40000000u;

// The form of the character cp, whose len UTF-8 bytes (2 to 4) are at p:
// an alias, the converter's form, or the geta mark (flagged kFormGeta). The
// converter is opened and used under lock, taken here when first needed.
uint32_t sjisForm(unsigned cp, const unsigned char* p, int len,
                  std::unique_lock<std::mutex>* lock) {
    for (const Alias& a : kAliases)
        if (a.codePoint == cp)
            return kFormKnown | uint32_t{a.len} << 16 | uint32_t{a.sjis[0]} << 8 | a.sjis[1];
    if (!lock->owns_lock()) lock->lock();
    if (g_getaCd == (iconv_t)-1) g_getaCd = iconv_open("CP932", "UTF-8");
    unsigned char conv[4];
    size_t convLen = 0;
    if (g_getaCd != (iconv_t)-1) {
        char* src = const_cast<char*>(reinterpret_cast<const char*>(p));
        size_t srcLeft = static_cast<size_t>(len);
        char* dst = reinterpret_cast<char*>(conv);
        size_t dstLeft = sizeof conv;
        if (iconv(g_getaCd, &src, &srcLeft, &dst, &dstLeft) != (size_t)-1 && srcLeft == 0)
            convLen = sizeof conv - dstLeft;
        iconv(g_getaCd, nullptr, nullptr, nullptr, nullptr);
    }
    if (convLen == 0 || convLen > 2)
        return kFormKnown | kFormGeta | 2u << 16 | uint32_t{kGeta[0]} << 8 | kGeta[1];
    return kFormKnown | static_cast<uint32_t>(convLen) << 16 | uint32_t{conv[0]} << 8 |
           (convLen > 1 ? conv[1] : 0u);
}

}  // namespace

size_t CodePage_Utf8ToSjisGeta(const char* utf8, char* out, size_t size, bool* exact) {
    if (size == 0) return 0;
    std::unique_lock<std::mutex> lock(g_getaMutex, std::defer_lock);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8);
    size_t left = strlen(utf8);
    size_t n = 0;
    const size_t room = size - 1;
    while (left > 0) {
        unsigned cp;
        int len = utf8Sequence(p, left, &cp);
        if (len < 0) break;  // cut off by the end of the text
        char conv[2];
        size_t convLen = 0;
        if (len == 0) {
            memcpy(conv, kGeta, 2), convLen = 2;
            len = 1;
            if (exact) *exact = false;
        } else if (len == 1) {
            conv[0] = static_cast<char>(cp), convLen = 1;
        } else {
            // A character of the plane is converted once; one beyond it each time.
            uint32_t form = cp < 0x10000 ? g_bmpForm[cp].load(std::memory_order_relaxed) : 0;
            if (!(form & kFormKnown)) {
                form = sjisForm(cp, p, len, &lock);
                if (cp < 0x10000) g_bmpForm[cp].store(form, std::memory_order_relaxed);
            }
            convLen = (form >> 16) & 3;
            conv[0] = static_cast<char>(form >> 8 & 0xFF);
            conv[1] = static_cast<char>(form & 0xFF);
            if ((form & kFormGeta) && exact) *exact = false;
        }
        if (n + convLen > room) break;
        memcpy(out + n, conv, convLen);
        n += convLen;
        p += len;
        left -= len;
    }
    out[n] = '\0';
    return n;
}
