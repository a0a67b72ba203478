#include "components/nestfind.h"

#include <cstdint>
#include <cstring>

#include "components/bigstack.h"
#include "components/errors.h"
#include "platform/codepage.h"
#include "platform/fs.h"

namespace {

// The process-wide table: 3000 name slots, their folder flags and pointers.
char g_slots[NestFind_MaxEntries][NestFind_NameSize];
unsigned char g_isDir[NestFind_MaxEntries];
char* g_names[NestFind_MaxEntries];

constexpr int kMaxLen = NestFind_NameSize - 1;  // 255 bytes and a NUL

// The kind bits of a slot (the record's isDir table).
constexpr unsigned char kKindDir = 1;     // a folder: the walk enters it
constexpr unsigned char kKindDevice = 2;  // neither a regular file nor a folder

// True when text ends in a backslash or '/' that is not a trail byte.
bool endsInSeparator(const char* text) {
    bool sep = false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
        sep = (*p == '\\' || *p == '/');
        if (CodePage_IsLead(*p) && p[1]) {
            p++;
            sep = false;
        }
    }
    return sep;
}

// Appends src to the NUL-terminated text in out[0, size), cutting at the end.
void append(char* out, size_t size, const char* src) {
    size_t n = strlen(out);
    size_t add = strlen(src);
    if (n + add > size - 1) add = n < size - 1 ? size - 1 - n : 0;
    memcpy(out + n, src, add);
    out[n + add] = '\0';
}

// Builds the relative path of the current entry into out[0, size).
void buildRelPath(const NestFind* walk, char* out, size_t size) {
    out[0] = '\0';
    for (int i = 0; i <= walk->depth; i++) {
        if (i > 0) append(out, size, "\\");
        append(out, size, walk->names[walk->cur[i]]);
    }
}

// Reads the listing of the folder whose path, with its trailing separator, is
// in work, after last[depth]. Entries that cannot be named within the bounds
// are skipped. The platform stops reading once the folder holds more names
// than the table has slots left, so a huge folder is never read whole. Raises
// NestFind_Err_OverBuf past the table's end. Returns false when the folder
// cannot be listed.
bool readDir(NestFind* walk) {
    char pattern[NestFind_NameSize + 4];
    pattern[0] = '\0';
    append(pattern, sizeof pattern, walk->work);
    append(pattern, sizeof pattern, "*.*");
    const size_t folderLen = strlen(walk->work);

    Fs_FindData fd;
    const int32_t first = walk->last[walk->depth];
    const size_t room = static_cast<size_t>(NestFind_MaxEntries - 1 - first);
    for (size_t max = room;; max = SIZE_MAX) {
        walk->last[walk->depth] = first;
        int state = Fs_List_Ok;
        // Only names and kinds are needed for the walk: no look-up per entry.
        intptr_t h = Fs_FindFirstMax(pattern, &fd, max, &state, true);
        if (h == -1) return state != Fs_List_Cannot;  // nothing listed, or cannot be listed
        do {
            if (strcmp(fd.name, ".") == 0 || strcmp(fd.name, "..") == 0) continue;
            const bool dir = (fd.attrib & Fs_Attr_SubDir) != 0;
            const size_t len = strlen(fd.name);
            if (len > static_cast<size_t>(kMaxLen) || folderLen + len + (dir ? 1 : 0) > kMaxLen)
                continue;  // its path would not fit: left out of the walk
            if (walk->last[walk->depth] + 1 >= NestFind_MaxEntries) {
                Fs_FindClose(h);
                ERRORS_REPORT(NestFind_Err_OverBuf, "NestFind: over Buf (%s)\n", walk->work);
                return true;  // the report returned (no hook): the listing stays cut
            }
            int slot = ++walk->last[walk->depth];
            memcpy(walk->names[slot], fd.name, len + 1);
            walk->isDir[slot] = static_cast<unsigned char>(
                (dir ? kKindDir : 0) | ((fd.attrib & Fs_Attr_Device) ? kKindDevice : 0));
        } while (Fs_FindNext(h, &fd) == 0);
        Fs_FindClose(h);
        // A cut listing whose names all found a slot (some were too long for
        // the walk) is read again whole.
        if (state != Fs_List_OverMax) return true;
    }
}

}  // namespace

