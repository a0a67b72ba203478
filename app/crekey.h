// The keyword database builder: walks a folder, reads the head of every page
// (title and keywords meta) and writes vark.kwf, one link entry per page.
//
// The line writers take an open IniWriter (components/inifile.h) on the
// database path and only emit lines, in file order: CreKey_WriteHeader once,
// CreKey_WriteLink once per page, then the caller closes the writer. The
// layout and the readers are in kwf.h. Texts are CP932. Write failures are the
// attribute-file writer's.
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

// What a build did, for the caller's summary.
struct CreKey_Stats {
    int32_t files;    // files reported by the walk
    int32_t pages;    // link entries written
    int32_t skipped;  // page-named files that got no entry (not text, cannot be read)
};

// True when name (the last path component) is a page name: its first ".htm",
// compared with ASCII letters folded, begins at its last '.' (a.htm, A.HTML,
// a.htmx are pages; a.htm.bak, a.shtml, a.htm.htm are not).
bool CreKey_IsPageName(const char* name);

// Builds the database dbPath from every page below base: sets *cancel to 0,
// writes the header, walks the folder (files only), calls callback once per
// file and stops after the call that finds *cancel non-zero, reads each page
// (never dbPath itself) and writes its link entry.
//
// The database is written to a temporary file beside it (dbPath with ".tmp"
// appended, never read as a page either) that takes the database's place when
// the build ends, finished or cancelled (the walk passes it over: it is neither
// counted nor reported); a cancelled build leaves a complete
// database of the pages read so far. A build that ends with an error removes
// the temporary file, leaves the previous database exactly as it was, and
// raises the error again: FileX_Err_CannotWriteOpen (362) when the database
// cannot be written or put in place, NestFind_Err_OverNest (9991) and
// NestFind_Err_OverBuf (9992) from the walk, BigStack_Full (281).
// Uses the process-wide scratch stack, frame stack and walk table: only one
// build at a time, and no other user of them on another thread meanwhile.
void CreKey_Build(volatile unsigned char* cancel, const char* base, const char* dbPath,
                  CreKey_CallbackFunc callback, void* context, const char* dispTarget,
                  CreKey_Stats* stats = nullptr);

// Reads the head of one page and writes its link entry (title, keywords, path
// relative to base) into writer; returns true when an entry was written.
// A page that is not text or cannot be opened gets no entry (false). A title
// longer than its 400-byte record is cut at a character boundary; a tag too
// large for the 4096-byte tag pool is passed over. Takes 42060 bytes of the
// scratch stack under one mark, released on every way out. Other errors
// (BigStack_Full, write failures) are raised again after the page is closed.
bool CreKey_ReadPage(const char* path, const char* base, IniWriter* writer);
