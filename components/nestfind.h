// Folder walk: depth first, one entry at a time, no recursion, no heap.
//
// Every folder's listing is read (sorted by name, platform/fs.h) into
// one process-wide table of 3000 name slots of 256 bytes; the walk keeps, per
// level, a cursor and the end of that level's listing in the table. The
// listings of the levels on the current path lie one after the other, so the
// open levels together hold at most 3000 entries. Levels 0 (the start folder's
// own listing) to 49 can be open.
//
// Two modes: files-only reports every file below the start folder and never a
// folder; post-order reports every file and every folder, each folder right
// after all of its contents (the start folder itself is not reported). Entries
// are reported in listing order, files and sub-folders interleaved. Names "."
// and ".." are skipped; a symbolic link to a folder is a file to the walk.
//
// Bounds: base, work and each name slot hold 255 bytes and a NUL. A start
// folder that does not fit base with its trailing backslash gives an empty
// walk. An entry whose name does not fit a slot, or whose full path (for a
// folder: with its trailing backslash) would pass 255 bytes, is skipped when
// its folder is read, so no path the walk hands out is ever cut.
//
// Static storage: the table, flags and slot pointers are process-wide; only
// one walk may be in progress in the process, on one thread. Strings returned
// by GetRelPath and GetPath live in the record's work buffer until the next
// GetRelPath, GetPath or Next; GetName's string lives in its slot until that
// level's listing is left.
//
// Raises (through the error core, not caught here):
//   NestFind_Err_OverNest (9991) "NestFind: over Nest (%s)\n" with the full
//     path of a folder 50 levels below the start folder; depth stays at the
//     parent's level.
//   NestFind_Err_OverBuf (9992) "NestFind: over Buf (%s)\n" with the path of
//     the folder being read (trailing backslash), when the open levels would
//     hold more than 3000 entries; the walk cannot go on.
// A folder that cannot be listed counts as empty; when it is the start folder,
// bCannotList tells the caller. A folder is read only as far as the table
// has room for: one name more and the walk raises NestFind_Err_OverBuf
// without reading the rest of a huge folder.
#pragma once

#include <cstdint>

inline constexpr int NestFind_MaxEntries = 3000;  // name slots of the table
inline constexpr int NestFind_MaxNest = 50;       // levels 0 to 49 can be open
inline constexpr int NestFind_NameSize = 256;     // a name slot, base, work

// The walk record.
struct NestFind {
    char** names;                        // the slot pointers
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
// comment. Raises NestFind_Err_OverBuf for a listing of more than 3000 entries.
void NestFind_Begin(NestFind* walk, const char* startFolder, bool postOrder);

// Advances to the next entry to report; false when the walk is over. Raises
// NestFind_Err_OverNest and NestFind_Err_OverBuf.
bool NestFind_Next(NestFind* walk);

// Returns the current entry's name (its table slot).
const char* NestFind_GetName(NestFind* walk);

// True when the current entry is a folder.
bool NestFind_IsDir(NestFind* walk);

// True when the current entry is a regular file (or a link to one): not a
// folder, FIFO, socket, device, link to a folder or broken link.
bool NestFind_IsRegular(NestFind* walk);

// Returns the current entry's path below the start folder (names of levels 0
// to depth joined by backslashes), built in work.
const char* NestFind_GetRelPath(NestFind* walk);

// Returns base followed by the relative path, built in work. Takes a 260-byte
// scratch buffer (bigstack.h) under its own mark and releases it; raises
// BigStack_Full (281) when the scratch stack has no room for both (the mark is
// released first).
const char* NestFind_GetPath(NestFind* walk);

// Returns the current entry's number in a mixed-radix count whose digits are
// the places on the current path (0-based) and whose radices are the listing
// sizes of levels 0 to depth. When the product of the sizes would pass
// INT32_MAX the deepest levels are dropped until it fits, so GetPos / GetTotal
// stays the fraction of the tree passed. 0 when there is no current entry.
int NestFind_GetPos(NestFind* walk);

// Returns the product of the listing sizes of levels 0 to depth (with the
// same levels dropped as GetPos); 1 when there is no current entry.
int NestFind_GetTotal(NestFind* walk);

// Ends the walk; the process-wide storage is free for the next walk.
void NestFind_End(NestFind* walk);
