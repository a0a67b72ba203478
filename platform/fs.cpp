#include "platform/fs.h"

#include <dirent.h>
#include <ftw.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <memory>
#include <vector>

#include "platform/codepage.h"

namespace {
Fs_FaultFunc g_fault = nullptr;

// The fault a test injects into op on native; 0 when none (errno is set otherwise).
int injected(const char* op, const std::string& native) {
    const int e = g_fault ? g_fault(op, native.c_str()) : 0;
    if (e) errno = e;
    return e;
}
}  // namespace

Fs_FaultFunc Fs_SetFaultHook(Fs_FaultFunc hook) {
    Fs_FaultFunc old = g_fault;
    g_fault = hook;
    return old;
}

namespace {

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// True when a native name byte is written as an escape even where its
// character has a CP932 form: a control character, '%' and a backslash.
bool escapedAscii(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == '%' || c == '\\';
}

void appendEscape(std::string* out, unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out->push_back('%');
    out->push_back(kHex[byte >> 4]);
    out->push_back(kHex[byte & 0x0F]);
}

// Appends the inside form of one native name (no '/' in it).
void appendInsideName(std::string* out, std::string_view name) {
    size_t at = 0;
    bool utf8 = true;
    while (at < name.size()) {
        const size_t n = CodePage_Utf8Length(name.data() + at, name.size() - at);
        if (n == 0) {
            utf8 = false;
            break;
        }
        at += n;
    }
    for (size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            if (escapedAscii(c))
                appendEscape(out, c);
            else
                out->push_back(static_cast<char>(c));
            i++;
            continue;
        }
        // A name that is not UTF-8 has no characters to convert: every byte
        // beyond ASCII is escaped.
        const size_t n = utf8 ? CodePage_Utf8Length(name.data() + i, name.size() - i) : 1;
        char sjis[2];
        const size_t m = utf8 ? CodePage_ExactSjisChar(name.substr(i, n), sjis) : 0;
        if (m > 0)
            out->append(sjis, m);
        else
            for (size_t k = 0; k < n; k++)
                appendEscape(out, static_cast<unsigned char>(name[i + k]));
        i += n;
    }
}

}  // namespace

int Fs_EscapeAt(std::string_view inside, size_t at) {
    if (at + 2 >= inside.size() || inside[at] != '%') return -1;
    const int hi = hexValue(static_cast<unsigned char>(inside[at + 1]));
    const int lo = hexValue(static_cast<unsigned char>(inside[at + 2]));
    if (hi < 0 || lo < 0) return -1;
    const int byte = hi * 16 + lo;
    // No native name holds a NUL or a '/': such a text is no escape.
    return (byte == 0 || byte == '/') ? -1 : byte;
}

std::string Fs_ToNative(std::string_view inside) {
    std::string native, run;
    for (size_t i = 0; i < inside.size(); i++) {
        const unsigned char c = static_cast<unsigned char>(inside[i]);
        if (CodePage_IsLead(c) && i + 1 < inside.size()) {
            run.append(inside.substr(i, 2));  // the trail byte may be 0x5C: never a separator
            i++;
            continue;
        }
        if (c == '\\') {
            run.push_back('/');
            continue;
        }
        const int byte = c == '%' ? Fs_EscapeAt(inside, i) : -1;
        if (byte < 0) {
            run.push_back(static_cast<char>(c));
            continue;
        }
        native += CodePage_SjisToUtf8(run);
        run.clear();
        native.push_back(static_cast<char>(byte));
        i += 2;
    }
    return native + CodePage_SjisToUtf8(run);
}

std::string Fs_FromNative(std::string_view native) {
    std::string inside;
    // Most names are their CP932 bytes: one conversion of the whole path,
    // checked by converting it back (several Unicode characters share one
    // CP932 code, and only one of them is what the inside name opens).
    bool exact = true;
    if (std::none_of(native.begin(), native.end(), [](char c) {
            return c != '/' && escapedAscii(static_cast<unsigned char>(c));
        })) {
        inside = CodePage_Utf8ToSjis(native, &exact);
        if (exact) exact = CodePage_SjisToUtf8(inside) == native;
    } else {
        exact = false;
    }
    if (!exact) {
        inside.clear();
        for (size_t from = 0;;) {
            const size_t slash = native.find('/', from);
            appendInsideName(&inside, native.substr(from, slash - from));
            if (slash == std::string_view::npos) break;
            inside.push_back('/');
            from = slash + 1;
        }
    }
    for (size_t i = 0; i < inside.size(); i++) {
        unsigned char c = static_cast<unsigned char>(inside[i]);
        if (CodePage_IsLead(c) && i + 1 < inside.size()) {
            i++;
            continue;
        }
        if (c == '/') inside[i] = '\\';
    }
    return inside;
}

