// The main search window driven as a person drives it, on the offscreen platform.

#include <QAction>
#include <QMenu>
#include <cstdlib>
#include <fstream>

#include "app/updatedlg.h"
#include "app/varkapp.h"
#include "app/varkdlg.h"
#include "components/strx.h"
#include "guisupport.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "support/fakebrowser.h"

namespace {

class VarkDlgTest : public GuiTest {
   public:
    // Opens the window with a command line (UTF-8 native) and returns what
    // it showed: "age | pages | icon | search | update | guide", a control
    // that is hidden or disabled left out.
    std::string Open(const std::string& commandLine) {
        std::string s;
        OnShown(102, [&](DlgBase* d) {
            s = (d->IsItemShown(1013) ? Utf8(d->GetItemText(1013)) : "") + " | " +
                Utf8(d->GetItemText(1043)) + " | " + std::to_string(d->ItemIcon(1014)) +
                (d->IsItemEnabled(IDOK) ? " | search" : " | -") +
                (d->IsItemEnabled(1022) && d->IsItemShown(1022) ? " | update" : " | -") +
                (d->IsItemShown(1044) ? " | " + Utf8(d->GetItemText(1044)) : "");
            d->EndDialog(IDCANCEL);
        });
        VarkDlg dialog(commandLine, programFile_);
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        return s;
    }

    // Searches for text and returns the dialog's result.
    int Search(const std::string& commandLine, const std::string& text) {
        OnShown(102, [text](DlgBase* d) {
            Type(d, 1000, text);
            Click(d, IDOK);
        });
        VarkDlg dialog(commandLine, programFile_);
        return dialog.DoModal();
    }

