// Folder walk: depth first, one entry at a time, no recursion.
//
// Every folder's listing is read (sorted by name, platform/fs.h) into one
// process-wide entry table; the walk keeps, per level, a cursor and the end of
// that level's listing in the table. The listings of the levels on the current
// path lie one after the other, so the table holds the open levels' entries
// together, and a level's slots are reused by the next folder entered from the
// same parent. Levels 0 (the start folder's own listing) to 49 can be open.
//
// Two modes: files-only reports every file below the start folder and never a
// folder; post-order reports every file and every folder, each folder right
// after all of its contents (the start folder itself is not reported). Entries
// are reported in listing order, files and sub-folders interleaved. Names "."
// and ".." are skipped; a symbolic link to a folder is a file to the walk.
//
// Memory: the table is the one part of the component library that takes heap
// memory, and only as the entries held at once need it: slot pointers and kind
// bytes (9 bytes an entry) in arrays that double from 1024 entries, and the
// names packed one after the other (each its bytes and a NUL) in 64 KB blocks
// added one at a time. So a walk holds about 10 bytes plus the name's length
// per entry of the open levels (at most twice that for the arrays just
// doubled), never per entry of the tree: a folder of 200,000 names of 12
// bytes takes about 6 MB. The memory is kept for the next folder while the
// walk goes on and freed by NestFind_End; a walk that a report ended leaves it
// to the next walk, which reuses it.
//
// Bounds: base, work and each returned path hold 255 bytes and a NUL. A start
// folder that does not fit base with its trailing backslash gives an empty
// walk. An entry whose full path (for a folder: with its trailing backslash)
// would pass 255 bytes is never entered nor handed to a caller that would act
// on it: in post-order mode it is left out; in files-only mode a file is
// reported marked too long (NestFind_IsTooLong), its path cut for display only,
// and so is a folder (NestFind_IsDir tells it), which is never entered.
//
// Static storage: the table is process-wide; only one walk may be in progress
// in the process, on one thread. Strings returned by GetRelPath and GetPath
// live in the record's work buffer until the next GetRelPath, GetPath or Next;
// GetName's string lives in the table until that level's listing is left.
//
// Raises (through the error core, not caught here):
//   NestFind_Err_OverNest (9991) "NestFind: over Nest (%s)\n" with the full
//     path of a folder 50 levels below the start folder; depth stays at the
//     parent's level.
//   NestFind_Err_OverBuf (9992) "NestFind: over Buf (%s)\n" with the path of
//     the folder being read (trailing backslash), when the open levels would
//     hold more than NestFind_MaxEntries (10,000,000) entries, or when the heap
//     cannot give the table the room it needs; the walk cannot go on.
// A folder that cannot be listed counts as empty; when it is the start folder,
// bCannotList tells the caller. A folder is read only as far as the bound
// leaves room for: one name more and the walk raises NestFind_Err_OverBuf
// without reading the rest of a huge folder.
#pragma once

#include <cstddef>
#include <cstdint>

// The bound on the entries the open levels hold together: far above any real
// folder (a folder of a million pages walks), low enough that a runaway
// listing ends with a report rather than taking the machine's memory.
inline constexpr int32_t NestFind_MaxEntries = 10000000;
inline constexpr int NestFind_MaxNest = 50;    // levels 0 to 49 can be open
inline constexpr int NestFind_NameSize = 256;  // base, work, a returned path

// The walk record.
struct NestFind {
    char** names;                        // the slot pointers (the table's; they move as it grows)
    unsigned char* isDir;                // kind bits of each slot: folder, not a regular file
    unsigned char postOrder;             // 0: files only; 1: post-order
    int32_t cur[NestFind_MaxNest + 1];   // table index of level d's current entry
    int32_t last[NestFind_MaxNest + 1];  // table index of level d's last entry
    int32_t depth;                       // current level; 0 = the start folder's listing
    unsigned char bCannotList;           // 1 when the start folder could not be listed
    char base[NestFind_NameSize];        // start folder with a trailing separator
    char work[NestFind_NameSize];        // where paths are built and returned
};

// Sets up the walk of startFolder (a trailing backslash or '/' is kept, else
// a backslash is added) and reads its listing. postOrder: see the module
// comment. Raises NestFind_Err_OverBuf for a listing past the bound.
void NestFind_Begin(NestFind* walk, const char* startFolder, bool postOrder);

// Advances to the next entry to report; false when the walk is over. Raises
// NestFind_Err_OverNest and NestFind_Err_OverBuf.
bool NestFind_Next(NestFind* walk);

// Returns the current entry's name (its table slot).
const char* NestFind_GetName(NestFind* walk);

// True when the current entry is a folder.
bool NestFind_IsDir(NestFind* walk);

// True when the current entry is a regular file (or a link to one): not a
// folder, FIFO, socket, device, link to a folder or broken link, and its path
// fits the walk's 255 bytes.
bool NestFind_IsRegular(NestFind* walk);

// True when the current entry's full path does not fit 255 bytes (files-only
// mode reports such files): GetRelPath and GetPath then return it cut at a
// character boundary, for display only; NestFind_CopyPath gives it whole.
bool NestFind_IsTooLong(NestFind* walk);

// Returns the current entry's path below the start folder (names of levels 0
// to depth joined by backslashes), built in work.
const char* NestFind_GetRelPath(NestFind* walk);

// Returns base followed by the relative path, built in work. Takes a 260-byte
// scratch buffer (bigstack.h) under its own mark and releases it; raises
// BigStack_Full (281) when the scratch stack has no room for both (the mark is
// released first).
const char* NestFind_GetPath(NestFind* walk);

// Copies base followed by the relative path into out[0, size), cut at a
// character boundary; returns false when it had to be cut (nothing is copied
// when size is 0). Takes no scratch.
bool NestFind_CopyPath(NestFind* walk, char* out, size_t size);

// Lowers the bound on the entries held at once (for tests of the bound); 0 or
// a value above NestFind_MaxEntries restores NestFind_MaxEntries. Returns the
// bound it replaces. Set it between walks.
int32_t NestFind_SetEntryLimit(int32_t limit);

// Returns the current entry's number in a mixed-radix count whose digits are
// the places on the current path (0-based) and whose radices are the listing
// sizes of levels 0 to depth. When the product of the sizes would pass
// INT32_MAX the deepest levels are dropped until it fits, so GetPos / GetTotal
// stays the fraction of the tree passed. 0 when there is no current entry.
int NestFind_GetPos(NestFind* walk);

// Returns the product of the listing sizes of levels 0 to depth (with the
// same levels dropped as GetPos); 1 when there is no current entry.
int NestFind_GetTotal(NestFind* walk);

// Ends the walk and frees the table's heap memory; the process-wide storage
// is free for the next walk.
void NestFind_End(NestFind* walk);
