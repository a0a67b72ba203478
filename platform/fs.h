// The one door to the file system.
//
// Inside the system a path is CP932 text with backslash separators; a Linux
// absolute path /home/u/pages is \home\u\pages inside. This module turns an
// inside path into a native one (each backslash that is not a trail byte
// becomes '/', then CP932 -> UTF-8) and back, and makes every file, folder and
// disk call of the system. '/' is accepted as a separator inside as well.
//
// Streams opened without 'b' in the mode behave as the Windows run-time's text
// mode: every LF written becomes CR LF on disk, and a CR LF read arrives as LF
// (a bare LF arrives as it is).
//
// Listings (Fs_FindFirst) come back sorted by name and leave out only a native
// name whose inside form (see Names) passes 259 bytes. A symbolic
// link to a folder is listed as not a folder; a link to a file reads like the
// file. A file opened is never a FIFO or socket, nor a device when it is
// opened for reading only, and no open waits, so nothing waits for a writer,
// a reader or a terminal.
//
// Results that go into a caller's buffer are cut to its size: at most size - 1
// bytes and a NUL (nothing when size is 0), never inside a double-byte
// character. This module may allocate; the handles of listings are its own.
// Thread safety: all functions may be called from any thread (the current
// folder is one for the whole process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// ---- Names ----
//
// Every native path has an inside form, and it reads back. A name whose
// characters all have an exact CP932 form (CodePage_ExactSjisChar) and that
// holds no '%', backslash or control character is those CP932 bytes. Any
// other byte of a native name is written "%XX", the byte in two upper-case
// hexadecimal digits: the bytes of a character with no exact form, every
// byte beyond ASCII of a name that is not UTF-8, a control character (0x01 to
// 0x1F, 0x7F), a backslash and '%' itself. So no two native paths share an
// inside form, an inside path is one line, and it is also a valid URL path.
//
// Reading an inside path, "%" and two hexadecimal digits (either case) stand
// for that byte, except "%00" and "%2F": no native name holds a NUL or a '/'.
// A '%' that begins no escape stands for itself (an old database or a typed
// path may hold one).

// Returns the native (UTF-8, '/'-separated) form of an inside path: escapes
// decoded, each backslash that is not a trail byte a '/', the rest CP932 ->
// UTF-8.
std::string Fs_ToNative(std::string_view inside);

// Returns the inside form of a native path (each '/' a backslash).
std::string Fs_FromNative(std::string_view native);

// Returns the byte that the escape at inside[at] stands for, or -1 when no
// escape begins there (not '%', fewer than two hexadecimal digits after it,
// or "%00" / "%2F").
int Fs_EscapeAt(std::string_view inside, size_t at);

// ---- Streams and files ----

// Opens the file named by an inside path with an fopen mode; text mode unless
// the mode holds 'b' ('t' is accepted and dropped). A text-mode stream is
// unbuffered, so ftell and fseek are exact raw file positions, as on Windows.
// A read-only mode ("r", "rt", "rb") opens without waiting and refuses what
// is not a regular file or a folder (errno ENXIO); a writing mode ("w", "a",
// "r+", with 'x' for a new file only) opens without waiting and refuses a
// FIFO, socket or block device (ENXIO) before anything is truncated or
// written (a character device such as /dev/null is written to). New files get
// 0666 less the umask. Returns nullptr when the file cannot be opened.
FILE* Fs_Open(const char* insidePath, const char* mode);
// Opens the file named by an inside path for reading as a raw descriptor, as
// a read-only Fs_Open does: without waiting, refusing what is not a regular
// file or a folder (errno ENXIO). Returns -1 when it cannot be opened. *size
// (when size is given) gets a regular file's size at the open, -1 for a
// folder. A regular file's descriptor may keep O_NONBLOCK, which its reads
// ignore; a folder's is cleared.
int Fs_OpenReadFd(const char* insidePath, int64_t* size = nullptr);
// Between these, Fs_OpenReadFd on this thread keeps a descriptor of the
// folder of the last file it opened by an absolute path and opens a file of
// the same folder relative to it, so that a walk reading the files of a folder in turn has
// the whole path looked up once per folder, not once per file. What is
// opened is what the whole path opens, but for a folder replaced or moved
// while it is kept: a name it still holds is read from it, the folder as it
// was found, and any other name is looked for by the whole path. Holds nest;
// the last end closes the descriptor. Fs_FolderReads holds for its lifetime.
void Fs_BeginFolderReads();
void Fs_EndFolderReads();
struct Fs_FolderReads {
    Fs_FolderReads() { Fs_BeginFolderReads(); }
    ~Fs_FolderReads() { Fs_EndFolderReads(); }
    Fs_FolderReads(const Fs_FolderReads&) = delete;
    Fs_FolderReads& operator=(const Fs_FolderReads&) = delete;
};

