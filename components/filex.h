// File utilities: open-or-report, folder tests, listings, copies and disk data.
//
// Paths are CP932 inside paths of at most 259 bytes plus NUL, with a backslash
// or '/' as separator (see platform/fs.h for how they reach the OS). Streams
// are stdio streams; a mode without 'b' is the Windows text mode (CR LF on
// disk). Drive letters are plain text rules: "C:" alone counts as a folder; on
// Linux the rooted path "\" (the root folder) is the drive root.
//
// Static buffers (one each, so the operations using them are not re-entrant
// and belong to one thread at a time): the search pattern of FileX_FindFirst,
// the 260-byte path buffer of FileX_MkDirs, the 1024-byte block buffer of
// FileX_Copy, FileX_AppendFile and FileX_CopyToStream, the two 256-byte block
// buffers of FileX_Compare. No heap memory is taken here (listings are held by
// the platform layer).
//
// Errors raised (through the error core, to the innermost try frame):
//   FileX_Err_CannotWriteOpen (362) and FileX_Err_CannotReadOpen (363) from
//     FileX_Open and every operation that opens through it;
//   FileX_Err_CannotWrite (365) from FileX_Copy, FileX_AppendFile,
//     FileX_CheckWrite and FileX_CloseWritten;
//   Errors_Unofficial (102, "error") from FileX_GetSize, FileX_NumberedName
//     and FileX_RemoveTree;
//   NestFind_Err_OverNest (9991) / NestFind_Err_OverBuf (9992) from the walk
//     of FileX_RemoveTree;
//   BigStack_Full (281) from FileX_PushDir and the StrX path helpers used.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/fs.h"
#include "platform/textread.h"

struct StrX_Mem;

// A folder listing cursor.
struct FileX_Find {
    intptr_t handle;       // the listing handle; -1 when the first search failed
    Fs_FindData data;      // the current entry: attributes, size, times, name
    unsigned char bFirst;  // set by FileX_FindFirst, cleared by the first FindNext
};

// A drive's geometry; all 0 when it cannot be queried.
struct FileX_DiskInfo {
    uint32_t sectorsPerCluster;
    uint32_t bytesPerSector;
    uint32_t freeClusters;
    uint32_t totalClusters;
};

// Progress of FileX_Copy: (user value, bytes copied so far, total).
using FileX_ProgressFunc = void (*)(void* user, long done, long total);

// ---- What the running system uses ----

// Opens path with mode. On failure reports FileX_Err_CannotWriteOpen (362,
// "ファイル "%s" が書きこめません") when the mode holds 'w', otherwise
// FileX_Err_CannotReadOpen (363, "ファイル "%s" が見つかりません"); returns
// nullptr only when that report returns (no error hook installed).
FILE* FileX_Open(const char* path, const char* mode);

// Checks a stream being written: when it reports an error (a full disk, a
// file-size limit), closes it, sets *stream to nullptr and reports
// FileX_Err_CannotWrite (365, "%s の書きこみに失敗しました。" with path, the
// name the user knows). Returns false then, true when the stream is fine.
bool FileX_CheckWrite(FILE** stream, const char* path);

// Flushes and closes a stream that was written and sets *stream to nullptr;
// a failed write, flush or close reports FileX_Err_CannotWrite (365) as
// FileX_CheckWrite does. Returns true when everything reached the file.
bool FileX_CloseWritten(FILE** stream, const char* path);

// Opens path for reading in text mode through a buffered reader of blockSize
// bytes (platform/textread.h: CR LF read as LF, positions computed from the
// buffer). On failure reports FileX_Err_CannotReadOpen (363, "ファイル "%s"
// が見つかりません") as FileX_Open does for "rt"; returns nullptr only when that
// report returns. The caller closes it with TextRead_Close.
TextRead* FileX_OpenReader(const char* path, int blockSize);

// True when path names an existing folder. One trailing '/' and then one
// trailing backslash are ignored (a 0x5C trail byte is not one); "C:" alone
// (two bytes, ':' second) is true as a drive root, and so is a lone separator
// (the root folder). A path of 260 bytes or more is false.
bool FileX_IsDir(const char* path);

