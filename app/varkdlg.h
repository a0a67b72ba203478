// The main search window (template 102), the about box (template 100) and
// the application's start.
//
// VarkDlg shows the state of the keyword database (its age in days, its page
// count, a fresh or stale icon), runs one search that writes the result page
// and hands the display page to the browser, and opens the update dialog,
// the help page and the about box. One search closes the window, and with it
// the program.
//
// Everything here runs on the user-interface thread, which owns the
// library's process-wide state while no update worker runs. Reports of the
// library are raised by the error hook; no handler opens a frame, so a report
// ends the program: the error box, the saved report, status 14.
#pragma once

#include <ctime>
#include <string>

#include "platform/qt/dialog.h"

// The "back" URL written into the next result page (512 bytes, CP932).
extern char g_prevURL[512];

// Opens the help page of the program folder with xdg-open: what F1 does in
// every window of the program. Touches none of the library's process-wide
// state, so the progress dialog may call it while the worker runs.
void VarkApp_OpenHelp();

class AboutDlg : public DlgBase {
   public:
    explicit AboutDlg(QWidget* parent = nullptr);
    std::string m_buildDate;  // shown in static 1038

   protected:
    bool OnInitDialog() override;
    void OnHelp() override { VarkApp_OpenHelp(); }
};

class VarkDlg : public DlgBase {
   public:
    // commandLine: the program's arguments joined with blanks, native and
    // UTF-8 as the program received them (empty: none). programFile: the
    // inside path of "<program folder>\tessaly".
    VarkDlg(std::string commandLine, std::string programFile);

    std::string m_kwf;  // database path, inside form
    int m_bExists = 0;
    std::string m_outFile, m_dispURL, m_dispTarget;

    // Shows the database's state (age, page count, icon) and enables Search
    // when there is something to search.
    void RefreshStatus();

    // The clock of the age line (tests pin it); nullptr restores time().
    static void SetClock(time_t (*now)());

   protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCommand(int id) override;
    void OnSysCommand(int command) override;
    void OnHelp() override { VarkApp_OpenHelp(); }
    void OnUpdateDatabase();
    void OnHelpButton();

   private:
    std::string m_commandLine, m_programFile;
};

// The application object: its start shows the main window and returns false,
// so the process ends when the window closes.
class VarkApp {
   public:
    VarkApp(std::string commandLine, std::string programFile)
        : m_commandLine(std::move(commandLine)), m_programFile(std::move(programFile)) {}
    bool InitInstance();

   private:
    std::string m_commandLine, m_programFile;
};
