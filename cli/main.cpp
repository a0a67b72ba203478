// tessaly-cli: the keyword database from a terminal.
//
//   tessaly-cli build FOLDER [DATABASE] [-v|--verbose]
//   tessaly-cli search DATABASE TEXT [--out FILE] [--target NAME] [--back URL] [--json]
//   tessaly-cli info DATABASE [--json]
//   tessaly-cli --help | --version, tessaly-cli COMMAND --help
//
// Arguments arrive in UTF-8 with native paths and are converted here, at the
// edge, to CP932 text and inside paths; what goes to standard output is
// converted back to UTF-8, and the messages of reports name paths in their
// native form. On a terminal, control characters that came from pages or
// file names are shown escaped (\x1B), never sent raw. With --json, search
// and info write JSON (always valid UTF-8) for scripts instead of the
// listing. The library is set up as the main window sets it up, with the
// same raising error hook and no try frame of our own, so a report ends the
// program the system's way: the saved report and "EXIT from ..." on standard
// error, status 14. A usage mistake exits with status 2, a search that finds
// nothing with status 1.
//
// Each command is one entry of the command table below: its arguments, its
// options (add one there and it is parsed, listed in the help and offered in
// the usage line) and the function that runs it.

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/crekey.h"
#include "app/kwf.h"
#include "app/respage.h"
#include "app/varkapp.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/filex.h"
#include "components/strx.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "tessaly_version.h"

namespace {

// Exit statuses, as the help and the manual give them.
constexpr int kExitNothingFound = 1;  // search: no page holds the text
constexpr int kExitUsage = 2;         // a usage mistake (14 is a reported failure)
constexpr int kPathSize = 260;

// ---- Arguments ------------------------------------------------------------

// An option of a command: "--name VALUE" (also "--name=VALUE"), or a flag
// when value is null.
struct Option {
    const char* name;
    const char* value;  // the value's name in the help, e.g. "FILE"
    const char* help;
};

// The arguments of one command: positional words and options in the order
// given (a flag's value is empty).
struct Args {
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> options;

