// tessaly-cli: the keyword database from a terminal.
//
//   tessaly-cli search DATABASE TEXT [--out FILE] [--target NAME] [--back URL]
//   tessaly-cli info DATABASE
//   tessaly-cli build [-v|--verbose] FOLDER [DATABASE]
//
// Arguments arrive in UTF-8 with native paths and are converted here, at the
// edge, to CP932 text and inside paths; what goes to standard output is
// converted back to UTF-8, and the messages of reports name paths in their
// native form. On a terminal, control characters that came from pages or
// file names are shown escaped (\x1B), never sent raw. The library is set up as the main window
// sets it up, with the same raising error hook and no try frame of our own, so a report ends the
// program the system's way: the saved report and "EXIT from ..." on standard error, status 14. A
// usage mistake exits with status 2.
//
// Each command is one function in the command table below.

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

namespace {

constexpr int kExitUsage = 2;
constexpr int kPathSize = 260;

// ---- Arguments ------------------------------------------------------------

// The arguments of one command: positional words and --name VALUE options.
struct Args {
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> options;
    bool verbose = false;  // build -v / --verbose: list each skipped page

    const std::string* Option(const char* name) const {
        for (auto& [n, v] : options)
            if (n == name) return &v;
        return nullptr;
    }
};

struct Command {
    const char* name;
    const char* usage;       // the arguments after the command name
    int minWords, maxWords;  // number of positional arguments
    const char* options[4];  // accepted --options (each takes a value), null-terminated
    int (*run)(const Args& args);
};

int RunSearch(const Args& args);
int RunInfo(const Args& args);
int RunBuild(const Args& args);

const Command kCommands[] = {
    {"search",
     "DATABASE TEXT [--out FILE] [--target NAME] [--back URL]",
     2,
     2,
     {"--out", "--target", "--back", nullptr},
     RunSearch},
    {"info", "DATABASE", 1, 1, {nullptr}, RunInfo},
    {"build", "[-v|--verbose] FOLDER [DATABASE]", 1, 2, {nullptr}, RunBuild},
};

void PrintUsage(FILE* out) {
    const char* lead = "usage:";
    for (const Command& c : kCommands) {
        fprintf(out, "%s tessaly-cli %s %s\n", lead, c.name, c.usage);
        lead = "      ";
    }
}

int UsageError(const char* fmt, const std::string& what) {
    fprintf(stderr, "tessaly-cli: ");
    fprintf(stderr, fmt, what.c_str());
    fprintf(stderr, "\n");
    PrintUsage(stderr);
    return kExitUsage;
}

// Splits argv[2..] into words and options; "--" ends the options. Returns
// false (after the usage message) on a mistake.
bool ParseArgs(const Command& cmd, int argc, char** argv, Args* args, int* status) {
    bool optionsEnded = false;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && cmd.run == RunBuild && (a == "-v" || a == "--verbose")) {
            args->verbose = true;
            continue;
        }
        if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            bool known = false;
            for (const char* const* o = cmd.options; *o; o++)
                if (a == *o) known = true;
            if (!known) {
                *status = UsageError("unknown option %s", a);
                return false;
            }
            if (i + 1 >= argc) {
                *status = UsageError("option %s needs a value", a);
                return false;
            }
            args->options.emplace_back(a, argv[++i]);
            continue;
        }
        args->words.push_back(a);
    }
    const int n = static_cast<int>(args->words.size());
    if (n < cmd.minWords || n > cmd.maxWords) {
        *status = UsageError("%s: wrong number of arguments", cmd.name);
        return false;
    }
    return true;
}

// ---- Conversions at the edge ----------------------------------------------

