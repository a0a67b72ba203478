// The string module's paths and URLs: absolute and relative paths, path parts,
// file: URLs and path lists.

#include "components/strx.h"

#include <cstdint>
#include <cstring>

#include "components/bigstack.h"
#include "components/errors.h"
#include "components/strx_internal.h"
#include "platform/fs.h"

using namespace strx_detail;

namespace {

inline bool isSep(char c) {
    return c == '\\' || c == '/';
}

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

char g_relWork[512];   // StrX_RelPath's work buffer
char g_linkWork[260];  // StrX_RelLink's work buffer
char g_fileName[260];  // StrX_MoveToFolder's file-name buffer

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
