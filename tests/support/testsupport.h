// Shared test helpers: the library set up as the application sets it up, a
// message-box recorder, byte-string helpers and a heap-allocation counter.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/errors.h"
#include "components/except3.h"
#include "platform/msgbox.h"

// Sets the library up in the application's order (scratch stack, message
// pool, 10 frames, the raising hook) with a recorder for message boxes, and
// restores the standard-error backend afterwards. Each test starts with no
// open frame, empty debug buffers and debug display on.
class LibraryTest : public testing::Test {
   protected:
    void SetUp() override;
    void TearDown() override;

    // Runs fn inside one try frame and returns the code of the report that
    // reached its catch block, or 0 when fn finished normally.
    template <class Fn>
    int CaughtCode(Fn&& fn) {
        int code = 0;
        EXCEPT3_TRY([&] { fn(); }, [&] { code = Except3_GetSys()->msg->code; });
        return code;
    }
    // The text of the current message record.
    std::string LastText() const { return Errors_GetMsg()->text; }

    MsgBox_Recorder boxes_;
};

// Sets up the library in a child process of a death test, with an echoing
// recorder: each box is printed "BOX[title] text" (UTF-8) and, at exit,
// "BOXES=n" with the number of boxes shown.
// Returns the recorder, whose script the test may set.
MsgBox_Recorder* SetUpLibraryForDeath();

// UTF-8 text to the system's CP932 bytes (tests write expectations in UTF-8
// through u8"" literals when the bytes matter for regex or comparison).
std::string Sjis(const char8_t* utf8);
// CP932 bytes to UTF-8, for readable failure messages.
std::string Utf8(const std::string& sjis);
// The bytes of a u8"" literal as a plain string (UTF-8 as a page or a
// terminal holds it).
std::string U8(const char8_t* utf8);
// The fixtures folder (tests/data) as an absolute native path without "." or
// ".." steps, wherever the test program is started from: TESSALY_TEST_DATA
// when set (a relative value is taken from the current folder), else the
// folder the build was configured from.
std::string TestDataDir();
// The whole file at a native path; "(missing)" when it cannot be read.
std::string ReadFile(const std::string& native);
// The texts of the boxes a recorder saw, in order; with a title, only those.
std::vector<std::string> BoxTexts(const MsgBox_Recorder& recorder, const char* title = nullptr);
// prefix, the number n and suffix ("p7.htm"). Built by appending: GCC 12
// warns falsely (-Wrestrict) on a literal + a temporary std::string.
std::string NumberedName(const char* prefix, int n, const char* suffix);
// A pointer as "%p" prints it, for expected dump lines.
std::string PtrText(const void* p);
// The number of descriptors the process has open (the entries of /proc/self/fd):
// compared before and after, it shows a file left open.
int OpenDescriptors();

// Counts heap allocations (malloc, calloc, realloc, operator new) made by the
// current thread between Begin and End.
class AllocCounter {
   public:
    AllocCounter();
    ~AllocCounter();
    long Count() const;

   private:
    long start_;
};

// A fresh empty folder under the test's temporary root; removed with its
// contents by the destructor. path() is native, inside() is the inside form
// with no trailing separator.
class TempDir {
   public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string inside() const;
    // Writes bytes to a file relative to the folder (folders made as needed);
    // returns its native path.
    std::string Write(const std::string& rel, const std::string& bytes) const;
    std::string Read(const std::string& rel) const;

   private:
    std::string path_;
};
