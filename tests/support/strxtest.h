// Test helpers shared by the string module's test files (strx_*_test.cpp):
// the fixture, bounded-buffer checks and a time-zone scope.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/testsupport.h"
class StrXTest : public LibraryTest {};

inline constexpr char kGuard = '\xA5';
inline const std::string kHyo = "\x95\x5C";  // 表: its trail byte is the backslash
inline const std::string kA = "\x83\x41";    // ア: its trail byte is the letter A

// Runs op on room bytes that start as init (room > init.size()), followed by
// guard bytes. Returns the text left there, "(untouched)" when room is 0 and
// nothing was written, with " GUARD" added when a byte past room changed.
inline std::string Bounded(int room, const std::string& init,
                           const std::function<void(char*)>& op) {
    std::vector<char> buf(static_cast<size_t>(room) + 16, kGuard);
    if (room > 0) memcpy(buf.data(), init.c_str(), init.size() + 1);
    op(buf.data());
    bool intact = std::all_of(buf.begin() + room, buf.end(), [](char c) { return c == kGuard; });
    std::string text =
        room > 0 ? std::string(buf.data(), strnlen(buf.data(), buf.size())) : "(untouched)";
    return intact ? text : text + " GUARD";
}

// what, room, init, op, the text Bounded returns.
using BoundedCase =
    std::tuple<const char*, int, std::string, std::function<void(char*)>, std::string>;

inline void ExpectBounded(std::initializer_list<BoundedCase> cases) {
    for (const auto& [what, room, init, op, want] : cases)
        EXPECT_EQ(Bounded(room, init, op), want) << what;
}

// Sets TZ for one scope and restores the previous value (an empty one as unset).
class TzScope {
   public:
    explicit TzScope(const char* tz) : old_(getenv("TZ") ? getenv("TZ") : "") { Set(tz); }
    ~TzScope() { Set(old_.empty() ? nullptr : old_.c_str()); }

   private:
    static void Set(const char* tz) {
        tz ? setenv("TZ", tz, 1) : unsetenv("TZ");
        tzset();
    }
    std::string old_;
};