    // The value of the option's last occurrence; null when it was not given.
    const std::string* Option(const char* name) const {
        const std::string* found = nullptr;
        for (auto& [n, v] : options)
            if (n == name) found = &v;
        return found;
    }
    bool Has(const char* name) const { return Option(name) != nullptr; }
};

struct Command {
    const char* name;
    const char* words;       // the positional arguments, e.g. "DATABASE TEXT"
    int minWords, maxWords;  // number of positional arguments
    const Option* options;   // ends with an entry whose name is null
    const char* summary;     // one line for the general help
    const char* about;       // what the command does, for its own help
    const char* status;      // its exit statuses
    int (*run)(const Args& args);
};

int RunSearch(const Args& args);
int RunInfo(const Args& args);
int RunBuild(const Args& args);

const Option kNoOptions[] = {{nullptr, nullptr, nullptr}};
const Option kBuildOptions[] = {
    {"--verbose", nullptr, "list each skipped page and why on standard error (also -v)"},
    {nullptr, nullptr, nullptr}};
const Option kSearchOptions[] = {
    {"--out", "FILE", "write the result page to FILE (default: out.htm in the program folder)"},
    {"--target", "NAME", "open the links in the frame NAME (default: the database's frame)"},
    {"--back", "URL", "put a link back to URL at the head of the result page"},
    {"--json", nullptr, "list the hits as JSON for scripts: one object a line, then the count"},
    {nullptr, nullptr, nullptr}};
const Option kInfoOptions[] = {{"--json", nullptr, "write the header as one JSON object"},
                               {nullptr, nullptr, nullptr}};

const Command kCommands[] = {
    {"build", "FOLDER [DATABASE]", 1, 2, kBuildOptions,
     "index the pages of FOLDER (DATABASE: FOLDER/vark.kwf)",
     "Reads the title and keywords of every page below FOLDER and writes the keyword\n"
     "database DATABASE (by default vark.kwf in FOLDER). A progress bar is drawn on a\n"
     "terminal; Ctrl-C stops after the current page, and the previous database stays\n"
     "as it was. Prints the database's path; the summary goes to standard error.\n",
     "0 built (or stopped by Ctrl-C), 2 a usage mistake, 14 a reported failure", RunBuild},
    {"search", "DATABASE TEXT", 2, 2, kSearchOptions,
     "find the pages whose keywords or title contain TEXT",
     "Finds every page whose keywords or title contain TEXT (ASCII letters without\n"
     "case), writes the result page and lists the hits: the keyword entry, the title\n"
     "in brackets and the link, then the count.\n",
     "0 pages found, 1 nothing found, 2 a usage mistake, 14 a reported failure", RunSearch},
    {"info", "DATABASE", 1, 1, kInfoOptions, "show the header of DATABASE",
     "Shows the header of the keyword database DATABASE: its version, the folder it\n"
     "was built from, when, how many pages it holds and whether it may be updated.\n",
     "0 shown, 2 a usage mistake, 14 a reported failure", RunInfo},
};

// The command being run, for the usage messages of its checks.
const Command* g_command = nullptr;

// The usage line of a command, options included.
std::string UsageLine(const Command& c) {
    std::string line = std::string("tessaly-cli ") + c.name + " " + c.words;
    for (const Option* o = c.options; o->name; o++)
        line += std::string(" [") + o->name + (o->value ? std::string(" ") + o->value : "") + "]";
    return line;
}

void PrintUsage(FILE* out) {
    const char* lead = "usage:";
    for (const Command& c : kCommands) {
        fprintf(out, "%s %s\n", lead, UsageLine(c).c_str());
        lead = "      ";
    }
    fprintf(out, "%s tessaly-cli --help | --version\n", lead);
}

void PrintHelp() {
    PrintUsage(stdout);
    printf("\nBuilds and searches the keyword databases of Tessaly! (vark.kwf).\n\nCommands:\n");
    for (const Command& c : kCommands) printf("  %-8s%s\n", c.name, c.summary);
    printf(
        "\nOptions:\n"
        "  -h, --help     show this help and exit; after a command, the command's help\n"
        "  -V, --version  show the version, the database version written and the build date\n"
        "\nArguments and output are UTF-8; paths are ordinary paths.\n"
        "\nExit status:\n"
        "  0   done; for search, pages were found\n"
        "  1   search found nothing\n"
        "  2   a usage mistake\n"
        "  14  a reported failure (the messages are on standard error)\n"
        "\nSee tessaly-cli(1) for more.\n");
}

void PrintCommandHelp(const Command& c) {
    printf("usage: %s\n\n%s\nOptions:\n", UsageLine(c).c_str(), c.about);
    for (const Option* o = c.options; o->name; o++) {
        const std::string left =
            std::string(o->name) + (o->value ? std::string(" ") + o->value : "");
        printf("  %-14s %s\n", left.c_str(), o->help);
    }
    printf("  %-14s %s\n\nExit status: %s.\n", "-h, --help", "show this help and exit", c.status);
}

void PrintVersion() {
    printf("tessaly-cli (Tessaly!) %s\ndatabase version %d\nbuilt %s\n", TESSALY_VERSION,
           TESSALY_DATABASE_VERSION, TESSALY_BUILD_DATE);
}

// A usage mistake: the message on standard error with the usage of the
// command (all of them when cmd is null). Returns the exit status.
int UsageError(const Command* cmd, const char* fmt, const std::string& what) {
    fprintf(stderr, "tessaly-cli: ");
    fprintf(stderr, fmt, what.c_str());
    fprintf(stderr, "\n");
    if (cmd) {
        fprintf(stderr, "usage: %s\nTry 'tessaly-cli %s --help' for more.\n",
                UsageLine(*cmd).c_str(), cmd->name);
    } else {
        PrintUsage(stderr);
        fprintf(stderr, "Try 'tessaly-cli --help' for more.\n");
    }
    return kExitUsage;
}

// Splits argv[2..] into words and options; "--" ends the options, "-h" or
// "--help" before it asks for the command's help. Returns -1 when the command
// is to run, otherwise the exit status (after the help or the usage message).
int ParseArgs(const Command& cmd, int argc, char** argv, Args* args) {
    bool optionsEnded = false;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            args->words.push_back(a);
            continue;
        }
        if (a == "-h" || a == "--help") {
            PrintCommandHelp(cmd);
            return 0;
        }
        const size_t eq = a.starts_with("--") ? a.find('=') : std::string::npos;
        std::string name = a.substr(0, eq);
        if (name == "-v" && cmd.options == kBuildOptions) name = "--verbose";
        const Option* o = cmd.options;
        while (o->name && name != o->name) o++;
        if (!o->name) return UsageError(&cmd, "unknown option %s", name);
        if (!o->value) {
            if (eq != std::string::npos) return UsageError(&cmd, "option %s takes no value", name);
            args->options.emplace_back(name, "");
        } else if (eq != std::string::npos) {
            args->options.emplace_back(name, a.substr(eq + 1));
        } else if (i + 1 < argc) {
            args->options.emplace_back(name, argv[++i]);
        } else {
            return UsageError(&cmd, "option %s needs a value", name);
        }
    }
    const int n = static_cast<int>(args->words.size());
    if (n < cmd.minWords || n > cmd.maxWords)
        return UsageError(&cmd, "%s: wrong number of arguments", cmd.name);
    return -1;
}

