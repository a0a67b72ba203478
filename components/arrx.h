// Bounded containers over caller blocks: byte/item buffers, slot pools, keys,
// a keyed heap of element pointers, linear finds, a hashed word set,
// iterators and debug dumps.
//
// None of them allocates or grows: each works inside a block its caller owns
// and reports ArrX_Err_Full (901) when the block is used up; the container is
// then unchanged. Internal consistency failures (an invalid key, a bad
// argument) report Errors_Unofficial (102, "error"). A report returns only
// when no error hook is installed: the operation then gives up with its empty
// result (nullptr, false, 0) and changes nothing. Records are plain values
// set up by their Init and never torn down; nothing is freed. No static
// buffers: every operation is re-entrant, but each container belongs to its
// owner's thread. Element pointers (heap slots, pointer buffers, pointer keys)
// are sizeof(void*) bytes; keys inside elements are read byte-wise, so
// elements need no particular alignment.
#pragma once

#include <cstddef>
#include <cstdint>

struct StrX_Mem;

// A bounded append-only buffer: first <= last <= bufLast.
struct ArrX_Buf {
    void* first;    // start of the block
    void* last;     // the next free byte
    void* bufLast;  // end of the block
};

// A pool of equal-sized slots over [first, last); each slot holds a one-byte
// used flag at flagOfs (0 = free). Only whole slots count.
struct ArrX_Able {
    void* first;
    void* last;
};

// --- Byte and item buffers

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

// One buffer of a set laid out on one block by ArrX_Buf_InitSet.
struct ArrX_BufDef {
    ArrX_Buf* buf;
    size_t itemSize;
    size_t count;
};
// Returns the bytes a set of n buffers needs: the sum of count * itemSize
// (SIZE_MAX when the sum does not fit a size_t).
size_t ArrX_Buf_SetSize(const ArrX_BufDef* defs, int n);
// Sets up the n buffers one after another on block, each empty with room for
// count * itemSize bytes, packed without padding (list the buffers with the
// strictest alignment first). Returns the end of the used part of the block.
// Raises ArrX_Err_Full ("バッファが満杯です") when the set needs more than size
// bytes; no buffer is then changed.
void* ArrX_Buf_InitSet(const ArrX_BufDef* defs, int n, void* block, size_t size);
// True when first <= last <= bufLast.
bool ArrX_Buf_IsValid(const ArrX_Buf* buf);
// Returns the address of item i: first + i * itemSize. i is not checked
// against last.
void* ArrX_Buf_Item(const ArrX_Buf* buf, size_t itemSize, size_t i);
// Removes the last item when it is the one at item (last becomes item);
// returns whether it did. Any other item leaves the buffer unchanged.
bool ArrX_Buf_RemoveLast(ArrX_Buf* buf, size_t itemSize, const void* item);

// --- Slot pools

// Binds the pool to [block, block + size) and marks every slot free.
void ArrX_Able_Init(ArrX_Able* able, void* block, size_t size, size_t elemSize, size_t flagOfs);
// Returns the first free slot; raises ArrX_Err_Full ("ArrX_Able が満杯です")
// when none is. The caller marks the slot used by setting its flag.
void* ArrX_Able_FindFree(ArrX_Able* able, size_t elemSize, size_t flagOfs);
// Advances *slot slot by slot while it is before end and its flag is 0. A
// position whose whole slot does not fit before end moves to end. Walk the
// used slots as: skip free, visit, step one slot, repeat until end.
void ArrX_Able_SkipFree(void** slot, size_t elemSize, size_t flagOfs, void* end);
// Advances *slot slot by slot while it is before end and its flag is set; a
// position whose whole slot does not fit before end moves to end.
void ArrX_Able_SkipUsed(void** slot, size_t elemSize, size_t flagOfs, void* end);
// Returns the number of used slots.
int ArrX_Able_CountUsed(const ArrX_Able* able, size_t elemSize, size_t flagOfs);
// Returns the first used slot, or nullptr when every slot is free.
void* ArrX_Able_FirstUsed(const ArrX_Able* able, size_t elemSize, size_t flagOfs);

// --- Keys

// Where and how an element holds its key.
struct ArrX_Key {
    int32_t ofs;    // byte offset of the key inside an element
    int32_t type;   // ArrX_Key_Int ... ArrX_Key_StrV
    int32_t direc;  // ArrX_Key_Up, ArrX_Key_NoDirec or ArrX_Key_Down
};

