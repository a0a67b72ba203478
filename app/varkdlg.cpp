#include "app/varkdlg.h"

#include <QDir>
#include <QIcon>
#include <QProcess>
#include <cstring>

#include "app/browser.h"
#include "app/kwf.h"
#include "app/resource.h"
#include "app/respage.h"
#include "app/updatedlg.h"
#include "app/varkapp.h"
#include "components/bigstack.h"
#include "components/errors.h"
#include "components/strx.h"
#include "components/winx.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/msgbox.h"

char g_prevURL[512];

namespace {
constexpr int kPathSize = 260;
time_t (*g_now)() = nullptr;

time_t now() {
    return g_now ? g_now() : time(nullptr);
}

// Compares two texts with ASCII letters folded; 0 when equal.
int compareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        x = CodePage_ToLower(x);
        y = CodePage_ToLower(y);
        if (x != y || !x) return x - y;
    }
}

}  // namespace

// ---- The about box ----------------------------------------------------------

AboutDlg::AboutDlg(QWidget* parent) : DlgBase(IDD_ABOUTBOX, parent) {}

bool AboutDlg::OnInitDialog() {
    SetItemText(IDC_BUILD_DATE, m_buildDate.c_str());
    return true;
}

// ---- The main window ----------------------------------------------------------

VarkDlg::VarkDlg(std::string commandLine, std::string programFile)
    : DlgBase(IDD_VARK),
      m_commandLine(std::move(commandLine)),
      m_programFile(std::move(programFile)) {
    setWindowIcon(QIcon(QString::fromStdString(Res_IconPath(IDI_FRESH))));
}

void VarkDlg::SetClock(time_t (*clock)()) {
    g_now = clock;
}

bool VarkDlg::OnInitDialog() {
    std::string about = Res_LoadString(IDS_ABOUTBOX);
    if (!about.empty()) AppendSysMenuItem(0x10, about.c_str());

    VarkApp_InitLibrary(m_programFile.empty() ? nullptr : m_programFile.c_str());
    VarkApp_ClaimLibrary();
    g_prevURL[0] = '\0';

    // The command line: one path, made absolute against the folder the
    // program was started in. A path the system's buffers cannot hold whole
    // is refused rather than cut.
    m_kwf.clear();
    if (!m_commandLine.empty()) {
        std::string native = m_commandLine;
        if (native[0] != '/') native = QDir::currentPath().toStdString() + "/" + native;
        std::string inside = Fs_FromNative(native);
        if (inside.size() >= kPathSize)
            ERRORS_REPORT(Errors_Unofficial, "データベースのパスが長すぎます（%d バイト）。",
                          static_cast<int>(inside.size()));
        char path[kPathSize];
        StrX_CopyN(path, inside.c_str(), sizeof path);
        StrX_CleanDots(path);
        m_kwf = path;
    }

    BigStack* bs = BigStack_Sys();
    if (m_kwf.empty()) {
        BigStack_Push(bs);
        char* ini = static_cast<char*>(BigStack_Alloc(bs, kPathSize));
        char* value = static_cast<char*>(BigStack_Alloc(bs, kPathSize));
        StrX_AbsPathExe(ini, "vark.ini", kPathSize);
        if (Fs_Access(ini, Fs_Access_Exist) == 0) {
            VarkIni_ReadDefaultKwf(ini, value);
            if (value[0]) {
                size_t folder =
                    strlen(StrX_GetExePath()) - strlen(StrX_GetFileNamePtr(StrX_GetExePath()));
                bool absolute = value[0] == '\\' || value[0] == '/' || value[1] == ':';
                // Joined to the program folder it must fit StrX_AbsPathExe's 256 bytes.
                if (!absolute && folder + strlen(value) > 256)
                    ERRORS_REPORT(Errors_Unofficial, "DefaultKwf のパスが長すぎます。%s", value);
                char* path = static_cast<char*>(BigStack_Alloc(bs, kPathSize));
                StrX_AbsPathExe(path, value, kPathSize);
                m_kwf = path;
            }
        }
        BigStack_Pop(bs);
    }

    m_bExists = !m_kwf.empty() && Fs_Access(m_kwf.c_str(), Fs_Access_Exist) == 0;
    if (m_bExists && Kwf_ReadVersion(m_kwf.c_str()) > 101)
        ERRORS_REPORT(Errors_Unofficial,
                      "新しいバージョンのファイルです。新しいアプリケーションをインストールしてく"
                      "ださい。");
    if (!m_bExists || Kwf_IsNewFile(m_kwf.c_str())) {
        m_outFile = "out.htm";
        m_dispURL = "outframe.htm";
        m_dispTarget.clear();
        EnableItem(IDC_UPDATE, true);
    } else {
        char outFile[kPathSize], dispURL[kPathSize], target[40];
        int canUpdate = 0;
        Kwf_ReadDisplay(m_kwf.c_str(), outFile, sizeof outFile, dispURL, sizeof dispURL, target,
                        sizeof target, &canUpdate);
        m_outFile = outFile;
        m_dispURL = dispURL;
        m_dispTarget = target;
        EnableItem(IDC_UPDATE, canUpdate != 0);
        char guide[256];
        if (!Kwf_ReadGuide(m_kwf.c_str(), guide, sizeof guide)) {
            ShowItem(IDC_AGE, false);
            ShowItem(IDC_UPDATE, false);
            ShowItem(IDC_HELP_BUTTON, false);
            SetItemText(IDC_GUIDE, guide);
            ShowItem(IDC_GUIDE, true);
        }
    }
    RefreshStatus();
    return true;
}

