// The desktop a browser test runs on, and a fake web browser.
//
// DesktopEnv gives one test a desktop of its own: a temporary folder holding
// the registry store (TESSALY_REGISTRY), the runtime folder of DDE services
// (XDG_RUNTIME_DIR), the configuration folder (XDG_CONFIG_HOME) and a bin
// folder put first on PATH for stand-in programs, so tests run side by side
// never meet.
//
// FakeBrowser is a fake web browser: the DDE service "IExplore" on the topics
// "WWW_GetWindowInfo" and "WWW_OpenURL", run on a server thread of this
// process. A request answers the current page as "URL","title",""; an execute
// records its text (the text "exit-fake-browser" asks the fake to end).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dde.h"
#include "support/testsupport.h"

class DesktopEnv {
   public:
    DesktopEnv();
    ~DesktopEnv();
    const TempDir& dir() const { return dir_; }
    // Native paths of the parts.
    std::string Registry() const { return dir_.path() + "/registry.reg"; }
    std::string Bin() const { return dir_.path() + "/bin"; }
    // Writes an executable shell script to bin/name (or to a native path
    // when name holds '/'); returns its native path.
    std::string Script(const std::string& name, const std::string& body) const;
    // A stand-in program that writes its current folder and then each
    // argument, one per line, to "<its path>.rec" once it has them all.
    std::string Recorder(const std::string& name) const;

   private:
    TempDir dir_;
    std::string oldPath_;
};

// The whole file at a native path once it exists, waiting at most ms for it;
// "(missing)" when it does not appear.
std::string WaitForFile(const std::string& native, int ms = 10000);
// The file's content once it holds text, waiting at most ms; what it holds then.
std::string WaitForText(const std::string& native, const std::string& text, int ms = 10000);

class FakeBrowser : public Dde_Service {
   public:
    // Starts serving; false when the sockets cannot be made.
    bool Start();
    ~FakeBrowser() override;

    bool OnConnect(const std::string& topic) override;
    bool OnRequest(const std::string& topic, const std::string& item, UINT fmt,
                   std::string* reply) override;
    bool OnExecute(const std::string& topic, const std::string& text) override;

    // Waits until n texts were executed or ms passed; returns the texts.
    std::vector<std::string> WaitOpened(size_t n, int ms);
    // Waits until asked to end or ms passed; true when asked.
    bool WaitExit(int ms);

    std::string url = "http://example.jp/now.htm";
    std::string title = "Example";
    std::string reply;    // when not empty, the whole reply of a request
    bool refuse = false;  // refuse every conversation

   private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> opened_;
    bool exit_ = false;
    Dde_Server* server_ = nullptr;
};

// Sends one execute to service on topic through a DDE instance of its own;
// true when it was sent.
bool SendExecute(const char* service, const char* topic, const std::string& text);
