// The markup lexer: byte-level scanning of a text file through a read-ahead
// buffer.
//
// A BLex2 reader reads a file (text mode: a CR LF pair arrives as LF, read in
// blocks below) or the standard input into a caller's read-ahead buffer, and
// offers peeking at the n-th byte ahead, consuming, comparing the bytes ahead
// with a literal, reading a markup tag with its attributes, and recording the
// consumed bytes into a caller's record buffer. Bytes are handed out as 0..255;
// -1 stands for "no byte" (end of the file, or a position at or beyond the
// buffer's capacity). The buffer is filled only as far as a peek or match
// reaches.
//
// A file that is not text is refused: filling meets a byte below 0x20 other
// than TAB, LF, CR, SO, SI, Ctrl-Z and ESC and raises
// BLex2_Err_BinaryCannotParse (323, "バイナリファイルは読みこめません char=(%d) in
// %s" with the byte and the reader's name); the byte is not stored, and the
// reader stays open for the caller to close. Every operation that fills can
// raise it. Bytes above 0x7F are always text.
//
// Memory: the reader owns neither its read-ahead buffer nor its record buffer;
// the caller provides both and keeps them alive until BLex2_Close. Tag strings
// live in the caller's StrX_Mem pool, attribute slots in the caller's table.
// No heap memory is taken (BLex2_ReadReal takes 256 bytes of the scratch stack
// under a mark of its own); the block below the read-ahead buffer is the
// platform reader's, taken at opening and given back at closing. A reader
// belongs to one thread; the module keeps no static state.
//
// Errors raised (through the error core, to the innermost try frame):
// 323 as above; FileX_Err_CannotReadOpen (363) by BLex2_Open; code 325
// (BLex2_Code_RecordFull, "記録バッファが満杯です") or ArrX_Err_Full (901) by a
// consume while recording into a full record (see BLex2_Skip);
// StrX_Err_MemEmpty (3180) by BLex2_ReadTag on a full pool;
// BLex2_Err_NoCommentEnd (324) and BLex2_Err_DefferentKakkoType (322) by the
// comment and bracket operations. BLex2_StrCmp2 ends the program (status 1)
// when a match would need more bytes than the buffer holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "components/arrx.h"
#include "platform/textread.h"

struct StrX_Mem;

// The name a reader of the standard input keeps for its messages.
inline constexpr const char* BLex2_StdinName = "(stdin)";

// Token types (tokenType) of the token operations. 257 is the value after
// opening and stands for one ordinary byte.
enum {
    BLex2_Token_Char = 257,          // an ordinary byte (length 1), or nothing yet
    BLex2_Token_CommentBegin = 258,  // "/*"
    BLex2_Token_CommentEnd = 259,    // "*/"
    BLex2_Token_LineComment = 260,   // "//"
    BLex2_Token_Escape = 261,        // a backslash before '"', '\'' or '\\' inside quotes
};

// The reader record.
struct BLex2 {
    TextRead* file;      // the open file (text mode) or stdin; nullptr once closed
    unsigned char* buf;  // the caller's read-ahead buffer; buf[0] is the byte at the read point
    int32_t bufSize;     // capacity of buf
    int32_t nBuf;        // bytes now held in buf
    int32_t tokenType;   // BLex2_Token_Char after opening
    int32_t tokenLen;    // 0 after opening
    ArrX_Buf record;     // the record buffer; empty (all null) until one is attached
    unsigned char recording;  // while 1, every consumed byte is appended to record
    char name[260];           // the file name given at opening (cut to 259 bytes)
};

// One attribute slot: the offset of a string from the start of the tag's pool
// (4 bytes, so a table holds 8 bytes per attribute: its name and its value).
using BLex2_Slot = uint32_t;

// A tag read by BLex2_ReadTag. All strings live in the caller's pool; the
// slots in the caller's table. Read the attributes with BLex2_GetAttr,
// BLex2_AttrName and BLex2_AttrValue.
struct BLex2_Tag {
    char* name;              // the tag name, folded to lower case ("meta", "/head")
    BLex2_Slot* attrNames;   // n name slots at the table's start
    BLex2_Slot* attrValues;  // n value slots right after the name slots
    int32_t count;           // attributes read, 0..n
    const char* base;        // the pool's start: the slots count from here
};

// ---- Opening, peeking and consuming --------------------------------------

