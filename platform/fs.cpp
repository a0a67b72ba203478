#include "platform/fs.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"

std::string Fs_ToNative(std::string_view inside) {
    std::string slashed(inside);
    for (size_t i = 0; i < slashed.size(); i++) {
        unsigned char c = static_cast<unsigned char>(slashed[i]);
        if (CodePage_IsLead(c) && i + 1 < slashed.size()) {
            i++;  // the trail byte may be 0x5C: never a separator
            continue;
        }
        if (c == '\\') slashed[i] = '/';
    }
    return CodePage_SjisToUtf8(slashed);
}

std::string Fs_FromNative(std::string_view native, bool* exact) {
    bool ok = native.find('\\') == std::string_view::npos;
    bool conv = true;
    std::string inside = CodePage_Utf8ToSjis(native, &conv);
    for (size_t i = 0; i < inside.size(); i++) {
        unsigned char c = static_cast<unsigned char>(inside[i]);
        if (CodePage_IsLead(c) && i + 1 < inside.size()) {
            i++;
            continue;
        }
        if (c == '/') inside[i] = '\\';
    }
    if (exact) *exact = ok && conv;
    return inside;
}

namespace {

// A text-mode stream over a binary one: LF -> CR LF on write, CR LF -> LF on read.
struct TextCookie {
    FILE* raw;
    bool pendingCR;  // a CR was read at the end of the last chunk
};

ssize_t textRead(void* c, char* buf, size_t size) {
    TextCookie* tc = static_cast<TextCookie*>(c);
    size_t n = 0;
    while (n < size) {
        int ch;
        if (tc->pendingCR) {
            tc->pendingCR = false;
            ch = '\r';
        } else {
            ch = fgetc(tc->raw);
            if (ch == EOF) break;
        }
        if (ch == '\r') {
            int next = fgetc(tc->raw);
            if (next == '\n') {
                ch = '\n';
            } else if (next != EOF) {
                ungetc(next, tc->raw);
            }
        }
        buf[n++] = static_cast<char>(ch);
    }
    if (n == 0 && ferror(tc->raw)) return -1;
    return static_cast<ssize_t>(n);
}

ssize_t textWrite(void* c, const char* buf, size_t size) {
    TextCookie* tc = static_cast<TextCookie*>(c);
    for (size_t i = 0; i < size; i++) {
        if (buf[i] == '\n' && fputc('\r', tc->raw) == EOF) return -1;
        if (fputc(static_cast<unsigned char>(buf[i]), tc->raw) == EOF) return -1;
    }
    return static_cast<ssize_t>(size);
}

int textSeek(void* c, off64_t* offset, int whence) {
    TextCookie* tc = static_cast<TextCookie*>(c);
    tc->pendingCR = false;
    if (fseeko(tc->raw, *offset, whence) != 0) return -1;
    *offset = ftello(tc->raw);
    return 0;
}

int textClose(void* c) {
    TextCookie* tc = static_cast<TextCookie*>(c);
    int r = fclose(tc->raw);
    delete tc;
    return r;
}

}  // namespace

FILE* Fs_Open(const char* insidePath, const char* mode) {
    std::string native = Fs_ToNative(insidePath);
    bool binary = strchr(mode, 'b') != nullptr;
    std::string rawMode;
    for (const char* m = mode; *m; m++)
        if (*m != 't') rawMode += *m;
    if (!binary) rawMode += 'b';
    if (native.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    FILE* raw = fopen(native.c_str(), rawMode.c_str());
    if (!raw || binary) return raw;
    cookie_io_functions_t io = {textRead, textWrite, textSeek, textClose};
    TextCookie* tc = new TextCookie{raw, false};
    FILE* f = fopencookie(tc, mode, io);
    if (!f) {
        fclose(raw);
        delete tc;
    }
    return f;
}

int Fs_Remove(const char* insidePath) {
    return unlink(Fs_ToNative(insidePath).c_str()) == 0 ? 0 : -1;
}