// ---- Conversions at the edge ----------------------------------------------

// A native path (relative to the current folder or absolute) as an absolute
// inside path. False when it does not fit 259 bytes.
bool ToInsidePath(const std::string& native, std::string* inside) {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(native, ec);
    if (ec) return false;
    *inside = Fs_FromNative(abs.lexically_normal().string());
    return inside->size() < static_cast<size_t>(kPathSize);
}

// UTF-8 text as CP932; false when a character has no CP932 form.
bool ToSjis(const std::string& utf8, std::string* sjis) {
    bool exact = true;
    *sjis = CodePage_Utf8ToSjis(utf8, &exact);
    return exact;
}

// UTF-8 text as a terminal may receive it: C0 and C1 control characters and
// DEL written as \xHH (a C1 character as its two bytes), the rest as it is.
std::string Escaped(const std::string& utf8) {
    std::string out;
    char hex[8];
    for (size_t i = 0; i < utf8.size(); i++) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const bool c1 = c == 0xC2 && i + 1 < utf8.size() &&
                        static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            if (c1) {
                snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(utf8[++i]));
                out += hex;
            }
            continue;
        }
        out += utf8[i];
    }
    return out;
}

// Standard output and standard error are terminals.
bool g_outTty = false, g_errTty = false;

// CP932 text for standard output, escaped on a terminal.
std::string Out(const char* sjis) {
    const std::string utf8 = CodePage_SjisToUtf8(sjis ? sjis : "");
    return g_outTty ? Escaped(utf8) : utf8;
}

// Appends what Out gives for sjis to *out (null counts as empty).
void AppendOut(std::string* out, const char* sjis) {
    if (g_outTty)
        *out += Out(sjis);
    else if (sjis)
        CodePage_AppendSjisAsUtf8(out, sjis);
}

// The message boxes of reports on standard error: paths in their native form
// (every backslash that is not a trail byte is a separator), escaped on a
// terminal, answered OK.
class CliMsgBox : public MsgBox_Backend {
   public:
    int Show(const char* title, const char* text, int, int) override {
        std::string t = CodePage_SjisToUtf8(title), m = Fs_ToNative(text);
        if (g_errTty) {
            t = Escaped(t);
            m = Escaped(m);
        }
        fprintf(stderr, "[%s] %s\n", t.c_str(), m.c_str());
        fflush(stderr);
        return MsgBox_IDOK;
    }
};

// Ends the command when path names a folder where a database is expected.
bool IsFolder(const std::string& database, const std::string& shown) {
    if (!FileX_IsDir(database.c_str())) return false;
    fprintf(stderr, "tessaly-cli: %s is a folder, not a database\n", shown.c_str());
    return true;
}

// The main window's version check of a database that exists; returns the
// version when it passes.
int CheckVersion(const char* database) {
    const int version = Kwf_ReadVersion(database);
    if (version > 101)
        ERRORS_REPORT(
            Errors_Unofficial,
            "新しいバージョンのファイルです。新しいアプリケーションをインストールしてください。");
    return version;
}

// ---- JSON ------------------------------------------------------------------

