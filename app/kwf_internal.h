// Helpers shared by the keyword database (kwf.cpp) and the result page
// (respage.cpp). Not part of either module's interface.
#pragma once

#include <cstdint>

#include "components/bigstack.h"
#include "components/errors.h"
#include "components/except3.h"

namespace kwf_detail {

// Takes size bytes of the scratch stack (BigStack_Sys()) under the caller's mark.
inline char* scratch(int size) {
    return static_cast<char*>(BigStack_Alloc(BigStack_Sys(), static_cast<uint32_t>(size)));
}

}  // namespace kwf_detail
