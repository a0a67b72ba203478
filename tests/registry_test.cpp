#include "platform/registry.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "support/fakebrowser.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {

class RegistryTest : public testing::Test {
   protected:
    DesktopEnv env_;

    // Sets a value, making its key.
    LONG Set(HKEY root, const char* key, const char* name, DWORD type, const std::string& data) {
        HKEY h;
        LONG rc = RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
        if (rc != ERROR_SUCCESS) return rc;
        rc = RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
        RegCloseKey(h);
        return rc;
    }
    // The value's bytes (a text without its NUL), or "(rc=N)".
    std::string Get(HKEY root, const char* key, const char* name, DWORD* type = nullptr) {
        HKEY h;
        LONG rc = RegOpenKeyExA(root, key, 0, KEY_READ, &h);
        if (rc != ERROR_SUCCESS) return "(rc=" + std::to_string(rc) + ")";
        BYTE buf[4096];
        DWORD n = sizeof buf, t = 0;
        rc = RegQueryValueExA(h, name, nullptr, &t, buf, &n);
        RegCloseKey(h);
        if (rc != ERROR_SUCCESS) return "(rc=" + std::to_string(rc) + ")";
        if (type) *type = t;
        std::string out(reinterpret_cast<char*>(buf), n);
        if (t == REG_SZ && !out.empty() && out.back() == '\0') out.pop_back();
        return out;
    }
    std::vector<std::string> Children(HKEY root, const char* key) {
        std::vector<std::string> out;
        HKEY h;
        if (RegOpenKeyExA(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return {"(none)"};
        char name[256];
        for (DWORD i = 0;; i++) {
            DWORD n = sizeof name;
            if (RegEnumKeyExA(h, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            out.push_back(name);
        }
        RegCloseKey(h);
        return out;
    }
};

TEST_F(RegistryTest, ValuesComeBackByteForByteThroughTheFile) {
    const struct {
        const char* label;
        DWORD type;
        std::string data;
    } cases[] = {
        {"empty text", REG_SZ, ""},
        {"plain", REG_SZ, "xdg-open \"%1\""},
        {"backslashes and quotes", REG_SZ, "\\\\server\\\"a\"\\"},
        {"0x5C trail bytes", REG_SZ, "\\home\\\x95\x5C\x8E\xA6\\\x83\x5C"},
        {"line breaks", REG_SZ, "one\r\ntwo\nthree"},
        {"binary", REG_BINARY, std::string("\x00\x00\x01\x00", 4)},
        {"binary with 0x5C and 0x22", REG_BINARY, std::string("\x5C\x22\xFF\x00\x0A", 5)},
        {"dword", REG_DWORD, std::string("\x18\x00\x00\x00", 4)},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CURRENT_USER, "Software\\Test", c.label, c.type, c.data))
            << Shown(c.label);
    }
    // A store read from the file again gives back every value.
    for (const auto& c : cases) {
        DWORD type = 0;
        EXPECT_EQ(c.data, Get(HKEY_CURRENT_USER, "Software\\Test", c.label, &type))
            << Shown(c.label);
        EXPECT_EQ(c.type, type) << Shown(c.label);
    }
    std::string file = ReadFile(env_.Registry());
    EXPECT_EQ(0u, file.find("REGEDIT4\r\n")) << Shown(file);
    EXPECT_NE(std::string::npos, file.find("\"plain\"=\"xdg-open \\\"%1\\\"\"\r\n")) << Shown(file);
    EXPECT_NE(std::string::npos, file.find("\"binary\"=hex:00,00,01,00\r\n")) << Shown(file);
}

// Names compare without ASCII case; a double-byte character is compared
// exactly and its 0x5C trail byte is no separator.
TEST_F(RegistryTest, NamesCompareWithoutAsciiCaseButDoubleByteCharactersExactly) {
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CLASSES_ROOT, "Case\\MixedKey", "Value", REG_SZ, "v"));
    EXPECT_EQ("v", Get(HKEY_CLASSES_ROOT, "CASE\\mixedkey", "vALUE"));
    // \x83\x41 and \x83\x61 are two katakana: a trail byte is never folded.
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CLASSES_ROOT, "Kana\\\x83\x41", "", REG_SZ, "a"));
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CLASSES_ROOT, "Kana\\\x83\x61", "", REG_SZ, "b"));
    EXPECT_EQ("a", Get(HKEY_CLASSES_ROOT, "Kana\\\x83\x41", nullptr));
    EXPECT_EQ("b", Get(HKEY_CLASSES_ROOT, "kana\\\x83\x61", nullptr));
    // 表 is \x95\x5C.
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CLASSES_ROOT, "Sjis\\\x95\x5C\\x", "", REG_SZ, "deep"));
    EXPECT_EQ(std::vector<std::string>{"\x95\x5C"}, Children(HKEY_CLASSES_ROOT, "Sjis"));
    EXPECT_EQ(std::vector<std::string>{"x"}, Children(HKEY_CLASSES_ROOT, "Sjis\\\x95\x5C"));
    EXPECT_EQ("deep", Get(HKEY_CLASSES_ROOT, "Sjis\\\x95\x5C\\x", nullptr));
}

