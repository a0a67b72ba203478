#include "app/crekey.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/kwf.h"
#include "components/bigstack.h"
#include "components/blex2.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/inifile.h"
#include "components/nestfind.h"
#include "components/strx.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/textread.h"

void CreKey_WriteHeader(IniWriter* writer, const char* base, const char* dispTarget) {
    CreKey_WriteHeaderAt(writer, base, dispTarget, time(nullptr));
}

void CreKey_WriteHeaderAt(IniWriter* writer, const char* base, const char* dispTarget,
                          time_t updateTime) {
    // Every key of the table, in its order.
    static_assert(Kwf_Key_Count == 8);
    const char* const* key = Kwf_KeyNames;
    IniFile_WriteSection(writer, "main");
    IniFile_WriteAttr(writer, key[Kwf_Key_Application], "s", "Tessaly!");
    IniFile_WriteAttr(writer, key[Kwf_Key_Version], "i", 100);
    IniFile_WriteAttr(writer, key[Kwf_Key_NewFile], "i", 0);
    IniFile_WriteAttr(writer, key[Kwf_Key_Base], "s", base);
    IniFile_WriteAttr(writer, key[Kwf_Key_Update], "t", &updateTime);
    IniFile_WriteAttr(writer, key[Kwf_Key_CanUpdate], "i", 1);
    IniFile_WriteAttr(writer, key[Kwf_Key_DispUrl], "s", "(default)");
    IniFile_WriteAttr(writer, key[Kwf_Key_DispTarget], "s", dispTarget);
    IniFile_WriteSection(writer, "links");
}

void CreKey_WriteLink(IniWriter* writer, const char* title, const char* keywords,
                      const char* relPath) {
    IniFile_WriteAttr(writer, "A", "sss", title, keywords, relPath);
}

// ---- The builder -------------------------------------------------------------

