// StrX, upper half: string pools and sets, relative paths, path parts, time
// text, and small conversions.
//
// These sit above the plain string and path operations of strx.h. All texts
// are NUL-terminated CP932 byte strings in caller-owned buffers; where an
// operation is multi-byte aware it never takes the trail byte of a
// double-byte character for a separator. Separators are the backslash and
// '/' unless a contract says otherwise. Path buffers hold 260 bytes.
//
// Memory: nothing here takes heap memory (the listings of StrX_LongPath and
// StrX_Args_Get are the file-system layer's, which may). StrX_Mem and
// StrX_Set work in blocks their callers own; a few operations take a scratch
// buffer from BigStack_Sys() under a mark they release before returning and
// before any report; a scratch stack too full for the mark and the buffer
// raises BigStack_Full (281) before a mark is set. Static buffers (so those operations are not
// re-entrant and belong to one thread at a time): the relative-path work buffer (StrX_RelPath and
// everything built on it), the link work buffer of StrX_RelLink, the file-name buffer of
// StrX_MoveToFolder, the format buffer of StrX_FormatTime, the results of StrX_BuildDateText,
// StrX_NowText and StrX_NowFormat, and the locale flag of StrX_InitLocale.
//
// Errors raised (through the error core, to the innermost try frame):
// StrX_Err_MemEmpty (3180) by a full pool, Errors_Unofficial (102) by the
// list operations and StrX_ReplaceBase on output overflow. Every other
// bounded operation cuts to its size and reports nothing.
#pragma once

#include <cstddef>
#include <ctime>

// ---- String pool ---------------------------------------------------------

// A string pool over a caller block: strings are appended one after another,
// each with its NUL, and cleared only as a whole. start[0] is always an empty
// sentinel string; the first string lives at start + 1.
struct StrX_Mem {
    char* start;  // first byte of the block
    char* end;    // one past the last byte of the block
    char* last;   // start of the most recent string; start while empty
};

// Binds the pool to [block, block + size): start = last = block, end = block
// + size, block[0] = NUL (nothing is written when size is 0; such a pool is
// full from the start).
void StrX_Mem_Init(StrX_Mem* mem, char* block, size_t size);
// Empties the pool: last = start, start[0] = NUL. Returns mem.
StrX_Mem* StrX_Mem_Clear(StrX_Mem* mem);
// Starts a new empty string one byte after the NUL of the last string and
// returns it; it becomes last. When it would begin at or beyond end, last is
// still moved there (at most to end), nothing is written, and
// StrX_Err_MemEmpty (3180, "アプリ内部のメモリ領域が足りません") is raised; if
// the report returns (no hook), the result is end and must not be written.
// Only Clear or Init make a full pool usable again.
char* StrX_Mem_Alloc(StrX_Mem* mem);
// Returns the bytes free after the last string's NUL: 0 when last is at end,
// otherwise end - last - strlen(last) - 1 (never below 0). A string just
// taken by Alloc may hold this many bytes, text and NUL.
int StrX_Mem_Left(const StrX_Mem* mem);
// Allocs and copies text, cut to StrX_Mem_Left - 1 bytes when it is not
// shorter than StrX_Mem_Left (the cut is byte-wise); returns the copy.
// Raises as StrX_Mem_Alloc.
char* StrX_Mem_Add(StrX_Mem* mem, const char* text);
// Returns the last string when it equals text; otherwise StrX_Mem_Add (also
// on an empty pool, whose sentinel is never returned).
char* StrX_Mem_AddIfNew(StrX_Mem* mem, const char* text);
// As StrX_Mem_AddIfNew, but when equal the text is copied over the last string.
char* StrX_Mem_AddOrSet(StrX_Mem* mem, const char* text);
// Walks the pool: nullptr gives the first string (nullptr for an empty pool),
// a string before last gives the string after it, last gives nullptr.
char* StrX_Mem_Next(const StrX_Mem* mem, const char* str);
// Drops the last string (an empty pool stays empty): last moves back to the
// start of the string before it, so the next Alloc reuses the dropped bytes
// and Next and AddIfNew see the previous string as last. Returns mem.
StrX_Mem* StrX_Mem_DropLast(StrX_Mem* mem);
// Debug display: "StrX_Mem:", then "  %s" per string.
void StrX_Mem_Dump(const StrX_Mem* mem);

