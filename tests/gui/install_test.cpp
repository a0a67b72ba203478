// The installed program: `cmake --install` into a temporary prefix, then the
// installed tessaly started with a database, offscreen, in a child process.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "guisupport.h"
#include "support/fakebrowser.h"

namespace {

class InstallTest : public GuiTest {};

// Runs a shell command line; returns its exit status (-1 when it did not exit).
int Shell(const std::string& command) {
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(InstallTest, InstalledProgramKeepsItsFilesInThePerUserFolder) {
    DesktopEnv desktop;  // registry store, runtime folder, a stand-in xdg-open first on PATH
    std::string xdgOpen = desktop.Recorder("xdg-open");
    const std::string prefix = Program("prefix"), data = Program("data");
    ASSERT_EQ(Shell("cmake --install '" TESSALY_BINARY_DIR "' --prefix '" + prefix + "' > '" +
                    Program("install.log") + "' 2>&1"),
              0)
        << ReadFile(Program("install.log"));
    for (const char* f :
         {"bin/tessaly", "bin/tessaly-cli", "share/tessaly/tessaly.rc",
          "share/tessaly/outframe.htm", "share/applications/tessaly.desktop",
          "share/icons/hicolor/128x128/apps/tessaly.png", "share/mime/packages/tessaly-kwf.xml"})
        EXPECT_NE(ReadFile(prefix + "/" + f), "(missing)") << f;

    dir_->Write("pages/a.htm",
                "<html><head><title>t</title><meta name=\"keywords\" content=\"kyoto\"></head>");
    ASSERT_EQ(Shell("'" + prefix + "/bin/tessaly-cli' build '" + Program("pages") + "' '" +
                    Program("db.kwf") + "' > /dev/null 2>&1"),
              0);
    dir_->Write("data/tessaly/vark.ini", "kept as it is\r\n");
    dir_->Write("data/tessaly/outframe.htm", "an older copy\r\n");  // refreshed at start
    const std::string run =
        "XDG_DATA_HOME='" + data + "' QT_QPA_PLATFORM=offscreen TESSALY_TEST_SEARCH=kyoto '" +
        prefix + "/bin/tessaly' '" + Program("db.kwf") + "' > '" + Program("run.log") + "' 2>&1";
    EXPECT_EQ(Shell(run), 0) << ReadFile(Program("run.log"));
    const std::string user = data + "/tessaly";
    EXPECT_NE(ReadFile(user + "/out.htm").find(Sjis(u8"1 件みつかりました")), std::string::npos);
    EXPECT_EQ(ReadFile(user + "/outframe.htm"), ReadFile(prefix + "/share/tessaly/outframe.htm"));
    EXPECT_EQ(ReadFile(user + "/help.htm"), ReadFile(prefix + "/share/tessaly/help.htm"));
    EXPECT_EQ(ReadFile(user + "/vark.ini"), "kept as it is\r\n");
    EXPECT_NE(WaitForFile(xdgOpen + ".rec").find(user + "/outframe.htm"), std::string::npos);
}

// The first start from the menu: no command line, no folder of the user's
// yet. The folder gets a vark.ini naming vark.kwf, the name the update dialog
// offers; a database built there opens at the next start, and the file is
// never rewritten by a start.
TEST_F(InstallTest, FirstStartPointsAtTheDatabaseTheUpdateDialogOffers) {
    DesktopEnv desktop;
    desktop.Recorder("xdg-open");
    const std::string prefix = Program("prefix"), data = Program("data");
    ASSERT_EQ(Shell("cmake --install '" TESSALY_BINARY_DIR "' --prefix '" + prefix + "' > '" +
                    Program("install.log") + "' 2>&1"),
              0)
        << ReadFile(Program("install.log"));
    const std::string user = data + "/tessaly";
    // Starts the installed program from the menu: status and standard output
    // (standard error is shown when an expectation fails).
    auto start = [&](const std::string& env) {
        const int status =
            Shell("XDG_DATA_HOME='" + data + "' QT_QPA_PLATFORM=offscreen " + env + " '" + prefix +
                  "/bin/tessaly' > '" + Program("run.out") + "' 2> '" + Program("run.err") + "'");
        return std::to_string(status) + " " + ReadFile(Program("run.out"));
    };
    auto err = [&] { return ReadFile(Program("run.err")); };
    const std::string firstIni =
        "[main] \r\nApplication = Tessaly!\r\nVersion = 101\r\nDefaultKwf = vark.kwf\r\n"
        "PrevURL = \r\n \r\n";

    EXPECT_EQ(start("TESSALY_TEST_STATUS=1"),
              U8(u8"0 STATUS ファイルが見つかりません | 登録ページ数：0000 | -\n"))
        << err();
    EXPECT_EQ(ReadFile(user + "/vark.ini"), firstIni);

    dir_->Write("pages/a.htm",
                "<html><head><title>t</title><meta name=\"keywords\" content=\"kyoto\"></head>");
    ASSERT_EQ(Shell("'" + prefix + "/bin/tessaly-cli' build '" + Program("pages") + "' '" + user +
                    "/vark.kwf' > /dev/null 2>&1"),
              0);
    EXPECT_EQ(start("TESSALY_TEST_STATUS=1"),
              U8(u8"0 STATUS ﾃﾞｰﾀﾍﾞｰｽは 0日前に更新されています。 | 登録ページ数：1 | search\n"))
        << err();
    EXPECT_EQ(start("TESSALY_TEST_SEARCH=kyoto").substr(0, 2), "0 ") << err();
    EXPECT_NE(ReadFile(user + "/out.htm").find(Sjis(u8"1 件みつかりました")), std::string::npos);
    EXPECT_EQ(ReadFile(user + "/vark.ini"), firstIni);
}

}  // namespace
