// tessaly-cli run as a separate process: output, result page and exit status.
// The program is TESSALY_CLI or ../bin/tessaly-cli beside this test's folder;
// fixtures come from TestDataDir() (TESSALY_TEST_DATA or the source tree's tests/data).

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "components/strx.h"
#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
constexpr size_t npos = std::string::npos;

std::string CliPath() {
    if (const char* env = getenv("TESSALY_CLI"); env && *env) return env;
    return (fs::read_symlink("/proc/self/exe").parent_path() / ".." / "bin" / "tessaly-cli")
        .lexically_normal()
        .string();
}

std::string DataDir() {
    return TestDataDir();
}

std::string Data(const char* name) {
    return DataDir() + "/" + name;
}

const char kUsage[] =
    "usage: tessaly-cli build FOLDER [DATABASE] [--verbose]\n"
    "       tessaly-cli search DATABASE TEXT [--out FILE] [--target NAME] [--back URL] [--json]\n"
    "       tessaly-cli info DATABASE [--json]\n"
    "       tessaly-cli --help | --version\n";

struct CliRun {
    int status = -1;
    std::string out, err;
};

class CliTest : public testing::Test {
   protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(CliPath()))
            << "tessaly-cli not found at " << CliPath() << " (set TESSALY_CLI)";
    }

    // Runs the program with args (UTF-8) in folder cwd (the test's own when
    // empty) through the shell; returns its exit status and what it wrote.
    // With limits, the shell sets them first (e.g. "ulimit -f 1").
    CliRun Cli(const Args& args, const std::string& cwd = "", const std::string& exe = CliPath(),
               const std::string& limits = "") {
        auto quote = [](std::string s) {
            for (size_t i = 0; (i = s.find('\'', i)) != npos; i += 4) s.replace(i, 1, "'\\''");
            return "'" + s + "'";
        };
        const std::string out = io_.path() + "/stdout", err = io_.path() + "/stderr";
        std::string command = std::string("cd ") + quote(cwd.empty() ? "." : cwd) + " && " +
                              limits + (limits.empty() ? "" : " && ") + "exec " + quote(exe);
        for (const std::string& a : args) command += " " + quote(a);
        command += " >" + quote(out) + " 2>" + quote(err);
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    }

    TempDir tmp_;
    TempDir io_;
};

// The names in a native folder, hidden ones included, sorted.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The href of a page below the data folder (Base "." beside the database).
std::string Href(const std::string& rel) {
    return "file://" + DataDir() + "/" + rel;
}

TEST_F(CliTest, SearchWritesThePageAndListsTheHits) {
    // A copy of the program in a folder of its own: out.htm lands beside it.
    const std::string exe = tmp_.path() + "/tessaly-cli", out = tmp_.path() + "/r.htm";
    fs::copy_file(CliPath(), exe);
    const std::string db = Data("cli-pages.kwf"), kyoto = U8(u8"京都");
    const std::string listing = U8(u8"京都[京都旅行]\t") + Href("travel/kyoto.htm") + "\n" +
                                U8(u8"[京都の寺 & <庭>]\t") + Href("travel/temple garden.htm") +
                                "\n" + U8(u8"2 件みつかりました\n");
    const std::string back = "http://x/?a=1&b=<2>\"3\"";
    const Args full = {"search", db, kyoto, "--out", out, "--target", "right", "--back", back};
    const Args fullPage = {
        "\" target=\"right\">京都[京都旅行]</A>", "<TITLE>Tessaly! 検索結果 ～ 京都</TITLE>",
        "[<A href=\"http://x/?a=1&amp;b=&lt;2&gt;&quot;3&quot;\" target=_top>戻る</A>]"};
    const std::string none = U8(u8"0 件みつかりました\n");
    struct {
        Args args;
        std::string cwd, page, listing;
        Args inPage;  // CP932
        int status;
    } cases[] = {
        {full, "", out, listing, fullPage, 0},
        {{"search", "cli-pages.kwf", kyoto, "--out", out},
         DataDir(),
         out,
         listing,
         {"[京都旅行]"},
         0},
        {{"search", db, kyoto},
         "",
         tmp_.path() + "/out.htm",
         listing,
         {"\" target=\"main\">京都"},
         0},
        {{"search", db, "--target=", "--out=" + out, kyoto}, "", out, listing, {"htm\">京都"}, 0},
        // Nothing found: status 1, and the page is written all the same.
        {{"search", db, "--out", out, "--", "-nothing"}, "", out, none, {"<UL>\r\n</UL>\r\n"}, 1}};
    for (const auto& c : cases) {
        fs::remove(c.page);
        CliRun r = Cli(c.args, c.cwd, exe);
        EXPECT_EQ(c.status, r.status) << r.err;
        EXPECT_EQ("", r.err);
        EXPECT_EQ(c.listing, r.out) << c.args[1];
        const std::string page = ReadFile(c.page);
        for (const std::string& piece : c.inPage)
            EXPECT_NE(npos, page.find(piece)) << Utf8(piece) << " in\n" << Utf8(page);
    }
}

