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
//
// This header is the whole module's face; the code is cut by concern:
// strx_text.cpp (copying, editing, searching, classification, number text,
// pointer ranges), strx_fields.cpp (fields, words and tokens, lists, the
// string pool and set, the command-line reader), strx_html.cpp, strx_path.cpp
// (paths and URLs), strx_japanese.cpp (Japanese codes, the page-encoding
// decision) and strx_time.cpp (time text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

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
// Copies the first field of text, unquoted, into out[0, size) as
// StrX_SplitField and then StrX_CopyN(out, field, size) would: a longer field
// is cut at size - 1 bytes, at a byte (nothing is written when size < 1).
// Returns what StrX_SplitField returns.
const char* StrX_SplitFieldCut(char* out, int size, const char* text);
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
// Returns the last character when it is a single-byte one (the trail byte of
// a double-byte character never is), else 0; 0 for an empty text.
int StrX_LastSingleChar(const char* text);
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
// StrX_FindStrI for text search: a match begins only on a character boundary
// of text, never on a trail byte (so 求 is not found inside 「ファイル」, whose
// bytes hold 求's), and ASCII letters fold only as single-byte characters.
char* StrX_FindStrIChar(const char* text, const char* pattern);
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
// Decodes the character references of Shift_JIS text in place: the named
// ones of HTML (amp, lt, gt, quot, apos, nbsp, the Latin-1 set, punctuation,
// arrows, mathematical signs, Greek letters), &#NNNN; and &#xHHHH;. Each
// becomes its Shift_JIS form; the no-break and typographic spaces a blank,
// the en dash a hyphen, invisible format characters nothing; a character
// with no Shift_JIS form, a control character other than TAB, LF and CR, and
// a number beyond Unicode the geta mark 〓 (&#128; to &#159; are read as the
// Windows-1252 characters, as browsers read them). A reference without its
// ';', or with a name not known, stays as written. Never lengthens the text.
// Returns text.
char* StrX_HtmlUnescape(char* text);

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
    StrX_Code_Utf8 = 4,
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
// arithmetic, 0x8E and a kana byte 0xA1..0xDF to that byte, a JIS X 0212
// character (0x8F and two bytes 0xA1..0xFE; also 0x8F and one such byte
// before any other) to the geta mark 〓 (0x81 0xAC), a 0x8F before no such
// byte is dropped, other bytes >= 0x80 lose the high bit; SO / ESC ( I start
// and SI / ESC ( J / ESC ( B end a kana mode (0x21..0x5F get the high bit). A
// text that ends inside a character or an escape ends the output there. out
// needs strlen(text) + 1 bytes (the output is never longer than the text).
// Returns out.
char* StrX_EucToSjis(char* out, const char* text);
// Removes a lead byte that ends text without its trail byte (what a byte-wise
// cut leaves behind). Returns text.
char* StrX_TrimBrokenChar(char* text);
// Returns the encoding of a charset name as pages declare it, ASCII case
// ignored: Shift_JIS, shift-jis, x-sjis, sjis, windows-31j, cp932, ms_kanji,
// csshiftjis -> 2; EUC-JP, x-euc-jp, eucjp, cseucpkdfmtjapanese -> 3;
// ISO-2022-JP, csiso2022jp -> 1; UTF-8, utf8 -> 4; any other name (or none)
// -> 0, meaning "not known: detect".
int StrX_CharsetCode(const char* name);
// Returns the encoding of a page's head texts (title and keywords, as the
// page has them) decided from all their bytes together: an ISO-2022-JP escape
// (ESC $ @, ESC $ B, ESC ( I, ESC ( J) in either gives 1; else no byte of 0x80
// or above gives 0; else both valid UTF-8, one of them with a character beyond
// ASCII, gives 4; else the one of Shift_JIS (2) and EUC-JP (3) whose every
// byte forms a character. When neither does, Shift_JIS. When both do, the
// signs of either encoding decide (EUC-JP: full-width kana in its reading,
// the half-width marks ｡､･, a misplaced ﾞ/ﾟ or a kanji of lead 0x8E before a
// kana byte in the Shift_JIS reading; Shift_JIS: a well-placed ﾞ/ﾟ in its
// reading, Greek, Cyrillic or box drawing in the EUC-JP one; either: rows that
// hold no characters), then EUC-JP if its reading
// holds fewer half-width katakana, else Shift_JIS. A text marked cut (filled
// to a byte limit) may end inside a character without counting against an
// encoding.
int StrX_DetectPageCode(const char* title, bool titleCut, const char* keywords, bool keywordsCut);
// Converts text in the given encoding (StrX_Code_*) to Shift_JIS into
// out[0, size), cut at whole characters to size - 1 bytes: JIS and EUC by
// StrX_JisToSjis / StrX_EucToSjis, UTF-8 with every character that has no
// CP932 form (and every invalid byte) as the geta mark 〓; Shift_JIS and
// ASCII are copied unchanged. out must not overlap text. Takes no heap memory
// (the UTF-8 converter sits in platform/codepage, kept open once opened, and
// keeps the CP932 form of each character it has converted). Returns out.
char* StrX_ToSjisFrom(char* out, int size, const char* text, int code);
// The kinds of ISO-2022-JP escape StrX_JisEscapeKind tells apart: into
// two-byte (kanji) text, into one-byte text (ASCII, JIS Roman, or with ESC ( I
// half-width katakana), or no escape of either kind.
enum StrX_JisEscape { StrX_Jis_None = 0, StrX_Jis_TwoByte = 4, StrX_Jis_OneByte = 5 };
// Returns StrX_Jis_TwoByte (4) for ESC $ @ / ESC $ B at position,
// StrX_Jis_OneByte (5) for ESC ( H/B/J/I, else StrX_Jis_None (0).
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

// ==== The upper half: string pools and sets, relative paths, path parts, time
// text and small conversions.
//
// These sit above the plain string and path operations above. All texts
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
// StrX_NowText and StrX_NowFormat, and the time-zone flag of StrX_InitLocale.
//
// Errors raised (through the error core, to the innermost try frame):
// StrX_Err_MemEmpty (3180) by a full pool, Errors_Unofficial (102) by the
// list operations and StrX_ReplaceBase on output overflow. Every other
// bounded operation cuts to its size and reports nothing.

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
// the C locale: the process locale is never changed, so names and numbers are
// plain ASCII whatever the user's locale (a UTF-8 locale's names would not be
// CP932 text).

// On its first call only: reads the time-zone settings (tzset). Every time
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