// Removes a file (not a folder); returns 0 on success, -1 otherwise.
int Fs_Remove(const char* insidePath);

// Renames (moves) a file or folder; returns 0 on success, -1 otherwise.
int Fs_Rename(const char* oldInside, const char* newInside);

// Sets the permission bits (POSIX octal, such as 0600) of a file or folder;
// returns 0 on success, -1 otherwise.
int Fs_Chmod(const char* insidePath, int mode);

// Access modes of Fs_Access, as the run-time's _access takes them.
inline constexpr int Fs_Access_Exist = 0;
inline constexpr int Fs_Access_Write = 2;
inline constexpr int Fs_Access_Read = 4;
inline constexpr int Fs_Access_ReadWrite = 6;

// Tests a path: 0 when it exists and allows the access mode, -1 otherwise.
int Fs_Access(const char* insidePath, int mode);

// The status of a path (links followed).
struct Fs_StatData {
    int64_t size;   // bytes; 0 for a folder
    int64_t mtime;  // modification time, seconds since the epoch
    int64_t atime;  // last access
    int64_t ctime;  // last status change
    bool isDir;     // a folder (also a link to one)
    bool isFile;    // a regular file (also a link to one)
    bool readOnly;  // the owner may not write
};

// Fills *st for a path; false (and *st cleared) when the path cannot be queried.
bool Fs_Stat(const char* insidePath, Fs_StatData* st);

// True when both paths name one existing file (same device and inode, links
// followed).
bool Fs_SameFile(const char* insideA, const char* insideB);

// True when the path itself is a symbolic link (not followed).
bool Fs_IsLink(const char* insidePath);

// Copies into out[0, size) the inside form of the path made absolute with
// every link, "." and ".." resolved (realpath). False (out empty) when the
// path does not exist or its real path does not fit.
bool Fs_RealPath(const char* insidePath, char* out, size_t size);

// ---- Folders ----

// Makes one folder (mode 0777 less the umask); returns 0 on success, -1 otherwise.
int Fs_MkDir(const char* insidePath);

// Removes one empty folder; returns 0 on success, -1 otherwise. A symbolic
// link is not removed through this call.
int Fs_RmDir(const char* insidePath);

// ---- Process paths ----

// Copies the current folder in inside form into out[0, size), cut (see the
// module comment). Empty when the folder is unknown.
void Fs_GetCwd(char* out, size_t size);

// Makes the folder named by an inside path current; false when it cannot.
bool Fs_SetCwd(const char* inside);

// Copies the running executable's full path (from /proc/self/exe) in inside
// form into out[0, size), cut. Empty when it cannot be read.
void Fs_GetExePath(char* out, size_t size);

// Copies the user's home folder in inside form (from HOME, else the password
// database; no trailing separator) into out[0, size). False (out empty) when
// it is unknown or does not fit.
bool Fs_HomeDir(char* out, size_t size);

// Makes a name for a temporary file "<folder>\<prefix><6 characters>" that
// does not exist now, into out[0, size) (inside form); the file is not made.
// As the run-time's _tempnam: the folder named by TMP or TMPDIR is used when
// it is a writable folder, else the given folder when it is, else /tmp.
// Returns false (out empty) when no name fits or none can be found.
bool Fs_TempName(const char* folder, const char* prefix, char* out, size_t size);