TEST_F(CliTest, InstalledProgramWritesItsPageInThePerUserFolder) {
    // An installed layout: bin/tessaly-cli, the resources in share/tessaly.
    fs::create_directories(tmp_.path() + "/bin");
    const std::string exe = tmp_.path() + "/bin/tessaly-cli", data = io_.path() + "/data";
    fs::copy_file(CliPath(), exe);
    tmp_.Write("share/tessaly/tessaly.rc", "");
    CliRun r = Cli({"search", Data("cli-pages.kwf"), U8(u8"京都")}, "", exe,
                   "export XDG_DATA_HOME='" + data + "'");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(npos, ReadFile(data + "/tessaly/out.htm").find(Sjis(u8"2 件みつかりました")));
    EXPECT_EQ((std::vector<std::string>{"tessaly-cli"}), Names(tmp_.path() + "/bin"));
}

TEST_F(CliTest, InfoShowsTheHeader) {
    time_t updated = 0;
    ASSERT_EQ(0, StrX_MakeTime(&updated, 2000, 3, 30, 21, 15, 7));
    const long days = static_cast<long>(std::floor(difftime(time(nullptr), updated) / 86400));
    CliRun r = Cli({"info", Data("cli-pages.kwf")});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("Application: Tessaly!\nVersion: 100\nBase: .\nUpdated: 2000/03/30-21:15:07 (" +
                  std::to_string(days) + " days ago)\nPages: 3\nCan update: yes\n",
              r.out);
    r = Cli({"info", Data("cli-fixed.kwf")});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(npos, r.out.find("Pages: 1\nCan update: no\n"));
    EXPECT_NE(npos, r.out.find(U8(u8"Guide: このデータベースは更新できません\n"))) << r.out;
}

TEST_F(CliTest, UsageMistakesNameThemselvesAndExitWithStatus2) {
    const std::string db = Data("cli-pages.kwf");
    const std::string search =
        "usage: tessaly-cli search DATABASE TEXT [--out FILE] [--target NAME] [--back URL] "
        "[--json]\nTry 'tessaly-cli search --help' for more.\n";
    const std::string info =
        "usage: tessaly-cli info DATABASE [--json]\nTry 'tessaly-cli info --help' for more.\n";
    const std::string build =
        "usage: tessaly-cli build FOLDER [DATABASE] [--verbose]\nTry 'tessaly-cli build --help' "
        "for more.\n";
    const std::string all = std::string(kUsage) + "Try 'tessaly-cli --help' for more.\n";
    const struct {
        Args args;
        std::string err;  // the whole of standard error
    } cases[] = {
        {{}, kUsage},
        {{"frobnicate", db}, "tessaly-cli: unknown command frobnicate\n" + all},
        {{"--bogus"}, "tessaly-cli: unknown option --bogus\n" + all},
        {{"-v"}, "tessaly-cli: unknown option -v\n" + all},
        {{"search", db}, "tessaly-cli: search: wrong number of arguments\n" + search},
        {{"search", db, "q", "extra"}, "tessaly-cli: search: wrong number of arguments\n" + search},
        {{"search", db, "q", "--out"}, "tessaly-cli: option --out needs a value\n" + search},
        {{"search", db, "q", "--bogus", "x"}, "tessaly-cli: unknown option --bogus\n" + search},
        {{"search", db, "q", "--bogus=x"}, "tessaly-cli: unknown option --bogus\n" + search},
        {{"search", db, "q", "--json=yes"}, "tessaly-cli: option --json takes no value\n" + search},
        {{"search", db, "q", "-V"}, "tessaly-cli: unknown option -V\n" + search},
        {{"search", db, U8(u8"\U0001F600")},  // no Shift_JIS form
         "tessaly-cli: the text " + U8(u8"\U0001F600") + " has characters outside Shift_JIS\n" +
             search},
        {{"info", db, "--out", "x"}, "tessaly-cli: unknown option --out\n" + info},
        {{"build"}, "tessaly-cli: build: wrong number of arguments\n" + build},
        {{"build", tmp_.path(), "--json"}, "tessaly-cli: unknown option --json\n" + build},
        {{"build", tmp_.path(), tmp_.path() + "/a.kwf", "extra"},
         "tessaly-cli: build: wrong number of arguments\n" + build}};
    for (const auto& c : cases) {
        CliRun r = Cli(c.args);
        EXPECT_EQ(2, r.status) << testing::PrintToString(c.args);
        EXPECT_EQ(c.err, r.err) << testing::PrintToString(c.args);
        EXPECT_EQ("", r.out);
    }
    EXPECT_TRUE(fs::is_empty(tmp_.path())) << "no database was built";
}