// ---- Relative paths --------------------------------------------------------

// Rewrites the absolute path in place as a path relative to the base folder
// (which may end in a separator or not); letters compare without ASCII case,
// double-byte characters compare exactly, and '\' and '/' match each other.
// Examples against C:\home\site: C:\home\site\travel\kyoto.htm ->
// travel\kyoto.htm; C:\home\other\a.htm -> ..\other\a.htm; C:\home\site\ ->
// .\ ; D:\x\y.htm -> D:..\..\x\y.htm. A path with a drive letter against a
// base with none loses its drive part; a path without drive against a base
// with one gives the empty string; an empty path stays empty. A result that
// would be empty is "." (".\" or "./" when the path ended in a separator).
// When path and base share no separator: two relative paths are taken as
// lying in one folder (base "a\b", path "x\y" -> ..\..\x\y); when only one of
// them starts with a separator the path is left as it is (less a skipped
// drive part). Never writes more than limit bytes: no "..\" group is written
// unless it and a NUL fit, and the rest of the path is cut (at a character
// boundary) to leave room for the NUL. A limit of 0 or less leaves path
// untouched. Uses the static relative-path work buffer (512 bytes; a longer
// path is cut to 511).
char* StrX_RelPath(char* path, int limit, const char* base);

// ---- Path parts --------------------------------------------------------------

// Cuts path in place to its folder: drops one trailing separator, then cuts at
// the last separator (multi-byte aware). The separator stays when it follows a
// drive letter and colon (C:\a -> C:\) or is the path's first byte (\a -> \);
// a path without separator becomes empty. Returns path.
char* StrX_CutFileName(char* path);
// Copies path to out (unbounded: out holds 260 bytes for a path of at most
// 259; out may be path), then StrX_CutFileName. Returns out.
char* StrX_GetFolder(char* out, const char* path);

// The same element as StrX_GetFileName, as a pointer into path (path is not
// changed; for a path ending in a backslash the text there still ends in it).
char* StrX_GetFileNamePtr(const char* path);
// Copies the last element of path into out (only the backslash separates;
// multi-byte aware): the text after the last backslash; for a path ending in a
// backslash, the element before it without the backslash; a path without
// backslash whole. out holds 260 bytes for a path of at most 259. Returns out.
char* StrX_GetFileName(char* out, const char* path);
// Joins part to path in place: when path is not empty and part has no drive
// letter, a backslash unless path ends in one, then part; otherwise part
// replaces path. No bound: path needs room for the result. Returns path.
char* StrX_JoinPath(char* path, const char* part);
// Puts the file name of path (StrX_GetFileName) into folder, in place: a
// folder starting with a separator or a drive letter is used as it is; a
// relative one is joined to the path's own folder and its dot steps resolved
// (StrX_CleanDots). Uses the static file-name buffer (260 bytes). No bound:
// path needs room for the result. Returns path.
char* StrX_MoveToFolder(char* path, const char* folder);
// Returns the text after the last '.' of the whole path, or its end (the NUL)
// when it has none.
char* StrX_GetExt(const char* path);
// Replaces the text after the last '.' of path by ext, or appends '.' and ext
// when path has none. No bound. Returns path.
char* StrX_SetExt(char* path, const char* ext);
// Rebuilds path into out (260 bytes; out may be path) element by element, each
// element named as the file system lists it (the first entry a listing of the
// path up to that element matches; letters match without ASCII case); an
// element that matches nothing is kept as written. The part up to the first
// separator is copied unchanged; a path without separator is copied whole. The
// result is cut to 259 bytes at a character boundary. Takes scratch buffers.
// Returns out.
char* StrX_LongPath(char* out, const char* path);

// ---- Relative paths over files and lists -----------------------------------

