#include "components/blex2.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "components/bigstack.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/filex.h"
#include "components/strx.h"
#include "platform/codepage.h"

namespace {

// Control bytes that text may hold: TAB, LF, CR, SO, SI, Ctrl-Z, ESC.
bool isTextControl(int c) {
    return c == 0x09 || c == 0x0A || c == 0x0D || c == 0x0E || c == 0x0F || c == 0x1A || c == 0x1B;
}

// The one refusal of a file that is not text: true, after reporting
// BLex2_Err_BinaryCannotParse with the byte and the file's name, when c (a
// byte read from lex's file) is a control byte no text holds. False for a
// text byte and for the end of the file (-1).
bool refusedByte(const BLex2* lex, int c) {
    if (c < 0 || c >= 0x20 || isTextControl(c)) return false;
    ERRORS_REPORT(BLex2_Err_BinaryCannotParse, "バイナリファイルは読みこめません char=(%d) in %s",
                  c, lex->name);
    return true;
}

// The run-time's space class: space, TAB, LF, VT, FF, CR.
bool isSpaceByte(int c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}
bool isDigitByte(int c) {
    return c >= '0' && c <= '9';
}
bool isHexByte(int c) {
    return isDigitByte(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isLetterByte(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isIdentStartByte(int c) {
    return isLetterByte(c) || c == '_';
}
bool isIdentByte(int c) {
    return isIdentStartByte(c) || isDigitByte(c);
}
bool isLeadByte(int c) {
    return c >= 0 && CodePage_IsLead(static_cast<unsigned char>(c));
}

bool isDelim(int c, const char* delims) {
    if (c <= 0 || !delims) return false;
    for (const char* d = delims; *d; d++)  // a set of a byte or two: no strchr call
        if (static_cast<unsigned char>(*d) == c) return true;
    return false;
}

// Folds the ASCII capitals of a NUL-terminated text, stepping over the trail
// byte of every double-byte character.
void foldLower(char* text) {
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; p++) {
        if (CodePage_IsLead(*p)) {
            if (!p[1]) break;
            p++;
        } else {
            *p = static_cast<unsigned char>(CodePage_ToLower(*p));
        }
    }
}

// Appends the first n held bytes to the record; a full record's ArrX_Err_Full
// is relabelled as code 325 and raised again.
// BLex2_Fill, called only when the bytes held do not reach upTo already (the
// scanner peeks a few bytes ahead at every byte, and most of those peeks find
// the bytes held).
inline void fillTo(BLex2* lex, int upTo) {
    if (lex->nBuf < upTo && lex->nBuf < lex->bufSize) BLex2_Fill(lex, upTo);
}

// BLex2_Peek(lex, 0) and BLex2_GetChar without the calls when the byte is
// held (and, for taking it, nothing is recorded): words and tags are read a
// byte at a time.
inline int peek0(BLex2* lex) {
    return lex->nBuf > 0 ? lex->buf[0] : BLex2_Peek(lex, 0);
}

inline int takeByte(BLex2* lex) {
    if (lex->nBuf == 0 || lex->recording) return BLex2_GetChar(lex);
    const int c = lex->buf[0];
    if (--lex->nBuf > 0) memmove(lex->buf, lex->buf + 1, static_cast<size_t>(lex->nBuf));
    return c;
}

void appendRelabelled(BLex2* lex, int n) {
    EXCEPT3_TRY([&] { ArrX_Buf_AppendRange(&lex->record, lex->buf, lex->buf + n); },
                [&] {
                    Errors_Msg* msg = Except3_GetSys()->msg;
                    if (msg->code == ArrX_Err_Full.code) {
                        char file[sizeof msg->file];
                        memcpy(file, msg->file, sizeof file);
                        Errors_Msg_Set(msg, msg->id, BLex2_Code_RecordFull, file, msg->line,
                                       "記録バッファが満杯です");
                    }
                    Except3_Rethrow();
                });
}

// Takes a new string from the pool; nullptr when the pool is full and its
// report returned (no hook installed).
char* takeString(StrX_Mem* pool) {
    char* s = StrX_Mem_Alloc(pool);
    return (s && s < pool->end) ? s : nullptr;
}

void storeSlot(BLex2_Slot* slots, int i, const char* base, const char* text) {
    BLex2_Slot ofs = static_cast<BLex2_Slot>(text - base);
    memcpy(reinterpret_cast<unsigned char*>(slots) + i * sizeof ofs, &ofs, sizeof ofs);
}

const char* loadSlot(const BLex2_Slot* slots, int i, const char* base) {
    BLex2_Slot ofs;
    memcpy(&ofs, reinterpret_cast<const unsigned char*>(slots) + i * sizeof ofs, sizeof ofs);
    return base + ofs;
}

}  // namespace

// ---- Opening, peeking and consuming ------------------------------------------

void BLex2_Open(BLex2* lex, const char* name, unsigned char* buf, int size) {
    lex->file = nullptr;
    lex->buf = buf;
    lex->bufSize = size > 0 ? size : 0;
    lex->nBuf = 0;
    lex->tokenType = BLex2_Token_Char;
    lex->tokenLen = 0;
    lex->record = ArrX_Buf{nullptr, nullptr, nullptr};
    lex->recording = 0;
    const char* kept = name ? name : BLex2_StdinName;
    size_t len = strlen(kept);
    if (len > sizeof lex->name - 1) len = sizeof lex->name - 1;
    memcpy(lex->name, kept, len);
    lex->name[len] = '\0';
    lex->file =
        name ? FileX_OpenReader(name, BLex2_BlockSize) : TextRead_OpenStdin(BLex2_BlockSize);
}

void BLex2_Close(BLex2* lex) {
    TextRead_Close(lex->file);  // the standard input itself stays open
    lex->file = nullptr;
}

void BLex2_Fill(BLex2* lex, int upTo) {
    if (upTo > lex->bufSize) upTo = lex->bufSize;
    if (!lex->file) return;
    while (lex->nBuf < upTo) {
        int c = TextRead_Get(lex->file);
        if (c < 0) return;
        if (refusedByte(lex, c)) return;  // the report returned (no hook): the byte is dropped
        lex->buf[lex->nBuf++] = static_cast<unsigned char>(c);
    }
}

int BLex2_Peek(BLex2* lex, int n) {
    if (n < 0 || n >= lex->bufSize) return -1;
    fillTo(lex, n + 1);
    return n < lex->nBuf ? lex->buf[n] : -1;
}

void BLex2_Skip(BLex2* lex, int n) {
    if (n <= 0) return;
    if (n < lex->nBuf) {
        if (lex->recording) appendRelabelled(lex, n);
        memmove(lex->buf, lex->buf + n, lex->nBuf - n);
        lex->nBuf -= n;
        return;
    }
    if (lex->recording && lex->nBuf > 0)
        ArrX_Buf_AppendRange(&lex->record, lex->buf, lex->buf + lex->nBuf);
    int rest = n - lex->nBuf;
    lex->nBuf = 0;
    for (; rest > 0 && lex->file; rest--) {
        int c = TextRead_Get(lex->file);
        if (c < 0) break;
        if (lex->recording) ArrX_Buf_AddByte(&lex->record, static_cast<unsigned char>(c));
    }
}

int BLex2_SkipUntil(BLex2* lex, int stop1, int stop2, int max) {
    // The held bytes first, then straight from the reader: a page's text
    // between tags is passed over without a peek per byte.
    int n = 0;
    while (n < lex->nBuf && n < max && lex->buf[n] != stop1 && lex->buf[n] != stop2) n++;
    const bool heldAll = n == lex->nBuf;
    BLex2_Skip(lex, n);
    if (!heldAll || n == max || !lex->file) return n;
    while (n < max) {
        const int c = TextRead_Get(lex->file);
        if (c < 0) break;
        if (refusedByte(lex, c)) continue;  // the report returned (no hook): the byte is dropped
        if (c == stop1 || c == stop2) {
            lex->buf[lex->nBuf++] = static_cast<unsigned char>(c);
            break;
        }
        if (lex->recording) ArrX_Buf_AddByte(&lex->record, static_cast<unsigned char>(c));
        n++;
    }
    return n;
}

int BLex2_GetChar(BLex2* lex) {
    int c = BLex2_Peek(lex, 0);
    BLex2_Skip(lex, 1);
    return c;
}

int BLex2_StrNICmp(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        int ca = CodePage_ToLower(static_cast<unsigned char>(a[i]));
        int cb = CodePage_ToLower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca - cb;
        if (ca == 0) break;
    }
    return 0;
}

int BLex2_Match(BLex2* lex, const char* literal, BLex2_CompareFunc compare) {
    size_t len = strlen(literal);
    if (len == 0) return 0;
    if (len > static_cast<size_t>(lex->bufSize)) return 1;
    fillTo(lex, static_cast<int>(len));
    if (static_cast<size_t>(lex->nBuf) < len) return 1;
    return compare(reinterpret_cast<const char*>(lex->buf), literal, len);
}

int BLex2_JisEscape(BLex2* lex, int offset) {
    if (offset < 0 || offset >= lex->bufSize) return 0;
    fillTo(lex, offset > lex->bufSize - 3 ? lex->bufSize : offset + 3);
    char bytes[4] = {0, 0, 0, 0};
    for (int i = 0; i < 3 && offset + i < lex->nBuf; i++)
        bytes[i] = static_cast<char>(lex->buf[offset + i]);
    return StrX_JisEscapeKind(bytes);
}

// Two-byte (kanji) and half-width katakana (ESC ( I) text is in force: its
// bytes are parts of characters (the kana ｢ is the byte of '"') and never end
// a word.
bool BLex2_StepJisMode(BLex2* lex, bool twoByte) {
    if (peek0(lex) != 0x1B) return twoByte;  // look no further ahead than needed
    const int kind = BLex2_JisEscape(lex, 0);
    if (kind == StrX_Jis_TwoByte) return true;
    if (kind == StrX_Jis_OneByte) return BLex2_Peek(lex, 2) == 'I';
    return twoByte;
}

int BLex2_SkipSpace(BLex2* lex) {
    int lf = 0;
    for (;;) {
        int c = peek0(lex);
        if (!isSpaceByte(c)) return lf;
        if (c == '\n') lf++;
        BLex2_Skip(lex, 1);
    }
}

namespace {

// Takes the next byte of a word as BLex2_StepJisMode and takeByte would, following
// the escapes into *twoByte; with nothing held and nothing recorded, straight
// from the reader instead of through a peek per byte.
int wordByte(BLex2* lex, bool* twoByte) {
    if (lex->nBuf > 0 || lex->recording || !lex->file) {
        *twoByte = BLex2_StepJisMode(lex, *twoByte);
        return takeByte(lex);
    }
    int c;
    do {
        c = TextRead_Get(lex->file);
    } while (refusedByte(lex, c));  // the report returned (no hook): the byte is dropped
    if (c != 0x1B) return c;
    lex->buf[0] = static_cast<unsigned char>(c);  // held again for the escape test
    lex->nBuf = 1;
    *twoByte = BLex2_StepJisMode(lex, *twoByte);
    return takeByte(lex);
}

// Whether the word may go on in runs by copyPlainRun: nothing held or
// recorded, and outside two-byte text.
bool runsAllowed(const BLex2* lex, bool twoByte) {
    return !twoByte && lex->nBuf == 0 && !lex->recording && lex->file;
}

// Copies the plain bytes of a word straight from the reader's buffer into
// out[stored, limit): bytes from 0x20 up that are none of stop1, stop2, stop3.
// A control byte (ESC, CR, a byte to report), a stop byte and the buffer's
// end are left to the byte-at-a-time path. Returns the new count stored.
int copyPlainRun(BLex2* lex, char* out, int stored, int limit, int stop1, int stop2,
                 int stop3 = -1) {
    TextRead* r = lex->file;
    unsigned char* p = r->next;
    unsigned char* end = r->end;
    if (end - p > limit - stored) end = p + (limit - stored);
    unsigned char* start = p;
    while (p < end && *p >= 0x20 && *p != stop1 && *p != stop2 && *p != stop3) p++;
    memcpy(out + stored, start, static_cast<size_t>(p - start));
    r->next = p;
    return stored + static_cast<int>(p - start);
}

// The white space that separates a tag's name and attributes, as browsers
// read it: blank, TAB, LF, FF, CR.
bool isTagSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Reads one part of a tag into out[0, size) and returns the bytes stored. A
// quoted part (quote is '"' or '\'', its opening quote already consumed) runs
// to that quote; any other part to tag white space, '>' or, with stopAtEq,
// '='. ISO-2022-JP two-byte and half-width kana text is taken whole, as
// BLex2_ReadWord takes it. The byte that ended the part stays unread; so do
// the bytes that did not fit after size - 1 were stored. out is
// NUL-terminated when size >= 1.
int readTagPart(BLex2* lex, char* out, int size, int quote, bool stopAtEq) {
    const int stop1 = quote ? quote : ' ';
    const int stop2 = quote ? -1 : '>';
    const int stop3 = quote || !stopAtEq ? -1 : '=';
    int stored = 0;
    bool twoByte = false;
    for (;;) {
        if (stored < size - 1 && runsAllowed(lex, twoByte))
            stored = copyPlainRun(lex, out, stored, size - 1, stop1, stop2, stop3);
        const int c = peek0(lex);
        if (c == -1) break;
        if (c == 0x1B) twoByte = BLex2_StepJisMode(lex, twoByte);
        if (!twoByte &&
            (quote ? c == quote : (isTagSpace(c) || c == '>' || (stopAtEq && c == '='))))
            break;
        if (stored >= size - 1) break;
        out[stored++] = static_cast<char>(c);
        takeByte(lex);
    }
    if (size >= 1) out[stored] = '\0';
    return stored;
}

}  // namespace

int BLex2_ReadWord(BLex2* lex, char* out, int size, const char* delims) {
    BLex2_SkipSpace(lex);
    int c = peek0(lex);
    if (c == -1) return 0;
    int stored = 0;
    bool twoByte = false;
    if (c == '"') {
        BLex2_Skip(lex, 1);
        for (;;) {
            if (stored < size - 1 && runsAllowed(lex, twoByte))
                stored = copyPlainRun(lex, out, stored, size - 1, '"', '"');
            c = wordByte(lex, &twoByte);
            if (c == '"' && !twoByte) {
                if (size >= 1) out[stored] = '\0';
                return takeByte(lex);
            }
            if (c == -1 || stored >= size - 1) break;
            out[stored++] = static_cast<char>(c);
        }
        if (size >= 1) out[stored] = '\0';
        return c;
    }
    // Runs stop at up to two delimiters; a longer set is read a byte at a time.
    const size_t nDelims = delims ? strlen(delims) : 0;
    const int stop1 = nDelims > 0 ? static_cast<unsigned char>(delims[0]) : -1;
    const int stop2 = nDelims > 1 ? static_cast<unsigned char>(delims[1]) : -1;
    for (;;) {
        if (stored < size - 1 && nDelims <= 2 && runsAllowed(lex, twoByte))
            stored = copyPlainRun(lex, out, stored, size - 1, stop1, stop2);
        c = wordByte(lex, &twoByte);
        if (c == -1 || (!twoByte && isDelim(c, delims)) || stored >= size - 1) break;
        out[stored++] = static_cast<char>(c);
    }
    while (stored > 0 && out[stored - 1] == ' ') stored--;
    if (size >= 1) out[stored] = '\0';
    return c;
}

void BLex2_ReadTag(BLex2* lex, BLex2_Tag* tag, StrX_Mem* pool, void* table, int tableBytes) {
    const int n = tableBytes > 0 ? tableBytes / 8 : 0;
    tag->attrNames = static_cast<BLex2_Slot*>(table);
    tag->attrValues =
        reinterpret_cast<BLex2_Slot*>(static_cast<unsigned char*>(table) + n * sizeof(BLex2_Slot));
    tag->count = 0;
    tag->base = pool->start;
    tag->name = takeString(pool);
    if (!tag->name) return;
    BLex2_Skip(lex, 1);
    BLex2_SkipSpace(lex);
    readTagPart(lex, tag->name, StrX_Mem_Left(pool), 0, false);
    foldLower(tag->name);
    for (;;) {
        // The byte after the name or a value: '>' ends the tag, white space
        // goes; with a full table the rest of the tag stays unread.
        const int c = peek0(lex);
        if (c == '>') {
            BLex2_Skip(lex, 1);
            return;
        }
        if (tag->count >= n) return;
        BLex2_SkipSpace(lex);
        if (peek0(lex) == '>') continue;
        char* name = takeString(pool);
        if (!name) return;
        readTagPart(lex, name, StrX_Mem_Left(pool), 0, true);
        foldLower(name);
        char* value = takeString(pool);
        if (!value) return;
        // Blanks may stand around '='; without '=' the value is empty.
        BLex2_SkipSpace(lex);
        if (peek0(lex) == '=') {
            BLex2_Skip(lex, 1);
            BLex2_SkipSpace(lex);
            const int quote = peek0(lex);
            if (quote == '"' || quote == '\'') {
                BLex2_Skip(lex, 1);
                readTagPart(lex, value, StrX_Mem_Left(pool), quote, false);
                if (peek0(lex) == quote) BLex2_Skip(lex, 1);
            } else {
                readTagPart(lex, value, StrX_Mem_Left(pool), 0, false);
            }
        }
        storeSlot(tag->attrNames, tag->count, tag->base, name);
        storeSlot(tag->attrValues, tag->count, tag->base, value);
        tag->count++;
    }
}

const char* BLex2_AttrName(const BLex2_Tag* tag, int i) {
    return loadSlot(tag->attrNames, i, tag->base);
}

const char* BLex2_AttrValue(const BLex2_Tag* tag, int i) {
    return loadSlot(tag->attrValues, i, tag->base);
}

const char* BLex2_GetAttr(const BLex2_Tag* tag, const char* name) {
    for (int i = 0; i < tag->count; i++)
        if (strcmp(BLex2_AttrName(tag, i), name) == 0) return BLex2_AttrValue(tag, i);
    return nullptr;
}

// ---- Recording ---------------------------------------------------------------

void BLex2_SetRecordBuf(BLex2* lex, void* buf, int size) {
    ArrX_Buf_Init(&lex->record, buf, size > 0 ? static_cast<size_t>(size) : 0);
}

void BLex2_ClearRecord(BLex2* lex) {
    lex->record.last = lex->record.first;
}

void BLex2_StartRecord(BLex2* lex) {
    lex->recording = 1;
}

ArrX_Buf* BLex2_EndRecord(BLex2* lex) {
    lex->recording = 0;
    ArrX_Buf* r = &lex->record;
    if (!r->first) return r;
    ArrX_Buf_AddNul(r);
    char* first = static_cast<char*>(r->first);
    char* last = static_cast<char*>(r->last);
    while (last > first && last[-1] == '\0') last--;
    r->last = last;
    return r;
}

ArrX_Buf* BLex2_GetRecord(BLex2* lex) {
    return &lex->record;
}

// ---- Tokens, positions and lines ------------------------------------------------

void BLex2_SetToken(BLex2* lex, int type, int len) {
    lex->tokenType = type;
    lex->tokenLen = len;
    BLex2_Fill(lex, len);
}

int BLex2_GetTokenText(BLex2* lex, char* out, int size) {
    if (size <= 0) return 0;
    int n = lex->tokenLen;
    if (n > lex->nBuf) n = lex->nBuf;
    if (n > size - 1) n = size - 1;
    if (n < 0) n = 0;
    memcpy(out, lex->buf, n);
    out[n] = '\0';
    return n;
}

void BLex2_SkipToken(BLex2* lex) {
    BLex2_Skip(lex, lex->tokenLen);
}

int BLex2_Rewind(BLex2* lex) {
    if (!lex->file || !TextRead_Seek(lex->file, 0)) return -1;
    lex->nBuf = 0;
    return 0;
}

long BLex2_Tell(BLex2* lex) {
    if (!lex->file) return -1;
    long pos = static_cast<long>(TextRead_Tell(lex->file));
    long held = lex->nBuf;
    for (int i = 0; i < lex->nBuf; i++)
        if (lex->buf[i] == '\n') held++;
    return pos - held;
}

int BLex2_Seek(BLex2* lex, long pos) {
    if (!lex->file || !TextRead_Seek(lex->file, pos)) return -1;
    lex->nBuf = 0;
    BLex2_Fill(lex, 31);
    return 0;
}

int BLex2_SkipBlankRest(BLex2* lex) {
    for (;;) {
        int c = BLex2_Peek(lex, 0);
        if (c == '\n') return 1;
        if (!isSpaceByte(c)) return 0;
        BLex2_Skip(lex, 1);
    }
}

int BLex2_SkipLine(BLex2* lex) {
    int c;
    while ((c = BLex2_Peek(lex, 0)) != -1 && c != '\r' && c != '\n') BLex2_Skip(lex, 1);
    while ((c = BLex2_Peek(lex, 0)) == '\r' || c == '\n') BLex2_Skip(lex, 1);
    return c;
}

int BLex2_SkipTo(BLex2* lex, const char* literal) {
    while (BLex2_Match(lex, literal, strncmp) != 0) {
        if (BLex2_Peek(lex, 0) == -1) return -1;
        BLex2_Skip(lex, 1);
    }
    return 0;
}

int BLex2_SkipToPattern(BLex2* lex, const char* pattern, int caseFlag) {
    while (BLex2_StrCmp2(lex, pattern, caseFlag) != 0) {
        if (BLex2_Peek(lex, 0) == -1) return -1;
        BLex2_Skip(lex, 1);
    }
    return 0;
}

namespace {

// The byte i ahead for BLex2_StrCmp2; a position beyond the capacity ends the
// program.
int strCmp2Byte(BLex2* lex, int i) {
    if (i >= lex->bufSize) {
        fputs("BLex2_StrCmp2() : buf over\n", stderr);
        exit(1);
    }
    return BLex2_Peek(lex, i);
}

}  // namespace

int BLex2_StrCmp2(BLex2* lex, const char* pattern, int caseFlag) {
    const bool exact = (caseFlag & 0xFF) != 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern);
    int i = 0;
    for (;;) {
        int c = strCmp2Byte(lex, i);
        if (c == -1) return -1;
        if (*p == 0) return 0;
        if (p[0] == '%' && p[1] == '*' && p[2]) {
            const int x = p[2];
            while (c != x) {
                c = strCmp2Byte(lex, ++i);
                if (c == -1) return -1;
            }
            i++;
            p += 3;
        } else if (p[0] == '%' && p[1] == 'H') {
            if (c != ' ' && c != '\t') return -1;
            while (c == ' ' || c == '\t') c = strCmp2Byte(lex, ++i);
            p += 2;
        } else if (p[0] == '%' && p[1] == 'h') {
            while (c == ' ' || c == '\t') c = strCmp2Byte(lex, ++i);
            p += 2;
        } else if (p[0] == '%' && p[1] == 'n') {
            while (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = strCmp2Byte(lex, ++i);
            p += 2;
        } else {
            const int want = *p;
            p += (p[0] == '%' && p[1] == '%') ? 2 : 1;
            if (exact ? c != want : CodePage_ToLower(c) != CodePage_ToLower(want)) return -1;
            i++;
        }
    }
}

const char* BLex2_MatchAny(BLex2* lex, const ArrX_Buf* list) {
    const char* const* it = static_cast<const char* const*>(list->first);
    const char* const* end = static_cast<const char* const*>(list->last);
    for (; it < end; it++)
        if (*it && BLex2_Match(lex, *it, strncmp) == 0) return *it;
    return nullptr;
}

bool BLex2_IsNumberStart(BLex2* lex) {
    int c = BLex2_Peek(lex, 0);
    return isDigitByte(c) || (c == '.' && isDigitByte(BLex2_Peek(lex, 1)));
}

bool BLex2_IsSignedNumberStart(BLex2* lex) {
    int c = BLex2_Peek(lex, 0);
    int at = (c == '+' || c == '-') ? 1 : 0;
    c = BLex2_Peek(lex, at);
    return isDigitByte(c) || (c == '.' && isDigitByte(BLex2_Peek(lex, at + 1)));
}

bool BLex2_IsRunInLine(BLex2* lex, int ch, int count) {
    if (count <= 0) return true;
    int run = 0;
    for (int i = 0;; i++) {
        int c = BLex2_Peek(lex, i);
        if (c == -1 || c == '\n') return false;
        run = (c == ch) ? run + 1 : 0;
        if (run >= count) return true;
    }
}

int BLex2_FindInLine(BLex2* lex, int ch) {
    for (int i = 0;; i++) {
        int c = BLex2_Peek(lex, i);
        if (c == -1 || c == '\n') return -1;
        if (c == ch) return i;
    }
}

int BLex2_PeekStr(BLex2* lex, char* out, int size) {
    if (size <= 0) return 0;
    const int want = size - 1;
    BLex2_Fill(lex, want);
    const int have = lex->nBuf < want ? lex->nBuf : want;
    memcpy(out, lex->buf, have);
    out[have] = '\0';
    const int reachable = want < lex->bufSize ? want : lex->bufSize;
    return have < reachable ? -1 : have;
}

int BLex2_ReadLine(BLex2* lex, char* out, int size) {
    int stored = 0, c;
    while ((c = BLex2_Peek(lex, 0)) != -1 && c != '\n') {
        if (stored < size - 1) out[stored++] = static_cast<char>(c);
        BLex2_Skip(lex, 1);
    }
    if (size >= 1) out[stored] = '\0';
    return c;
}

namespace {

// Reads an optional '-' and digits of the given base; wraps on overflow.
int readNumber(BLex2* lex, bool hex) {
    const bool neg = BLex2_Peek(lex, 0) == '-';
    auto isDigit = [hex](int c) { return hex ? isHexByte(c) : isDigitByte(c); };
    if (!isDigit(BLex2_Peek(lex, neg ? 1 : 0))) return 0;
    if (neg) BLex2_Skip(lex, 1);
    unsigned value = 0;
    for (int c; isDigit(c = BLex2_Peek(lex, 0)); BLex2_Skip(lex, 1)) {
        unsigned d = isDigitByte(c) ? c - '0' : (CodePage_ToLower(c) - 'a' + 10);
        value = value * (hex ? 16u : 10u) + d;
    }
    return static_cast<int>(neg ? 0u - value : value);
}

}  // namespace

int BLex2_ReadInt(BLex2* lex) {
    return readNumber(lex, false);
}

int BLex2_ReadHex(BLex2* lex) {
    return readNumber(lex, true);
}

double BLex2_ReadReal(BLex2* lex) {
    if (!BLex2_IsSignedNumberStart(lex)) return 0;
    BigStack* stack = BigStack_Sys();
    BigStack_Push(stack);
    double value = 0;
    EXCEPT3_TRY(
        [&] {
            char* text = static_cast<char*>(BigStack_Alloc(stack, 256));
            int n = 0;
            bool dot = false;
            bool exp = false;
            int c = BLex2_Peek(lex, 0);
            if (c == '+' || c == '-') {
                text[n++] = static_cast<char>(c);
                BLex2_Skip(lex, 1);
            }
            while (n < 255) {
                c = BLex2_Peek(lex, 0);
                if (isDigitByte(c)) {
                } else if (c == '.' && !dot && !exp) {
                    dot = true;
                } else if ((c == 'e' || c == 'E') && !exp) {
                    exp = true;
                    text[n++] = static_cast<char>(c);
                    BLex2_Skip(lex, 1);
                    c = BLex2_Peek(lex, 0);
                    if ((c == '+' || c == '-') && n < 255) {
                        text[n++] = static_cast<char>(c);
                        BLex2_Skip(lex, 1);
                    }
                    continue;
                } else {
                    break;
                }
                text[n++] = static_cast<char>(c);
                BLex2_Skip(lex, 1);
            }
            text[n] = '\0';
            // The C rules, whatever the locale: from_chars takes no '+'.
            const char* begin = text[0] == '+' ? text + 1 : text;
            std::from_chars(begin, text + n, value);
        },
        Except3_Rethrow, [&] { BigStack_Pop(stack); });
    return value;
}

char* BLex2_ReadQuotedField(BLex2* lex, char* out, int size) {
    int stored = 0;
    auto put = [&](int c) {
        if (stored < size - 1) out[stored++] = static_cast<char>(c);
    };
    if (BLex2_Peek(lex, 0) == '"') {
        BLex2_Skip(lex, 1);
        for (;;) {
            int c = BLex2_GetChar(lex);
            if (c == -1) break;
            if (c == '"') {
                if (BLex2_Peek(lex, 0) != '"') break;
                BLex2_Skip(lex, 1);
            }
            put(c);
        }
    } else {
        for (int c; (c = BLex2_Peek(lex, 0)) != -1 && c != ',' && c != '\n'; BLex2_Skip(lex, 1))
            put(c);
    }
    if (size >= 1) out[stored] = '\0';
    return out + stored;
}

// ---- Identifiers -----------------------------------------------------------------

bool BLex2_IsIdentStart(BLex2* lex) {
    return isIdentStartByte(BLex2_Peek(lex, 0));
}

int BLex2_IdentLen(BLex2* lex) {
    if (!BLex2_IsIdentStart(lex)) return 0;
    int i = 1;
    while (isIdentByte(BLex2_Peek(lex, i))) i++;
    return i;
}

int BLex2_ReadIdent(BLex2* lex, char* out, int size) {
    int len = 0, stored = 0;
    if (BLex2_IsIdentStart(lex)) {
        for (int c; isIdentByte(c = BLex2_Peek(lex, 0)); BLex2_Skip(lex, 1), len++)
            if (stored < size - 2) out[stored++] = static_cast<char>(c);
    }
    if (size >= 1) out[stored] = '\0';
    return len;
}

int BLex2_PeekIdent(BLex2* lex, char* out, int size) {
    const int len = BLex2_IdentLen(lex);
    int stored = len < size - 2 ? len : size - 2;
    if (stored < 0) stored = 0;
    memcpy(out, lex->buf, stored);
    if (size >= 1) out[stored] = '\0';
    return len;
}

int BLex2_ReadIdentWords(BLex2* lex, char* out, int size) {
    int stored = 0;
    bool dropping = false;
    bool any = false;
    auto put = [&](int at, int n) {
        if (!dropping && stored + n <= size - 1) {
            for (int k = 0; k < n; k++) out[stored++] = static_cast<char>(lex->buf[at + k]);
        } else {
            dropping = true;
        }
    };
    auto startsPiece = [&](int at) {
        int c = BLex2_Peek(lex, at);
        return isIdentStartByte(c) || (isLeadByte(c) && BLex2_Peek(lex, at + 1) != -1);
    };
    for (;;) {
        int c = BLex2_Peek(lex, 0);
        if (isIdentStartByte(c)) {
            while (isIdentByte(BLex2_Peek(lex, 0))) {
                put(0, 1);
                BLex2_Skip(lex, 1);
            }
        } else if (startsPiece(0)) {
            put(0, 2);
            BLex2_Skip(lex, 2);
        } else if (any && (c == ' ' || c == '\t') && startsPiece(1)) {
            put(0, 1);
            BLex2_Skip(lex, 1);
        } else {
            break;
        }
        any = true;
    }
    if (size >= 1) out[stored] = '\0';
    return stored;
}

// ---- C-style comments ------------------------------------------------------------

bool BLex2_IsBlockComment(BLex2* lex) {
    return BLex2_Match(lex, "/*", strncmp) == 0;
}

bool BLex2_IsLineComment(BLex2* lex) {
    return BLex2_Match(lex, "//", strncmp) == 0;
}

int BLex2_SkipBlockComment(BLex2* lex) {
    int lf = 0;
    BLex2_Skip(lex, 2);
    for (;;) {
        if (BLex2_Match(lex, "*/", strncmp) == 0) {
            BLex2_Skip(lex, 2);
            return lf;
        }
        int c = BLex2_GetChar(lex);
        if (c == -1) {
            ERRORS_REPORT(BLex2_Err_NoCommentEnd, "コメントの終端がありません");
            return lf;
        }
        if (c == '\n') lf++;
    }
}

void BLex2_SkipLineComment(BLex2* lex) {
    for (int c; (c = BLex2_Peek(lex, 0)) != -1 && c != '\n';) BLex2_Skip(lex, 1);
}

int BLex2_SkipSpaceComment(BLex2* lex) {
    int lf = 0;
    for (;;) {
        lf += BLex2_SkipSpace(lex);
        if (BLex2_IsBlockComment(lex))
            lf += BLex2_SkipBlockComment(lex);
        else if (BLex2_IsLineComment(lex))
            BLex2_SkipLineComment(lex);
        else
            return lf;
    }
}

// ---- Line and column ---------------------------------------------------------------

void BLex2_Pos_Init(BLex2_Pos* pos) {
    pos->line = 1;
    pos->column = 1;
}

void BLex2_Pos_Step(BLex2_Pos* pos, int byte) {
    if (byte == -1) return;
    if (byte == '\n') {
        pos->line++;
        pos->column = 1;
    } else {
        pos->column++;
    }
}

int BLex2_GetCharPos(BLex2* lex, BLex2_Pos* pos) {
    int c = BLex2_GetChar(lex);
    BLex2_Pos_Step(pos, c);
    return c;
}

// ---- Bracket stack ------------------------------------------------------------------

static_assert(sizeof(BLex2_KakkoEntry) == 12, "bracket entries are 12 bytes");

void BLex2_Kakko_Init(BLex2_Kakko* stack, void* buf, int bytes) {
    stack->entries = static_cast<BLex2_KakkoEntry*>(buf);
    stack->max = bytes > 0 ? bytes / static_cast<int>(sizeof(BLex2_KakkoEntry)) : 0;
    stack->depth = 0;
}

void BLex2_Kakko_Push(BLex2_Kakko* stack, int open, const BLex2_Pos* pos) {
    if (stack->depth >= 0 && stack->depth < stack->max) {
        BLex2_KakkoEntry entry{open, *pos};
        memcpy(&stack->entries[stack->depth], &entry, sizeof entry);
    }
    stack->depth++;
}

int BLex2_Kakko_Pop(BLex2* lex, BLex2_Kakko* stack, int close, const BLex2_Pos* pos) {
    if (stack->depth <= 0) return 0;
    stack->depth--;
    if (stack->depth >= stack->max) return 0;
    BLex2_KakkoEntry entry;
    memcpy(&entry, &stack->entries[stack->depth], sizeof entry);
    const int want = entry.open == '(' ? ')' : entry.open == '[' ? ']' : '}';
    if (close != want) {
        ERRORS_REPORT(BLex2_Err_DefferentKakkoType,
                      "括弧の対応関係がおかしい '%c'～'%c' ファイル:%s 行:%d～%d", entry.open,
                      close, FileX_GetFileName(lex->file), entry.pos.line, pos->line);
    }
    return entry.open;
}

int BLex2_Kakko_Depth(const BLex2_Kakko* stack) {
    return stack->depth;
}

// ---- Comment and quote states ----------------------------------------------------------

namespace {

// Sets the token for one ordinary character ahead: a double-byte character
// takes two bytes (its trail byte is never a quote, escape or comment byte);
// nothing at the end of the file.
void setCharToken(BLex2* lex) {
    int c = BLex2_Peek(lex, 0);
    int len = c == -1 ? 0 : (isLeadByte(c) && BLex2_Peek(lex, 1) != -1) ? 2 : 1;
    BLex2_SetToken(lex, BLex2_Token_Char, len);
}

}  // namespace

void BLex2_CommentState_Init(BLex2_CommentState* state) {
    state->inBlock = state->inLine = 0;
}

bool BLex2_CommentState_Step(BLex2* lex, BLex2_CommentState* state) {
    if (state->inBlock) {
        if (BLex2_Match(lex, "*/", strncmp) == 0) {
            BLex2_SetToken(lex, BLex2_Token_CommentEnd, 2);
            state->inBlock = 0;
        } else {
            setCharToken(lex);
        }
        return true;
    }
    if (state->inLine) {
        if (BLex2_Peek(lex, 0) != '\n') {
            setCharToken(lex);
            return true;
        }
        state->inLine = 0;
        setCharToken(lex);
        return false;
    }
    if (BLex2_Match(lex, "/*", strncmp) == 0) {
        BLex2_SetToken(lex, BLex2_Token_CommentBegin, 2);
        state->inBlock = 1;
        return true;
    }
    if (BLex2_Match(lex, "//", strncmp) == 0) {
        BLex2_SetToken(lex, BLex2_Token_LineComment, 2);
        state->inLine = 1;
        return true;
    }
    setCharToken(lex);
    return false;
}

void BLex2_QuoteState_Init(BLex2_QuoteState* state) {
    state->quote = 0;
}

bool BLex2_QuoteState_Step(BLex2* lex, BLex2_QuoteState* state) {
    const int c = BLex2_Peek(lex, 0);
    if (state->quote) {
        if (c == '\\') {
            const int next = BLex2_Peek(lex, 1);
            if (next == '"' || next == '\'' || next == '\\') {
                BLex2_SetToken(lex, BLex2_Token_Escape, 2);
                return true;
            }
        }
        setCharToken(lex);
        if (c == state->quote) state->quote = 0;
        return true;
    }
    setCharToken(lex);
    if (c == '"' || c == '\'') {
        state->quote = c;
        return true;
    }
    return false;
}

// ---- Printing ---------------------------------------------------------------------------

namespace {

void printTag(FILE* out, const BLex2_Tag* tag, bool capitals) {
    fputc('<', out);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(tag->name); p && *p; p++) {
        if (CodePage_IsLead(*p) && p[1]) {
            fputc(*p++, out);
            fputc(*p, out);
        } else {
            fputc(capitals ? CodePage_ToUpper(*p) : *p, out);
        }
    }
    for (int i = 0; i < tag->count; i++)
        fprintf(out, " %s=\"%s\"", BLex2_AttrName(tag, i), BLex2_AttrValue(tag, i));
    fputc('>', out);
}

}  // namespace

void BLex2_PrintTag(const BLex2_Tag* tag) {
    printTag(stdout, tag, false);
}

void BLex2_FPrintTag(FILE* file, const BLex2_Tag* tag) {
    printTag(file, tag, true);
}