// Returns "(FileName not Recorded)": no name is recorded for a stream or a
// reader.
const char* FileX_GetFileName(FILE* stream);
const char* FileX_GetFileName(const TextRead* reader);

// Returns the size in bytes of the file at path (capped at INT32_MAX). A path
// that cannot be queried reports Errors_Unofficial (102, "error"); -1 when
// the report returns.
int32_t FileX_GetSize(const char* path);

// ---- Listings ----

// Starts a listing of every entry of folder (pattern: folder, a backslash
// unless it ends in one, "*.*"; a folder too long for the 260-byte pattern
// fails the search). The first entry, if any, is in find->data. Returns find.
FileX_Find* FileX_FindFirst(FileX_Find* find, const char* folder);

// First call after FindFirst: true when the search found nothing, otherwise
// false (the first entry is already in find->data). Later calls advance to
// the next entry; true at the end.
bool FileX_FindNext(FileX_Find* find);

// Ends the listing; returns 0, or -1 when the search had failed.
int FileX_FindClose(FileX_Find* find);

// Adds folder, a backslash (unless folder ends in one) and the entry's name to
// the pool for every entry of folder that is not a folder (subfolders are not
// entered); an entry whose path would pass 259 bytes is skipped. Returns how
// many were added. Raises StrX_Err_MemEmpty (3180) when the pool is full.
int FileX_ListFiles(const char* folder, StrX_Mem* pool);

// ---- Comma-separated fields ----

// Reads one field from stream into buf[0, size) (at most size - 1 bytes kept,
// the rest read and dropped; NUL-terminated; size <= 0 keeps nothing). A field
// that starts with a double quote runs to the next lone double quote (a doubled
// quote stands for one; what follows the closing quote up to the field's end is
// dropped); any other field runs to a comma, an LF or the end of the stream.
// The comma or LF that ends the field is consumed. Returns the byte that ended
// the field: ',' (another field follows), '\n' (end of the line) or EOF.
int FileX_ReadCsvField(FILE* stream, char* buf, int size);

// Reads one field as FileX_ReadCsvField and keeps nothing; same result.
int FileX_SkipCsvField(FILE* stream);

// Writes text as one field: wrapped in double quotes with every double quote
// written twice when it holds a comma or a double quote, else as it is.
// Returns the bytes written, or -1 on a write error.
int FileX_WriteCsvField(FILE* stream, const char* text);

// ---- Files ----

// Opens path "rb" through FileX_Open and adds up its first count bytes (fewer
// when the file is shorter), byte k shifted left by k mod 7 bits, in 32 bits.
int32_t FileX_GetHash(const char* path, int count);

// Reads path's modification time (0 when it cannot be read), returns whether
// it equals *lastTime, and stores it in *lastTime.
bool FileX_CheckTime(const char* path, time_t* lastTime);

// Writes into buf (260 bytes) a name for a temporary file in the root folder
// with prefix, as the run-time's _tempnam gives it (the folder named by TMP
// or TMPDIR first, see Fs_TempName); empty when none can be made.
void FileX_TempName(const char* prefix, char* buf);

// Writes into buf (260 bytes) the first name "<folder>\<base><n>", n = 1, 2,
// 3 ..., that does not exist, and returns n. folder is path when path is a
// folder, else path's folder part (a path with no folder part gives names in
// the current folder: "<base><n>"); no backslash is doubled. Raises
// Errors_Unofficial (102, "error") and returns -1 when the name does not fit.
int FileX_NumberedName(const char* base, const char* path, char* buf);

// Compares two files: -3 both missing, -1 only the first missing, -2 only the
// second missing; otherwise 1 at the first difference in length or content,
// 0 when equal (read "rb" in 256-byte blocks).
int FileX_Compare(const char* path1, const char* path2);