// StrX_RelPath against the folder of baseFile (StrX_GetFolder into a 260-byte
// scratch buffer). Returns path.
char* StrX_RelPathToFile(char* path, int limit, const char* baseFile);
// Makes a link relative to baseFile, in place: a link file#anchor whose part
// before the '#' equals the start of baseFile, with baseFile ending there or
// going on with '#', becomes "#anchor"; a link that begins with '#' stays as
// it is; any other link is made relative to the folder of baseFile
// (StrX_RelPath with limit). Uses the static 260-byte link work buffer.
// Returns link.
char* StrX_RelLink(char* link, int limit, const char* baseFile);
// Joins the elements of the comma-separated list (StrX_GetField, 260 bytes
// each, ending at the first empty element) into out with ", ", each made
// absolute against the folder of baseFile (StrX_AbsPathOfFile). An empty first
// element gives the empty string. When the result does not fit out[0, size),
// out keeps the elements that fit and Errors_Unofficial (102, "error") is
// raised. Takes a 260-byte scratch buffer (released before raising). Returns out.
char* StrX_PathList(char* out, const char* list, int size, const char* baseFile);
// As StrX_PathList, each element made relative to the folder of baseFile
// (StrX_RelPathToFile with 260 bytes).
char* StrX_RelPathList(char* out, const char* list, int size, const char* baseFile);
// Writes into out[0, size): newFolder, a backslash unless it ends in one, then
// path after oldFolder (matched without ASCII case) and the separator that
// follows it. Raises Errors_Unofficial (102, "error") when the result does not
// fit (out then holds what fits) or when path does not lie in oldFolder
// (it does not begin with it at a folder boundary; out empty). Returns out.
char* StrX_ReplaceBase(const char* path, const char* oldFolder, const char* newFolder, char* out,
                       int size);

// ---- Time text ---------------------------------------------------------------
//
// Times are calendar times in seconds (time_t), shown as local time; daylight
// saving is left to the run-time. Formats are those of strftime, with the
// Windows run-time's forms on top: "%n" is the English three-letter month
// name (StrX_FormatTime only); '#' after '%' drops leading zeros from
// %d %H %I %j %m %M %S %U %w %W %y %Y; %#c and %#x are the long forms
// "%A, %B %d, %Y %H:%M:%S" and "%A, %B %d, %Y"; '#' before any other
// conversion is ignored. Everything else follows the platform's strftime in
// the user's locale (so "%c", and the names of %a %A %b %B, are the
// platform's, in the locale's own bytes).

// On its first call only: sets the run-time locale of all categories to the
// user's default ("") and reads the time-zone settings (tzset). Every time
// operation below calls it first.
void StrX_InitLocale();
// Writes t as local time "%Y/%m/%d-%H:%M:%S" (e.g. 2000/03/30-23:01:01) into
// out (20 bytes; empty when it does not fit). Returns out.
char* StrX_TimeToText(time_t t, char* out);
// Reads six integers (year, month, day, hour, minute, second), each followed by
// one separator byte of any kind (the NUL ends the text instead), and
// StrX_MakeTime. Returns its result: 0, or 1 with *t unchanged.
int StrX_TextToTime(time_t* t, const char* text);
// Converts local time (month 1-12; out-of-range fields are carried as mktime
// does; daylight saving decided by the run-time) into *t. Returns 0, or 1 when
// the run-time cannot convert it (*t is not written); a conversion that yields
// -1 counts as failed. In the hour a fall-back repeats, which of the two times
// is taken is the run-time's choice.
int StrX_MakeTime(time_t* t, int year, int month, int day, int hour, int minute, int second);
// Formats local t into out[0, size) with format: every "%n" is first replaced by
// the month name (Jan ... Dec) in the static 100-byte format buffer (a longer
// format is cut), then the '#' forms, then strftime. A result that does not
// fit, or a time the run-time cannot break down, gives the empty string.
// Returns out.
char* StrX_FormatTime(time_t t, const char* format, char* out, int size);
// Reads date as "%s %d %d" (month name, day, year) and time as "%d:%d:%d",
// the month by its exact English abbreviation (13 when none matches, which
// carries into January of the next year), and formats that local time with
// format ("Mar 30 2000", "23:01:01", "%n.%#d.%Y" -> "Mar.30.2000"). Returns the
// static 100-byte result; empty when the time cannot be converted.
const char* StrX_BuildDateText(const char* date, const char* time, const char* format);
// Splits a span of seconds: tm_sec, tm_min, tm_hour and tm_mday (days) by
// floor division, tm_mon 0, tm_year 0, tm_isdst -1, other fields 0. Each part
// is held to the int range. Returns span.
struct tm* StrX_SplitSpan(struct tm* span, double seconds);
// Both valid: 1, -1 or 0 by the sign of a - b; only a valid: 2; only b: -2;
// neither: 0.
int StrX_CompareTimes(time_t a, bool aValid, time_t b, bool bValid);
// Stores 0 in *t. Returns t.
time_t* StrX_ClearTime(time_t* t);
// Formats local t with "%c" into out[0, size) (empty when it does not fit).
// Returns out.
char* StrX_TimeText(time_t t, char* out, int size);
// Returns "%c" of now in a static 30-byte buffer (empty when it does not fit).
const char* StrX_NowText();
// Returns now formatted with format in a static 80-byte buffer (empty when it
// does not fit).
const char* StrX_NowFormat(const char* format);

