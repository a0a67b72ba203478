// The update dialog, its progress dialog and the worker, driven offscreen.

#include <QApplication>
#include <QDropEvent>
#include <QTimer>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <thread>

#include "app/kwf.h"
#include "app/updatedlg.h"
#include "app/varkapp.h"
#include "app/varkdlg.h"
#include "components/errors.h"
#include "guisupport.h"
#include "platform/fs.h"
#include "platform/qt/msgboxqt.h"
#include "platform/qt/uicall.h"

namespace {

class UpdateDlgTest : public GuiTest {
   public:
    void SetUp() override {
        GuiTest::SetUp();
        for (const char* page : {"a.htm", "b.htm", "sub/c.htm"})
            dir_->Write(std::string("pages/") + page,
                        "<html><head><title>t</title><meta name=\"keywords\" "
                        "content=\"kyoto\"></head></html>");
    }

    // Shows the update dialog with its two texts; script runs once it is up.
    int Run(const std::string& kwf, const std::string& folder,
            std::function<void(DlgBase*)> script) {
        OnShown(131, std::move(script));
        UpdateDlg dialog;
        dialog.m_kwfPath = kwf;
        dialog.m_folder = folder;
        int result = dialog.DoModal();
        result_ = dialog.m_kwfPath;
        return result;
    }

    static std::string Text(DlgBase* d, int id) {
        auto* edit = qobject_cast<QLineEdit*>(d->Item(id));
        return edit ? edit->text().toStdString() : Utf8(d->GetItemText(id));
    }

    static void Drop(DlgBase* d, const std::vector<std::string>& natives) {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const std::string& n : natives) urls << QUrl::fromLocalFile(QString::fromStdString(n));
        data->setUrls(urls);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        // Straight to the dialog, as the window system's drop arrives there.
        static_cast<QObject*>(d)->event(&drop);
        delete data;
    }

    std::string result_;
};

// With no path the dialog offers "vark.kwf" with the focus; OK waits for
// both texts (at the start, with a folder, with the name cleared).
TEST_F(UpdateDlgTest, EmptyPathOffersVarkKwfWithTheFocusAndOkWaitsForBothTexts) {
    std::string seen;
    Run("", "", [&](DlgBase* d) {
        auto ok = [d] { return d->IsItemEnabled(IDOK) ? " ok" : " -"; };
        seen = Text(d, 1033) + (d->focusWidget() == d->Item(1033) ? " focused" : "") + ok();
        Type(d, 1016, "/x");
        seen += ok();
        Type(d, 1033, "");
        seen += ok();
        d->EndDialog(IDCANCEL);
    });
    EXPECT_EQ(seen, "vark.kwf focused - ok -");
}

// A refused drop leaves both boxes as they were and says why in one box; a
// dropped name in any characters is taken and shown as it is.
TEST_F(UpdateDlgTest, DropTakesTheFirstItemAndAFilesFolder) {
    const std::string p = Program();
    const std::string longName = p + "/" + std::string(249 - p.size(), 'n');
    const struct {
        const char* name;
        std::vector<std::string> dropped;
        std::string folder, kwf;  // expected, native
    } cases[] = {
        {"a file gives its folder", {p + "/pages/a.htm"}, p + "/pages", p + "/pages/vark.kwf"},
        {"a folder as it is", {p + "/pages/sub"}, p + "/pages/sub", p + "/pages/sub/vark.kwf"},
        {"only the first",
         {p + "/pages/sub", p + "/pages/a.htm"},
         p + "/pages/sub",
         p + "/pages/sub/vark.kwf"},
        {"the root", {"/"}, "/", "/vark.kwf"},
        {"250 bytes still fit", {longName}, p, p + "/vark.kwf"},
        {"251 bytes are refused", {longName + "x"}, "/old", "/old/vark.kwf"},
        {"names with no Shift_JIS form",
         {p + U8(u8"/caf\u00E9/\U0001F600.htm")},
         p + U8(u8"/caf\u00E9"),
         p + U8(u8"/caf\u00E9/vark.kwf")},
    };
    for (const auto& c : cases) {
        boxes_.boxes.clear();
        std::string folder, kwf;
        Run("/old/vark.kwf", "\\old", [&](DlgBase* d) {
            Drop(d, c.dropped);
            folder = Text(d, 1016);
            kwf = Text(d, 1033);
            d->EndDialog(IDCANCEL);
        });
        EXPECT_EQ(folder, c.folder) << c.name;
        EXPECT_EQ(kwf, c.kwf) << c.name;
        EXPECT_EQ(boxes_.boxes.size(), c.folder == "/old" ? 1u : 0u) << c.name;
    }
}

