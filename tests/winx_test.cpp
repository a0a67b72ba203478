#include "components/winx.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "components/bigstack.h"
#include "platform/fs.h"
#include "support/fakebrowser.h"
#include "support/testsupport.h"

namespace {

using Strings = std::vector<std::string>;

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
    // A value as text ("%02X" bytes for a binary one), or "(missing)".
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
            snprintf(b, sizeof b, "%02X", buf[i]);
            hex += (i ? " " : "") + std::string(b);
        }
        return hex;
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

    DesktopEnv env_;
};

TEST_F(WinXTest, ReadAssocReadsTheSeededHttpRegistration) {
    WinX_Assoc assoc;
    EXPECT_EQ(0, CaughtCode([&] { WinX_ReadAssoc(&assoc, "http"); }));
    EXPECT_STREQ("xdg-open \"%1\"", assoc.command);
    EXPECT_STREQ("Launcher", assoc.application);
    EXPECT_STREQ("WWW_OpenURL", assoc.topic);
    EXPECT_STREQ("%1", assoc.ddeexec);
    // A protocol without a registration is reported with the missing key's code.
    EXPECT_EQ(102, CaughtCode([&] { WinX_ReadAssoc(&assoc, "gopher"); }));
    EXPECT_NE(std::string::npos, LastText().find("allcode = 00000002 (Facility=0, Code=2)"))
        << LastText();
}

TEST_F(WinXTest, ProbeTellsWhetherTheBrowserAnswers) {
    FakeBrowser fake;
    WinX_Assoc assoc = {"", "IExplore", "WWW_OpenURL", ""};
    EXPECT_FALSE(WinX_DdeProbe(&assoc)) << "not running";
    ASSERT_TRUE(fake.Start());
    EXPECT_TRUE(WinX_DdeProbe(&assoc)) << "running";
    fake.refuse = true;
    EXPECT_FALSE(WinX_DdeProbe(&assoc)) << "refusing";
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
    char url[512];
    char reply[512];
    WinX_DdeRequest(&assoc, "WWW_GetWindowInfo", reply, sizeof reply);
    EXPECT_STREQ("http://example.jp/now.htm", WinX_ReplyURL(reply, url, sizeof url));
    EXPECT_EQ(0u, Dde_LiveHandles());
}

