// Sectioned attribute files: small text files of named sections holding named
// attribute lines with typed, comma-separated values.
//
//   [main]            a section head ("[%s] " when written)
//   Base = C:\pages   an attribute line: name, " = ", values joined by ", "
//                     a separator line (one blank) before every later head
//                     and at the end of the file
//
// The writer emits a file front to back. The reader walks a file forward line
// by line; each reading operation checks that the line it meets is the one the
// caller expects, so attributes are read in the order in which they were
// written. Both sides describe values by a format of type letters:
//
//   letter  writer argument -> text          reader destination
//   b       int (low byte): "0" or "1"       unsigned char*: 1 unless the field
//                                            starts with '0'
//   i       int: "%d"                        int*: decimal at the field start
//   I       (takes nothing, writes nothing)  int*: as i
//   s       const char*: quoted when needed  char*: the unquoted field, cut to
//                                            the value limit less one byte
//   S       (takes nothing, writes nothing)  char*: as s
//   t       const time_t*: local time        time_t*: read back from the six
//           "%Y/%m/%d-%H:%M:%S"              numbers of that text
//   x       int: "0x%X"                      void*: taken, nothing stored
//   -       (takes nothing, writes nothing)  no destination: field dropped
//
// An empty or absent field stores 0 for i and "" for s and leaves b, t, I and
// S unchanged. Every reader letter but '-' takes one destination, whether its
// field is there or not; fields beyond the last letter are ignored. Letters
// the table does not name take no argument and are skipped.
//
// Files are written through FileX_Open in text mode ("wt" writes CR LF line
// ends) and read through FileX_OpenReader (CR LF or LF alike, in blocks). A
// reader line longer than its line buffer less one byte is read as two or
// more lines. A last line without a line end counts as absent (except for
// IniFile_CountAttr). Names compare byte for byte.
//
// Memory: the records and the line buffer belong to the caller; the module
// keeps no static buffers (a reader's block is the platform's, taken when the
// file is opened and given back when it is closed). Work buffers come from the
// scratch stack (BigStack_Sys()) under a mark that is released on every way
// out, also when a report unwinds. A reader or writer belongs to one thread at a time, and so
// does the scratch stack.
//
// Errors are reported through the error core and unwind to the caller's try
// frame; the caller closes the file on that path. After a report a reader's
// position is unspecified. When no hook is installed a report returns: the
// operation then gives up without touching memory it does not own.
#pragma once

#include <cstdio>
#include <ctime>

#include "platform/textread.h"

struct ArrX_Buf;
struct StrX_Mem;
struct PtrRange;

// A writer: the output stream, a flag set until the first section head, and
// the path named in its messages (the one the user knows, cut to 259 bytes).
struct IniWriter {
    FILE* fp;
    unsigned char bFirst;
    char path[260];
};

// A reader: the input stream, the caller's line buffer, the value limit (the
// largest string kept, NUL included; 256 after opening) and the file's path
// (kept for messages, cut to 259 bytes).
struct IniReader {
    TextRead* in;
    char* line;
    int lineSize;
    int valueLimit;
    char path[260];
};

// One slot of IniFile_ReadAttrArray: the value of an i, s (pooled) or t letter.
union IniFile_Value {
    int i;
    char* s;
    time_t t;
};

// ---- Writing ---------------------------------------------------------------

// Creates or truncates path in text mode. Reports FileX_Err_CannotWriteOpen
// (362): FileX_Open's "ファイル "%s" が書きこめません", then, should that report
// return, "書きこみモードで open できません。%s"; the writer is then closed
// (fp == nullptr) and every write on it does nothing.
void IniFile_OpenWrite(IniWriter* writer, const char* path);
// Starts writing on a stream the caller opened (text mode); messages name
// shownPath. The writer owns the stream from here on.
void IniFile_OpenWriteStream(IniWriter* writer, FILE* fp, const char* shownPath);
//
// Every write below is checked: when the stream reports an error (a full
// disk, a file-size limit), the stream is closed (fp == nullptr, so every
// later write does nothing) and FileX_Err_CannotWrite (365, "%s の書きこみに
// 失敗しました。" with the writer's path) is reported.
// Writes the separator line " " unless this is the file's first section head,
// then the head "[name] ".
void IniFile_WriteSection(IniWriter* writer, const char* name);
// Writes one attribute line "name = v1, v2, ...", taking one argument per
// letter b, i, s, t, x of format (see the module table); an empty format
// writes "name = ". A string value is cut so that its quoted form fits 4096
// bytes. Takes a 4096-byte scratch buffer.
void IniFile_WriteAttr(IniWriter* writer, const char* name, const char* format, ...);
// Writes the line "text:".
void IniFile_WriteLabel(IniWriter* writer, const char* text);
// Cuts text at every single-byte character separator (Shift_JIS-aware) and
// writes one line "name = piece" per piece, each piece cut to 255 bytes
// (byte-wise) and quoted; a last piece that is empty or all whitespace is not
// written. Takes 800 bytes of scratch.
void IniFile_WriteSplitAttr(IniWriter* writer, const char* name, char separator, const char* text);
// Writes the head of section, then per path (count paths, each at most 259
// bytes) a "Folder" attribute with its folder ("." for none) whenever that
// differs from the previous path's folder, and a "File" attribute with its
// last component. Takes 1040 bytes of scratch.
void IniFile_WriteFileList(IniWriter* writer, const char* section, const char* const* paths,
                           int count);