void NestFind_Begin(NestFind* walk, const char* startFolder, bool postOrder) {
    for (int i = 0; i < NestFind_MaxEntries; i++) g_names[i] = g_slots[i];
    walk->names = g_names;
    walk->isDir = g_isDir;
    walk->postOrder = postOrder ? 1 : 0;
    walk->cur[0] = -1;
    walk->last[0] = -1;
    walk->depth = 0;
    walk->bCannotList = 0;
    walk->base[0] = '\0';
    walk->work[0] = '\0';
    size_t len = strlen(startFolder);
    bool sep = endsInSeparator(startFolder);
    if (len + (sep ? 0 : 1) > static_cast<size_t>(kMaxLen)) return;  // does not fit: empty walk
    memcpy(walk->base, startFolder, len + 1);
    if (!sep) append(walk->base, sizeof walk->base, "\\");
    memcpy(walk->work, walk->base, sizeof walk->work);
    walk->bCannotList = readDir(walk) ? 0 : 1;
}

bool NestFind_Next(NestFind* walk) {
    if (walk->depth < 0) return false;
    walk->cur[walk->depth]++;
    for (;;) {
        int d = walk->depth;
        if (walk->cur[d] > walk->last[d]) {
            walk->depth--;
            if (walk->depth < 0) return false;
            if (walk->postOrder) return true;  // the folder whose contents are done
            walk->cur[walk->depth]++;
            continue;
        }
        if (!(walk->isDir[walk->cur[d]] & kKindDir)) return true;
        // A folder: enter it at its first entry.
        NestFind_GetPath(walk);
        append(walk->work, sizeof walk->work, "\\");
        if (d + 1 >= NestFind_MaxNest) {
            ERRORS_REPORT(NestFind_Err_OverNest, "NestFind: over Nest (%s)\n",
                          NestFind_GetPath(walk));
            walk->cur[d]++;  // the report returned (no hook): the folder is skipped
            continue;
        }
        walk->depth = d + 1;
        walk->last[d + 1] = walk->last[d];
        walk->cur[d + 1] = walk->last[d] + 1;
        readDir(walk);
    }
}

const char* NestFind_GetName(NestFind* walk) {
    return walk->names[walk->cur[walk->depth]];
}

bool NestFind_IsDir(NestFind* walk) {
    return (walk->isDir[walk->cur[walk->depth]] & kKindDir) != 0;
}

bool NestFind_IsRegular(NestFind* walk) {
    return (walk->isDir[walk->cur[walk->depth]] & (kKindDir | kKindDevice)) == 0;
}

const char* NestFind_GetRelPath(NestFind* walk) {
    buildRelPath(walk, walk->work, sizeof walk->work);
    return walk->work;
}

const char* NestFind_GetPath(NestFind* walk) {
    BigStack* stack = BigStack_Sys();
    BigStack_Push(stack);
    if (stack->size - static_cast<uint32_t>(stack->sp - stack->mem) < 260) {
        // No room: release the mark first, then let the request (mark and
        // buffer) raise BigStack_Full, so no mark is left behind.
        BigStack_Pop(stack);
        BigStack_Alloc(stack, 4 + 260);
    }
    char* rel = static_cast<char*>(BigStack_Alloc(stack, 260));
    buildRelPath(walk, rel, 260);
    memcpy(walk->work, walk->base, sizeof walk->work);
    append(walk->work, sizeof walk->work, rel);
    BigStack_Pop(stack);
    return walk->work;
}

// The sizes and places of levels 0 to the deepest level whose product of
// sizes still fits a signed 32-bit value; returns that level, or -1 when the
// walk has no current entry.
static int pathDigits(const NestFind* walk, int64_t* size, int64_t* idx) {
    if (walk->depth < 0 || walk->depth >= NestFind_MaxNest) return -1;
    int64_t product = 1;
    int top = -1;
    for (int i = 0; i <= walk->depth; i++) {
        int32_t first = i == 0 ? 0 : walk->last[i - 1] + 1;
        size[i] = walk->last[i] - first + 1;
        idx[i] = walk->cur[i] - first;
        if (size[i] <= 0 || idx[i] < 0 || idx[i] >= size[i]) return -1;
        if (product * size[i] > INT32_MAX) break;
        product *= size[i];
        top = i;
    }
    return top;
}

int NestFind_GetPos(NestFind* walk) {
    int64_t size[NestFind_MaxNest], idx[NestFind_MaxNest];
    int top = pathDigits(walk, size, idx);
    int64_t pos = 0;
    for (int j = 0; j <= top; j++) pos = pos * size[j] + idx[j];
    return static_cast<int>(pos);
}

int NestFind_GetTotal(NestFind* walk) {
    int64_t size[NestFind_MaxNest], idx[NestFind_MaxNest];
    int top = pathDigits(walk, size, idx);
    int64_t total = 1;
    for (int j = 0; j <= top; j++) total *= size[j];
    return static_cast<int>(total);
}

void NestFind_End(NestFind* walk) {
    walk->depth = -1;
    walk->base[0] = '\0';
    walk->work[0] = '\0';
}