    void WriteIni(const std::string& defaultKwf, const std::string& prevUrl) {
        dir_->Write("vark.ini",
                    "[main] \r\nApplication = Tessaly!\r\nVersion = 101\r\nDefaultKwf = " +
                        defaultKwf + "\r\nPrevURL = " + prevUrl + "\r\n \r\n");
    }
    std::string IniPrevUrl() {
        char url[512] = "(none)";
        std::string ini = Inside(Program("vark.ini"));
        if (Fs_Access(ini.c_str(), Fs_Access_Exist) == 0) VarkIni_ReadPrevURL(ini.c_str(), url);
        return url;
    }
};

const long kDay = 86400;

// The status line, page count, icon and buttons for each state of the
// database, byte for byte; a fixed database shows its guide instead of its
// age and update button.
TEST_F(VarkDlgTest, StatusShowsTheDatabaseState) {
    const struct {
        const char* name;
        std::function<std::string(VarkDlgTest*)> setUp;  // returns the command line
        const char8_t* shown;
    } cases[] = {
        {"no command line, no vark.ini", [](VarkDlgTest*) { return std::string(); },
         u8"ファイルが見つかりません | 登録ページ数：0000 | 129 | - | update"},
        {"empty DefaultKwf",
         [](VarkDlgTest* t) {
             t->WriteIni("", "");
             return std::string();
         },
         u8"ファイルが見つかりません | 登録ページ数：0000 | 129 | - | update"},
        {"relative DefaultKwf in the program folder",
         [](VarkDlgTest* t) {
             t->dir_->Write("data/keep", "");
             t->WriteDatabase("data/x.kwf", 0, 3);
             t->WriteIni("data\\x.kwf", "");
             return std::string();
         },
         u8"ﾃﾞｰﾀﾍﾞｰｽは 0日前に更新されています。 | 登録ページ数：3 | 128 | search | update"},
        {"command line wins, vark.ini not read",
         [](VarkDlgTest* t) {
             t->dir_->Write("vark.ini", "not an attribute file\r\n");
             return t->WriteDatabase("cmd.kwf", kDay, 2);
         },
         u8"ﾃﾞｰﾀﾍﾞｰｽは 1日前に更新されています。 | 登録ページ数：2 | 128 | search | update"},
        {"bNewFile",
         [](VarkDlgTest* t) {
             return t->dir_->Write("new.kwf",
                                   "[main] \r\nApplication = Tessaly!\r\nVersion = 100\r\n"
                                   "bNewFile = 1\r\n \r\n");
         },
         u8"データがありません。 | 登録ページ数：0 | 129 | - | update"},
        {"29 days 23 hours",
         [](VarkDlgTest* t) { return t->WriteDatabase("a.kwf", 30 * kDay - 3600, 1); },
         u8"ﾃﾞｰﾀﾍﾞｰｽは 29日前に更新されています。 | 登録ページ数：1 | 128 | search | update"},
        {"exactly 30 days", [](VarkDlgTest* t) { return t->WriteDatabase("a.kwf", 30 * kDay, 1); },
         u8"ﾃﾞｰﾀﾍﾞｰｽは 30日前に更新されています。 | 登録ページ数：1 | 129 | search | update"},
        {"built this second", [](VarkDlgTest* t) { return t->WriteDatabase("a.kwf", 0, 1); },
         u8"ﾃﾞｰﾀﾍﾞｰｽは 0日前に更新されています。 | 登録ページ数：1 | 128 | search | update"},
        {"one second in the future counts as now",
         [](VarkDlgTest* t) { return t->WriteDatabase("a.kwf", -1, 1); },
         u8"ﾃﾞｰﾀﾍﾞｰｽは 0日前に更新されています。 | 登録ページ数：1 | 128 | search | update"},
        {"a day and an hour in the future too",
         [](VarkDlgTest* t) { return t->WriteDatabase("a.kwf", -(kDay + 3600), 1); },
         u8"ﾃﾞｰﾀﾍﾞｰｽは 0日前に更新されています。 | 登録ページ数：1 | 128 | search | update"},
        {"version 101, the newest the window reads, is opened",
         [](VarkDlgTest* t) {
             std::string db = t->WriteDatabase("v.kwf", 0, 1);
             std::string text = ReadFile(db);
             const size_t at = text.find("Version = 100");
             if (at != std::string::npos) text.replace(at, 13, "Version = 101");
             return t->dir_->Write("v.kwf", text);
         },
         u8"ﾃﾞｰﾀﾍﾞｰｽは 0日前に更新されています。 | 登録ページ数：1 | 128 | search | update"},
        {"a command-line path of 259 bytes is taken whole",
         [](VarkDlgTest*) { return "/" + std::string(252, 'd') + "/x.kwf"; },
         u8"ファイルが見つかりません | 登録ページ数：0000 | 129 | - | update"},
        {"fixed database",
         [](VarkDlgTest* t) {
             return t->dir_->Write(
                 "fixed.kwf",
                 Sjis(u8"[main] \r\nApplication = Tessaly!\r\nVersion = 100\r\nbNewFile = 0\r\n"
                      u8"Base = .\r\nUpdate = 2023/11/14-22:13:20\r\nbCanUpdate = 0\r\n"
                      u8"DispURL = (default)\r\nDispTarget = main\r\nbFixed = 1\r\n"
                      u8"Guide = CD-ROM 版です\r\n \r\n[links] \r\nA = t, kyoto, a.htm\r\n \r\n"));
         },
         u8" | 登録ページ数：1 | 128 | search | - | CD-ROM 版です"},
    };
    for (const auto& c : cases) {
        NewProgramFolder();
        EXPECT_EQ(Open(c.setUp(this)), U8(c.shown)) << c.name;
    }
}

TEST_F(VarkDlgTest, SearchWritesTheResultPageHandsItOverAndKeepsTheBackLinkRule) {
    struct Case {
        const char* name;
        std::string app;
        bool alive;
        std::string reply;
        std::string iniBefore;  // PrevURL in vark.ini before ("" no file)
        std::string back;       // back link expected in out.htm ("" none)
        std::string iniAfter;   // PrevURL after ("(none)": no vark.ini)
    };
    // The browser's answer when it shows our own display page ("@" stands for
    // the program folder, which each case has anew).
    const std::string own = "\"file://@/outframe.htm\",\"Tessaly\"";
    const std::string ownUpper = "\"FILE://@/OUTFRAME.HTM\",\"Tessaly\"";
    // Longer than the 259-byte line a reader of the classic settings file holds.
    const std::string longUrl = "http://example.com/q?" + std::string(480, 'u');
    const Case cases[] = {
        {"not IExplore: no conversation, no back link", "Launcher", true, "\"http://x/\"", "", "",
         "(none)"},
        {"another page: PrevURL written", "IExplore", true, "\"http://example.com/a\",\"A\"", "",
         "http://example.com/a", "http://example.com/a"},
        {"reply without closing quote", "IExplore", true, "\"http://example.com/b", "",
         "http://example.com/b", "http://example.com/b"},
        {"empty reply", "IExplore", true, "", "http://before/", "", ""},
        {"our own page: PrevURL kept", "IExplore", true, own, "http://before/", "http://before/",
         "http://before/"},
        {"our own page, other case", "IExplore", true, ownUpper, "http://before/", "http://before/",
         "http://before/"},
        {"browser not running: PrevURL cleared", "IExplore", false, "\"http://started/\"",
         "http://before/", "", ""},
        {"a long URL is stored whole", "IExplore", true, "\"" + longUrl + "\",\"A\"", "", longUrl,
         longUrl},
        {"and read back whole on the next search", "IExplore", true, own, longUrl, longUrl,
         longUrl},
    };
    for (const Case& c : cases) {
        NewProgramFolder();
        std::string db = WriteDatabase("a.kwf", kDay, 3);
        if (!c.iniBefore.empty()) WriteIni("", c.iniBefore);
        browser_ = ScriptedBrowser();
        browser_.app = c.app;
        browser_.alive = c.alive;
        browser_.reply = c.reply;
        if (size_t at = c.reply.find('@'); at != std::string::npos) {
            std::string folder = Program();
            if (c.reply == ownUpper)
                for (char& ch : folder)
                    ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
            browser_.reply.replace(at, 1, folder);
        }

        EXPECT_EQ(Search(db, "kyoto"), IDOK) << c.name;
        std::string page = ReadFile(Program("out.htm"));
        EXPECT_NE(page.find(Sjis(u8"3 件みつかりました")), std::string::npos) << c.name;
        EXPECT_EQ(page.find("href=\"" + c.back + "\" target=_top") != std::string::npos,
                  !c.back.empty())
            << c.name;
        EXPECT_EQ(page.find(Sjis(u8"戻る")) != std::string::npos, !c.back.empty()) << c.name;
        EXPECT_EQ(IniPrevUrl(), c.iniAfter) << c.name;
        EXPECT_EQ(browser_.requests.size(), c.app == "IExplore" ? 1u : 0u) << c.name;
        ASSERT_EQ(browser_.opened.size(), 1u) << c.name;
        EXPECT_EQ(browser_.opened[0], Inside(Program("outframe.htm"))) << c.name;
    }
}

// A database whose DispURL names another host: the search writes the result
// page, says why in one box and hands the browser the default display page.
TEST_F(VarkDlgTest, SearchNeverHandsTheBrowserAPageOfAnotherHost) {
    const std::string db = WriteDatabase("a.kwf", kDay, 3);
    std::string bytes = ReadFile(db);
    const std::string line = "DispURL = (default)";
    bytes.replace(bytes.find(line), line.size(), "DispURL = https://evil.example/phish");
    std::ofstream(db, std::ios::binary) << bytes;
    EXPECT_EQ(Search(db, "kyoto"), IDOK);
    EXPECT_NE(ReadFile(Program("out.htm")).find(Sjis(u8"3 件みつかりました")), std::string::npos);
    ASSERT_EQ(browser_.opened.size(), 1u);
    EXPECT_EQ(browser_.opened[0], Inside(Program("outframe.htm")));
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_NE(boxes_.boxes[0].text.find("https://evil.example/phish"), std::string::npos);
}

TEST_F(VarkDlgTest, EscAndEnterWithSearchDisabledWriteNothing) {
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        // No database: Search is disabled, so Enter must not search; Esc closes.
        OnShown(102, [key](DlgBase* d) {
            Type(d, 1000, "kyoto");
            Key(d, key);
            if (d->isVisible()) d->EndDialog(IDCANCEL);
        });
        VarkDlg dialog("", programFile_);
        EXPECT_EQ(dialog.DoModal(), IDCANCEL) << key;
        EXPECT_EQ(ReadFile(Program("out.htm")), "(missing)") << key;
        EXPECT_EQ(ReadFile(Program("vark.ini")), "(missing)") << key;
        EXPECT_TRUE(browser_.opened.empty()) << key;
    }
}

