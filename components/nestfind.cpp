#include "components/nestfind.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "components/bigstack.h"
#include "components/errors.h"
#include "platform/codepage.h"
#include "platform/fs.h"

namespace {

constexpr int kMaxLen = NestFind_NameSize - 1;  // 255 bytes and a NUL

// The kind bits of a slot (the record's isDir table).
constexpr unsigned char kKindDir = 1;     // a folder: the walk enters it
constexpr unsigned char kKindDevice = 2;  // neither a regular file nor a folder
constexpr unsigned char kKindLong = 4;    // its full path does not fit 255 bytes

constexpr int32_t kFirstSlots = 1024;  // the arrays' first size; they double from there
constexpr size_t kBlockSize = 65536;   // one block of packed names

// A place in the packed names: a block and the bytes used in it.
struct NamePos {
    int32_t block;
    size_t used;
};

// The process-wide table: slot pointers and kind bytes, grown by doubling,
// and the names they point to, packed in blocks that never move (so a name's
// pointer stays valid while its level is open). mark[d] is where level d's
// names end: the next level's names follow it.
struct Table {
    char** names;
    unsigned char* kinds;
    int32_t capacity;  // slots of names and kinds
    char** blocks;
    int32_t nBlocks;     // blocks allocated
    int32_t blockSlots;  // capacity of blocks
    NamePos next;        // where the next name goes
    NamePos mark[NestFind_MaxNest + 1];
    int32_t limit;  // entries the open levels may hold together
};
Table g_table{nullptr, nullptr, 0, nullptr, 0, 0, {0, 0}, {}, NestFind_MaxEntries};

// Frees the table's memory.
void freeTable() {
    for (int32_t i = 0; i < g_table.nBlocks; i++) free(g_table.blocks[i]);
    free(g_table.blocks);
    free(g_table.names);
    free(g_table.kinds);
    g_table.names = nullptr;
    g_table.kinds = nullptr;
    g_table.blocks = nullptr;
    g_table.capacity = g_table.nBlocks = g_table.blockSlots = 0;
    g_table.next = NamePos{0, 0};
}

// Makes room for slot index slot (below the limit), doubling the arrays;
// false when the heap cannot give it. The record's pointers follow the move.
bool reserveSlot(NestFind* walk, int32_t slot) {
    if (slot < g_table.capacity) return true;
    int64_t cap = g_table.capacity > 0 ? g_table.capacity : kFirstSlots;
    while (cap <= slot) cap *= 2;
    if (cap > g_table.limit) cap = g_table.limit;
    const size_t n = static_cast<size_t>(cap);
    char** names = static_cast<char**>(realloc(g_table.names, n * sizeof(char*)));
    if (!names) return false;
    g_table.names = names;
    unsigned char* kinds = static_cast<unsigned char*>(realloc(g_table.kinds, n));
    if (!kinds) return false;
    g_table.kinds = kinds;
    g_table.capacity = static_cast<int32_t>(cap);
    walk->names = g_table.names;
    walk->isDir = g_table.kinds;
    return true;
}

// Copies a name of len bytes (at most 259) after the names held; returns its
// copy, or nullptr when the heap cannot give a new block.
char* storeName(const char* name, size_t len) {
    NamePos& at = g_table.next;
    if (at.block < g_table.nBlocks && at.used + len + 1 > kBlockSize) at = NamePos{at.block + 1, 0};
    if (at.block >= g_table.nBlocks) {
        if (g_table.nBlocks == g_table.blockSlots) {
            const int32_t slots = g_table.blockSlots > 0 ? g_table.blockSlots * 2 : 16;
            char** blocks = static_cast<char**>(
                realloc(g_table.blocks, static_cast<size_t>(slots) * sizeof(char*)));
            if (!blocks) return nullptr;
            g_table.blocks = blocks;
            g_table.blockSlots = slots;
        }
        char* block = static_cast<char*>(malloc(kBlockSize));
        if (!block) return nullptr;
        g_table.blocks[g_table.nBlocks++] = block;
    }
    char* copy = g_table.blocks[at.block] + at.used;
    memcpy(copy, name, len);
    copy[len] = '\0';
    at.used += len + 1;
    return copy;
}

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

// Appends src to the NUL-terminated text in out[0, size), cutting before the
// first character that does not fit; returns false when it cut.
bool append(char* out, size_t size, const char* src) {
    size_t n = strlen(out);
    const size_t len = strlen(src);
    if (n + len <= size - 1) {  // it fits whole: nothing to cut
        memcpy(out + n, src, len + 1);
        return true;
    }
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
    while (*s) {
        const size_t len = (CodePage_IsLead(*s) && s[1]) ? 2 : 1;
        if (n + len > size - 1) {
            out[n] = '\0';
            return false;
        }
        memcpy(out + n, s, len);
        n += len;
        s += len;
    }
    out[n] = '\0';
    return true;
}

// Builds the relative path of the current entry into out[0, size), cut at a
// character boundary; returns false when it cut.
bool buildRelPath(const NestFind* walk, char* out, size_t size) {
    out[0] = '\0';
    bool whole = true;
    for (int i = 0; i <= walk->depth && whole; i++) {
        if (i > 0) whole = append(out, size, "\\");
        if (whole) whole = append(out, size, walk->names[walk->cur[i]]);
    }
    return whole;
}

// Reads the listing of the folder whose path, with its trailing separator, is
// in work, after last[depth]. The platform stops reading once the folder holds
// more names than the bound leaves room for, so a huge folder is never read
// whole. Raises NestFind_Err_OverBuf past the bound or when the heap cannot
// hold the listing. Returns false when the folder cannot be listed.
bool readDir(NestFind* walk) {
    char pattern[NestFind_NameSize + 4];
    pattern[0] = '\0';
    append(pattern, sizeof pattern, walk->work);
    append(pattern, sizeof pattern, "*.*");
    const size_t folderLen = strlen(walk->work);
    const int d = walk->depth;

    Fs_FindData fd;
    const int32_t first = walk->last[d];
    const NamePos start = d == 0 ? NamePos{0, 0} : g_table.mark[d - 1];
    const size_t room = static_cast<size_t>(g_table.limit - 1 - first);
    for (size_t max = room;; max = SIZE_MAX) {
        walk->last[d] = first;
        g_table.next = start;
        g_table.mark[d] = start;
        int state = Fs_List_Ok;
        // Only names and kinds are needed for the walk: no look-up per entry.
        intptr_t h = Fs_FindFirstMax(pattern, &fd, max, &state, true);
        if (h == -1) return state != Fs_List_Cannot;  // nothing listed, or cannot be listed
        do {
            if (strcmp(fd.name, ".") == 0 || strcmp(fd.name, "..") == 0) continue;
            const bool dir = (fd.attrib & Fs_Attr_SubDir) != 0;
            const size_t len = strlen(fd.name);
            const bool tooLong =
                (fd.attrib & Fs_Attr_NameTooLong) != 0 || folderLen + len + (dir ? 1 : 0) > kMaxLen;
            // A path that does not fit is never entered nor acted on: only a
            // file of a files-only walk is kept, to be reported as such.
            if (tooLong && walk->postOrder) continue;
            const int32_t slot = walk->last[d] + 1;
            char* name = nullptr;
            const bool over = slot >= g_table.limit;
            if (!over && reserveSlot(walk, slot)) name = storeName(fd.name, len);
            if (!name) {
                Fs_FindClose(h);
                ERRORS_REPORT(NestFind_Err_OverBuf, "NestFind: over Buf (%s)\n", walk->work);
                g_table.mark[d] = g_table.next;
                return true;  // the report returned (no hook): the listing stays cut
            }
            walk->last[d] = slot;
            walk->names[slot] = name;
            walk->isDir[slot] = static_cast<unsigned char>(
                (dir ? kKindDir : 0) | ((fd.attrib & Fs_Attr_Device) ? kKindDevice : 0) |
                (tooLong ? kKindLong : 0));
        } while (Fs_FindNext(h, &fd) == 0);
        Fs_FindClose(h);
        g_table.mark[d] = g_table.next;
        // A cut listing whose names all found a slot (some were left out) is
        // read again whole.
        if (state != Fs_List_OverMax) return true;
    }
}

}  // namespace

