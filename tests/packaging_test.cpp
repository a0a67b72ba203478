// What the package carries beside the programs: the manual pages (rendered by
// man without a warning, naming every option and exit status the help names),
// the metainfo and the desktop entry (validated), and one version number in
// all of them. The generated files are read from the build folder beside
// this test's; the programs from its bin/.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;
constexpr size_t npos = std::string::npos;

std::string BuildDir() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path().string();
}
std::string SourceDir() {
    return fs::path(TestDataDir()).parent_path().parent_path().string();
}
std::string Generated(const std::string& name) {
    return BuildDir() + "/packaging/" + name;
}

struct Outcome {
    int status;
    std::string out, err;
};

// Runs a shell command line; returns its status and what it wrote.
Outcome Shell(const TempDir& io, const std::string& command) {
    const std::string out = io.path() + "/out", err = io.path() + "/err";
    const int raw = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
}

// The roff source of a manual page with "\-" as the hyphen it prints.
std::string ManSource(const std::string& page) {
    std::string text = ReadFile(Generated(page));
    for (size_t i = 0; (i = text.find("\\-", i)) != npos;) text.replace(i, 2, "-");
    return text;
}

// The first match of group 1 of pattern in text; "" when there is none.
std::string Find(const std::string& text, const char* pattern) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "";
}

TEST(PackagingTest, ManualPagesRenderWithoutWarnings) {
    TempDir io;
    for (const char* page : {"tessaly-cli.1", "tessaly.1"}) {
        // As lintian checks them: every groff warning on.
        Outcome r = Shell(io, "LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z '" +
                                  Generated(page) + "'");
        EXPECT_EQ(0, r.status) << page << r.err;
        EXPECT_EQ("", r.err) << page;
        EXPECT_GT(r.out.size(), 1000u) << page;
    }
}

TEST(PackagingTest, ManualNamesEveryOptionAndExitStatusOfTheHelp) {
    TempDir io;
    const std::string cli = BuildDir() + "/bin/tessaly-cli", man = ManSource("tessaly-cli.1");
    std::string help;
    for (const char* args : {"--help", "build --help", "search --help", "info --help"}) {
        Outcome r = Shell(io, "'" + cli + "' " + args);
        ASSERT_EQ(0, r.status) << args;
        help += r.out;
    }
    std::set<std::string> options;
    const std::regex option("(^|[ \\[])(--?[a-zA-Z][a-z-]*)");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
         it != std::sregex_iterator(); ++it)
        options.insert((*it)[2].str());
    for (const char* expected : {"-h", "--help", "-V", "--version", "--out", "--json"})
        EXPECT_TRUE(options.count(expected)) << expected << " in\n" << help;
    for (const std::string& o : options)
        EXPECT_TRUE(std::regex_search(man, std::regex("\\n\\.B[IR]? (.* )?" + o + "[ \\n]"))) << o;
    // Each status of the help's table is a paragraph of EXIT STATUS.
    const std::string statuses = man.substr(man.find(".SH EXIT STATUS"));
    std::smatch m;
    std::string table = help.substr(help.find("Exit status:\n"));
    int seen = 0;
    for (; std::regex_search(table, m, std::regex("\n  ([0-9]+) ")); table = m.suffix(), seen++)
        EXPECT_NE(npos, statuses.find(".TP\n.B " + m[1].str() + "\n")) << m[1];
    EXPECT_EQ(4, seen) << help;
    // The window's page names its one option and the way round it.
    const std::string window = ManSource("tessaly.1");
    EXPECT_NE(npos, window.find(".B --version\n")) << window;
    EXPECT_NE(npos, window.find(".BR ./--version ")) << window;
}

TEST(PackagingTest, OneVersionNumberEverywhere) {
    TempDir io, pages;
    const std::string version =
        Find(ReadFile(SourceDir() + "/CMakeLists.txt"), "project\\(Tessaly VERSION ([0-9.]+) ");
    ASSERT_TRUE(std::regex_match(version, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+"))) << version;
    Outcome cli = Shell(io, "'" + BuildDir() + "/bin/tessaly-cli' --version");
    // Offscreen and under a time limit: a window opened by mistake ends the test, not CI.
    Outcome window = Shell(
        io, "QT_QPA_PLATFORM=offscreen timeout 30 '" + BuildDir() + "/bin/tessaly' --version");
    ASSERT_EQ(0, cli.status);
    ASSERT_EQ(0, window.status) << window.err;
    EXPECT_EQ("", window.err);
    EXPECT_TRUE(cli.out.starts_with("tessaly-cli (Tessaly!) " + version + "\n")) << cli.out;
    EXPECT_EQ("tessaly" + cli.out.substr(11), window.out);
    // The database version is the one the builder writes.
    pages.Write("a.htm", "<title>a</title>");
    ASSERT_EQ(
        0, Shell(io, "'" + BuildDir() + "/bin/tessaly-cli' build '" + pages.path() + "'").status);
    const std::string written =
        Find(ReadFile(pages.path() + "/vark.kwf"), "\r\nVersion = ([0-9]+)\r\n");
    EXPECT_NE(npos, cli.out.find("\ndatabase version " + written + "\n")) << written;
    // The manual pages (version and build date), the metainfo and the changelog.
    const std::string date = Find(cli.out, "\nbuilt ([0-9-]+)\n");
    for (const char* page : {"tessaly-cli.1", "tessaly.1"})
        EXPECT_NE(npos,
                  ReadFile(Generated(page))
                      .find(" \"" + date + "\" \"Tessaly! " + version + "\" \"User Commands\"\n"))
            << page;
    EXPECT_NE(npos, ReadFile(Generated("org.tessaly.Tessaly.metainfo.xml"))
                        .find("<release version=\"" + version + "\" date=\"" + date + "\"/>"));
    EXPECT_TRUE(ReadFile(Generated("changelog")).starts_with("tessaly (" + version + ") "));
}

TEST(PackagingTest, MetainfoAndDesktopEntryValidate) {
    TempDir io;
    Outcome r = Shell(io, "appstreamcli validate --no-net '" +
                              Generated("org.tessaly.Tessaly.metainfo.xml") + "'");
    EXPECT_EQ(0, r.status) << r.out << r.err;
    EXPECT_NE(npos, r.out.find("Validation was successful")) << r.out;
    r = Shell(io, "desktop-file-validate '" + SourceDir() + "/packaging/tessaly.desktop'");
    EXPECT_EQ(0, r.status) << r.out << r.err;
    EXPECT_EQ("", r.out + r.err);
}

}  // namespace