// Writes the separator line " " and closes the file; a failure of the last
// write, of the flush or of the close reports FileX_Err_CannotWrite (365).
// Returns true when the file was written whole: false after any failed
// write (should its report return) or on a writer that is not open.
bool IniFile_CloseWrite(IniWriter* writer);

// ---- Opening and positions ---------------------------------------------------

// Opens path in text mode through FileX_OpenReader, which reads it in blocks
// of IniFile_BlockSize bytes and reports FileX_Err_CannotReadOpen (363,
// "ファイル "%s" が見つかりません"); should that report return, reports
// FileX_Err_CannotReadOpen "読みこみモードで open できません。%s" and leaves
// in == nullptr (every read then meets the end of the file). lineBuffer holds
// lineBufferSize (at least 2) bytes and must outlive the reader. Sets the
// value limit to 256 and keeps the path. Positions (IniFile_FindSection,
// IniFile_ReadAttr) are raw file offsets, computed without a system call.
inline constexpr int IniFile_BlockSize = 65536;
void IniFile_OpenRead(IniReader* reader, const char* path, char* lineBuffer, int lineBufferSize);
// Sets the value limit (the largest string kept, NUL included) for the
// following reads; a limit below 1 counts as 1. Every s/S destination and
// name buffer must hold that many bytes.
void IniFile_SetValueLimit(IniReader* reader, int limit);
// Closes the file (nothing when it is not open).
void IniFile_CloseRead(IniReader* reader);
// Goes back to the start of the file.
void IniFile_Rewind(IniReader* reader);

// ---- Sections ----------------------------------------------------------------

// Expects the next line that is not blank (whitespace only) to be the head of
// section name, leading whitespace allowed, and moves past it. Reports
// FileX_Err_EOF (361) "EOF in IniFile_Read_setSection" at the end of the file;
// IniFile_Err_BadFormat (593) "フォーマットがおかしい in IniFile_Read_setSection
// (%s)" when the line does not begin with '[' or holds no ']';
// IniFile_NotFoundSection (591) "セクション名が期待したものと異なる (%s)" when
// the text between '[' and the first ']' differs from name (the reader is
// then back where the call began).
void IniFile_Read_setSection(IniReader* reader, const char* name);
// Scans forward for a line that begins with '[' in its first byte and whose
// text up to its first ']' is name; returns the position just after that line.
// At the end of the file: with wrap, goes back to the start once and scans on;
// otherwise (and at the second end) reports IniFile_NotFoundSection (591)
// "セクション %s が見つかりません" and returns -1.
long IniFile_FindSection(IniReader* reader, const char* name, bool wrap);
// Returns how many lines from the current position on are attribute lines of
// name (leading blanks and tabs skipped, then name and a blank, ':' or '='),
// stopping at the first line that is not; a last line without a line end
// counts. Uses the line buffer; the position is restored.
int IniFile_CountAttr(IniReader* reader, const char* name);
// Returns how many records (whole lines, however long) from the current
// position on are attribute lines of name, as IniFile_CountAttr tells them by
// their first line-buffer piece, stopping at the first that is not; a line
// longer than the line buffer counts once (its rest is not taken for a line
// of its own); a last line without a line end counts. The position is
// restored.
int IniFile_CountRecords(IniReader* reader, const char* name);
// Returns how many lines up to the next section head (a line that begins, after
// whitespace, with '[' and holds ']') or the end are not blank; the position is
// restored.
int IniFile_CountLines(IniReader* reader);

// ---- Attributes ----------------------------------------------------------------