int32_t NestFind_SetEntryLimit(int32_t limit) {
    const int32_t old = g_table.limit;
    g_table.limit = (limit <= 0 || limit > NestFind_MaxEntries) ? NestFind_MaxEntries : limit;
    return old;
}

void NestFind_Begin(NestFind* walk, const char* startFolder, bool postOrder) {
    walk->names = g_table.names;
    walk->isDir = g_table.kinds;
    walk->postOrder = postOrder ? 1 : 0;
    walk->cur[0] = -1;
    walk->last[0] = -1;
    walk->depth = 0;
    walk->bCannotList = 0;
    walk->base[0] = '\0';
    walk->work[0] = '\0';
    g_table.next = NamePos{0, 0};
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
        // A file, or a folder too long to enter (files-only mode reports it).
        if ((walk->isDir[walk->cur[d]] & (kKindDir | kKindLong)) != kKindDir) return true;
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
    return (walk->isDir[walk->cur[walk->depth]] & (kKindDir | kKindDevice | kKindLong)) == 0;
}

bool NestFind_IsTooLong(NestFind* walk) {
    return (walk->isDir[walk->cur[walk->depth]] & kKindLong) != 0;
}

bool NestFind_CopyPath(NestFind* walk, char* out, size_t size) {
    if (size == 0) return false;
    out[0] = '\0';
    if (!append(out, size, walk->base)) return false;
    for (int i = 0; i <= walk->depth; i++) {
        if (i > 0 && !append(out, size, "\\")) return false;
        if (!append(out, size, walk->names[walk->cur[i]])) return false;
    }
    return true;
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
    freeTable();
    walk->names = nullptr;
    walk->isDir = nullptr;
    walk->depth = -1;
    walk->base[0] = '\0';
    walk->work[0] = '\0';
}
