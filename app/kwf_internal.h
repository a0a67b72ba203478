// The keyword database's helpers (kwf.cpp) that its tests reach. Not part of
// the module's interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "components/bigstack.h"
#include "components/errors.h"
#include "components/except3.h"

namespace kwf_detail {

// Takes size bytes of the scratch stack (BigStack_Sys()) under the caller's mark.
inline char* scratch(int size) {
    return static_cast<char*>(BigStack_Alloc(BigStack_Sys(), static_cast<uint32_t>(size)));
}

// The size of a link buffer: a stored value's, 4096 bytes.
constexpr int kLinkSize = 4096;

// Turns a page path (a buffer of kLinkSize bytes) into its link address:
// joined to base (259 bytes at most), backslashes made slashes (a trail byte
// 0x5C stays), the bytes a URL reader would misread escaped ('#', '?', and a
// '%' that begins no escape), and a drive path C:\x given "file:///C|/x", a
// rooted path \x "file:///x". A path stored as a URL ("file:", "http:") is
// kept as stored, cut only where the scheme would not fit the buffer.
void makeLink(char* path, const char* base);

// The links of one search, each exactly what makeLink makes, with the least
// work a hit needs: the part every link shares (Base joined and made a URL)
// is made once, and a stored name that cleaning and cutting cannot change is
// copied after it in one pass, its backslashes made slashes and its bytes
// escaped. Every other name goes the whole way through makeLink.
class LinkMaker {
   public:
    explicit LinkMaker(const char* base);
    // Writes the link of name into out (kLinkSize bytes); returns out.
    char* Make(const char* name, char* out) const;
    // True when name takes the short way: a relative name that fits, in
    // which no element begins with a dot (a byte after a separator byte is
    // taken for an element's start even when it is a trail byte: such a name
    // just goes the long way).
    bool Shares(const char* name) const;

   private:
    bool shortWay(const char* name, char* out) const;
    char base_[260];
    char prefix_[kLinkSize];  // the shared start of every link
    int prefixLen_ = 0;
    int joinedLen_ = 0;  // the length of base joined, in the inside form
    bool fast_ = false;
};

}  // namespace kwf_detail
