// Makes the screenshots of the README from the running dialogs: the main
// window at the first start (a vark.ini that names vark.kwf, no database yet),
// the update dialog and the progress dialog in the middle of a build of the
// sample pages, the main window on the new database, and the box that
// refuses a keyword with no Shift_JIS form. Run offscreen by
// scripts/screenshots.sh:
//
//   screenshots OUTPUT_FOLDER SAMPLE_PAGES

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "app/updatedlg.h"
#include "app/varkapp.h"
#include "app/varkdlg.h"
#include "platform/fs.h"
#include "platform/qt/msgboxqt.h"
#include "platform/qt/resources.h"

namespace {
std::string g_out;

void save(DlgBase* dialog, const char* name) {
    QApplication::processEvents();
    std::string path = g_out + "/" + name;
    if (!dialog->grab().save(QString::fromStdString(path))) {
        fprintf(stderr, "screenshots: cannot write %s\n", path.c_str());
        exit(1);
    }
    printf("%s\n", path.c_str());
}

// The main window with a box shown over its lower half.
void saveWithBox(DlgBase* dialog, QMessageBox* box, const char* name) {
    box->show();
    QApplication::processEvents();
    const QPixmap window = dialog->grab(), front = box->grab();
    const int top = window.height() / 2;
    QPixmap picture(std::max(window.width(), front.width() + 40),
                    std::max(window.height(), top + front.height() + 10));
    picture.fill(QColor(200, 200, 200));
    QPainter painter(&picture);
    painter.drawPixmap(0, 0, window);
    painter.setPen(QColor(90, 90, 90));
    const int left = (picture.width() - front.width()) / 2;
    painter.drawRect(left - 1, top - 1, front.width() + 1, front.height() + 1);
    painter.drawPixmap(left, top, front);
    painter.end();
    std::string path = g_out + "/" + name;
    if (!picture.save(QString::fromStdString(path))) {
        fprintf(stderr, "screenshots: cannot write %s\n", path.c_str());
        exit(1);
    }
    printf("%s\n", path.c_str());
}

void click(DlgBase* dialog, int id) {
    qobject_cast<QPushButton*>(dialog->Item(id))->click();
}

void type(DlgBase* dialog, int id, const std::string& utf8) {
    qobject_cast<QLineEdit*>(dialog->Item(id))->setText(QString::fromStdString(utf8));
}

// Holds the build at its fourth file until the progress dialog is grabbed.
std::mutex g_mutex;
std::condition_variable g_changed;
int g_calls = 0;
bool g_grabbed = false;
}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc != 3) {
        fprintf(stderr, "usage: screenshots OUTPUT_FOLDER SAMPLE_PAGES\n");
        return 2;
    }
    g_out = argv[1];
    const std::string pages = std::filesystem::absolute(argv[2]).string();
    std::string error;
    if (!Res_Load(TESSALY_SOURCE_RESOURCES, &error)) {
        fprintf(stderr, "screenshots: %s\n", error.c_str());
        return 1;
    }
    MsgBoxQt boxes;
    MsgBox_SetBackend(&boxes);
    char tmpl[] = "/tmp/tessaly-shots-XXXXXX";
    const std::string folder = mkdtemp(tmpl);
    const std::string programFile = Fs_FromNative(folder) + "\\tessaly";
    const std::string db = folder + "/vark.kwf";

    ProgressDlg::SetProgressGate([](const CreKey_Progress*) {
        std::unique_lock<std::mutex> lock(g_mutex);
        if (++g_calls == 4) {
            g_changed.notify_all();
            g_changed.wait(lock, [] { return g_grabbed; });
        }
    });
    int mainShown = 0;
    DlgBase* mainWindow = nullptr;
    MsgBoxQt::SetModalHook([&](QMessageBox* box) {
        if (mainWindow) saveWithBox(mainWindow, box, "keyword-refused.png");
        return static_cast<int>(MsgBox_IDOK);
    });
    DlgBase::SetShownHook([&](DlgBase* dialog) {
        switch (dialog->TemplateId()) {
            case 102:
                switch (++mainShown) {
                    case 1:  // the first start: no database yet; build one with the defaults
                        save(dialog, "first-start.png");
                        click(dialog, 1022);
                        break;
                    case 2:
                        type(dialog, 1000, reinterpret_cast<const char*>(u8"京都"));
                        save(dialog, "main-window.png");
                        dialog->EndDialog(IDCANCEL);
                        break;
                    default:  // a keyword the database cannot hold
                        mainWindow = dialog;
                        type(dialog, 1000, reinterpret_cast<const char*>(u8"\U00020BB7野家"));
                        click(dialog, IDOK);
                        mainWindow = nullptr;
                        dialog->EndDialog(IDCANCEL);
                        break;
                }
                break;
            case 131:
                type(dialog, 1033, db);
                type(dialog, 1016, pages);
                save(dialog, "update-dialog.png");
                click(dialog, IDOK);  // returns once the build is done
                if (auto* main = dynamic_cast<DlgBase*>(dialog->parentWidget()))
                    QTimer::singleShot(0, main, [main] { main->EndDialog(IDCANCEL); });
                break;
            case 132: {
                (void)QTest::qWaitFor(
                    [] {
                        std::lock_guard<std::mutex> lock(g_mutex);
                        return g_calls >= 4;
                    },
                    10000);
                save(dialog, "progress-dialog.png");
                std::lock_guard<std::mutex> lock(g_mutex);
                g_grabbed = true;
                g_changed.notify_all();
                break;
            }
        }
    });
    // The first start of an installed program: its vark.ini names vark.kwf.
    VarkApp_InitLibrary(programFile.c_str());
    VarkIni_WriteDefault((Fs_FromNative(folder) + "\\vark.ini").c_str(), "vark.kwf");
    {
        VarkDlg main("", programFile);
        main.DoModal();
    }
    // Once more with the database built, for the main window's picture, and
    // again for the refused keyword.
    for (int i = 0; i < 2; ++i) {
        VarkDlg main("", programFile);
        main.DoModal();
    }
    std::filesystem::remove_all(folder);
    return 0;
}
