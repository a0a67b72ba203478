#include "components/winx.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "platform/fs.h"
#include "support/fakebrowser.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {

using Strings = std::vector<std::string>;

// A registry value to check: "(missing)" for no key, "(no value)" for a key
// without it, "%02X" bytes for a binary value.
struct Value {
    HKEY root;
    std::string key;
    const char* name;
    std::string want;
};

class WinXTest : public LibraryTest {
   protected:
    void SetUp() override {
        LibraryTest::SetUp();
        WinX_SetStartWait(5000);
    }
    void TearDown() override {
        // A fake browser started by a test ends when told to.
        SendExecute("IExplore", "WWW_OpenURL", "exit-fake-browser");
        LibraryTest::TearDown();
    }

    // Sets the default value (or a named one) of a key below root.
    void Put(HKEY root, const std::string& key, const char* name, const std::string& text) {
        HKEY h;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &h, nullptr))
            << key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                                 static_cast<DWORD>(text.size())));
        RegCloseKey(h);
    }
    std::string Get(HKEY root, const std::string& key, const char* name = nullptr) {
        HKEY h;
        if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "(missing)";
        BYTE buf[4096];
        DWORD n = sizeof buf, type = 0;
        LONG rc = RegQueryValueExA(h, name, nullptr, &type, buf, &n);
        RegCloseKey(h);
        if (rc != ERROR_SUCCESS) return "(no value)";
        if (type == REG_SZ) return reinterpret_cast<char*>(buf);
        std::string hex;
        for (DWORD i = 0; i < n; i++) {
            char b[4];
            snprintf(b, sizeof b, "%s%02X", i ? " " : "", buf[i]);
            hex += b;
        }
        return hex;
    }
    void ExpectValues(const std::vector<Value>& values, const char* when) {
        for (const Value& v : values)
            EXPECT_EQ(v.want, Get(v.root, v.key, v.name))
                << when << ": " << v.key << " " << (v.name ? v.name : "@");
    }
    bool Exists(const std::string& key) { return Get(HKEY_CLASSES_ROOT, key) != "(missing)"; }

    // Registers the "http" protocol for a browser service.
    void SetHttp(const std::string& command, const std::string& app, const std::string& topic,
                 const std::string& ddeexec) {
        Put(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", nullptr, command);
        Put(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec", nullptr, ddeexec);
        Put(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec\\Application", nullptr, app);
        Put(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec\\Topic", nullptr, topic);
    }
    // The command line that starts the fake browser program.
    std::string FakeCommand(const char* extra = "") {
        return "\"" FAKE_BROWSER "\" \"" + Record() + "\" " + extra + "\"%1\"";
    }
    std::string Record() const { return env_.dir().path() + "/browser.rec"; }
    // The arguments a stand-in recorder was started with, one a line,
    // once it has written them (its first line, the folder, left out).
    static std::string Args(const std::string& rec) {
        std::string got = WaitForFile(rec);
        return got.substr(got.find('\n') + 1);
    }
    static size_t ScratchUsed() { return BigStack_Sys()->sp - BigStack_Sys()->mem; }

    DesktopEnv env_;
};

TEST_F(WinXTest, ReadAssocAndProbe) {
    WinX_Assoc assoc;
    EXPECT_EQ(0, CaughtCode([&] { WinX_ReadAssoc(&assoc, "http"); }));
    EXPECT_STREQ("xdg-open \"%1\"", assoc.command);
    EXPECT_STREQ("Launcher", assoc.application);
    EXPECT_STREQ("WWW_OpenURL", assoc.topic);
    EXPECT_STREQ("%1", assoc.ddeexec);
    // A protocol without a registration is reported with the missing key's code.
    EXPECT_EQ(Errors_Unofficial.code, CaughtCode([&] { WinX_ReadAssoc(&assoc, "gopher"); }));
    EXPECT_NE(std::string::npos, LastText().find("allcode = 00000002 (Facility=0, Code=2)"))
        << LastText();

    FakeBrowser fake;
    WinX_Assoc iexplore = {"", "IExplore", "WWW_OpenURL", ""};
    EXPECT_FALSE(WinX_DdeProbe(&iexplore)) << "not running";
    ASSERT_TRUE(fake.Start());
    EXPECT_TRUE(WinX_DdeProbe(&iexplore)) << "running";
    fake.refuse = true;
    EXPECT_FALSE(WinX_DdeProbe(&iexplore)) << "refusing";
    WinX_Assoc launcher = {"", "Launcher", "WWW_OpenURL", ""};
    EXPECT_TRUE(WinX_DdeProbe(&launcher)) << "the built-in service";
    EXPECT_EQ(0u, Dde_LiveHandles());
}

TEST_F(WinXTest, RequestReadsTheCurrentPageCutToTheBuffer) {
    FakeBrowser fake;
    ASSERT_TRUE(fake.Start());
    SetHttp("unused", "IExplore", "WWW_OpenURL", "%1");
    WinX_Assoc assoc;
    WinX_ReadAssoc(&assoc, "http");
    const std::string full = "\"http://example.jp/now.htm\",\"Example\",\"\"";
    const struct {
        int size;
        std::string want;
    } cases[] = {{512, full},
                 {int(full.size()) + 1, full},
                 {int(full.size()), full.substr(0, full.size() - 1)},
                 {8, full.substr(0, 7)},
                 {1, ""}};
    for (const auto& c : cases) {
        char reply[600];
        memset(reply, 'G', sizeof reply);
        EXPECT_EQ(0,
                  CaughtCode([&] { WinX_DdeRequest(&assoc, "WWW_GetWindowInfo", reply, c.size); }));
        EXPECT_EQ(c.want, reply) << c.size;
        EXPECT_EQ('G', reply[c.size]) << "guard after " << c.size;
    }
    EXPECT_EQ(0u, Dde_LiveHandles());
}

TEST_F(WinXTest, ReplyURLTakesTheFirstQuotedField) {
    const struct {
        const char* reply;
        const char* want;
    } cases[] = {
        {"\"http://example.jp/now.htm\",\"Example\",\"\"", "http://example.jp/now.htm"},
        {"\"file:///C:/x.htm\",\"t\"", "file:///C|/x.htm"},
        {"\"file:///home/u/x.htm\"", "file:///home/u/x.htm"},
        {"\"file:///", "file:///"},  // shorter than 10: index 9 is not read
        {"\"file:///C", "file:///C"},
        {"\"no closing quote", "no closing quote"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char out[64];
        memset(out, ':', sizeof out);
        EXPECT_STREQ(c.want, WinX_ReplyURL(c.reply, out, sizeof out)) << c.reply;
        size_t tail = strlen(c.want) + 1;
        EXPECT_EQ(std::string(sizeof out - tail, ':'), std::string(out + tail, sizeof out - tail))
            << "nothing written past the URL of " << c.reply;
    }
    char small[5];
    EXPECT_STREQ("http", WinX_ReplyURL("\"http://a/\"", small, sizeof small));
}

TEST_F(WinXTest, OpenURLReplacesEveryPercentOneAndCutsAtTheBuffer) {
    FakeBrowser fake;
    ASSERT_TRUE(fake.Start());
    SetHttp("unused", "IExplore", "WWW_OpenURL", "\"%1\",,%1,0");
    EXPECT_EQ(0, CaughtCode([&] { WinX_OpenURL("http://a/b.htm"); }));
    std::string longUrl = "http://h/" + std::string(600, 'u');
    EXPECT_EQ(0, CaughtCode([&] { WinX_OpenURL(longUrl.c_str()); }));
    Strings opened = fake.WaitOpened(2, 5000);
    ASSERT_EQ(2u, opened.size());
    EXPECT_EQ("\"http://a/b.htm\",,http://a/b.htm,0", opened[0]);
    EXPECT_EQ("\"" + longUrl.substr(0, 510), opened[1]);
    EXPECT_EQ(0u, ScratchUsed());
}

// A browser that is not running is started by its registered command line,
// which keeps its "%1", and takes the execute once it answers. (That a
// request and both executes start it: the test after this one.)
TEST_F(WinXTest, OpenURLStartsABrowserThatIsNotRunning) {
    SetHttp(FakeCommand(), "IExplore", "WWW_OpenURL", "\"%1\",,-1");
    EXPECT_EQ(0, CaughtCode([&] { WinX_OpenURL("\\home\\u\\out.htm"); }));
    EXPECT_EQ("ARGS [%1]\nOPEN \"\\home\\u\\out.htm\",,-1\n", WaitForText(Record(), "OPEN "));
}

TEST_F(WinXTest, ABrowserThatNeverAnswersFailsTheRequestOnlyAtItsLine) {
    SetHttp(FakeCommand("--never "), "IExplore", "WWW_GetWindowInfo", "%1");
    WinX_SetStartWait(200);
    WinX_Assoc assoc;
    WinX_ReadAssoc(&assoc, "http");
    char reply[512] = "untouched";
    EXPECT_EQ(Errors_Unofficial.code,
              CaughtCode([&] { WinX_DdeRequest(&assoc, nullptr, reply, sizeof reply); }));
    EXPECT_NE(std::string::npos, LastText().find("Error in winx.cpp(1158) : ")) << LastText();
    EXPECT_NE(std::string::npos,
              LastText().find("WinX: DDE Error : DMLERR_NO_CONV_ESTABLISHED in winx.cpp:1060"))
        << LastText();
    EXPECT_STREQ("untouched", reply);
    EXPECT_EQ(0u, Dde_LiveHandles()) << "the frame freed the instance";
    // The execute sends nothing and returns.
    EXPECT_EQ(
        0, CaughtCode([&] { WinX_DdeExecute(assoc.command, "IExplore", "WWW_OpenURL", "x", 1); }));
    EXPECT_FALSE(WinX_DdeExecuteAssoc(&assoc, "WWW_OpenURL", "x", 1));
    const std::string never = "ARGS [--never] [%1] NEVER\n";
    EXPECT_EQ(never + never + never, WaitForText(Record(), never + never + never));
    EXPECT_EQ(0u, Dde_LiveHandles());
}

TEST_F(WinXTest, DdeErrorsAreNamedAndReportedAtTheirLine) {
    // The ends of the table and one inside it, by the DDEML's own codes.
    const std::pair<UINT, const char*> named[] = {{0x4000, "DMLERR_ADVACKTIMEOUT"},
                                                  {0x400A, "DMLERR_NO_CONV_ESTABLISHED"},
                                                  {0x4011, "DMLERR_UNFOUND_QUEUE_ID"}};
    for (const auto& [code, name] : named) EXPECT_STREQ(name, WinX_DdeErrorName(code)) << code;
    for (UINT code : {0u, 0x3FFFu, 0x4012u, 0xFFFFFFFFu})
        EXPECT_STREQ("unknown", WinX_DdeErrorName(code)) << code;
    EXPECT_EQ(Errors_Unofficial.code, CaughtCode([] { WinX_DdeError(12345, "caller.cpp", 77); }));
    EXPECT_NE(std::string::npos,
              LastText().find("WinX: DDE Error : DMLERR_NOT_INITIALIZED in caller.cpp:77"));
    EXPECT_EQ(reinterpret_cast<HDDEDATA>(uintptr_t{0x8000}),
              WinX_DdeCallback(XTYP_ADVDATA, 0, nullptr, nullptr, nullptr, nullptr, 0, 0));
    for (UINT type : {XTYP_REQUEST, XTYP_EXECUTE, 0u})
        EXPECT_EQ(nullptr, WinX_DdeCallback(type, 0, nullptr, nullptr, nullptr, nullptr, 0, 0));

    // A service name too long for a handle, at each operation's line.
    const std::string bad(300, 's');
    char reply[8];
    EXPECT_EQ(Errors_Unofficial.code, CaughtCode([&] { WinX_DdeCanConnect(bad.c_str(), "T"); }));
    EXPECT_NE(std::string::npos, LastText().find("DMLERR_INVALIDPARAMETER in winx.cpp:909"))
        << LastText();
    EXPECT_EQ(Errors_Unofficial.code,
              CaughtCode([&] { WinX_DdeExecute("none", bad.c_str(), "T", "x", 1); }));
    EXPECT_NE(std::string::npos, LastText().find("in winx.cpp:978")) << LastText();
    EXPECT_EQ(Errors_Unofficial.code,
              CaughtCode([&] { WinX_DdeRequestText("none", bad.c_str(), "T", reply, 8); }));
    EXPECT_NE(std::string::npos, LastText().find("in winx.cpp:1048")) << LastText();
    // A name that climbs folders only names a socket nobody listens on.
    EXPECT_FALSE(WinX_DdeCanConnect("../../../tmp/x", "../y"));
    EXPECT_EQ(0u, Dde_LiveHandles());
}

// With the seeded store a page goes through the built-in Launcher service to
// xdg-open: native path, quotes taken off, URLs untouched.
TEST_F(WinXTest, WithTheSeededStorePagesGoToXdgOpen) {
    std::string rec = env_.Recorder("xdg-open") + ".rec";
    const struct {
        const char* url;
        std::string want;
    } cases[] = {
        {"\\home\\u\\out.htm", "/home/u/out.htm"},
        {"http://example.jp/a.htm?q=1", "http://example.jp/a.htm?q=1"},
        {"\\home\\u\\\x95\x5C.htm", U8(u8"/home/u/表.htm")},
        {"\"\\home\\u\\\x95\x5C.htm\"", U8(u8"/home/u/表.htm")},
        {"http://example.jp/a b?x=\\1", "http://example.jp/a b?x=\\1"},
        // Escapes of a path are decoded, of a URL left to the browser.
        {"\\home\\jos%C3%A9\\out.htm", "/home/jos\xC3\xA9/out.htm"},
        {"/home/jos%C3%A9/%2541.htm", "/home/jos\xC3\xA9/%41.htm"},
        {"file:///home/jos%C3%A9/out.htm", "file:///home/jos%C3%A9/out.htm"},
    };
    for (const auto& c : cases) {
        unlink(rec.c_str());
        EXPECT_EQ(0, CaughtCode([&] { WinX_OpenURL(c.url); })) << c.url;
        EXPECT_EQ(c.want + "\n", Args(rec)) << c.url;
    }
}

// A folder reaches xdg-open as one argument, byte for byte, whatever quotes
// and backslashes it holds: the command line quotes it by the Windows rules
// (backslashes before a quote doubled, the quote escaped), and a trail byte
// 0x5C is no backslash. The command holds 2047 bytes at most.
TEST_F(WinXTest, AFolderReachesXdgOpenExactly) {
    std::string rec = env_.Recorder("xdg-open") + ".rec";
    const struct {
        std::string folder, want;
    } cases[] = {
        {"\\opt\\a b", "/opt/a b"},
        {"\\opt\\a\"b", "/opt/a\"b"},
        {"\\opt\\x\\\"y", "/opt/x/\"y"},
        {"\\opt\\\"\"", "/opt/\"\""},
        {"\\opt\\end\\", "/opt/end/"},
        {"\\opt\\\x95\x5C\"x", U8(u8"/opt/表\"x")},
        {"\\opt\\\x95\x5C", U8(u8"/opt/表")},
        {"http://h/a\\\\\"b", "http://h/a\\\\\"b"},
        {"\\" + std::string(2035, 'p'), "/" + std::string(2035, 'p')},  // 2047 bytes
    };
    for (const auto& c : cases) {
        const std::string name = Shown(c.folder.substr(0, 40));
        unlink(rec.c_str());
        int result = 0;
        EXPECT_EQ(0, CaughtCode([&] { result = WinX_OpenFolder(c.folder.c_str()); })) << name;
        EXPECT_GT(result, 31) << name;
        EXPECT_EQ(c.want + "\n", Args(rec)) << name;
    }
    const std::string tooLong = "\\" + std::string(2036, 'p');  // 2048 bytes
    EXPECT_EQ(Errors_Unofficial.code, CaughtCode([&] { WinX_OpenFolder(tooLong.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("command too long"));
}

TEST_F(WinXTest, EnvironmentAndShellFolders) {
    setenv("HOME", env_.dir().path().c_str(), 1);
    // The store's first use takes the shell folders from the desktop's
    // user-dirs file (without one, Templates is the home folder).
    env_.dir().Write("config/user-dirs.dirs",
                     "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\nXDG_TEMPLATES_DIR=\"/srv/tpl\"\n");
    std::string home = Fs_FromNative(env_.dir().path());
    EXPECT_EQ(home + "\\Desk", WinX_GetDesktopFolder());
    EXPECT_EQ(home, WinX_GetPersonalFolder());
    EXPECT_STREQ("\\srv\\tpl", WinX_GetTemplatesFolder());
    EXPECT_STREQ("\\opt", WinX_GetProgramFilesFolder());
    EXPECT_EQ(24, WinX_GetBitsPerPixel());
    Put(HKEY_CURRENT_USER, "Display\\Settings", "BitsPerPixel", "16");
    EXPECT_EQ(16, WinX_GetBitsPerPixel());

    const struct {
        const char* temp;
        const char* want;
    } temps[] = {{"/tmp/a/", "\\tmp\\a"}, {"/tmp/a", "\\tmp\\a"}, {nullptr, ""}, {"", ""}};
    for (const auto& t : temps) {
        if (t.temp)
            setenv("TEMP", t.temp, 1);
        else
            unsetenv("TEMP");
        EXPECT_STREQ(t.want, WinX_GetTempFolder()) << (t.temp ? t.temp : "unset");
    }
    unsetenv("windir");
    EXPECT_STREQ("", WinX_GetWinDir());
    EXPECT_FALSE(WinX_HasWScript());
    setenv("windir", env_.dir().path().c_str(), 1);
    EXPECT_EQ(home, WinX_GetWinDir());
    EXPECT_FALSE(WinX_HasWScript());
    env_.dir().Write("WScript.exe", "");
    EXPECT_TRUE(WinX_HasWScript());
}

TEST_F(WinXTest, RegistFileTypeWritesTheTypeKeys) {
    const HKEY cr = HKEY_CLASSES_ROOT;
    // An extension without a key gets an "<ext>file" type.
    EXPECT_EQ(0, CaughtCode([] {
                  WinX_RegistFileType("tsy", "Tessaly data", "open", "&Open", "tsy.exe \"%1\"",
                                      "\\opt\\tsy.ico", 2, true, false);
              }));
    ExpectValues({{cr, ".tsy", nullptr, "tsyfile"},
                  {cr, "tsyfile", nullptr, "Tessaly data"},
                  {cr, "tsyfile", "EditFlags", "00 00 01 00"},
                  {cr, "tsyfile\\DefaultIcon", nullptr, "\\opt\\tsy.ico,2"},
                  {cr, "tsyfile\\shell", nullptr, "open"},
                  {cr, "tsyfile\\shell\\open", nullptr, "&Open"},
                  {cr, "tsyfile\\shell\\open", "EditFlags", "01 00 00 00"},
                  {cr, "tsyfile\\shell\\open\\command", nullptr, "tsy.exe \"%1\""}},
                 "new type");
    // An existing type is used; no description, no icon, not default,
    // editable: four zero bytes.
    Put(cr, ".htm", nullptr, "htmlfile");
    WinX_RegistFileType("htm", nullptr, "edit", "Edit", "ed %1", nullptr, -1, false, true);
    ExpectValues({{cr, ".htm", nullptr, "htmlfile"},
                  {cr, "htmlfile", nullptr, "(no value)"},
                  {cr, "htmlfile", "EditFlags", "00 00 00 00"},
                  {cr, "htmlfile\\DefaultIcon", nullptr, "(missing)"},
                  {cr, "htmlfile\\shell", nullptr, "(no value)"},
                  {cr, "htmlfile\\shell\\edit\\command", nullptr, "ed %1"}},
                 "existing type");
    // An empty type name counts as none.
    Put(cr, ".emp", nullptr, "");
    WinX_RegistFileType("emp", nullptr, "open", "Open", "x", nullptr, -1, false, false);
    ExpectValues(
        {{cr, ".emp", nullptr, "empfile"}, {cr, "empfile\\shell\\open\\command", nullptr, "x"}},
        "empty type name");
}

TEST_F(WinXTest, UnregistFileTypeRemovesTheLastVerbWithItsType) {
    WinX_RegistFileType("tsy", "T", "open", "Open", "a %1", "i.ico", 0, true, false);
    WinX_RegistFileType("tsy", nullptr, "print", "Print", "p %1", nullptr, -1, true, false);
    EXPECT_EQ("print", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell"));
    // One of two verbs: both keys stay, the default verb is "open" again;
    // a second time nothing changes.
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("tsy", "print"); }));
        EXPECT_FALSE(Exists("tsyfile\\shell\\print"));
        EXPECT_EQ("open", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell"));
        EXPECT_EQ("tsyfile", Get(HKEY_CLASSES_ROOT, ".tsy"));
        EXPECT_EQ("a %1", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell\\open\\command"));
    }
    // The last verb: the type and the extension go.
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("tsy", "open"); }));
    for (const char* key : {"tsyfile\\shell", "tsyfile\\DefaultIcon", "tsyfile", ".tsy"})
        EXPECT_FALSE(Exists(key)) << key;
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("none", "open"); }));
    // An empty type name never names the classes root itself.
    Put(HKEY_CLASSES_ROOT, ".bad", nullptr, "");
    Put(HKEY_CLASSES_ROOT, "shell\\open\\command", nullptr, "a root-level verb");
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("bad", "open"); }));
    EXPECT_EQ("a root-level verb", Get(HKEY_CLASSES_ROOT, "shell\\open\\command"));
    EXPECT_EQ("xdg-open \"%1\"", Get(HKEY_CLASSES_ROOT, "http\\shell\\open\\command"));
    EXPECT_EQ(0u, ScratchUsed());
}

