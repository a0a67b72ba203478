// The keyword database (vark.kwf): header access and the search.
//
// A database is a sectioned attribute file (components/inifile.h) with two
// sections. "main" holds, in this fixed order, Application, Version,
// bNewFile, Base, Update, bCanUpdate, DispURL, DispTarget and optionally
// bFixed and Guide; "links" holds one line A = title, keywords, path per
// indexed page. The database writer lives in crekey.h.
//
// Each header reader opens the database by path with a reader of its own,
// reads from the top, closes it again and takes its line buffer from the
// scratch stack under a mark of its own; on a report it closes the file and
// pops its mark before the report goes on to the caller's try frame. They
// report what the attribute-file reader reports: FileX_Err_CannotReadOpen
// (363) for a missing file, IniFile_Err_BadFormat (593) /
// IniFile_NotFoundSection (591) for a damaged head, IniFile_Err_BadAttr (596)
// for a missing, misspelt or misplaced key, IniFile_Err_FewAttr (595) for a
// header that ends early.
//
// Texts and paths are CP932 in the inside path form. Everything here uses the
// process-wide scratch stack and frame stack: one thread at a time.
#pragma once

#include <cstddef>
#include <ctime>

// ---- Header layout ----------------------------------------------------------

// The keys of "main" in file order, as the writer writes them and the header
// readers step over them: each reader passes the keys before its own by this
// table, so that a key added here moves the writer and every reader together.
enum Kwf_Key {
    Kwf_Key_Application,
    Kwf_Key_Version,
    Kwf_Key_NewFile,
    Kwf_Key_Base,
    Kwf_Key_Update,
    Kwf_Key_CanUpdate,
    Kwf_Key_DispUrl,
    Kwf_Key_DispTarget,
    Kwf_Key_Count  // the optional bFixed and Guide follow the fixed keys
};
inline constexpr const char* Kwf_KeyNames[Kwf_Key_Count] = {
    "Application", "Version", "bNewFile", "Base", "Update", "bCanUpdate", "DispURL", "DispTarget"};

// What Kwf_ReadVersion returns for a file whose Application is not ours.
constexpr int Kwf_Version_OtherApplication = 9999;

// ---- Header readers ---------------------------------------------------------

// Returns Kwf_Version_OtherApplication (9999) when Application is not exactly
// "Tessaly!" (Version is then not read), otherwise the Version value (an empty
// value reads as 0). Line buffer 1024 bytes; Application is kept up to 1023
// bytes.
int Kwf_ReadVersion(const char* path);

// Returns true when bNewFile is nonzero (a placeholder without built data).
bool Kwf_IsNewFile(const char* path);

// Copies Base into out, cut to outSize - 1 bytes (nothing when outSize is 0).
// Line buffer 1024 bytes.
void Kwf_ReadBase(const char* path, char* out, int outSize);

// Stores the Update time into *outTime (left unchanged when the value is
// empty). Line buffer 256 bytes: a longer line ahead of Update is read as two
// lines and reported as IniFile_Err_BadAttr.
void Kwf_ReadUpdateTime(const char* path, time_t* outTime);

// Returns the number of "A" lines directly after the head of "links"; a blank
// or other line ends the count. Line buffer 2048 bytes; a longer line counts
// once, whatever its length, as the builder and the search see it. No
// "links" section: IniFile_NotFoundSection (591).
int Kwf_CountPages(const char* path);

// Stores bCanUpdate into *canUpdate, DispURL into dispUrl and DispTarget into
// dispTarget. DispURL is cut to min(resultFileSize, dispUrlSize) - 1 bytes and
// DispTarget to dispTargetSize - 1 bytes. A DispURL of exactly "(default)"
// becomes "outframe.htm" in the program folder (at most dispUrlSize - 2
// bytes); resultFile always receives "out.htm" in the program folder (at most
// resultFileSize - 2 bytes; a buffer of 1 byte gets the empty string, one of
// 0 bytes nothing).
void Kwf_ReadDisplay(const char* path, char* resultFile, int resultFileSize, char* dispUrl,
                     int dispUrlSize, char* dispTarget, int dispTargetSize, int* canUpdate);

// Returns true when the database may be updated: no bFixed line after
// DispTarget, or bFixed = 0. With a bFixed line, the Guide line must follow
// it (otherwise IniFile_Err_BadAttr or IniFile_Err_FewAttr) and its value is
// copied into guide, cut to guideSize - 1 bytes; without one, guide is left
// unchanged.
bool Kwf_ReadGuide(const char* path, char* guide, int guideSize);

// ---- The display page ---------------------------------------------------------

// Returns the page to hand to the browser for dispUrl (the DispURL that
// Kwf_ReadDisplay gives): dispUrl itself when it names a file of this
// computer: a relative, rooted or drive path, or a file: URL with no host or
// the host "localhost". Anything else (a URL of another scheme such as http:,
// https: or javascript:, a file: URL of another host, a network path \\host
// or //host) is refused: a message box (title "Tessaly!") tells the user,
// and the default display page, "outframe.htm" in the program folder, is
// copied into out (at most size - 2 bytes) and returned. The URL is read as
// a URL reader reads it: blanks and control characters before it dropped,
// tabs and line ends dropped wherever they stand, '\\' a '/'.
const char* Kwf_DisplayPage(const char* dispUrl, char* out, int size);

// ---- Search -----------------------------------------------------------------

// The search's output. onHit is called once per hit in database order, with
// the title, the matched keyword entry (nullptr when only the title matched)
// and the link address; the texts are valid during the call only. onEnd is
// called once after the last line with the number of hits.
struct Kwf_HitSink {
    void (*onHit)(void* context, const char* title, const char* keywordEntry, const char* href);
    void (*onEnd)(void* context, int count);
    void* context;
};

// Finds every page whose keywords or title contain query (ASCII letters
// without case, every other byte exactly; a match begins on a character, never
// on the trail byte of a double-byte character; an empty query finds nothing)
// and reports it to sink. The link address is the page's path joined to the
// resolved Base, with '/' for its separators and '#', '?' and a '%' that
// begins no escape written %23, %3F and %25 (blanks and escapes stay), so a
// URL reader opens that very file; a rooted path gets "file://" in front, a
// drive path "file:///" and '|' for its colon; a path stored as a URL
// ("file:", "http:") is kept as stored. Reads Base, then the "links" section
// once, line by line, parsing only the lines whose bytes may hold the query
// (a line longer than the line buffer is parsed from its first 8191 bytes
// and counts once);
// its buffers (an 8192-byte line, three 4096-byte values, a 260-byte Base)
// come from the scratch stack under one mark. Values are cut at 4095 bytes,
// joined page paths at 259. Takes no heap memory beyond what opening the file
// costs the platform. Reports as the header readers do, and
// IniFile_NotFoundSection (591) when "links" is missing; the database is then
// closed and the mark popped, and nothing more reaches the sink.
void Kwf_Search(const char* databasePath, const char* query, const Kwf_HitSink* sink);