TEST_F(CliTest, HelpAndVersionGoToStandardOutputWithStatus0) {
    const std::string db = Data("cli-pages.kwf");
    // The general help: every command's usage, the options and the exit statuses.
    for (const char* flag : {"--help", "-h"}) {
        CliRun r = Cli({flag});
        EXPECT_EQ(0, r.status) << flag;
        EXPECT_EQ("", r.err);
        EXPECT_TRUE(r.out.starts_with(kUsage)) << r.out;
        for (const char* line : {"  -V, --version ", "  0   done", "  1   search found nothing",
                                 "  2   a usage mistake", "  14  a reported failure"})
            EXPECT_NE(npos, r.out.find(line)) << line << " in\n" << r.out;
    }
    // A command's help wherever it stands before "--", and never the command itself.
    const struct {
        Args args;
        std::string usage, status;
    } commands[] = {
        {{"search", "--help"},
         "usage: tessaly-cli search DATABASE TEXT [--out FILE] [--target NAME] [--back URL] "
         "[--json]",
         "Exit status: 0 pages found, 1 nothing found, 2 a usage mistake, 14 a reported "
         "failure.\n"},
        {{"search", db, "q", "-h", "--bogus"}, "usage: tessaly-cli search", "1 nothing found"},
        {{"info", "-h"},
         "usage: tessaly-cli info DATABASE [--json]\n",
         "Exit status: 0 shown, 2 a usage mistake, 14 a reported failure.\n"},
        {{"build", tmp_.path(), "--help"},
         "usage: tessaly-cli build FOLDER [DATABASE] [--verbose]\n",
         "Exit status: 0 built (or stopped by Ctrl-C), 2 a usage mistake, 14 a reported failure"}};
    for (const auto& c : commands) {
        CliRun r = Cli(c.args);
        EXPECT_EQ(0, r.status) << testing::PrintToString(c.args);
        EXPECT_EQ("", r.err);
        EXPECT_TRUE(r.out.starts_with(c.usage)) << r.out;
        EXPECT_NE(npos, r.out.find(c.status)) << r.out;
        EXPECT_NE(npos, r.out.find("  -h, --help ")) << r.out;
    }
    EXPECT_TRUE(fs::is_empty(tmp_.path())) << "no database was built";
    // After "--", -h is a word: a search for it.
    CliRun r = Cli({"search", db, "--out", tmp_.path() + "/r.htm", "--", "-h"});
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_EQ(U8(u8"0 件みつかりました\n"), r.out);

    // The version: the program, the database version it writes, the build date.
    for (const char* flag : {"--version", "-V"}) {
        r = Cli({flag});
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("", r.err);
        EXPECT_TRUE(std::regex_match(
            r.out, std::regex("tessaly-cli \\(Tessaly!\\) [0-9]+\\.[0-9]+\\.[0-9]+\n"
                              "database version [0-9]+\n"
                              "built [0-9]{4}-[0-9]{2}-[0-9]{2}\n")))
            << r.out;
    }
    // What cannot be written out is a failure, not a success.
    for (const std::string& args :
         {std::string("--version"), std::string("--help"), "info " + db}) {
        const std::string err = io_.path() + "/full.err";
        const int raw = std::system((CliPath() + " " + args + " >/dev/full 2>" + err).c_str());
        EXPECT_EQ(14, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1) << args;
        EXPECT_EQ("tessaly-cli: cannot write to standard output\n", ReadFile(err)) << args;
    }
}