// Calls onFile(context, name, path) for every file below the folder
// insideFolder (its whole inside form, of any length: a folder too deep for
// the 260-byte form), found through the native path; name and path are inside
// forms, path of any length. Folders are not reported; a link to a folder is
// reported as a file and not followed. Returns false when the folder cannot
// be read (nothing is reported then).
bool Fs_ForEachFileBelow(const std::string& insideFolder,
                         void (*onFile)(void* context, const char* name, const char* path),
                         void* context);

// ---- Listings ----

// Attribute bits of a listing entry, as the run-time's find record has them.
inline constexpr uint32_t Fs_Attr_ReadOnly = 0x01;
inline constexpr uint32_t Fs_Attr_Hidden = 0x02;  // a name beginning with '.'
inline constexpr uint32_t Fs_Attr_SubDir = 0x10;
// Neither a regular file nor a folder: a FIFO, socket or device, a link to a
// folder, a broken link. Such an entry must not be opened as a file.
inline constexpr uint32_t Fs_Attr_Device = 0x40;
// Only in kindsOnly listings: the name's inside form passes 259 bytes (a long
// name of characters written %XX). The entry's name is then a shortened form
// for messages, its head, "..." and its extension, which names no file.
inline constexpr uint32_t Fs_Attr_NameTooLong = 0x100;

// One listing entry; the shape of the run-time's find record.
struct Fs_FindData {
    uint32_t attrib;     // Fs_Attr_* bits
    int64_t timeCreate;  // status change time (Linux keeps no creation time)
    int64_t timeAccess;
    int64_t timeWrite;
    int64_t size;    // bytes; 0 for a folder or a link to one
    char name[260];  // CP932, NUL-terminated, at most 259 bytes
};

// Starts a listing. pattern is an inside path whose last element may hold the
// wildcards '*' and '?' (ASCII letters matched without case; "*" and "*.*"
// match every name). The folder's entries, "." and ".." first and then the
// rest sorted by name (CP932 bytes, ASCII letters compared without case), are
// read at once. Fills *data with the first matching entry and returns a handle
// (not -1); returns -1 when the folder cannot be read or nothing matches.
intptr_t Fs_FindFirst(const char* pattern, Fs_FindData* data);

// What Fs_FindFirstMax found.
inline constexpr int Fs_List_Ok = 0;       // the whole folder was read
inline constexpr int Fs_List_Cannot = 1;   // the folder cannot be read (-1 returned)
inline constexpr int Fs_List_OverMax = 2;  // more than maxEntries names: the listing is cut

// Fs_FindFirst that stops reading the folder once more than maxEntries names
// other than "." and ".." match: the listing then holds those names only
// (sorted) and *state is Fs_List_OverMax. *state tells a folder that cannot
// be read (Fs_List_Cannot) from one where nothing matches (Fs_List_Ok, -1).
// With kindsOnly the entries tell only what they are (Fs_Attr_SubDir,
// Fs_Attr_Device, Fs_Attr_Hidden; size and times 0) where the folder itself
// says so, which spares a look-up per entry; links are still followed as above.
// A kindsOnly listing also holds the names too long for an entry, marked
// Fs_Attr_NameTooLong, so that a walk can count and report them; other
// listings leave them out.
intptr_t Fs_FindFirstMax(const char* pattern, Fs_FindData* data, size_t maxEntries, int* state,
                         bool kindsOnly = false);

// Fills *data with the next entry of the listing; returns 0, or -1 at the end.
int Fs_FindNext(intptr_t handle, Fs_FindData* data);

// Ends a listing and frees its handle; returns 0, or -1 for the handle -1.
int Fs_FindClose(intptr_t handle);

// The comparison of listing order: CP932 bytes as unsigned values, ASCII
// letters folded to upper case; names equal that way compare by raw bytes.
int Fs_CompareNames(const char* a, const char* b);

