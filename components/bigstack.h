// The scratch stack: a mark-and-release allocator over one fixed block.
//
// A request pushes a mark, takes buffers (each rounded up to a multiple of 8
// bytes and aligned to 8 bytes, so a buffer may hold pointers and time_t
// values; handed out in address order) and pops the mark, which releases
// them all at once. Requests nest. The record does not own its block. There is one
// process-wide instance over a static 65536-byte block (BigStack_Sys); the
// record has no lock, so only one thread may push and take at a time.
//
// Running out reports BigStack_Full (281). The report returns only when no
// error hook is installed: Alloc then returns nullptr and Push sets no mark,
// and the stack is unchanged.
#pragma once

#include <cstdint>

// Every buffer and every mark starts at a multiple of this many bytes.
inline constexpr uint32_t BigStack_Align = 8;
// Bytes a mark takes on the stack.
inline constexpr uint32_t BigStack_MarkSize = BigStack_Align;

struct BigStack {
    unsigned char* mem;     // start of the block
    uint32_t size;          // length of the block in bytes
    unsigned char* sp;      // the next free byte
    unsigned char* block1;  // the innermost mark, or null
    uint32_t max;           // high-water mark of sp - mem
};

// The process-wide instance; its 65536-byte static block is bound by
// BigStack_InitSys.
BigStack* BigStack_Sys();
// Binds the process-wide instance to its static block (sp back at the start).
void BigStack_InitSys();

// mem = the first 8-byte aligned byte of block, size = what remains of size
// from there, sp = mem, block1 = none.
void BigStack_Init(BigStack* stack, void* block, uint32_t size);
// Stores block1 in the mark at sp and makes it the innermost mark. A push
// with fewer than BigStack_MarkSize bytes left raises BigStack_Full (281)
// instead of writing past the block.
void BigStack_Push(BigStack* stack);
// Returns n bytes rounded up to a multiple of 8 (not cleared); 0 takes nothing.
// Raises BigStack_Full (281, "BigStack 不足です (usable=%d, request=%d)") when
// they do not fit; sp is then unchanged.
void* BigStack_Alloc(BigStack* stack, uint32_t n);
// Releases everything taken since the innermost mark, and the mark itself;
// with no mark set it does nothing.
void BigStack_Pop(BigStack* stack);
// Debug display of the record.
void BigStack_Print(BigStack* stack);
// n rounded up to a multiple of BigStack_Align: the bytes Alloc(n) takes.
uint64_t BigStack_Rounded(uint64_t n);