TEST_F(RegistryTest, DangerousArgumentsAreRefused) {
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CLASSES_ROOT, "Parent\\Child", "", REG_SZ, "c"));
    const struct {
        const char* label;
        LONG want;
        LONG got;
    } cases[] = {
        {"delete through an empty name", ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CLASSES_ROOT, "")},
        {"delete through a null name", ERROR_ACCESS_DENIED,
         RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr)},
        {"delete a key with sub-keys", ERROR_ACCESS_DENIED,
         RegDeleteKeyA(HKEY_CLASSES_ROOT, "Parent")},
        {"leading backslash", ERROR_BAD_PATHNAME, RegDeleteKeyA(HKEY_CLASSES_ROOT, "\\Parent")},
        {"doubled backslash", ERROR_BAD_PATHNAME, Set(HKEY_CLASSES_ROOT, "a\\\\b", "", REG_SZ, "")},
        {"trailing backslash", ERROR_BAD_PATHNAME, Set(HKEY_CLASSES_ROOT, "a\\", "", REG_SZ, "")},
        {"line break in a key", ERROR_INVALID_PARAMETER,
         Set(HKEY_CLASSES_ROOT, "a\nb", "", REG_SZ, "")},
        {"line break in a value name", ERROR_INVALID_PARAMETER,
         Set(HKEY_CLASSES_ROOT, "a", "x\ry", REG_SZ, "")},
        {"missing key", ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CLASSES_ROOT, "Nowhere")},
    };
    for (const auto& c : cases) EXPECT_EQ(c.want, c.got) << c.label;
    EXPECT_EQ("c", Get(HKEY_CLASSES_ROOT, "Parent\\Child", nullptr));
    EXPECT_EQ("xdg-open \"%1\"", Get(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CLASSES_ROOT, "Parent\\Child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CLASSES_ROOT, "Parent"));
}

TEST_F(RegistryTest, QueryAndEnumerationFollowTheWindowsSizeRules) {
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CLASSES_ROOT, "Sizes", "", REG_SZ, "abcd"));
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CLASSES_ROOT, "Sizes\\second", "", REG_SZ, ""));
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CLASSES_ROOT, "Sizes\\first", "", REG_SZ, ""));
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sizes", 0, KEY_READ, &h));
    char buf[8] = "zzzzzzz";
    DWORD n = 4;  // the text and its NUL need 5
    EXPECT_EQ(ERROR_MORE_DATA,
              RegQueryValueExA(h, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &n));
    EXPECT_EQ(5u, n);
    EXPECT_STREQ("zzzzzzz", buf);
    n = 5;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(h, "", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &n));
    EXPECT_STREQ("abcd", buf);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(h, "absent", nullptr, nullptr, nullptr, &n));
    // Sub-keys in the order they were made; a name needs room for its NUL.
    EXPECT_EQ((std::vector<std::string>{"second", "first"}), Children(HKEY_CLASSES_ROOT, "Sizes"));
    n = 6;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(h, 0, buf, &n, nullptr, nullptr, nullptr, nullptr));
    n = 7;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(h, 0, buf, &n, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("second", buf);
    EXPECT_EQ(6u, n);
    n = sizeof buf;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExA(h, 2, buf, &n, nullptr, nullptr, nullptr, nullptr));
    // A handle opened for reading may not write.
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegSetValueExA(h, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 1));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(h));
}

