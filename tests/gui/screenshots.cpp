// Makes the screenshots of the README from the running dialogs: the main
// window, the update dialog and the progress dialog in the middle of a build
// of the sample pages. Run offscreen by scripts/screenshots.sh:
//
//   screenshots OUTPUT_FOLDER SAMPLE_PAGES

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
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
    DlgBase::SetShownHook([&](DlgBase* dialog) {
        switch (dialog->TemplateId()) {
            case 102:
                if (!dialog->IsItemEnabled(IDOK)) {  // first: no database yet, build one
                    click(dialog, 1022);
                } else {
                    type(dialog, 1000, reinterpret_cast<const char*>(u8"京都"));
                    save(dialog, "main-window.png");
                    dialog->EndDialog(IDCANCEL);
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
    {
        VarkDlg main("", programFile);
        main.DoModal();
    }
    // Once more with the database built, for the main window's picture.
    VarkDlg main(db, programFile);
    main.DoModal();
    std::filesystem::remove_all(folder);
    return 0;
}