TEST_F(WinXTest, ReplyURLTakesTheFirstQuotedField) {
    const struct {
        const char* reply;
        const char* want;
    } cases[] = {
        {"\"http://a/\",\"t\"", "http://a/"},
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
    EXPECT_EQ(511u, opened[1].size());
    EXPECT_EQ("\"" + longUrl.substr(0, 510), opened[1]);
    EXPECT_EQ(0u, BigStack_Sys()->sp - BigStack_Sys()->mem) << "scratch released";
}

TEST_F(WinXTest, ABrowserThatIsNotRunningIsStartedAndAnswers) {
    SetHttp(FakeCommand(), "IExplore", "WWW_GetWindowInfo", "%1");
    WinX_Assoc assoc;
    WinX_ReadAssoc(&assoc, "http");
    EXPECT_FALSE(WinX_DdeProbe(&assoc));
    char reply[512] = "";
    EXPECT_EQ(0, CaughtCode([&] { WinX_DdeRequest(&assoc, nullptr, reply, sizeof reply); }));
    EXPECT_STREQ("\"http://example.jp/now.htm\",\"Example\",\"\"", reply);
    // The started command line keeps its "%1".
    EXPECT_EQ(0u, ReadFile(Record()).find("ARGS [%1]\n")) << ReadFile(Record());
    EXPECT_TRUE(WinX_DdeProbe(&assoc));
}

TEST_F(WinXTest, OpenURLStartsABrowserThatIsNotRunning) {
    SetHttp(FakeCommand(), "IExplore", "WWW_OpenURL", "\"%1\",,-1");
    EXPECT_EQ(0, CaughtCode([&] { WinX_OpenURL("\\home\\u\\out.htm"); }));
    std::string rec = WaitForText(Record(), "OPEN ");
    EXPECT_EQ("ARGS [%1]\nOPEN \"\\home\\u\\out.htm\",,-1\n", rec);
}

TEST_F(WinXTest, ABrowserThatNeverAnswersFailsTheRequestOnlyAtItsLine) {
    SetHttp(FakeCommand("--never "), "IExplore", "WWW_GetWindowInfo", "%1");
    WinX_SetStartWait(200);
    WinX_Assoc assoc;
    WinX_ReadAssoc(&assoc, "http");
    char reply[512] = "untouched";
    EXPECT_EQ(102, CaughtCode([&] { WinX_DdeRequest(&assoc, nullptr, reply, sizeof reply); }));
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

TEST_F(WinXTest, BadServiceNamesAreReportedAtTheHandleLine) {
    const std::string names[] = {std::string(300, 's')};
    for (const std::string& n : names) {
        EXPECT_EQ(102, CaughtCode([&] { WinX_DdeCanConnect(n.c_str(), "T"); }));
        EXPECT_NE(std::string::npos, LastText().find("DMLERR_INVALIDPARAMETER in winx.cpp:909"))
            << LastText();
        EXPECT_EQ(102, CaughtCode([&] { WinX_DdeExecute("none", n.c_str(), "T", "x", 1); }));
        EXPECT_NE(std::string::npos, LastText().find("in winx.cpp:978")) << LastText();
        char reply[8];
        EXPECT_EQ(102, CaughtCode([&] { WinX_DdeRequestText("none", n.c_str(), "T", reply, 8); }));
        EXPECT_NE(std::string::npos, LastText().find("in winx.cpp:1048")) << LastText();
    }
    // A name that climbs folders only names a socket nobody listens on.
    EXPECT_FALSE(WinX_DdeCanConnect("../../../tmp/x", "../y"));
    EXPECT_EQ(0u, Dde_LiveHandles());
}

TEST_F(WinXTest, DdeErrorsAreNamed) {
    const char* names[] = {"DMLERR_ADVACKTIMEOUT",       "DMLERR_BUSY",
                           "DMLERR_DATAACKTIMEOUT",      "DMLERR_NOT_INITIALIZED",
                           "DMLERR_DLL_USAGE",           "DMLERR_EXECACKTIMEOUT",
                           "DMLERR_INVALIDPARAMETER",    "DMLERR_LOW_MEMORY",
                           "DMLERR_MEMORY_ERROR",        "DMLERR_NOTPROCESSED",
                           "DMLERR_NO_CONV_ESTABLISHED", "DMLERR_POKEACKTIMEOUT",
                           "DMLERR_POSTMSG_FAILED",      "DMLERR_REENTRANCY",
                           "DMLERR_SERVER_DIED",         "DMLERR_SYS_ERROR",
                           "DMLERR_UNADVACKTIMEOUT",     "DMLERR_UNFOUND_QUEUE_ID"};
    for (UINT code = 0x4000; code <= 0x4011; code++)
        EXPECT_STREQ(names[code - 0x4000], WinX_DdeErrorName(code)) << code;
    for (UINT code : {0u, 0x3FFFu, 0x4012u, 0xFFFFFFFFu})
        EXPECT_STREQ("unknown", WinX_DdeErrorName(code)) << code;
    EXPECT_EQ(102, CaughtCode([] { WinX_DdeError(12345, "caller.cpp", 77); }));
    EXPECT_NE(std::string::npos,
              LastText().find("WinX: DDE Error : DMLERR_NOT_INITIALIZED in caller.cpp:77"));
    EXPECT_EQ(reinterpret_cast<HDDEDATA>(uintptr_t{0x8000}),
              WinX_DdeCallback(XTYP_ADVDATA, 0, nullptr, nullptr, nullptr, nullptr, 0, 0));
    for (UINT type : {XTYP_REQUEST, XTYP_EXECUTE, 0u})
        EXPECT_EQ(nullptr, WinX_DdeCallback(type, 0, nullptr, nullptr, nullptr, nullptr, 0, 0));
}

TEST_F(WinXTest, WithTheSeededStorePagesGoToXdgOpen) {
    std::string rec = env_.Recorder("xdg-open") + ".rec";
    const struct {
        const char* url;
        std::string want;
    } cases[] = {
        {"\\home\\u\\out.htm", "/home/u/out.htm"},
        {"http://example.jp/a.htm?q=1", "http://example.jp/a.htm?q=1"},
        {"\\home\\u\\\x95\x5C.htm", U8(u8"/home/u/表.htm")},
    };
    for (const auto& c : cases) {
        unlink(rec.c_str());
        EXPECT_EQ(0, CaughtCode([&] { WinX_OpenURL(c.url); })) << c.url;
        std::string got = WaitForFile(rec);
        EXPECT_EQ(c.want + "\n", got.substr(got.find('\n') + 1)) << c.url;
    }
}

TEST_F(WinXTest, EnvironmentAndShellFolders) {
    setenv("HOME", env_.dir().path().c_str(), 1);
    env_.dir().Write("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desk\"\n");
    std::string home = Fs_FromNative(env_.dir().path());
    EXPECT_EQ(home + "\\Desk", WinX_GetDesktopFolder());
    EXPECT_EQ(home, WinX_GetPersonalFolder());
    EXPECT_EQ(home, WinX_GetTemplatesFolder());
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
    // An extension without a key gets an "<ext>file" type.
    EXPECT_EQ(0, CaughtCode([] {
                  WinX_RegistFileType("tsy", "Tessaly data", "open", "&Open", "tsy.exe \"%1\"",
                                      "\\opt\\tsy.ico", 2, true, false);
              }));
    EXPECT_EQ("tsyfile", Get(HKEY_CLASSES_ROOT, ".tsy"));
    EXPECT_EQ("Tessaly data", Get(HKEY_CLASSES_ROOT, "tsyfile"));
    EXPECT_EQ("00 00 01 00", Get(HKEY_CLASSES_ROOT, "tsyfile", "EditFlags"));
    EXPECT_EQ("\\opt\\tsy.ico,2", Get(HKEY_CLASSES_ROOT, "tsyfile\\DefaultIcon"));
    EXPECT_EQ("open", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell"));
    EXPECT_EQ("&Open", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell\\open"));
    EXPECT_EQ("01 00 00 00", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell\\open", "EditFlags"));
    EXPECT_EQ("tsy.exe \"%1\"", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell\\open\\command"));
    // An existing type is used; no description, no icon, not default,
    // editable: four zero bytes.
    Put(HKEY_CLASSES_ROOT, ".htm", nullptr, "htmlfile");
    WinX_RegistFileType("htm", nullptr, "edit", "Edit", "ed %1", nullptr, -1, false, true);
    EXPECT_EQ("htmlfile", Get(HKEY_CLASSES_ROOT, ".htm"));
    EXPECT_EQ("(no value)", Get(HKEY_CLASSES_ROOT, "htmlfile"));
    EXPECT_EQ("00 00 00 00", Get(HKEY_CLASSES_ROOT, "htmlfile", "EditFlags"));
    EXPECT_FALSE(Exists("htmlfile\\DefaultIcon"));
    EXPECT_EQ("(no value)", Get(HKEY_CLASSES_ROOT, "htmlfile\\shell"));
    EXPECT_EQ("ed %1", Get(HKEY_CLASSES_ROOT, "htmlfile\\shell\\edit\\command"));
    // An empty type name counts as none.
    Put(HKEY_CLASSES_ROOT, ".emp", nullptr, "");
    WinX_RegistFileType("emp", nullptr, "open", "Open", "x", nullptr, -1, false, false);
    EXPECT_EQ("empfile", Get(HKEY_CLASSES_ROOT, ".emp"));
    EXPECT_EQ("x", Get(HKEY_CLASSES_ROOT, "empfile\\shell\\open\\command"));
}

TEST_F(WinXTest, UnregistFileTypeRemovesTheLastVerbWithItsType) {
    WinX_RegistFileType("tsy", "T", "open", "Open", "a %1", "i.ico", 0, true, false);
    WinX_RegistFileType("tsy", nullptr, "print", "Print", "p %1", nullptr, -1, true, false);
    EXPECT_EQ("print", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell"));
    // One of two verbs: both keys stay, the default verb is "open" again.
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("tsy", "print"); }));
    EXPECT_FALSE(Exists("tsyfile\\shell\\print"));
    EXPECT_EQ("open", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell"));
    EXPECT_EQ("tsyfile", Get(HKEY_CLASSES_ROOT, ".tsy"));
    // A verb that is not there: nothing changes.
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("tsy", "print"); }));
    EXPECT_EQ("a %1", Get(HKEY_CLASSES_ROOT, "tsyfile\\shell\\open\\command"));
    // The last verb: the type and the extension go.
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("tsy", "open"); }));
    for (const char* key : {"tsyfile\\shell", "tsyfile\\DefaultIcon", "tsyfile", ".tsy"})
        EXPECT_FALSE(Exists(key)) << key;
    // An extension without a key: nothing.
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("none", "open"); }));
    EXPECT_EQ(0u, BigStack_Sys()->sp - BigStack_Sys()->mem);
}