TEST_F(UpdateDlgTest, BrowseDialogsFillTheirBoxes) {
    std::vector<Dlg_FileRequest> asked;
    DlgBase::SetFileDialogFunc([&](QWidget*, Dlg_FileRequest* r) {
        asked.push_back(*r);
        r->path = r->save ? "/data/my db.kwf" : "/data/pages/any";
        return true;
    });
    std::string kwf, folder;
    Run("x.kwf", "", [&](DlgBase* d) {
        Click(d, 1011);
        Click(d, 1017);
        kwf = Text(d, 1033);
        folder = Text(d, 1016);
        d->EndDialog(IDCANCEL);
    });
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(asked[0].save);
    EXPECT_EQ(asked[0].defaultExt, "kwf");
    EXPECT_EQ(asked[0].initialName, "vark.kwf");
    EXPECT_FALSE(asked[1].save);
    EXPECT_EQ(asked[1].initialName, "any");
    EXPECT_EQ(kwf, "/data/my db.kwf");
    EXPECT_EQ(folder, "/data/pages");
}

TEST_F(UpdateDlgTest, TypingMistakesAreShownAndTheDialogStays) {
    struct Case {
        const char* name;
        std::string kwf, folder;  // native; "@" is the program folder
        const char8_t* message;
    };
    const Case cases[] = {
        {"missing folder to scan", "@/db.kwf", "@/nowhere", u8"指定した調べる場所が存在しません"},
        {"folder to scan is a file", "@/db.kwf", "@/pages/a.htm",
         u8"指定した調べる場所はフォルダではありません。"},
        {"database folder missing", "@/no/such/db.kwf", "@/pages",
         u8"データベースを置くフォルダが存在しないか、書きこめません。"},
        {"database path too long", "@/" + std::string(300, 'k') + ".kwf", "@/pages",
         u8"データベースのパスが長すぎます。"},
    };
    for (const Case& c : cases) {
        boxes_.boxes.clear();
        auto at = [&](std::string s) {
            if (s[0] == '@') s.replace(0, 1, Program());
            return s;
        };
        bool stayed = false;
        int result = Run("", "", [&](DlgBase* d) {
            Type(d, 1033, at(c.kwf));
            Type(d, 1016, at(c.folder));
            Click(d, IDOK);
            stayed = d->isVisible();
            d->EndDialog(IDCANCEL);
        });
        EXPECT_EQ(result, IDCANCEL) << c.name;
        EXPECT_TRUE(stayed) << c.name;
        EXPECT_EQ(BoxTexts(boxes_), std::vector<std::string>{Sjis(c.message)}) << c.name;
        EXPECT_EQ(ReadFile(Program("db.kwf")), "(missing)") << c.name;
    }
}

TEST_F(UpdateDlgTest, CancelRightAfterTheProgressDialogAppearsIsNeverLost) {
    ProgressGate gate;
    gate.Open();  // the build runs freely; the Cancel comes before its first call
    OnShown(132, [](DlgBase* d) { Click(d, IDCANCEL); });
    int result = Run("", "", [&](DlgBase* d) {
        Type(d, 1016, Program("pages"));
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(gate.Calls(), 1);  // the build stopped after its first file
    EXPECT_LE(Kwf_CountPages(result_.c_str()), 1);
}

TEST_F(UpdateDlgTest, ProgressDialogEndsOnlyByTheWorkersFinalMessage) {
    ProgressGate gate;
    bool afterEnter = false, afterEsc = false, afterClose = false, cancelAsked = false;
    OnShown(132, [&](DlgBase* d) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return gate.Waiting(); }, 10000));
        Key(d, Qt::Key_Return);
        afterEnter = d->isVisible();
        Key(d, Qt::Key_Escape);
        afterEsc = d->isVisible();
        d->close();
        afterClose = d->isVisible();
        cancelAsked = static_cast<ProgressDlg*>(d)->m_cancelRequested.load();
        gate.Open();
    });
    int result = Run("", "", [&](DlgBase* d) {
        Type(d, 1016, Program("pages"));
        Click(d, IDOK);
    });
    EXPECT_TRUE(afterEnter);
    EXPECT_TRUE(afterEsc);
    EXPECT_TRUE(afterClose);
    EXPECT_TRUE(cancelAsked);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(gate.Calls(), 1);
}

TEST_F(UpdateDlgTest, ProgressLinesAndBarRangeBelow1000) {
    struct Case {
        int total, position;
        int range, pos;
    };
    const Case cases[] = {{999, 500, 999, 500},
                          {1000, 800, 125, 100},
                          {5000, 4000, 625, 500},
                          {8000, 8000, 125, 125}};
    for (const Case& c : cases) {
        ProgressDlg dialog;
        dialog.CreateControls();
        UpdateJob job{};
        dialog.m_job = &job;
        const std::string path = Inside(Program("pages/sub/c.htm"));
        CreKey_Progress progress{path.c_str(), 3, c.position, c.total};
        std::thread worker([&] { ProgressDlg_OnProgress(&dialog, &progress); });
        worker.join();
        auto* bar = qobject_cast<QProgressBar*>(dialog.Item(1019));
        EXPECT_TRUE(QTest::qWaitFor([&] { return bar->maximum() == c.range; }, 5000)) << c.total;
        EXPECT_EQ(bar->value(), c.pos) << c.total;
        EXPECT_EQ(Utf8(dialog.GetItemText(1041)), "3: c.htm") << c.total;
        EXPECT_EQ(Utf8(dialog.GetItemText(1021)), Program("pages/sub/c.htm")) << c.total;
    }
}

