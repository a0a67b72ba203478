#include "app/updatedlg.h"

#include <QLineEdit>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/resource.h"
#include "app/updateinput.h"
#include "app/varkapp.h"
#include "app/varkdlg.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/strx.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/qt/uicall.h"

namespace {
constexpr int kPathSize = UpdateInput_PathSize;
// The title of the boxes about what the user gave the dialog.
constexpr const char* kBoxTitle = "Vark!ﾃﾞｰﾀﾍﾞｰｽの更新 - Tessaly!";

std::function<void(const CreKey_Progress*)> g_progressGate;

// A mistake of the user: a box with OK alone; the dialog stays for a correction.
void mistake(const char* text) {
    MsgBox_Show(kBoxTitle, text, MsgBox_OK, MsgBox_IconWarning);
}
}  // namespace

// ---- ProgressDlg --------------------------------------------------------------

ProgressDlg::ProgressDlg(QWidget* parent) : DlgBase(IDD_PROGRESS, parent) {}

ProgressDlg::~ProgressDlg() {
    Join();
}

void ProgressDlg::Join() {
    if (m_worker.joinable()) m_worker.join();
}

void ProgressDlg::SetProgressGate(std::function<void(const CreKey_Progress*)> gate) {
    g_progressGate = std::move(gate);
}

void ProgressDlg::OnPaint() {
    if (m_bRunning) return;
    m_bRunning = 1;
    // The worker owns the library's state from here until its final message.
    VarkApp_ReleaseLibrary();
    m_worker = std::thread(UpdateWorker, this);
}

void ProgressDlg::OnCancel() {
    m_cancelRequested.store(true);
}

void ProgressDlg::OnHelp() {
    VarkApp_OpenHelp();
}

intptr_t ProgressDlg::OnBuildDone() {
    m_bRunning = 0;
    VarkApp_ClaimLibrary();
    EndDialog(IDOK);
    return 0;
}

int ProgressDlg_OnProgress(void* context, const CreKey_Progress* progress) {
    auto* dialog = static_cast<ProgressDlg*>(context);
    VarkApp_CheckOwner("ProgressDlg_OnProgress");
    if (g_progressGate) g_progressGate(progress);
    static char name[kPathSize];
    static char line[kPathSize + 16];
    StrX_GetFileName(name, progress->path);
    snprintf(line, sizeof line, "%d: %s", progress->count, name);
    // Texts become QStrings here, on the worker, so the UI thread never waits
    // for the worker and no converter is shared.
    dialog->PostItemText(IDC_COUNT_LINE, Dlg_QText(line));
    dialog->PostItemText(IDC_CURRENT_PATH, QString::fromStdString(Fs_ToNative(progress->path)));
    int total = progress->total, position = progress->position;
    // The walk's total grows without bound, past the 16-bit range a progress
    // bar takes (the Windows control's range is 16-bit): total and position
    // are divided by 8 together, keeping their fraction, until total is below
    // 1000, finer than a bar of a few hundred pixels can show anyway.
    while (total >= 1000) {
        total >>= 3;
        position >>= 3;
    }
    dialog->PostProgress(IDC_PROGRESS_BAR, total, position);
    // A Cancel pressed before the builder cleared its byte is not lost.
    if (dialog->m_cancelRequested.load()) dialog->m_job->cancel = 1;
    return 0;
}

void UpdateWorker(ProgressDlg* dialog) {
    VarkApp_ClaimLibrary();
    UpdateJob* job = dialog->m_job;
    bool failed = false, unexpected = false;
    try {
        EXCEPT3_TRY(
            [&] {
                CreKey_Build(&job->cancel, job->folder, job->kwfPath, job->callback,
                             job->callbackContext, "main");
            },
            [&] { failed = true; });
    } catch (...) {
        // An exception that is not a report: every try it passed has put the
        // frame count, the flags and the scratch marks back as they were, so
        // the report below takes the uncaught-error path.
        failed = unexpected = true;
    }
    VarkApp_ReleaseLibrary();
    if (failed) {
        // Boxes belong to the UI thread: it shows the report and ends the
        // program there, the way an uncaught report does (status 14).
        UiCall_Send([&]() -> intptr_t {
            VarkApp_ClaimLibrary();
            if (unexpected)
                ERRORS_REPORT(Errors_Unofficial,
                              "データベースの更新中に予期しないエラーが起きました。");
            Except3_Throw(Except3_GetSys(), Errors_GetMsg());
            return 0;
        });
    }
    UiCall_Send([dialog] { return dialog->OnBuildDone(); });
}