// Opens name for reading in text mode (through FileX_OpenReader, which raises
// FileX_Err_CannotReadOpen 363 when it cannot); a null name reads the standard
// input and keeps BLex2_StdinName as the name. buf/size become the read-ahead
// buffer and its capacity. Sets nBuf 0, tokenType 257, tokenLen 0, recording
// off and an empty record; keeps the name cut to 259 bytes. The file is read
// in blocks of BLex2_BlockSize bytes below the read-ahead buffer, which is
// still filled a byte at a time only as far as a peek or match reaches (so a
// binary byte is met where the scan meets it, never earlier).
inline constexpr int BLex2_BlockSize = 4096;
void BLex2_Open(BLex2* lex, const char* name, unsigned char* buf, int size);
// Closes the file unless it is the standard input; a second close does nothing.
void BLex2_Close(BLex2* lex);
// Reads bytes into the buffer until upTo bytes are held (upTo is lowered to the
// capacity) or the file ends. Raises 323 on a binary byte.
void BLex2_Fill(BLex2* lex, int upTo);
// Returns the byte n positions ahead (0..255), or -1 when fewer than n + 1
// bytes can be held: the file ends first, or n is negative or at or beyond the
// capacity.
int BLex2_Peek(BLex2* lex, int n);
// Consumes n bytes (n <= 0 does nothing). While recording: when n is less than
// the bytes held, the n bytes are appended to the record in a frame that
// relabels a full record's ArrX_Err_Full as code 325 "記録バッファが満杯です"
// (same id, file and line) and raises it again; otherwise the held bytes are
// appended as they are (ArrX_Err_Full 901 when the record was already full)
// and the bytes read beyond them are appended while there is room and dropped
// after. Bytes read beyond the held ones are not tested for binary content.
void BLex2_Skip(BLex2* lex, int n);
// Consumes bytes up to, not including, the first byte equal to stop1 or
// stop2, the end of the input, or max bytes, whichever comes first, and
// returns how many it consumed. Each byte is tested for binary content as a
// peek tests it (BLex2_Err_BinaryCannotParse, 323) and appended to the record
// while recording is on (held bytes as BLex2_Skip appends them: keep max
// within the record's room). A stop byte read from the file is held, as a
// peek would hold it.
int BLex2_SkipUntil(BLex2* lex, int stop1, int stop2, int max);
// Returns Peek(0) and consumes one byte.
int BLex2_GetChar(BLex2* lex);
// The compare function of BLex2_Match: (bytes ahead, literal, length) -> 0
// when equal.
using BLex2_CompareFunc = int (*)(const char*, const char*, size_t);
// Compares n bytes, ASCII letters without case, every other byte exactly, as
// the Windows run-time's _strnicmp does; does not depend on the locale. The
// compare for case-blind matches (BLex2_Match(lex, "</title>", BLex2_StrNICmp)).
int BLex2_StrNICmp(const char* a, const char* b, size_t n);
// Returns compare(bytes ahead, literal, strlen(literal)): 0 when the bytes
// ahead equal the literal. Fewer bytes left in the file (or in the buffer's
// capacity) than the literal's length give no match (1). Consumes nothing.
int BLex2_Match(BLex2* lex, const char* literal, BLex2_CompareFunc compare);
// Classifies the bytes at offset ahead (StrX_JisEscapeKind): StrX_Jis_TwoByte
// (4) for ESC $ @ or ESC $ B, StrX_Jis_OneByte (5) for ESC ( followed by H, B,
// J or I, else StrX_Jis_None (0). Consumes nothing.
int BLex2_JisEscape(BLex2* lex, int offset);
// Follows an ISO-2022-JP escape at the read point: given whether two-byte text
// was in force, returns whether it is after the escape: true after ESC $ @ /
// ESC $ B and after ESC ( I (half-width katakana, whose bytes are parts of
// characters too), false after the other ESC ( escapes, unchanged when no
// such escape stands there. Consumes nothing.
bool BLex2_StepJisMode(BLex2* lex, bool twoByte);
// Consumes space, TAB, LF, VT, FF and CR bytes; returns the LF bytes passed.
int BLex2_SkipSpace(BLex2* lex);
// Reads one word into out[0, size): SkipSpace; at the end returns 0 and leaves
// out untouched. A word opening with '"' runs to the closing '"' (consumed),
// and the byte after it is consumed and returned (-1 at the end). Any other
// word runs to a byte of delims (consumed, not stored) or the end (-1), its
// trailing blanks (0x20) removed; that byte is returned. Both stop after size
// - 1 stored bytes: the next byte is then consumed, not stored, and returned.
// out is NUL-terminated when size >= 1 (size <= 0 stores nothing).
// ISO-2022-JP two-byte text inside the word (from ESC $ @ or ESC $ B to
// ESC ( B/J/H/I) is taken whole, escapes included: its bytes are halves of
// characters, so a '"', a blank or a delimiter byte there ends nothing.
int BLex2_ReadWord(BLex2* lex, char* out, int size, const char* delims);
// Reads the tag whose '<' is the byte ahead into tag, as browsers read a tag:
// its name and at most n = tableBytes / 8 attributes name[=value], separated
// by white space (blank, TAB, LF, CR, FF); blanks may stand around '='. A name
// ends at white space, '=' or '>'; a name without '=' has an empty value. A
// value opening with a double or a single quote runs to the same quote, which
// is consumed; any other value ends at white space or '>'. A quote elsewhere
// is an ordinary byte. Names fold to lower case (ASCII letters,
// Shift_JIS-aware), values stay as written; ISO-2022-JP two-byte text inside
// a name or value is taken whole, as BLex2_ReadWord takes it. The closing
// '>' is consumed. Names and values are taken from pool (StrX_Mem_Alloc,
// which raises StrX_Err_MemEmpty 3180 when it is full) and cut to its room,
// the bytes that do not fit left unread; the slots from table. With n
// attributes read before the '>', the rest of the tag stays unread; at the
// end of the file empty names and values fill up to n.
void BLex2_ReadTag(BLex2* lex, BLex2_Tag* tag, StrX_Mem* pool, void* table, int tableBytes);
// Returns the name / value of attribute i (0 <= i < count).
const char* BLex2_AttrName(const BLex2_Tag* tag, int i);
const char* BLex2_AttrValue(const BLex2_Tag* tag, int i);
// Returns the value of the first attribute whose name equals name exactly
// (names are stored in lower case), or nullptr.
const char* BLex2_GetAttr(const BLex2_Tag* tag, const char* name);