// Reads the next line that is not empty (a line of blanks is not empty), which
// must be: optional blanks and tabs, name, then a blank, '=' or ':'; after that
// byte come blanks, one optional '=' or ':', blanks, and the value text, which
// is split into fields and stored by format (module table). Returns the
// position from which the line was sought. Reports IniFile_Err_FewAttr (595)
// "属性が少ない" at the end of the file and IniFile_Err_BadAttr (596)
// "属性名が異なる（アプリ=%s, ファイル=%s in %s）" (name, the line, the path)
// for another name or no separator after it (a tab is not one).
long IniFile_ReadAttr(IniReader* reader, const char* name, const char* format, ...);

// ---- Reading a list in one pass ------------------------------------------
//
// A list section read front to back once, without IniFile_CountAttr's pass
// ahead: IniFile_NextAttrLine hands out the lines that IniFile_CountAttr would
// count, seen in place in the reader's buffer (no copy), and
// IniFile_ReadAttrLine parses one of them as IniFile_ReadAttr would read it.
// IniFile_CountAttr followed by that many IniFile_ReadAttr calls reads the
// same lines with the same results.

// Reads the next line piece (at most the line buffer's size less one byte, as
// IniFile_CountAttr reads lines) into *line, seen in place. Returns true when
// it is an attribute line of name (leading blanks and tabs skipped, then name
// and a blank, ':' or '='); false when it is not or no byte was left (the
// piece is consumed either way). A line of name that meets the end of the file
// (a last line without a line end) reports IniFile_Err_FewAttr (595)
// "属性が少ない", as IniFile_ReadAttr does there.
bool IniFile_NextAttrLine(IniReader* reader, const char* name, TextRead_Line* line);
// Passes over the lines that IniFile_NextAttrLine would hand out whole, one
// by one, as attribute lines of name, when they hold nothing sought: find(context,
// from, end) returns the first byte of [from, end) where something sought may
// begin (null when nowhere), and a line that ends before it holds nothing.
// Stops before the first other line: one where something may begin, one that
// is not such a line, one longer than a line piece, or one not yet read whole
// into the reader's buffer (so a caller goes on with IniFile_NextAttrLine,
// which reads on). Costs no system call.
using IniFile_Finder = const char* (*)(const void* context, const char* from, const char* end);
void IniFile_SkipAttrLinesWithout(IniReader* reader, const char* name, IniFile_Finder find,
                                  const void* context);
// Consumes the rest of the line of which line (handed out by the last
// IniFile_NextAttrLine) is the first piece: nothing when the piece ended it.
// After it the next IniFile_NextAttrLine reads the next line.
void IniFile_SkipLineRest(IniReader* reader, const TextRead_Line* line);
// Parses a line handed out by the last IniFile_NextAttrLine of name by format
// into the destinations, as IniFile_ReadAttr does (copying it into the line
// buffer first). The line must not have been read past since.
void IniFile_ReadAttrLine(IniReader* reader, const TextRead_Line* line, const char* name,
                          const char* format, ...);
// Reads the next line that is not blank whatever its name: the text before its
// first '=' (the whole line when it has none), trimmed and cut to the value
// limit less one byte, into nameOut; the text after the '=' (blanks skipped)
// by format. Returns the position from which the line was sought, or -1 at a
// section head (left unread) or the end of the file (nothing stored).
long IniFile_ReadAnyAttr(IniReader* reader, char* nameOut, const char* format, ...);
// Goes to position and reads up to the first line holding '='; what follows
// that '=' (blanks skipped) is stored by format. Returns the position of that
// line; at the end of the file every field is absent (i stores 0, s "") and
// the result is -1.
long IniFile_ReadAttrAt(IniReader* reader, long position, const char* format, ...);
// One value by the one letter of format (b, i, I, s, S; other letters store
// nothing when the line is missing): when the next non-empty line is an
// attribute line of name, reads it like IniFile_ReadAttr and returns true;
// otherwise stores the default, the one variadic argument (an int for i and I;
// an int for b, its low byte stored as 0 or 1; a const char* for s and S,
// copied and cut like a read value, nullptr giving ""), consumes nothing and
// returns false.
bool IniFile_ReadOptAttr(IniReader* reader, const char* name, const char* format, void* dest, ...);

// ---- Pooled reading ----------------------------------------------------------

// As IniFile_ReadAttr, but a string value is cut to the value limit less one
// byte and added to pool, and its char** destination receives the copy: an
// empty or absent field gives nullptr for s and an empty pooled string for S.
// The letter '*' makes every remaining field a value of the letter after it,
// appended to the ArrX_Buf* destination that '*' takes: an int for i and I, an
// unsigned char for b, a char* for s and S, a time_t for t (zero when the field
// is empty), nothing for '-' and x. Raises StrX_Err_MemEmpty (3180) when the
// pool is full and ArrX_Err_Full (901) when the array is.
long IniFile_ReadAttrPooled(IniReader* reader, StrX_Mem* pool, const char* name, const char* format,
                            ...);