// A keyword with a character that has no Shift_JIS form is not searched:
// one box says so and the window stays as it was. Marks that Shift_JIS
// holds under a neighbouring code point (the wave dash of an input method)
// are searched as that mark, as a page's title stores them.
TEST_F(VarkDlgTest, KeywordsWithoutAShiftJisFormAreRefused) {
    const struct {
        const char* name;
        const char8_t* typed;
        bool refused;
        const char8_t* searched;  // as the result page's title shows it
    } cases[] = {
        {"a kanji outside Shift_JIS", u8"\U00020BB7", true, nullptr},
        {"an emoji after a word", u8"kyoto\U0001F600", true, nullptr},
        {"plain Japanese", u8"京都", false, u8"京都"},
        {"the wave dash", u8"\u301C", false, u8"～"},
        {"the geta mark typed itself", u8"〓", false, u8"〓"},
    };
    for (const auto& c : cases) {
        NewProgramFolder();
        std::string db = WriteDatabase("a.kwf", kDay, 3);
        boxes_.boxes.clear();
        browser_ = ScriptedBrowser();
        bool stayed = false, searchEnabled = false;
        std::string typed;
        OnShown(102, [&](DlgBase* d) {
            Type(d, 1000, U8(c.typed));
            Click(d, IDOK);
            stayed = d->isVisible();
            searchEnabled = d->IsItemEnabled(IDOK);
            typed = qobject_cast<QLineEdit*>(d->Item(1000))->text().toStdString();
            if (stayed) d->EndDialog(IDCANCEL);
        });
        VarkDlg dialog(db, programFile_);
        dialog.DoModal();
        const std::string page = ReadFile(Program("out.htm"));
        if (c.refused) {
            EXPECT_TRUE(stayed && searchEnabled) << c.name;
            EXPECT_EQ(typed, U8(c.typed)) << "the keyword box keeps the text: " << c.name;
            ASSERT_EQ(boxes_.boxes.size(), 1u) << c.name;
            EXPECT_EQ(Utf8(boxes_.boxes[0].title), U8(u8"検索 - Tessaly!")) << c.name;
            EXPECT_EQ(Utf8(boxes_.boxes[0].text),
                      U8(u8"キーワードに Shift_JIS で表せない文字があります。"
                         u8"この文字は検索できません。"))
                << c.name;
            EXPECT_EQ(boxes_.boxes[0].buttons, MsgBox_OK) << c.name;
            EXPECT_EQ(page, "(missing)") << c.name;
            EXPECT_EQ(ReadFile(Program("vark.ini")), "(missing)") << c.name;
            EXPECT_TRUE(browser_.opened.empty() && browser_.requests.empty()) << c.name;
        } else {
            EXPECT_FALSE(stayed) << c.name;
            EXPECT_TRUE(boxes_.boxes.empty()) << c.name;
            EXPECT_NE(page.find(Sjis(u8"検索結果 ～ ") + Sjis(c.searched) + "</TITLE>"),
                      std::string::npos)
                << c.name << ": " << Utf8(page.substr(0, 300));
        }
    }
}

