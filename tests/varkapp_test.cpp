// vark.ini: the default file, the readers and the rewrite of PrevURL.

#include "app/varkapp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "components/bigstack.h"
#include "platform/fs.h"
#include "support/testsupport.h"

namespace {

class VarkIniTest : public LibraryTest {
   protected:
    std::string Ini() const { return dir_.inside() + "\\vark.ini"; }
    std::string Bytes() const { return dir_.Read("vark.ini"); }
    static std::string File(const std::string& app, const std::string& defaultKwf,
                            const std::string& prevUrl) {
        return "[main] \r\nApplication = " + app +
               "\r\nVersion = 101\r\nDefaultKwf = " + defaultKwf + "\r\nPrevURL = " + prevUrl +
               "\r\n \r\n";
    }
    // The names in the folder other than vark.ini and what the test made:
    // a temporary file left behind shows here.
    std::string Leftovers() const {
        std::string names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
            std::string name = e.path().filename().string();
            if (name != "vark.ini" && name != "kept") names += name + " ";
        }
        return names;
    }
    TempDir dir_;
};

// The default file, and a rewrite of PrevURL (which makes the default file
// first when there is none) keeping the other values byte for byte.
TEST_F(VarkIniTest, WritesKeepTheOtherValuesAndTheReadersGiveThemBack) {
    const struct {
        const char* name;
        bool exists;
        std::string app, defaultKwf;
        const char* url;  // nullptr: the default file is written
    } cases[] = {
        {"default file", false, "Tessaly!", "", nullptr},
        {"no file yet", false, "Tessaly!", "", "http://new/page.htm"},
        {"hand-set DefaultKwf with a 0x5C trail byte", true, "Tessaly!", Sjis(u8"data\\表\\x.kwf"),
         "http://new/page.htm"},
        {"another application's marker", true, "Vark!", "a.kwf", "http://new/page.htm"},
        {"DefaultKwf of 240 bytes", true, "Tessaly!", std::string(240, 'k'), "http://new/"},
    };
    for (const auto& c : cases) {
        Fs_Remove(Ini().c_str());
        if (c.exists) dir_.Write("vark.ini", File(c.app, c.defaultKwf, "http://old/"));
        if (c.url)
            EXPECT_TRUE(VarkIni_WritePrevURL(Ini().c_str(), c.url)) << c.name;
        else
            VarkIni_WriteDefault(Ini().c_str());
        EXPECT_EQ(Bytes(), File(c.app, c.defaultKwf, c.url ? c.url : "")) << c.name;
        char kwf[260] = "x", url[512] = "x";
        VarkIni_ReadDefaultKwf(Ini().c_str(), kwf);
        VarkIni_ReadPrevURL(Ini().c_str(), url);
        EXPECT_EQ(std::string(kwf), c.defaultKwf) << c.name;
        EXPECT_STREQ(url, c.url ? c.url : "") << c.name;
        EXPECT_EQ(Leftovers(), "") << c.name;
        EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem) << "scratch released: " << c.name;
    }
}

// A rewrite that would cut DefaultKwf or PrevURL is refused; a vark.ini
// its owner may not write is refused as opening it for writing is; a
// temporary file that cannot be made or put in place reports it. Each time
// the old file stays and nothing is left beside it.
const char* g_failingOp = "";
int FailOp(const char* op, const char*) {
    return strcmp(op, g_failingOp) == 0 ? EIO : 0;
}