// Reads one attribute line of name and adds every field of it, unquoted and
// cut like an s value, to pool; range receives [first string, end of the last
// string's NUL) (both the pool's position when the line holds no field).
// Returns range.
PtrRange* IniFile_ReadStringList(IniReader* reader, StrX_Mem* pool, const char* name,
                                 PtrRange* range);
// The optional form of IniFile_ReadAttrPooled for the one letter of format:
// when the next non-empty line is not an attribute line of name, *dest
// receives a pooled copy of the default (the variadic const char*; nullptr
// stays nullptr) for s and S, the default int for i and I (b: its low byte
// made 0 or 1), and false is returned.
bool IniFile_ReadOptAttrPooled(IniReader* reader, StrX_Mem* pool, const char* name,
                               const char* format, void* dest, ...);
// Reads all consecutive attribute lines of name; each fills as many
// IniFile_Value slots appended to array as format has letters (i, s pooled as
// in IniFile_ReadAttrPooled, t; a slot starts zeroed). range receives the
// slots of this call. Reports Errors_NotSupport (107) "Not Support in this
// Version" for any other letter (before reading) and IniFile_Err_FewData (594)
// "%s 属性のデータのが少ない" for a line with fewer fields than letters.
// Returns the number of lines read.
int IniFile_ReadAttrArray(IniReader* reader, StrX_Mem* pool, ArrX_Buf* array, const char* name,
                          const char* format, PtrRange* range);
// The same into records of recordSize bytes appended to array, zeroed first,
// each letter stored at its offset (one int variadic argument per letter): an
// int for i, a char* for s, a time_t for t. An offset whose value does not fit
// the record reports Errors_Unofficial (102) "error" before reading.
int IniFile_ReadRecordArray(IniReader* reader, StrX_Mem* pool, ArrX_Buf* array, const char* name,
                            const char* format, PtrRange* range, int recordSize, ...);
// Reads all consecutive attribute lines of name as one string each (the line's
// first field, unquoted and cut to the value limit less one byte) and appends
// each, followed by separator, to buffer (size bytes, emptied first).
// Before each line at least the value limit plus the separator's length must
// be free, else IniFile_Err_FewBuf (592) "バッファ領域が少ない（%s属性）".
// Returns the number of lines read.
int IniFile_ReadJoined(IniReader* reader, const char* name, const char* separator, char* buffer,
                       int size);
// Reads all consecutive attribute lines of name as one pooled string each (the
// line's first field, unquoted and cut like an s value); before each line the
// pool must have room for a string of the value limit, NUL included (that is,
// StrX_Mem_Left above the value limit: the next string begins after the last
// one's NUL), else IniFile_Err_FewBuf (592) "文字列の格納領域が足りません".
// Returns the number of strings added.
int IniFile_ReadStrings(IniReader* reader, const char* name, StrX_Mem* pool);

// ---- Lists and waiting -------------------------------------------------------

// Finds section (with wrap) and reads its "Folder" and "File" lines as
// IniFile_WriteFileList writes them: each file is joined to the last folder
// before it (StrX_AbsPath, 260 bytes; "." before any folder), added to pool,
// and its pointer appended to array (char* items). range receives the pointers
// of this call. Takes 780 bytes of scratch. Returns range.
PtrRange* IniFile_ReadFileList(IniReader* reader, StrX_Mem* pool, ArrX_Buf* array,
                               const char* section, PtrRange* range);

// Bounds of IniFile_WaitValue: reads at most this many times, pausing this
// many milliseconds between two reads (about two seconds in all).
inline constexpr int IniFile_WaitMaxReads = 100;
inline constexpr int IniFile_WaitPauseMs = 20;
// For letter b, i or s: finds section (with wrap) and reads the attribute
// line that follows its head, which must be name (IniFile_ReadAttr), again and
// again until its value equals value (an int* for b and i, b comparing 0 with
// 0 and any other value with 1; a NUL-terminated text for s), at most maxReads
// times with pauseMs milliseconds between two reads. Returns true when the
// value was seen, false when the reads ran out or the letter is another one
// (nothing is read then). Runs in a try frame of its own; its scratch buffer
// (the value limit) is released on every way out; reports of the reads are
// raised again.
bool IniFile_WaitValue(IniReader* reader, const char* section, const char* name, const char* format,
                       const void* value, int maxReads = IniFile_WaitMaxReads,
                       int pauseMs = IniFile_WaitPauseMs);
