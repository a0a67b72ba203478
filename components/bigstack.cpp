#include "components/bigstack.h"

#include <cstring>

#include "components/errors.h"

namespace {
constexpr uint32_t kSysSize = 65536;
alignas(BigStack_Align) unsigned char g_block[kSysSize];
BigStack g_sys;

// Reports that request bytes (already rounded) do not fit; one beyond
// INT32_MAX shows as INT32_MAX. Returns only when no hook is installed.
void full(BigStack* stack, uint64_t request) {
    int usable = static_cast<int>(stack->size - (stack->sp - stack->mem));
    ERRORS_REPORT(BigStack_Full, "BigStack 不足です (usable=%d, request=%d)", usable,
                  static_cast<int>(request > INT32_MAX ? INT32_MAX : request));
}
}  // namespace

BigStack* BigStack_Sys() {
    return &g_sys;
}

void BigStack_InitSys() {
    BigStack_Init(&g_sys, g_block, kSysSize);
}

uint64_t BigStack_Rounded(uint64_t n) {
    return (n + BigStack_Align - 1) & ~uint64_t{BigStack_Align - 1};
}

void BigStack_Init(BigStack* stack, void* block, uint32_t size) {
    // The stack starts at the first aligned byte of the block, so every
    // buffer is aligned in memory, not only relative to the block.
    uintptr_t at = reinterpret_cast<uintptr_t>(block);
    uint32_t skip = static_cast<uint32_t>(BigStack_Rounded(at) - at);
    stack->mem = static_cast<unsigned char*>(block) + (skip < size ? skip : size);
    stack->size = skip < size ? size - skip : 0;
    stack->sp = stack->mem;
    stack->block1 = nullptr;
}

void BigStack_Push(BigStack* stack) {
    if (stack->size - (stack->sp - stack->mem) < BigStack_MarkSize) {
        full(stack, BigStack_MarkSize);
        return;  // the report returned: no hook installed; no mark is set
    }
    // The mark keeps the previous mark as an offset + 1 (0: none) in its first
    // 4 bytes; the whole mark is BigStack_MarkSize bytes, so what follows stays aligned.
    unsigned char* mark = stack->sp;
    uint32_t prev = static_cast<uint32_t>(stack->block1 ? stack->block1 - stack->mem + 1 : 0);
    memcpy(mark, &prev, 4);
    stack->block1 = mark;
    stack->sp += BigStack_MarkSize;
    uint32_t used = static_cast<uint32_t>(stack->sp - stack->mem);
    if (used > stack->max) stack->max = used;
}

void* BigStack_Alloc(BigStack* stack, uint32_t n) {
    // Rounded in 64 bits: n near 4 GiB must not wrap around to a small request.
    uint64_t request = BigStack_Rounded(n);
    uint32_t used = static_cast<uint32_t>(stack->sp - stack->mem);
    if (request > stack->size - used) {
        full(stack, request);
        return nullptr;  // the report returned: no hook installed
    }
    void* p = stack->sp;
    stack->sp += request;
    uint32_t now = used + static_cast<uint32_t>(request);
    if (now > stack->max) stack->max = now;
    return p;
}

void BigStack_Pop(BigStack* stack) {
    unsigned char* mark = stack->block1;
    if (!mark) return;  // no mark: nothing to release
    uint32_t prev;
    memcpy(&prev, mark, 4);
    stack->sp = mark;
    stack->block1 = prev ? stack->mem + prev - 1 : nullptr;
}

void BigStack_Print(BigStack* stack) {
    Errors_DebugPrintf("BigStack: mem=%p, size=0x%X, sp=%p, block1=%p",
                       static_cast<void*>(stack->mem), stack->size, static_cast<void*>(stack->sp),
                       static_cast<void*>(stack->block1));
    Errors_DebugPrintf("BigStack: max=0x%X", stack->max);
}