// ---- Disks ----

// A disk's geometry as the run-time reports it: the file system's block is
// the cluster; each field is capped at 0xFFFFFFFF.
struct Fs_DiskGeometry {
    uint32_t sectorsPerCluster;
    uint32_t bytesPerSector;
    uint32_t freeClusters;  // clusters a normal user may still take
    uint32_t totalClusters;
};

// Fills *geo for the file system that holds the path (statvfs); false (and
// *geo cleared) when it cannot be queried.
bool Fs_GetDiskGeometry(const char* insidePath, Fs_DiskGeometry* geo);

// ---- Replacing a file safely ----
//
// A file the system writes whole (the keyword database) is written to a new
// hidden file beside it and put in its place by a rename, so a fault, a full
// disk or a killed process leaves the old file or the new one, never a mix.

// Copies into out[0, size) the path that replacing insidePath must write:
// the target of a symbolic link (resolved whole), else insidePath itself.
// False (out empty) for a broken link or a target that does not fit.
bool Fs_ReplaceTarget(const char* insidePath, char* out, size_t size);

// Locks the folder of insidePath against a second replacer (an advisory lock
// on the folder, held until Fs_Unlock or the end of the process, whatever
// ends it). Never waits. Returns the lock (0 or more), Fs_Lock_Busy when
// another holder has it, or Fs_Lock_Cannot when the folder cannot be opened.
inline constexpr int Fs_Lock_Cannot = -1;
inline constexpr int Fs_Lock_Busy = -2;
int Fs_LockFolder(const char* insidePath);
// Releases a lock of Fs_LockFolder (a negative value is ignored).
void Fs_Unlock(int lock);

// Removes every file of insidePath's folder named as Fs_CreateTemp names the
// new files for insidePath: the leftovers of replacers that died. Call it
// only under Fs_LockFolder. Returns how many were removed.
int Fs_RemoveStaleTemps(const char* insidePath);

// True when name (a last path component) is one Fs_CreateTemp gives the new
// files of target (an inside path): "." + target's name + ".XXXXXX.tmp".
bool Fs_IsTempOf(const char* name, const char* target);

// Creates a new file beside target, exclusively (O_CREAT|O_EXCL|O_NOFOLLOW:
// never through a link, never an existing file) under a unique hidden name,
// and opens it for writing with mode (text unless it holds 'b'). It is made
// readable and writable by its owner alone; when target exists, it then takes
// target's group, and last its permission bits (else 0666 less the umask). The new file's
// inside path goes into tempOut[0, size) and is remembered for
// Fs_RemovePendingTemp until Fs_CommitTemp or Fs_DiscardTemp. Returns nullptr
// (tempOut empty) when it cannot be made.
FILE* Fs_CreateTemp(const char* target, const char* mode, char* tempOut, size_t size);

// Puts the closed temp file in target's place: its data is forced to the disk,
// it is renamed over target, and the folder is forced to the disk. Returns 0,
// or -1 (errno set) when a step fails: before the rename the temp file is
// still there and target untouched; a folder that cannot be forced to the
// disk after the rename leaves the new file in place.
int Fs_CommitTemp(const char* temp, const char* target);

// Removes the temp file and forgets it; returns Fs_Remove's result.
int Fs_DiscardTemp(const char* temp);

// Removes the temp file being written, if any. Safe in a signal handler.
void Fs_RemovePendingTemp();

// ---- Faults for tests ----

// A test's fault: called with an operation name ("list", "create", "sync",
// "rename", "lock", "name" with each name a temp file is about to be made
// under, "created" once it is made, before its group and mode are set, and
// "mode" before its final mode is set) and the native path it works on; a
// non-zero result is an errno value that makes the operation fail as the
// system would (a temp file that fails after it was made is removed).
using Fs_FaultFunc = int (*)(const char* op, const char* nativePath);
// Installs hook (nullptr removes it); returns the one it replaces.
Fs_FaultFunc Fs_SetFaultHook(Fs_FaultFunc hook);
