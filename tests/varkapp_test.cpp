// vark.ini: the default file, the readers and the rewrite of PrevURL.

#include "app/varkapp.h"

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
        EXPECT_EQ(ReadFile(dir_.path() + "/vark.ini.tmp"), "(missing)") << c.name;
        EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem) << "scratch released: " << c.name;
    }
}

// A rewrite that would cut DefaultKwf is refused; one whose temporary file
// cannot be made reports it. Either way the old file stays.
TEST_F(VarkIniTest, ARefusedOrFailedRewriteKeepsTheOldFile) {
    const struct {
        const char* name;
        std::string defaultKwf;
        bool blockTemp;
        int code;
    } cases[] = {
        {"DefaultKwf of 300 bytes", std::string(300, 'k'), false, 0},
        {"temporary file's name taken by a folder", "a.kwf", true, FileX_Err_CannotWriteOpen.code},
    };
    for (const auto& c : cases) {
        dir_.Write("vark.ini", File("Tessaly!", c.defaultKwf, "http://old/"));
        if (c.blockTemp) dir_.Write("vark.ini.tmp/blocker", "");
        const std::string before = Bytes();
        bool written = true;
        EXPECT_EQ(CaughtCode([&] { written = VarkIni_WritePrevURL(Ini().c_str(), "http://new/"); }),
                  c.code)
            << c.name;
        if (!c.code) {
            EXPECT_FALSE(written) << c.name;
        }
        EXPECT_EQ(Bytes(), before) << c.name;
    }
}

TEST_F(VarkIniTest, LongPrevUrlComesBackCutAt255) {
    dir_.Write("vark.ini", File("Tessaly!", "", std::string(300, 'u')));
    char url[512];
    VarkIni_ReadPrevURL(Ini().c_str(), url);
    EXPECT_EQ(std::string(url), std::string(255, 'u').substr(0, strlen(url)));
    EXPECT_LE(strlen(url), 255u);
}

}  // namespace