namespace {

constexpr int kLexBufSize = 32768;
constexpr int kTagPoolSize = 4096;
// 64 attribute name slots and 64 value slots: a page's keywords are found
// after as many other attributes as real pages put before them.
constexpr int kAttrTableSize = 512;
constexpr int kRecordSize = 400;
constexpr int kTitleSize = 400;
constexpr int kKeywordsSize = 4096;
constexpr int kRelPathSize = 260;
// The smallest line buffer of the header readers (Kwf_ReadUpdateTime): a
// header line must fit it whole, its NUL included, to be read back.
constexpr int kHeaderLineSize = 256;
// A folder of the walk (255 bytes) and a name (259 bytes) with their NUL.
constexpr int kWholePathSize = 520;

// The tag that ends a captured title, matched without case.
constexpr char kEndTitle[] = "</title>";

// The per-page scratch, taken in this order under one mark.
struct PageBuffers {
    unsigned char* lex;
    char* tagPool;
    void* attrTable;
    char* record;
    char* title;
    char* keywords;
    char* relPath;
};

PageBuffers takePageBuffers() {
    BigStack* bs = BigStack_Sys();
    PageBuffers b;
    b.lex = static_cast<unsigned char*>(BigStack_Alloc(bs, kLexBufSize));
    b.tagPool = static_cast<char*>(BigStack_Alloc(bs, kTagPoolSize));
    b.attrTable = BigStack_Alloc(bs, kAttrTableSize);
    b.record = static_cast<char*>(BigStack_Alloc(bs, kRecordSize));
    b.title = static_cast<char*>(BigStack_Alloc(bs, kTitleSize));
    b.keywords = static_cast<char*>(BigStack_Alloc(bs, kKeywordsSize));
    b.relPath = static_cast<char*>(BigStack_Alloc(bs, kRelPathSize));
    return b;
}

bool equalsNoCase(const char* a, const char* b) {
    size_t n = strlen(b);
    return strlen(a) == n && BLex2_StrNICmp(a, b, n) == 0;
}

// The charset a meta tag declares, as a StrX_Code_* (0 when none is known),
// from the values of its first attributes charset, http-equiv and content
// (nullptr for one it lacks): <meta charset=...> or
// <meta http-equiv="Content-Type" content="...; charset=...">.
int declaredCode(const char* charset, const char* equiv, const char* content) {
    if (charset) return StrX_CharsetCode(charset);
    if (!equiv || !content || !equalsNoCase(equiv, "content-type")) return StrX_Code_Ascii;
    const char* at = StrX_FindStrI(content, "charset=");
    if (!at) return StrX_Code_Ascii;
    at += strlen("charset=");
    char name[32];
    int n = 0;
    while (at[n] && at[n] != ';' && at[n] != ' ' && n < static_cast<int>(sizeof name) - 1) {
        name[n] = at[n];
        n++;
    }
    name[n] = '\0';
    return StrX_CharsetCode(name);
}

// CreKey_SetHeldScan's setting.
bool g_heldScan = true;

// What the fast scan of a head (HeadReader::ReadHeld) makes of a byte: bits
// that each loop of the scan stops at.
enum : uint16_t {
    kByteOpen = 1,  // '<'
    // A control byte other than TAB, LF, CR and ESC: the other control bytes
    // text may hold, and those that make a page binary. The lexer's path
    // takes over.
    kByteLeave = 2,
    // CR: white space in a tag, text between tags; the lexer reads a CR LF
    // pair as one LF, so a CR in a title or in a value that is kept leaves
    // the page to the lexer.
    kByteCr = 4,
    // The white space of a tag the scan meets: blank, TAB, LF, CR (the
    // lexer's other white space bytes are all kByteLeave).
    kByteBlank = 8,
    kByteClose = 16,         // '>'
    kByteEquals = 32,        // '='
    kByteDoubleQuote = 64,   // '"'
    kByteSingleQuote = 128,  // '\''
    kByteEsc = 256,          // ESC: an ISO-2022-JP escape may begin
};
constexpr auto kHeadByte = [] {
    std::array<uint16_t, 256> bits{};
    for (int c = 0; c < 0x20; c++) bits[c] = kByteLeave;
    bits[0x1B] = kByteEsc;
    bits['\t'] = bits['\n'] = bits[' '] = kByteBlank;
    bits['\r'] = kByteCr | kByteBlank;
    bits['<'] = kByteOpen;
    bits['>'] = kByteClose;
    bits['='] = kByteEquals;
    bits['"'] = kByteDoubleQuote;
    bits['\''] = kByteSingleQuote;
    return bits;
}();

// Advances p over the bytes of [p, end) that have none of the bits of stop;
// returns where it stopped (end when none has).
inline const unsigned char* skipBytes(const unsigned char* p, const unsigned char* end,
                                      unsigned stop) {
    // Four bytes a round while four are left: one test of the end per four.
    for (; end - p >= 4; p += 4) {
        if (kHeadByte[p[0]] & stop) return p;
        if (kHeadByte[p[1]] & stop) return p + 1;
        if (kHeadByte[p[2]] & stop) return p + 2;
        if (kHeadByte[p[3]] & stop) return p + 3;
    }
    while (p < end && !(kHeadByte[*p] & stop)) p++;
    return p;
}

// Follows the ISO-2022-JP escape whose ESC is at q as BLex2_StepJisMode does,
// from the 3 bytes the lexer looks at there (fewer at the file's end, which
// atFileEnd tells is end): two-byte text after ESC $ @, ESC $ B and ESC ( I,
// one-byte text after ESC ( H/B/J, no change otherwise. False when the page
// is one for the lexer: those bytes are not all held, or one is a CR or a
// byte of kByteLeave.
bool stepJis(const unsigned char* q, const unsigned char* end, bool atFileEnd, bool* twoByte) {
    if (end - q < 3 && !atFileEnd) return false;
    unsigned char b[3] = {0x1B, 0, 0};
    for (int i = 1; i < 3 && q + i < end; i++) {
        if (kHeadByte[q[i]] & (kByteLeave | kByteCr)) return false;
        b[i] = q[i];
    }
    if (b[1] == '$' && (b[2] == '@' || b[2] == 'B'))
        *twoByte = true;
    else if (b[1] == '(' && (b[2] == 'H' || b[2] == 'B' || b[2] == 'J' || b[2] == 'I'))
        *twoByte = b[2] == 'I';
    return true;
}

// Scans a part of a tag from q as the lexer reads one (readTagPart): up to a
// byte with a bit of stop, which in ISO-2022-JP two-byte text (from an escape
// inside the part) ends nothing. Returns that byte, end when the bytes held
// ran out first, or nullptr when the page is one for the lexer (a byte of
// kByteLeave, an escape stepJis refuses). *cr is set when a CR is passed.
const unsigned char* scanPart(const unsigned char* q, const unsigned char* end, bool atFileEnd,
                              unsigned stop, bool* cr) {
    bool twoByte = false;
    for (;;) {
        q = skipBytes(q, end, (twoByte ? 0 : stop) | kByteLeave | kByteEsc | kByteCr);
        if (q == end) return end;
        const unsigned bits = kHeadByte[*q];
        if (bits & kByteLeave) return nullptr;
        if (bits & kByteEsc) {
            if (!stepJis(q, end, atFileEnd, &twoByte)) return nullptr;
        } else if (!twoByte && (bits & stop)) {
            return q;
        } else {
            *cr = true;  // a CR, which the lexer may read with an LF after it as one LF
        }
        q++;
    }
}

// True when the n bytes at p equal the lower-case literal's first n, ASCII
// letters without case (as BLex2_StrNICmp compares).
inline bool equalsLower(const unsigned char* p, const char* literal, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (CodePage_ToLower(p[i]) != static_cast<unsigned char>(literal[i])) return false;
    return true;
}

// True when [p, end) begins with the lower-case literal, ASCII letters without case.
bool startsNoCase(const unsigned char* p, const unsigned char* end, const char* literal,
                  size_t len) {
    return static_cast<size_t>(end - p) >= len && equalsLower(p, literal, len);
}

// A piece of the page held in the reader's buffer.
struct Span {
    const unsigned char* p = nullptr;  // nullptr: absent
    size_t n = 0;
    // True when the piece is the lower-case literal, ASCII letters without case.
    template <size_t N>
    bool Is(const char (&literal)[N]) const {
        return p && n == N - 1 && equalsLower(p, literal, N - 1);
    }
};

// The longest tag the fast scan reads (bytes from '<' to '>'), and the most
// attributes: far inside the tag pool and the attribute table, so that
// what the lexer would cut or refuse never arises there.
constexpr long kFastTagMax = 2000;
constexpr int kFastAttrMax = kAttrTableSize / 8 - 1;
// The longest title the fast scan keeps: its record never fills, and it is
// never cut at its byte limit.
constexpr long kFastTitleMax = kTitleSize - 2;
static_assert(kFastTitleMax < kRecordSize - 1 && kFastTagMax + 2 * kFastAttrMax + 4 < kTagPoolSize);

// The scanner of one page's head: title capture, the keywords meta, the
// charset the page declares, the end of the head. Title and keywords are kept
// as the page has them until Finish converts them to Shift_JIS.
class HeadReader {
   public:
    HeadReader(BLex2* lex, const PageBuffers& b) : lex_(lex), b_(b) {}