TEST_F(CliTest, FailuresEndWithStatus14AndTheirBoxes) {
    const std::string missing = tmp_.path() + "/missing.kwf", out = tmp_.path() + "/r.htm";
    tmp_.Write("a.htm", "<title>A</title>");
    // A database without a links section, searched: the open result page is
    // closed on the way out, so no leak report changes the status.
    const std::string pages = ReadFile(Data("cli-pages.kwf"));
    const std::string noLinks = tmp_.Write("nolinks.kwf", pages.substr(0, pages.find("[links]")));
    const std::pair<Args, std::string> cases[] = {
        {{"search", noLinks, "k", "--out", tmp_.path() + "/n.htm"}, "code = 591"},
        {{"search", missing, "q", "--out", out}, U8(u8"missing.kwf\" が見つかりません\n")},
        {{"info", Data("cli-newer.kwf")},
         U8(u8"code = 102, Errors_Unofficial, 新しいバージョンのファイルです。")},
        {{"build", tmp_.path() + "/none"},
         U8(u8"code = 102, Errors_Unofficial, 指定した調べる場所が存在しません")},
        {{"build", tmp_.path(), tmp_.path() + "/no/such/folder/vark.kwf"},
         "code = 362, FileX_Err_CannotWriteOpen"}};
    for (const auto& [args, report] : cases) {
        CliRun r = Cli(args);
        EXPECT_EQ(14, r.status) << args[0] << " " << args[1];
        EXPECT_NE(npos, r.err.find(U8(u8"[エラーメッセージ] [1] Error in "))) << r.err;
        EXPECT_NE(npos, r.err.find(report)) << r.err;
        EXPECT_NE(npos, r.err.find(U8(u8"[エラーメッセージ] EXIT from "))) << r.err;
        EXPECT_EQ("", r.out);
    }
    // No page, no folder and no database is left behind.
    EXPECT_FALSE(fs::exists(out) || fs::exists(tmp_.path() + "/none") ||
                 fs::exists(tmp_.path() + "/no"));
}

TEST_F(CliTest, AResultPageOntoAFifoIsRefusedWithoutWaiting) {
    // A FIFO nobody reads, and one a reader holds open: neither is waited on
    // nor written to; the report ends the program as any other.
    const std::string fifo = tmp_.path() + "/fifo.htm";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    for (bool withReader : {false, true}) {
        const int reader = withReader ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        CliRun r = Cli({"20", CliPath(), "search", Data("cli-pages.kwf"), "x", "--out", fifo}, "",
                       "timeout");
        EXPECT_EQ(14, r.status) << "124: it waited; " << r.err;
        EXPECT_NE(npos, r.err.find("code = 362, FileX_Err_CannotWriteOpen")) << r.err;
        EXPECT_NE(npos, r.err.find(U8(u8"fifo.htm\" が書きこめません"))) << r.err;
        if (reader >= 0) {
            char byte;
            EXPECT_EQ(0, read(reader, &byte, 1));  // nothing was written
            close(reader);
        }
    }
}

TEST_F(CliTest, BuildWritesTheDatabaseAndASummary) {
    tmp_.Write("a.htm", "<title>A</title><meta name=keywords content=\"k1; k2\">");
    tmp_.Write("sub/b.htm", "<title>\x8B\x9E\x93\x73</title>");  // 京都
    tmp_.Write("c.txt", "<title>C</title>");
    tmp_.Write("d.htm", std::string("<title>\0</title>", 16));
    const std::string links = "[links] \r\nA = A, k1; k2, a.htm\r\nA = 京都, , sub\\b.htm\r\n \r\n";
    TempDir elsewhere;
    const std::string db = elsewhere.path() + "/out.kwf";
    CliRun r = Cli({"build", tmp_.path(), db});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(db + "\n", r.out);
    EXPECT_EQ("4 files seen, 2 pages indexed, 1 pages skipped\n", r.err);
    // The folder as the update dialog hands it over: inside form, trailing backslash.
    EXPECT_NE(npos, ReadFile(db).find("\r\nBase = " + tmp_.inside() + "\\\r\n"));
    EXPECT_NE(npos, ReadFile(db).find(links));
    // By default vark.kwf inside the folder (a relative one taken from the
    // current folder); a rebuild meets it as well, never its temporary file.
    for (const char* summary : {"4 files seen, 2 pages indexed, 1 pages skipped\n",
                                "5 files seen, 2 pages indexed, 1 pages skipped\n"}) {
        r = Cli({"build", "."}, tmp_.path());
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(tmp_.path() + "/vark.kwf\n", r.out);
        EXPECT_EQ(summary, r.err);
        EXPECT_NE(npos, ReadFile(tmp_.path() + "/vark.kwf").find(links));
    }
    EXPECT_FALSE(fs::exists(db + ".tmp") || fs::exists(tmp_.path() + "/vark.kwf.tmp"));
    // -v lists each skipped page with its reason, anywhere among the arguments.
    const std::string told = "skipped: " + tmp_.path() + "/d.htm (not text)\n";
    for (const Args& args :
         {Args{"build", "-v", tmp_.path(), db}, Args{"build", tmp_.path(), db, "--verbose"}}) {
        r = Cli(args);
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(told + "5 files seen, 2 pages indexed, 1 pages skipped\n", r.err);
    }
}

