// Kwf_Search over an arbitrary database. The input's first line is the query
// (cut to 255 bytes), the rest the database.
#include <cstring>
#include <string>

#include "app/kwf.h"
#include "fuzz/fuzzsupport.h"

namespace {
void onHit(void* context, const char* title, const char* keywordEntry, const char* href) {
    // Touch every byte of the texts: they must be whole strings.
    size_t* n = static_cast<size_t*>(context);
    *n += strlen(title) + strlen(href) + (keywordEntry ? strlen(keywordEntry) : 0);
}
void onEnd(void*, int count) {
    if (count < 0) Fuzz_Fail("negative hit count");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    const uint8_t* nl = static_cast<const uint8_t*>(memchr(data, '\n', size));
    size_t qlen = nl ? static_cast<size_t>(nl - data) : 0;
    std::string query(reinterpret_cast<const char*>(data), qlen < 255 ? qlen : 255);
    query = query.c_str();  // up to its first NUL
    const size_t skip = nl ? qlen + 1 : 0;
    const std::string path = Fuzz_WriteFile("search.kwf", data + skip, size - skip);
    size_t touched = 0;
    Kwf_HitSink sink{onHit, onEnd, &touched};
    Fuzz_Run([&] { Kwf_Search(path.c_str(), query.empty() ? "a" : query.c_str(), &sink); });
    Fuzz_CheckFiles();
    return 0;
}