// A native path (relative to the current folder or absolute) as an absolute
// inside path. False when it has no CP932 form or does not fit 259 bytes.
bool ToInsidePath(const std::string& native, std::string* inside) {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(native, ec);
    if (ec) return false;
    bool exact = true;
    *inside = Fs_FromNative(abs.lexically_normal().string(), &exact);
    return exact && inside->size() < static_cast<size_t>(kPathSize);
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

// ---- search ---------------------------------------------------------------

// The page the main window writes, and the same hits listed on standard output.
struct SearchRun {
    ResPage page;
};

void OnHit(void* context, const char* title, const char* keywordEntry, const char* href) {
    SearchRun* run = static_cast<SearchRun*>(context);
    ResPage_WriteItem(&run->page, title, keywordEntry, href);
    printf("%s[%s]\t%s\n", Out(keywordEntry).c_str(), Out(title).c_str(), Out(href).c_str());
}

void OnEnd(void* context, int count) {
    SearchRun* run = static_cast<SearchRun*>(context);
    ResPage_WriteCount(&run->page, count);
    printf("%s\n", Out(std::to_string(count).append(" 件みつかりました").c_str()).c_str());
}

int RunSearch(const Args& args) {
    std::string database, query, outFile, target, back;
    if (!ToInsidePath(args.words[0], &database))
        return UsageError("cannot name the database %s", args.words[0]);
    if (!ToSjis(args.words[1], &query))
        return UsageError("the text %s has characters outside Shift_JIS", args.words[1]);
    if (const std::string* o = args.Option("--out"); o && !ToInsidePath(*o, &outFile))
        return UsageError("cannot name the result file %s", *o);
    const std::string* targetOpt = args.Option("--target");
    if (targetOpt && !ToSjis(*targetOpt, &target))
        return UsageError("the target %s has characters outside Shift_JIS", *targetOpt);
    const std::string* backOpt = args.Option("--back");
    if (backOpt && !ToSjis(*backOpt, &back))
        return UsageError("the back URL %s has characters outside Shift_JIS", *backOpt);

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
    return 0;
}

// ---- info -----------------------------------------------------------------

int RunInfo(const Args& args) {
    std::string database;
    if (!ToInsidePath(args.words[0], &database))
        return UsageError("cannot name the database %s", args.words[0]);
    const char* db = database.c_str();
    if (IsFolder(database, args.words[0])) return kExitUsage;

    const int version = CheckVersion(db);

    printf("Application: Tessaly!\n");
    printf("Version: %d\n", version);
    char base[kPathSize];
    Kwf_ReadBase(db, base, sizeof base);
    printf("Base: %s\n", Fs_ToNative(base).c_str());
    if (Kwf_IsNewFile(db)) {
        printf("Data: none\n");
        printf("Can update: yes\n");
        return 0;
    }

    time_t updated = 0;
    Kwf_ReadUpdateTime(db, &updated);
    char updateText[32];
    StrX_TimeToText(updated, updateText);
    struct tm span;
    StrX_SplitSpan(&span, difftime(time(nullptr), updated));
    printf("Updated: %s (%ld days ago)\n", Out(updateText).c_str(),
           static_cast<long>(span.tm_mday));
    printf("Pages: %d\n", Kwf_CountPages(db));

    char resultFile[kPathSize], dispUrl[kPathSize], dispTarget[40];
    int canUpdate = 0;
    Kwf_ReadDisplay(db, resultFile, sizeof resultFile, dispUrl, sizeof dispUrl, dispTarget,
                    sizeof dispTarget, &canUpdate);
    char guide[256] = "";
    bool notFixed = Kwf_ReadGuide(db, guide, sizeof guide);
    printf("Can update: %s\n", notFixed && canUpdate ? "yes" : "no");
    if (!notFixed) printf("Guide: %s\n", Out(guide).c_str());
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
        return UsageError("cannot name the folder %s", args.words[0]);
    if (args.words.size() > 1 && !ToInsidePath(args.words[1], &database))
        return UsageError("cannot name the database %s", args.words[1]);

    // The folder as the update dialog hands it to the builder: absolute,
    // inside form, with a trailing backslash.
    char base[kPathSize];
    StrX_CopyN(base, folder.c_str(), sizeof base - 1);
    StrX_AddLastChar(base, '\\');
    if (!FileX_IsDir(base)) ERRORS_REPORT(Errors_Unofficial, "指定した調べる場所が存在しません");
    if (database.empty()) {
        database = std::string(base) + "vark.kwf";
        if (database.size() >= static_cast<size_t>(kPathSize))
            return UsageError("cannot name the database in %s", args.words[0]);
    }

    BuildRun run{isatty(2) != 0, strlen(base), 0};
    SetHandler(SIGINT, OnInterrupt);
    SetHandler(SIGTERM, OnTerminate);
    SetHandler(SIGHUP, OnTerminate);
    CreKey_Stats stats{};
    const CreKey_SkipSink skips{OnSkip, &run};
    CreKey_Build(&g_cancel, base, database.c_str(), OnProgress, &run, "main", &stats,
                 args.verbose ? &skips : nullptr);
    SetHandler(SIGINT, SIG_DFL);
    SetHandler(SIGTERM, SIG_DFL);
    SetHandler(SIGHUP, SIG_DFL);
    if (run.tty) fprintf(stderr, "\r\033[K");
    fprintf(stderr, "%s%d files seen, %d pages indexed, %d pages skipped\n",
            g_cancel ? "cancelled: " : "", stats.files, stats.pages, stats.skipped);
    printf("%s\n", Fs_ToNative(database).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h") {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command& cmd : kCommands) {
        if (name != cmd.name) continue;
        Args args;
        int status = 0;
        if (!ParseArgs(cmd, argc, argv, &args, &status)) return status;
        VarkApp_InitLibrary();
        g_outTty = isatty(1) != 0;
        g_errTty = isatty(2) != 0;
        static CliMsgBox box;
        MsgBox_SetBackend(&box);
        int result = cmd.run(args);
        fflush(stdout);
        return result;
    }
    return UsageError("unknown command %s", name);
}
