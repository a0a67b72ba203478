// Helpers of the dialog tests: a QApplication on the offscreen platform, the
// resources of the source tree, a program folder of the test's own, a
// scripted browser, a message-box recorder, and hooks that act on each dialog
// once its modal loop runs (with a watchdog so no test can hang).
#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/browser.h"
#include "platform/msgbox.h"
#include "platform/qt/dialog.h"
#include "support/testsupport.h"

// The browser as the search window sees it, scripted by the test.
class ScriptedBrowser : public VarkBrowser {
   public:
    std::string app = "IExplore";  // the association's DDE application
    bool alive = true;             // Probe's answer
    std::string reply;             // WWW_GetWindowInfo's reply (CP932)
    std::vector<std::string> requests, opened;

    void ReadAssoc(char* out, int size) override;
    bool Probe() override { return alive; }
    void Request(const char* item, char* out, int size) override;
    void OpenURL(const char* url) override { opened.push_back(url); }
};

class GuiTest : public testing::Test {
   public:
    void SetUp() override;
    void TearDown() override;

    // Runs action on the next dialog of this template shown (once).
    void OnShown(int templateId, std::function<void(DlgBase*)> action);
    // Types text (UTF-8) into an edit box, as a person would (change signals fire).
    static void Type(DlgBase* dialog, int id, const std::string& utf8);
    // Clicks a push button.
    static void Click(DlgBase* dialog, int id);
    // Sends one key press to the dialog's focused control.
    static void Key(DlgBase* dialog, Qt::Key key);
    // The native path of the program folder, and a path inside it.
    std::string Program(const std::string& rel = "") const;
    // The inside form of a native path.
    static std::string Inside(const std::string& native);
    // Writes a database of pages built `age` seconds before the pinned clock.
    std::string WriteDatabase(const std::string& rel, long age, int pages,
                              const std::string& base = ".") const;
    // The pinned clock of the age line.
    static time_t Now();

    // Starts over in a new empty program folder (for the next case of a table).
    void NewProgramFolder();

    std::unique_ptr<TempDir> dir_;
    std::string programFile_;  // inside: <program folder>\tessaly
    ScriptedBrowser browser_;
    MsgBox_Recorder boxes_;
    std::map<int, std::vector<std::function<void(DlgBase*)>>> actions_;
};

// Lets a progress call through when the test says so: the worker waits in
// Pass() until Open() (or the gate's destructor) lets it go.
class ProgressGate {
   public:
    ProgressGate();
    ~ProgressGate();
    // Blocks the worker until opened; counts the calls.
    void Pass();
    void Open();
    // True once the worker waits at the gate (polled by the UI thread).
    bool Waiting();
    int Calls();

   private:
    struct State;
    State* s_;
};
