// The path and text operations, each output inside guard bytes. The input's
// first byte chooses the output sizes; the rest up to the first line end is
// the first text (a path, cut to 259 bytes where a path is meant), what
// follows the second (a folder or base).
#include <algorithm>
#include <cstring>
#include <string>

#include "components/strx.h"
#include "fuzz/fuzzsupport.h"

namespace {
constexpr size_t kPathMax = 259;

// The text in a fresh guarded buffer of max(size, its length + 1) bytes.
struct InBuffer {
    InBuffer(const std::string& text, size_t size)
        : buf(std::max(size, text.size() + 1)), n(std::max(size, text.size() + 1)) {
        memcpy(buf.data(), text.c_str(), text.size() + 1);
    }
    Fuzz_Guarded buf;
    size_t n;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    if (size == 0) return 0;
    const int sizeByte = data[0];
    std::string all(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t nl = all.find('\n');
    std::string a = all.substr(0, nl).c_str();
    std::string b = nl == std::string::npos ? "" : std::string(all.substr(nl + 1).c_str());
    const std::string pathA = a.substr(0, kPathMax), pathB = b.substr(0, kPathMax);

    Fuzz_Run([&] {  // joins in place, cut to size - 1
        const int n = 1 + sizeByte * 2;
        InBuffer p(pathA.substr(0, n - 1), n);
        StrX_AbsPath(p.buf.data(), n, pathB.c_str());
        p.buf.Check();
    });
    Fuzz_Run([&] {
        InBuffer p(pathA, 0);
        StrX_CleanDots(p.buf.data());
        p.buf.Check();
    });
    Fuzz_Run([&] {  // never more than limit bytes
        const int limit = sizeByte;
        InBuffer p(pathA, limit);
        StrX_RelPath(p.buf.data(), limit, pathB.c_str());
        p.buf.Check();
    });
    Fuzz_Run([&] {
        Fuzz_Guarded out(260);
        StrX_PathToUrl(out.data(), pathA.c_str());
        out.Check();
        InBuffer same(pathA, 260);  // out may be path
        StrX_PathToUrl(same.buf.data(), same.buf.data());
        same.buf.Check();
    });
    Fuzz_Run([&] {
        const int n = sizeByte;
        Fuzz_Guarded out(n);
        StrX_HtmlEscape(a.c_str(), out.data(), n);
        out.Check();
    });
    Fuzz_Run([&] {  // out needs strlen(text) + 1 bytes; it may be text itself
        Fuzz_Guarded out(a.size() + 1);
        StrX_ToSjis(out.data(), a.c_str());
        out.Check();
        StrX_JisToSjis(out.data(), a.c_str());
        out.Check();
        StrX_EucToSjis(out.data(), a.c_str());
        out.Check();
        InBuffer same(a, 0);
        StrX_ToSjis(same.buf.data(), same.buf.data());
        same.buf.Check();
    });
    Fuzz_CheckFiles();
    return 0;
}