enum : int32_t {
    ArrX_Key_Int = 0,        // a 32-bit integer
    ArrX_Key_Double = 1,     // a 64-bit floating value
    ArrX_Key_CString = 2,    // a NUL-terminated string stored in the element
    ArrX_Key_CStringP = 3,   // a pointer to a string
    ArrX_Key_CStringPI = 4,  // a pointer to a string, ASCII case ignored
    ArrX_Key_CStringPW = 5,  // a pointer to a pattern ('?' one byte, one '*' any run)
    ArrX_Key_StrV = 6,       // a pointer to a string, compared like ArrX_Key_CStringP
    ArrX_Key_Up = -1,        // the heap pops ascending keys
    ArrX_Key_NoDirec = 0,    // every key compares equal
    ArrX_Key_Down = 1,       // the heap pops descending keys
};

// Sets ofs, type and direc (not checked; see ArrX_Key_IsValid).
void ArrX_Key_Init(ArrX_Key* key, int32_t ofs, int32_t type, int32_t direc);
// True when ofs >= 0, type is 0 to 6 and direc is -1, 0 or 1.
bool ArrX_Key_IsValid(const ArrX_Key* key);
// Compares the keys of elements a and b; returns -1, 0 or 1 times direc
// (positive: a goes nearer the top of a heap). Int: by value. Double: equal
// when less than 1 apart (the difference truncated toward zero), and NaN
// compares equal. String types: byte order of the unsigned bytes;
// CStringPI folds ASCII letters outside double-byte characters; CStringPW
// orders its patterns as plain text; a null pointer reads as "". Raises
// Errors_Unofficial for an invalid key.
int ArrX_Key_Compare(const ArrX_Key* key, const void* a, const void* b);

// --- Keyed heap of element pointers

// A binary heap of element pointers over a caller block, greatest key on top.
struct ArrX_Sort {
    void** first;    // the top
    void** last;     // one past the last pointer
    void** bufLast;  // end of the block (whole pointers)
    ArrX_Key* key;   // not owned
};

// Sets up an empty heap on [block, block + size) (whole pointers only),
// ordered by key.
void ArrX_Sort_Init(ArrX_Sort* sort, void* block, size_t size, ArrX_Key* key);
// True when first <= last <= bufLast and the key is present and valid.
bool ArrX_Sort_IsValid(const ArrX_Sort* sort);
// Adds elem and sifts it up; returns false and changes nothing when the heap
// is full. Raises Errors_Unofficial for an invalid key.
bool ArrX_Sort_Push(ArrX_Sort* sort, void* elem);
// Removes and returns the top element (the greatest by ArrX_Key_Compare: the
// largest key with ArrX_Key_Down, the smallest with ArrX_Key_Up); nullptr
// when the heap is empty.
void* ArrX_Sort_Pop(ArrX_Sort* sort);

// --- Finds by value: the first whole element of elemSize bytes whose key at
// ofs has the same bytes as value; nullptr when none. Raises Errors_Unofficial
// when the key does not fit inside an element.

// Searches the elements of [first, last).
void* ArrX_FindInt(const void* first, const void* last, size_t elemSize, size_t ofs, int32_t value);
void* ArrX_FindDouble(const void* first, const void* last, size_t elemSize, size_t ofs,
                      double value);
// Search the used part of buf.
void* ArrX_Buf_FindInt(const ArrX_Buf* buf, size_t elemSize, size_t ofs, int32_t value);
void* ArrX_Buf_FindDouble(const ArrX_Buf* buf, size_t elemSize, size_t ofs, double value);

// --- Finds by key: the first element whose key equals value, which points to
// an int32_t (Int), a double (Double, same bytes) or is the text itself
// (string types). CString, CStringP and StrV compare exactly, CStringPI
// ignores ASCII case (outside double-byte characters), CStringPW matches the
// element's pattern against the text (StrX_WildCmp). A null string pointer in
// an element never matches. A CString key ends at its NUL or at the element's
// end. Each raises Errors_Unofficial for an invalid key (direc is ignored).

// Searches the whole elements of elemSize bytes in the used part of buf.
void* ArrX_Buf_FindKey(const ArrX_Buf* buf, size_t elemSize, const ArrX_Key* key,
                       const void* value);
// Searches a buffer of element pointers (null pointers skipped); returns the
// element, not its slot.
void* ArrX_Buf_FindKeyP(const ArrX_Buf* ptrs, const ArrX_Key* key, const void* value);
// Returns the next used slot after prev (from the first slot when prev is
// nullptr) whose element matches; nullptr when none is left.
void* ArrX_Able_NextKey(const ArrX_Able* able, size_t elemSize, size_t flagOfs, const void* prev,
                        const ArrX_Key* key, const void* value);