    // Reads the head: straight from the bytes the reader holds when the page
    // allows it (ReadHeld), else through the lexer a byte and a tag at a time.
    void Read() {
        if (!g_heldScan || !ReadHeld()) ReadLexed();
    }

    // The lexer's reading of the head, which every page may take.
    void ReadLexed() {
        // A UTF-8 byte-order mark decides the encoding of the whole page.
        if (BLex2_Peek(lex_, 0) == 0xEF && BLex2_Peek(lex_, 1) == 0xBB &&
            BLex2_Peek(lex_, 2) == 0xBF) {
            bomCode_ = StrX_Code_Utf8;
            BLex2_Skip(lex_, 3);
        }
        for (int c; (c = BLex2_Peek(lex_, 0)) != -1;) {
            if (c == 0x1B) {
                twoByte_ = BLex2_StepJisMode(lex_, twoByte_);
                SkipOne();  // the escape's first byte; the rest is plain text
                continue;
            }
            // In JIS two-byte text the byte of '<' is half of a character,
            // in JIS half-width katakana it is the kana ｼ.
            if (twoByte_ || c != '<') {
                SkipRun();
                continue;
            }
            if (capturing_) {
                if (BLex2_Match(lex_, kEndTitle, BLex2_StrNICmp) == 0) {
                    EndTitle();
                    BLex2_Skip(lex_, sizeof kEndTitle - 1);
                } else if (BLex2_Match(lex_, "</head>", BLex2_StrNICmp) == 0) {
                    return;
                } else {
                    SkipOne();
                }
                continue;
            }
            if (!ReadTag()) return;
        }
    }

    // Converts the title and the keywords to Shift_JIS in their buffers, in
    // the one encoding the page is taken in: its byte-order mark, else the
    // charset it declares, else what the bytes of both texts show together.
    // A text cut at its byte limit loses the character it ends inside before
    // it is converted. Then the character references become text and CR, LF
    // and TAB go. The record buffer and the tag pool serve as work space (the
    // page has been read).
    void Finish() {
        int code = bomCode_ ? bomCode_ : declared_;
        if (!code)
            code = StrX_DetectPageCode(titleFound_ ? b_.title : "", titleCut_, b_.keywords,
                                       keywordsCut_);
        if (titleFound_) {
            StrX_CopyN(b_.record, b_.title, kRecordSize);
            StrX_ToSjisFrom(b_.title, kTitleSize, b_.record, code);
            StrX_HtmlUnescape(b_.title);
            StrX_RemoveCrLfTab(b_.title);
        }
        StrX_CopyN(b_.tagPool, b_.keywords, kTagPoolSize);
        StrX_ToSjisFrom(b_.keywords, kKeywordsSize, b_.tagPool, code);
        StrX_HtmlUnescape(b_.keywords);
        StrX_RemoveCrLfTab(b_.keywords);
    }

