#include "fuzz/fuzzsupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/varkapp.h"
#include "components/bigstack.h"
#include "platform/fs.h"
#include "platform/msgbox.h"

namespace {
// Answers every box with OK and shows nothing.
class Silent : public MsgBox_Backend {
   public:
    int Show(const char*, const char*, int, int) override { return MsgBox_IDOK; }
};
Silent g_silent;
std::string g_native;
std::string g_inside;
int g_freeFd = -1;  // the lowest free descriptor when the input began

int lowestFreeFd() {
    int fd = dup(2);
    if (fd >= 0) close(fd);
    return fd;
}
}  // namespace

void Fuzz_Fail(const char* what) {
    fprintf(stderr, "FUZZ FINDING: %s\n", what);
    abort();
}

void Fuzz_Init() {
    static bool done = false;
    g_freeFd = lowestFreeFd();  // per input: what libFuzzer holds open may change
    if (done) return;
    done = true;
    VarkApp_InitLibrary();
    MsgBox_SetBackend(&g_silent);
    const char* root = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    char tmpl[256];
    snprintf(tmpl, sizeof tmpl, "%s/tessaly-fuzz-XXXXXX", root);
    if (!mkdtemp(tmpl)) Fuzz_Fail("no temporary folder");
    g_native = tmpl;
    g_inside = Fs_FromNative(g_native);
    // The folder goes when the process ends normally; a crash leaves it for the finding.
    atexit([] {
        std::string cmd = "rm -rf '" + g_native + "'";
        if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", g_native.c_str());
    });
}

const std::string& Fuzz_Folder() {
    return g_inside;
}

std::string Fuzz_WriteFile(const char* name, const uint8_t* data, size_t size) {
    std::string native = g_native + "/" + name;
    FILE* f = fopen(native.c_str(), "wb");
    if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0) Fuzz_Fail("cannot write input");
    return g_inside + "\\" + name;
}

Fuzz_State Fuzz_GetState() {
    const BigStack* bs = BigStack_Sys();
    return {Except3_GetSys()->nTry, bs->sp, bs->block1};
}

void Fuzz_CheckState(const Fuzz_State& before) {
    const Except3_Sys* sys = Except3_GetSys();
    if (sys->nTry != before.nTry || sys->bExcept || sys->bAgain || sys->bCatch || sys->bNoJump)
        Fuzz_Fail("frame stack not back where it was");
    const BigStack* bs = BigStack_Sys();
    if (bs->sp != before.sp || bs->block1 != before.block1)
        Fuzz_Fail("scratch stack not back where it was");
}

void Fuzz_CheckFiles() {
    if (lowestFreeFd() == g_freeFd) return;
    for (int fd = g_freeFd; fd < g_freeFd + 16; fd++) {
        char link[64], target[512];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, target, sizeof target - 1);
        if (n > 0) fprintf(stderr, "open: %d -> %.*s\n", fd, static_cast<int>(n), target);
    }
    Fuzz_Fail("a file was left open");
}

Fuzz_Guarded::Fuzz_Guarded(size_t size) : size_(size) {
    block_ = static_cast<char*>(malloc(size + 2 * kGuard));
    memset(block_, 0xA5, size + 2 * kGuard);
    data_ = block_ + kGuard;
}

Fuzz_Guarded::~Fuzz_Guarded() {
    free(block_);
}

void Fuzz_Guarded::Check() const {
    for (size_t i = 0; i < kGuard; i++)
        if (static_cast<unsigned char>(block_[i]) != 0xA5 ||
            static_cast<unsigned char>(block_[kGuard + size_ + i]) != 0xA5)
            Fuzz_Fail("write outside an output buffer");
}
