// The sectioned attribute-file reader over arbitrary file bytes: every
// reading operation in turn, with a line buffer and a value limit chosen by
// the input's first byte.
#include <cstring>
#include <ctime>

#include "components/arrx.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "fuzz/fuzzsupport.h"

namespace {
constexpr int kLimit = 300;  // every string destination holds this many bytes

void ReadAll(IniReader* r) {
    char s[kLimit], name[kLimit];
    int i = 0;
    unsigned char b = 0;
    time_t t = 0;
    alignas(8) static char poolBlock[2048];
    alignas(8) static unsigned char arrayBlock[1024];
    StrX_Mem pool;
    StrX_Mem_Init(&pool, poolBlock, sizeof poolBlock);
    ArrX_Buf array;
    ArrX_Buf_Init(&array, arrayBlock, sizeof arrayBlock);
    PtrRange range;
    char* ps = nullptr;

    Fuzz_Run([&] { IniFile_Read_setSection(r, "main"); });
    Fuzz_Run([&] { IniFile_ReadAttr(r, "Application", "sibtx-S", s, &i, &b, &t, &i, s); });
    Fuzz_Run([&] { IniFile_ReadAnyAttr(r, name, "is", &i, s); });
    Fuzz_Run([&] { IniFile_ReadOptAttr(r, "Version", "i", &i, 7); });
    Fuzz_Run([&] { IniFile_ReadOptAttr(r, "Base", "s", s, "def"); });
    Fuzz_Run([&] { IniFile_ReadAttrPooled(r, &pool, "Update", "st", &ps, &t); });
    Fuzz_Run([&] { IniFile_ReadAttrPooled(r, &pool, "List", "i*s", &i, &array); });
    Fuzz_Run([&] { IniFile_ReadOptAttrPooled(r, &pool, "Guide", "s", &ps, "none"); });
    Fuzz_Run([&] { IniFile_ReadStringList(r, &pool, "A", &range); });
    Fuzz_Run([&] { IniFile_CountAttr(r, "A"); });
    Fuzz_Run([&] { IniFile_CountLines(r); });
    Fuzz_Run([&] { IniFile_ReadAttrArray(r, &pool, &array, "A", "sis", &range); });
    Fuzz_Run([&] { IniFile_ReadRecordArray(r, &pool, &array, "A", "it", &range, 24, 0, 8); });
    Fuzz_Run([&] {
        char joined[1024];
        IniFile_ReadJoined(r, "A", ", ", joined, sizeof joined);
    });
    Fuzz_Run([&] { IniFile_ReadStrings(r, "A", &pool); });
    Fuzz_Run([&] { IniFile_ReadAttrAt(r, 0, "s", s); });
    Fuzz_Run([&] { IniFile_FindSection(r, "links", true); });
    Fuzz_Run([&] { IniFile_ReadFileList(r, &pool, &array, "files", &range); });
    Fuzz_Run([&] { IniFile_Rewind(r); });
    Fuzz_Run([&] { IniFile_FindSection(r, "links", false); });
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    if (size == 0) return 0;
    // First byte: the line buffer (2..257 bytes) and the value limit (1..kLimit).
    const int lineSize = 2 + data[0];
    const int limit = 1 + (data[0] * 7) % kLimit;
    const std::string path = Fuzz_WriteFile("attr.ini", data + 1, size - 1);
    static char line[258];
    IniReader r{};
    Fuzz_Run([&] {
        IniFile_OpenRead(&r, path.c_str(), line, lineSize);
        IniFile_SetValueLimit(&r, limit);
        ReadAll(&r);
    });
    IniFile_CloseRead(&r);
    Fuzz_CheckFiles();
    return 0;
}
