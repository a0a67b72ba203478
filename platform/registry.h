// The registry: keys and values the system reads and writes, kept in a file.
//
// The calls have the shape and the result codes of the Windows registry
// functions the system uses (open, create, query, set, delete a key,
// enumerate sub-keys, close) over four roots: classes root, current user,
// local machine, current configuration. Values are REG_SZ or REG_BINARY
// (REG_DWORD and other types read from a file are kept and given back as
// they are). Key and value names compare without ASCII case, as on Windows; a
// double-byte character is compared exactly (its trail byte is never folded).
// A key path is split at each backslash that is not the trail byte of a
// double-byte character; names and texts are CP932 bytes.
//
// The store is one text file in the .reg format ("REGEDIT4", CR LF lines), by
// default "registry.reg" in $XDG_CONFIG_HOME/tessaly (~/.config/tessaly); the
// environment variable TESSALY_REGISTRY names another file. It is read on
// every call, so two processes see each other's changes. Every change is a
// read-modify-write under an exclusive flock of "<store>.lock", written to a
// temporary file beside the store, flushed to disk and renamed over it: a
// crash leaves the old or the new content, never a part. A store that does
// not exist is seeded first (see Registry_SeedText); a store that does not
// parse gives ERROR_BADDB to every call and is never written over.
//
// Refusals that Windows NT makes and that keep a bad argument from destroying
// data: deleting a key through an empty sub-key name (the key itself, or a
// whole root) and deleting a key that still has sub-keys both give
// ERROR_ACCESS_DENIED; a path with an empty element (a leading, doubled or
// trailing backslash) gives ERROR_BAD_PATHNAME; a name holding CR or LF, which
// the file cannot hold, gives ERROR_INVALID_PARAMETER.
//
// Handles are heap records of this module, freed by RegCloseKey; the roots
// need no closing. Thread safety: every call may be made from any thread;
// one handle must not be closed while another thread uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using DWORD = uint32_t;
using LONG = int32_t;
using BYTE = unsigned char;
using REGSAM = DWORD;

struct Registry_Key;
using HKEY = Registry_Key*;

// The roots. They are not records of the module: no call closes them.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});
inline HKEY const HKEY_CURRENT_CONFIG = reinterpret_cast<HKEY>(uintptr_t{0x80000005});

// Result codes.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;  // no such key or value
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_MORE_DATA = 234;  // the caller's buffer is too small
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_BADDB = 1009;        // the store does not parse
inline constexpr LONG ERROR_CANTREAD = 1012;     // the store cannot be read
inline constexpr LONG ERROR_CANTWRITE = 1013;    // the store cannot be written
inline constexpr LONG ERROR_KEY_DELETED = 1018;  // the handle's key was deleted

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Access rights: a handle opened without KEY_SET_VALUE may not set values.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Dispositions of RegCreateKeyExA.
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens the existing key subKey below key (an empty or null subKey opens key
// itself again) into *result. ERROR_FILE_NOT_FOUND when it does not exist;
// *result is null on any failure.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM sam, HKEY* result);

// Opens subKey below key, making it and every missing key above it first.
// *disposition (when given) tells whether it was made. An empty subKey opens
// key itself. *result is null on any failure.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* cls, DWORD options,
                     REGSAM sam, const void* security, HKEY* result, DWORD* disposition);

// Reads the value name (null or empty: the key's default value). *type (when
// given) receives its type. With data null only *size is set. A REG_SZ value
// is given back with a terminating NUL counted in *size. When *size is too
// small for it: ERROR_MORE_DATA, *size = the bytes needed, data unchanged.
// ERROR_FILE_NOT_FOUND when the value (or the handle's key) does not exist.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);

// Sets the value name (null or empty: the default value) to size bytes of
// data with type. A REG_SZ value keeps the bytes before the first NUL within
// size. ERROR_KEY_DELETED when the handle's key no longer exists;
// ERROR_ACCESS_DENIED when the handle was opened without KEY_SET_VALUE.
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);

// Deletes the key subKey below key with its values. ERROR_ACCESS_DENIED for an
// empty or null subKey and for a key that has sub-keys; ERROR_FILE_NOT_FOUND
// when it does not exist.
LONG RegDeleteKeyA(HKEY key, const char* subKey);

// Deletes one value (null or empty: the default value) of key.
LONG RegDeleteValueA(HKEY key, const char* name);

// Copies the name of the index-th sub-key of key (in the order the keys were
// made) into name[0, *size) with a NUL; *size = its length. ERROR_NO_MORE_ITEMS
// past the last; ERROR_MORE_DATA when *size is too small (name unchanged).
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* size, DWORD* reserved, char* cls,
                   DWORD* clsSize, void* lastWrite);

// Frees a handle; ERROR_INVALID_HANDLE for a null one. A root is left as it is.
LONG RegCloseKey(HKEY key);

// ---- The store itself ----

// The native path of the store file now (TESSALY_REGISTRY, else the default).
std::string Registry_Path();

// The text a new store is seeded with: the "http" registration handed to the
// built-in Launcher service (command xdg-open "%1", execute text %1,
// application Launcher, topic WWW_OpenURL), the shell folders Desktop,
// Personal and Templates from the XDG user folders (inside form; one that
// cannot be named inside is left out), ProgramFilesDir and BitsPerPixel.
std::string Registry_SeedText();

// Points at which a write of the store can be stopped by a test, to show what
// a crash there leaves behind.
enum Registry_WriteStage {
    Registry_Stage_TempHalfWritten,  // half of the new content is in the temporary file
    Registry_Stage_BeforeRename,     // the temporary file is complete, the store still old
};
// Calls hook(stage) at each such point of every later write (null: none).
void Registry_SetWriteHook(void (*hook)(Registry_WriteStage stage));
