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
// Listings (Fs_FindFirst) come back sorted by name and leave out every native
// name that cannot be named inside (no CP932 form, not the same name after a
// round trip, a backslash in it, or more than 259 bytes in CP932). A symbolic
// link to a folder is listed as not a folder; a link to a file reads like the
// file.
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

// Returns the native (UTF-8, '/'-separated) form of an inside path.
std::string Fs_ToNative(std::string_view inside);

// Returns the inside form of a native path; *exact is set false when a name
// has no CP932 form, does not come back to the same native name, or holds a
// backslash (such a name cannot be named inside).
std::string Fs_FromNative(std::string_view native, bool* exact = nullptr);

// ---- Streams and files ----

// Opens the file named by an inside path with an fopen mode; text mode unless
// the mode holds 'b' ('t' is accepted and dropped). A text-mode stream is
// unbuffered, so ftell and fseek are exact raw file positions, as on Windows.
// Returns nullptr when the file cannot be opened.
FILE* Fs_Open(const char* insidePath, const char* mode);

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
    bool readOnly;  // the owner may not write
};

// Fills *st for a path; false (and *st cleared) when the path cannot be queried.
bool Fs_Stat(const char* insidePath, Fs_StatData* st);

// True when the path itself is a symbolic link (not followed).
bool Fs_IsLink(const char* insidePath);

// Copies into out[0, size) the inside form of the path made absolute with
// every link, "." and ".." resolved (realpath). False (out empty) when the
// path does not exist, its real path cannot be named inside or does not fit.
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
// it is unknown, cannot be named inside or does not fit.
bool Fs_HomeDir(char* out, size_t size);

// Makes a name for a temporary file "<folder>\<prefix><6 characters>" that
// does not exist now, into out[0, size) (inside form); the file is not made.
// As the run-time's _tempnam: the folder named by TMP or TMPDIR is used when
// it is a writable folder, else the given folder when it is, else /tmp.
// Returns false (out empty) when no name fits or none can be found.
bool Fs_TempName(const char* folder, const char* prefix, char* out, size_t size);

// ---- Listings ----

// Attribute bits of a listing entry, as the run-time's find record has them.
inline constexpr uint32_t Fs_Attr_ReadOnly = 0x01;
inline constexpr uint32_t Fs_Attr_Hidden = 0x02;  // a name beginning with '.'
inline constexpr uint32_t Fs_Attr_SubDir = 0x10;

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