   private:
    // The usual page read at the cost of a scan: its head lies in the bytes
    // of the reader's first block (or its whole file), holds no control byte
    // but TAB, LF, CR and ESC (nothing binary), no CR in its title or in the
    // values it keeps, and no tag or title near the
    // bounds of the pool, the attribute table or the title. Fills the
    // reader's state exactly as ReadLexed would, looking at every byte that
    // ReadLexed would read or look ahead at, and returns true. Returns false,
    // having consumed and changed nothing, as soon as it meets anything else:
    // ReadLexed then reads the page.
    bool ReadHeld() {
        TextRead* r = lex_->file;
        if (!r || lex_->nBuf != 0 || lex_->recording) return false;
        const int held = TextRead_Ahead(r, r->capacity);
        const unsigned char* const begin = r->next;
        const unsigned char* const end = begin + held;
        const bool whole = TextRead_HeldToEnd(r);  // end is the file's end
        // The byte-order mark is looked at (3 bytes) before anything else.
        for (const unsigned char* q = begin; q < end && q < begin + 3; q++)
            if (kHeadByte[*q] & kByteLeave) return false;
        if (!whole && held < 3) return false;
        const unsigned char* p = begin;
        int bom = 0;
        if (held >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
            bom = StrX_Code_Utf8;
            p += 3;
        }
        Span title, keywords;
        int declared = 0;
        const unsigned char* titleStart = nullptr;  // while the title is captured
        bool twoByte = false;                       // in ISO-2022-JP two-byte text
        for (;;) {
            // The text up to the next '<' outside two-byte text, or escape; a
            // title's text holds no CR.
            p = skipBytes(
                p, end,
                kByteLeave | kByteEsc | (twoByte ? 0 : kByteOpen) | (titleStart ? kByteCr : 0));
            if (titleStart && p - titleStart > kFastTitleMax) return false;
            if (p == end) {
                if (!whole) return false;
                break;  // the end of the page
            }
            if (kHeadByte[*p] & (kByteLeave | kByteCr)) return false;
            if (*p == 0x1B) {
                if (!stepJis(p, end, whole, &twoByte)) return false;
                p++;  // the rest of the escape is text
                continue;
            }
            if (titleStart) {
                // The lexer looks 8 bytes ahead at every '<' of the title.
                const long ahead = end - p < 8 ? end - p : 8;
                if (ahead < 8 && !whole) return false;
                for (long i = 0; i < ahead; i++)
                    if (kHeadByte[p[i]] & (kByteLeave | kByteCr)) return false;
                if (startsNoCase(p, end, kEndTitle, sizeof kEndTitle - 1)) {
                    if (p - titleStart > kFastTitleMax) return false;
                    title = Span{titleStart, static_cast<size_t>(p - titleStart)};
                    titleStart = nullptr;
                    p += sizeof kEndTitle - 1;
                } else if (startsNoCase(p, end, "</head>", 7)) {
                    break;
                } else {
                    p++;  // a '<' of the title's text
                }
                continue;
            }
            Span name, charset, equiv, content, metaName;
            const unsigned char* q =
                ReadHeldTag(p, end, whole, &name, &charset, &equiv, &content, &metaName);
            if (!q) return false;
            p = q;
            if (name.Is("meta")) {
                if (!declared) declared = HeldDeclaredCode(charset, equiv, content);
                if (metaName.p && content.p && metaName.Is("keywords")) keywords = content;
            } else if (name.Is("title")) {
                titleStart = p;
            } else if (name.Is("/head")) {
                break;
            }
        }
        bomCode_ = bom;
        declared_ = declared;
        if (title.p) {
            memcpy(b_.title, title.p, title.n);
            b_.title[title.n] = '\0';
            titleFound_ = true;
        }
        if (keywords.p) {
            memcpy(b_.keywords, keywords.p, keywords.n);
            b_.keywords[keywords.n] = '\0';
        }
        return true;
    }

    // Reads the tag whose '<' is at p as BLex2_ReadTag reads it: its name and
    // the values of its first attributes charset, http-equiv, content and name
    // (Span::p nullptr for one it lacks); whole tells that end is the file's
    // end. Returns the byte after its '>', or nullptr when the tag is one for
    // the lexer (a byte of kByteLeave, an escape stepJis refuses, the end of
    // the bytes held, a tag longer than kFastTagMax or with kFastAttrMax
    // attributes, a CR in a value kept).
    static const unsigned char* ReadHeldTag(const unsigned char* p, const unsigned char* end,
                                            bool whole, Span* name, Span* charset, Span* equiv,
                                            Span* content, Span* metaName) {
        if (end - p > kFastTagMax) {
            end = p + kFastTagMax;
            whole = false;
        }
        const unsigned char* q = p + 1;
        bool cr = false;
        // Advances q over a part that ends at a byte of stop; false when the
        // page is one for the lexer.
        auto part = [&](unsigned stop) {
            q = scanPart(q, end, whole, stop, &cr);
            return q && q < end;
        };
        auto blanks = [&] {
            while (q < end && (kHeadByte[*q] & kByteBlank)) q++;
            return q < end && !(kHeadByte[*q] & kByteLeave);
        };
        if (!blanks()) return nullptr;
        const unsigned char* start = q;
        if (!part(kByteBlank | kByteClose)) return nullptr;
        *name = Span{start, static_cast<size_t>(q - start)};
        for (int count = 0;;) {
            if (*q == '>') return q + 1;
            if (count >= kFastAttrMax) return nullptr;
            if (!blanks()) return nullptr;
            if (*q == '>') continue;
            start = q;
            if (!part(kByteBlank | kByteClose | kByteEquals)) return nullptr;
            const Span attr{start, static_cast<size_t>(q - start)};
            Span value{q, 0};
            cr = false;  // whether the value holds a CR
            if (!blanks()) return nullptr;
            if (*q == '=') {
                q++;
                if (!blanks()) return nullptr;
                const unsigned char quote = *q;
                if (quote == '"' || quote == '\'') {
                    start = ++q;
                    if (!part(kHeadByte[quote])) return nullptr;
                    value = Span{start, static_cast<size_t>(q - start)};
                    q++;  // the closing quote
                    if (q == end || (kHeadByte[*q] & kByteLeave)) return nullptr;
                } else {
                    start = q;
                    if (!part(kByteBlank | kByteClose)) return nullptr;
                    value = Span{start, static_cast<size_t>(q - start)};
                }
            }
            count++;
            Span* slot = attr.Is("charset")      ? charset
                         : attr.Is("http-equiv") ? equiv
                         : attr.Is("content")    ? content
                         : attr.Is("name")       ? metaName
                                                 : nullptr;
            if (slot && !slot->p) {
                if (cr) return nullptr;
                *slot = value;
            }
        }
    }

