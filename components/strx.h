// String, path and URL helpers over NUL-terminated CP932 (Shift_JIS) byte strings.
//
// Free functions over buffers that the caller owns. Text is CP932: a lead byte
// (CodePage_IsLead: 0x81..0x9F, 0xE0..0xFC) and the byte after it form one
// character. "Shift_JIS-aware" operations step over a trail byte and never take
// it for a character (a 0x5C trail byte is never a backslash); "byte-wise"
// operations treat every byte alike. Character classes and case folding apply
// to ASCII only; every byte of 0x80 and above is neither space, letter nor digit.
//
// Sizes are byte counts including the terminating NUL unless a contract says
// otherwise. Bounded operations cut to their size, never overrun, and never
// report. None of these functions takes heap memory. StrX_AbsPath and
// StrX_PathToUrl work in local arrays (512 and 260 bytes); StrX_AbsPathOfFile,
// StrX_AbsPathCwd and StrX_AbsPathExe take a 260-byte buffer from the scratch
// stack (BigStack_Sys()) under a mark of their own and release it before
// returning; they raise BigStack_Full (281) only when the stack has no room. Operations that return
// a position return a pointer into the text they were given (nullptr for "nothing").
//
// Static state: the program's file path (StrX_SetExePath, 260 bytes). Apart
// from that the functions keep no state; they are re-entrant, but the scratch
// stack they use belongs to one thread at a time.
//
// Inside paths use backslash separators; the slash is accepted as a separator
// where a contract says so. A drive path has ':' as its second byte, a network
// path begins with two separators, and a rooted path (\home\u\pages, the inside
// form of a Linux absolute path) begins with one.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Comma-separated fields ---------------------------------------------
//
// Quoting: a value that holds a comma or a double quote, or begins or ends with
// a blank (0x20), is written in double quotes with every inner quote doubled;
// an empty value is written as nothing; any other value unchanged.
// Splitting: blanks (0x20) before a field are skipped; a field opening with a
// quote runs to the next quote that is not doubled (a doubled quote yields one
// quote; text between the closing quote and the next comma is dropped; a
// missing closing quote ends the field at the end of the text); any other field
// runs to the next comma or the end, less its trailing blanks (tabs are text).

// Writes the quoted form of value into out[0, size). When it does not fit, the
// value is cut, never inside a double-byte character or a doubled quote: a
// quoted value keeps its closing quote (an empty field when not even "" fits),
// an unquoted one also loses the blanks the cut leaves at its end, so what is
// written reads back as written. size <= 0 writes nothing. Returns out.
char* StrX_QuoteField(char* out, const char* value, int size);
// Copies the first field of text, unquoted, into out (out may be text itself;
// otherwise it needs strlen(text) + 1 bytes). Returns the position after the
// comma that ends the field, or nullptr when it was the last field.
const char* StrX_SplitField(char* out, const char* text);
// Copies the n-th field (from 1; n < 1 counts as 1) of list, unquoted, into
// out[0, size), cut to size - 1 bytes without splitting a double-byte
// character. Returns out, or nullptr (out set empty when size > 0) when the
// list is empty or has fewer than n fields.
char* StrX_GetField(const char* list, int n, char* out, int size);
// Returns the number (from 1) of the first field of list equal to text,
// compared exactly or, when caseSensitive is false, without ASCII case (trail
// bytes always exactly); -1 when none. Fields are compared unquoted.
int StrX_FieldIndex(const char* list, const char* text, bool caseSensitive);
// Returns how many fields of list begin at or before position (a pointer into
// list). A field begins at the list's start or right after a comma; an empty
// list has no field, and a position before list gives 0.
int StrX_FieldNumAt(const char* list, const char* position);

// ---- Bounded copying ----------------------------------------------------