// Everything written is valid UTF-8 whatever the database holds. A CP932
// character without a Unicode form (an unassigned code, a lead byte without
// its trail byte, a lone byte 0x80, 0xA0 or 0xFD-0xFF), and a byte of a native
// path that is not part of valid UTF-8, is written as U+FFFD; the object it
// belongs to then says "exact": false. Quotes, backslashes and control
// characters are escaped; every other character is written as it is.

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at p[0, left); 0 when there is none.
size_t Utf8Length(const unsigned char* p, size_t left) {
    const unsigned c = p[0];
    size_t n;
    unsigned cp, min;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, min = 0x80, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, min = 0x800, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, min = 0x10000, cp = c & 0x07;
    else
        return 0;
    if (n > left) return 0;
    for (size_t i = 1; i < n; i++) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0 : n;
}

// Appends utf8 as a quoted JSON string; a byte outside valid UTF-8 becomes
// U+FFFD and clears *exact.
void JsonString(std::string* out, std::string_view utf8, bool* exact) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t size = utf8.size();
    out->push_back('"');
    for (size_t i = 0; i < size;) {
        const unsigned char c = p[i];
        if (c >= 0x80) {
            const size_t n = Utf8Length(p + i, size - i);
            if (n == 0) {
                out->append(kReplacement);
                *exact = false;
                i++;
            } else {
                out->append(utf8.substr(i, n));
                i += n;
            }
            continue;
        }
        i++;
        switch (c) {
            case '"':
                out->append("\\\"");
                continue;
            case '\\':
                out->append("\\\\");
                continue;
            case '\b':
                out->append("\\b");
                continue;
            case '\f':
                out->append("\\f");
                continue;
            case '\n':
                out->append("\\n");
                continue;
            case '\r':
                out->append("\\r");
                continue;
            case '\t':
                out->append("\\t");
                continue;
        }
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\u%04x", c);
            out->append(hex);
        } else {
            out->push_back(static_cast<char>(c));
        }
    }
    out->push_back('"');
}

// Returns the UTF-8 form of CP932 text; each unit without a Unicode form
// becomes U+FFFD and clears *exact. A unit is a lead byte with a valid trail
// byte, or one byte (so a broken pair never swallows the ASCII byte after it).
std::string SjisToUtf8Marked(std::string_view sjis, bool* exact) {
    bool whole = true;
    std::string utf8 = CodePage_SjisToUtf8(sjis, &whole);
    if (whole) return utf8;
    utf8.clear();
    for (size_t i = 0; i < sjis.size();) {
        const auto lead = static_cast<unsigned char>(sjis[i]);
        const auto trail = static_cast<unsigned char>(i + 1 < sjis.size() ? sjis[i + 1] : 0);
        const size_t n =
            CodePage_IsLead(lead) && trail >= 0x40 && trail <= 0xFC && trail != 0x7F ? 2 : 1;
        bool ok = true;
        const std::string unit = CodePage_SjisToUtf8(sjis.substr(i, n), &ok);
        if (ok) {
            utf8 += unit;
        } else {
            utf8 += kReplacement;
            *exact = false;
        }
        i += n;
    }
    return utf8;
}

// Appends CP932 text as a JSON string (null for a null pointer).
void JsonSjis(std::string* out, const char* sjis, bool* exact) {
    if (!sjis) {
        out->append("null");
        return;
    }
    JsonString(out, SjisToUtf8Marked(sjis, exact), exact);
}

// Appends an inside path as a JSON string in its native form.
void JsonPath(std::string* out, std::string_view inside, bool* exact) {
    bool whole = true;
    CodePage_SjisToUtf8(inside, &whole);
    if (whole) {
        JsonString(out, Fs_ToNative(inside), exact);
        return;
    }
    // No native form: the separators made slashes, the rest as text is.
    std::string slashed(inside);
    for (size_t i = 0; i < slashed.size(); i++) {
        if (CodePage_IsLead(static_cast<unsigned char>(slashed[i])) && i + 1 < slashed.size())
            i++;
        else if (slashed[i] == '\\')
            slashed[i] = '/';
    }
    JsonString(out, SjisToUtf8Marked(slashed, exact), exact);
}

// Appends a JSON member name: ",\"name\":" (no comma before the first).
void JsonKey(std::string* out, const char* name) {
    if (out->back() != '{') out->push_back(',');
    out->append("\"").append(name).append("\":");
}