// F1 opens the help page from every window, as the help button does from the
// main window (the progress dialog while its worker runs).
TEST_F(VarkDlgTest, HelpOpensTheHelpPageFromEveryWindow) {
    // A stand-in xdg-open records what it was asked to open.
    std::string bin = dir_->Write(
        "bin/xdg-open", "#!/bin/sh\necho \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.called\"\n");
    chmod(bin.c_str(), 0755);
    setenv("PATH", (Program("bin") + ":" + getenv("PATH")).c_str(), 1);
    dir_->Write("pages/a.htm", "<title>t</title>");
    DlgBase::SetMenuHook([](QMenu* menu, const QPoint&) { return menu->actions().value(0); });
    ProgressGate gate;  // holds the one build of the progress case at its first file
    auto help = [this](DlgBase* d) {
        Key(d, Qt::Key_F1);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return ReadFile(Program("bin/xdg-open.called")) != "(missing)"; }, 10000))
            << d->TemplateId();
    };
    const struct {
        const char* name;
        std::function<void(VarkDlgTest*, DlgBase*)> act;  // on the main window
    } cases[] = {
        {"help button", [](VarkDlgTest*, DlgBase* d) { Click(d, 1025); }},
        {"F1 in the main window", [](VarkDlgTest*, DlgBase* d) { Key(d, Qt::Key_F1); }},
        {"F1 in the about box",
         [help](VarkDlgTest* t, DlgBase* d) {
             t->OnShown(100, [help](DlgBase* about) {
                 help(about);
                 about->EndDialog(IDOK);
             });
             d->OpenContextMenu(d->mapToGlobal(QPoint(5, 5)));
         }},
        {"F1 in the update dialog",
         [help](VarkDlgTest* t, DlgBase* d) {
             t->OnShown(131, [help](DlgBase* update) {
                 help(update);
                 update->EndDialog(IDCANCEL);
             });
             Click(d, 1022);
         }},
        {"F1 in the progress dialog while the build runs",
         [help, &gate](VarkDlgTest* t, DlgBase* d) {
             t->OnShown(131, [t](DlgBase* update) {
                 Type(update, 1016, t->Program("pages"));
                 Click(update, IDOK);
             });
             t->OnShown(132, [help, &gate](DlgBase* progress) {
                 EXPECT_TRUE(QTest::qWaitFor([&] { return gate.Waiting(); }, 10000));
                 help(progress);
                 gate.Open();
             });
             Click(d, 1022);
         }},
    };
    for (const auto& c : cases) {
        Fs_Remove(Inside(bin + ".called").c_str());
        OnShown(102, [&](DlgBase* d) {
            c.act(this, d);
            if (d->isVisible()) d->EndDialog(IDCANCEL);
        });
        VarkDlg dialog("", programFile_);
        dialog.DoModal();
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return ReadFile(bin + ".called") != "(missing)"; }, 10000))
            << c.name;
        EXPECT_EQ(ReadFile(bin + ".called"), Program("help.htm") + "\n") << c.name;
    }
}

