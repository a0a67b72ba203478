// Bounded containers over caller blocks: byte/item buffers and slot pools.
//
// None of them allocates or grows: each works inside a block its caller owns
// and reports ArrX_Err_Full (901) when the block is used up; the container is
// then unchanged. Each container belongs to its owner's thread.
#pragma once

#include <cstddef>

// A bounded append-only buffer: first <= last <= bufLast.
struct ArrX_Buf {
    void* first;    // start of the block
    void* last;     // the next free byte
    void* bufLast;  // end of the block
};

// A pool of equal-sized slots over [first, last); each slot holds a one-byte
// used flag at flagOfs (0 = free).
struct ArrX_Able {
    void* first;
    void* last;
};

// Sets first = last = block, bufLast = block + size.
void ArrX_Buf_Init(ArrX_Buf* buf, void* block, size_t size);
// Takes n bytes at last and returns them; raises ArrX_Err_Full ("バッファが満杯です")
// when they do not fit. A request that exactly fills the block succeeds.
void* ArrX_Buf_Alloc(ArrX_Buf* buf, size_t n);
// The same for count items of itemSize bytes.
void* ArrX_Buf_AllocItems(ArrX_Buf* buf, size_t itemSize, size_t count);
// Appends the bytes [start, end). A buffer already full shows the error box
// "バッファが満杯です\n%s ～ %s" and raises ArrX_Err_Full; bytes that do not fit
// are cut silently (the buffer is then full, and the next append raises).
void ArrX_Buf_AppendRange(ArrX_Buf* buf, const void* start, const void* end);
// Stores one byte at last; a full buffer drops it without a report.
void ArrX_Buf_AddByte(ArrX_Buf* buf, unsigned char byte);
// Stores a NUL at last; on a full buffer the last used byte becomes NUL instead.
void ArrX_Buf_AddNul(ArrX_Buf* buf);

// Binds the pool to [block, block + size) and marks every slot free.
void ArrX_Able_Init(ArrX_Able* able, void* block, size_t size, size_t elemSize, size_t flagOfs);
// Returns the first free slot; raises ArrX_Err_Full ("ArrX_Able が満杯です")
// when none is. The caller marks the slot used by setting its flag.
void* ArrX_Able_FindFree(ArrX_Able* able, size_t elemSize, size_t flagOfs);
// Advances *slot slot by slot while it is before end and its flag is 0.
void ArrX_Able_SkipFree(void** slot, size_t elemSize, size_t flagOfs, void* end);
