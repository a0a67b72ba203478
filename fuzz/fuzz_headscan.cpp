// The two readings of a page's head over arbitrary page bytes: the scan of the
// bytes the reader holds and the lexer's reading must write the same entry (or
// none alike) and give the same skip reason.
#include <fstream>
#include <iterator>
#include <string>

#include "app/crekey.h"
#include "components/inifile.h"
#include "fuzz/fuzzsupport.h"
#include "platform/fs.h"

namespace {

// What one reading makes of the page: the entry it writes, its result and reason.
std::string readPage(const std::string& page, bool held) {
    CreKey_SetHeldScan(held);
    const std::string db = Fuzz_Folder() + (held ? "\\held.kwf" : "\\lexed.kwf");
    IniWriter w{};
    bool indexed = false;
    int reason = -1;
    Fuzz_Run([&] { IniFile_OpenWrite(&w, db.c_str()); });
    Fuzz_Run([&] { indexed = CreKey_ReadPage(page.c_str(), Fuzz_Folder().c_str(), &w, &reason); });
    Fuzz_Run([&] { IniFile_CloseWrite(&w); });
    std::ifstream in(Fs_ToNative(db), std::ios::binary);
    std::string entry((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return entry + (indexed ? "|indexed|" : "|skipped|") + std::to_string(reason);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    const std::string page = Fuzz_WriteFile("page.htm", data, size);
    const std::string held = readPage(page, true);
    const std::string lexed = readPage(page, false);
    CreKey_SetHeldScan(true);
    if (held != lexed)
        Fuzz_Fail("the scan of the bytes held and the lexer read a head differently");
    Fuzz_CheckFiles();
    return 0;
}