// Copies text into out, at most size - 1 bytes and a NUL (byte-wise cut, may
// split a double-byte character). size <= 0 leaves out unchanged. Returns out.
char* StrX_CopyN(char* out, const char* text, int size);
// Copies the first min(n, size, strlen(text)) bytes of text and a NUL (out
// needs one byte more than that). Negative n or size copy nothing. Returns out.
char* StrX_CopyPart(char* out, const char* text, int size, int n);
// Copies the bytes of text before the first stop byte (or the end), at most
// size of them, then a NUL (out needs size + 1 bytes). Returns out.
char* StrX_CopyUntil(char* out, int size, const char* text, int stop);
// Appends tail to text so that the result is at most size bytes long, NUL not
// counted (text needs size + 1 bytes); a text already size bytes or longer is
// left as it is. Returns text.
char* StrX_CatN(char* text, const char* tail, int size);

// ---- Editing in place ---------------------------------------------------

// Moves text right by strlen(head) and puts head in front; no bound (text
// needs room for both). Returns text.
char* StrX_InsertHead(char* text, const char* head);
// The same with the arguments the other way round. Returns text.
char* StrX_InsertHead2(const char* head, char* text);
// Appends the byte ch unless the last character of text is the single-byte
// character ch (a double-byte character whose trail byte is ch does not
// count); an empty text gets ch. No bound. Returns text.
char* StrX_AddLastChar(char* text, int ch);
// Removes the last byte; an empty text stays empty. Returns text.
char* StrX_CutLast(char* text);
// Removes the last n bytes (all of them when n >= length; n <= 0 nothing).
char* StrX_CutLastN(char* text, int n);
// Removes the first n bytes (all of them when n >= length; n <= 0 nothing).
char* StrX_CutHead(char* text, int n);
// Removes the last byte when it equals ch, byte-wise (so also a trail byte
// equal to ch). Returns text.
char* StrX_CutLastChar(char* text, int ch);
// Returns the last byte (0..255), 0 for an empty text.
int StrX_LastChar(const char* text);
// Removes blanks, tabs, CR, LF, VT and FF at both ends. Returns text.
char* StrX_Trim(char* text);
// StrX_Trim, then removes every double quote at either end. Returns text.
char* StrX_TrimQuotes(char* text);
// Removes every CR, LF and TAB byte. Returns text.
char* StrX_RemoveCrLfTab(char* text);
// Replaces every byte a by b, byte-wise (trail bytes too). Returns text.
char* StrX_ReplaceByte(char* text, int a, int b);
// Replaces every single-byte character a by b, Shift_JIS-aware (a trail byte
// equal to a stays). Returns text.
char* StrX_ReplaceChar(char* text, int a, int b);
// Replaces every occurrence of pattern that begins on a character (never on a
// trail byte) by replacement, left to right, the scan going on after each
// inserted text; the result is cut to size - 1 bytes (byte-wise). An empty
// pattern or size <= 0 changes nothing. Returns text.
char* StrX_ReplaceStr(char* text, int size, const char* pattern, const char* replacement);
// StrX_ReplaceStr with the decimal form of number. Returns text.
char* StrX_ReplaceStrNum(char* text, int size, const char* pattern, int number);
// Copies text to out (as long as text) with ASCII letters made lower case;
// double-byte characters are copied as they are. Returns out.
char* StrX_ToLower(char* out, const char* text);
// The same, upper case. Returns out.
char* StrX_ToUpper(char* out, const char* text);

// ---- Searching ----------------------------------------------------------

// Returns the first position where pattern equals the text, ASCII letters
// without case and every other byte exactly. Byte-wise: a match may begin on a
// trail byte; a trail byte (of the text or of pattern) is always compared
// exactly, so no double-byte character equals another through case. nullptr
// for an empty pattern or text or no match.
char* StrX_FindStrI(const char* text, const char* pattern);
// Examines from, then each byte before it down to start; returns the position
// after the first byte equal to ch, or start when there is none.
char* StrX_FindCharBack(const char* start, const char* from, int ch);
// Returns the first single-byte character ch (Shift_JIS-aware), or nullptr.
// ch = 0 gives the terminator.
char* StrX_FindChar(const char* text, int ch);
// Returns the last single-byte character ch (Shift_JIS-aware), or nullptr.
char* StrX_FindLastChar(const char* text, int ch);
// Returns the last byte ch (byte-wise), or nullptr; ch = 0 gives the terminator.
char* StrX_FindLastByte(const char* text, int ch);
// Returns the first byte of text that occurs in set (byte-wise), or nullptr.
char* StrX_FindAnyByte(const char* text, const char* set);
// Returns the first single-byte character of text that occurs in set
// (Shift_JIS-aware; set holds single-byte characters), or nullptr.
char* StrX_FindAnyChar(const char* text, const char* set);
// Returns the last occurrence of pattern that begins on a character (not on a
// trail byte), or nullptr; nullptr for an empty pattern.
char* StrX_FindLastStr(const char* text, const char* pattern);
// Returns the first occurrence of word, beginning on a character, whose
// neighbours (or the text's ends) are neither ASCII letters, digits nor '_' (a
// double-byte character is a break); nullptr for none or an empty word.
char* StrX_FindWord(const char* text, const char* word);
// Returns the slot of table (size bytes of string pointers; null slots are
// skipped) holding a string equal to text, or nullptr.
const char* const* StrX_FindInTable(const char* text, const char* const* table, int size);