TEST_F(WinXTest, AnEmptyTypeNameNeverRemovesTheClassesRoot) {
    Put(HKEY_CLASSES_ROOT, ".bad", nullptr, "");
    Put(HKEY_CLASSES_ROOT, "shell\\open\\command", nullptr, "a root-level verb");
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFileType("bad", "open"); }));
    EXPECT_EQ("a root-level verb", Get(HKEY_CLASSES_ROOT, "shell\\open\\command"));
    EXPECT_EQ("", Get(HKEY_CLASSES_ROOT, ".bad"));
    WinX_Assoc assoc;
    EXPECT_EQ(0, CaughtCode([&] { WinX_ReadAssoc(&assoc, "http"); }));
    EXPECT_STREQ("Launcher", assoc.application);
}

TEST_F(WinXTest, NamesThatDoNotFitAreRefusedNotCut) {
    std::string longType(2040, 't');
    Put(HKEY_CLASSES_ROOT, ".lng", nullptr, longType);
    EXPECT_EQ(102, CaughtCode([] {
                  WinX_RegistFileType("lng", nullptr, "open", "Open", "c", nullptr, -1, false,
                                      false);
              }));
    EXPECT_NE(std::string::npos, LastText().find("key name too long")) << LastText();
    std::string file = ReadFile(env_.Registry());
    EXPECT_EQ(std::string::npos, file.find("tttt\\shell")) << "no key under a cut name";
    // A type name longer than its buffer is refused, and the extension keeps it.
    std::string tooLong(2100, 'q');
    Put(HKEY_CLASSES_ROOT, ".lng2", nullptr, tooLong);
    EXPECT_EQ(102, CaughtCode([] {
                  WinX_RegistFileType("lng2", nullptr, "open", "Open", "c", nullptr, -1, false,
                                      false);
              }));
    EXPECT_EQ(tooLong, Get(HKEY_CLASSES_ROOT, ".lng2"));
    EXPECT_FALSE(Exists("lng2file"));
    std::string longProtocol(2030, 'p');
    WinX_Assoc assoc;
    EXPECT_EQ(102, CaughtCode([&] { WinX_ReadAssoc(&assoc, longProtocol.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("key name too long")) << LastText();
    EXPECT_EQ(0u, BigStack_Sys()->sp - BigStack_Sys()->mem);
}

TEST_F(WinXTest, OpenWithAssocBuildsTheCommandWithThePath) {
    std::string rec = env_.Recorder("viewer") + ".rec";
    std::string viewer = Fs_FromNative(env_.Bin() + "/viewer");
    const struct {
        std::string command;
        Strings want;
    } cases[] = {
        {viewer + " --flag", {"--flag", "/tmp/x/a.tsy"}},
        {viewer + " \"%1\" %1", {"/tmp/x/a.tsy", "/tmp/x/a.tsy"}},
    };
    WinX_RegistFileType("tsy", nullptr, "open", "Open", "x", nullptr, -1, true, false);
    for (const auto& c : cases) {
        Put(HKEY_CLASSES_ROOT, "tsyfile\\shell\\open\\command", nullptr, c.command);
        unlink(rec.c_str());
        int result = 0;
        EXPECT_EQ(0, CaughtCode([&] { result = WinX_OpenWithAssoc("\\tmp\\x\\a.tsy"); }));
        EXPECT_GT(result, 31);
        std::string got = WaitForFile(rec);
        std::string want;
        for (const std::string& a : c.want) want += a + "\n";
        EXPECT_EQ(want, got.substr(got.find('\n') + 1)) << c.command;
    }
    // Without a default verb of its own, the first verb of "*\shell".
    Put(HKEY_CLASSES_ROOT, "tsyfile\\shell", nullptr, "");
    Put(HKEY_CLASSES_ROOT, "*\\shell\\view\\command", nullptr, viewer + " star");
    unlink(rec.c_str());
    EXPECT_GT(WinX_OpenWithAssoc("\\tmp\\x\\a.tsy"), 31);
    std::string got = WaitForFile(rec);
    EXPECT_EQ("star\n/tmp/x/a.tsy\n", got.substr(got.find('\n') + 1));
    // A path that would pass the 256-byte command is refused, not cut.
    Put(HKEY_CLASSES_ROOT, "tsyfile\\shell", nullptr, "open");
    std::string longPath = "\\tmp\\" + std::string(250, 'p') + ".tsy";
    EXPECT_EQ(102, CaughtCode([&] { WinX_OpenWithAssoc(longPath.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("command too long")) << LastText();
}

TEST_F(WinXTest, FolderVerbsTemplatesAndUninstallEntries) {
    setenv("HOME", env_.dir().path().c_str(), 1);  // the seeded Templates folder
    WinX_RegistFolderVerb("tsyidx", "Index with Tessaly", "tsy \"%1\"", true);
    EXPECT_EQ("tsyidx", Get(HKEY_CLASSES_ROOT, "Directory\\shell"));
    EXPECT_EQ("Index with Tessaly", Get(HKEY_CLASSES_ROOT, "Directory\\shell\\tsyidx"));
    EXPECT_EQ("01 00 00 00", Get(HKEY_CLASSES_ROOT, "Directory\\shell\\tsyidx", "EditFlags"));
    EXPECT_EQ("tsy \"%1\"", Get(HKEY_CLASSES_ROOT, "Directory\\shell\\tsyidx\\command"));
    WinX_UnregistFolderVerb("tsyidx");
    EXPECT_FALSE(Exists("Directory\\shell\\tsyidx"));
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistFolderVerb("tsyidx"); }));

    EXPECT_EQ(102, CaughtCode([] { WinX_RegistShellNew("tsy", "blank.tsy"); }));
    EXPECT_NE(std::string::npos, LastText().find("file not found in ShellNew Folder"));
    env_.dir().Write("blank.tsy", "");
    WinX_RegistShellNew("tsy", "blank.tsy");
    EXPECT_EQ("blank.tsy", Get(HKEY_CLASSES_ROOT, ".tsy\\ShellNew", "FileName"));
    WinX_RegistShellNew("txt", nullptr);
    EXPECT_EQ("", Get(HKEY_CLASSES_ROOT, ".txt\\ShellNew", "NullFile"));
    WinX_UnregistShellNew("tsy");
    EXPECT_FALSE(Exists(".tsy\\ShellNew"));
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistShellNew("tsy"); }));

    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaly";
    WinX_RegistUninstall("Tessaly", "Tessaly!", "\\opt\\tessaly\\uninst");
    EXPECT_EQ("Tessaly!", Get(HKEY_LOCAL_MACHINE, key, "DisplayName"));
    EXPECT_EQ("\\opt\\tessaly\\uninst", Get(HKEY_LOCAL_MACHINE, key, "UninstallString"));
    WinX_UnregistUninstall("Tessaly");
    EXPECT_EQ("(missing)", Get(HKEY_LOCAL_MACHINE, key));
    EXPECT_EQ(0, CaughtCode([] { WinX_UnregistUninstall("Tessaly"); }));
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
        winDir_ = Fs_FromNative(env_.dir().path() + "/win");
        script_ = Fs_FromNative(env_.dir().path() + "/temp") + "\\uninst.vbs";
    }
    void TearDown() override {
        Fs_SetCwd(cwd_);
        WinXTest::TearDown();
    }
    char cwd_[1024];
    std::string winDir_, script_;
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
        Sjis(u8"アンインストールが完了しました。") +
        "\"\r\n"
        "fs.DeleteFile \"" +
        script_ + "\", True\r\n";
    EXPECT_EQ(want, ReadFile(Fs_ToNative(script_)));
    EXPECT_EQ(env_.dir().path() + "/win\n" + Fs_ToNative(script_) + "\n", WaitForFile(rec));
    char now[1024];
    Fs_GetCwd(now, sizeof now);
    EXPECT_EQ(winDir_, now);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(WinXUninstallTest, APlantedLinkAtTheScriptNameIsNotFollowed) {
    env_.Recorder(env_.dir().path() + "/win/WScript.exe");
    std::string victim = env_.dir().Write("victim.txt", "keep me");
    ASSERT_EQ(0, symlink(victim.c_str(), Fs_ToNative(script_).c_str()));
    EXPECT_EQ(362, CaughtCode([] { WinX_RemoveProgramFolder("\\opt\\Tessaly"); }));
    EXPECT_EQ("keep me", ReadFile(victim));
    EXPECT_EQ(0u, BigStack_Sys()->sp - BigStack_Sys()->mem);
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
        std::string got = WaitForFile(rec);
        EXPECT_EQ("/opt/Tessaly/\n", got.substr(got.find('\n') + 1)) << c.label;
        EXPECT_EQ("(missing)", ReadFile(Fs_ToNative(script_))) << c.label;
    }
}

}  // namespace
