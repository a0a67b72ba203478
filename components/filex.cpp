#include "components/filex.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "components/bigstack.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/nestfind.h"
#include "components/strx.h"
#include "platform/codepage.h"

namespace {

constexpr int kPath = 260;  // a path buffer: 259 bytes and a NUL

char g_pattern[kPath + 4];    // FileX_FindFirst: folder + "*.*"
char g_mkdirsPath[kPath];     // FileX_MkDirs
unsigned char g_block[1024];  // the copy operations
unsigned char g_cmp1[256];    // FileX_Compare
unsigned char g_cmp2[256];

bool isSep(int c) {
    return c == '\\' || c == '/';
}

// Removes trailing separators (Shift_JIS-aware), keeping a lone first one.
void cutTrailingSeps(char* path) {
    size_t n = strlen(path);
    while (n > 1 && isSep(StrX_LastSingleChar(path))) path[--n] = '\0';
}

// Copies text into out[0, size); false when it does not fit whole.
bool copyFits(char* out, const char* text, size_t size) {
    size_t n = strlen(text);
    if (n + 1 > size) return false;
    memcpy(out, text, n + 1);
    return true;
}

// ASCII letters folded, every other byte compared as it is.
bool equalNoCase(const char* a, const char* b) {
    for (;; a++, b++) {
        unsigned char c = static_cast<unsigned char>(*a), d = static_cast<unsigned char>(*b);
        c = static_cast<unsigned char>(CodePage_ToUpper(c));
        d = static_cast<unsigned char>(CodePage_ToUpper(d));
        if (c != d) return false;
        if (c == 0) return true;
    }
}

int32_t cap32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

// Reports why path could not be opened with mode (see FileX_Open).
void reportOpen(const char* path, const char* mode) {
    if (strchr(mode, 'w'))
        ERRORS_REPORT(FileX_Err_CannotWriteOpen, "ファイル \"%s\" が書きこめません", path);
    else
        ERRORS_REPORT(FileX_Err_CannotReadOpen, "ファイル \"%s\" が見つかりません", path);
}

// Opens the source ("rb"), then the destination; when the destination cannot
// be opened the source is closed before the report. Both null when the report
// returns.
void openPair(const char* destination, const char* dstMode, const char* source, FILE** dst,
              FILE** src) {
    *dst = nullptr;
    *src = FileX_Open(source, "rb");
    if (!*src) return;
    *dst = Fs_Open(destination, dstMode);
    if (*dst) return;
    fclose(*src);
    *src = nullptr;
    reportOpen(destination, dstMode);
}

}  // namespace

// ---- What the running system uses ----

FILE* FileX_Open(const char* path, const char* mode) {
    FILE* f = Fs_Open(path, mode);
    if (!f) reportOpen(path, mode);
    return f;
}

bool FileX_CheckWrite(FILE** stream, const char* path) {
    if (!ferror(*stream)) return true;
    fclose(*stream);
    *stream = nullptr;
    ERRORS_REPORT(FileX_Err_CannotWrite, "%s の書きこみに失敗しました。", path);
    return false;
}

bool FileX_CloseWritten(FILE** stream, const char* path) {
    const bool flushed = fflush(*stream) == 0 && !ferror(*stream);
    const bool closed = fclose(*stream) == 0;
    *stream = nullptr;
    if (flushed && closed) return true;
    ERRORS_REPORT(FileX_Err_CannotWrite, "%s の書きこみに失敗しました。", path);
    return false;
}

TextRead* FileX_OpenReader(const char* path, int blockSize) {
    TextRead* r = TextRead_Open(path, blockSize);
    if (!r) reportOpen(path, "rt");
    return r;
}

bool FileX_IsDir(const char* path) {
    char buf[kPath];
    if (!copyFits(buf, path, sizeof buf)) return false;
    bool hadText = buf[0] != '\0';
    size_t n = strlen(buf);
    if (StrX_LastSingleChar(buf) == '/') buf[--n] = '\0';
    if (StrX_LastSingleChar(buf) == '\\') buf[--n] = '\0';
    if (n == 2 && buf[1] == ':') return true;  // a drive name alone: its root
    if (n == 0) return hadText;                // a lone separator: the root folder
    Fs_StatData st;
    if (!Fs_Stat(buf, &st)) return false;
    return st.isDir;
}