    // declaredCode on the values of a tag read by ReadHeldTag, made
    // NUL-terminated texts in the tag pool (the bytes of one tag fit it).
    int HeldDeclaredCode(Span charset, Span equiv, Span content) {
        char* at = b_.tagPool;
        auto text = [&at](Span v) -> const char* {
            if (!v.p) return nullptr;
            char* t = at;
            memcpy(t, v.p, v.n);
            t[v.n] = '\0';
            at += v.n + 1;
            return t;
        };
        const char* c = text(charset);
        const char* e = text(equiv);
        const char* t = text(content);
        return declaredCode(c, e, t);
    }

    // Consumes one byte. While the title is captured the byte is recorded; a
    // record that is full stops recording instead of failing, so a long title
    // is kept cut and the rest of the head is still read.
    void SkipOne() {
        if (capturing_ && lex_->recording) {
            ArrX_Buf* rec = BLex2_GetRecord(lex_);
            if (static_cast<char*>(rec->last) >= static_cast<char*>(rec->bufLast)) {
                lex_->recording = 0;
                captureCut_ = true;
            }
        }
        BLex2_Skip(lex_, 1);
    }

    // Consumes the run of bytes up to the next '<' (outside JIS text) or
    // escape, as SkipOne would one by one: while the title is captured, no
    // further than its record has room, and a full record stops recording
    // first (bytes held by a look-ahead would otherwise overflow it).
    void SkipRun() {
        int max = INT_MAX;
        if (capturing_ && lex_->recording) {
            ArrX_Buf* rec = BLex2_GetRecord(lex_);
            max =
                static_cast<int>(static_cast<char*>(rec->bufLast) - static_cast<char*>(rec->last));
            if (max <= 0) {
                lex_->recording = 0;
                captureCut_ = true;
                max = INT_MAX;
            }
        }
        if (BLex2_SkipUntil(lex_, twoByte_ ? 0x1B : '<', 0x1B, max) == 0) SkipOne();
    }

    // Keeps the captured title as the page has it (the last complete title wins).
    void EndTitle() {
        ArrX_Buf* rec = BLex2_EndRecord(lex_);
        capturing_ = false;
        // Kept as the page has it: a record that filled up may end inside a
        // character, which the conversion in Finish cuts off.
        const char* text = static_cast<const char*>(rec->first);
        StrX_CopyN(b_.title, text, kTitleSize);
        titleFound_ = true;
        titleCut_ = captureCut_ || strlen(text) >= kTitleSize - 1;
    }

    // Reads the tag ahead and acts on it; false when it ends the head.
    bool ReadTag() {
        StrX_Mem pool;
        StrX_Mem_Init(&pool, b_.tagPool, kTagPoolSize);
        BLex2_Tag tag{};
        bool read = false;
        EXCEPT3_TRY(
            [&] {
                BLex2_ReadTag(lex_, &tag, &pool, b_.attrTable, kAttrTableSize);
                read = true;
            },
            [&] {
                if (Except3_GetSys()->msg->code != StrX_Err_MemEmpty.code) Except3_Rethrow();
            });
        if (!read) {
            // A tag too large for the pool is passed over: the page goes on after its '>'.
            int c;
            while ((c = BLex2_GetChar(lex_)) != -1 && c != '>') {
            }
            return true;
        }
        if (strcmp(tag.name, "meta") == 0) {
            // The first charset the page declares holds for the whole page.
            if (!declared_)
                declared_ =
                    declaredCode(BLex2_GetAttr(&tag, "charset"), BLex2_GetAttr(&tag, "http-equiv"),
                                 BLex2_GetAttr(&tag, "content"));
            const char* name = BLex2_GetAttr(&tag, "name");
            const char* content = BLex2_GetAttr(&tag, "content");
            // A keywords meta without content keeps the keywords found so far.
            if (name && content && equalsNoCase(name, "keywords")) {
                // A value that filled the tag pool may end inside a character,
                // which the conversion in Finish cuts off.
                const size_t len = strlen(content);
                StrX_CopyN(b_.keywords, content, kKeywordsSize);
                keywordsCut_ = content + len + 1 >= pool.end || len >= kKeywordsSize - 1;
            }
        } else if (strcmp(tag.name, "title") == 0) {
            BLex2_ClearRecord(lex_);
            BLex2_StartRecord(lex_);
            capturing_ = true;
            captureCut_ = false;
        } else if (strcmp(tag.name, "/head") == 0) {
            return false;
        }
        return true;
    }

