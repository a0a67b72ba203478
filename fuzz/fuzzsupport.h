// Shared set-up of the fuzz targets: the library as tessaly-cli sets it up,
// silent message boxes, a private temporary folder, and the checks every
// input must pass (no report escapes, the scratch stack and the frame stack
// are back where they were, no output buffer is written outside its bounds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Sets the library up once per process; called first for every input (it
// also notes which files are open when the input begins).
void Fuzz_Init();

// Writes bytes to a file named name in the process's temporary folder and
// returns its path in the inside form (backslash separators).
std::string Fuzz_WriteFile(const char* name, const uint8_t* data, size_t size);
// The process's temporary folder, inside form, no final separator.
const std::string& Fuzz_Folder();

// Runs body inside one try frame; a report is an expected outcome of bad
// input and ends the body. Afterwards checks that the frames and the scratch
// stack are as they were (aborts otherwise).
template <class Body>
void Fuzz_Run(Body&& body);

// A buffer of size bytes with guard bytes on both sides; Check aborts when a
// guard byte was written.
class Fuzz_Guarded {
   public:
    explicit Fuzz_Guarded(size_t size);
    ~Fuzz_Guarded();
    char* data() { return data_; }
    void Check() const;

   private:
    static constexpr size_t kGuard = 32;
    char* block_;
    char* data_;
    size_t size_;
};

// Aborts when a file opened since Fuzz_Init is still open.
void Fuzz_CheckFiles();

// Aborts with a message (a finding of the fuzzer).
[[noreturn]] void Fuzz_Fail(const char* what);

#include "components/except3.h"

// The frame count and the scratch stack's marks, to compare before and after.
struct Fuzz_State {
    int nTry;
    const void* sp;
    const void* block1;
};
Fuzz_State Fuzz_GetState();
// Aborts when the state differs from before or a frame flag is left set.
void Fuzz_CheckState(const Fuzz_State& before);

template <class Body>
void Fuzz_Run(Body&& body) {
    const Fuzz_State before = Fuzz_GetState();
    EXCEPT3_TRY([&] { body(); }, [] {});
    Fuzz_CheckState(before);
}
