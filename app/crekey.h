// The keyword database builder: walks a folder, reads the head of every page
// (title and keywords meta) and writes vark.kwf, one link entry per page.
//
// The line writers take an open IniWriter (components/inifile.h) on the
// database path and only emit lines, in file order: CreKey_WriteHeader once,
// CreKey_WriteLink once per page, then the caller closes the writer. The
// layout and the readers are in kwf.h. Texts are CP932. Write failures are the
// attribute-file writer's (FileX_Err_CannotWrite, 365).
#pragma once

#include <cstdint>
#include <ctime>

struct IniWriter;

// Writes the section head "main", the keys Application "Tessaly!", Version
// 100, bNewFile 0, Base = base, Update = the current time, bCanUpdate 1,
// DispURL "(default)", DispTarget = dispTarget, then the section head "links".
void CreKey_WriteHeader(IniWriter* writer, const char* base, const char* dispTarget);
// The same with Update = updateTime instead of the current time.
void CreKey_WriteHeaderAt(IniWriter* writer, const char* base, const char* dispTarget,
                          time_t updateTime);
// Writes one page line "A = title, keywords, relPath" (each value quoted
// when it holds a comma or a double quote or begins or ends with a blank).
void CreKey_WriteLink(IniWriter* writer, const char* title, const char* keywords,
                      const char* relPath);

// ---- The builder -------------------------------------------------------------

// The progress record of one file, valid only during the callback: path is the
// walk's path buffer (it changes at the next step), count is 1 for the first
// file and 1 more per file (every file counts, page or not), position / total
// is the fraction of the tree already passed (both grow with the tree).
struct CreKey_Progress {
    const char* path;
    int32_t count;
    int32_t position;
    int32_t total;
};

// The progress callback: function(context, progress); its result is ignored.
using CreKey_CallbackFunc = int (*)(void* context, const CreKey_Progress* progress);

// What a build did, for the caller's summary: every page-named file the walk
// reports before a cancel counts once, in pages or in skipped.
struct CreKey_Stats {
    int32_t files;    // files reported by the walk
    int32_t pages;    // link entries written
    int32_t skipped;  // page-named files that got no entry (see CreKey_Skip_*)
};

// Why a page-named file got no entry.
enum CreKey_SkipReason {
    CreKey_Skip_TooLong = 1,  // its path does not fit the 260-byte path form
    CreKey_Skip_NotRegular,   // a FIFO, socket, device, link to a folder, broken link
    CreKey_Skip_Unreadable,   // it cannot be opened
    CreKey_Skip_NotText,      // it holds a byte that text does not (NUL, form feed, ...)
    CreKey_Skip_Database,     // the database being built
};

// Where a build tells each skipped page: onSkip(context, full path, reason),
// with the path valid during the call only.
struct CreKey_SkipSink {
    void (*onSkip)(void* context, const char* path, int reason);
    void* context;
};

// True when name (the last path component) is a page name: its first ".htm",
// compared with ASCII letters folded, begins at its last '.' (a.htm, A.HTML,
// a.htmx are pages; a.htm.bak, a.shtml, a.htm.htm are not).
bool CreKey_IsPageName(const char* name);

// Builds the database dbPath from every page below base: sets *cancel to 0,
// writes the header, walks the folder (files only), calls callback once per
// file and stops after the call that finds *cancel non-zero, reads each page
// (never dbPath itself) and writes its link entry. A page-named entry that is
// not a regular file (FIFO, socket, device, link to a folder) or whose path
// does not fit 255 bytes is counted as skipped without being opened; so is
// the database itself when it bears a page name. Each skipped page goes to
// skipSink when one is given. The progress record's path is the file's whole
// path (for one too long for the walk, longer than the 260-byte form).
//
// Refused before anything is touched, with the previous database as it was:
// a base whose header line could not be read back (Errors_Unofficial, 102);
// a database that is not a regular file, may not be written by the user
// (owner's write bit clear, or no write access) or cannot be resolved (a
// broken link): FileX_Err_CannotWriteOpen (362, "書きこみモードで open でき
// ません。%s" with dbPath); an existing non-empty file that is not one of this
// system's databases, and a build while another one holds the database's
// folder (362, each with its own message naming dbPath; the second build does
// not wait).
//
// The database is written to a new hidden file created exclusively beside it
// (beside the target when dbPath is a symbolic link, which stays a link), with
// the permission bits and group of the previous database; the walk passes it
// over. A finished build forces the file to the disk and renames it over the
// database. A cancelled build discards the new file and leaves the previous
// database as it was; with no previous database, the pages read so far
// become the database. Temp files of builds that died are removed.
//
// A build that ends with an error removes the new file, leaves the previous
// database exactly as it was, and raises the error again: FileX_Err_CannotWrite
// (365, "%s の書きこみに失敗しました。" with dbPath) for a failed write, flush,
// close, sync or rename; FileX_Err_CannotReadOpen (363) when base cannot be
// listed; NestFind_Err_OverNest (9991) and NestFind_Err_OverBuf (9992) from the
// walk, BigStack_Full (281).
// Uses the process-wide scratch stack, frame stack and walk table: only one
// build at a time, and no other user of them on another thread meanwhile.
void CreKey_Build(volatile unsigned char* cancel, const char* base, const char* dbPath,
                  CreKey_CallbackFunc callback, void* context, const char* dispTarget,
                  CreKey_Stats* stats = nullptr, const CreKey_SkipSink* skipSink = nullptr);

// Reads the head of one page and writes its link entry (title, keywords, path
// relative to base) into writer; returns true when an entry was written. A
// relative path that the search's join would take as a drive path or a URL
// (a colon as its second byte, "http:", "file:") is written behind ".\".
// A page that is not text or cannot be opened gets no entry (false). A title
// longer than its 400-byte record is cut at a character boundary; a tag too
// large for the 4096-byte tag pool is passed over; a tag's first 64
// attributes are read. Takes 42532 bytes of the
// scratch stack under one mark, released on every way out. Other errors
// (BigStack_Full, write failures of the entry) are raised again after the
// page is closed and the mark released.
bool CreKey_ReadPage(const char* path, const char* base, IniWriter* writer,
                     int* skipReason = nullptr);

// CreKey_ReadPage reads the usual page's head straight from the bytes of its
// first read (a scan that leaves every page it cannot read exactly so to the
// lexer), and every other page through the lexer. Both readings give a page
// the same entry, or refuse it alike. Turns the first reading on (the
// default) or off for the process, so that tests can compare the two;
// returns the setting it replaces.
bool CreKey_SetHeldScan(bool on);
