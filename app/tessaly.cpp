// tessaly: the search window. Its whole command line is the path of the
// keyword database to open (the arguments joined with single blanks).
//
// One exception: a command line of exactly "--version" prints the version and
// ends, before any window or folder is made. A database of that name is
// still opened as ./--version.
//
// The program folder (vark.ini, out.htm, outframe.htm, help.htm) is decided
// by VarkApp_FindFolders; message boxes are Qt windows. The environment
// variable TESSALY_TEST_SEARCH, when set, types its text into the keyword box
// and presses Search once the window is up, and every message box is printed
// to standard error and answered OK: the only way a test can drive a program
// it started, since nothing can type into an offscreen window of another
// process. TESSALY_TEST_STATUS, when set, prints the main window's state
// ("STATUS age | page count | search or -") to standard output once it is
// up, and closes it.

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/varkapp.h"
#include "app/varkdlg.h"
#include "platform/msgbox.h"
#include "platform/qt/msgboxqt.h"
#include "platform/qt/resources.h"
#include "tessaly_version.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("tessaly (Tessaly!) %s\ndatabase version %d\nbuilt %s\n", TESSALY_VERSION,
               TESSALY_DATABASE_VERSION, TESSALY_BUILD_DATE);
        return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 14;
    }
    QApplication app(argc, argv);
    MsgBoxQt boxes;
    MsgBox_SetBackend(&boxes);

    VarkApp_Folders folders;
    std::string message;
    if (!VarkApp_FindFolders(&folders, &message)) {
        MsgBox_Show("Tessaly!", message.c_str(), MsgBox_OK, MsgBox_IconError);
        return 14;
    }
    std::string error;
    if (!Res_Load(folders.resourceFolder, &error)) {
        fprintf(stderr, "tessaly: %s\n", error.c_str());
        return 14;
    }

    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }

    if (const char* text = getenv("TESSALY_TEST_SEARCH")) {
        // Nobody can answer a box offscreen: each is printed and answered OK.
        MsgBoxQt::SetModalHook([](QMessageBox* box) {
            fprintf(stderr, "BOX[%s] %s\n", box->windowTitle().toStdString().c_str(),
                    box->text().toStdString().c_str());
            return static_cast<int>(MsgBox_IDOK);
        });
        std::string keywords = text;
        DlgBase::SetShownHook([keywords](DlgBase* dialog) {
            if (dialog->TemplateId() != 102) return;
            if (auto* edit = qobject_cast<QLineEdit*>(dialog->Item(1000)))
                edit->setText(QString::fromStdString(keywords));
            if (auto* search = qobject_cast<QPushButton*>(dialog->Item(1))) search->click();
        });
    }

    if (getenv("TESSALY_TEST_STATUS")) {
        DlgBase::SetShownHook([](DlgBase* dialog) {
            if (dialog->TemplateId() != 102) return;
            auto text = [dialog](int id) {
                return Dlg_QText(dialog->GetItemText(id).c_str()).toStdString();
            };
            printf("STATUS %s | %s | %s\n", text(1013).c_str(), text(1043).c_str(),
                   dialog->IsItemEnabled(IDOK) ? "search" : "-");
            fflush(stdout);
            dialog->EndDialog(IDCANCEL);
        });
    }

    VarkApp theApp(commandLine, folders.programFile);
    theApp.InitInstance();
    return 0;
}