TEST_F(CliTest, BuildThenSearchFindsShiftJisAndUtf8Pages) {
    // A folder with a Japanese name: paths cross the edge in UTF-8 both ways.
    const std::string folder = tmp_.path() + "/" + U8(u8"旅行");
    tmp_.Write(U8(u8"旅行/travel/kyoto.htm"),
               "<html><head><title>京都旅行</title><meta name=\"keywords\" content=\"旅行; "
               "京都\"></head></html>");
    tmp_.Write(U8(u8"旅行/cafe.html"), "\xEF\xBB\xBF<html><head><meta charset=\"utf-8\"><title>" +
                                           U8(u8"京都のカフェ") + "</title></head></html>");
    CliRun r = Cli({"build", folder});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(folder + "/vark.kwf\n", r.out);
    // The UTF-8 page by its title, the Shift_JIS page by a keyword, the texts back in UTF-8.
    r = Cli({"search", folder + "/vark.kwf", U8(u8"京都"), "--out", io_.path() + "/r.htm"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(U8(u8"[京都のカフェ]\tfile://") + folder + "/cafe.html\n" +
                  U8(u8"京都[京都旅行]\tfile://") + folder + "/travel/kyoto.htm\n" +
                  U8(u8"2 件みつかりました\n"),
              r.out);
}

// ---- JSON for scripts ---------------------------------------------------------

// The lines of text as Python's json module reads them (strict UTF-8, one
// document a line), each written back with sorted keys and \u escapes; a line
// "(invalid) ..." when it refuses them.
std::string ParsedJson(const TempDir& io, const std::string& text) {
    const std::string script = io.path() + "/parse.py", in = io.path() + "/json.in",
                      out = io.path() + "/json.out";
    FILE* f = fopen(script.c_str(), "w");
    fputs(
        "import json, sys\n"
        "try:\n"
        "    text = sys.stdin.buffer.read().decode('utf-8')\n"
        "    assert text.endswith('\\n'), 'no final newline'\n"
        "    for line in text[:-1].split('\\n'):\n"
        "        print(json.dumps(json.loads(line), sort_keys=True))\n"
        "except Exception as e:\n"
        "    print('(invalid)', repr(e))\n",
        f);
    fclose(f);
    f = fopen(in.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    EXPECT_EQ(0, std::system(("python3 '" + script + "' < '" + in + "' > '" + out + "'").c_str()));
    return ReadFile(out);
}

TEST_F(CliTest, SearchJsonIsValidUtf8WhateverTheDatabaseHolds) {
    const std::string utf8 = "<html><head><meta charset=\"utf-8\"><title>";
    tmp_.Write("a.htm", utf8 +
                            "QQ \"quoted\" \\back\\slash</title>"
                            "<meta name=\"keywords\" content=\"QQ entry; other\"></head>");
    tmp_.Write("c.htm", utf8 + U8(u8"QQ 〓 \U0001F600 京都</title></head>"));
    tmp_.Write("d.htm", "<title>QQ XX YY ZZ</title><meta name=keywords content=\"QQ WW\">");
    tmp_.Write(U8(u8"日本.htm"), "<title>QQ plain</title>");
    const std::string db = io_.path() + "/db.kwf", page = io_.path() + "/r.htm";
    ASSERT_EQ(0, Cli({"build", tmp_.path(), db}).status);
    // Bytes without a Unicode form (an unassigned code, a lead byte before
    // '!', a lone 0xFD), control characters, and a page on a drive.
    std::string text = ReadFile(db);
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"XX", "\x85\x40"},
                                   {"YY", "\x81!"},
                                   {"ZZ", "\xFD"},
                                   {"WW", "\x85\x40"}})
        text.replace(text.find(from), 2, to);
    text.insert(text.rfind(" \r\n"),
                "A = QQ\x01"
                "c\x1b[2J\x7f\\x, , b.htm\r\nA = QQ drive, , C:\\pages\\x.htm\r\n");
    tmp_.Write("db.kwf", text);

    const std::string t = tmp_.path(), href = "\"file://" + t;
    CliRun r = Cli({"search", tmp_.path() + "/db.kwf", "QQ", "--json", "--out", page});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ("{\"exact\": true, \"href\": " + href +
                  "/a.htm\", \"keyword\": \"QQ entry\", "
                  "\"path\": \"" +
                  t +
                  "/a.htm\", \"title\": \"QQ \\\"quoted\\\" \\\\back\\\\slash\"}\n"
                  "{\"exact\": true, \"href\": " +
                  href + "/c.htm\", \"keyword\": null, \"path\": \"" + t +
                  "/c.htm\", \"title\": \"QQ \\u3013 \\u3013 \\u4eac\\u90fd\"}\n"
                  "{\"exact\": false, \"href\": " +
                  href +
                  "/d.htm\", \"keyword\": \"QQ \\ufffd\", "
                  "\"path\": \"" +
                  t +
                  "/d.htm\", \"title\": \"QQ \\ufffd \\ufffd! \\ufffd\"}\n"
                  "{\"exact\": true, \"href\": " +
                  href +
                  "/\\u65e5\\u672c.htm\", \"keyword\": null, "
                  "\"path\": \"" +
                  t +
                  "/\\u65e5\\u672c.htm\", \"title\": \"QQ plain\"}\n"
                  "{\"exact\": true, \"href\": " +
                  href + "/b.htm\", \"keyword\": null, \"path\": \"" + t +
                  "/b.htm\", \"title\": \"QQ\\u0001c\\u001b[2J\\u007f\\\\x\"}\n"
                  "{\"exact\": true, \"href\": \"file:///C|/pages/x.htm\", \"keyword\": null, "
                  "\"path\": null, \"title\": \"QQ drive\"}\n"
                  "{\"count\": 6}\n",
              ParsedJson(io_, r.out))
        << r.out;
    // The result page is written as without --json.
    EXPECT_NE(npos, ReadFile(page).find(Sjis(u8"<P>6 件みつかりました</P>")));
    // Nothing found: the count alone, status 1.
    r = Cli({"search", tmp_.path() + "/db.kwf", "none", "--json", "--out", page});
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_EQ("{\"count\":0}\n", r.out);
}

