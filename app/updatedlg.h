// The database update dialog (template 131), its progress dialog (template
// 132) and the worker thread that runs the database builder.
//
// UpdateDlg takes the database path and the folder to scan (typed, chosen in
// file dialogs or dropped from a file manager). Its OK opens ProgressDlg,
// whose first paint starts exactly one worker; the worker runs CreKey_Build
// and ends with one blocking send that closes the progress dialog. Nothing
// else closes it: Enter does nothing, Cancel, Esc and the close box ask the
// build to stop. The worker is joined after the progress dialog's modal loop
// has returned.
//
// Threads: the dialogs belong to the user-interface thread. While the worker
// runs it owns the library's process-wide state (varkapp.h); the UI thread
// then only paints, takes Cancel and the final message. The worker reaches
// the dialog only through the blocking send and queued text and progress
// updates. A report on the worker is never shown there: the worker hands it
// to the UI thread, which ends the program the uncaught-error way (the box,
// the saved report, status 14).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "app/crekey.h"
#include "platform/qt/dialog.h"

class ProgressDlg;

// One build as the update dialog hands it to the worker.
struct UpdateJob {
    const char* folder;   // folder to scan, ending in a backslash
    const char* kwfPath;  // database to write
    CreKey_CallbackFunc callback;
    ProgressDlg* callbackContext;
    // The builder's cancel byte. Only the worker touches it: the progress
    // function copies the dialog's atomic request into it on every call.
    volatile unsigned char cancel;
};

class ProgressDlg : public DlgBase {
   public:
    explicit ProgressDlg(QWidget* parent = nullptr);
    ~ProgressDlg() override;

    unsigned char m_bRunning = 0;
    UpdateJob* m_job = nullptr;
    // Set by Cancel on the UI thread, read by the progress function.
    std::atomic<bool> m_cancelRequested{false};

    // Waits for the worker to end (after the modal loop has returned).
    void Join();

    // Test gate: called on the worker at the start of every progress call.
    static void SetProgressGate(std::function<void(const CreKey_Progress*)> gate);

   protected:
    void OnPaint() override;
    void OnOK() override {}
    void OnCancel() override;

   private:
    friend void UpdateWorker(ProgressDlg* dialog);
    friend int ProgressDlg_OnProgress(void* dialog, const CreKey_Progress* progress);
    // The worker's final message: closes the dialog with IDOK.
    intptr_t OnBuildDone();
    std::thread m_worker;
};

// The thread function: runs the build, then sends the final message.
void UpdateWorker(ProgressDlg* dialog);
// The builder's progress function (worker thread): the count and file name
// line, the file's path and the bar (range shifted below 1000).
int ProgressDlg_OnProgress(void* dialog, const CreKey_Progress* progress);

class UpdateDlg : public DlgBase {
   public:
    explicit UpdateDlg(QWidget* parent = nullptr);

    std::string m_kwfText;  // the database text as typed, after OK
    std::string m_folder;   // folder text (inside form)
    std::string m_kwfPath;  // database path (inside form); after OK resolved

   protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCommand(int id) override;
    void OnEditChange(int id) override;
    void OnDropFiles(const std::vector<std::string>& paths) override;

    void UpdateOkState();
    void OnBrowseKwf();
    void OnBrowseFolder();

   private:
    // A path edit box shows the native form; these convert.
    void SetPathText(int id, const std::string& inside);
    std::string GetPathText(int id) const;
    // Checks what was typed; shows the message and returns false on a mistake.
    bool CheckInput(std::string* folder, std::string* kwfPath);
};
