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

}  // namespace
