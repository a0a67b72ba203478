#include "app/kwf.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "app/kwf_internal.h"
#include "components/bigstack.h"
#include "components/except3.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/msgbox.h"

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

bool isSlash(char c) {
    return c == '/' || c == '\\';
}

// Compares the ASCII text a[0, n) with the lower-case word, letters without case.
bool sameWord(const char* a, size_t n, const char* word) {
    if (strlen(word) != n) return false;
    for (size_t i = 0; i < n; i++)
        if ((a[i] | 0x20) != word[i]) return false;
    return true;
}

// True when url (as a URL reader takes it, see Kwf_DisplayPage) names a file
// of this computer.
bool isLocalPage(const char* url) {
    char text[1024];  // DispURL comes from a 260-byte buffer
    size_t len = 0;
    const char* p = url;
    while (*p != '\0' && static_cast<unsigned char>(*p) <= 0x20) p++;
    for (; *p != '\0' && len < sizeof text - 1; p++)
        if (*p != '\t' && *p != '\n' && *p != '\r') text[len++] = *p;
    text[len] = '\0';
    if (isSlash(text[0])) return !isSlash(text[1]);  // rooted, or a network path
    // A scheme: a letter, then letters, digits, '+', '-' or '.', then ':'.
    auto letter = [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
    size_t n = 0;
    if (letter(text[0])) {
        n = 1;
        while (letter(text[n]) || (text[n] >= '0' && text[n] <= '9') || text[n] == '+' ||
               text[n] == '-' || text[n] == '.')
            n++;
    }
    if (n == 0 || text[n] != ':') return true;  // a relative path
    if (n == 1) return true;                    // a drive path
    if (!sameWord(text, n, "file")) return false;
    const char* rest = text + n + 1;
    if (!isSlash(rest[0]) || !isSlash(rest[1])) return true;
    const char* host = rest + 2;
    size_t hostLen = 0;
    while (host[hostLen] != '\0' && !isSlash(host[hostLen]) && host[hostLen] != '?' &&
           host[hostLen] != '#')
        hostLen++;
    return hostLen == 0 || sameWord(host, hostLen, "localhost");
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

// A quick test over a whole database line for the lines that may hold the
// query in a value: the query's bytes, ASCII letters folded, anywhere in the
// line. A value's bytes stand in its line as they are, except that a quoted
// value doubles its double quotes: a query holding one lets every line through.
struct LineFilter {
    const unsigned char* query;
    int length;  // 0: no line can hold the query
    // The offset of the byte looked for first: the query's first byte that is
    // not a letter, or, in a query of letters only, its least common letter
    // in English text (in either case).
    int anchor;
    bool letterAnchor;  // the anchor is a letter: looked for in both cases
    bool all;           // every line passes
};

unsigned char lower(unsigned char c) {
    return static_cast<unsigned char>(CodePage_ToLower(c));
}

bool isLetter(unsigned char c) {
    return lower(c) >= 'a' && lower(c) <= 'z';
}

LineFilter lineFilter(const char* query) {
    LineFilter f{reinterpret_cast<const unsigned char*>(query), static_cast<int>(strlen(query)), -1,
                 false, strchr(query, '"') != nullptr};
    for (int i = 0; i < f.length && f.anchor < 0; i++)
        if (!isLetter(f.query[i])) f.anchor = i;
    if (f.anchor < 0 && f.length > 0) {
        static constexpr char kByUse[] = "etaoinshrdlcumwfgypbvkjxqz";  // most used first
        f.letterAnchor = true;
        f.anchor = 0;
        for (int i = 1; i < f.length; i++)
            if (strchr(kByUse, lower(f.query[i])) > strchr(kByUse, lower(f.query[f.anchor])))
                f.anchor = i;
    }
    return f;
}

bool sameFolded(const unsigned char* a, const unsigned char* b, int n) {
    for (int i = 0; i < n; i++)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// The first of [from, to) that is the byte c, or to.
const unsigned char* find(const unsigned char* from, const unsigned char* to, unsigned char c) {
    const void* hit = memchr(from, c, static_cast<size_t>(to - from));
    return hit ? static_cast<const unsigned char*>(hit) : to;
}

// The first place in [from, end) where the query's bytes stand whole (ASCII
// letters folded), or null. The anchor is looked for with memchr (a letter
// in both cases, each with its own cursor), the rest compared where it is.
const char* nextPlace(const LineFilter& f, const char* from, const char* end) {
    if (end - from < f.length) return nullptr;
    const auto* p = reinterpret_cast<const unsigned char*>(from);
    // Where the anchor of the last place that fits can stand, and one past it.
    const unsigned char* const stop =
        reinterpret_cast<const unsigned char*>(end) - f.length + f.anchor + 1;
    const unsigned char key = f.letterAnchor ? lower(f.query[f.anchor]) : f.query[f.anchor];
    const unsigned char otherKey = static_cast<unsigned char>(CodePage_ToUpper(key));
    const unsigned char* next = find(p + f.anchor, stop, key);
    const unsigned char* other = f.letterAnchor ? find(p + f.anchor, stop, otherKey) : stop;
    for (;;) {
        const unsigned char* at = next < other ? next : other;
        if (at == stop) return nullptr;
        if (sameFolded(at - f.anchor, f.query, f.length))
            return reinterpret_cast<const char*>(at - f.anchor);
        if (at == next)
            next = find(at + 1, stop, key);
        else
            other = find(at + 1, stop, otherKey);
    }
}

bool mayHold(const LineFilter& f, const char* text, int length) {
    if (f.length == 0) return false;
    if (f.all) return true;
    return nextPlace(f, text, text + length) != nullptr;
}

// The finder of IniFile_SkipAttrLinesWithout for a search: where a line
// may begin to hold the query.
const char* placeOfQuery(const void* filter, const char* from, const char* end) {
    return nextPlace(*static_cast<const LineFilter*>(filter), from, end);
}

}  // namespace

// ---- Links ------------------------------------------------------------------

namespace {

// The escape a link writes for the byte at path[i]: '#' (a fragment) as %23,
// '?' (a query) as %3F, and a '%' that begins no escape of the inside form
// (an old database) as %25; nullptr for a byte that stands as it is (an
// escape %XX, a blank, every other byte).
const char* linkEscape(const char* path, int i) {
    switch (path[i]) {
        case '#':
            return "%23";
        case '?':
            return "%3F";
        case '%':
            return Fs_EscapeAt(path, static_cast<size_t>(i)) < 0 ? "%25" : nullptr;
        default:
            return nullptr;
    }
}

// Writes, in place, the escapes of linkEscape into a path of a buffer of size
// bytes (Shift_JIS-aware: no trail byte is one of these bytes anyway). A
// result that would not fit is cut before the escape.
void escapeLinkBytes(char* path, int size) {
    for (int i = 0; path[i] != '\0'; i++) {
        if (CodePage_IsLead(static_cast<unsigned char>(path[i])) && path[i + 1] != '\0') {
            i++;
            continue;
        }
        const char* escape = linkEscape(path, i);
        if (!escape) continue;
        const int len = static_cast<int>(strlen(path));
        if (len + 2 >= size) {
            path[i] = '\0';
            return;
        }
        memmove(path + i + 3, path + i + 1, static_cast<size_t>(len - i));
        memcpy(path + i, escape, 3);
        i += 2;
    }
}

}  // namespace

namespace kwf_detail {

void makeLink(char* path, const char* base) {
    constexpr int kValueSize = kLinkSize;
    StrX_AbsPath(path, 260, base);
    StrX_ReplaceChar(path, '\\', '/');
    if (strncmp(path, "file:", 5) != 0 && strncmp(path, "http:", 5) != 0)
        escapeLinkBytes(path, kValueSize);
    const bool drive = path[0] != '\0' && path[1] == ':';
    const bool rooted = path[0] == '/' && path[1] != '/';
    if (!drive && !rooted) return;
    const char* scheme = drive ? "file:///" : "file://";
    const int room = kValueSize - 1 - static_cast<int>(strlen(scheme));
    if (static_cast<int>(strlen(path)) > room) path[room] = '\0';
    StrX_InsertHead(path, scheme);
    if (drive) path[9] = '|';  // the drive's colon
}

LinkMaker::LinkMaker(const char* base) {
    // The link of a one-letter probe name shows what every link of a plain
    // name begins with. It serves only when cleaning left the joined path as
    // it was, so that the joined form's length is known.
    constexpr char kProbe[] = "x";
    char joined[kLinkSize];
    StrX_CopyN(joined, kProbe, sizeof joined);
    StrX_AbsPath(joined, 260, base);
    char raw[kLinkSize];
    StrX_CopyN(raw, base, sizeof raw);
    const size_t baseLen = strlen(raw);
    if (!(baseLen > 0 && raw[baseLen - 1] == '/')) StrX_AddLastChar(raw, '\\');
    StrX_CatN(raw, kProbe, sizeof raw);
    StrX_CopyN(prefix_, kProbe, sizeof prefix_);
    makeLink(prefix_, base);
    const size_t linkLen = strlen(prefix_);
    joinedLen_ = static_cast<int>(strlen(joined)) - 1;
    prefixLen_ = static_cast<int>(linkLen) - 1;
    // A joined form that begins as a URL is kept unescaped: not the plain case.
    fast_ = strcmp(joined, raw) == 0 && joinedLen_ >= 5 && strncmp(joined, "file:", 5) != 0 &&
            strncmp(joined, "http:", 5) != 0 && linkLen >= 1 && prefix_[linkLen - 1] == 'x';
    if (fast_) prefix_[prefixLen_] = '\0';
    StrX_CopyN(base_, base, sizeof base_);
}

namespace {

// The bytes of a plain name that need a look: a separator, a byte a link may
// escape, a lead byte (its trail byte may be 0x5C, never a separator), a dot
// (an element may begin with it) and the end.
constexpr std::array<bool, 256> kLook = [] {
    std::array<bool, 256> look{};
    for (int c = 0x81; c <= 0x9F; c++) look[c] = true;
    for (int c = 0xE0; c <= 0xFC; c++) look[c] = true;
    look['\0'] = look['\\'] = look['/'] = look['#'] = look['?'] = look['%'] = look['.'] = true;
    return look;
}();

// Whether name is relative, not a URL, not a drive path: AbsPath would join it.
bool joined(const char* name) {
    if (name[0] == '\0' || name[0] == '\\' || name[0] == '/' || name[1] == ':') return false;
    return !((name[0] == 'f' && strncmp(name, "file:", 5) == 0) ||
             (name[0] == 'h' && strncmp(name, "http:", 5) == 0));
}

}  // namespace

// The short way: joining, cleaning and cutting leave such a name as it is
// after the shared part.
bool LinkMaker::Shares(const char* name) const {
    char link[kLinkSize];
    return shortWay(name, link);
}

char* LinkMaker::Make(const char* name, char* out) const {
    if (shortWay(name, out)) return out;
    StrX_CopyN(out, name, kLinkSize);
    makeLink(out, base_);
    return out;
}

// Writes the link of name the short way into out and returns true, or
// returns false when name must go the whole way (out then holds anything).
bool LinkMaker::shortWay(const char* name, char* out) const {
    if (!fast_ || !joined(name)) return false;
    // Joined, the name must fit the 259 bytes of a path; escapes then fit out.
    const size_t room = static_cast<size_t>(259 - joinedLen_);
    if (strnlen(name, room + 1) > room) return false;
    memcpy(out, prefix_, static_cast<size_t>(prefixLen_));
    char* w = out + prefixLen_;
    bool atElement = true;  // name[i] begins an element
    size_t i = 0;
    for (;; i++) {
        const size_t run = i;
        while (!kLook[static_cast<unsigned char>(name[i])]) *w++ = name[i++];
        if (i != run) atElement = false;
        const char c = name[i];
        if (c == '\0') break;
        if (c == '\\' || c == '/') {
            *w++ = '/';
            atElement = true;
        } else if (c == '.') {
            if (atElement) return false;
            *w++ = '.';
        } else if (CodePage_IsLead(static_cast<unsigned char>(c)) && name[i + 1] != '\0') {
            // A trail byte 0x5C is taken for a separator here: a dot after it
            // sends the name the whole way, which is never wrong.
            atElement = name[i + 1] == '\\';
            *w++ = c;
            *w++ = name[++i];
        } else if (const char* escape = linkEscape(name, static_cast<int>(i))) {
            memcpy(w, escape, 3);
            w += 3;
            atElement = false;
        } else {
            *w++ = c;  // a % that begins an escape, a lead byte that ends the name
            atElement = false;
        }
    }
    *w = '\0';
    return true;
}

}  // namespace kwf_detail

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

// ---- The display page ---------------------------------------------------------

const char* Kwf_DisplayPage(const char* dispUrl, char* out, int size) {
    if (isLocalPage(dispUrl)) return dispUrl;
    char text[1024];
    snprintf(text, sizeof text,
             "表示ページ %s はこのコンピュータのファイルではないため開きません。"
             "標準の表示ページを開きます。",
             dispUrl);
    MsgBox_Show("Tessaly!", text, MsgBox_OK, MsgBox_IconWarning);
    programFile(out, size, "outframe.htm");
    return out;
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
        const LinkMaker links(base);
        char* link = scratch(kLinkSize);

        IniFile_SetValueLimit(reader, kValueSize);
        IniFile_FindSection(reader, kLinks, false);
        // One pass: the lines that IniFile_CountAttr would count, each parsed
        // only when the query may stand in it.
        const LineFilter filter = lineFilter(query);
        TextRead_Line line;
        int hits = 0;
        // The lines that cannot hold the query are passed over in bulk: most
        // lines of a large database.
        const bool skip = filter.length > 0 && !filter.all;
        for (;;) {
            if (skip) IniFile_SkipAttrLinesWithout(reader, kPage, placeOfQuery, &filter);
            if (!IniFile_NextAttrLine(reader, kPage, &line)) break;
            const TextRead_Line first = line;
            if (mayHold(filter, line.text, line.length)) {
                IniFile_ReadAttrLine(reader, &line, kPage, "sss", title, keywords, path);
                const char* entry = nullptr;
                if (char* match = StrX_FindStrIChar(keywords, query))
                    entry = cutEntry(keywords, match);
                if (entry || StrX_FindStrIChar(title, query)) {
                    sink->onHit(sink->context, title, entry, links.Make(path, link));
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