// ---- Recording -------------------------------------------------------------

// Makes the record an empty ArrX_Buf over buf[0, size).
void BLex2_SetRecordBuf(BLex2* lex, void* buf, int size);
// Empties the record (last = first).
void BLex2_ClearRecord(BLex2* lex);
// Sets recording on.
void BLex2_StartRecord(BLex2* lex);
// Sets recording off and terminates the recorded text: a NUL is appended, or,
// when the record is full, its last byte becomes NUL; then last moves back over
// every trailing NUL (not before first). Returns the record: the text starts
// at first, last marks its end.
ArrX_Buf* BLex2_EndRecord(BLex2* lex);
// Returns the record.
ArrX_Buf* BLex2_GetRecord(BLex2* lex);

// ---- Tokens, positions and lines --------------------------------------------

// Sets tokenType and tokenLen and fills tokenLen bytes.
void BLex2_SetToken(BLex2* lex, int type, int len);
// Copies the token's held bytes (at most size - 1) into out and terminates it;
// returns the count copied. size <= 0 copies nothing.
int BLex2_GetTokenText(BLex2* lex, char* out, int size);
// Consumes tokenLen bytes.
void BLex2_SkipToken(BLex2* lex);
// Seeks the file to its start and empties the buffer; returns 0, or -1 when
// the file cannot seek (the reader is then unchanged).
int BLex2_Rewind(BLex2* lex);
// Returns the file position of the read point: the file's position less the
// held bytes, counting each held LF as two (text mode shortened CR LF to LF).
// -1 when the file cannot tell.
long BLex2_Tell(BLex2* lex);
// Seeks to a position given by BLex2_Tell, empties the buffer and fills it 31
// bytes ahead; returns 0, or -1 when the file cannot seek.
int BLex2_Seek(BLex2* lex, long pos);
// Consumes space-class bytes other than LF; returns 1 when an LF stands next
// (the LF is not consumed), else 0 (also at the end of the file).
int BLex2_SkipBlankRest(BLex2* lex);
// Consumes up to the first CR, LF or the end, then every CR and LF after it;
// returns the next byte (-1 at the end).
int BLex2_SkipLine(BLex2* lex);
// Consumes bytes until literal matches ahead (strncmp) or the file ends;
// returns 0 when found (the literal is not consumed), -1 at the end.
int BLex2_SkipTo(BLex2* lex, const char* literal);
// The same with BLex2_StrCmp2 (pattern, caseFlag).
int BLex2_SkipToPattern(BLex2* lex, const char* pattern, int caseFlag);
// Matches pattern against the bytes ahead without consuming. Pattern bytes
// equal the input, ASCII case folded unless (caseFlag & 0xFF) is non-zero;
// "%*x" skips input through the next byte x; "%H" needs a space or TAB and
// skips all of them (no space or TAB ahead: mismatch); "%h" skips any spaces
// and TABs; "%n" any spaces, TABs, CR and LF; "%%" and '%' before any other
// byte stand for '%'. Returns 0 when the pattern ends, -1 on a mismatch or the
// end of the file, which is tested first (so a match reaching the file's last
// byte gives -1). A match needing more bytes than the capacity writes
// "BLex2_StrCmp2() : buf over" to standard error and exits with status 1.
int BLex2_StrCmp2(BLex2* lex, const char* pattern, int caseFlag);
// Returns the first literal of list (an ArrX_Buf of const char* pointers) that
// matches ahead (strncmp), or nullptr.
const char* BLex2_MatchAny(BLex2* lex, const ArrX_Buf* list);
// True when a digit, or '.' and a digit, stand ahead.
bool BLex2_IsNumberStart(BLex2* lex);
// The same, optionally after one '+' or '-'.
bool BLex2_IsSignedNumberStart(BLex2* lex);
// True when count copies of ch stand in a row somewhere before the next LF
// (within the capacity); count <= 0 is true.
bool BLex2_IsRunInLine(BLex2* lex, int ch, int count);
// Returns the offset of the first ch before the next LF, or -1 (also beyond
// the capacity).
int BLex2_FindInLine(BLex2* lex, int ch);
// Copies up to size - 1 bytes ahead into out (terminated) without consuming;
// returns the count, or -1 when the file ended first (what was there is still
// copied). The capacity also bounds the count.
int BLex2_PeekStr(BLex2* lex, char* out, int size);
// Consumes up to the next LF or the end (the LF stays), storing the first size
// - 1 bytes in out (terminated); returns the stopping byte ('\n' or -1).
int BLex2_ReadLine(BLex2* lex, char* out, int size);
// Reads an optional '-' and decimal digits; returns the value (wraps on
// overflow). Nothing is consumed when no digit follows the sign position.
int BLex2_ReadInt(BLex2* lex);
// Reads an optional '-' and hexadecimal digits (either case); returns the value.
int BLex2_ReadHex(BLex2* lex);
// After BLex2_IsSignedNumberStart: reads up to 255 bytes of a sign, digits,
// one '.', one 'e' or 'E' and a sign after it, and returns their value (read
// with the C rules, whatever the process locale); 0 when no number stands
// ahead. Takes a 256-byte scratch buffer (BigStack_Full 281 when there is no
// room).
double BLex2_ReadReal(BLex2* lex);
// Reads one comma-separated field into out[0, size): a field opening with '"'
// runs to the closing '"' (consumed; two in a row stand for one) or the end;
// any other runs to ',', LF or the end (not consumed). Stores the first size -
// 1 bytes (terminated; size <= 0 stores nothing); returns the end of the
// stored text.
char* BLex2_ReadQuotedField(BLex2* lex, char* out, int size);

