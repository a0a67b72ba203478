// The page reader over arbitrary page bytes: CreKey_ReadPage on a temporary
// file, its entry written to the null device.
#include "app/crekey.h"
#include "components/inifile.h"
#include "fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    const std::string page = Fuzz_WriteFile("page.htm", data, size);
    IniWriter w{};
    Fuzz_Run([&] { IniFile_OpenWrite(&w, "\\dev\\null"); });
    Fuzz_Run([&] { CreKey_ReadPage(page.c_str(), Fuzz_Folder().c_str(), &w); });
    Fuzz_Run([&] { IniFile_CloseWrite(&w); });
    Fuzz_CheckFiles();
    return 0;
}