void VarkDlg::RefreshStatus() {
    VarkApp_CheckOwner("VarkDlg::RefreshStatus");
    if (m_kwf.empty() || Fs_Access(m_kwf.c_str(), Fs_Access_Exist) != 0) {
        SetItemText(IDC_AGE, "ファイルが見つかりません");
        SetItemIcon(IDC_STATE_ICON, IDI_STALE);
        EnableItem(IDOK, false);
        return;
    }
    if (Kwf_IsNewFile(m_kwf.c_str())) {
        SetItemText(IDC_AGE, "データがありません。");
        SetItemText(IDC_PAGE_COUNT, "登録ページ数：0");
        SetItemIcon(IDC_STATE_ICON, IDI_STALE);
        EnableItem(IDOK, false);
        return;
    }
    time_t updated = 0;
    Kwf_ReadUpdateTime(m_kwf.c_str(), &updated);
    char outFile[kPathSize], dispURL[kPathSize], target[kPathSize];
    int canUpdate = 0;
    Kwf_ReadDisplay(m_kwf.c_str(), outFile, sizeof outFile, dispURL, sizeof dispURL, target,
                    sizeof target, &canUpdate);
    m_bExists = 1;
    m_outFile = outFile;
    m_dispURL = dispURL;
    m_dispTarget = target;

    // A database stamped later than now (a clock set back, a copy from another
    // machine) counts as built now: 0 days, fresh.
    double elapsed = difftime(now(), updated);
    if (elapsed < 0) elapsed = 0;
    struct tm span;
    StrX_SplitSpan(&span, elapsed);
    long days = span.tm_mday;
    char text[100];
    snprintf(text, sizeof text, "ﾃﾞｰﾀﾍﾞｰｽは %ld日前に更新されています。", days);
    SetItemText(IDC_AGE, text);
    snprintf(text, sizeof text, "登録ページ数：%d", Kwf_CountPages(m_kwf.c_str()));
    SetItemText(IDC_PAGE_COUNT, text);
    SetItemIcon(IDC_STATE_ICON, days < 30 ? IDI_FRESH : IDI_STALE);
    EnableItem(IDOK, true);
}

