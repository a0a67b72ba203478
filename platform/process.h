// Starting programs: the stand-in for WinExec.
//
// A command line is CP932 text split by the Windows rules (below), never by a
// shell. The program and every argument that is a rooted inside path
// (\home\u\out.htm) are turned into native paths (/home/u/out.htm); every
// other argument is only converted to UTF-8. The program is started with
// posix_spawn (searched on PATH when its name has no '/'); the caller does not
// wait for it, and a thread of this module reaps it when it ends, so no
// zombie is left. Thread safety: every function may be called from any thread.
#pragma once

#include <string>
#include <vector>

// The show modes WinExec takes; a program's window is not managed here.
inline constexpr unsigned SW_HIDE = 0;
inline constexpr unsigned SW_SHOWNORMAL = 1;

// Splits a command line into its arguments by the Windows rules:
// - the program name runs to the first blank or tab, or, when it begins with
//   a double quote, to the next double quote (backslashes are plain there);
// - in later arguments double quotes group blanks and are removed; inside a
//   quoted part two double quotes stand for one;
// - 2n backslashes before a double quote give n backslashes and the quote
//   groups; 2n + 1 give n backslashes and a literal quote; backslashes not
//   before a quote are literal (so \home\u stays as it is).
// Shift_JIS-aware: a trail byte 0x5C is never taken for a backslash.
std::vector<std::string> Process_SplitCommandLine(const char* cmdLine);

// Starts argv (native UTF-8; argv[0] searched on PATH when it holds no '/')
// without waiting; the child is reaped when it ends. Returns 0, or the errno
// of the failed start (ENOENT, ENOTDIR, EACCES, ENOEXEC, ...).
int Process_Spawn(const std::vector<std::string>& argv);

// Starts a command line (see the module comment) shown by show (ignored).
// Returns 33 (greater than 31) when the program was started; 0 when the
// system is out of resources; 2 (file not found) for a program that does not
// exist or an empty command line; 3 (path not found) when the program's
// folder does not exist; 11 (bad format) for a file that cannot be run.
int WinExec(const char* cmdLine, unsigned show);