// ---- Identifiers -------------------------------------------------------------
// An identifier starts with an ASCII letter or '_' and goes on over letters,
// digits and '_'; it ends before any other byte (a Shift_JIS lead byte too).

// True when an identifier starts ahead.
bool BLex2_IsIdentStart(BLex2* lex);
// Returns the length of the identifier ahead (0 when none), within the capacity.
int BLex2_IdentLen(BLex2* lex);
// Consumes the identifier ahead, storing at most size - 2 bytes in out
// (terminated when size >= 1); returns its whole length (0 when none).
int BLex2_ReadIdent(BLex2* lex, char* out, int size);
// The same without consuming.
int BLex2_PeekIdent(BLex2* lex, char* out, int size);
// Consumes a run of identifiers and Shift_JIS double-byte characters, joined by
// single blanks or TABs that stand between two of them, into out[0, size)
// (terminated, never splitting a double-byte character; what does not fit is
// consumed and dropped). Returns the bytes stored.
int BLex2_ReadIdentWords(BLex2* lex, char* out, int size);

// ---- C-style comments ----------------------------------------------------------

// True when "/*" stands ahead.
bool BLex2_IsBlockComment(BLex2* lex);
// True when "//" stands ahead.
bool BLex2_IsLineComment(BLex2* lex);
// Consumes the block comment ahead through "*/"; returns the LF bytes in it.
// Raises BLex2_Err_NoCommentEnd (324, "コメントの終端がありません") when the
// file ends first.
int BLex2_SkipBlockComment(BLex2* lex);
// Consumes the line comment ahead up to its LF (the LF stays).
void BLex2_SkipLineComment(BLex2* lex);
// Consumes white space and comments of both kinds; returns the LF bytes passed.
// Raises 324 as BLex2_SkipBlockComment.
int BLex2_SkipSpaceComment(BLex2* lex);