// ---- Classification -----------------------------------------------------

// True for blank, tab, CR, LF, VT and FF; false for every byte >= 0x80.
bool StrX_IsSpace(int byte);
// True when text is empty or every byte satisfies StrX_IsSpace.
bool StrX_IsBlank(const char* text);
// True when byte is neither an ASCII letter, a digit nor '_'.
bool StrX_IsWordBreak(int byte);
// False when name holds one of the single-byte characters \ / : , ; * ? " < > |
// (Shift_JIS-aware: the 0x5C trail byte of 表 does not count) or begins with '.'.
bool StrX_IsValidFileName(const char* name);
// Returns 0 when text matches pattern ('?' any one byte, one '*' any run of
// bytes; a second '*' is an ordinary byte); otherwise the signed-byte
// difference at the first mismatch from the left before the star, minus the
// text's next byte when a star-less pattern ends first, the difference at the
// leftmost mismatch of the tail after the star (compared from the right), or
// -1 when the text is shorter than the pattern's tail.
int StrX_WildCmp(const char* pattern, const char* text);
// Returns (sum of byte value x position from 1) mod n; 0 when n <= 0.
int StrX_Hash(const char* text, int n);

// ---- HTML ---------------------------------------------------------------

// Copies text into out[0, size) with & < > written as &amp; &lt; &gt; and a
// double-byte character copied as a pair (a lead byte ending the text is
// copied and ends the output). Stops before the first piece that does not fit
// in front of the NUL, so out is never split inside an entity or a character.
// size <= 0 writes nothing. Returns out.
char* StrX_HtmlEscape(const char* text, char* out, int size);

// ---- Paths --------------------------------------------------------------

// Sets the program's own file path (inside form), once at start-up; kept in a
// static 260-byte buffer (cut to 259 bytes).
void StrX_SetExePath(const char* path);
// Returns the program's file path set by StrX_SetExePath; when none was set,
// the running executable's path from the file system layer (asked once).
const char* StrX_GetExePath();