    BLex2* lex_;
    PageBuffers b_;
    bool twoByte_ = false;
    bool capturing_ = false;
    bool titleFound_ = false;
    bool captureCut_ = false;   // the title being captured filled its record
    bool titleCut_ = false;     // the kept title was cut at its byte limit
    bool keywordsCut_ = false;  // the kept keywords were cut at their byte limit
    int bomCode_ = 0;           // StrX_Code_Utf8 after a byte-order mark
    int declared_ = 0;          // the first charset declared (0: none known)
};

}  // namespace

namespace {

// A page path that the search's join would take as a drive path or a URL
// ("c:x.htm", "http:x.htm", "file:x.htm" at the top of the base folder) is
// stored behind a current-folder step (".\http:x.htm"), which the join
// resolves, so the link stays below the base folder. relPath holds
// kRelPathSize bytes; the walk's paths leave room for the step.
void keepBelowBase(char* relPath) {
    const bool taken =
        relPath[0] != '\0' && (relPath[1] == ':' || strncmp(relPath, "http:", 5) == 0 ||
                               strncmp(relPath, "file:", 5) == 0);
    if (taken && strlen(relPath) + 2 < static_cast<size_t>(kRelPathSize))
        StrX_InsertHead(relPath, ".\\");
}

// StrX_RelPath(relPath, kRelPathSize, base) for the usual page of a walk,
// whose path is base (ending in a separator) and then a name or relative
// path: that rest, moved to the buffer's start. False (relPath unchanged)
// for any other path, which StrX_RelPath then takes.
bool relPathBelowBase(char* relPath, const char* base) {
    const size_t baseLen = strlen(base);
    if (baseLen == 0 || strncmp(relPath, base, baseLen) != 0) return false;
    // base ends in a separator that is no trail byte (told once for the base
    // of the last call: a build hands every page the same base).
    thread_local char s_base[kRelPathSize];
    thread_local bool s_sep = false;
    if (baseLen >= sizeof s_base) return false;
    if (strcmp(base, s_base) != 0) {
        s_sep = false;
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(base); *p; p++) {
            s_sep = *p == '\\' || *p == '/';
            if (CodePage_IsLead(*p) && p[1]) {
                p++;
                s_sep = false;
            }
        }
        memcpy(s_base, base, baseLen + 1);
    }
    const char* rest = relPath + baseLen;
    if (!s_sep || *rest == '\0' || *rest == '\\' || *rest == '/') return false;
    CodePage_CopyCut(relPath, kRelPathSize, rest);
    return true;
}

}  // namespace

bool CreKey_SetHeldScan(bool on) {
    const bool old = g_heldScan;
    g_heldScan = on;
    return old;
}

bool CreKey_IsPageName(const char* name) {
    const char* first = StrX_FindStrI(name, ".htm");
    return first != nullptr && first == strrchr(name, '.');
}

bool CreKey_ReadPage(const char* path, const char* base, IniWriter* writer, int* skipReason) {
    BigStack* bs = BigStack_Sys();
    BigStack_Push(bs);
    bool opened = false;
    bool read = false;
    BLex2 lex{};
    PageBuffers b{};
    EXCEPT3_TRY(
        [&] {
            b = takePageBuffers();
            StrX_CopyN(b.relPath, path, kRelPathSize);
            if (!relPathBelowBase(b.relPath, base)) StrX_RelPath(b.relPath, kRelPathSize, base);
            keepBelowBase(b.relPath);
            StrX_CopyN(b.title, "(no title)", kTitleSize);
            b.keywords[0] = '\0';
            BLex2_Open(&lex, path, b.lex, kLexBufSize);
            opened = true;
            BLex2_SetRecordBuf(&lex, b.record, kRecordSize);
            HeadReader head(&lex, b);
            head.Read();
            head.Finish();
            // Written inside the frame: a failed write pops the page's mark too.
            CreKey_WriteLink(writer, b.title, b.keywords, b.relPath);
            read = true;
        },
        [&] {
            // A page that is not text, or that cannot be opened, is skipped.
            const int code = Except3_GetSys()->msg->code;
            if (code != BLex2_Err_BinaryCannotParse.code && code != FileX_Err_CannotReadOpen.code)
                Except3_Rethrow();
            if (skipReason)
                *skipReason = code == BLex2_Err_BinaryCannotParse.code ? CreKey_Skip_NotText
                                                                       : CreKey_Skip_Unreadable;
        },
        [&] {
            if (opened) BLex2_Close(&lex);
            BigStack_Pop(bs);
        });
    return read;
}

