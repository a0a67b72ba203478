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
    "usage: tessaly-cli search DATABASE TEXT [--out FILE] [--target NAME] [--back URL]\n"
    "       tessaly-cli info DATABASE\n"
    "       tessaly-cli build [-v|--verbose] FOLDER [DATABASE]\n";

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
    } cases[] = {
        {full, "", out, listing, fullPage},
        {{"search", "cli-pages.kwf", kyoto, "--out", out}, DataDir(), out, listing, {"[京都旅行]"}},
        {{"search", db, kyoto}, "", tmp_.path() + "/out.htm", listing, {"\" target=\"main\">京都"}},
        {{"search", db, "--target", "", "--out", out, kyoto}, "", out, listing, {"htm\">京都"}},
        {{"search", db, "--out", out, "--", "-nothing"}, "", out, none, {"<UL>\r\n</UL>\r\n"}}};
    for (const auto& c : cases) {
        fs::remove(c.page);
        CliRun r = Cli(c.args, c.cwd, exe);
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ("", r.err);
        EXPECT_EQ(c.listing, r.out) << c.args[1];
        const std::string page = ReadFile(c.page);
        for (const std::string& piece : c.inPage)
            EXPECT_NE(npos, page.find(piece)) << Utf8(piece) << " in\n" << Utf8(page);
    }
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

TEST_F(CliTest, UsageMistakesExitWithStatus2) {
    const std::string db = Data("cli-pages.kwf");
    const Args cases[] = {{},
                          {"search", db},
                          {"search", db, "q", "extra"},
                          {"search", db, "q", "--out"},
                          {"search", db, "q", "--bogus", "x"},
                          {"info", db, "--out", "x"},
                          {"frobnicate", db},
                          {"search", db, U8(u8"\U0001F600")},  // no Shift_JIS form
                          {"build"},
                          {"build", tmp_.path(), tmp_.path() + "/a.kwf", "extra"}};
    for (const Args& args : cases) {
        CliRun r = Cli(args);
        EXPECT_EQ(2, r.status) << testing::PrintToString(args);
        EXPECT_NE(npos, r.err.find(kUsage)) << testing::PrintToString(args);
        EXPECT_EQ("", r.out);
    }
    EXPECT_TRUE(fs::is_empty(tmp_.path())) << "no database was built";
    CliRun r = Cli({"--help"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(kUsage, r.out);
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

// ---- Nothing lost, nothing hangs ------------------------------------------------

// The names in a native folder, hidden ones included, sorted.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

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
