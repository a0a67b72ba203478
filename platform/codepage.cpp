#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

// Lead bytes of code page 932, one bit per byte value.
constexpr bool kLead[256] = {
#define R16(v) v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v
    R16(false),
    R16(false),
    R16(false),
    R16(false),
    R16(false),
    R16(false),
    R16(false),
    R16(false),
    // 0x80: 0x80 is not a lead byte, 0x81..0x8F are
    false,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    R16(true),  // 0x90..0x9F
    R16(false),
    R16(false),
    R16(false),
    R16(false),  // 0xA0..0xDF
    R16(true),   // 0xE0..0xEF
    // 0xF0..0xFC lead, 0xFD..0xFF not
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    true,
    false,
    false,
    false,
#undef R16
};

// Converts with iconv, replacing each unconvertible unit of the input by '?'.
// unitOf returns how many input bytes make up the unit that starts at p.
std::string convert(const char* to, const char* from, std::string_view in, bool* exact,
                    size_t (*unitOf)(const unsigned char* p, size_t left)) {
    if (exact) *exact = true;
    std::string out;
    iconv_t cd = iconv_open(to, from);
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
    iconv_close(cd);
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

bool CodePage_IsLead(unsigned char byte) {
    return kLead[byte];
}

std::string CodePage_SjisToUtf8(std::string_view sjis, bool* exact) {
    return convert("UTF-8", "CP932", sjis, exact, sjisUnit);
}

std::string CodePage_Utf8ToSjis(std::string_view utf8, bool* exact) {
    return convert("CP932", "UTF-8", utf8, exact, utf8Unit);
}

bool CodePage_Utf8ToSjisBuf(std::string_view utf8, char* out, size_t size) {
    if (size == 0) return false;
    bool exact = true;
    std::string s = CodePage_Utf8ToSjis(utf8, &exact);
    size_t n = 0;
    while (n < s.size()) {
        size_t unit =
            (CodePage_IsLead(static_cast<unsigned char>(s[n])) && n + 1 < s.size()) ? 2 : 1;
        if (n + unit > size - 1) break;
        n += unit;
    }
    memcpy(out, s.data(), n);
    out[n] = '\0';
    return exact && n == s.size();
}