// ---- search ---------------------------------------------------------------

// The page the main window writes, and the same hits on standard output:
// listed, or as JSON.
struct SearchRun {
    ResPage page;
    bool json;
    int count;
    std::string line;  // the listing's line being made, kept for its room
};

// The native path of the page a link names: a file: URL of a rooted path
// (not of a drive path, "file:///C|/..."); null for any other link.
const char* PagePath(const char* href) {
    if (strncmp(href, "file:///", 8) != 0 || (href[8] && href[9] == '|')) return nullptr;
    return href + 7;
}

// One hit as a line of JSON:
// {"title":…,"keyword":…|null,"path":…|null,"href":…,"exact":true|false}
void WriteJsonHit(const char* title, const char* keywordEntry, const char* href) {
    std::string line = "{";
    bool exact = true;
    JsonKey(&line, "title");
    JsonSjis(&line, title, &exact);
    JsonKey(&line, "keyword");
    JsonSjis(&line, keywordEntry, &exact);
    JsonKey(&line, "path");
    if (const char* path = PagePath(href))
        JsonPath(&line, path, &exact);
    else
        line += "null";
    JsonKey(&line, "href");
    JsonSjis(&line, href, &exact);
    JsonKey(&line, "exact");
    line += exact ? "true}\n" : "false}\n";
    fputs(line.c_str(), stdout);
}

void OnHit(void* context, const char* title, const char* keywordEntry, const char* href) {
    SearchRun* run = static_cast<SearchRun*>(context);
    ResPage_WriteItem(&run->page, title, keywordEntry, href);
    if (run->json) {
        WriteJsonHit(title, keywordEntry, href);
        return;
    }
    // ENTRY[TITLE]<TAB>LINK, made in one string and written at once.
    std::string& line = run->line;
    line.clear();
    AppendOut(&line, keywordEntry);
    line += '[';
    AppendOut(&line, title);
    line += "]\t";
    AppendOut(&line, href);
    line += '\n';
    fwrite(line.data(), 1, line.size(), stdout);
}

void OnEnd(void* context, int count) {
    SearchRun* run = static_cast<SearchRun*>(context);
    ResPage_WriteCount(&run->page, count);
    run->count = count;
    if (run->json)
        printf("{\"count\":%d}\n", count);
    else
        printf("%s\n", Out(std::to_string(count).append(" 件みつかりました").c_str()).c_str());
}

int RunSearch(const Args& args) {
    std::string database, query, outFile, target, back;
    if (!ToInsidePath(args.words[0], &database))
        return UsageError(g_command, "cannot name the database %s", args.words[0]);
    if (!ToSjis(args.words[1], &query))
        return UsageError(g_command, "the text %s has characters outside Shift_JIS", args.words[1]);
    if (const std::string* o = args.Option("--out"); o && !ToInsidePath(*o, &outFile))
        return UsageError(g_command, "cannot name the result file %s", *o);
    const std::string* targetOpt = args.Option("--target");
    if (targetOpt && !ToSjis(*targetOpt, &target))
        return UsageError(g_command, "the target %s has characters outside Shift_JIS", *targetOpt);
    const std::string* backOpt = args.Option("--back");
    if (backOpt && !ToSjis(*backOpt, &back))
        return UsageError(g_command, "the back URL %s has characters outside Shift_JIS", *backOpt);

    if (IsFolder(database, args.words[0])) return kExitUsage;
    CheckVersion(database.c_str());

    char resultFile[kPathSize], dispUrl[kPathSize], dispTarget[40];
    int canUpdate = 0;
    Kwf_ReadDisplay(database.c_str(), resultFile, sizeof resultFile, dispUrl, sizeof dispUrl,
                    dispTarget, sizeof dispTarget, &canUpdate);
    if (!outFile.empty()) StrX_CopyN(resultFile, outFile.c_str(), sizeof resultFile);
    const char* frame = targetOpt ? target.c_str() : dispTarget;
    // The page is written over before the database is read: never the same file.
    if (Fs_SameFile(resultFile, database.c_str())) {
        fprintf(stderr, "tessaly-cli: the result file %s is the database\n",
                Fs_ToNative(resultFile).c_str());
        return kExitUsage;
    }

    SearchRun run{};
    run.json = args.Has("--json");
    // A listing of many hits goes out in large blocks; a terminal keeps its
    // line buffering.
    static char listingBuffer[1 << 16];
    if (!g_outTty) setvbuf(stdout, listingBuffer, _IOFBF, sizeof listingBuffer);
    Except3_Sys* sys = Except3_GetSys();
    EXCEPT3_TRY(
        [&] {
            ResPage_Open(&run.page, resultFile);
            ResPage_SetTarget(&run.page, frame);
            ResPage_WriteHead(&run.page, query.c_str(), back.c_str());
            Kwf_HitSink sink{OnHit, OnEnd, &run};
            Kwf_Search(database.c_str(), query.c_str(), &sink);
            ResPage_WriteFoot(&run.page);
            ResPage_Close(&run.page);
        },
        [&] {
            // The report goes on and ends the program; the page is closed first.
            if (run.page.file) fclose(run.page.file);
            run.page.file = nullptr;
            Except3_Throw(sys, sys->msg);
        });
    return run.count > 0 ? 0 : kExitNothingFound;
}

