// Inline helpers shared by the string module's files (strx_*.cpp): byte and
// character steps over Shift_JIS text and ASCII classes. Not part of the
// module's interface; only the strx_*.cpp files include it.
#pragma once

#include "platform/codepage.h"

namespace strx_detail {

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
    return CodePage_ToLower(c);
}
inline unsigned char foldByte(unsigned char c) {
    return static_cast<unsigned char>(foldCase(c));
}

}  // namespace strx_detail