const char* FileX_GetFileName(FILE*) {
    return "(FileName not Recorded)";
}

const char* FileX_GetFileName(const TextRead*) {
    return FileX_GetFileName(static_cast<FILE*>(nullptr));
}

int32_t FileX_GetSize(const char* path) {
    Fs_StatData st;
    if (!Fs_Stat(path, &st)) {
        ERRORS_REPORT(Errors_Unofficial, "error");
        return -1;
    }
    return cap32(st.size);
}

// ---- Listings ----

FileX_Find* FileX_FindFirst(FileX_Find* find, const char* folder) {
    find->bFirst = 1;
    find->data = Fs_FindData{};
    find->handle = -1;
    if (strlen(folder) + 1 + 3 >= sizeof g_pattern) return find;  // no room: nothing found
    strcpy(g_pattern, folder);
    StrX_AddLastChar(g_pattern, '\\');
    strcat(g_pattern, "*.*");
    find->handle = Fs_FindFirst(g_pattern, &find->data);
    return find;
}

bool FileX_FindNext(FileX_Find* find) {
    if (find->bFirst) {
        find->bFirst = 0;
        return find->handle == -1;
    }
    if (find->handle == -1) return true;
    return Fs_FindNext(find->handle, &find->data) != 0;
}

int FileX_FindClose(FileX_Find* find) {
    int r = Fs_FindClose(find->handle);
    find->handle = -1;
    return r;
}

int FileX_ListFiles(const char* folder, StrX_Mem* pool) {
    FileX_Find find;
    char path[kPath];
    int added = 0;
    const size_t folderLen = strlen(folder);
    const bool sep = StrX_LastSingleChar(folder) == '\\';
    FileX_FindFirst(&find, folder);
    EXCEPT3_TRY(
        [&] {
            while (!FileX_FindNext(&find)) {
                if (find.data.attrib & Fs_Attr_SubDir) continue;
                if (folderLen + (sep ? 0 : 1) + strlen(find.data.name) + 1 > sizeof path) continue;
                memcpy(path, folder, folderLen + 1);
                if (!sep) strcat(path, "\\");
                strcat(path, find.data.name);
                StrX_Mem_Add(pool, path);
                added++;
            }
        },
        Except3_Rethrow, [&] { FileX_FindClose(&find); });
    return added;
}

// ---- Comma-separated fields ----

// Reads one field; keeps it in buf when buf is given.
static int readField(FILE* stream, char* buf, int size) {
    int kept = 0;
    auto keep = [&](int c) {
        if (buf && kept < size - 1) buf[kept++] = static_cast<char>(c);
    };
    int c = fgetc(stream);
    if (c == '"') {
        for (;;) {
            c = fgetc(stream);
            if (c == EOF) break;
            if (c == '"') {
                c = fgetc(stream);
                if (c != '"') break;  // the closing quote
            }
            keep(c);
        }
        // Whatever follows the closing quote up to the field's end is dropped.
        while (c != EOF && c != ',' && c != '\n') c = fgetc(stream);
    } else {
        while (c != EOF && c != ',' && c != '\n') {
            keep(c);
            c = fgetc(stream);
        }
    }
    if (buf && size > 0) buf[kept] = '\0';
    return c;
}

int FileX_ReadCsvField(FILE* stream, char* buf, int size) {
    return readField(stream, buf, size);
}

int FileX_SkipCsvField(FILE* stream) {
    return readField(stream, nullptr, 0);
}

int FileX_WriteCsvField(FILE* stream, const char* text) {
    if (!strchr(text, ',') && !strchr(text, '"'))
        return fputs(text, stream) < 0 ? -1 : static_cast<int>(strlen(text));
    int n = 0;
    if (fputc('"', stream) == EOF) return -1;
    n++;
    for (const char* p = text; *p; p++) {
        if (*p == '"') {
            if (fputc('"', stream) == EOF) return -1;
            n++;
        }
        if (fputc(static_cast<unsigned char>(*p), stream) == EOF) return -1;
        n++;
    }
    if (fputc('"', stream) == EOF) return -1;
    return n + 1;
}

// ---- Files ----

int32_t FileX_GetHash(const char* path, int count) {
    FILE* f = FileX_Open(path, "rb");
    if (!f) return 0;
    uint32_t sum = 0;
    for (int k = 0; k < count; k++) {
        int c = fgetc(f);
        if (c == EOF) break;
        sum += static_cast<uint32_t>(c) << (k % 7);
    }
    fclose(f);
    return static_cast<int32_t>(sum);
}