namespace {

// A text-mode stream over a binary one: LF -> CR LF on write, CR LF -> LF on read.
struct TextCookie {
    FILE* raw;
    bool pendingCR;   // a CR was read at the end of the last chunk
    char* rawBuffer;  // the raw stream's buffer when it is the cookie's (freed after it)
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

// Writes the runs between line ends whole: the stream above is unbuffered,
// so this is called for every piece written and must not go byte by byte.
ssize_t textWrite(void* c, const char* buf, size_t size) {
    TextCookie* tc = static_cast<TextCookie*>(c);
    const char* p = buf;
    const char* const end = buf + size;
    while (p < end) {
        const char* lf = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        const size_t run = static_cast<size_t>((lf ? lf : end) - p);
        if (run > 0 && fwrite(p, 1, run, tc->raw) != run) return -1;
        if (!lf) break;
        if (fwrite("\r\n", 1, 2, tc->raw) != 2) return -1;
        p = lf + 1;
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
    delete[] tc->rawBuffer;
    delete tc;
    return r;
}

}  // namespace

// fstat on a descriptor. The C library makes fstat an fstatat of an empty
// path, which the kernel takes as a path to look up; where the kernel's stat
// record is the library's (x86-64), the descriptor is asked directly, which
// costs a walk a good part of a system call per page.
static int statDescriptor(int fd, struct stat* sb) {
#if defined(__x86_64__) && defined(SYS_fstat)
    return static_cast<int>(syscall(SYS_fstat, fd, sb));
#else
    return fstat(fd, sb);
#endif
}

// Opens a read-only descriptor that never waits: a FIFO, socket or device is
// refused (ENXIO) instead of blocking in open or in the first read. *size
// (when given) gets a regular file's size, -1 for a folder. The name is taken
// relative to the folder descriptor at (AT_FDCWD: the current folder).
static int openNoWait(int at, const char* native, int64_t* size) {
    int fd = openat(at, native, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat sb;
    if (statDescriptor(fd, &sb) != 0 || !(S_ISREG(sb.st_mode) || S_ISDIR(sb.st_mode))) {
        close(fd);
        errno = ENXIO;
        return -1;
    }
    if (size) *size = S_ISREG(sb.st_mode) ? static_cast<int64_t>(sb.st_size) : -1;
    // Reads wait as usual again. A regular file's reads never wait on a
    // writer, so O_NONBLOCK changes nothing there and is left: one system
    // call less per page of a walk. O_NONBLOCK is the only status flag set at
    // the open that F_SETFL can change, so clearing them all needs no F_GETFL.
    if (!S_ISREG(sb.st_mode)) fcntl(fd, F_SETFL, 0);
    return fd;
}

namespace {

// The folder kept by Fs_BeginFolderReads on this thread: how many holds are
// open, and the native folder path and descriptor of the last file read.
struct FolderReads {
    int holds = 0;
    int fd = -1;
    std::string folder;

    void Drop() {
        if (fd >= 0) close(fd);
        fd = -1;
        folder.clear();
    }
    ~FolderReads() { Drop(); }
};
thread_local FolderReads t_folderReads;

}  // namespace

void Fs_BeginFolderReads() {
    t_folderReads.holds++;
}

void Fs_EndFolderReads() {
    if (t_folderReads.holds > 0 && --t_folderReads.holds == 0) t_folderReads.Drop();
}

// openNoWait on a native path; while folder reads are held and the path is
// absolute (a relative one would follow changes of the current folder),
// relative to the kept descriptor of the path's folder, which is opened (and
// kept) first when it is another folder than the last. A name the kept folder
// no longer holds (the folder was removed or replaced since) is looked for by
// the whole path again.
static int openNativeNoWait(const char* native, int64_t* size) {
    FolderReads& kept = t_folderReads;
    const char* slash = kept.holds > 0 && native[0] == '/' ? strrchr(native, '/') : nullptr;
    if (!slash || slash[1] == '\0') return openNoWait(AT_FDCWD, native, size);
    const std::string_view folder(native,
                                  slash == native ? 1 : static_cast<size_t>(slash - native));
    if (kept.fd < 0 || folder != kept.folder) {
        kept.Drop();
        kept.fd = open(std::string(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (kept.fd < 0) return openNoWait(AT_FDCWD, native, size);
        kept.folder = folder;
    }
    const int fd = openNoWait(kept.fd, slash + 1, size);
    return fd >= 0 || errno != ENOENT ? fd : openNoWait(AT_FDCWD, native, size);
}

// The native form of an inside path of ASCII bytes without '%' (the usual
// page path) into out[0, size): each backslash a '/', the rest as it is,
// which is what Fs_ToNative gives for such a path, without its conversion.
// False (out unspecified) for any other path or one that does not fit.
static bool asciiNative(const char* inside, char* out, size_t size) {
    const size_t len = strlen(inside);
    if (len == 0 || len >= size || strchr(inside, '%') || !CodePage_IsAscii({inside, len}))
        return false;
    memcpy(out, inside, len + 1);
    for (char* sep = strchr(out, '\\'); sep; sep = strchr(sep + 1, '\\')) *sep = '/';
    return true;
}

int Fs_OpenReadFd(const char* insidePath, int64_t* size) {
    char ascii[1024];
    if (asciiNative(insidePath, ascii, sizeof ascii)) return openNativeNoWait(ascii, size);
    std::string native = Fs_ToNative(insidePath);
    if (native.empty()) {
        errno = ENOENT;
        return -1;
    }
    return openNativeNoWait(native.c_str(), size);
}

// Opens a file for writing (or updating) by an fopen mode without waiting, as
// openNoWait reads: a FIFO, socket, block device or folder is refused (ENXIO)
// before anything is written, truncated or waited on. A character device
// (/dev/null, /dev/full) is what a user names on purpose as a sink and is
// written to, its open never waiting either. A "w" mode truncates a regular
// file only once it is known to be one. New files get 0666 less the umask, as
// fopen gives them.
static FILE* openForWriting(const std::string& native, const char* mode) {
    const bool plus = strchr(mode, '+') != nullptr;
    int flags = O_CLOEXEC | O_NONBLOCK | (plus ? O_RDWR : O_WRONLY);
    if (mode[0] == 'w' || mode[0] == 'a') flags |= O_CREAT;
    if (mode[0] == 'a') flags |= O_APPEND;
    if (strchr(mode, 'x')) flags |= O_EXCL;
    const int fd = open(native.c_str(), flags, 0666);
    if (fd < 0) return nullptr;
    struct stat sb;
    if (fstat(fd, &sb) != 0 || !(S_ISREG(sb.st_mode) || S_ISCHR(sb.st_mode))) {
        close(fd);
        errno = ENXIO;
        return nullptr;
    }
    if (mode[0] == 'w' && S_ISREG(sb.st_mode) && ftruncate(fd, 0) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return nullptr;
    }
    fcntl(fd, F_SETFL, flags & O_APPEND);  // writes wait as usual again
    char fdMode[4] = {mode[0], 'b', plus ? '+' : '\0', '\0'};
    FILE* f = fdopen(fd, fdMode);
    if (!f) close(fd);
    return f;
}

static FILE* openForReading(const std::string& native, const char* rawMode) {
    int fd = openNoWait(AT_FDCWD, native.c_str(), nullptr);
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, rawMode);
    if (!f) close(fd);
    return f;
}

// Puts a text-mode stream over raw (see the module comment); raw is closed
// when that fails. With rawBuffer, raw (on which nothing was done yet) gets
// a buffer of that size, freed when the stream is closed.
static FILE* textStream(FILE* raw, const char* mode, size_t rawBuffer = 0) {
    cookie_io_functions_t io = {textRead, textWrite, textSeek, textClose};
    TextCookie* tc = new TextCookie{raw, false, nullptr};
    if (rawBuffer > 0) {
        tc->rawBuffer = new char[rawBuffer];
        setvbuf(raw, tc->rawBuffer, _IOFBF, rawBuffer);
    }
    FILE* f = fopencookie(tc, mode, io);
    if (!f) {
        fclose(raw);
        delete[] tc->rawBuffer;
        delete tc;
        return nullptr;
    }
    // Unbuffered, so that ftell and fseek give exact file positions: a
    // stream buffer would hold translated bytes, and the position glibc
    // derives from it would miss the CRs that the translation dropped. The
    // raw stream below still reads and writes in blocks.
    setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

static std::string rawModeOf(const char* mode) {
    std::string rawMode;
    for (const char* m = mode; *m; m++)
        if (*m != 't') rawMode += *m;
    if (!strchr(mode, 'b')) rawMode += 'b';
    return rawMode;
}

FILE* Fs_Open(const char* insidePath, const char* mode) {
    std::string native = Fs_ToNative(insidePath);
    bool binary = strchr(mode, 'b') != nullptr;
    std::string rawMode = rawModeOf(mode);
    if (native.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    const bool readOnly = mode[0] == 'r' && !strchr(mode, '+');
    FILE* raw = readOnly ? openForReading(native, rawMode.c_str()) : openForWriting(native, mode);
    if (!raw || binary) return raw;
    return textStream(raw, mode);
}

int Fs_Remove(const char* insidePath) {
    return unlink(Fs_ToNative(insidePath).c_str()) == 0 ? 0 : -1;
}

int Fs_Rename(const char* oldInside, const char* newInside) {
    std::string from = Fs_ToNative(oldInside), to = Fs_ToNative(newInside);
    if (from.empty() || to.empty()) return -1;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : -1;
}

int Fs_Chmod(const char* insidePath, int mode) {
    std::string native = Fs_ToNative(insidePath);
    if (native.empty()) return -1;
    return chmod(native.c_str(), static_cast<mode_t>(mode & 07777)) == 0 ? 0 : -1;
}

int Fs_Access(const char* insidePath, int mode) {
    std::string native = Fs_ToNative(insidePath);
    if (native.empty()) return -1;
    int how = F_OK;
    if (mode & Fs_Access_Write) how |= W_OK;
    if (mode & Fs_Access_Read) how |= R_OK;
    return access(native.c_str(), how) == 0 ? 0 : -1;
}

static void fillStat(const struct stat& st, Fs_StatData* out) {
    out->isDir = S_ISDIR(st.st_mode);
    out->isFile = S_ISREG(st.st_mode);
    out->size = out->isDir ? 0 : static_cast<int64_t>(st.st_size);
    out->mtime = static_cast<int64_t>(st.st_mtime);
    out->atime = static_cast<int64_t>(st.st_atime);
    out->ctime = static_cast<int64_t>(st.st_ctime);
    out->readOnly = (st.st_mode & S_IWUSR) == 0;
}

bool Fs_Stat(const char* insidePath, Fs_StatData* st) {
    *st = Fs_StatData{};
    std::string native = Fs_ToNative(insidePath);
    struct stat sb;
    if (native.empty() || stat(native.c_str(), &sb) != 0) return false;
    fillStat(sb, st);
    return true;
}

bool Fs_SameFile(const char* insideA, const char* insideB) {
    const std::string a = Fs_ToNative(insideA), b = Fs_ToNative(insideB);
    struct stat sa, sb;
    return !a.empty() && !b.empty() && stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool Fs_IsLink(const char* insidePath) {
    std::string native = Fs_ToNative(insidePath);
    struct stat sb;
    return !native.empty() && lstat(native.c_str(), &sb) == 0 && S_ISLNK(sb.st_mode);
}

// Copies a whole inside text into out[0, size); false (out empty) when it
// is empty or does not fit.
static bool copyWhole(const std::string& text, char* out, size_t size) {
    if (text.empty() || text.size() + 1 > size) {
        CodePage_CopyCut(out, size, "");
        return false;
    }
    memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

bool Fs_RealPath(const char* insidePath, char* out, size_t size) {
    std::string native = Fs_ToNative(insidePath);
    char* real = native.empty() ? nullptr : realpath(native.c_str(), nullptr);
    if (!real) return copyWhole("", out, size);
    std::string inside = Fs_FromNative(real);
    free(real);
    return copyWhole(inside, out, size);
}

int Fs_MkDir(const char* insidePath) {
    std::string native = Fs_ToNative(insidePath);
    if (native.empty()) return -1;
    return mkdir(native.c_str(), 0777) == 0 ? 0 : -1;
}

int Fs_RmDir(const char* insidePath) {
    std::string native = Fs_ToNative(insidePath);
    if (native.empty()) return -1;
    struct stat sb;
    if (lstat(native.c_str(), &sb) == 0 && S_ISLNK(sb.st_mode)) {
        errno = ENOTDIR;
        return -1;
    }
    return rmdir(native.c_str()) == 0 ? 0 : -1;
}

// ---- Process paths ----

void Fs_GetCwd(char* out, size_t size) {
    std::string buf(4096, '\0');
    for (;;) {
        if (getcwd(buf.data(), buf.size())) break;
        if (errno != ERANGE || buf.size() > (1u << 20)) {
            CodePage_CopyCut(out, size, "");
            return;
        }
        buf.resize(buf.size() * 2);
    }
    CodePage_CopyCut(out, size, Fs_FromNative(buf.c_str()));
}

bool Fs_SetCwd(const char* inside) {
    std::string native = Fs_ToNative(inside);
    if (native.empty()) return false;
    return chdir(native.c_str()) == 0;
}

void Fs_GetExePath(char* out, size_t size) {
    std::string buf(4096, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) {
            CodePage_CopyCut(out, size, "");
            return;
        }
        if (static_cast<size_t>(n) < buf.size()) {
            buf.resize(static_cast<size_t>(n));
            break;
        }
        buf.resize(buf.size() * 2);
    }
    CodePage_CopyCut(out, size, Fs_FromNative(buf));
}

bool Fs_HomeDir(char* out, size_t size) {
    const char* home = getenv("HOME");
    std::string native;
    if (home && *home) {
        native = home;
    } else {
        struct passwd pw, *found = nullptr;
        std::vector<char> buf(16384);
        if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
            found->pw_dir)
            native = found->pw_dir;
    }
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    return copyWhole(Fs_FromNative(native), out, size);
}

static bool isWritableDir(const std::string& native) {
    struct stat sb;
    return !native.empty() && stat(native.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode) &&
           access(native.c_str(), W_OK | X_OK) == 0;
}

namespace {
// Temp names end in kTempRunLength characters of kTempChars drawn from a seed:
// the process id spread by Knuth's multiplicative hash (2654435761, near
// 2^32 / golden ratio), the time, and a per-process counter spread by
// 40503 (a prime near 2^16 / golden ratio), so that two processes, or two
// calls of one process, seldom draw the same run. Each further attempt and
// character steps by 7919 (a prime) to another part of the sequence.
constexpr char kTempChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kTempRunLength = 6;
constexpr unsigned kKnuthHash = 2654435761u;
constexpr unsigned kCounterSpread = 40503u;
constexpr unsigned kStepPrime = 7919u;
constexpr char kTempEnd[] = ".tmp";  // what the database's temp files end in
constexpr size_t kTempWriteBuffer = 65536;

unsigned tempSeed() {
    static unsigned counter = 0;
    return static_cast<unsigned>(getpid()) * kKnuthHash ^ static_cast<unsigned>(time(nullptr)) ^
           (__atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED) * kCounterSpread);
}

// The run of characters of one attempt.
std::string tempRun(unsigned seed, int attempt) {
    std::string run;
    unsigned v = seed + static_cast<unsigned>(attempt) * kKnuthHash;
    for (int i = 0; i < kTempRunLength; i++) {
        run += kTempChars[v % (sizeof kTempChars - 1)];
        v = v / (sizeof kTempChars - 1) + kStepPrime * static_cast<unsigned>(i + attempt + 1);
    }
    return run;
}
}  // namespace

bool Fs_TempName(const char* folder, const char* prefix, char* out, size_t size) {
    CodePage_CopyCut(out, size, "");
    std::string dir;
    for (const char* env : {"TMP", "TMPDIR"}) {
        const char* v = getenv(env);
        if (v && isWritableDir(v)) {
            dir = v;
            break;
        }
    }
    if (dir.empty() && folder && isWritableDir(Fs_ToNative(folder))) dir = Fs_ToNative(folder);
    if (dir.empty()) dir = "/tmp";
    if (dir.back() != '/') dir += '/';
    const unsigned seed = tempSeed();
    for (int attempt = 0; attempt < 1000; attempt++) {
        const std::string name = dir + Fs_ToNative(prefix ? prefix : "") + tempRun(seed, attempt);
        struct stat sb;
        if (lstat(name.c_str(), &sb) == 0) continue;
        std::string inside = Fs_FromNative(name);
        if (inside.size() + 1 > size) return false;
        CodePage_CopyCut(out, size, inside);
        return true;
    }
    return false;
}

namespace {
// nftw's callback takes no context: one walk at a time, on the calling thread.
thread_local void (*t_onFile)(void*, const char*, const char*) = nullptr;
thread_local void* t_onFileContext = nullptr;

int visitBelow(const char* nativePath, const struct stat*, int type, struct FTW* ftw) {
    if (type == FTW_D || type == FTW_DP || type == FTW_DNR) return 0;
    const std::string inside = Fs_FromNative(nativePath);
    const std::string name = Fs_FromNative(nativePath + ftw->base);
    t_onFile(t_onFileContext, name.c_str(), inside.c_str());
    return 0;
}
}  // namespace

bool Fs_ForEachFileBelow(const std::string& insideFolder,
                         void (*onFile)(void* context, const char* name, const char* path),
                         void* context) {
    const std::string native = Fs_ToNative(insideFolder);
    struct stat sb;
    if (native.empty() || lstat(native.c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode)) return false;
    t_onFile = onFile;
    t_onFileContext = context;
    const int r = nftw(native.c_str(), visitBelow, 16, FTW_PHYS);
    t_onFile = nullptr;
    t_onFileContext = nullptr;
    return r == 0;
}

// ---- Listings ----

int Fs_CompareNames(const char* a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    int raw = 0;
    for (;; p++, q++) {
        unsigned c = *p, d = *q;
        if (c == d && c != 0 && !CodePage_IsLead(static_cast<unsigned char>(c)))
            continue;  // the same single-byte character: nothing decides here
        if (raw == 0 && c != d) raw = c < d ? -1 : 1;
        // A trail byte is not a letter: step over double-byte characters whole.
        const unsigned fc = static_cast<unsigned>(CodePage_ToUpper(static_cast<int>(c)));
        const unsigned fd = static_cast<unsigned>(CodePage_ToUpper(static_cast<int>(d)));
        if (fc != fd) return fc < fd ? -1 : 1;
        if (c == 0) return raw;
        if (CodePage_IsLead(static_cast<unsigned char>(c)) && p[1] != 0) {
            p++;
            q++;
            if (*p != *q) return *p < *q ? -1 : 1;
        }
    }
}

// Case-blind wildcard match of one name against one pattern element; '?'
// stands for one character (a double-byte character is one).
static bool matchFrom(const unsigned char* pat, const unsigned char* name) {
    while (*pat) {
        if (*pat == '*') {
            while (*pat == '*') pat++;
            if (!*pat) return true;
            for (const unsigned char* n = name;;) {
                if (matchFrom(pat, n)) return true;
                if (!*n) return false;
                n += (CodePage_IsLead(*n) && n[1]) ? 2 : 1;
            }
        }
        if (!*name) return false;
        size_t wn = (CodePage_IsLead(*name) && name[1]) ? 2 : 1;
        if (*pat == '?') {
            pat++;
            name += wn;
            continue;
        }
        size_t wp = (CodePage_IsLead(*pat) && pat[1]) ? 2 : 1;
        if (wp != wn) return false;
        if (wp == 2) {
            if (pat[0] != name[0] || pat[1] != name[1]) return false;
        } else {
            unsigned a = *pat, b = *name;
            if (a >= 'a' && a <= 'z') a -= 32;
            if (b >= 'a' && b <= 'z') b -= 32;
            if (a != b) return false;
        }
        pat += wp;
        name += wn;
    }
    return *name == 0;
}

static bool matchPattern(const std::string& pat, const char* name) {
    if (pat.empty() || pat == "*" || pat == "*.*") return true;
    const unsigned char* n = reinterpret_cast<const unsigned char*>(name);
    if (matchFrom(reinterpret_cast<const unsigned char*>(pat.c_str()), n)) return true;
    // As Windows has it, "x.*" also matches a name with no extension.
    if (pat.size() >= 2 && pat.compare(pat.size() - 2, 2, ".*") == 0 && !strchr(name, '.'))
        return matchFrom(
            reinterpret_cast<const unsigned char*>(pat.substr(0, pat.size() - 2).c_str()), n);
    return false;
}

namespace {

// A listing, packed: each entry is a record in one of a list of blocks (4 KiB,
// then 64 KiB each), its attribute bits (2 bytes), for a full listing its size and
// times (4 x 8 bytes), then its name and a NUL; the order is a list of
// record places (block << 16 | offset), sorted by name. So an entry of a
// kinds-only listing takes its name's bytes and 7 more (with its place),
// never a whole Fs_FindData, and blocks are added one at a time, never
// copied as they grow.
class PackedListing {
   public:
    explicit PackedListing(bool kindsOnly) : kindsOnly_(kindsOnly) {}

    // Adds an entry (its name is at most 259 bytes); returns its place.
    uint32_t Add(const Fs_FindData& e) {
        const size_t nameLen = strlen(e.name);
        const size_t need = RecordHead() + nameLen + 1;
        if (blocks_.empty() || used_ + need > blockSize_) {
            // A small first block for the usual small folder, then 64 KiB ones.
            blockSize_ = blocks_.empty() ? kFirstBlockSize : kBlockSize;
            blocks_.emplace_back(new char[blockSize_]);
            used_ = 0;
        }
        char* at = blocks_.back().get() + used_;
        const uint16_t attrib = static_cast<uint16_t>(e.attrib);
        memcpy(at, &attrib, sizeof attrib);
        if (!kindsOnly_) {
            const int64_t fields[4] = {e.size, e.timeCreate, e.timeAccess, e.timeWrite};
            memcpy(at + sizeof attrib, fields, sizeof fields);
        }
        memcpy(at + RecordHead(), e.name, nameLen + 1);
        const uint32_t place = static_cast<uint32_t>((blocks_.size() - 1) << 16 | used_);
        used_ += need;
        return place;
    }

    // The name of the entry at place.
    const char* Name(uint32_t place) const { return Record(place) + RecordHead(); }

    // Fills *e with the entry at place.
    void Get(uint32_t place, Fs_FindData* e) const {
        const char* at = Record(place);
        uint16_t attrib;
        memcpy(&attrib, at, sizeof attrib);
        e->attrib = attrib;
        int64_t fields[4] = {0, 0, 0, 0};
        if (!kindsOnly_) memcpy(fields, at + sizeof attrib, sizeof fields);
        e->size = fields[0];
        e->timeCreate = fields[1];
        e->timeAccess = fields[2];
        e->timeWrite = fields[3];
        const char* name = at + RecordHead();
        memcpy(e->name, name, strlen(name) + 1);  // at most 259 bytes and the NUL
    }

   private:
    static constexpr size_t kFirstBlockSize = 4096;
    static constexpr size_t kBlockSize = 65536;  // offsets in a block fit 16 bits
    size_t RecordHead() const { return sizeof(uint16_t) + (kindsOnly_ ? 0 : 4 * sizeof(int64_t)); }
    const char* Record(uint32_t place) const {
        return blocks_[place >> 16].get() + (place & 0xFFFF);
    }

    bool kindsOnly_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = 0;       // bytes used in the last block
    size_t blockSize_ = 0;  // the last block's size
};

struct FindHandle {
    explicit FindHandle(bool kindsOnly) : entries(kindsOnly) {}
    PackedListing entries;
    std::vector<uint32_t> order;  // places of the entries, "." and ".." first, then by name
    size_t next = 0;
};

}  // namespace

// Splits an inside pattern into its folder (inside, may be empty) and its
// last element at the last separator that is not a trail byte.
static void splitPattern(const char* pattern, std::string* folder, std::string* last) {
    size_t cut = std::string::npos;
    for (size_t i = 0; pattern[i]; i++) {
        unsigned char c = static_cast<unsigned char>(pattern[i]);
        if (CodePage_IsLead(c) && pattern[i + 1]) {
            i++;
            continue;
        }
        if (c == '\\' || c == '/') cut = i;
    }
    if (cut == std::string::npos) {
        folder->clear();
        *last = pattern;
    } else {
        folder->assign(pattern, cut + 1);
        *last = pattern + cut + 1;
    }
}

// The entry of nativeName in the folder open as dirFd (looked up relative to
// it: one step of path resolution, not the whole path, per entry).
// With kindsOnly, an entry whose type the folder itself gives (a file, a
// folder, a FIFO, a socket, a device) is not looked up: its attributes are
// only Fs_Attr_SubDir, Fs_Attr_Device and Fs_Attr_Hidden, its size and times 0.
// A name whose inside form does not fit max bytes, shortened for messages:
// its head, cut before a character or an escape, then "..." and its extension
// (from the last '.', when that is at most 16 bytes). Fits max bytes.
static std::string shortenedName(const std::string& inside, size_t max) {
    const size_t dot = inside.rfind('.');
    const std::string ext =
        (dot != std::string::npos && inside.size() - dot <= 16) ? inside.substr(dot) : "";
    const size_t budget = max - 3 - ext.size();
    size_t head = 0;
    while (head < inside.size()) {
        const unsigned char c = static_cast<unsigned char>(inside[head]);
        const size_t step = c == '%' ? 3 : (CodePage_IsLead(c) ? 2 : 1);
        if (head + step > budget) break;
        head += step;
    }
    return inside.substr(0, head) + "..." + ext;
}

// True when a native name is its own inside form: printable ASCII without '%'
// and backslash (the usual name; Fs_FromNative gives it unchanged).
static bool isPlainName(const char* name) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; p++)
        if (*p < 0x20 || *p >= 0x7F || *p == '%' || *p == '\\') return false;
    return true;
}

static bool makeEntry(int dirFd, const struct dirent* ent, bool kindsOnly, Fs_FindData* e) {
    const char* nativeName = ent->d_name;
    e->attrib = 0;
    e->timeCreate = e->timeAccess = e->timeWrite = e->size = 0;
    const size_t plainLen = strlen(nativeName);
    if (plainLen < sizeof e->name && isPlainName(nativeName)) {
        if (plainLen == 0) return false;
        memcpy(e->name, nativeName, plainLen + 1);
    } else {
        std::string inside = Fs_FromNative(nativeName);
        const bool tooLong = inside.size() > sizeof e->name - 1;
        if (inside.empty() || (tooLong && !kindsOnly)) return false;
        if (tooLong) inside = shortenedName(inside, sizeof e->name - 1);
        memcpy(e->name, inside.c_str(), inside.size() + 1);
        if (tooLong) e->attrib = Fs_Attr_NameTooLong;
    }
    const bool tooLong = (e->attrib & Fs_Attr_NameTooLong) != 0;
    const uint32_t longBit = tooLong ? Fs_Attr_NameTooLong : 0;
    const bool hidden =
        nativeName[0] == '.' && strcmp(nativeName, ".") != 0 && strcmp(nativeName, "..") != 0;
    if (kindsOnly && ent->d_type != DT_UNKNOWN && ent->d_type != DT_LNK) {
        if (ent->d_type == DT_DIR)
            e->attrib = Fs_Attr_SubDir;
        else if (ent->d_type != DT_REG)
            e->attrib = Fs_Attr_Device;
        if (hidden) e->attrib |= Fs_Attr_Hidden;
        e->attrib |= longBit;
        return true;
    }
    struct stat lsb, sb;
    if (fstatat(dirFd, nativeName, &lsb, AT_SYMLINK_NOFOLLOW) != 0) return false;  // gone
    const struct stat* use = &lsb;
    bool link = S_ISLNK(lsb.st_mode);
    // A link to a file reads like the file; a link to a folder (or a broken
    // link) is listed as the link itself, never as a folder.
    if (link && fstatat(dirFd, nativeName, &sb, 0) == 0 && !S_ISDIR(sb.st_mode)) use = &sb;
    // What the entry describes: the file a link leads to, else the link itself.
    bool described = !link || use == &sb;
    bool dir = !link && S_ISDIR(use->st_mode);
    e->attrib = 0;
    if (dir) e->attrib |= Fs_Attr_SubDir;
    if (!dir && !(described && S_ISREG(use->st_mode))) e->attrib |= Fs_Attr_Device;
    if (described && (use->st_mode & S_IWUSR) == 0) e->attrib |= Fs_Attr_ReadOnly;
    if (hidden) e->attrib |= Fs_Attr_Hidden;
    e->size = (dir || !described) ? 0 : static_cast<int64_t>(use->st_size);
    e->timeCreate = static_cast<int64_t>(use->st_ctime);
    e->timeAccess = static_cast<int64_t>(use->st_atime);
    e->timeWrite = static_cast<int64_t>(use->st_mtime);
    e->attrib |= longBit;
    return true;
}

intptr_t Fs_FindFirstMax(const char* pattern, Fs_FindData* data, size_t maxEntries, int* state,
                         bool kindsOnly) {
    *state = Fs_List_Ok;
    std::string folder, last;
    splitPattern(pattern, &folder, &last);
    std::string dirNative = folder.empty() ? std::string("./") : Fs_ToNative(folder);
    if (dirNative.back() != '/') dirNative += '/';
    DIR* d = injected("list", dirNative) ? nullptr : opendir(dirNative.c_str());
    if (!d) {
        *state = Fs_List_Cannot;
        return -1;
    }
    auto h = std::make_unique<FindHandle>(kindsOnly);
    uint32_t dots[2];
    size_t nDots = 0;
    const bool matchAll = last.empty() || last == "*" || last == "*.*";
    Fs_FindData e;
    while (struct dirent* ent = readdir(d)) {
        bool dot = strcmp(ent->d_name, ".") == 0 || strcmp(ent->d_name, "..") == 0;
        if (!makeEntry(dirfd(d), ent, kindsOnly, &e)) continue;
        if (!matchAll && !matchPattern(last, e.name)) continue;
        const uint32_t place = h->entries.Add(e);
        if (dot && nDots < 2) {
            dots[nDots++] = place;
            continue;
        }
        h->order.push_back(place);
        if (h->order.size() > maxEntries) {
            *state = Fs_List_OverMax;
            break;
        }
    }
    closedir(d);
    const PackedListing& entries = h->entries;
    // "." before "..", then the rest by name.
    if (nDots == 2 && strlen(entries.Name(dots[0])) > strlen(entries.Name(dots[1])))
        std::swap(dots[0], dots[1]);
    std::sort(h->order.begin(), h->order.end(), [&entries](uint32_t a, uint32_t b) {
        return Fs_CompareNames(entries.Name(a), entries.Name(b)) < 0;
    });
    h->order.insert(h->order.begin(), dots, dots + nDots);
    if (h->order.empty()) {
        errno = ENOENT;
        return -1;
    }
    h->entries.Get(h->order[h->next++], data);
    return reinterpret_cast<intptr_t>(h.release());
}

intptr_t Fs_FindFirst(const char* pattern, Fs_FindData* data) {
    int state;
    return Fs_FindFirstMax(pattern, data, SIZE_MAX, &state);
}

int Fs_FindNext(intptr_t handle, Fs_FindData* data) {
    if (handle == -1 || handle == 0) return -1;
    auto* h = reinterpret_cast<FindHandle*>(handle);
    if (h->next >= h->order.size()) {
        errno = ENOENT;
        return -1;
    }
    h->entries.Get(h->order[h->next++], data);
    return 0;
}

int Fs_FindClose(intptr_t handle) {
    if (handle == -1 || handle == 0) return -1;
    delete reinterpret_cast<FindHandle*>(handle);
    return 0;
}

// ---- Disks ----

static uint32_t cap32(unsigned long long v) {
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

bool Fs_GetDiskGeometry(const char* insidePath, Fs_DiskGeometry* geo) {
    *geo = Fs_DiskGeometry{};
    std::string native = Fs_ToNative(insidePath);
    struct statvfs vfs;
    if (native.empty() || statvfs(native.c_str(), &vfs) != 0) return false;
    unsigned long block = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    if (block == 0) return false;
    if (block >= 512 && block % 512 == 0) {
        geo->bytesPerSector = 512;
        geo->sectorsPerCluster = cap32(block / 512);
    } else {
        geo->bytesPerSector = cap32(block);
        geo->sectorsPerCluster = 1;
    }
    geo->freeClusters = cap32(vfs.f_bavail);
    geo->totalClusters = cap32(vfs.f_blocks);
    return true;
}

// ---- Replacing a file safely ----

namespace {

// The temp file being written, for Fs_RemovePendingTemp (a signal handler).
char g_pendingTemp[4096];
volatile sig_atomic_t g_hasPendingTemp = 0;

void setPending(const std::string& native) {
    g_hasPendingTemp = 0;
    if (native.size() >= sizeof g_pendingTemp) return;
    memcpy(g_pendingTemp, native.c_str(), native.size() + 1);
    g_hasPendingTemp = 1;
}

// The native folder (with its trailing '/') and name of a native path.
void splitNative(const std::string& native, std::string* folder, std::string* name) {
    const size_t cut = native.rfind('/');
    *folder = cut == std::string::npos ? std::string("./") : native.substr(0, cut + 1);
    *name = cut == std::string::npos ? native : native.substr(cut + 1);
}

// The process's umask, read without changing it (umask() would, for a moment,
// for every thread); 022 when the kernel does not tell.
mode_t currentUmask() {
    mode_t mask = 022;
    FILE* f = fopen("/proc/self/status", "re");
    if (!f) return mask;
    char line[256];
    while (fgets(line, sizeof line, f))
        if (strncmp(line, "Umask:", 6) == 0) {
            mask = static_cast<mode_t>(strtoul(line + 6, nullptr, 8)) & 0777;
            break;
        }
    fclose(f);
    return mask;
}

bool isTempName(const std::string& name, const std::string& targetName) {
    // "." + targetName + "." + the run + ".tmp"
    const std::string head = "." + targetName + ".";
    const size_t endLength = sizeof kTempEnd - 1;
    return name.size() == head.size() + kTempRunLength + endLength &&
           name.compare(0, head.size(), head) == 0 &&
           name.compare(name.size() - endLength, endLength, kTempEnd) == 0;
}

// Forces a file's or folder's data to the disk.
int syncPath(const std::string& native, bool folder) {
    if (injected("sync", native)) return -1;
    const int fd = open(native.c_str(), (folder ? O_DIRECTORY : 0) | O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int r = fsync(fd);
    const int e = errno;
    close(fd);
    errno = e;
    return r == 0 ? 0 : -1;
}

}  // namespace

bool Fs_ReplaceTarget(const char* insidePath, char* out, size_t size) {
    if (!Fs_IsLink(insidePath)) {
        std::string whole(insidePath);
        return copyWhole(whole, out, size);
    }
    return Fs_RealPath(insidePath, out, size);
}

int Fs_LockFolder(const char* insidePath) {
    std::string folder, name;
    splitNative(Fs_ToNative(insidePath), &folder, &name);
    if (injected("lock", folder)) return Fs_Lock_Cannot;
    const int fd = open(folder.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fs_Lock_Cannot;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return e == EWOULDBLOCK ? Fs_Lock_Busy : Fs_Lock_Cannot;
    }
    return fd;
}

void Fs_Unlock(int lock) {
    if (lock >= 0) close(lock);  // closing the descriptor releases the lock
}

int Fs_RemoveStaleTemps(const char* insidePath) {
    std::string folder, name;
    splitNative(Fs_ToNative(insidePath), &folder, &name);
    DIR* d = opendir(folder.c_str());
    if (!d) return 0;
    int removed = 0;
    std::vector<std::string> stale;
    while (struct dirent* ent = readdir(d))
        if (isTempName(ent->d_name, name)) stale.push_back(folder + ent->d_name);
    closedir(d);
    for (const std::string& path : stale)
        if (unlink(path.c_str()) == 0) removed++;
    return removed;
}

bool Fs_IsTempOf(const char* name, const char* target) {
    std::string folder, targetName;
    splitNative(Fs_ToNative(target), &folder, &targetName);
    return isTempName(Fs_ToNative(name), targetName);
}

FILE* Fs_CreateTemp(const char* target, const char* mode, char* tempOut, size_t size) {
    CodePage_CopyCut(tempOut, size, "");
    const std::string native = Fs_ToNative(target);
    std::string folder, name;
    splitNative(native, &folder, &name);
    if (native.empty() || name.empty() || injected("create", native)) return nullptr;
    struct stat old;
    const bool hadOld = stat(native.c_str(), &old) == 0;
    const unsigned seed = tempSeed();
    for (int attempt = 0; attempt < 100; attempt++) {
        const std::string path = folder + "." + name + "." + tempRun(seed, attempt) + kTempEnd;
        // Signals wait while the file is made and remembered, so that no
        // handler runs between the two and leaves it behind.
        sigset_t all, before;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &before);
        const int fault = injected("name", path);
        // Readable by its owner alone until the group and the final mode are
        // set: nobody else can open it meanwhile.
        const int fd =
            fault ? -1
                  : open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        const int openErrno = errno;
        if (fd >= 0) setPending(path);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        if (fd < 0) {
            if (openErrno == EEXIST) continue;
            errno = openErrno;
            return nullptr;
        }
        const std::string inside = Fs_FromNative(path);
        bool made = injected("created", path) == 0;
        if (made && hadOld) {
            // The group first: changing it may clear set-id bits that the mode restores.
            if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
                // A user who is not in the old group keeps their own: not an error.
            }
        }
        // The final mode last: the previous file's, else what a new file gets.
        if (made) made = injected("mode", path) == 0;
        if (made) fchmod(fd, hadOld ? (old.st_mode & 07777) : (0666 & ~currentUmask()));
        FILE* raw = (made && inside.size() + 1 <= size) ? fdopen(fd, "wb") : nullptr;
        if (!raw) close(fd);
        // A whole file is written: a text-mode one in blocks of 64 KiB, not
        // the default 4 KiB (a 200,000-page database is some 300 writes, not
        // 5,000).
        FILE* f = !raw ? nullptr : strchr(mode, 'b') ? raw : textStream(raw, "w", kTempWriteBuffer);
        if (!f) {
            unlink(path.c_str());
            g_hasPendingTemp = 0;
            return nullptr;
        }
        CodePage_CopyCut(tempOut, size, inside);
        return f;
    }
    errno = EEXIST;
    return nullptr;
}

int Fs_CommitTemp(const char* temp, const char* target) {
    const std::string from = Fs_ToNative(temp), to = Fs_ToNative(target);
    std::string folder, name;
    splitNative(to, &folder, &name);
    if (from.empty() || to.empty()) {
        errno = ENOENT;
        return -1;
    }
    if (syncPath(from, false) != 0) return -1;
    if (injected("rename", to) || rename(from.c_str(), to.c_str()) != 0) return -1;
    g_hasPendingTemp = 0;
    // The new name is on the disk only once the folder is.
    return syncPath(folder, true);
}

int Fs_DiscardTemp(const char* temp) {
    // Removed first: a signal in between finds the name gone, not the file left.
    const int r = Fs_Remove(temp);
    g_hasPendingTemp = 0;
    return r;
}

void Fs_RemovePendingTemp() {
    if (g_hasPendingTemp) {
        g_hasPendingTemp = 0;
        unlink(g_pendingTemp);
    }
}