TEST_F(CliTest, InfoJsonHoldsTheHeader) {
    time_t updated = 0;
    ASSERT_EQ(0, StrX_MakeTime(&updated, 2000, 3, 30, 21, 15, 7));
    const std::string frame =
        (fs::path(CliPath()).parent_path() / "outframe.htm").lexically_normal().string();
    const std::string pages = ReadFile(Data("cli-pages.kwf")),
                      fixed = ReadFile(Data("cli-fixed.kwf"));
    std::string newFile = pages, strange = fixed;
    newFile.replace(newFile.find("bNewFile = 0"), 12, "bNewFile = 1");
    strange.replace(strange.find("Guide = ") + 8, 2, "\x85\x40");  // no Unicode form
    const std::string data = "\"base\": \".\", \"can_update\": ";
    const std::string header = "{\"application\": \"Tessaly!\", ";
    const std::string shown = "\"display_target\": \"main\", \"display_url\": \"" + frame + "\", ";
    const std::string times = "\"update_time\": " + std::to_string(updated) +
                              ", \"updated\": \"2000/03/30-21:15:07\", \"version\": 100}\n";
    const struct {
        std::string db, json;
    } cases[] = {
        {Data("cli-pages.kwf"), header + data + "true, " + shown +
                                    "\"exact\": true, \"fixed\": false, \"guide\": null, "
                                    "\"new_file\": false, \"pages\": 3, " +
                                    times},
        {Data("cli-fixed.kwf"), header + data + "false, " + shown +
                                    "\"exact\": true, \"fixed\": true, \"guide\": \"\\u3053\\u306e"
                                    "\\u30c7\\u30fc\\u30bf\\u30d9\\u30fc\\u30b9\\u306f\\u66f4"
                                    "\\u65b0\\u3067\\u304d\\u307e\\u305b\\u3093\", "
                                    "\"new_file\": false, \"pages\": 1, " +
                                    times},
        {tmp_.Write("strange.kwf", strange),
         header + data + "false, " + shown +
             "\"exact\": false, \"fixed\": true, \"guide\": \"\\ufffd\\u306e"
             "\\u30c7\\u30fc\\u30bf\\u30d9\\u30fc\\u30b9\\u306f\\u66f4"
             "\\u65b0\\u3067\\u304d\\u307e\\u305b\\u3093\", "
             "\"new_file\": false, \"pages\": 1, " +
             times},
        {tmp_.Write("new.kwf", newFile),
         header + data +
             "true, \"display_target\": null, \"display_url\": null, \"exact\": true, "
             "\"fixed\": false, \"guide\": null, \"new_file\": true, \"pages\": null, "
             "\"update_time\": null, \"updated\": null, \"version\": 100}\n"}};
    for (const auto& c : cases) {
        CliRun r = Cli({"info", "--json", c.db});
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(c.json, ParsedJson(io_, r.out)) << r.out;
    }
}