// ---- info -----------------------------------------------------------------

// The header as info shows it; a database without built data (bNewFile)
// has only the first three.
struct Header {
    int version;
    char base[kPathSize];
    bool newFile;
    time_t updated;
    char updateText[32];
    int pages;
    char resultFile[kPathSize], dispUrl[kPathSize], dispTarget[40];
    int canUpdate;
    bool notFixed;
    char guide[256];
};

void ReadHeader(const char* db, Header* h) {
    h->version = CheckVersion(db);
    Kwf_ReadBase(db, h->base, sizeof h->base);
    h->newFile = Kwf_IsNewFile(db);
    if (h->newFile) return;
    Kwf_ReadUpdateTime(db, &h->updated);
    StrX_TimeToText(h->updated, h->updateText);
    h->pages = Kwf_CountPages(db);
    Kwf_ReadDisplay(db, h->resultFile, sizeof h->resultFile, h->dispUrl, sizeof h->dispUrl,
                    h->dispTarget, sizeof h->dispTarget, &h->canUpdate);
    h->notFixed = Kwf_ReadGuide(db, h->guide, sizeof h->guide);
}

void PrintHeader(const Header& h) {
    printf("Application: Tessaly!\n");
    printf("Version: %d\n", h.version);
    const std::string base = Fs_ToNative(h.base);
    printf("Base: %s\n", (g_outTty ? Escaped(base) : base).c_str());
    if (h.newFile) {
        printf("Data: none\n");
        printf("Can update: yes\n");
        return;
    }
    struct tm span;
    StrX_SplitSpan(&span, difftime(time(nullptr), h.updated));
    printf("Updated: %s (%ld days ago)\n", Out(h.updateText).c_str(),
           static_cast<long>(span.tm_mday));
    printf("Pages: %d\n", h.pages);
    printf("Can update: %s\n", h.notFixed && h.canUpdate ? "yes" : "no");
    if (!h.notFixed) printf("Guide: %s\n", Out(h.guide).c_str());
}

// The header as one JSON object; the fields of a database without built data
// are null, but for can_update (true) and fixed (false).
void PrintHeaderJson(const Header& h) {
    std::string o = "{";
    bool exact = true;
    JsonKey(&o, "application");
    o += "\"Tessaly!\"";
    JsonKey(&o, "version");
    o += std::to_string(h.version);
    JsonKey(&o, "new_file");
    o += h.newFile ? "true" : "false";
    JsonKey(&o, "base");
    JsonPath(&o, h.base, &exact);
    JsonKey(&o, "updated");
    if (h.newFile)
        o += "null";
    else
        JsonSjis(&o, h.updateText, &exact);
    JsonKey(&o, "update_time");
    o += h.newFile ? "null" : std::to_string(static_cast<long long>(h.updated));
    JsonKey(&o, "pages");
    o += h.newFile ? "null" : std::to_string(h.pages);
    JsonKey(&o, "can_update");
    o += h.newFile || (h.notFixed && h.canUpdate) ? "true" : "false";
    JsonKey(&o, "fixed");
    o += !h.newFile && !h.notFixed ? "true" : "false";
    JsonKey(&o, "guide");
    JsonSjis(&o, h.newFile || h.notFixed ? nullptr : h.guide, &exact);
    JsonKey(&o, "display_url");
    if (h.newFile)
        o += "null";
    else if (h.dispUrl[0] == '\\')  // the program folder's outframe.htm
        JsonPath(&o, h.dispUrl, &exact);
    else
        JsonSjis(&o, h.dispUrl, &exact);
    JsonKey(&o, "display_target");
    JsonSjis(&o, h.newFile ? nullptr : h.dispTarget, &exact);
    JsonKey(&o, "exact");
    o += exact ? "true}\n" : "false}\n";
    fputs(o.c_str(), stdout);
}