// ---- UpdateDlg ------------------------------------------------------------------

UpdateDlg::UpdateDlg(QWidget* parent) : DlgBase(IDD_UPDATE, parent) {}

void UpdateDlg::SetPathText(int id, const std::string& inside) {
    SetItemQText(id, QString::fromStdString(Fs_ToNative(inside)));
}

std::string UpdateDlg::GetPathText(int id) const {
    auto* edit = qobject_cast<QLineEdit*>(Item(id));
    return Fs_FromNative(edit ? edit->text().toStdString() : std::string());
}

bool UpdateDlg::OnInitDialog() {
    SetPathText(IDC_KWF, m_kwfPath);
    SetPathText(IDC_FOLDER, m_folder);
    UpdateOkState();
    DragAcceptFiles(true);
    if (!m_kwfPath.empty()) return true;
    SetItemText(IDC_KWF, "vark.kwf");
    FocusItem(IDC_KWF);
    return false;
}

void UpdateDlg::UpdateOkState() {
    EnableItem(IDOK, !GetItemText(IDC_FOLDER).empty() && !GetItemText(IDC_KWF).empty());
}

void UpdateDlg::OnHelp() {
    VarkApp_OpenHelp();
}

void UpdateDlg::OnEditChange(int id) {
    if (id == IDC_KWF || id == IDC_FOLDER) UpdateOkState();
}

void UpdateDlg::OnCommand(int id) {
    if (id == IDC_BROWSE_KWF) OnBrowseKwf();
    if (id == IDC_BROWSE_FOLDER) OnBrowseFolder();
}

void UpdateDlg::OnBrowseKwf() {
    Dlg_FileRequest request{true, "kwf", "vark.kwf", {}};
    if (!RunFileDialog(this, &request)) return;
    SetItemQText(IDC_KWF, QString::fromStdString(request.path));
}

void UpdateDlg::OnBrowseFolder() {
    Dlg_FileRequest request{false, "htm", "any", {}};
    if (!RunFileDialog(this, &request)) return;
    SetItemQText(IDC_FOLDER, QString::fromStdString(UpdateInput_PickedFolder(request.path)));
}

void UpdateDlg::OnDropFiles(const std::vector<std::string>& paths) {
    // The folder is process-wide, as the dropped item's buffer always was.
    static char folder[kPathSize];
    char kwf[kPathSize];
    if (const char* message = UpdateInput_Drop(paths.front().c_str(), folder, kwf)) {
        mistake(message);
        return;
    }
    SetPathText(IDC_KWF, kwf);
    SetPathText(IDC_FOLDER, folder);
}

void UpdateDlg::OnOK() {
    VarkApp_CheckOwner("UpdateDlg::OnOK");
    const std::string folderText = GetPathText(IDC_FOLDER);
    const std::string kwfText = GetPathText(IDC_KWF);
    char folder[kPathSize], kwf[kPathSize];
    if (const char* message = UpdateInput_Check(folderText.c_str(), kwfText.c_str(), folder, kwf)) {
        mistake(message);
        return;
    }

    ProgressDlg progress(this);
    UpdateJob job{folder, kwf, ProgressDlg_OnProgress, &progress, 0};
    progress.m_job = &job;
    const int result = progress.DoModal();
    progress.Join();
    if (result != IDOK) return;
    m_kwfPath = kwf;
    m_folder = GetPathText(IDC_FOLDER);
    m_kwfText = GetItemText(IDC_KWF);
    EndDialog(IDOK);
}