// Resolves parent-folder steps (..\) and current-folder steps (.\) in place;
// ..\ steps at the very start stay. Returns path.
char* StrX_CleanDots(char* path);
// Joins a relative path to folder in place: an empty path, a path beginning
// with a separator, a drive path and one beginning with "file:" or "http:" stay
// unchanged. Otherwise folder, a backslash unless folder ends in a separator,
// and path, with dot steps resolved, cut to size - 1 (and 511) bytes; a final
// separator-and-dot loses the dot. Returns path.
char* StrX_AbsPath(char* path, int size, const char* folder);
// StrX_AbsPath against the folder of file (an empty path stays empty). Takes a
// 260-byte scratch buffer. Returns path.
char* StrX_AbsPathOfFile(char* path, int size, const char* file);
// Copies path to out (they may be the same buffer; cut to size - 1 bytes) and
// joins it to the current working folder (StrX_AbsPath). Takes a 260-byte
// scratch buffer. Returns out.
char* StrX_AbsPathCwd(char* out, const char* path, int size);
// A path beginning with a backslash, or a drive path, is copied to out
// unchanged (cut to size - 1 bytes). Otherwise: the program's path up to and
// with its last backslash, path appended (256 bytes at most), dot steps
// resolved, copied to out cut to size - 1 bytes. Takes a 260-byte scratch
// buffer. Returns out.
char* StrX_AbsPathExe(char* out, const char* path, int size);
// False for a network path, a drive path and a rooted path (one separator
// first: the inside form of an absolute Linux path); true for everything else
// (relative paths and URLs such as "http:..." or "file:...").
bool StrX_IsRelativePath(const char* path);
// True when the first separator of path (Shift_JIS-aware) is its first byte or
// directly follows a ':' (so C:\a, \a and also http://h); false when it has none.
bool StrX_IsRootedPath(const char* path);
// Writes the file: URL of path into out (260 bytes; out may be path): a
// network path gives "file://" and the path less its two leading separators; a
// drive path "file:///" and the path with the colon as '|'; a rooted path
// "file://" and the path. Backslashes become slashes (Shift_JIS-aware), then
// every blank becomes "%20"; the result is cut to 259 bytes. Returns out.
char* StrX_PathToUrl(char* out, const char* path);
// Writes into out the last component of path without its extension and a
// trailing dot, '_' in front when it begins with a digit, every byte that is
// not an ASCII letter or digit made '_'. Returns out.
char* StrX_FileNameToIdent(char* out, const char* path);
// For one-star patterns: out = target with its star replaced by the part of
// name that the star of source stands for. When name does not match source,
// or a pattern holds no star, out = target unchanged. out needs
// strlen(target) + strlen(name) + 1 bytes and must not overlap name or target.
// Returns out.
char* StrX_WildRename(char* out, const char* target, const char* name, const char* source);

// ---- Japanese encodings -------------------------------------------------

enum {
    StrX_Code_Ascii = 0,
    StrX_Code_Jis = 1,
    StrX_Code_Sjis = 2,
    StrX_Code_Euc = 3,
};
// Returns the encoding the first telling byte of text shows: 1 JIS (ESC $ @ /
// ESC $ B), 2 Shift_JIS, 3 EUC-JP (also for ESC ( I and for a first non-ASCII
// byte >= 0xA0, so Shift_JIS half-width kana reads as EUC), 0 plain ASCII.
int StrX_DetectCode(const char* text);
// Converts text to Shift_JIS into out by the detected encoding (JIS, EUC),
// else copies it. out needs strlen(text) + 1 bytes; it may be text itself (the
// conversions never write ahead of what they read). Returns out.
char* StrX_ToSjis(char* out, const char* text);
// Converts ISO-2022-JP text to Shift_JIS, every byte by its low seven bits.
// Modes: kanji (ESC $ @, ESC $ B), kana (ESC ( I, SO), ASCII (ESC ( B/H/J; SI
// ends kana). Recognised escapes and SO/SI are not copied; another ESC is an
// ordinary byte. Kanji: a byte 0x21..0x7E and the next one become one pair; a
// first byte followed by a byte outside 0x21..0x7E is dropped. Kana: 0x21..0x5F
// get the high bit. Other bytes are copied. A text that ends inside an escape
// or inside a kanji ends the output there. out needs strlen(text) + 1 bytes.
// Returns out.
char* StrX_JisToSjis(char* out, const char* text);
// Converts EUC-JP text to Shift_JIS: pairs of 0xA1..0xFE by the JIS X 0208
// arithmetic, 0x8E and a kana byte 0xA1..0xDF to that byte, other bytes >= 0x80
// lose the high bit; SO / ESC ( I start and SI / ESC ( J / ESC ( B end a kana
// mode (0x21..0x5F get the high bit). A text that ends inside a double-byte
// character or an escape ends the output there. out needs strlen(text) + 1
// bytes. Returns out.
char* StrX_EucToSjis(char* out, const char* text);
// Returns 4 for ESC $ @ / ESC $ B at position, 5 for ESC ( H/B/J/I, else 0.
int StrX_JisEscapeKind(const char* position);
// Returns the Shift_JIS code (lead << 8 | trail) of the JIS X 0208 code
// (row << 8 | cell); each byte is taken by its low seven bits. A code whose
// arithmetic falls before row 0x21, cell 0x21 gives 0x8140.
unsigned StrX_JisToSjisCode(unsigned code);

