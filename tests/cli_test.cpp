// tessaly-cli run as a separate process: output, result page and exit status.
// The program is TESSALY_CLI or ../bin/tessaly-cli beside this test's folder;
// fixtures come from TESSALY_TEST_DATA or tests/data beside this source file.

#include <sys/wait.h>

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
    // empty) through the shell; returns its exit status and what it wrote.
    CliRun Cli(const Args& args, const std::string& cwd = "", const std::string& exe = CliPath()) {
        auto quote = [](std::string s) {
            for (size_t i = 0; (i = s.find('\'', i)) != npos; i += 4) s.replace(i, 1, "'\\''");
            return "'" + s + "'";
        };
        const std::string out = io_.path() + "/stdout", err = io_.path() + "/stderr";
        std::string command = "cd " + quote(cwd.empty() ? "." : cwd) + " && exec " + quote(exe);
        for (const std::string& a : args) command += " " + quote(a);
        const int status = std::system((command + " >" + quote(out) + " 2>" + quote(err)).c_str());
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
    const std::pair<Args, std::string> cases[] = {
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

}  // namespace
