// tessaly-cli run as a separate process: output, result page and exit status.
//
// The program is found through the environment variable TESSALY_CLI, or else
// as ../bin/tessaly-cli beside this test's own folder (the build tree's
// layout). Fixtures come from TESSALY_TEST_DATA, or else tests/data beside
// this source file.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "components/strx.h"
#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::string CliPath() {
    if (const char* env = getenv("TESSALY_CLI"); env && *env) return env;
    return (fs::read_symlink("/proc/self/exe").parent_path() / ".." / "bin" / "tessaly-cli")
        .lexically_normal()
        .string();
}

std::string DataDir() {
    if (const char* env = getenv("TESSALY_TEST_DATA"); env && *env) return env;
    return (fs::path(__FILE__).parent_path() / "data").string();
}

std::string Data(const char* name) {
    return DataDir() + "/" + name;
}

const char kUsage[] =
    "usage: tessaly-cli search DATABASE TEXT [--out FILE] [--target NAME] [--back URL]\n"
    "       tessaly-cli info DATABASE\n"
    "       tessaly-cli build FOLDER [DATABASE]\n";

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
    // empty); returns its exit status and what it wrote.
    CliRun Cli(const Args& args, const std::string& cwd = "", const std::string& exe = CliPath()) {
        const std::string outPath = io_.path() + "/stdout", errPath = io_.path() + "/stderr";
        std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || err < 0) _exit(127);
            dup2(out, 1);
            dup2(err, 2);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFile(outPath),
                ReadFile(errPath)};
    }

    TempDir tmp_;
    TempDir io_;
};

// The href of a page below the data folder (Base "." beside the database).
std::string Href(const std::string& rel) {
    return "file://" + DataDir() + "/" + rel;
}

// The page the main window writes for a 京都 search over cli-pages.kwf, in
// CP932, from its list on (the head is the result page writer's), with the
// given target.
std::string KyotoList(const std::string& target) {
    const std::string t = target.empty() ? "\"" : "\" target=\"" + target + "\"";
    auto href = [](const char* rel) {
        return Sjis(reinterpret_cast<const char8_t*>(Href(rel).c_str()));
    };
    return "<UL>\r\n<LI><A href=\"" + href("travel/kyoto.htm") + t + ">京都[京都旅行]</A>\r\n" +
           "<LI><A href=\"" + href("travel/temple garden.htm") + t +
           ">[京都の寺 &amp; &lt;庭&gt;]</A>\r\n</UL>\r\n\r\n<P>2 "
           "件みつかりました</P>\r\n</BODY></HTML>\r\n";
}

// The page from its list on, and whether its head holds the 京都 title and the back line.
std::string ListOf(const std::string& page, const std::string& backLine) {
    const bool head =
        page.find("<TITLE>Tessaly! 検索結果 ～ 京都</TITLE>") != std::string::npos &&
        page.find("</TD><TD align=RIGHT>\r\n" + backLine + "\r\n</TD>") != std::string::npos;
    return (head ? "" : "(head?) ") + page.substr(std::min(page.find("<UL>"), page.size()));
}

const std::string kKyotoListing = U8(u8"京都[京都旅行]\t") + Href("travel/kyoto.htm") + "\n" +
                                  U8(u8"[京都の寺 & <庭>]\t") + Href("travel/temple garden.htm") +
                                  "\n" + U8(u8"2 件みつかりました\n");

TEST_F(CliTest, SearchWritesThePageAndListsTheHits) {
    const std::string out = tmp_.path() + "/result.htm";
    CliRun r = Cli({"search", Data("cli-pages.kwf"), U8(u8"京都"), "--out", out, "--target",
                    "right", "--back", "http://x/?a=1&b=<2>\"3\""});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ(kKyotoListing, r.out);
    EXPECT_EQ(KyotoList("right"), ListOf(ReadFile(out),
                                         "[<A href=\"http://x/?a=1&amp;b=&lt;2&gt;&quot;3&quot;\" "
                                         "target=_top>戻る</A>]"));
    // A database path relative to the current folder.
    r = Cli({"search", "cli-pages.kwf", U8(u8"京都"), "--out", out}, DataDir());
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(kKyotoListing, r.out);
}

