// Every database header reader over an arbitrary database file.
#include <ctime>

#include "app/kwf.h"
#include "fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    const std::string path = Fuzz_WriteFile("head.kwf", data, size);
    const char* p = path.c_str();
    Fuzz_Run([&] { Kwf_ReadVersion(p); });
    Fuzz_Run([&] { Kwf_IsNewFile(p); });
    Fuzz_Run([&] {
        Fuzz_Guarded base(260);
        Kwf_ReadBase(p, base.data(), 260);
        base.Check();
    });
    Fuzz_Run([&] {
        time_t t = 0;
        Kwf_ReadUpdateTime(p, &t);
    });
    Fuzz_Run([&] { Kwf_CountPages(p); });
    Fuzz_Run([&] {
        Fuzz_Guarded result(260), url(100), target(20);
        int canUpdate = 0;
        Kwf_ReadDisplay(p, result.data(), 260, url.data(), 100, target.data(), 20, &canUpdate);
        result.Check();
        url.Check();
        target.Check();
    });
    Fuzz_Run([&] {
        Fuzz_Guarded guide(64);
        Kwf_ReadGuide(p, guide.data(), 64);
        guide.Check();
    });
    Fuzz_CheckFiles();
    return 0;
}