TEST_F(VarkDlgTest, AboutItemOfTheContextMenuShowsTheBuildDate) {
    std::string shownDate, menuText;
    DlgBase::SetMenuHook([&](QMenu* menu, const QPoint&) -> QAction* {
        menuText = menu->actions().value(0) ? menu->actions()[0]->text().toStdString() : "";
        return menu->actions().value(0);
    });
    OnShown(102, [](DlgBase* d) {
        QTest::keyClick(d, Qt::Key_F10, Qt::ShiftModifier);
        d->EndDialog(IDCANCEL);
    });
    OnShown(100, [&](DlgBase* d) {
        shownDate = d->GetItemText(1038);
        Click(d, IDOK);
    });
    VarkDlg dialog("", programFile_);
    dialog.DoModal();
    EXPECT_EQ(menuText, U8(u8"ﾊﾞｰｼﾞｮﾝ情報 (&A)..."));
    EXPECT_TRUE(
        testing::internal::RE::FullMatch(shownDate, "[A-Z][a-z][a-z]\\.[0-9]+\\.20[0-9][0-9]"))
        << shownDate;
}

// ---- Through the registered browser (the real hand-off) ----

void PutHttp(const char* name, const std::string& text) {
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, name, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &h, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                             static_cast<DWORD>(text.size())));
    RegCloseKey(h);
}

TEST_F(VarkDlgTest, SearchAsksARunningIExploreForItsPageAndHandsItOurs) {
    DesktopEnv desktop;
    FakeBrowser iexplore;
    ASSERT_TRUE(iexplore.Start());
    PutHttp("http\\shell\\open\\command", "unused %1");
    PutHttp("http\\shell\\open\\ddeexec", "\"%1\",,-1");
    PutHttp("http\\shell\\open\\ddeexec\\Application", "IExplore");
    PutHttp("http\\shell\\open\\ddeexec\\Topic", "WWW_OpenURL");
    VarkBrowser_Set(nullptr);
    std::string db = WriteDatabase("a.kwf", kDay, 3);
    EXPECT_EQ(Search(db, "kyoto"), IDOK);
    EXPECT_EQ(IniPrevUrl(), "http://example.jp/now.htm");
    EXPECT_NE(ReadFile(Program("out.htm")).find("href=\"http://example.jp/now.htm\""),
              std::string::npos);
    std::vector<std::string> opened = iexplore.WaitOpened(1, 10000);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], "\"" + Program("outframe.htm") + "\",,-1");
}

// ---- Ends of the program (each in a child process) ----

class VarkDlgDeathTest : public VarkDlgTest {};

TEST_F(VarkDlgDeathTest, NewerVersionOrTooLongAPathEndsWithItsMessageAndStatus14) {
    const std::pair<std::string, const char8_t*> cases[] = {
        {dir_->Write("new.kwf", "[main] \r\nApplication = Tessaly!\r\nVersion = 102\r\n \r\n"),
         u8"新しいバージョンのファイルです"},
        // 260 bytes inside: the first length the 260-byte buffers cannot hold.
        {"/" + std::string(253, 'd') + "/x.kwf", u8"データベースのパスが長すぎます"},
    };
    for (const auto& [db, message] : cases) {
        EXPECT_EXIT(
            {
                boxes_.echo = true;
                Open(db);
            },
            testing::ExitedWithCode(14), U8(message));
    }
}

}  // namespace