// The values the seed holds are read through the shell-folder and browser
// functions (winx_test); here, that the first use writes it.
TEST_F(RegistryTest, FirstUseWritesTheSeed) {
    EXPECT_EQ("xdg-open \"%1\"", Get(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", nullptr));
    EXPECT_EQ(Registry_SeedText(), ReadFile(env_.Registry()));
}

TEST_F(RegistryTest, AStoreThatDoesNotParseIsReportedAndKept) {
    const char* bad[] = {
        "not a registry\r\n",
        "REGEDIT4\r\n\r\n@=\"a value before any key\"\r\n",
        "REGEDIT4\r\n\r\n[HKEY_NOWHERE\\x]\r\n",
        "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\x]\r\n@=\"unclosed\r\n",
        "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\x]\r\n\"v\"=hex:0g\r\n",
    };
    for (const char* text : bad) {
        env_.dir().Write("registry.reg", text);
        EXPECT_EQ(ERROR_BADDB, Set(HKEY_CLASSES_ROOT, "x", "", REG_SZ, "y")) << Shown(text);
        EXPECT_EQ(text, ReadFile(env_.Registry()));
    }
}

TEST_F(RegistryTest, ReadsWhatRegeditWrites) {
    env_.dir().Write("registry.reg",
                     "REGEDIT4\n\n; exported\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"Long\"=hex:01,02,\\\n"
                     "  03\n\"Count\"=dword:0000001a\n");
    DWORD type = 0;
    EXPECT_EQ("\x01\x02\x03", Get(HKEY_LOCAL_MACHINE, "a\\b", "long", &type));
    EXPECT_EQ(REG_BINARY, type);
    EXPECT_EQ(std::string("\x1a\0\0\0", 4), Get(HKEY_LOCAL_MACHINE, "A\\B", "Count", &type));
    EXPECT_EQ(REG_DWORD, type);
    EXPECT_EQ(std::vector<std::string>{"B"}, Children(HKEY_LOCAL_MACHINE, "A"));
}

// Runs a write of one value in a child process that ends at stage, as a
// crash there would (exit 7); with no stage, the file system refuses the
// write instead (exit 8 when the call reports ERROR_CANTWRITE).
int WriteInChild(int stage) {
    static int s_stage;
    s_stage = stage;
    pid_t pid = fork();
    if (pid == 0) {
        Registry_SetWriteHook([](Registry_WriteStage at) {
            if (at == s_stage) _exit(7);
        });
        if (stage < 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {16, 16};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        HKEY h;
        LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Crash", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &h, nullptr);
        _exit(rc == ERROR_CANTWRITE ? 8 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryTest, ACrashOrAFailedWriteLeavesTheOldStore) {
    ASSERT_EQ(ERROR_SUCCESS, Set(HKEY_CURRENT_USER, "Kept", "v", REG_SZ, "old"));
    std::string before = ReadFile(env_.Registry());
    const std::pair<int, int> cases[] = {
        {Registry_Stage_TempHalfWritten, 7}, {Registry_Stage_BeforeRename, 7}, {-1, 8}};
    for (const auto& [stage, exitCode] : cases) {
        ASSERT_EQ(exitCode, WriteInChild(stage)) << stage;
        EXPECT_EQ(before, ReadFile(env_.Registry())) << stage;
        EXPECT_EQ("old", Get(HKEY_CURRENT_USER, "Kept", "v")) << stage;
    }
    // The store still takes writes afterwards.
    EXPECT_EQ(ERROR_SUCCESS, Set(HKEY_CURRENT_USER, "Kept", "v", REG_SZ, "new"));
    EXPECT_EQ("new", Get(HKEY_CURRENT_USER, "Kept", "v"));
}

TEST_F(RegistryTest, TwoProcessesWritingLoseNothing) {
    constexpr int kEach = 25;
    pid_t pids[2];
    for (int p = 0; p < 2; p++) {
        pids[p] = fork();
        if (pids[p] == 0) {
            for (int i = 0; i < kEach; i++) {
                std::string name = std::to_string(p) + "-" + std::to_string(i);
                if (Set(HKEY_CURRENT_USER, "Race", name.c_str(), REG_SZ, name) != ERROR_SUCCESS)
                    _exit(1);
            }
            _exit(0);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int p = 0; p < 2; p++)
        for (int i = 0; i < kEach; i++) {
            std::string name = std::to_string(p) + "-" + std::to_string(i);
            EXPECT_EQ(name, Get(HKEY_CURRENT_USER, "Race", name.c_str()));
        }
}

}  // namespace