// ---- Nothing lost, nothing hangs ------------------------------------------------

TEST_F(CliTest, RefusesToDestroyWhatItWasNotAskedToWrite) {
    const std::string db = tmp_.path() + "/vark.kwf", index = "<title>Home</title>";
    tmp_.Write("index.htm", index);
    ASSERT_EQ(0, Cli({"build", tmp_.path()}).status);
    const std::string built = ReadFile(db);
    fs::create_symlink(db, io_.path() + "/link.kwf");
    const struct {
        Args args;
        int status;
        std::string says;
    } cases[] = {
        {{"search", db, "Home", "--out", db}, 2, "the result file " + db + " is the database"},
        {{"search", db, "Home", "--out", io_.path() + "/link.kwf"}, 2, "is the database"},
        {{"build", tmp_.path(), tmp_.path() + "/index.htm"},
         14,
         tmp_.path() + U8(u8"/index.htm はキーワードデータベースではありません。")},
        {{"info", tmp_.path()}, 2, tmp_.path() + " is a folder"},
        {{"search", tmp_.path(), "Home"}, 2, " is a folder"}};
    for (const auto& c : cases) {
        CliRun r = Cli(c.args);
        EXPECT_EQ(c.status, r.status) << c.args[0] << " " << c.args.back() << r.err;
        EXPECT_NE(npos, r.err.find(c.says)) << r.err;
        EXPECT_EQ(built, ReadFile(db));
        EXPECT_EQ(index, ReadFile(tmp_.path() + "/index.htm"));
    }
}

TEST_F(CliTest, FailedWritesEndWith14AndKeepThePreviousDatabase) {
    for (int i = 0; i < 40; i++)
        tmp_.Write(NumberedName("p", i, ".htm"), "<title>" + std::string(100, 'k') + "</title>");
    const std::string db = io_.path() + "/db.kwf", page = io_.path() + "/r.htm";
    ASSERT_EQ(0, Cli({"build", tmp_.path(), db}).status);
    const std::string built = ReadFile(db);
    tmp_.Write("q.htm", "<title>new</title>");
    // Files may not grow past 1 KB and the limit's signal is ignored, or the
    // result page is a full disk.
    const std::string small = "ulimit -f 1 && trap '' XFSZ";
    const struct {
        Args args;
        std::string limits, says;
    } cases[] = {
        {{"build", tmp_.path(), db}, small, db + U8(u8" の書きこみに失敗しました。")},
        {{"search", db, "k", "--out", page}, small, page + U8(u8" の書きこみに失敗しました。")},
        {{"search", db, "k", "--out", "/dev/full"},
         "",
         U8(u8"/dev/full の書きこみに失敗しました。")}};
    for (const auto& c : cases) {
        CliRun r = Cli(c.args, "", CliPath(), c.limits);
        EXPECT_EQ(14, r.status) << c.args[0] << " " << c.args.back() << r.err;
        EXPECT_NE(npos, r.err.find("code = 365, FileX_Err_CannotWrite, " + c.says)) << r.err;
        EXPECT_EQ(built, ReadFile(db)) << "byte for byte";
        std::vector<std::string> names = Names(io_.path());
        std::erase(names, "r.htm");
        EXPECT_EQ((std::vector<std::string>{"db.kwf", "stderr", "stdout"}), names);
    }
}