int RunInfo(const Args& args) {
    std::string database;
    if (!ToInsidePath(args.words[0], &database))
        return UsageError(g_command, "cannot name the database %s", args.words[0]);
    if (IsFolder(database, args.words[0])) return kExitUsage;
    Header h{};
    ReadHeader(database.c_str(), &h);
    if (args.Has("--json"))
        PrintHeaderJson(h);
    else
        PrintHeader(h);
    return 0;
}

// ---- build ----------------------------------------------------------------

// Set by the first Ctrl-C; the progress callback hands it to the build as
// its cancel flag, which the build reads after each call.
volatile sig_atomic_t g_interrupted = 0;
volatile unsigned char g_cancel = 0;

// Ctrl-C asks the build to stop after the current file (see CreKey_Build for
// what the database then holds). A second Ctrl-C ends the program at once,
// and so do SIGTERM and SIGHUP: the new file is removed first, the previous
// database stays as it was.
void OnInterrupt(int) {
    if (g_interrupted) {
        Fs_RemovePendingTemp();
        _exit(130);
    }
    g_interrupted = 1;
}

void OnTerminate(int sig) {
    Fs_RemovePendingTemp();
    signal(sig, SIG_DFL);
    raise(sig);
}

void SetHandler(int sig, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

struct BuildRun {
    bool tty;        // standard error is a terminal: draw the progress bar
    size_t baseLen;  // bytes of the base folder, left out of the shown path
    long long lastDrawMs;
};

// Milliseconds of a monotonic clock.
long long NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

int OnProgress(void* context, const CreKey_Progress* p) {
    BuildRun* run = static_cast<BuildRun*>(context);
    if (g_interrupted) g_cancel = 1;
    if (!run->tty) return 0;
    // Redraw ten times a second at most: a fast build would flood the terminal.
    const long long now = NowMs();
    if (p->count > 1 && now - run->lastDrawMs < 100) return 0;
    run->lastDrawMs = now;
    constexpr int kBar = 24;
    double fraction = p->total > 0 ? static_cast<double>(p->position) / p->total : 0;
    if (fraction > 1) fraction = 1;
    const int filled = static_cast<int>(fraction * kBar + 0.5);
    std::string bar(filled, '#');
    bar.append(kBar - filled, '-');
    std::string shown = Escaped(Fs_ToNative(p->path + std::min(strlen(p->path), run->baseLen)));
    if (shown.size() > 40) shown = "..." + shown.substr(shown.size() - 37);
    fprintf(stderr, "\r\033[K[%s] %3d%% %d files  %s", bar.c_str(),
            static_cast<int>(fraction * 100), p->count, shown.c_str());
    fflush(stderr);
    return 0;
}

// build -v: each skipped page and why, on standard error.
void OnSkip(void* context, const char* path, int reason) {
    const char* why = reason == CreKey_Skip_TooLong      ? "path too long"
                      : reason == CreKey_Skip_NotRegular ? "not a regular file"
                      : reason == CreKey_Skip_Unreadable ? "cannot be read"
                      : reason == CreKey_Skip_NotText    ? "not text"
                      : reason == CreKey_Skip_Database   ? "the database itself"
                                                         : "skipped";
    std::string shown = Fs_ToNative(path);
    if (g_errTty) shown = Escaped(shown);
    if (static_cast<BuildRun*>(context)->tty) fprintf(stderr, "\r\033[K");
    fprintf(stderr, "skipped: %s (%s)\n", shown.c_str(), why);
}

int RunBuild(const Args& args) {
    std::string folder, database;
    if (!ToInsidePath(args.words[0], &folder))
        return UsageError(g_command, "cannot name the folder %s", args.words[0]);
    if (args.words.size() > 1 && !ToInsidePath(args.words[1], &database))
        return UsageError(g_command, "cannot name the database %s", args.words[1]);

    // The folder as the update dialog hands it to the builder: absolute,
    // inside form, with a trailing backslash.
    char base[kPathSize];
    StrX_CopyN(base, folder.c_str(), sizeof base - 1);
    StrX_AddLastChar(base, '\\');
    if (!FileX_IsDir(base)) ERRORS_REPORT(Errors_Unofficial, "指定した調べる場所が存在しません");
    if (database.empty()) {
        database = std::string(base) + "vark.kwf";
        if (database.size() >= static_cast<size_t>(kPathSize))
            return UsageError(g_command, "cannot name the database in %s", args.words[0]);
    }

    BuildRun run{isatty(2) != 0, strlen(base), 0};
    SetHandler(SIGINT, OnInterrupt);
    SetHandler(SIGTERM, OnTerminate);
    SetHandler(SIGHUP, OnTerminate);
    CreKey_Stats stats{};
    const CreKey_SkipSink skips{OnSkip, &run};
    CreKey_Build(&g_cancel, base, database.c_str(), OnProgress, &run, "main", &stats,
                 args.Has("--verbose") ? &skips : nullptr);
    SetHandler(SIGINT, SIG_DFL);
    SetHandler(SIGTERM, SIG_DFL);
    SetHandler(SIGHUP, SIG_DFL);
    if (run.tty) fprintf(stderr, "\r\033[K");
    fprintf(stderr, "%s%d files seen, %d pages indexed, %d pages skipped\n",
            g_cancel ? "cancelled: " : "", stats.files, stats.pages, stats.skipped);
    const std::string shown = Fs_ToNative(database);
    printf("%s\n", (g_outTty ? Escaped(shown) : shown).c_str());
    return 0;
}

}  // namespace