// ---- Line and column ---------------------------------------------------------

struct BLex2_Pos {
    int32_t line;    // from 1
    int32_t column;  // from 1
};
// Sets line 1, column 1.
void BLex2_Pos_Init(BLex2_Pos* pos);
// Steps over one byte: an LF starts the next line at column 1; any other byte
// moves one column on (-1, no byte, moves nothing).
void BLex2_Pos_Step(BLex2_Pos* pos, int byte);
// BLex2_GetChar, stepping pos over the byte.
int BLex2_GetCharPos(BLex2* lex, BLex2_Pos* pos);

// ---- Bracket stack ------------------------------------------------------------

// One stored opening: its byte and where it opened (12 bytes).
struct BLex2_KakkoEntry {
    int32_t open;  // '(', '[' or '{'
    BLex2_Pos pos;
};
struct BLex2_Kakko {
    BLex2_KakkoEntry* entries;  // the caller's buffer
    int32_t max;                // entries that fit in it
    int32_t depth;              // open brackets, also those beyond the buffer
};
// Binds the stack to a caller buffer of bytes bytes (bytes / 12 entries); empty.
void BLex2_Kakko_Init(BLex2_Kakko* stack, void* buf, int bytes);
// Pushes an opening bracket and its position; beyond the buffer only the depth
// grows.
void BLex2_Kakko_Push(BLex2_Kakko* stack, int open, const BLex2_Pos* pos);
// Pops for the closing bracket close (')', ']' or '}') met at pos. Raises
// BLex2_Err_DefferentKakkoType (322, "括弧の対応関係がおかしい '%c'～'%c'
// ファイル:%s 行:%d～%d": opening, closing, FileX_GetFileName of the reader's
// file, opening line, closing line) when the innermost stored opening is of
// another kind. Returns the opening byte, or 0 when none is stored (an empty
// stack stays empty; beyond the buffer only the depth falls).
int BLex2_Kakko_Pop(BLex2* lex, BLex2_Kakko* stack, int close, const BLex2_Pos* pos);
// Returns the number of open brackets.
int BLex2_Kakko_Depth(const BLex2_Kakko* stack);

// ---- Comment and quote states ------------------------------------------------
// A C-like scanner calls a Step once per position and then BLex2_SkipToken; the
// Step sets the token: "/*" 258, "*/" 259, "//" 260 (length 2 each), an escape
// inside quotes 261 (length 2), any other byte BLex2_Token_Char (length 1; 0
// at the end of the file).

struct BLex2_CommentState {
    unsigned char inBlock;  // inside /* */
    unsigned char inLine;   // inside // up to the LF
};
void BLex2_CommentState_Init(BLex2_CommentState* state);
// Looks at the bytes ahead, updates state and sets the token; returns true when
// the token belongs to a comment (its opener and closer included).
bool BLex2_CommentState_Step(BLex2* lex, BLex2_CommentState* state);

struct BLex2_QuoteState {
    int32_t quote;  // the open quote ('"' or '\''), 0 outside quotes
};
void BLex2_QuoteState_Init(BLex2_QuoteState* state);
// Looks at the bytes ahead, updates state and sets the token; returns true when
// the token lies inside quotes (the quotes themselves included).
bool BLex2_QuoteState_Step(BLex2* lex, BLex2_QuoteState* state);

// ---- Printing ------------------------------------------------------------------

// Writes "<%s" with the name, " %s=\"%s\"" per attribute and ">" to stdout.
void BLex2_PrintTag(const BLex2_Tag* tag);
// The same to file, with the tag name in ASCII capitals.
void BLex2_FPrintTag(FILE* file, const BLex2_Tag* tag);