TEST_F(CliTest, SearchTakesResultFileAndTargetFromTheDatabase) {
    // A copy of the program in a folder of its own: out.htm lands beside it.
    const std::string exe = tmp_.path() + "/tessaly-cli";
    fs::copy_file(CliPath(), exe);
    CliRun r = Cli({"search", Data("cli-pages.kwf"), U8(u8"京都")}, "", exe);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(kKyotoListing, r.out);
    EXPECT_EQ(KyotoList("main"), ListOf(ReadFile(tmp_.path() + "/out.htm"), ""));
}

TEST_F(CliTest, SearchWithEmptyTargetAndNoHits) {
    const std::string out = tmp_.path() + "/r.htm";
    CliRun r =
        Cli({"search", Data("cli-pages.kwf"), "--target", "", "--out", out, "--", "-nothing"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(U8(u8"0 件みつかりました\n"), r.out);
    EXPECT_NE(std::string::npos,
              ReadFile(out).find("<UL>\r\n</UL>\r\n\r\n<P>0 件みつかりました</P>\r\n"));
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
    EXPECT_NE(std::string::npos, r.out.find("Pages: 1\nCan update: no\n"));
    EXPECT_NE(std::string::npos, r.out.find(U8(u8"Guide: このデータベースは更新できません\n")))
        << r.out;
}

TEST_F(CliTest, UsageMistakesExitWithStatus2) {
    const std::string db = Data("cli-pages.kwf");
    const Args cases[] = {{},
                          {"search", db},
                          {"search", db, "q", "extra"},
                          {"search", db, "q", "--out"},
                          {"search", db, "q", "--bogus", "x"},
                          {"info"},
                          {"info", db, "--out", "x"},
                          {"frobnicate", db},
                          {"search", db, U8(u8"\U0001F600")},  // no Shift_JIS form
                          {"build"},
                          {"build", tmp_.path(), tmp_.path() + "/a.kwf", "extra"},
                          {"build", tmp_.path(), "--out", "x"}};
    for (const Args& args : cases) {
        std::string line;
        for (const std::string& a : args) line += a + " ";
        CliRun r = Cli(args);
        EXPECT_EQ(2, r.status) << line;
        EXPECT_NE(std::string::npos, r.err.find(kUsage)) << line;
        EXPECT_EQ("", r.out) << line;
    }
    EXPECT_TRUE(fs::is_empty(tmp_.path())) << "no database was built";
    CliRun r = Cli({"--help"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(kUsage, r.out);
}

TEST_F(CliTest, FailuresEndWithStatus14AndTheirBoxes) {
    const std::string missing = tmp_.path() + "/missing.kwf", out = tmp_.path() + "/r.htm";
    tmp_.Write("a.htm", "<title>A</title>");
    const std::pair<Args, std::string> cases[] = {
        {{"info", missing}, U8(u8"missing.kwf\" が見つかりません\n")},
        {{"search", missing, "q", "--out", out}, U8(u8"missing.kwf\" が見つかりません\n")},
        {{"info", Data("cli-newer.kwf")},
         U8(u8"code = 102, Errors_Unofficial, 新しいバージョンのファイルです。")},
        {{"search", Data("cli-newer.kwf"), "q"},
         U8(u8"code = 102, Errors_Unofficial, 新しいバージョンのファイルです。")},
        {{"build", tmp_.path() + "/none"},
         U8(u8"code = 102, Errors_Unofficial, 指定した調べる場所が存在しません")},
        {{"build", tmp_.path(), tmp_.path() + "/no/such/folder/vark.kwf"},
         "code = 362, FileX_Err_CannotWriteOpen"}};
    for (const auto& [args, report] : cases) {
        CliRun r = Cli(args);
        EXPECT_EQ(14, r.status) << args[0] << " " << args[1];
        EXPECT_NE(std::string::npos, r.err.find(U8(u8"[エラーメッセージ] [1] Error in "))) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(report)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(U8(u8"[エラーメッセージ] EXIT from "))) << r.err;
        EXPECT_EQ("", r.out);
    }
    // No page, no folder and no database is left behind.
    EXPECT_FALSE(fs::exists(out) || fs::exists(tmp_.path() + "/none") ||
                 fs::exists(tmp_.path() + "/no"));
}

// ---- build --------------------------------------------------------------------

// The page lines of a database file: those after the head "[links] " up to the
// closing blank line, CR LF taken off.
Args LinkLines(const std::string& bytes) {
    Args links;
    size_t at = bytes.find("[links] \r\n");
    if (at == std::string::npos) return {"(no links)"};
    for (at += 10; at < bytes.size();) {
        size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos || bytes.compare(at, end - at, " ") == 0) break;
        links.push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    return links;
}

TEST_F(CliTest, BuildWritesTheDatabaseAndASummary) {
    TempDir pages;
    pages.Write("a.htm", "<title>A</title><meta name=keywords content=\"k1; k2\">");
    pages.Write("sub/b.htm", "<title>\x8B\x9E\x93\x73</title>");  // 京都
    pages.Write("c.txt", "<title>C</title>");
    pages.Write("d.htm", std::string("<title>\0</title>", 16));
    const std::string db = tmp_.path() + "/out.kwf";
    CliRun r = Cli({"build", pages.path(), db});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(db + "\n", r.out);
    EXPECT_EQ("4 files seen, 2 pages indexed, 1 pages skipped\n", r.err);
    const std::string bytes = ReadFile(db);
    // The folder as the update dialog hands it over: inside form, trailing backslash.
    EXPECT_NE(std::string::npos, bytes.find("\r\nBase = " + pages.inside() + "\\\r\n"));
    EXPECT_EQ((Args{"A = A, k1; k2, a.htm", "A = \x8B\x9E\x93\x73, , sub\\b.htm"}),
              LinkLines(bytes));
    EXPECT_FALSE(fs::exists(db + ".tmp"));
}

TEST_F(CliTest, BuildWritesVarkKwfInsideTheFolderByDefault) {
    tmp_.Write("a.htm", "<title>A</title>");
    // A relative folder is taken from the current folder; the path shown is absolute.
    CliRun r = Cli({"build", "."}, tmp_.path());
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(tmp_.path() + "/vark.kwf\n", r.out);
    // The database's temporary file is the build's own and is not counted.
    EXPECT_EQ("1 files seen, 1 pages indexed, 0 pages skipped\n", r.err);
    EXPECT_EQ(Args{"A = A, , a.htm"}, LinkLines(ReadFile(tmp_.path() + "/vark.kwf")));
    // A rebuild meets the database as well, and replaces it.
    tmp_.Write("b.htm", "<title>B</title>");
    r = Cli({"build", tmp_.path() + "/"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(tmp_.path() + "/vark.kwf\n", r.out);
    EXPECT_EQ("3 files seen, 2 pages indexed, 0 pages skipped\n", r.err);
    EXPECT_EQ((Args{"A = A, , a.htm", "A = B, , b.htm"}),
              LinkLines(ReadFile(tmp_.path() + "/vark.kwf")));
    EXPECT_FALSE(fs::exists(tmp_.path() + "/vark.kwf.tmp"));
}

TEST_F(CliTest, BuildThenSearchFindsShiftJisAndUtf8Pages) {
    // A folder with a Japanese name: paths cross the edge in UTF-8 both ways.
    const std::string folder = tmp_.path() + "/" + U8(u8"旅行");
    tmp_.Write(
        U8(u8"旅行/travel/kyoto.htm"),
        "<html><head><title>\x8B\x9E\x93\x73\x97\xB7\x8D\x73</title>"  // 京都旅行
        "<meta name=\"keywords\" content=\"\x97\xB7\x8D\x73; \x8B\x9E\x93\x73\"></head></html>");
    tmp_.Write(U8(u8"旅行/cafe.html"), "\xEF\xBB\xBF<html><head><meta charset=\"utf-8\"><title>" +
                                           U8(u8"京都のカフェ") +
                                           "</title><meta name=\"keywords\" content=\"" +
                                           U8(u8"珈琲; 抹茶") + "\"></head></html>");
    CliRun r = Cli({"build", folder});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(folder + "/vark.kwf\n", r.out);
    // Found by a keyword or by the title alone, the texts back in UTF-8.
    const std::string cafe = "\tfile://" + folder + "/cafe.html\n";
    const std::pair<const char8_t*, std::string> cases[] = {
        {u8"京都", U8(u8"[京都のカフェ]") + cafe + U8(u8"京都[京都旅行]\tfile://") + folder +
                       "/travel/kyoto.htm\n" + U8(u8"2 件みつかりました\n")},
        {u8"抹茶", U8(u8"抹茶[京都のカフェ]") + cafe + U8(u8"1 件みつかりました\n")},
        {u8"カフェ", U8(u8"[京都のカフェ]") + cafe + U8(u8"1 件みつかりました\n")}};
    for (const auto& [query, listing] : cases) {
        r = Cli({"search", folder + "/vark.kwf", U8(query), "--out", io_.path() + "/r.htm"});
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(listing, r.out);
    }
}

}  // namespace