// A build from the main window without a database: the relative name lands
// in the program folder, the folder typed without a trailing separator gets
// one, and the main window then shows the new database.
TEST_F(UpdateDlgTest, ABuildFromTheMainWindowIsShownThere) {
    std::string shown;
    OnShown(102, [](DlgBase* d) { Click(d, 1022); });
    OnShown(131, [&](DlgBase* d) {
        Type(d, 1016, Program("pages"));
        Click(d, IDOK);
        // The main window's status is refreshed once this dialog has closed.
        QTimer::singleShot(0, [&] {
            auto* main = dynamic_cast<DlgBase*>(QApplication::activeModalWidget());
            ASSERT_NE(main, nullptr);
            shown = Utf8(main->GetItemText(1013)) + " " + Utf8(main->GetItemText(1043)) + " " +
                    std::to_string(main->ItemIcon(1014));
            main->EndDialog(IDCANCEL);
        });
    });
    VarkDlg::SetClock(nullptr);
    VarkDlg main("", programFile_);
    main.DoModal();
    EXPECT_EQ(shown, U8(u8"ﾃﾞｰﾀﾍﾞｰｽは 0日前に更新されています。 登録ページ数：3 128"));
    const std::string db = Inside(Program("vark.kwf"));
    char base[260];
    Kwf_ReadBase(db.c_str(), base, sizeof base);
    EXPECT_EQ(std::string(base), Inside(Program("pages")) + "\\");
    EXPECT_EQ(Kwf_CountPages(db.c_str()), 3);
}

// ---- The worker's reports end the program on the UI thread ----

class UpdateDlgDeathTest : public UpdateDlgTest {
   protected:
    // In the child: the Qt boxes, each printed with the thread it shows on
    // and answered OK, then a build of the pages folder from the update dialog.
    void BuildAndPrintBoxes() {
        MsgBoxQt qtBoxes;
        MsgBox_SetBackend(&qtBoxes);
        MsgBoxQt::SetModalHook([](QMessageBox* box) {
            fprintf(stderr, "%s %s\n", UiCall_OnUiThread() ? "UI-BOX" : "WORKER-BOX",
                    box->text().toStdString().c_str());
            return int(MsgBox_IDOK);
        });
        Run("", "", [&](DlgBase* d) {
            Type(d, 1016, Program("pages"));
            Click(d, IDOK);
        });
    }
};

TEST_F(UpdateDlgDeathTest, ReportOnTheWorkerShowsTheBoxOnTheUiThreadAndEnds14) {
    EXPECT_EXIT(
        {
            ProgressDlg::SetProgressGate([](const CreKey_Progress*) {
                ERRORS_REPORT(FileX_Err_CannotWrite, "disk went away");
            });
            BuildAndPrintBoxes();
        },
        testing::ExitedWithCode(14), "UI-BOX \\[1\\] Error in .*disk went away");
}

// The file system refuses the database's temp file, or its rename over the
// database: the worker's report ends the program on the UI thread, and the
// previous database is left as it was.
const char* g_failingOp = "";
int FailOp(const char* op, const char*) {
    if (strcmp(op, g_failingOp) != 0) return 0;
    fprintf(stderr, "FAULT %s\n", op);
    return EIO;
}

TEST_F(UpdateDlgDeathTest, ADatabaseThatCannotBeWrittenEndsTheProgramWith14) {
    const std::string old = "[main] \r\nApplication = Tessaly!\r\n";
    for (const char* op : {"create", "rename"}) {
        dir_->Write("vark.kwf", old);
        g_failingOp = op;
        EXPECT_EXIT(
            {
                Fs_SetFaultHook(FailOp);
                BuildAndPrintBoxes();
            },
            testing::ExitedWithCode(14),
            std::string("FAULT ") + op + ".*UI-BOX \\[1\\] Error in .*vark\\.kwf")
            << op;
        EXPECT_EQ(old, dir_->Read("vark.kwf")) << op;
    }
}

TEST_F(UpdateDlgDeathTest, TheUiThreadMayNotTouchTheLibraryWhileTheWorkerRuns) {
    EXPECT_DEATH(
        {
            ProgressGate gate;
            OnShown(132, [&](DlgBase*) {
                EXPECT_TRUE(QTest::qWaitFor([&] { return gate.Waiting(); }, 10000));
                VarkApp_CheckOwner("the UI thread");
                gate.Open();  // without the check the build ends: a failure, not a hang
            });
            Run("", "", [&](DlgBase* d) {
                Type(d, 1016, Program("pages"));
                Click(d, IDOK);
            });
        },
        "the UI thread: the library's state belongs to another thread");
}

}  // namespace