bool FileX_CheckTime(const char* path, time_t* lastTime) {
    Fs_StatData st;
    time_t now = Fs_Stat(path, &st) ? static_cast<time_t>(st.mtime) : 0;
    bool same = now == *lastTime;
    *lastTime = now;
    return same;
}

void FileX_TempName(const char* prefix, char* buf) {
    Fs_TempName("\\", prefix, buf, kPath);
}

int FileX_NumberedName(const char* base, const char* path, char* buf) {
    char folder[kPath];
    if (FileX_IsDir(path)) {
        if (!copyFits(folder, path, sizeof folder)) folder[0] = '\0';
    } else if (strlen(path) < sizeof folder) {
        StrX_GetFolder(folder, path);
    } else {
        folder[0] = '\0';
    }
    const char* sep = (folder[0] == '\0' || isSep(StrX_LastSingleChar(folder))) ? "" : "\\";
    for (int n = 1; n > 0; n++) {
        int len = snprintf(buf, kPath, "%s%s%s%d", folder, sep, base, n);
        if (len < 0 || len >= kPath) break;
        if (Fs_Access(buf, Fs_Access_Exist) != 0) return n;
    }
    buf[0] = '\0';
    ERRORS_REPORT(Errors_Unofficial, "error");
    return -1;
}

int FileX_Compare(const char* path1, const char* path2) {
    bool has1 = Fs_Access(path1, Fs_Access_Exist) == 0;
    bool has2 = Fs_Access(path2, Fs_Access_Exist) == 0;
    if (!has1 && !has2) return -3;
    if (!has1) return -1;
    if (!has2) return -2;
    FILE* f1 = nullptr;
    FILE* f2 = nullptr;
    openPair(path2, "rb", path1, &f2, &f1);
    if (!f1 || !f2) return 1;
    int result = 0;
    for (;;) {
        size_t n1 = fread(g_cmp1, 1, sizeof g_cmp1, f1);
        size_t n2 = fread(g_cmp2, 1, sizeof g_cmp2, f2);
        if (n1 != n2 || memcmp(g_cmp1, g_cmp2, n1) != 0) {
            result = 1;
            break;
        }
        if (n1 < sizeof g_cmp1) break;
    }
    fclose(f1);
    fclose(f2);
    return result;
}

// The free bytes of the file system that holds path (its nearest existing
// folder), with the geometry in *info.
static int64_t freeBytesFor(const char* path, FileX_DiskInfo* info) {
    char folder[kPath];
    if (!copyFits(folder, path, sizeof folder)) folder[0] = '\0';
    while (folder[0] != '\0') {
        if (FileX_DiskInfo_Get(info, folder)) {
            return static_cast<int64_t>(info->sectorsPerCluster) * info->bytesPerSector *
                   info->freeClusters;
        }
        size_t before = strlen(folder);
        StrX_CutFileName(folder);
        if (strlen(folder) == before) break;
    }
    if (!FileX_DiskInfo_Get(info, ".")) return 0;  // a relative path: the current folder
    return static_cast<int64_t>(info->sectorsPerCluster) * info->bytesPerSector *
           info->freeClusters;
}

long FileX_Copy(const char* destination, const char* source, long offset, long end,
                FileX_ProgressFunc progress, void* user) {
    Fs_StatData st;
    int64_t srcSize = Fs_Stat(source, &st) ? st.size : 0;
    if (end == -2) {
        FileX_DiskInfo info;
        int64_t room = freeBytesFor(destination, &info);
        room += FileX_DiskInfo_FileBytes(&info, destination) + offset;
        end = static_cast<long>(room);
    }
    FileX_MkDirs(destination, true);
    FILE* dst = nullptr;
    FILE* src = nullptr;
    openPair(destination, "wb", source, &dst, &src);
    if (!dst || !src) return 0;
    fseek(src, offset, SEEK_SET);
    const long limit = end == -1 ? static_cast<long>(srcSize) : end;
    const long total = static_cast<long>(srcSize > end ? srcSize : end) - offset;
    long done = 0;
    if (progress) progress(user, done, total);
    bool failed = false;
    while (offset + done < limit) {
        long want = limit - offset - done;
        size_t n = fread(g_block, 1, want < 1024 ? static_cast<size_t>(want) : 1024, src);
        if (n == 0) break;
        if (fwrite(g_block, 1, n, dst) != n) {
            failed = true;
            break;
        }
        done += static_cast<long>(n);
        if (progress) progress(user, done, total);
    }
    fclose(src);
    if (fclose(dst) != 0) failed = true;
    if (failed) {
        Fs_Remove(destination);
        ERRORS_REPORT(FileX_Err_CannotWrite, "%s の書きこみに失敗しました。", destination);
    }
    return done;
}

