#include "support/fakebrowser.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

namespace {

void pause10ms() {
    timespec ts = {0, 10 * 1000000L};
    nanosleep(&ts, nullptr);
}

}  // namespace

DesktopEnv::DesktopEnv() {
    setenv("TESSALY_REGISTRY", Registry().c_str(), 1);
    std::string run = dir_.path() + "/run";
    mkdir(run.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    std::string config = dir_.path() + "/config";
    mkdir(config.c_str(), 0700);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    mkdir(Bin().c_str(), 0755);
    const char* path = getenv("PATH");
    oldPath_ = path ? path : "/usr/bin:/bin";
    setenv("PATH", (Bin() + ":" + oldPath_).c_str(), 1);
}

DesktopEnv::~DesktopEnv() {
    setenv("PATH", oldPath_.c_str(), 1);
}

std::string DesktopEnv::Script(const std::string& name, const std::string& body) const {
    std::string path = name.find('/') == std::string::npos ? Bin() + "/" + name : name;
    {
        std::ofstream out(path, std::ios::binary);
        out << "#!/bin/sh\n" << body;
    }
    chmod(path.c_str(), 0755);
    return path;
}

std::string DesktopEnv::Recorder(const std::string& name) const {
    return Script(name,
                  "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.tmp\" && "
                  "mv \"$0.tmp\" \"$0.rec\"\n");
}

std::string WaitForFile(const std::string& native, int ms) {
    for (int waited = 0; access(native.c_str(), F_OK) != 0 && waited < ms; waited += 10)
        pause10ms();
    return ReadFile(native);
}

std::string WaitForText(const std::string& native, const std::string& text, int ms) {
    std::string got = ReadFile(native);
    for (int waited = 0; got.find(text) == std::string::npos && waited < ms; waited += 10) {
        pause10ms();
        got = ReadFile(native);
    }
    return got;
}

bool FakeBrowser::Start() {
    server_ = Dde_ServerStart("IExplore", {"WWW_GetWindowInfo", "WWW_OpenURL"}, this);
    return server_ != nullptr;
}

FakeBrowser::~FakeBrowser() {
    Dde_ServerStop(server_);
}

bool FakeBrowser::OnConnect(const std::string&) {
    return !refuse;
}

bool FakeBrowser::OnRequest(const std::string& topic, const std::string& item, UINT fmt,
                            std::string* out) {
    if (topic != "WWW_GetWindowInfo" || item != "-1" || fmt != CF_TEXT) return false;
    *out = reply.empty() ? "\"" + url + "\",\"" + title + "\",\"\"" : reply;
    return true;
}

bool FakeBrowser::OnExecute(const std::string&, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (text == "exit-fake-browser")
        exit_ = true;
    else
        opened_.push_back(text);
    changed_.notify_all();
    return true;
}

std::vector<std::string> FakeBrowser::WaitOpened(size_t n, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return opened_.size() >= n; });
    return opened_;
}

bool FakeBrowser::WaitExit(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return exit_; });
}

bool SendExecute(const char* service, const char* topic, const std::string& text) {
    DWORD inst = 0;
    if (DdeInitializeA(&inst, nullptr, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return false;
    HSZ s = DdeCreateStringHandleA(inst, service, CP_WINANSI);
    HSZ t = DdeCreateStringHandleA(inst, topic, CP_WINANSI);
    HCONV c = DdeConnect(inst, s, t, nullptr);
    bool sent = c && DdeClientTransaction(reinterpret_cast<const BYTE*>(text.data()),
                                          static_cast<DWORD>(text.size()), c, nullptr, 0,
                                          XTYP_EXECUTE, 1000, nullptr) != nullptr;
    DdeUninitialize(inst);
    return sent;
}