TEST_F(WinXTest, NamesThatDoNotFitAreRefusedNotCut) {
    Put(HKEY_CLASSES_ROOT, ".lng", nullptr, std::string(2040, 't'));
    EXPECT_EQ(Errors_Unofficial.code, CaughtCode([] {
                  WinX_RegistFileType("lng", nullptr, "open", "Open", "c", nullptr, -1, false,
                                      false);
              }));
    EXPECT_NE(std::string::npos, LastText().find("key name too long")) << LastText();
    EXPECT_EQ(std::string::npos, ReadFile(env_.Registry()).find("tttt\\shell"))
        << "no key under a cut name";
    // A type name longer than its buffer is refused, and the extension keeps it.
    std::string tooLong(2100, 'q');
    Put(HKEY_CLASSES_ROOT, ".lng2", nullptr, tooLong);
    EXPECT_EQ(Errors_Unofficial.code, CaughtCode([] {
                  WinX_RegistFileType("lng2", nullptr, "open", "Open", "c", nullptr, -1, false,
                                      false);
              }));
    EXPECT_EQ(tooLong, Get(HKEY_CLASSES_ROOT, ".lng2"));
    EXPECT_FALSE(Exists("lng2file"));
    std::string longProtocol(2030, 'p');
    WinX_Assoc assoc;
    EXPECT_EQ(Errors_Unofficial.code,
              CaughtCode([&] { WinX_ReadAssoc(&assoc, longProtocol.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("key name too long")) << LastText();
    EXPECT_EQ(0u, ScratchUsed());
}

TEST_F(WinXTest, OpenWithAssocBuildsTheCommandWithThePath) {
    std::string rec = env_.Recorder("viewer") + ".rec";
    std::string viewer = Fs_FromNative(env_.Bin() + "/viewer");
    WinX_RegistFileType("tsy", nullptr, "open", "Open", "x", nullptr, -1, true, false);
    const struct {
        std::string command, verb;
        std::string want;
    } cases[] = {
        {viewer + " --flag", "open", "--flag\n/tmp/x/a.tsy\n"},
        {viewer + " \"%1\" %1", "open", "/tmp/x/a.tsy\n/tmp/x/a.tsy\n"},
        // Without a default verb of its own, the first verb of "*\shell".
        {viewer + " star", "", "star\n/tmp/x/a.tsy\n"},
    };
    for (const auto& c : cases) {
        Put(HKEY_CLASSES_ROOT, "tsyfile\\shell", nullptr, c.verb);
        Put(HKEY_CLASSES_ROOT,
            c.verb.empty() ? "*\\shell\\view\\command" : "tsyfile\\shell\\open\\command", nullptr,
            c.command);
        unlink(rec.c_str());
        int result = 0;
        EXPECT_EQ(0, CaughtCode([&] { result = WinX_OpenWithAssoc("\\tmp\\x\\a.tsy"); }));
        EXPECT_GT(result, 31) << c.command;
        EXPECT_EQ(c.want, Args(rec)) << c.command;
    }
    // A path that would pass the 256-byte command is refused, not cut: the
    // command of 255 bytes starts, one of 256 is refused, with "%1" replaced
    // or the path appended.
    Put(HKEY_CLASSES_ROOT, "tsyfile\\shell", nullptr, "open");
    const std::string path = "\\tmp\\x\\a.tsy";
    for (const char* form : {"", " %1"}) {
        for (size_t len : {255, 256}) {
            const size_t pad = len - viewer.size() - 2 - path.size();
            const std::string command = viewer + " " + std::string(pad, 'p') + form;
            Put(HKEY_CLASSES_ROOT, "tsyfile\\shell\\open\\command", nullptr, command);
            unlink(rec.c_str());
            const int code = CaughtCode([&] { WinX_OpenWithAssoc(path.c_str()); });
            const std::string name = std::to_string(len) + (*form ? " with %1" : " appended");
            EXPECT_EQ(CodeName(len == 255 ? 0 : Errors_Unofficial.code), CodeName(code)) << name;
            EXPECT_EQ(len == 255 ? std::string(pad, 'p') + "\n/tmp/x/a.tsy\n" : "(missing)",
                      len == 255 ? Args(rec) : ReadFile(rec))
                << name;
        }
    }
    EXPECT_NE(std::string::npos, LastText().find("command too long")) << LastText();
}

TEST_F(WinXTest, FolderVerbsTemplatesAndUninstallEntries) {
    setenv("HOME", env_.dir().path().c_str(), 1);  // the seeded Templates folder
    const HKEY cr = HKEY_CLASSES_ROOT, lm = HKEY_LOCAL_MACHINE;
    const std::string uninstall =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaly";
    EXPECT_EQ(Errors_Unofficial.code, CaughtCode([] { WinX_RegistShellNew("tsy", "blank.tsy"); }));
    EXPECT_NE(std::string::npos, LastText().find("file not found in ShellNew Folder"));
    env_.dir().Write("blank.tsy", "");
    EXPECT_EQ(0, CaughtCode([] {
                  WinX_RegistFolderVerb("tsyidx", "Index with Tessaly", "tsy \"%1\"", true);
                  WinX_RegistShellNew("tsy", "blank.tsy");
                  WinX_RegistShellNew("txt", nullptr);
                  WinX_RegistUninstall("Tessaly", "Tessaly!", "\\opt\\tessaly\\uninst");
              }));
    ExpectValues({{cr, "Directory\\shell", nullptr, "tsyidx"},
                  {cr, "Directory\\shell\\tsyidx", nullptr, "Index with Tessaly"},
                  {cr, "Directory\\shell\\tsyidx", "EditFlags", "01 00 00 00"},
                  {cr, "Directory\\shell\\tsyidx\\command", nullptr, "tsy \"%1\""},
                  {cr, ".tsy\\ShellNew", "FileName", "blank.tsy"},
                  {cr, ".txt\\ShellNew", "NullFile", ""},
                  {lm, uninstall, "DisplayName", "Tessaly!"},
                  {lm, uninstall, "UninstallString", "\\opt\\tessaly\\uninst"}},
                 "registered");
    // Each removal, and a second one that finds nothing.
    for (int round = 0; round < 2; round++)
        EXPECT_EQ(0, CaughtCode([] {
                      WinX_UnregistFolderVerb("tsyidx");
                      WinX_UnregistShellNew("tsy");
                      WinX_UnregistUninstall("Tessaly");
                  }));
    ExpectValues({{cr, "Directory\\shell\\tsyidx", nullptr, "(missing)"},
                  {cr, ".tsy\\ShellNew", nullptr, "(missing)"},
                  {lm, uninstall, nullptr, "(missing)"}},
                 "removed");
}

// The uninstall runs in a folder of its own and restores the current folder.
class WinXUninstallTest : public WinXTest {
   protected:
    void SetUp() override {
        WinXTest::SetUp();
        Fs_GetCwd(cwd_, sizeof cwd_);
        mkdir((env_.dir().path() + "/win").c_str(), 0755);
        mkdir((env_.dir().path() + "/temp").c_str(), 0755);
        setenv("windir", (env_.dir().path() + "/win").c_str(), 1);
        setenv("TEMP", (env_.dir().path() + "/temp").c_str(), 1);
        script_ = Fs_FromNative(env_.dir().path() + "/temp") + "\\uninst.vbs";
    }
    void TearDown() override {
        Fs_SetCwd(cwd_);
        WinXTest::TearDown();
    }
    char cwd_[1024];
    std::string script_;
};

TEST_F(WinXUninstallTest, TheScriptIsWrittenByteForByteAndRunByTheScriptHost) {
    std::string rec = env_.Recorder(env_.dir().path() + "/win/WScript.exe") + ".rec";
    int result = 0;
    EXPECT_EQ(0, CaughtCode([&] { result = WinX_RemoveProgramFolder("\\opt\\Tessaly \"1\""); }));
    EXPECT_GT(result, 31);
    std::string want =
        "Set fs = CreateObject( \"Scripting.FileSystemObject\" )\r\n"
        "On Error Resume Next\r\n"
        "Do\r\n"
        "  Err.Clear\r\n"
        "  fs.DeleteFolder \"\\opt\\Tessaly \"\"1\"\"\", True\r\n"
        "Loop While Err.Number = 70 \r\n"
        "MsgBox \"" +
        Sjis(u8"アンインストールが完了しました。") + "\"\r\nfs.DeleteFile \"" + script_ +
        "\", True\r\n";
    EXPECT_EQ(want, ReadFile(Fs_ToNative(script_)));
    EXPECT_EQ(env_.dir().path() + "/win\n" + Fs_ToNative(script_) + "\n", WaitForFile(rec));
    char now[1024];
    Fs_GetCwd(now, sizeof now);
    EXPECT_EQ(Fs_FromNative(env_.dir().path() + "/win"), now);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(WinXUninstallTest, APlantedLinkAtTheScriptNameIsNotFollowed) {
    env_.Recorder(env_.dir().path() + "/win/WScript.exe");
    std::string victim = env_.dir().Write("victim.txt", "keep me");
    ASSERT_EQ(0, symlink(victim.c_str(), Fs_ToNative(script_).c_str()));
    EXPECT_EQ(FileX_Err_CannotWriteOpen.code,
              CaughtCode([] { WinX_RemoveProgramFolder("\\opt\\Tessaly"); }));
    EXPECT_EQ("keep me", ReadFile(victim));
    EXPECT_EQ(0u, ScratchUsed());
}

TEST_F(WinXUninstallTest, WithoutAScriptHostOrTempTheFolderIsShown) {
    std::string rec = env_.Recorder("xdg-open") + ".rec";
    const struct {
        const char* label;
        bool wscript;
        bool temp;
    } cases[] = {{"no WScript.exe", false, true}, {"TEMP unset", true, false}};
    for (const auto& c : cases) {
        unlink(rec.c_str());
        boxes_.boxes.clear();
        if (c.wscript) env_.Recorder(env_.dir().path() + "/win/WScript.exe");
        if (!c.temp) unsetenv("TEMP");
        int result = 0;
        EXPECT_EQ(0, CaughtCode([&] { result = WinX_RemoveProgramFolder("\\opt\\Tessaly\\"); }));
        EXPECT_GT(result, 31) << c.label;
        ASSERT_EQ(1u, boxes_.boxes.size()) << c.label;
        EXPECT_EQ(Sjis(u8"アンインストール完了"), boxes_.boxes[0].title);
        EXPECT_EQ(Sjis(u8"アンインストールが完了しました。\r\n\r\nただし、実行ファイルのある"
                       u8"（次に表示される）フォルダは、手動で削除してください。"),
                  boxes_.boxes[0].text);
        EXPECT_EQ(MsgBox_OK, boxes_.boxes[0].buttons);
        EXPECT_EQ("/opt/Tessaly/\n", Args(rec)) << c.label;
        EXPECT_EQ("(missing)", ReadFile(Fs_ToNative(script_))) << c.label;
    }
}

}  // namespace