// Sets the library up with its program folder, where out.htm goes by
// default: the folder of the executable, unless the program is installed (no
// resources beside it, but in ../share/tessaly); then the per-user folder the
// window uses ($XDG_DATA_HOME/tessaly), never the system's bin/. False, after
// a message, when that folder cannot be used.
bool InitLibrary() {
    char exe[kPathSize];
    Fs_GetExePath(exe, sizeof exe);
    const std::string native = Fs_ToNative(exe);
    const std::string folder = native.substr(0, native.rfind('/'));
    std::error_code ec;
    if (std::filesystem::exists(folder + "/tessaly.rc", ec) ||
        !std::filesystem::exists(folder + "/../share/tessaly/tessaly.rc", ec)) {
        VarkApp_InitLibrary();
        return true;
    }
    VarkApp_Folders folders;
    std::string message;
    if (!VarkApp_FindFolders(&folders, &message)) {
        fprintf(stderr, "tessaly-cli: %s\n", CodePage_SjisToUtf8(message).c_str());
        return false;
    }
    VarkApp_InitLibrary(folders.programFile.c_str());
    return true;
}

// Returns status once standard output has been written out; a write that
// failed (a full disk, a closed pipe) is a failure, status 14.
int Finish(int status) {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "tessaly-cli: cannot write to standard output\n");
        return 14;
    }
    return status;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h") {
        PrintHelp();
        return Finish(0);
    }
    if (name == "--version" || name == "-V") {
        PrintVersion();
        return Finish(0);
    }
    for (const Command& cmd : kCommands) {
        if (name != cmd.name) continue;
        Args args;
        if (int status = ParseArgs(cmd, argc, argv, &args); status >= 0) return Finish(status);
        g_command = &cmd;
        if (!InitLibrary()) return 14;
        g_outTty = isatty(1) != 0;
        g_errTty = isatty(2) != 0;
        static CliMsgBox box;
        MsgBox_SetBackend(&box);
        return Finish(cmd.run(args));
    }
    if (name.size() > 1 && name[0] == '-') return UsageError(nullptr, "unknown option %s", name);
    return UsageError(nullptr, "unknown command %s", name);
}