// ---- Conversions -------------------------------------------------------------

// Writes the low 8, 16 or 32 bits of value as 2, 4 or 8 upper-case hexadecimal
// digits and a NUL; returns the position of the NUL.
char* StrX_Hex2(char* out, unsigned value);
char* StrX_Hex4(char* out, unsigned value);
char* StrX_Hex8(char* out, unsigned value);
// Writes the 32 bits of value as '0'/'1', most significant first; a separator
// other than NUL goes between the four bytes (out holds 33 or 36 bytes).
// Returns out.
char* StrX_Bin32(char* out, unsigned value, char separator);
// Returns the value of the digits 0 and 1 in text; other bytes are skipped
// without taking a place. More than 32 digits keep the low 32 bits.
int StrX_ParseBin(const char* text);
// Reads an optional '+', any number of '-' (each flips the sign), then
// decimal digits into *value (0 when there are none; beyond the int range
// the value wraps). Returns the position after the digits.
const char* StrX_ParseInt(const char* text, int* value);
// Writes value in decimal ('-' first when negative, no leading zeros, 0 as
// "0") into out[0, size): at most size - 1 characters and a NUL, cut at the
// end; size <= 0 writes nothing. Returns the position of the NUL (out when
// nothing was written).
char* StrX_IntToStr(char* out, int size, int value);
// Busy-waits n / 10 rounds of a counting loop (to 4060). Returns the rounds run.
int StrX_Wait(int n);

// ---- String set --------------------------------------------------------------

// A packed string list in a caller block: members are consecutive
// NUL-terminated strings from start up to end (the end of the used part).
// The operations only read it.
struct StrX_Set {
    char* start;
    char* end;
};

// Sets the set over [start, end).
void StrX_Set_Init(StrX_Set* set, char* start, char* end);
// Returns the index (from 0) of the first member that pattern matches
// (StrX_WildCmp: '?' one byte, one '*' any run), or -1.
int StrX_Set_Find(const StrX_Set* set, const char* pattern);
// Returns the index of the first member that, as a wildcard pattern, matches
// text, or -1.
int StrX_Set_Match(const StrX_Set* set, const char* text);
// Debug display: "StrX_Set:", then "  %s" per member. Returns set.
const StrX_Set* StrX_Set_Dump(const StrX_Set* set);

// ---- Command-line reader -----------------------------------------------------

// Reads the arguments of one command line in turn. The line is not copied; it
// must outlive the reader.
struct StrX_Args {
    const char* line;  // the whole line
    const char* pos;   // start of the current argument
    char arg[260];     // the current argument (StrX_Args_Get)
};

// Positions the reader at the start of line and reads the argument there.
void StrX_Args_Init(StrX_Args* args, const char* line);
// Positions the reader back at the start of its line and reads the argument.
void StrX_Args_Rewind(StrX_Args* args);
// Moves past the current argument (a quoted one: past its closing quote and
// the byte after it; else past the next blank) and reads the next. Returns
// false when there is none (an argument at the end of the line is the last).
bool StrX_Args_Next(StrX_Args* args);
// Reads the current argument into args->arg and returns it: a quoted one
// without its quotes (up to the closing quote or the end), else the text up to
// the next blank with its path elements named as the file system lists them
// (StrX_LongPath); at most 259 bytes.
char* StrX_Args_Get(StrX_Args* args);