// --- Hashed word set

// n buckets of elements sharing one block; an element holds a pointer to its
// text at key.ofs (key type CStringP or StrV). The texts are not copied: they
// must outlive the set.
struct ArrX_Hash {
    ArrX_Buf* buckets;  // the caller's array of n buffers
    int n;
    size_t elemSize;
    ArrX_Key key;
};
// Binds the n buckets to equal shares of [block, block + size): size / n
// rounded down to whole elements each. Raises Errors_Unofficial when n < 1,
// the key is invalid, not of a pointer type or does not fit an element.
void ArrX_Hash_Init(ArrX_Hash* set, ArrX_Buf* buckets, int n, void* block, size_t size,
                    size_t elemSize, const ArrX_Key* key);
// Returns the element for text (its bucket is StrX_Hash(text, n)), or nullptr.
void* ArrX_Hash_Find(const ArrX_Hash* set, const char* text);
// Returns the element for text; when absent, takes a new zeroed element in the
// text's bucket and stores the pointer text in it (*added = true). Raises
// ArrX_Err_Full ("バッファが満杯です") when that bucket is full.
void* ArrX_Hash_Add(ArrX_Hash* set, const char* text, bool* added);
// Reads the text file at path (FileX_Open, text mode) word by word (separated
// by blank, tab, CR, LF, VT, FF) and adds each word not yet in the set, its
// text stored in pool. A word over 259 bytes is cut to 259 (never inside a
// double-byte character). Returns the number of words added. Raises what
// FileX_Open raises, ArrX_Err_Full for a full bucket and StrX_Err_MemEmpty
// (3180) when the pool cannot hold a word whole; the file is closed first.
int ArrX_Hash_Load(ArrX_Hash* set, StrX_Mem* pool, const char* path);

// --- Iterators

// A block of elements given with its element count.
struct ArrX_Block {
    void* first;
    int count;
};
// Steps through the elements of a list of buffers (their used parts, whole
// elements) or of blocks, moving to the next one when one is exhausted.
struct ArrX_Iter {
    const ArrX_Buf* bufs;      // the list of buffers, or nullptr
    const ArrX_Block* blocks;  // the list of blocks, or nullptr
    int n;                     // entries in the list
    int index;                 // the entry being walked
    size_t elemSize;
    unsigned char* p;    // the next element
    unsigned char* end;  // end of the entry being walked
};
void ArrX_Iter_InitBufs(ArrX_Iter* it, const ArrX_Buf* bufs, int n, size_t elemSize);
void ArrX_Iter_InitBlocks(ArrX_Iter* it, const ArrX_Block* blocks, int n, size_t elemSize);
// Returns the next element, or nullptr after the last (and always for an
// elemSize of 0).
void* ArrX_Iter_Next(ArrX_Iter* it);

// --- Dumps, through Errors_DebugPrintf; each line begins with indent.

// "%sArrX_Buf(%p) : first = %p, last = %p, bufLast = %p", then
// "%ssize = %d/%d" (bytes used/capacity) when itemSize is 0, else
// "%ssize = %d/%d count = %d/%d" (bytes, then items).
void ArrX_Buf_Dump(const ArrX_Buf* buf, size_t itemSize, const char* indent);
// One line per element of the used part, read with the cycle of type letters
// in types, laid out as the fields of a struct: 'i' int32_t
// "  [%d] = %d (0x%X) '%c'", 'p' pointer "  [%d] = (%p)", 's' string pointer
// "  [%d] = (%p) \"%s\"" (its first 255 bytes). Another letter, or no letter,
// raises Errors_Unofficial ("error") before any line.
void ArrX_Buf_DumpElems(const ArrX_Buf* buf, const char* types);
// "%sKey(%p): ofs=%d(0x%X), type=%d(%s), direc=%d(%s)" with the type and
// direction names, or "%sKey(%p): ofs=%d(0x%X), type=%d, direc=%d" for an
// invalid key.
void ArrX_Key_Dump(const ArrX_Key* key, const char* indent);
// "%sArrX_Sort(%p) nElem=%d, mElem=%d, buf=(%p..%p)" (first..bufLast), the
// key, then the heap level by level: "%s(%d)" with the 1-based index of the
// level's first slot (1, 2, 4, ...), and per element "%sData of Key (%p) = ..."
// (the key's address; "%d", "%f" or "%s" by key type). Elements are left out
// when the key is missing or invalid.
void ArrX_Sort_Dump(const ArrX_Sort* sort, const char* indent);