// Brings a path to the form protected folders are compared in: '/' made a
// backslash, dot steps resolved, trailing "\." steps and separators removed.
static void normalForm(char* path) {
    StrX_ReplaceChar(path, '/', '\\');
    StrX_CleanDots(path);
    for (;;) {
        size_t n = strlen(path);
        if (n > 1 && isSep(StrX_LastSingleChar(path))) {
            path[n - 1] = '\0';
        } else if (n >= 2 && path[n - 1] == '.' && path[n - 2] == '\\') {
            path[n - 1] = '\0';
        } else if (n == 1 && path[0] == '.') {
            path[0] = '\0';
        } else {
            break;
        }
    }
}

// True when path (in normal form) names protected, directly or through its
// real path.
static bool sameFolder(const char* path, const char* protectedPath) {
    if (equalNoCase(path, protectedPath)) return true;
    char real[kPath];
    if (!Fs_RealPath(protectedPath, real, sizeof real)) return false;
    normalForm(real);
    return equalNoCase(path, real);
}

bool FileX_IsProtectedFolder(const char* folder) {
    static const char* const kSystem[] = {
        "\\",      "\\bin",    "\\boot",  "\\dev", "\\etc", "\\home", "\\lib",  "\\lib32",
        "\\lib64", "\\libx32", "\\media", "\\mnt", "\\opt", "\\proc", "\\root", "\\run",
        "\\sbin",  "\\snap",   "\\srv",   "\\sys", "\\tmp", "\\usr",  "\\var",
    };
    if (!folder || folder[0] == '\0') return true;
    // The forms to test: as written, made absolute, and with its links resolved.
    char forms[3][kPath];
    int nForms = 0;
    if (copyFits(forms[0], folder, kPath)) nForms = 1;
    StrX_AbsPathCwd(forms[nForms], folder, kPath);
    nForms++;
    if (Fs_RealPath(folder, forms[nForms], kPath)) nForms++;
    char home[kPath], windir[kPath];
    bool hasHome = Fs_HomeDir(home, sizeof home);
    if (hasHome) normalForm(home);
    const char* envWindir = getenv("windir");
    bool hasWindir = envWindir && envWindir[0] && copyFits(windir, envWindir, sizeof windir);
    if (hasWindir) normalForm(windir);
    for (int i = 0; i < nForms; i++) {
        char* f = forms[i];
        normalForm(f);
        if (f[0] == '\0') return true;  // the current folder's own name: never
        if (f[1] == ':' && (f[2] == '\0' || (f[2] == '\\' && f[3] == '\0'))) return true;
        for (const char* sys : kSystem)
            if (sameFolder(f, sys)) return true;
        if (hasHome && sameFolder(f, home)) return true;
        if (hasWindir && equalNoCase(f, windir)) return true;
    }
    return false;
}

int FileX_RemoveTree(const char* folder) {
    if (FileX_IsProtectedFolder(folder)) {
        ERRORS_REPORT(Errors_Unofficial, "error");
        return -1;
    }
    if (Fs_Access(folder, Fs_Access_Exist) != 0) return -1;
    char self[kPath];
    if (copyFits(self, folder, sizeof self)) {
        cutTrailingSeps(self);
        if (Fs_IsLink(self)) return -1;  // never removes through a link
    }
    NestFind walk;
    NestFind_Begin(&walk, folder, true);
    while (NestFind_Next(&walk)) {
        const char* path = NestFind_GetPath(&walk);
        if (NestFind_IsDir(&walk)) {
            Fs_RmDir(path);
        } else {
            if (!Fs_IsLink(path)) Fs_Chmod(path, 0600);
            Fs_Remove(path);
        }
    }
    int result = Fs_RmDir(folder);
    NestFind_End(&walk);
    return result;
}