TEST_F(VarkIniTest, ARefusedOrFailedRewriteKeepsTheOldFile) {
    const struct {
        const char* name;
        std::string defaultKwf, url;
        const char* fault;  // a file-system operation that fails, or ""
        unsigned mode;
        int code;  // 0: refused without a report
    } cases[] = {
        {"DefaultKwf of 300 bytes", std::string(300, 'k'), "http://new/", "", 0644, 0},
        {"PrevURL of 512 bytes", "a.kwf", std::string(512, 'u'), "", 0644, 0},
        {"mode 444", "a.kwf", "http://new/", "", 0444, FileX_Err_CannotWriteOpen.code},
        {"temporary file cannot be made", "a.kwf", "http://new/", "create", 0644,
         FileX_Err_CannotWriteOpen.code},
        {"rename fails", "a.kwf", "http://new/", "rename", 0644, FileX_Err_CannotWrite.code},
    };
    for (const auto& c : cases) {
        const std::string ini =
            dir_.Write("vark.ini", File("Tessaly!", c.defaultKwf, "http://old/"));
        chmod(ini.c_str(), c.mode);
        const std::string before = Bytes();
        g_failingOp = c.fault;
        Fs_SetFaultHook(FailOp);
        bool written = true;
        EXPECT_EQ(CaughtCode([&] { written = VarkIni_WritePrevURL(Ini().c_str(), c.url.c_str()); }),
                  c.code)
            << c.name;
        Fs_SetFaultHook(nullptr);
        if (!c.code) {
            EXPECT_FALSE(written) << c.name;
        }
        EXPECT_EQ(Bytes(), before) << c.name;
        EXPECT_EQ(Leftovers(), "") << c.name;
        struct stat st;
        ASSERT_EQ(stat(ini.c_str(), &st), 0) << c.name;
        EXPECT_EQ(st.st_mode & 07777, c.mode) << c.name;
        chmod(ini.c_str(), 0644);
    }
}

// A rewrite keeps what the user set on the file: its mode, its group, and a
// link to a file kept elsewhere, whose target takes the new text.
TEST_F(VarkIniTest, RewriteKeepsModeGroupAndLink) {
    namespace fs = std::filesystem;
    const std::string ini = dir_.Write("vark.ini", File("Tessaly!", "a.kwf", "http://old/"));
    ASSERT_EQ(chmod(ini.c_str(), 0600), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(ini.c_str(), static_cast<uid_t>(-1), 4321), 0);
    }
    ASSERT_TRUE(VarkIni_WritePrevURL(Ini().c_str(), "http://new/"));
    struct stat st;
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(st.st_gid, 4321u);
    }
    EXPECT_EQ(Bytes(), File("Tessaly!", "a.kwf", "http://new/"));

    TempDir elsewhere;
    const std::string target = elsewhere.Write("kept", File("Tessaly!", "b.kwf", "http://old/"));
    fs::remove(ini);
    fs::create_symlink(target, ini);
    ASSERT_TRUE(VarkIni_WritePrevURL(Ini().c_str(), "http://linked/"));
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_EQ(fs::read_symlink(ini).string(), target);
    EXPECT_EQ(ReadFile(target), File("Tessaly!", "b.kwf", "http://linked/"));
    EXPECT_EQ(Leftovers(), "");
}

// Every PrevURL the writer takes comes back whole, also when it is written
// quoted with every byte doubled; the first refused length is 512 (above).
// A longer value written by hand comes back cut at 511 bytes.
TEST_F(VarkIniTest, PrevUrlReadsBackWhatWasWritten) {
    const std::string cases[] = {
        std::string(249, 'u'),
        std::string(250, 'u'),
        "http://a/?" + std::string(501, 'u'),
        std::string(511, '"'),
        "\"x\", " + std::string(503, ','),
    };
    for (const std::string& url : cases) {
        ASSERT_EQ(url.size() <= 511, true);
        Fs_Remove(Ini().c_str());
        ASSERT_TRUE(VarkIni_WritePrevURL(Ini().c_str(), url.c_str())) << url.size();
        char out[512];
        memset(out, 'x', sizeof out);
        VarkIni_ReadPrevURL(Ini().c_str(), out);
        EXPECT_EQ(std::string(out), url) << url.size();
    }
    dir_.Write("vark.ini", File("Tessaly!", "", std::string(600, 'u')));
    char url[512];
    VarkIni_ReadPrevURL(Ini().c_str(), url);
    EXPECT_EQ(std::string(url), std::string(511, 'u'));
}

}  // namespace
