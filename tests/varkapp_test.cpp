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
    void Write(const std::string& defaultKwf, const std::string& prevUrl,
               const std::string& app = "Tessaly!") {
        dir_.Write("vark.ini", "[main] \r\nApplication = " + app +
                                   "\r\nVersion = 101\r\nDefaultKwf = " + defaultKwf +
                                   "\r\nPrevURL = " + prevUrl + "\r\n \r\n");
    }
    TempDir dir_;
};

TEST_F(VarkIniTest, DefaultFileAndItsReaders) {
    VarkIni_WriteDefault(Ini().c_str());
    EXPECT_EQ(Bytes(),
              "[main] \r\nApplication = Tessaly!\r\nVersion = 101\r\nDefaultKwf = \r\n"
              "PrevURL = \r\n \r\n");
    EXPECT_EQ(ReadFile(dir_.path() + "/vark.ini.tmp"), "(missing)");
    char kwf[260] = "x", url[512] = "x";
    VarkIni_ReadDefaultKwf(Ini().c_str(), kwf);
    VarkIni_ReadPrevURL(Ini().c_str(), url);
    EXPECT_STREQ(kwf, "");
    EXPECT_STREQ(url, "");
    EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem) << "scratch released";
}

TEST_F(VarkIniTest, WritePrevUrlCreatesTheFileAndKeepsTheOtherValues) {
    struct Case {
        const char* name;
        bool exists;
        std::string app, defaultKwf;
    };
    const Case cases[] = {
        {"no file yet", false, "Tessaly!", ""},
        {"hand-set DefaultKwf with a 0x5C trail byte", true, "Tessaly!", Sjis(u8"data\\表\\x.kwf")},
        {"another application's marker", true, "Vark!", "a.kwf"},
        {"DefaultKwf of 240 bytes", true, "Tessaly!", std::string(240, 'k')},
    };
    for (const Case& c : cases) {
        Fs_Remove(Ini().c_str());
        if (c.exists) Write(c.defaultKwf, "http://old/", c.app);
        EXPECT_TRUE(VarkIni_WritePrevURL(Ini().c_str(), "http://new/page.htm")) << c.name;
        EXPECT_EQ(Bytes(), "[main] \r\nApplication = " + c.app +
                               "\r\nVersion = 101\r\nDefaultKwf = " + c.defaultKwf +
                               "\r\nPrevURL = http://new/page.htm\r\n \r\n")
            << c.name;
        char kwf[260], url[512];
        VarkIni_ReadDefaultKwf(Ini().c_str(), kwf);
        VarkIni_ReadPrevURL(Ini().c_str(), url);
        EXPECT_EQ(std::string(kwf), c.defaultKwf) << c.name;
        EXPECT_STREQ(url, "http://new/page.htm") << c.name;
        EXPECT_EQ(ReadFile(dir_.path() + "/vark.ini.tmp"), "(missing)") << c.name;
    }
}

TEST_F(VarkIniTest, DefaultKwfThatARewriteWouldCutIsLeftAlone) {
    const std::string longKwf(300, 'k');
    Write(longKwf, "http://old/");
    const std::string before = Bytes();
    EXPECT_FALSE(VarkIni_WritePrevURL(Ini().c_str(), "http://new/"));
    EXPECT_EQ(Bytes(), before);
}

TEST_F(VarkIniTest, FailedRewriteKeepsTheOldFile) {
    Write("a.kwf", "http://old/");
    const std::string before = Bytes();
    dir_.Write("vark.ini.tmp/blocker", "");  // the temporary file's name is taken by a folder
    EXPECT_EQ(CaughtCode([&] { VarkIni_WritePrevURL(Ini().c_str(), "http://new/"); }),
              FileX_Err_CannotWriteOpen.code);
    EXPECT_EQ(Bytes(), before);
}

TEST_F(VarkIniTest, LongPrevUrlComesBackCutAt255) {
    Write("", std::string(300, 'u'));
    char url[512];
    VarkIni_ReadPrevURL(Ini().c_str(), url);
    EXPECT_EQ(std::string(url), std::string(255, 'u').substr(0, strlen(url)));
    EXPECT_LE(strlen(url), 255u);
}

}  // namespace
