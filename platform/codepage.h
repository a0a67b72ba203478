// Code page 932 (Shift_JIS as Windows has it) at the edges of the system.
//
// Inside the system every text is CP932 bytes. This module is the one place
// that converts: file names to and from the OS, widget texts, command-line
// arguments and terminal output (all UTF-8). The lead-byte test is a constant
// table, never the process locale.
//
// The conversions run on iconv. What a byte sequence without a counterpart
// becomes: one '?' for each unconvertible character or stray byte, and the
// call reports that it was not exact. A conversion into a caller's buffer
// never writes past its size and always terminates when size > 0.
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// True when the byte starts a double-byte character of code page 932
// (0x81 to 0x9F and 0xE0 to 0xFC). Inline: text is scanned a byte at a time.
inline bool CodePage_IsLead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The system's one rule of letter case, ASCII only and never the process
// locale: CodePage_ToLower turns 'A'..'Z' into 'a'..'z', CodePage_ToUpper the
// other way; every other value (bytes of double-byte characters, -1) comes
// back unchanged. Callers that walk CP932 text step over trail bytes
// themselves (a trail byte may be a letter's byte).
constexpr int CodePage_ToLower(int c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}
constexpr int CodePage_ToUpper(int c) {
    return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}

// True when no byte of text has its high bit set: text that reads the same in
// CP932 and UTF-8.
bool CodePage_IsAscii(std::string_view text);

// Returns the length of the longest prefix of text that has at most maxLen
// bytes and does not end inside a double-byte character (a lead byte that
// ends text counts as one byte).
size_t CodePage_CharCut(std::string_view text, size_t maxLen);

// Copies text into out[0, size), cut before a double-byte character that
// would not fit whole: at most size - 1 bytes and a NUL (nothing at all when
// size is 0). out may overlap text. Returns the bytes copied.
size_t CodePage_CopyCut(char* out, size_t size, std::string_view text);

// Returns the UTF-8 form of CP932 text. *exact (when given) is set false when a
// byte sequence had no Unicode counterpart (it became '?').
std::string CodePage_SjisToUtf8(std::string_view sjis, bool* exact = nullptr);

// Appends the UTF-8 form of CP932 text to *out, as CodePage_SjisToUtf8 makes
// it, and returns whether it was exact. Each distinct character is asked of
// the converter once per process: the way for many short texts.
bool CodePage_AppendSjisAsUtf8(std::string* out, std::string_view sjis);

// Returns the CP932 form of UTF-8 text. *exact (when given) is set false when a
// character had no CP932 form or the input was not valid UTF-8 (each became '?').
std::string CodePage_Utf8ToSjis(std::string_view utf8, bool* exact = nullptr);

// Converts UTF-8 to CP932 into out[0, size): writes at most size - 1 bytes and
// a NUL (nothing when size is 0), never cutting a double-byte character.
// Returns false when the text was cut or was not exact.
bool CodePage_Utf8ToSjisBuf(std::string_view utf8, char* out, size_t size);

// Converts NUL-terminated UTF-8 text to CP932 into out[0, size): a character
// without a CP932 form, and each byte that is not part of valid UTF-8, becomes
// the geta mark "〓" (0x81 0xAC), so the rest of the text stays usable; a
// sequence cut off by the end of the text is dropped. Characters that CP932
// has under a neighbouring code point (WAVE DASH U+301C as ～, and the like)
// are taken as that character; the no-break and typographic spaces become a
// blank, the en dash a hyphen, and invisible format characters (soft hyphen,
// zero-width characters, direction marks, U+FEFF) are dropped. Writes whole
// characters only, at most size - 1 bytes, and a NUL (nothing when size is 0).
// Returns the bytes written. Takes no heap memory once the converter has been
// opened (on the first call, kept for the process). The form of each
// character of the Basic Multilingual Plane is asked of the converter once per
// process and kept in a table of 256 KB that every thread shares.
// *exact (when given) is set false when a character or byte became the geta
// mark (a geta mark in the text itself is exact).
size_t CodePage_Utf8ToSjisGeta(const char* utf8, char* out, size_t size, bool* exact = nullptr);

// Returns the length (1 to 4) of the valid UTF-8 sequence of one character
// that begins text[0, left), or 0 when the bytes there are not one (a stray
// byte, an overlong form, a surrogate, a sequence cut off by left).
size_t CodePage_Utf8Length(const char* text, size_t left);

// Copies into out the CP932 form (1 or 2 bytes) of the one UTF-8 character
// utf8 and returns its length, when that form is exact: converted back, it
// gives the very same character. Returns 0 otherwise: no CP932 form (é, 😀),
// or a code that comes back as another character (WAVE DASH U+301C and
// FULLWIDTH TILDE U+FF5E share 0x81 0x60, which comes back as U+FF5E; YEN
// SIGN U+00A5 becomes 0x5C, a backslash).
size_t CodePage_ExactSjisChar(std::string_view utf8, char out[2]);

// True when text is valid UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF); *multiByte (when given) tells whether it holds a character
// beyond ASCII. With cutEnd, a valid beginning of a character cut off by the
// end of the text (what a byte-wise cut leaves) does not count against it.
bool CodePage_IsUtf8(const char* text, bool* multiByte = nullptr, bool cutEnd = false);