void VarkDlg::OnOK() {
    VarkApp_CheckOwner("VarkDlg::OnOK");
    // A keyword the database cannot hold would be searched for as something
    // else: it is refused and the window stays as it was.
    bool exact = true;
    const std::string keywords = GetTypedText(IDC_KEYWORD, &exact);
    if (!exact) {
        MsgBox_Show("検索 - Tessaly!",
                    "キーワードに Shift_JIS で表せない文字があります。この文字は検索できません。",
                    MsgBox_OK, MsgBox_IconWarning);
        return;
    }
    BigStack* bs = BigStack_Sys();
    BigStack_Push(bs);
    char* reply = static_cast<char*>(BigStack_Alloc(bs, 512));
    char* dispAsURL = static_cast<char*>(BigStack_Alloc(bs, 512));
    char* iniPath = static_cast<char*>(BigStack_Alloc(bs, kPathSize));
    BeginWaitCursor();

    VarkBrowser* browser = VarkBrowser_Get();
    char app[256];
    browser->ReadAssoc(app, sizeof app);
    const bool alive = browser->Probe();
    if (strcmp(app, "IExplore") != 0) {
        g_prevURL[0] = '\0';
    } else {
        reply[0] = '\0';
        browser->Request("WWW_GetWindowInfo", reply, 512);
        char url[512];
        WinX_ReplyURL(reply, url, sizeof url);
        if (StrX_IsRelativePath(m_dispURL.c_str()))
            StrX_CopyN(dispAsURL, m_dispURL.c_str(), 512);
        else
            StrX_PathToUrl(dispAsURL, m_dispURL.c_str());
        StrX_AbsPathExe(iniPath, "vark.ini", kPathSize);
        if (!alive) {
            VarkIni_WritePrevURL(iniPath, "");
            g_prevURL[0] = '\0';
        } else if (compareNoCase(url, dispAsURL) != 0) {
            VarkIni_WritePrevURL(iniPath, url);
            StrX_CopyN(g_prevURL, url, sizeof g_prevURL);
        } else {
            VarkIni_ReadPrevURL(iniPath, g_prevURL);
        }
    }

    ResPage page;
    ResPage_Open(&page, m_outFile.c_str());
    ResPage_SetTarget(&page, m_dispTarget.c_str());
    ResPage_WriteHead(&page, keywords.c_str(), g_prevURL);
    Kwf_HitSink sink = ResPage_MakeSink(&page);
    Kwf_Search(m_kwf.c_str(), keywords.c_str(), &sink);
    ResPage_WriteFoot(&page);
    ResPage_Close(&page);

    char shown[kPathSize];
    browser->OpenURL(Kwf_DisplayPage(m_dispURL.c_str(), shown, sizeof shown));
    BigStack_Pop(bs);
    EndDialog(IDOK);
    EndWaitCursor();
}

void VarkDlg::OnCommand(int id) {
    if (id == IDC_UPDATE) OnUpdateDatabase();
    if (id == IDC_HELP_BUTTON) OnHelpButton();
}

void VarkDlg::OnSysCommand(int command) {
    if ((command & 0xFFF0) != 0x10) return;
    AboutDlg about(this);
    about.m_buildDate = StrX_BuildDateText(__DATE__, __TIME__, "%n.%#d.%Y");
    about.DoModal();
}

void VarkDlg::OnUpdateDatabase() {
    VarkApp_CheckOwner("VarkDlg::OnUpdateDatabase");
    UpdateDlg update(this);
    update.m_kwfPath = m_kwf;
    static char folder[256];
    folder[0] = '\0';
    if (!m_kwf.empty() && Fs_Access(m_kwf.c_str(), Fs_Access_Exist) == 0) {
        if (Kwf_IsNewFile(m_kwf.c_str())) {
            StrX_CopyN(folder, m_kwf.c_str(), sizeof folder);
            StrX_CutFileName(folder);
        } else {
            Kwf_ReadBase(m_kwf.c_str(), folder, 255);
        }
    }
    update.m_folder = folder;
    if (update.DoModal() == IDOK) {
        m_kwf = update.m_kwfPath;
        RefreshStatus();
    }
}

void VarkDlg::OnHelpButton() {
    VarkApp_OpenHelp();
}

void VarkApp_OpenHelp() {
    // The program folder is read, never changed, after start-up; no scratch
    // is taken, so a running worker's stack is not touched.
    const char* exe = StrX_GetExePath();
    std::string help(exe, strlen(exe) - strlen(StrX_GetFileNamePtr(exe)));
    help += "help.htm";
    QProcess::startDetached(QStringLiteral("xdg-open"),
                            {QString::fromStdString(Fs_ToNative(help))});
}

// ---- The application ----------------------------------------------------------

bool VarkApp::InitInstance() {
    VarkDlg dialog(m_commandLine, m_programFile);
    dialog.DoModal();
    return false;
}
