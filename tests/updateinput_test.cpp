// What the update dialog is given, checked without a window: the typed
// folder and database path, a dropped item, a file picked to name a folder.

#include "app/updateinput.h"

#include <sys/stat.h>

#include <cstring>
#include <string>

#include "app/varkapp.h"
#include "components/bigstack.h"
#include "platform/fs.h"
#include "support/testsupport.h"

namespace {

class UpdateInputTest : public LibraryTest {
   protected:
    void SetUp() override {
        LibraryTest::SetUp();
        // The program folder is the test's own folder.
        VarkApp_InitLibrary((dir_.inside() + "\\tessaly").c_str());
        dir_.Write("pages/a.htm", "");
        dir_.Write("db/keep", "");
    }
    // "@" at the start stands for the test folder (inside form).
    std::string At(const std::string& s) const {
        return !s.empty() && s[0] == '@' ? dir_.inside() + s.substr(1) : s;
    }
    // A folder whose inside path is exactly `length` bytes.
    std::string FolderOf(size_t length) const {
        std::string name = dir_.inside() + "\\";
        name += std::string(length - name.size(), 'f');
        mkdir(Fs_ToNative(name).c_str(), 0755);
        return name;
    }
    // A database path in the folder db whose length is exactly `length` bytes.
    std::string InDb(size_t length) const {
        std::string path = dir_.inside() + "\\db\\";
        return path + std::string(length - path.size(), 'k');
    }
    TempDir dir_;
};

// Each condition on its own, in the order the checks run; each limit at its
// last accepted and first refused length.
TEST_F(UpdateInputTest, CheckRefusesEachMistakeOnItsOwnAndTakesWhatFits) {
    const std::string base = dir_.inside() + "\\";  // the program folder, with its backslash
    const size_t room = 256 - base.size();          // a relative name that still fits when joined
    const struct Case {
        const char* name;
        std::string folder;
        std::string kwf;
        const char8_t* message;  // nullptr: accepted
        std::string wantFolder, wantKwf;
    } cases[] = {
        {"fine", "@\\pages", "@\\db\\x.kwf", nullptr, "@\\pages\\", "@\\db\\x.kwf"},
        {"a trailing backslash is not doubled", "@\\pages\\", "@\\db\\x.kwf", nullptr, "@\\pages\\",
         "@\\db\\x.kwf"},
        {"folder missing", "@\\nowhere", "@\\db\\x.kwf", u8"指定した調べる場所が存在しません", "",
         ""},
        {"folder is a file", "@\\pages\\a.htm", "@\\db\\x.kwf",
         u8"指定した調べる場所はフォルダではありません。", "", ""},
        {"folder of 258 bytes takes its backslash", FolderOf(258), "@\\db\\x.kwf", nullptr,
         FolderOf(258) + "\\", "@\\db\\x.kwf"},
        {"folder of 259 bytes does not", FolderOf(259), "@\\db\\x.kwf",
         u8"調べる場所のパスが長すぎます。", "", ""},
        {"relative name in the program folder", "@\\pages", "vark.kwf", nullptr, "@\\pages\\",
         "@\\vark.kwf"},
        {"relative name joined to 256 bytes", "@\\pages", std::string(room, 'k'), nullptr,
         "@\\pages\\", base + std::string(room, 'k')},
        {"relative name one byte over", "@\\pages", std::string(room + 1, 'k'),
         u8"データベースのパスが長すぎます。", "", ""},
        {"absolute path of 259 bytes", "@\\pages", InDb(259), nullptr, "@\\pages\\", InDb(259)},
        {"absolute path of 260 bytes", "@\\pages", InDb(260), u8"データベースのパスが長すぎます。",
         "", ""},
        {"database names a folder", "@\\pages", "@\\db",
         u8"データベースのパスがフォルダを指しています。", "", ""},
        {"database folder missing", "@\\pages", "@\\no\\x.kwf",
         u8"データベースを置くフォルダが存在しないか、書きこめません。", "", ""},
        {"database folder is a file", "@\\pages", "@\\pages\\a.htm\\x.kwf",
         u8"データベースを置くフォルダが存在しないか、書きこめません。", "", ""},
    };
    for (const Case& c : cases) {
        char folder[260] = "untouched", kwf[260] = "untouched";
        const char* message =
            UpdateInput_Check(At(c.folder).c_str(), At(c.kwf).c_str(), folder, kwf);
        if (c.message) {
            EXPECT_EQ(Utf8(message ? message : "(accepted)"), U8(c.message)) << c.name;
            EXPECT_STREQ(folder, "untouched") << c.name;
            EXPECT_STREQ(kwf, "untouched") << c.name;
        } else {
            EXPECT_EQ(message, nullptr) << c.name << ": " << Utf8(message ? message : "");
            EXPECT_EQ(std::string(folder), At(c.wantFolder)) << c.name;
            EXPECT_EQ(std::string(kwf), At(c.wantKwf)) << c.name;
        }
        EXPECT_EQ(BigStack_Sys()->sp, BigStack_Sys()->mem) << "scratch released: " << c.name;
    }
}

TEST_F(UpdateInputTest, DropTakesAFoldersOrAFilesFolderUpTo250Bytes) {
    const std::string longItem = FolderOf(250);
    const struct {
        const char* name;
        std::string item, folder, kwf;  // folder "": refused
    } cases[] = {
        {"a file gives its folder", "@\\pages\\a.htm", "@\\pages", "@\\pages\\vark.kwf"},
        {"a folder as it is", "@\\pages", "@\\pages", "@\\pages\\vark.kwf"},
        {"the root", "\\", "\\", "\\vark.kwf"},
        {"250 bytes still fit", longItem, longItem, longItem + "\\vark.kwf"},
        {"251 bytes are refused", longItem + "x", "", ""},
    };
    for (const auto& c : cases) {
        char folder[260] = "untouched", kwf[260] = "untouched";
        const char* message = UpdateInput_Drop(At(c.item).c_str(), folder, kwf);
        if (c.folder.empty()) {
            EXPECT_EQ(Utf8(message ? message : ""),
                      U8(u8"ドロップされたパスが長すぎます（250 バイトまで）。"))
                << c.name;
            EXPECT_STREQ(folder, "untouched") << c.name;
            EXPECT_STREQ(kwf, "untouched") << c.name;
            continue;
        }
        EXPECT_EQ(message, nullptr) << c.name;
        EXPECT_EQ(std::string(folder), At(c.folder)) << c.name;
        EXPECT_EQ(std::string(kwf), At(c.kwf)) << c.name;
    }
}

TEST_F(UpdateInputTest, PickedFileNamesItsFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"/data/pages/any", "/data/pages"}, {"/a.htm", "/"}, {"/", "/"}, {"any", ""},
        {"/data/pages/", "/data/pages"},
    };
    for (const auto& [picked, folder] : cases)
        EXPECT_EQ(UpdateInput_PickedFolder(picked), folder) << picked;
}

}  // namespace
