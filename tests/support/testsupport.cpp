#include "support/testsupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "components/arrx.h"
#include "components/bigstack.h"
#include "platform/codepage.h"
#include "platform/fs.h"

namespace {
alignas(8) unsigned char g_poolBlock[3920];
Except3_Frame g_frames[10];

void setUpLibrary() {
    BigStack_InitSys();
    ArrX_Able_Init(Errors_GetMsgPool(), g_poolBlock, sizeof g_poolBlock, sizeof(Errors_Msg), 0);
    Except3_Sys* sys = Except3_GetSys();
    sys->nTry = 0;
    sys->bAgain = sys->bCatch = 0;
    sys->msg = nullptr;
    Except3_Init(sys, g_frames, sizeof g_frames);
    Errors_Callback = Except3_RaiseHook;
    Errors_EndReport();
    Errors_InitDebugBuf();
    Errors_SetDebugDisplay(true);
}

MsgBox_Recorder* g_deathRecorder = nullptr;
}  // namespace

void LibraryTest::SetUp() {
    // Death tests re-run the test in a fresh process, so process-wide state
    // (report ids, first log write) starts as at program start there.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setUpLibrary();
    MsgBox_SetBackend(&boxes_);
}

void LibraryTest::TearDown() {
    MsgBox_SetBackend(nullptr);
    Errors_Callback = nullptr;
}

MsgBox_Recorder* SetUpLibraryForDeath() {
    setUpLibrary();
    g_deathRecorder = new MsgBox_Recorder;
    g_deathRecorder->echo = true;
    MsgBox_SetBackend(g_deathRecorder);
    std::atexit([] { fprintf(stderr, "BOXES=%zu\n", g_deathRecorder->boxes.size()); });
    return g_deathRecorder;
}

std::string Sjis(const char8_t* utf8) {
    return CodePage_Utf8ToSjis(reinterpret_cast<const char*>(utf8));
}

std::string Utf8(const std::string& sjis) {
    return CodePage_SjisToUtf8(sjis);
}

std::string U8(const char8_t* utf8) {
    return reinterpret_cast<const char*>(utf8);
}

std::string TestDataDir() {
    const char* env = getenv("TESSALY_TEST_DATA");
    const std::filesystem::path dir = (env && *env) ? env : TESSALY_TEST_DATA_DIR;
    return std::filesystem::absolute(dir).lexically_normal().string();
}

std::string ReadFile(const std::string& native) {
    std::ifstream in(native, std::ios::binary);
    if (!in) return "(missing)";
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> BoxTexts(const MsgBox_Recorder& recorder, const char* title) {
    std::vector<std::string> texts;
    for (const MsgBox_Recorder::Box& b : recorder.boxes)
        if (!title || b.title == title) texts.push_back(b.text);
    return texts;
}

std::string PtrText(const void* p) {
    char buf[32];
    snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

int OpenDescriptors() {
    int n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
         it != std::filesystem::directory_iterator(); ++it)
        n++;
    return n;
}

// ---- Allocation counter -------------------------------------------------

namespace {
thread_local long t_allocs = 0;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));
namespace {
void mallocHook(const volatile void*, size_t) {
    t_allocs++;
}
void freeHook(const volatile void*) {}
struct InstallHooks {
    InstallHooks() { __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook); }
} g_installHooks;
}  // namespace
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
    t_allocs++;
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t m) {
    t_allocs++;
    return __libc_calloc(n, m);
}
void* realloc(void* p, size_t n) {
    t_allocs++;
    return __libc_realloc(p, n);
}
}
#endif

AllocCounter::AllocCounter() : start_(t_allocs) {}
AllocCounter::~AllocCounter() = default;
long AllocCounter::Count() const {
    return t_allocs - start_;
}

// ---- Temporary folders --------------------------------------------------

TempDir::TempDir() {
    const char* root = getenv("TMPDIR");
    std::string tmpl = std::string(root && *root ? root : "/tmp") + "/tessaly-test-XXXXXX";
    char* made = mkdtemp(tmpl.data());
    if (!made) abort();
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::inside() const {
    return Fs_FromNative(path_);
}

std::string TempDir::Write(const std::string& rel, const std::string& bytes) const {
    std::filesystem::path p = std::filesystem::path(path_) / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << bytes;
    return p.string();
}

std::string TempDir::Read(const std::string& rel) const {
    std::ifstream in(std::filesystem::path(path_) / rel, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string NumberedName(const char* prefix, int n, const char* suffix) {
    std::string name(prefix);
    name += std::to_string(n);
    name += suffix;
    return name;
}
