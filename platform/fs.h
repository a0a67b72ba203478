// The one door to the file system.
//
// Inside the system a path is CP932 text with backslash separators; a Linux
// absolute path /home/u/pages is \home\u\pages inside. This module turns an
// inside path into a native one (each backslash that is not a trail byte
// becomes '/', then CP932 -> UTF-8) and back, and opens streams.
//
// Streams opened without 'b' in the mode behave as the Windows run-time's text
// mode: every LF written becomes CR LF on disk, and a CR LF read arrives as LF
// (a bare LF arrives as it is).
// Thread safety: all functions may be called from any thread.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Returns the native (UTF-8, '/'-separated) form of an inside path.
std::string Fs_ToNative(std::string_view inside);

// Returns the inside form of a native path; *exact is set false when a name
// has no CP932 form or holds a backslash (such a name cannot be named inside).
std::string Fs_FromNative(std::string_view native, bool* exact = nullptr);

// Opens the file named by an inside path with an fopen mode; text mode unless
// the mode holds 'b'. Returns nullptr when the file cannot be opened.
FILE* Fs_Open(const char* insidePath, const char* mode);

// Removes a file; returns 0 on success, -1 otherwise.
int Fs_Remove(const char* insidePath);