void FileX_AppendFile(const char* destination, const char* source) {
    FILE* dst = nullptr;
    FILE* src = nullptr;
    openPair(destination, "ab", source, &dst, &src);
    if (!dst || !src) return;
    bool failed = false;
    size_t n;
    while ((n = fread(g_block, 1, sizeof g_block, src)) > 0) {
        if (fwrite(g_block, 1, n, dst) != n) {
            failed = true;
            break;
        }
    }
    fclose(src);
    if (fclose(dst) != 0) failed = true;
    if (failed) ERRORS_REPORT(FileX_Err_CannotWrite, "%s の書きこみに失敗しました。", destination);
}

void FileX_CopyToStream(FILE* stream, const char* path, char modeLetter) {
    char mode[3] = {'r', modeLetter, '\0'};
    FILE* f = FileX_Open(path, mode);
    if (!f) return;
    size_t n;
    while ((n = fread(g_block, 1, sizeof g_block, f)) > 0) fwrite(g_block, 1, n, stream);
    fclose(f);
}

int FileX_MkDirs(const char* path, bool isFile) {
    char* p = g_mkdirsPath;
    StrX_AbsPathCwd(p, path, kPath);
    if (isFile) StrX_CutFileName(p);
    if (isSep(StrX_LastSingleChar(p)) && p[1] != '\0') p[strlen(p) - 1] = '\0';
    // Skip the drive part or a leading separator (two for a network path).
    size_t i = 0;
    if (p[0] != '\0' && p[1] == ':') i = 2;
    while (isSep(static_cast<unsigned char>(p[i]))) i++;
    for (; p[i]; i++) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (CodePage_IsLead(c) && p[i + 1]) {
            i++;
            continue;
        }
        if (!isSep(c)) continue;
        p[i] = '\0';
        if (!FileX_IsDir(p)) Fs_MkDir(p);
        p[i] = static_cast<char>(c);
    }
    return Fs_MkDir(p);
}

char* FileX_BackupPath(char* path) {
    return StrX_MoveToFolder(path, "backup");
}

void FileX_PushDir(char** saved, const char* path) {
    char* buf = static_cast<char*>(BigStack_Alloc(BigStack_Sys(), kPath));
    Fs_GetCwd(buf, kPath);
    *saved = buf;
    if (FileX_IsDir(path)) {
        Fs_SetCwd(path);
        return;
    }
    char folder[kPath];
    if (!copyFits(folder, path, sizeof folder)) return;
    StrX_CutFileName(folder);
    if (folder[0]) Fs_SetCwd(folder);
}

int FileX_PopDir(char** saved) {
    return (*saved && Fs_SetCwd(*saved)) ? 0 : -1;
}

// ---- Disks ----

FileX_DiskInfo* FileX_DiskInfo_Clear(FileX_DiskInfo* info) {
    *info = FileX_DiskInfo{};
    return info;
}

int FileX_DiskInfo_Get(FileX_DiskInfo* info, const char* root) {
    Fs_DiskGeometry g;
    if (!Fs_GetDiskGeometry(root, &g)) {
        FileX_DiskInfo_Clear(info);
        return 0;
    }
    info->sectorsPerCluster = g.sectorsPerCluster;
    info->bytesPerSector = g.bytesPerSector;
    info->freeClusters = g.freeClusters;
    info->totalClusters = g.totalClusters;
    return 1;
}

int32_t FileX_DiskInfo_FreeBytes(const FileX_DiskInfo* info) {
    return cap32(static_cast<int64_t>(info->sectorsPerCluster) * info->bytesPerSector *
                 info->freeClusters);
}

int32_t FileX_DiskInfo_TotalBytes(const FileX_DiskInfo* info) {
    return cap32(static_cast<int64_t>(info->sectorsPerCluster) * info->bytesPerSector *
                 info->totalClusters);
}

int32_t FileX_DiskInfo_FileBytes(const FileX_DiskInfo* info, const char* path) {
    Fs_StatData st;
    if (!Fs_Stat(path, &st)) return 0;
    int64_t cluster = static_cast<int64_t>(info->sectorsPerCluster) * info->bytesPerSector;
    if (cluster <= 0) return cap32(st.size);
    return cap32((st.size + cluster - 1) / cluster * cluster);
}