// Copies source from offset up to end (-1: the end of the source; -2: as much
// as fits: the free space of the destination's file system plus what the
// destination takes now in whole clusters plus offset) into destination,
// making its folders first (FileX_MkDirs). The source is opened "rb" before
// the destination "wb", so a missing source (363) leaves the destination as
// it was. Copies in 1024-byte blocks, never past end; calls progress(user,
// done, total) before the first block and after each (progress may be null;
// total = max(source size, end) - offset). A short write or a failed flush
// closes both files, deletes the destination and reports FileX_Err_CannotWrite
// (365, "%s の書きこみに失敗しました。" with the destination). Returns the
// bytes copied.
long FileX_Copy(const char* destination, const char* source, long offset, long end,
                FileX_ProgressFunc progress, void* user);

// True when folder may never be removed by FileX_RemoveTree: an empty path,
// the root folder, the user's home folder itself, the system's own folders
// (/bin /boot /dev /etc /home /lib /lib32 /lib64 /libx32 /media /mnt /opt
// /proc /root /run /sbin /snap /srv /sys /tmp /usr /var and their Windows
// counterparts: %windir%, the system folder), compared without ASCII case
// after making the path absolute and, where it exists, resolving its links.
bool FileX_IsProtectedFolder(const char* folder);

// Removes folder with everything below it. Refuses a protected folder
// (FileX_IsProtectedFolder) by reporting Errors_Unofficial (102, "error")
// before touching anything. Returns -1 when folder does not exist or is itself
// a symbolic link (nothing is removed through a link). Otherwise
// walks it in post-order (nestfind.h), removing each folder after its contents
// and each file after setting it readable and writable (0600; a symbolic link
// is removed itself, never followed), then removes folder and returns that
// result (0 on success, -1 when something could not be removed).
int FileX_RemoveTree(const char* folder);

// Appends source ("rb") to destination ("ab") in 1024-byte blocks. A short
// write reports FileX_Err_CannotWrite (365) after closing both.
void FileX_AppendFile(const char* destination, const char* source);

// Copies the file at path to stream in 1024-byte blocks, opened "rt" with its
// second letter replaced by modeLetter ('t' or 'b').
void FileX_CopyToStream(FILE* stream, const char* path, char modeLetter);

// Makes every missing folder of path: the path made absolute against the
// current folder (StrX_AbsPathCwd, 259 bytes), its last element dropped when
// isFile, one trailing separator removed; each prefix ending before a
// separator after the drive part or a leading separator is made when it is
// not a folder. Finally makes the whole (folder) path and returns that result
// (0 made, -1 not made, also when it already existed).
int FileX_MkDirs(const char* path, bool isFile);

// Rewrites the file path in place to the same name in the sub-folder "backup"
// of its folder (StrX_MoveToFolder). Returns path.
char* FileX_BackupPath(char* path);

// Takes a 260-byte scratch buffer (BigStack_Sys(), under the caller's mark),
// stores the current folder there and *saved = it, then changes to path, or to
// its folder part when path is not a folder.
void FileX_PushDir(char** saved, const char* path);

// Changes back to the folder stored by FileX_PushDir; 0 on success, -1 otherwise.
int FileX_PopDir(char** saved);

// ---- Disks ----

// Sets all four fields to 0. Returns info.
FileX_DiskInfo* FileX_DiskInfo_Clear(FileX_DiskInfo* info);

// Fills info for the file system holding root (the block is the cluster);
// returns 1, or 0 with info cleared when it cannot be queried.
int FileX_DiskInfo_Get(FileX_DiskInfo* info, const char* root);

// sectors per cluster x bytes per sector x free clusters, capped at INT32_MAX.
int32_t FileX_DiskInfo_FreeBytes(const FileX_DiskInfo* info);

// sectors per cluster x bytes per sector x total clusters, capped at INT32_MAX.
int32_t FileX_DiskInfo_TotalBytes(const FileX_DiskInfo* info);

// 0 for a missing file; else its size rounded up to whole clusters (a file
// when the cluster size is 0: its size), capped at INT32_MAX.
int32_t FileX_DiskInfo_FileBytes(const FileX_DiskInfo* info, const char* path);
