// File utilities: open-or-report, folder tests, listings, copies and disk data.
//
// Paths are CP932 inside paths of at most 259 bytes plus NUL, with a backslash
// or '/' as separator. Streams are stdio streams; a mode without 'b' is the
// Windows text mode (CR LF on disk, see platform/fs.h).
#pragma once

#include <cstdio>

// Opens path with mode. On failure reports FileX_Err_CannotWriteOpen (362,
// "ファイル "%s" が書きこめません") when the mode holds 'w', otherwise
// FileX_Err_CannotReadOpen (363, "ファイル "%s" が見つかりません"); returns
// nullptr only when that report returns (no error hook installed).
FILE* FileX_Open(const char* path, const char* mode);