namespace {

// True when the Base line of a header on base fits the header readers' line
// buffer, so that the database can be read back.
bool baseReadsBack(const char* base) {
    char quoted[2 * kHeaderLineSize];
    StrX_QuoteField(quoted, base, sizeof quoted);
    return strlen(Kwf_KeyNames[Kwf_Key_Base]) + strlen(" = ") + strlen(quoted) + 1 <=
           kHeaderLineSize;
}

// True when path holds nothing or begins as this system's databases begin:
// the line "[main]" and then "Application = Tessaly!" (blanks and either
// line end allowed). Reads at most 128 bytes; never waits on a FIFO.
bool hasDatabaseHead(const char* path) {
    FILE* f = Fs_Open(path, "rb");
    if (!f) return false;
    char head[129];
    const size_t n = fread(head, 1, sizeof head - 1, f);
    fclose(f);
    head[n] = '\0';
    if (n == 0) return true;
    const char* p = head;
    auto blanks = [&p] {
        while (*p == ' ' || *p == '\t') p++;
    };
    auto word = [&p](const char* w) {
        const size_t len = strlen(w);
        if (strncmp(p, w, len) != 0) return false;
        p += len;
        return true;
    };
    blanks();
    if (!word("[main]")) return false;
    blanks();
    word("\r");
    if (!word("\n")) return false;
    blanks();
    if (!word(Kwf_KeyNames[Kwf_Key_Application])) return false;
    blanks();
    if (!word("=")) return false;
    blanks();
    return word("Tessaly!");
}

}  // namespace

namespace {

// Reports FileX_Err_CannotWriteOpen (362) for the database dbPath.
void reportCannotWrite(const char* dbPath) {
    ERRORS_REPORT(FileX_Err_CannotWriteOpen, "書きこみモードで open できません。%s", dbPath);
}

// One build of base into dbPath: the refusals, the folder's lock, the temp
// file, the walk and the commit, each a step. The database's place is dbPath
// or, for a link, its target: a database that is a link is replaced at its
// target and stays a link.
class Build {
   public:
    Build(volatile unsigned char* cancel, const char* base, const char* dbPath,
          CreKey_CallbackFunc callback, void* context, const char* dispTarget, CreKey_Stats* st,
          const CreKey_SkipSink* skipSink)
        : cancel_(cancel),
          base_(base),
          dbPath_(dbPath),
          callback_(callback),
          context_(context),
          dispTarget_(dispTarget),
          st_(*st),
          skipSink_(skipSink) {}

    void Run() {
        if (!MayBegin()) return;
        lock_ = Fs_LockFolder(place_);
        if (lock_ == Fs_Lock_Busy) {
            ERRORS_REPORT(FileX_Err_CannotWriteOpen, "%s は別の更新が書きこみ中です。", dbPath_);
            return;
        }
        if (lock_ < 0) {
            reportCannotWrite(dbPath_);
            return;
        }
        if (!CreateTemp()) return;
        bool failed = false;  // a report returned (no hook): the build gives up
        EXCEPT3_TRY([&] { failed = !Write(); },
                    [&] {
                        Discard();
                        Except3_Rethrow();
                    });
        if (failed)
            Discard();
        else
            Fs_Unlock(lock_);
    }

   private:
    // The refusals: true when each has passed; nothing is touched before.
    bool MayBegin() {
        if (!baseReadsBack(base_)) {
            ERRORS_REPORT(Errors_Unofficial, "調べる場所のパスが長すぎます。%s", base_);
            return false;
        }
        if (!Fs_ReplaceTarget(dbPath_, place_, sizeof place_)) {
            reportCannotWrite(dbPath_);
            return false;
        }
        Fs_StatData old{};
        hadOld_ = Fs_Stat(place_, &old);
        if (hadOld_ && (!old.isFile || old.readOnly || Fs_Access(place_, Fs_Access_Write) != 0)) {
            reportCannotWrite(dbPath_);
            return false;
        }
        if (hadOld_ && !hasDatabaseHead(place_)) {
            ERRORS_REPORT(FileX_Err_CannotWriteOpen, "%s はキーワードデータベースではありません。",
                          dbPath_);
            return false;
        }
        return true;
    }

    // Opens the temp file beside the place, under the lock; false (the lock
    // released) after a report.
    bool CreateTemp() {
        // Under the lock no other build of this folder runs: a temp file left
        // here belongs to a build that died.
        Fs_RemoveStaleTemps(place_);
        FILE* fp = Fs_CreateTemp(place_, "wt", tempPath_, sizeof tempPath_);
        if (!fp) {
            Fs_Unlock(lock_);
            reportCannotWrite(dbPath_);
            return false;
        }
        IniFile_OpenWriteStream(&writer_, fp, dbPath_);
        return true;
    }

    // Writes the header and the walk's pages, then commits the temp file over
    // the place. False when the build gives up (a report returned, or an
    // update was cancelled) and the temp file is to be discarded.
    bool Write() {
        CreKey_WriteHeader(&writer_, base_, dispTarget_);
        NestFind_Begin(&walk_, base_, false);
        walking_ = true;
        if (walk_.bCannotList) {
            ERRORS_REPORT(FileX_Err_CannotReadOpen, "読みこみモードで open できません。%s", base_);
            return false;
        }
        {
            Fs_FolderReads reads;  // each folder's pages opened by their names
            while (NestFind_Next(&walk_) && Step()) {
            }
        }
        walking_ = false;
        NestFind_End(&walk_);
        // A cancelled update keeps the previous database; a first build keeps
        // what it read.
        if (*cancel_ && hadOld_) return false;
        if (!IniFile_CloseWrite(&writer_)) return false;
        if (Fs_CommitTemp(tempPath_, place_) != 0) {
            ERRORS_REPORT(FileX_Err_CannotWrite, "%s の書きこみに失敗しました。", dbPath_);
            return false;
        }
        return true;
    }