TEST_F(CliTest, ReportsNameNativePathsAndTerminalsGetControlsEscaped) {
    // A report on a database that may not be written: the path in its native form.
    const std::string db = io_.path() + "/ro.kwf";
    tmp_.Write("a.htm", "<title>A</title>");
    ASSERT_EQ(0, Cli({"build", tmp_.path(), db}).status);
    ASSERT_EQ(0, chmod(db.c_str(), 0444));
    CliRun r = Cli({"build", tmp_.path(), db});
    EXPECT_EQ(14, r.status);
    EXPECT_NE(npos, r.err.find(U8(u8"書きこみモードで open できません。") + db + "\n")) << r.err;
    // A title and a file name holding terminal controls, shown on a terminal.
    TempDir pages;
    pages.Write("\x1b[31m.htm", "<title>x\x1b[2Jy</title>");
    const std::string out = io_.path() + "/tty";
    auto onTerminal = [&](const std::string& command) {
        const std::string line = "script -qec \"" + command + "\" /dev/null > " + out;
        EXPECT_EQ(0, std::system(line.c_str())) << line;
        return ReadFile(out);
    };
    const std::string cli = CliPath(), pdb = pages.path() + "/vark.kwf";
    const std::string built = onTerminal(cli + " build " + pages.path());
    EXPECT_NE(npos, built.find("\\x1B[31m.htm")) << built;
    EXPECT_EQ(npos, built.find("\x1b[31m")) << built;
    const std::string found =
        onTerminal(cli + " search " + pdb + " y --out " + io_.path() + "/r.htm");
    EXPECT_NE(npos, found.find("[x\\x1B[2Jy]")) << found;
    EXPECT_EQ(npos, found.find("\x1b[2J")) << found;
    // Not a terminal: the texts as they are.
    r = Cli({"search", pdb, "y", "--out", io_.path() + "/r.htm"});
    EXPECT_NE(npos, r.out.find("[x\x1b[2Jy]"));
    // A folder named with a control: info's Base line, escaped on a terminal only.
    pages.Write("c\x1b[32m/a.htm", "<title>A</title>");
    const std::string named = pages.path() + "/c\x1b[32m", ndb = io_.path() + "/n.kwf";
    ASSERT_EQ(0, Cli({"build", named, ndb}).status);
    const std::string info = onTerminal(cli + " info " + ndb);
    EXPECT_NE(npos, info.find("/c\\x1B[32m/")) << info;
    EXPECT_EQ(npos, info.find("\x1b[32m")) << info;
    r = Cli({"info", ndb});
    EXPECT_NE(npos, r.out.find("\nBase: " + named + "/\n")) << r.out;
}

TEST_F(CliTest, SignalsDuringABuildRemoveTheNewFile) {
    // Enough pages that the build is still walking when the signal comes.
    for (int i = 0; i < 2000; i++) tmp_.Write(NumberedName("p", i, ".htm"), "<title>t</title>");
    const std::string db = io_.path() + "/vark.kwf";
    ASSERT_EQ(0, Cli({"build", tmp_.path(), db}).status);
    const std::string built = ReadFile(db);
    const std::string cli = CliPath(), folder = tmp_.path();
    // Ctrl-C once cancels (the previous database stays); SIGTERM and SIGHUP end it.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const int watch = inotify_init1(IN_CLOEXEC);
        ASSERT_LE(0, watch);
        ASSERT_LE(0, inotify_add_watch(watch, io_.path().c_str(), IN_CREATE));
        const pid_t pid = fork();
        ASSERT_NE(-1, pid);
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(cli.c_str(), cli.c_str(), "build", folder.c_str(), db.c_str(), nullptr);
            _exit(127);
        }
        // Wait for the new file to be made, then signal.
        bool seen = false;
        alignas(inotify_event) char buf[4096];
        while (!seen) {
            const ssize_t n = read(watch, buf, sizeof buf);
            ASSERT_GT(n, 0);
            for (char* p = buf; p < buf + n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(p);
                const std::string name = ev->len ? ev->name : "";
                seen = seen || (name.starts_with(".vark.kwf.") && name.ends_with(".tmp"));
                p += sizeof(inotify_event) + ev->len;
            }
        }
        close(watch);
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        if (sig == SIGINT)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_EQ(built, ReadFile(db)) << sig;
        EXPECT_EQ((std::vector<std::string>{"stderr", "stdout", "vark.kwf"}), Names(io_.path()))
            << sig;
    }
}

}  // namespace
