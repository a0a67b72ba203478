// Faults that no module's own tests caught: each test here fails when the
// guarded rule of its module is broken (a section head, a pool's room, the
// version check, the home-folder guard, open files).

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/crekey.h"
#include "components/filex.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "platform/fs.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;

class FaultsTest : public LibraryTest {
   protected:
    TempDir dir_;
};

TEST_F(FaultsTest, SectionSearchTakesOnlyAHeadInTheFirstColumn) {
    // Rows: the file, the section found (an empty name: 591 reported).
    const std::pair<const char*, const char*> cases[] = {
        {"[main] \n  [links] \nA = x\n", ""},
        {"[main] \n\t[links] \nA = x\n", ""},
        {"[main] \n[links] \nA = x\n", "links"},
    };
    for (const auto& [text, found] : cases) {
        const std::string path = Fs_FromNative(dir_.Write("s.ini", text));
        char line[256];
        IniReader r{};
        const int code = CaughtCode([&] {
            IniFile_OpenRead(&r, path.c_str(), line, sizeof line);
            IniFile_FindSection(&r, "links", false);
        });
        IniFile_CloseRead(&r);
        EXPECT_EQ(*found ? 0 : 591, code) << text;
    }
}

TEST_F(FaultsTest, ReadStringsNeedsRoomForAWholeValueAndItsNul) {
    // A value limit of 8: each string may be 7 bytes and its NUL, and the
    // next string begins one byte after the last NUL.
    const std::string path = Fs_FromNative(dir_.Write("r.ini", "A = abcdefghij\n"));
    for (int left : {8, 9, 20}) {
        char block[64];
        StrX_Mem pool;
        StrX_Mem_Init(&pool, block, sizeof block);
        while (StrX_Mem_Left(&pool) > left) StrX_Mem_Add(&pool, "");
        ASSERT_EQ(left, StrX_Mem_Left(&pool));
        char line[256];
        IniReader r{};
        int added = -1;
        const int code = CaughtCode([&] {
            IniFile_OpenRead(&r, path.c_str(), line, sizeof line);
            IniFile_SetValueLimit(&r, 8);
            added = IniFile_ReadStrings(&r, "A", &pool);
        });
        IniFile_CloseRead(&r);
        if (left <= 8) {
            EXPECT_EQ(CodeName(IniFile_Err_FewBuf.code), CodeName(code)) << left;
            EXPECT_EQ(left, StrX_Mem_Left(&pool)) << "nothing stored, " << left;
        } else {
            EXPECT_EQ(CodeName(0), CodeName(code)) << left;
            EXPECT_EQ(1, added) << left;
            EXPECT_EQ(std::string("abcdefg"), pool.last) << left;
        }
    }
}

TEST_F(FaultsTest, RemoveTreeNeverRemovesTheHomeFolder) {
    // A home of the test's own (the tests may run as root, whose home the
    // system list already covers).
    const std::string home = dir_.path() + "/home";
    dir_.Write("home/keep.txt", "mine");
    dir_.Write("home/sub/x.txt", "x");
    const char* old = getenv("HOME");
    const std::string saved = old ? old : "";
    setenv("HOME", home.c_str(), 1);
    for (const std::string& form : {home, home + "/", home + "/sub/.."}) {
        EXPECT_EQ(CodeName(Errors_Unofficial.code),
                  CodeName(CaughtCode([&] { FileX_RemoveTree(Fs_FromNative(form).c_str()); })))
            << form;
        EXPECT_EQ("mine", ReadFile(home + "/keep.txt")) << form;
    }
    if (old)
        setenv("HOME", saved.c_str(), 1);
    else
        unsetenv("HOME");
    // Any other folder goes.
    dir_.Write("other/a.txt", "x");
    EXPECT_EQ(0, FileX_RemoveTree(Fs_FromNative(dir_.path() + "/other").c_str()));
    EXPECT_FALSE(fs::exists(dir_.path() + "/other"));
}

TEST_F(FaultsTest, BuildKeepsItsOpenFilesBoundedWhateverThePageCount) {
    // 300 pages under a limit of 128 open files, in a child process: every
    // page must be indexed, so no page may keep its file open.
    for (int i = 0; i < 300; i++)
        dir_.Write(
            "p/" + std::to_string(i) + ".htm",
            "<title>T" + std::to_string(i) + "</title><meta name=\"keywords\" content=\"k\">");
    const std::string base = Fs_FromNative(dir_.path() + "/p");
    const std::string db = Fs_FromNative(dir_.path() + "/v.kwf");
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            rlimit lim;
            lim.rlim_cur = lim.rlim_max = 128;
            if (setrlimit(RLIMIT_NOFILE, &lim) != 0) _exit(3);
            volatile unsigned char cancel = 0;
            CreKey_Stats stats{};
            CreKey_Build(&cancel, base.c_str(), db.c_str(), nullptr, nullptr, "main", &stats);
            fprintf(stderr, "pages=%d skipped=%d\n", stats.pages, stats.skipped);
            _exit(0);
        },
        testing::ExitedWithCode(0), "pages=300 skipped=0");
}

// tessaly-cli as a separate process (TESSALY_CLI or ../bin/tessaly-cli).
std::string CliPath() {
    if (const char* env = getenv("TESSALY_CLI"); env && *env) return env;
    return (fs::read_symlink("/proc/self/exe").parent_path() / ".." / "bin" / "tessaly-cli")
        .lexically_normal()
        .string();
}

TEST_F(FaultsTest, VersionCheckTakesVersionsUpTo101) {
    std::string fixed = ReadFile(TestDataDir() + "/cli-fixed.kwf");
    const size_t at = fixed.find("Version = 100");
    ASSERT_NE(std::string::npos, at);
    for (const auto& [version, status] : {std::pair{"099", 0}, {"101", 0}, {"102", 14}}) {
        std::string text = fixed;
        text.replace(at, 13, std::string("Version = ") + version);
        const std::string db = dir_.Write("v.kwf", text);
        const std::string cmd = "'" + CliPath() + "' info '" + db + "' >/dev/null 2>&1";
        const int raw = std::system(cmd.c_str());
        EXPECT_EQ(status, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1) << version;
    }
}

}  // namespace