    // One file of the walk: counted and shown, then read when it is a page.
    // False when the build was cancelled: the walk stops before this file.
    bool Step() {
        // Only a folder too long to enter is handed over as a folder.
        if (NestFind_IsDir(&walk_)) return StepLongFolder();
        const bool tooLong = NestFind_IsTooLong(&walk_);
        const char* path = NestFind_GetPath(&walk_);
        const char* full = path;
        if (tooLong) {
            // A path too long for the walk is seen whole here, never used.
            NestFind_CopyPath(&walk_, whole_, sizeof whole_);
            full = whole_;
        }
        // The temporary file is this build's own: not a file of the folder.
        if (strcmp(full, tempPath_) == 0) return true;
        st_.files++;
        CreKey_Progress progress{full, st_.files, NestFind_GetPos(&walk_),
                                 NestFind_GetTotal(&walk_)};
        if (callback_) callback_(context_, &progress);
        if (*cancel_) return false;
        if (!CreKey_IsPageName(NestFind_GetName(&walk_))) return true;
        // The database never indexes itself.
        if (strcmp(full, dbPath_) == 0 || strcmp(full, place_) == 0)
            return Skip(full, CreKey_Skip_Database);
        if (tooLong) return Skip(full, CreKey_Skip_TooLong);
        // A FIFO, socket, device or link to a folder is never opened.
        if (!NestFind_IsRegular(&walk_)) return Skip(path, CreKey_Skip_NotRegular);
        int reason = 0;
        if (!CreKey_ReadPage(path, base_, &writer_, &reason)) return Skip(path, reason);
        st_.pages++;
        return true;
    }

    // A folder whose path the 260-byte form cannot hold: its files are found
    // through the native path, counted and shown, and its pages counted as
    // skipped for their length (their paths cut for display). When even that
    // cannot read it, the sink is told of the folder itself. False when the
    // build was cancelled.
    bool StepLongFolder() {
        NestFind_CopyPath(&walk_, whole_, sizeof whole_);
        const bool read = Fs_ForEachFileBelow(
            whole_,
            [](void* self, const char* name, const char* path) {
                static_cast<Build*>(self)->LongFile(name, path);
            },
            this);
        if (!read && skipSink_ && skipSink_->onSkip)
            skipSink_->onSkip(skipSink_->context, whole_, CreKey_Skip_TooLong);
        return !*cancel_;
    }
    void LongFile(const char* name, const char* path) {
        char shown[kWholePathSize];
        CodePage_CopyCut(shown, sizeof shown, path);
        st_.files++;
        CreKey_Progress progress{shown, st_.files, NestFind_GetPos(&walk_),
                                 NestFind_GetTotal(&walk_)};
        if (callback_ && !*cancel_) callback_(context_, &progress);
        if (CreKey_IsPageName(name)) Skip(shown, CreKey_Skip_TooLong);
    }

    // Counts a page-named file that gets no entry and tells the sink. True.
    bool Skip(const char* path, int reason) {
        st_.skipped++;
        if (skipSink_ && skipSink_->onSkip) skipSink_->onSkip(skipSink_->context, path, reason);
        return true;
    }

    // Drops the new file and releases the lock; the previous database stays
    // as it was.
    void Discard() {
        if (walking_) NestFind_End(&walk_);
        walking_ = false;
        if (writer_.fp) fclose(writer_.fp);
        writer_.fp = nullptr;
        Fs_DiscardTemp(tempPath_);
        Fs_Unlock(lock_);
    }

    volatile unsigned char* cancel_;
    const char* base_;
    const char* dbPath_;
    CreKey_CallbackFunc callback_;
    void* context_;
    const char* dispTarget_;
    CreKey_Stats& st_;
    const CreKey_SkipSink* skipSink_;
    char place_[260];
    bool hadOld_ = false;
    int lock_ = -1;
    char tempPath_[260];
    IniWriter writer_{};
    NestFind walk_;
    bool walking_ = false;
    char whole_[kWholePathSize];
};

}  // namespace

void CreKey_Build(volatile unsigned char* cancel, const char* base, const char* dbPath,
                  CreKey_CallbackFunc callback, void* context, const char* dispTarget,
                  CreKey_Stats* stats, const CreKey_SkipSink* skipSink) {
    *cancel = 0;
    CreKey_Stats local{};
    CreKey_Stats* st = stats ? stats : &local;
    *st = CreKey_Stats{};
    Build(cancel, base, dbPath, callback, context, dispTarget, st, skipSink).Run();
}
