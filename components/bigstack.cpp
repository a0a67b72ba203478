#include "components/bigstack.h"

#include <cstring>

#include "components/errors.h"

namespace {
constexpr uint32_t kSysSize = 65536;
alignas(8) unsigned char g_block[kSysSize];
BigStack g_sys;

// request is the rounded size; one beyond INT32_MAX shows as INT32_MAX.
[[noreturn]] void full(BigStack* stack, uint64_t request) {
    int usable = static_cast<int>(stack->size - (stack->sp - stack->mem));
    ERRORS_REPORT(BigStack_Full, "BigStack 不足です (usable=%d, request=%d)", usable,
                  static_cast<int>(request > INT32_MAX ? INT32_MAX : request));
    // A report that returns (no hook) must still not hand out memory past the block.
    Errors_Exit(__FILE_NAME__, __LINE__);
}
}  // namespace

BigStack* BigStack_Sys() { return &g_sys; }

void BigStack_InitSys() { BigStack_Init(&g_sys, g_block, kSysSize); }

void BigStack_Init(BigStack* stack, void* block, uint32_t size) {
    stack->mem = static_cast<unsigned char*>(block);
    stack->size = size;
    stack->sp = stack->mem;
    stack->block1 = nullptr;
}

void BigStack_Push(BigStack* stack) {
    if (stack->size - (stack->sp - stack->mem) < 4) full(stack, 4);
    // The mark word keeps the previous mark as an offset + 1 (0: none), so it
    // fits 4 bytes whatever the pointer size.
    unsigned char* mark = stack->sp;
    uint32_t prev = static_cast<uint32_t>(stack->block1 ? stack->block1 - stack->mem + 1 : 0);
    memcpy(mark, &prev, 4);
    stack->block1 = mark;
    stack->sp += 4;
    uint32_t used = static_cast<uint32_t>(stack->sp - stack->mem);
    if (used > stack->max) stack->max = used;
}

void* BigStack_Alloc(BigStack* stack, uint32_t n) {
    // Rounded in 64 bits: n near 4 GiB must not wrap around to a small request.
    uint64_t request = (static_cast<uint64_t>(n) + 3) & ~uint64_t{3};
    uint32_t used = static_cast<uint32_t>(stack->sp - stack->mem);
    if (request > stack->size - used) full(stack, request);
    void* p = stack->sp;
    stack->sp += request;
    uint32_t now = used + static_cast<uint32_t>(request);
    if (now > stack->max) stack->max = now;
    return p;
}

void BigStack_Pop(BigStack* stack) {
    unsigned char* mark = stack->block1;
    uint32_t prev;
    memcpy(&prev, mark, 4);
    stack->sp = mark;
    stack->block1 = prev ? stack->mem + prev - 1 : nullptr;
}

void BigStack_Print(BigStack* stack) {
    Errors_DebugPrintf("BigStack: mem=%p, size=0x%X, sp=%p, block1=%p", static_cast<void*>(stack->mem),
                       stack->size, static_cast<void*>(stack->sp),
                       static_cast<void*>(stack->block1));
    Errors_DebugPrintf("BigStack: max=0x%X", stack->max);
}
