#include "guisupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <mutex>

#include "app/crekey.h"
#include "app/updatedlg.h"
#include "app/varkapp.h"
#include "app/varkdlg.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "platform/fs.h"
#include "platform/qt/resources.h"

namespace {
constexpr time_t kNow = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr int kWatchdogMs = 20000;
}  // namespace

void ScriptedBrowser::ReadAssoc(char* out, int size) {
    StrX_CopyN(out, app.c_str(), size);
}

void ScriptedBrowser::Request(const char* item, char* out, int size) {
    requests.push_back(item);
    StrX_CopyN(out, reply.c_str(), size);
}

void GuiTest::SetUp() {
    setenv("TZ", "UTC", 1);
    tzset();
    NewProgramFolder();
    VarkApp_ReleaseLibrary();
    MsgBox_SetBackend(&boxes_);
    VarkBrowser_Set(&browser_);
    VarkDlg::SetClock(&GuiTest::Now);
    DlgBase::SetShownHook([this](DlgBase* dialog) {
        // A watchdog per dialog: a test that forgets a dialog fails instead of hanging.
        QTimer::singleShot(kWatchdogMs, dialog, [dialog] {
            ADD_FAILURE() << "dialog " << dialog->TemplateId() << " still open";
            dialog->EndDialog(IDCANCEL);
        });
        auto& list = actions_[dialog->TemplateId()];
        if (list.empty()) return;
        auto action = list.front();
        list.erase(list.begin());
        action(dialog);
    });
}

void GuiTest::NewProgramFolder() {
    dir_ = std::make_unique<TempDir>();
    programFile_ = Inside(dir_->path()) + "\\tessaly";
    VarkApp_InitLibrary(programFile_.c_str());
}

void GuiTest::TearDown() {
    DlgBase::SetShownHook(nullptr);
    DlgBase::SetFileDialogFunc(nullptr);
    DlgBase::SetMenuHook(nullptr);
    ProgressDlg::SetProgressGate(nullptr);
    VarkDlg::SetClock(nullptr);
    VarkBrowser_Set(nullptr);
    MsgBox_SetBackend(nullptr);
}

void GuiTest::OnShown(int templateId, std::function<void(DlgBase*)> action) {
    actions_[templateId].push_back(std::move(action));
}

void GuiTest::Type(DlgBase* dialog, int id, const std::string& utf8) {
    auto* edit = qobject_cast<QLineEdit*>(dialog->Item(id));
    ASSERT_NE(edit, nullptr) << id;
    edit->setFocus();
    edit->selectAll();
    edit->del();
    edit->insert(QString::fromStdString(utf8));
}

void GuiTest::Click(DlgBase* dialog, int id) {
    auto* button = qobject_cast<QPushButton*>(dialog->Item(id));
    ASSERT_NE(button, nullptr) << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

void GuiTest::Key(DlgBase* dialog, Qt::Key key) {
    QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
    QTest::keyClick(target, key);
}

std::string GuiTest::Program(const std::string& rel) const {
    return rel.empty() ? dir_->path() : dir_->path() + "/" + rel;
}

std::string GuiTest::Inside(const std::string& native) {
    return Fs_FromNative(native);
}

time_t GuiTest::Now() {
    return kNow;
}

std::string GuiTest::WriteDatabase(const std::string& rel, long age, int pages,
                                   const std::string& base) const {
    std::string native = Program(rel);
    std::string inside = Inside(native);

    IniWriter writer{};
    IniFile_OpenWrite(&writer, inside.c_str());
    CreKey_WriteHeaderAt(&writer, base.c_str(), "main", kNow - age);
    for (int i = 0; i < pages; ++i) {
        std::string name = "p" + std::to_string(i) + ".htm";
        CreKey_WriteLink(&writer, ("title " + std::to_string(i)).c_str(), "kyoto; nara",
                         name.c_str());
    }
    IniFile_CloseWrite(&writer);
    return native;
}

// ---- ProgressGate ----

struct ProgressGate::State {
    std::mutex m;
    std::condition_variable cv;
    bool open = false, waiting = false;
    int calls = 0;
};

ProgressGate::ProgressGate() : s_(new State) {
    ProgressDlg::SetProgressGate([this](const CreKey_Progress*) { Pass(); });
}

ProgressGate::~ProgressGate() {
    Open();
    ProgressDlg::SetProgressGate(nullptr);
    delete s_;
}

void ProgressGate::Pass() {
    std::unique_lock<std::mutex> lock(s_->m);
    ++s_->calls;
    s_->waiting = true;
    s_->cv.wait(lock, [this] { return s_->open; });
    s_->waiting = false;
}

void ProgressGate::Open() {
    std::lock_guard<std::mutex> lock(s_->m);
    s_->open = true;
    s_->cv.notify_all();
}

bool ProgressGate::Waiting() {
    std::lock_guard<std::mutex> lock(s_->m);
    return s_->waiting;
}

int ProgressGate::Calls() {
    std::lock_guard<std::mutex> lock(s_->m);
    return s_->calls;
}

// ---- main ----

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A runtime folder of this process's own (Qt wants one; DDE services live there).
    std::string runtime = "/tmp/tessaly-rt-XXXXXX";
    if (!getenv("XDG_RUNTIME_DIR") && mkdtemp(runtime.data()))
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    QApplication app(argc, argv);
    std::string error;
    const char* resources = getenv("TESSALY_RESOURCES");
    if (!Res_Load(resources ? resources : TESSALY_SOURCE_RESOURCES, &error)) {
        fprintf(stderr, "resources: %s\n", error.c_str());
        return 1;
    }
    int result = RUN_ALL_TESTS();
    if (runtime.back() != 'X') std::filesystem::remove_all(runtime);
    return result;
}
