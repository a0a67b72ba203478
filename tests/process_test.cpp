#include "platform/process.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "support/fakebrowser.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {

using Args = std::vector<std::string>;

TEST(ProcessTest, CommandLinesSplitByTheWindowsRules) {
    const struct {
        const char* line;
        Args want;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"prog", {"prog"}},
        {"prog a  b\tc", {"prog", "a", "b", "c"}},
        {"\"C:\\Program Files\\x.exe\" \"%1\"", {"C:\\Program Files\\x.exe", "%1"}},
        {"prog \\home\\u\\out.htm", {"prog", "\\home\\u\\out.htm"}},
        {"prog \"a b\"c \"\"", {"prog", "a bc", ""}},
        {"prog \"say \"\"hi\"\"\"", {"prog", "say \"hi\""}},
        {"prog a\\\"b", {"prog", "a\"b"}},
        {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},
        {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},           // 3: one and a quote
        {"prog \"a\\\\\\\\\" b", {"prog", "a\\\\", "b"}},  // 4: two, the quote groups
        {"prog \"ends in a folder\\\\\"", {"prog", "ends in a folder\\"}},
        {"prog a\\\\b", {"prog", "a\\\\b"}},
        // The trail byte of 表 (\x95\x5C) before a quote is no backslash.
        {"prog \"\x95\x5C\" x", {"prog", "\x95\x5C", "x"}},
        {"\"\\bin\\p q\" r", {"\\bin\\p q", "r"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, Process_SplitCommandLine(c.line)) << Shown(c.line);
}

// A program starts with native paths and is not waited for (33); what cannot
// start gives the Windows codes: 2 no such file, 3 no such folder, 11 no program.
TEST(ProcessTest, WinExecStartsOrGivesTheWindowsCodes) {
    DesktopEnv env;
    std::string rec = env.Recorder("rec"), plain = env.dir().Write("plain.txt", "not a program");
    std::string line = Fs_FromNative(rec) + " \\home\\u\\out.htm http://h/a\\b \"two words\" " +
                       "\x95\x5C" + " /jos%C3%A9 http://h/a%20b";
    EXPECT_EQ(33, WinExec(line.c_str(), SW_SHOWNORMAL));
    std::string got = WaitForFile(rec + ".rec");
    EXPECT_NE(std::string::npos, got.find("\n/home/u/out.htm\nhttp://h/a\\b\ntwo words\n" +
                                          U8(u8"表") + "\n/jos\xC3\xA9\nhttp://h/a%20b\n"))
        << got;
    const std::string folder = Fs_FromNative(env.dir().path());
    const std::pair<std::string, int> cases[] = {{"", 2},
                                                 {"no-such-program-anywhere", 2},
                                                 {folder + "\\missing", 2},
                                                 {folder + "\\no-folder\\missing", 3},
                                                 {Fs_FromNative(plain) + "\\x", 3},
                                                 {Fs_FromNative(plain), 11},
                                                 {folder, 11}};
    for (const auto& [cmd, want] : cases)
        EXPECT_EQ(want, WinExec(cmd.c_str(), SW_SHOWNORMAL)) << cmd;
}

// The children of this process that have ended and were not reaped.
int Zombies() {
    int n = 0;
    DIR* d = opendir("/proc");
    while (struct dirent* e = d ? readdir(d) : nullptr) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        sscanf(line.c_str() + line.rfind(')') + 1, " %c %d", &state, &ppid);
        if (ppid == getpid() && state == 'Z') n++;
    }
    if (d) closedir(d);
    return n;
}

// A started program is reaped when it ends, though nobody waits for it; a
// program that cannot start leaves no child either.
TEST(ProcessTest, StartedProgramsLeaveNoZombie) {
    for (int i = 0; i < 5; i++) ASSERT_EQ(0, Process_Spawn({"true"}));
    EXPECT_EQ(ENOENT, Process_Spawn({"no-such-program-anywhere"}));
    EXPECT_EQ(33, WinExec("false", SW_SHOWNORMAL));
    int left = Zombies();
    for (int waited = 0; left > 0 && waited < 5000; waited += 10) {
        usleep(10000);
        left = Zombies();
    }
    EXPECT_EQ(0, left);
}

}  // namespace
