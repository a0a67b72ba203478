#include "app/crekey.h"

#include <climits>
#include <cstdio>
#include <cstring>

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

// The charset a meta tag declares, as a StrX_Code_* (0 when none is known):
// <meta charset=...> or <meta http-equiv="Content-Type" content="...; charset=...">.
int declaredCode(const BLex2_Tag* tag) {
    if (const char* charset = BLex2_GetAttr(tag, "charset")) return StrX_CharsetCode(charset);
    const char* equiv = BLex2_GetAttr(tag, "http-equiv");
    const char* content = BLex2_GetAttr(tag, "content");
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

// The scanner of one page's head: title capture, the keywords meta, the
// charset the page declares, the end of the head. Title and keywords are kept
// as the page has them until Finish converts them to Shift_JIS.
class HeadReader {
   public:
    HeadReader(BLex2* lex, const PageBuffers& b) : lex_(lex), b_(b) {}

    void Read() {
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
            if (!declared_) declared_ = declaredCode(&tag);
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

}  // namespace

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
            StrX_RelPath(b.relPath, kRelPathSize, base);
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
        while (NestFind_Next(&walk_) && Step()) {
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
