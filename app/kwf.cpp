#include "app/kwf.h"

#include <cstring>

#include "app/kwf_internal.h"
#include "components/bigstack.h"
#include "components/except3.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "platform/codepage.h"

using namespace kwf_detail;

namespace {

constexpr char kMain[] = "main";
constexpr char kLinks[] = "links";
constexpr char kPage[] = "A";

// Opens the database with a scratch line buffer of lineSize bytes, runs
// read(reader) and closes it; on every way out the file is closed and the
// mark popped (on a report, before the report goes on).
template <class Read>
void withReader(const char* path, int lineSize, Read&& read) {
    IniReader reader{};
    BigStack* stack = BigStack_Sys();
    BigStack_Push(stack);
    EXCEPT3_TRY(
        [&] {
            char* line = scratch(lineSize);
            IniFile_OpenRead(&reader, path, line, lineSize);
            read(&reader);
        },
        Except3_Rethrow,
        [&] {
            IniFile_CloseRead(&reader);
            BigStack_Pop(stack);
        });
}

// Positions on "main" and steps over the header keys before key (all of them
// for Kwf_Key_Count). Returns key's name.
const char* skipKeys(IniReader* reader, int key) {
    IniFile_Read_setSection(reader, kMain);
    for (int i = 0; i < key; i++) IniFile_ReadAttr(reader, Kwf_KeyNames[i], "-");
    return key < Kwf_Key_Count ? Kwf_KeyNames[key] : nullptr;
}

// Resolves name against the program folder into out, at most size - 2 bytes.
void programFile(char* out, int size, const char* name) {
    if (size <= 0) return;
    if (size == 1) {
        out[0] = '\0';
        return;
    }
    StrX_AbsPathExe(out, name, size - 1);
}

// Cuts out, in place, the keyword entry of keywords that holds the match at
// match: from after the nearest ';' at or before the match (blanks skipped)
// to before the next ';' (no ';' lies between that start and the match, so
// this is the first ';' at or after the match; a match that begins with a ';'
// belongs to the entry after it).
const char* cutEntry(char* keywords, char* match) {
    char* start = StrX_FindCharBack(keywords, match, ';');
    char* end = strchr(start, ';');
    if (end) *end = '\0';
    while (*start == ' ') start++;
    return start;
}

// Turns a page path (a value buffer of 4096 bytes) into its link address:
// joined to base (259 bytes at most), backslashes made slashes (a trail byte
// 0x5C stays), and a drive path C:\x given "file:///C|/x", a rooted path \x
// "file:///x". An absolute path is kept as stored, cut only where the
// scheme would not fit the buffer.
void makeLink(char* path, const char* base) {
    constexpr int kValueSize = 4096;
    StrX_AbsPath(path, 260, base);
    StrX_ReplaceChar(path, '\\', '/');
    const bool drive = path[0] != '\0' && path[1] == ':';
    const bool rooted = path[0] == '/' && path[1] != '/';
    if (!drive && !rooted) return;
    const char* scheme = drive ? "file:///" : "file://";
    const int room = kValueSize - 1 - static_cast<int>(strlen(scheme));
    if (static_cast<int>(strlen(path)) > room) path[room] = '\0';
    StrX_InsertHead(path, scheme);
    if (drive) path[9] = '|';  // the drive's colon
}

// A quick test over a whole database line for the lines that may hold the
// query in a value: the query's bytes, ASCII letters folded, anywhere in the
// line. A value's bytes stand in its line as they are, except that a quoted
// value doubles its double quotes: a query holding one lets every line through.
struct LineFilter {
    const unsigned char* query;
    int length;  // 0: no line can hold the query
    int anchor;  // the offset of the query's first byte that is not a letter; -1 if none
    bool all;    // every line passes
};

unsigned char lower(unsigned char c) {
    return static_cast<unsigned char>(CodePage_ToLower(c));
}

bool isLetter(unsigned char c) {
    return lower(c) >= 'a' && lower(c) <= 'z';
}

LineFilter lineFilter(const char* query) {
    LineFilter f{reinterpret_cast<const unsigned char*>(query), static_cast<int>(strlen(query)), -1,
                 strchr(query, '"') != nullptr};
    for (int i = 0; i < f.length && f.anchor < 0; i++)
        if (!isLetter(f.query[i])) f.anchor = i;
    return f;
}

bool sameFolded(const unsigned char* a, const unsigned char* b, int n) {
    for (int i = 0; i < n; i++)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool mayHold(const LineFilter& f, const char* text, int length) {
    if (f.length == 0) return false;
    if (f.all) return true;
    if (length < f.length) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* last = p + length - f.length;  // the last start that fits
    if (f.anchor < 0) {
        for (const unsigned char* at = p; at <= last; at++)
            if (sameFolded(at, f.query, f.length)) return true;
        return false;
    }
    const unsigned char key = f.query[f.anchor];
    for (const unsigned char* at = p; at <= last;) {
        const void* hit = memchr(at + f.anchor, key, static_cast<size_t>(last - at + 1));
        if (!hit) return false;
        at = static_cast<const unsigned char*>(hit) - f.anchor;
        if (sameFolded(at, f.query, f.length)) return true;
        at++;
    }
    return false;
}

}  // namespace

// ---- Header readers ---------------------------------------------------------

int Kwf_ReadVersion(const char* path) {
    int version = Kwf_Version_OtherApplication;
    withReader(path, 1024, [&](IniReader* reader) {
        char* application = scratch(1024);
        IniFile_SetValueLimit(reader, 1024);
        application[0] = '\0';
        IniFile_ReadAttr(reader, skipKeys(reader, Kwf_Key_Application), "s", application);
        if (strcmp(application, "Tessaly!") != 0) return;
        int value = 0;
        static_assert(Kwf_Key_Version == Kwf_Key_Application + 1);
        IniFile_ReadAttr(reader, Kwf_KeyNames[Kwf_Key_Version], "i", &value);
        version = value;
    });
    return version;
}

bool Kwf_IsNewFile(const char* path) {
    int newFile = 0;
    withReader(path, 1024, [&](IniReader* reader) {
        IniFile_ReadAttr(reader, skipKeys(reader, Kwf_Key_NewFile), "i", &newFile);
    });
    return newFile != 0;
}

void Kwf_ReadBase(const char* path, char* out, int outSize) {
    withReader(path, 1024, [&](IniReader* reader) {
        const char* key = skipKeys(reader, Kwf_Key_Base);
        if (outSize < 1) {
            IniFile_ReadAttr(reader, key, "-");
            return;
        }
        IniFile_SetValueLimit(reader, outSize);
        IniFile_ReadAttr(reader, key, "s", out);
    });
}

void Kwf_ReadUpdateTime(const char* path, time_t* outTime) {
    withReader(path, 256, [&](IniReader* reader) {
        IniFile_ReadAttr(reader, skipKeys(reader, Kwf_Key_Update), "t", outTime);
    });
}

int Kwf_CountPages(const char* path) {
    int count = 0;
    withReader(path, 2048, [&](IniReader* reader) {
        IniFile_FindSection(reader, kLinks, false);
        count = IniFile_CountRecords(reader, kPage);
    });
    return count;
}

void Kwf_ReadDisplay(const char* path, char* resultFile, int resultFileSize, char* dispUrl,
                     int dispUrlSize, char* dispTarget, int dispTargetSize, int* canUpdate) {
    // DispURL is kept to the smaller of the two path buffers, so that a caller
    // passing unequal sizes can never have it overrun.
    const int urlLimit = resultFileSize < dispUrlSize ? resultFileSize : dispUrlSize;
    withReader(path, 1024, [&](IniReader* reader) {
        // The last three keys, in their order.
        static_assert(Kwf_Key_DispUrl == Kwf_Key_CanUpdate + 1 &&
                      Kwf_Key_DispTarget == Kwf_Key_DispUrl + 1 &&
                      Kwf_Key_Count == Kwf_Key_DispTarget + 1);
        IniFile_ReadAttr(reader, skipKeys(reader, Kwf_Key_CanUpdate), "i", canUpdate);
        IniFile_SetValueLimit(reader, urlLimit);
        IniFile_ReadAttr(reader, Kwf_KeyNames[Kwf_Key_DispUrl], urlLimit >= 1 ? "s" : "-", dispUrl);
        IniFile_SetValueLimit(reader, dispTargetSize);
        IniFile_ReadAttr(reader, Kwf_KeyNames[Kwf_Key_DispTarget], dispTargetSize >= 1 ? "s" : "-",
                         dispTarget);
    });
    if (urlLimit >= 1 && strcmp(dispUrl, "(default)") == 0)
        programFile(dispUrl, dispUrlSize, "outframe.htm");
    programFile(resultFile, resultFileSize, "out.htm");
}

bool Kwf_ReadGuide(const char* path, char* guide, int guideSize) {
    bool canUpdate = true;
    withReader(path, 1024, [&](IniReader* reader) {
        skipKeys(reader, Kwf_Key_Count);
        if (IniFile_CountAttr(reader, "bFixed") == 0) return;
        int fixed = 0;
        IniFile_ReadAttr(reader, "bFixed", "i", &fixed);
        IniFile_SetValueLimit(reader, guideSize);
        IniFile_ReadAttr(reader, "Guide", guideSize >= 1 ? "s" : "-", guide);
        canUpdate = fixed == 0;
    });
    return canUpdate;
}

// ---- Search -----------------------------------------------------------------

void Kwf_Search(const char* databasePath, const char* query, const Kwf_HitSink* sink) {
    constexpr int kLineSize = 8192;
    constexpr int kValueSize = 4096;
    constexpr int kBaseSize = 260;
    withReader(databasePath, kLineSize, [&](IniReader* reader) {
        char* title = scratch(kValueSize);
        char* keywords = scratch(kValueSize);
        char* path = scratch(kValueSize);
        char* base = scratch(kBaseSize);

        Kwf_ReadBase(databasePath, base, kBaseSize);
        StrX_CopyN(path, databasePath, kValueSize);
        StrX_CutFileName(path);
        StrX_AbsPath(base, kBaseSize, path);

        IniFile_SetValueLimit(reader, kValueSize);
        IniFile_FindSection(reader, kLinks, false);
        // One pass: the lines that IniFile_CountAttr would count, each parsed
        // only when the query may stand in it.
        const LineFilter filter = lineFilter(query);
        TextRead_Line line;
        int hits = 0;
        while (IniFile_NextAttrLine(reader, kPage, &line)) {
            const TextRead_Line first = line;
            if (mayHold(filter, line.text, line.length)) {
                IniFile_ReadAttrLine(reader, &line, kPage, "sss", title, keywords, path);
                const char* entry = nullptr;
                if (char* match = StrX_FindStrIChar(keywords, query))
                    entry = cutEntry(keywords, match);
                if (entry || StrX_FindStrIChar(title, query)) {
                    makeLink(path, base);
                    sink->onHit(sink->context, title, entry, path);
                    hits++;
                }
            }
            // A record longer than the line buffer is read from its first
            // piece (its values cut); its rest is no record of its own.
            IniFile_SkipLineRest(reader, &first);
        }
        sink->onEnd(sink->context, hits);
    });
}