// ---- Pointer ranges -----------------------------------------------------
//
// A PtrRange bounds a run of elements: [first, last), last one past the end.
// Element sizes are passed to each operation; lengths are in bytes.

struct PtrRange {
    void* first;
    void* last;
};

// first = start, last = start + length bytes.
void PtrRange_Set(PtrRange* range, void* start, size_t length);
// first = start, last = end; returns end.
void* PtrRange_SetEnds(PtrRange* range, void* start, void* end);
// The range over the bytes of text, its NUL not included; returns range.
PtrRange* PtrRange_SetStr(PtrRange* range, char* text);
// True when both ends are set and last is not before first.
bool PtrRange_IsValid(const PtrRange* range);
// Returns the number of whole elements of elemSize bytes (0 for elemSize 0 or
// an invalid range).
size_t PtrRange_Count(const PtrRange* range, size_t elemSize);
// Returns the address of element n, or nullptr when n is not below the count.
void* PtrRange_At(const PtrRange* range, size_t elemSize, size_t n);
// Writes the address of each element into ptrs, at most maxCount of them;
// returns how many were written.
size_t PtrRange_ToPtrs(const PtrRange* range, size_t elemSize, void** ptrs, size_t maxCount);
// Copies the bytes of src into block (at most size bytes) and sets dst over
// the copy; returns dst->last.
void* PtrRange_Copy(PtrRange* dst, const PtrRange* src, void* block, size_t size);
// Returns the first element after elem (from the first element when elem is
// nullptr) whose marker byte at markOfs is 1, or nullptr.
void* PtrRange_NextMarked(const PtrRange* range, const void* elem, size_t elemSize, size_t markOfs);
// Fills the range from values (count elements of elemSize bytes) as far as
// whole elements fit; returns how many elements were written.
size_t PtrRange_Fill(PtrRange* range, size_t elemSize, const void* values, size_t count);
// Moves the block [from, from + n) so that it begins at to, shifting the bytes
// between the two places to fill the gap (nothing is lost). Both the block and
// its new place must lie inside the range; otherwise nothing is moved and
// false is returned.
bool PtrRange_Move(PtrRange* range, void* from, size_t n, void* to);

// ---- Words and tokens ---------------------------------------------------
//
// Blanks here are the bytes 0x20 and tab. An identifier is an ASCII letter or
// '_' followed by letters, digits and '_'; a token is an identifier or one
// double-byte character.

// Skips blanks, then copies one word into out[0, size) (cut to size - 1
// bytes): a word opening with a double quote runs to the closing quote (the
// quotes are not copied; a missing one ends it at the end of the text),
// any other runs to the next blank. Returns the position after the word (after
// its closing quote), or nullptr (out empty) when only blanks are left.
const char* StrX_GetWord(char* out, int size, const char* text);
// Skips blanks, then copies one identifier into out[0, size) (cut). Returns the
// position after it, or nullptr (out empty) when none begins there.
const char* StrX_GetIdent(const char* text, char* out, int size);
// Skips blanks, then copies one token into out[0, size) (a double-byte
// character that does not fit is not copied). Returns the position after it,
// or nullptr (out empty) when none begins there.
const char* StrX_GetToken(const char* text, char* out, int size);
// Skips blanks, then copies a run of up to count tokens into out[0, size),
// where two tokens may be separated by one blank (copied as it is); the run
// ends at two blanks, at a byte that begins no token, after count tokens, or
// before a token that does not fit. Returns the position after the last token
// taken, or nullptr (out empty) when none was taken.
const char* StrX_GetTokens(const char* text, int count, char* out, int size);

// ---- Lists and arguments ------------------------------------------------

// Expands tmpl once per field of the comma-separated list into out[0, size):
// every "%s" of tmpl becomes the unquoted field, "%%" becomes "%"; the
// expansions are joined with separator. Stops before the first expansion (with
// its separator) that does not fit whole, so out holds only whole expansions.
// An empty list gives "". Returns the number of fields expanded.
int StrX_ExpandList(char* out, int size, const char* tmpl, const char* list, const char* separator);
// Prints "argc = %d\n" and one "argv[%d] = %s\n" line per argument to standard
// output.
void StrX_PrintArgs(int count, const char* const* args);
