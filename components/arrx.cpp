#include "components/arrx.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "components/errors.h"
#include "components/except3.h"
#include "components/filex.h"
#include "components/strx.h"
#include "platform/codepage.h"

namespace {
unsigned char* B(void* p) {
    return static_cast<unsigned char*>(p);
}
const unsigned char* B(const void* p) {
    return static_cast<const unsigned char*>(p);
}

constexpr size_t kPtr = sizeof(void*);

void* loadPtr(const void* at) {
    void* p;
    memcpy(&p, at, kPtr);
    return p;
}
void storePtr(void* at, const void* p) {
    memcpy(at, &p, kPtr);
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

// True when a whole slot of elemSize bytes at p lies before end.
bool slotFits(const unsigned char* p, size_t elemSize, const void* end) {
    return p < B(end) && elemSize <= static_cast<size_t>(B(end) - p);
}

void skipSlots(void** slot, size_t elemSize, size_t flagOfs, void* end, bool used) {
    unsigned char* p = B(*slot);
    while (p < B(end)) {
        if (!slotFits(p, elemSize, end)) {
            p = B(end);  // a partial slot at the end is no slot
            break;
        }
        if ((p[flagOfs] != 0) != used) break;
        p += elemSize;
    }
    *slot = p;
}

// Reports bad arguments. The report returns only when no hook is installed;
// the caller then gives up with its empty result and touches nothing.
void unofficial(int line) {
    Errors_Report(__FILE_NAME__, line, Errors_Unofficial.code, Errors_Unofficial.name, "error");
}

// Byte order of two strings ignoring ASCII case; the bytes of a double-byte
// character are compared exactly. Returns -1, 0 or 1.
int compareNoCase(const char* sa, const char* sb) {
    const unsigned char* a = B(sa);
    const unsigned char* b = B(sb);
    for (;;) {
        if (CodePage_IsLead(*a) && *a == *b && a[1] != 0 && b[1] != 0) {
            if (a[1] != b[1]) return a[1] < b[1] ? -1 : 1;
            a += 2;
            b += 2;
            continue;
        }
        int ca = CodePage_ToLower(*a), cb = CodePage_ToLower(*b);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
        a++;
        b++;
    }
}

bool isPointerType(int32_t type) {
    return type >= ArrX_Key_CStringP && type <= ArrX_Key_StrV;
}

// Bytes the key field takes inside an element (a CString key at least its NUL).
size_t keySize(int32_t type) {
    switch (type) {
        case ArrX_Key_Int:
            return 4;
        case ArrX_Key_Double:
            return 8;
        case ArrX_Key_CString:
            return 1;
        default:
            return kPtr;
    }
}

// The string a key of a string type names in elem ("" for a null pointer).
const char* keyText(const ArrX_Key* key, const void* elem) {
    const unsigned char* at = B(elem) + key->ofs;
    if (key->type == ArrX_Key_CString) return reinterpret_cast<const char*>(at);
    const char* s = static_cast<const char*>(loadPtr(at));
    return s ? s : "";
}

// True when the key of the element at elem (elemSize bytes; 0: unbounded)
// equals value. Key already checked valid.
bool keyMatches(const ArrX_Key* key, const void* elem, size_t elemSize, const void* value) {
    const unsigned char* at = B(elem) + key->ofs;
    switch (key->type) {
        case ArrX_Key_Int:
            return memcmp(at, value, 4) == 0;
        case ArrX_Key_Double:
            return memcmp(at, value, 8) == 0;
        case ArrX_Key_CString: {
            const char* text = static_cast<const char*>(value);
            size_t room = elemSize ? elemSize - key->ofs : SIZE_MAX;
            size_t i = 0;
            for (; i < room && at[i] != 0; i++)
                if (static_cast<unsigned char>(text[i]) != at[i]) return false;
            return text[i] == '\0';
        }
        default: {
            const char* s = static_cast<const char*>(loadPtr(at));
            const char* text = static_cast<const char*>(value);
            if (!s) return false;
            if (key->type == ArrX_Key_CStringPI) return compareNoCase(s, text) == 0;
            if (key->type == ArrX_Key_CStringPW) return StrX_WildCmp(s, text) == 0;
            return strcmp(s, text) == 0;
        }
    }
}

// Checks a key for a find over elements of elemSize bytes (0: pointers);
// false after the report of a bad key.
bool checkFindKey(const ArrX_Key* key, size_t elemSize, int line) {
    if (!key || !ArrX_Key_IsValid(key) ||
        (elemSize != 0 && (static_cast<size_t>(key->ofs) >= elemSize ||
                           keySize(key->type) > elemSize - static_cast<size_t>(key->ofs)))) {
        unofficial(line);
        return false;
    }
    return true;
}

void* findBytes(const void* first, const void* last, size_t elemSize, size_t ofs, const void* value,
                size_t n, int line) {
    if (ofs >= elemSize || n > elemSize - ofs) {
        unofficial(line);
        return nullptr;
    }
    for (const unsigned char* p = B(first); slotFits(p, elemSize, last); p += elemSize)
        if (memcmp(p + ofs, value, n) == 0) return const_cast<unsigned char*>(p);
    return nullptr;
}

// Copies the first bytes of s (at most 255, never splitting a double-byte
// character) into out[256], for dumps.
const char* shownText(char* out, const char* s) {
    if (!s) return "(null)";
    CodePage_CopyCut(out, 256, s);
    return out;
}

const char* const kTypeNames[] = {
    "ArrX_Key_Int",       "ArrX_Key_Double",    "ArrX_Key_CString", "ArrX_Key_CStringP",
    "ArrX_Key_CStringPI", "ArrX_Key_CStringPW", "ArrX_Key_StrV",
};
const char* const kDirecNames[] = {"ArrX_Key_Up", "ArrX_Key_NoDirec", "ArrX_Key_Down"};

}  // namespace

// ---- Byte and item buffers -----------------------------------------------

void ArrX_Buf_Init(ArrX_Buf* buf, void* block, size_t size) {
    buf->first = buf->last = block;
    buf->bufLast = B(block) + size;
}

void* ArrX_Buf_Alloc(ArrX_Buf* buf, size_t n) {
    if (n > static_cast<size_t>(B(buf->bufLast) - B(buf->last))) {
        ERRORS_REPORT(ArrX_Err_Full, "バッファが満杯です");
        return nullptr;  // the report returned: no hook installed
    }
    void* p = buf->last;
    buf->last = B(buf->last) + n;
    return p;
}

void* ArrX_Buf_AllocItems(ArrX_Buf* buf, size_t itemSize, size_t count) {
    size_t room = B(buf->bufLast) - B(buf->last);
    if (itemSize != 0 && count > room / itemSize) {
        ERRORS_REPORT(ArrX_Err_Full, "バッファが満杯です");
        return nullptr;
    }
    void* p = buf->last;
    buf->last = B(buf->last) + itemSize * count;
    return p;
}

void ArrX_Buf_AppendRange(ArrX_Buf* buf, const void* start, const void* end) {
    if (B(buf->last) >= B(buf->bufLast)) {
        char head[20], tail[20];
        size_t used = B(buf->last) - B(buf->first);
        size_t n = used < 19 ? used : 19;
        memcpy(head, buf->first, n);
        head[n] = '\0';
        memcpy(tail, B(buf->last) - n, n);
        tail[n] = '\0';
        Errors_Printf("バッファが満杯です\n%s ～ %s", head, tail);
        ERRORS_REPORT(ArrX_Err_Full, "バッファが満杯です");
        return;
    }
    size_t len = B(end) - B(start);
    size_t room = B(buf->bufLast) - B(buf->last);
    if (len > room) len = room;
    memcpy(buf->last, start, len);
    buf->last = B(buf->last) + len;
}

void ArrX_Buf_AddByte(ArrX_Buf* buf, unsigned char byte) {
    if (B(buf->last) >= B(buf->bufLast)) return;
    *B(buf->last) = byte;
    buf->last = B(buf->last) + 1;
}

void ArrX_Buf_AddNul(ArrX_Buf* buf) {
    if (B(buf->last) < B(buf->bufLast)) {
        *B(buf->last) = 0;
        buf->last = B(buf->last) + 1;
    } else if (B(buf->last) > B(buf->first)) {
        B(buf->last)[-1] = 0;
    }
}

size_t ArrX_Buf_SetSize(const ArrX_BufDef* defs, int n) {
    size_t total = 0;
    for (int i = 0; i < n; i++) {
        size_t itemSize = defs[i].itemSize, count = defs[i].count;
        if (itemSize != 0 && count > SIZE_MAX / itemSize) return SIZE_MAX;
        size_t bytes = itemSize * count;
        if (bytes > SIZE_MAX - total) return SIZE_MAX;
        total += bytes;
    }
    return total;
}

void* ArrX_Buf_InitSet(const ArrX_BufDef* defs, int n, void* block, size_t size) {
    if (ArrX_Buf_SetSize(defs, n) > size) {
        ERRORS_REPORT(ArrX_Err_Full, "バッファが満杯です");
        return nullptr;
    }
    unsigned char* p = B(block);
    for (int i = 0; i < n; i++) {
        size_t bytes = defs[i].itemSize * defs[i].count;
        ArrX_Buf_Init(defs[i].buf, p, bytes);
        p += bytes;
    }
    return p;
}

bool ArrX_Buf_IsValid(const ArrX_Buf* buf) {
    return B(buf->first) <= B(buf->last) && B(buf->last) <= B(buf->bufLast);
}

void* ArrX_Buf_Item(const ArrX_Buf* buf, size_t itemSize, size_t i) {
    return B(buf->first) + i * itemSize;
}

bool ArrX_Buf_RemoveLast(ArrX_Buf* buf, size_t itemSize, const void* item) {
    if (static_cast<size_t>(B(buf->last) - B(buf->first)) < itemSize) return false;
    if (B(buf->last) - itemSize != B(item)) return false;
    buf->last = B(buf->last) - itemSize;
    return true;
}

// ---- Slot pools -------------------------------------------------------------

void ArrX_Able_Init(ArrX_Able* able, void* block, size_t size, size_t elemSize, size_t flagOfs) {
    able->first = block;
    able->last = B(block) + size;
    for (unsigned char* p = B(block); p + elemSize <= B(able->last); p += elemSize) p[flagOfs] = 0;
}

void* ArrX_Able_FindFree(ArrX_Able* able, size_t elemSize, size_t flagOfs) {
    for (unsigned char* p = B(able->first); p + elemSize <= B(able->last); p += elemSize)
        if (p[flagOfs] == 0) return p;
    ERRORS_REPORT(ArrX_Err_Full, "ArrX_Able が満杯です");
    return nullptr;
}

void ArrX_Able_SkipFree(void** slot, size_t elemSize, size_t flagOfs, void* end) {
    skipSlots(slot, elemSize, flagOfs, end, false);
}

void ArrX_Able_SkipUsed(void** slot, size_t elemSize, size_t flagOfs, void* end) {
    skipSlots(slot, elemSize, flagOfs, end, true);
}

int ArrX_Able_CountUsed(const ArrX_Able* able, size_t elemSize, size_t flagOfs) {
    int n = 0;
    for (const unsigned char* p = B(able->first); slotFits(p, elemSize, able->last); p += elemSize)
        if (p[flagOfs] != 0) n++;
    return n;
}

void* ArrX_Able_FirstUsed(const ArrX_Able* able, size_t elemSize, size_t flagOfs) {
    for (unsigned char* p = B(able->first); slotFits(p, elemSize, able->last); p += elemSize)
        if (p[flagOfs] != 0) return p;
    return nullptr;
}

// ---- Keys -------------------------------------------------------------------

void ArrX_Key_Init(ArrX_Key* key, int32_t ofs, int32_t type, int32_t direc) {
    key->ofs = ofs;
    key->type = type;
    key->direc = direc;
}

bool ArrX_Key_IsValid(const ArrX_Key* key) {
    return key->ofs >= 0 && key->type >= ArrX_Key_Int && key->type <= ArrX_Key_StrV &&
           key->direc >= ArrX_Key_Up && key->direc <= ArrX_Key_Down;
}

int ArrX_Key_Compare(const ArrX_Key* key, const void* a, const void* b) {
    if (!ArrX_Key_IsValid(key)) {
        unofficial(__LINE__);
        return 0;
    }
    const unsigned char* ka = B(a) + key->ofs;
    const unsigned char* kb = B(b) + key->ofs;
    int c;
    switch (key->type) {
        case ArrX_Key_Int: {
            int32_t va, vb;
            memcpy(&va, ka, 4);
            memcpy(&vb, kb, 4);
            c = (va > vb) - (va < vb);
            break;
        }
        case ArrX_Key_Double: {
            double va, vb;
            memcpy(&va, ka, 8);
            memcpy(&vb, kb, 8);
            double d = va - vb;  // truncated toward zero: less than 1 apart is equal
            c = d >= 1.0 ? 1 : d <= -1.0 ? -1 : 0;
            break;
        }
        case ArrX_Key_CStringPI:
            c = compareNoCase(keyText(key, a), keyText(key, b));
            break;
        default:
            c = sign(strcmp(keyText(key, a), keyText(key, b)));
            break;
    }
    return c * key->direc;
}

// ---- Keyed heap -------------------------------------------------------------

void ArrX_Sort_Init(ArrX_Sort* sort, void* block, size_t size, ArrX_Key* key) {
    sort->first = sort->last = static_cast<void**>(block);
    sort->bufLast = sort->first + size / kPtr;
    sort->key = key;
}

bool ArrX_Sort_IsValid(const ArrX_Sort* sort) {
    return sort->first <= sort->last && sort->last <= sort->bufLast && sort->key &&
           ArrX_Key_IsValid(sort->key);
}

bool ArrX_Sort_Push(ArrX_Sort* sort, void* elem) {
    if (!sort->key || !ArrX_Key_IsValid(sort->key)) {
        unofficial(__LINE__);
        return false;
    }
    if (sort->last >= sort->bufLast) return false;
    void** a = sort->first;
    ptrdiff_t i = sort->last - a;
    a[i] = elem;
    sort->last++;
    while (i > 0) {
        ptrdiff_t parent = (i - 1) / 2;
        if (ArrX_Key_Compare(sort->key, a[i], a[parent]) <= 0) break;
        void* t = a[i];
        a[i] = a[parent];
        a[parent] = t;
        i = parent;
    }
    return true;
}

void* ArrX_Sort_Pop(ArrX_Sort* sort) {
    if (sort->last <= sort->first) return nullptr;
    void** a = sort->first;
    void* top = a[0];
    sort->last--;
    ptrdiff_t n = sort->last - a;
    if (n == 0) return top;
    a[0] = a[n];
    const ArrX_Key* key = sort->key;
    ptrdiff_t i = 0;
    for (;;) {
        ptrdiff_t left = 2 * i + 1, right = left + 1;
        if (right >= n) {
            // A place with only a left child: one last compare.
            if (left < n && ArrX_Key_Compare(key, a[i], a[left]) < 0) {
                void* t = a[i];
                a[i] = a[left];
                a[left] = t;
            }
            break;
        }
        ptrdiff_t child = ArrX_Key_Compare(key, a[right], a[left]) > 0 ? right : left;
        if (ArrX_Key_Compare(key, a[i], a[child]) >= 0) break;
        void* t = a[i];
        a[i] = a[child];
        a[child] = t;
        i = child;
    }
    return top;
}

// ---- Finds by value ----------------------------------------------------------

void* ArrX_FindInt(const void* first, const void* last, size_t elemSize, size_t ofs,
                   int32_t value) {
    return findBytes(first, last, elemSize, ofs, &value, 4, __LINE__);
}

void* ArrX_FindDouble(const void* first, const void* last, size_t elemSize, size_t ofs,
                      double value) {
    return findBytes(first, last, elemSize, ofs, &value, 8, __LINE__);
}

void* ArrX_Buf_FindInt(const ArrX_Buf* buf, size_t elemSize, size_t ofs, int32_t value) {
    return findBytes(buf->first, buf->last, elemSize, ofs, &value, 4, __LINE__);
}

void* ArrX_Buf_FindDouble(const ArrX_Buf* buf, size_t elemSize, size_t ofs, double value) {
    return findBytes(buf->first, buf->last, elemSize, ofs, &value, 8, __LINE__);
}

// ---- Finds by key -------------------------------------------------------------

void* ArrX_Buf_FindKey(const ArrX_Buf* buf, size_t elemSize, const ArrX_Key* key,
                       const void* value) {
    if (!checkFindKey(key, elemSize, __LINE__)) return nullptr;
    for (unsigned char* p = B(buf->first); slotFits(p, elemSize, buf->last); p += elemSize)
        if (keyMatches(key, p, elemSize, value)) return p;
    return nullptr;
}

void* ArrX_Buf_FindKeyP(const ArrX_Buf* ptrs, const ArrX_Key* key, const void* value) {
    if (!checkFindKey(key, 0, __LINE__)) return nullptr;
    for (unsigned char* p = B(ptrs->first); slotFits(p, kPtr, ptrs->last); p += kPtr) {
        void* elem = loadPtr(p);
        if (elem && keyMatches(key, elem, 0, value)) return elem;
    }
    return nullptr;
}

void* ArrX_Able_NextKey(const ArrX_Able* able, size_t elemSize, size_t flagOfs, const void* prev,
                        const ArrX_Key* key, const void* value) {
    if (!checkFindKey(key, elemSize, __LINE__)) return nullptr;
    unsigned char* p = prev ? const_cast<unsigned char*>(B(prev)) + elemSize : B(able->first);
    for (; slotFits(p, elemSize, able->last); p += elemSize)
        if (p[flagOfs] != 0 && keyMatches(key, p, elemSize, value)) return p;
    return nullptr;
}

// ---- Hashed word set ------------------------------------------------------------

void ArrX_Hash_Init(ArrX_Hash* set, ArrX_Buf* buckets, int n, void* block, size_t size,
                    size_t elemSize, const ArrX_Key* key) {
    bool ok = n >= 1 && elemSize != 0 && key && isPointerType(key->type) &&
              key->type != ArrX_Key_CStringPI && key->type != ArrX_Key_CStringPW;
    if (!ok) unofficial(__LINE__);
    if (!ok || !checkFindKey(key, elemSize, __LINE__)) {
        set->n = 0;  // the report returned: a set that finds and takes nothing
        return;
    }
    set->buckets = buckets;
    set->n = n;
    set->elemSize = elemSize;
    set->key = *key;
    size_t share = size / static_cast<size_t>(n) / elemSize * elemSize;
    for (int i = 0; i < n; i++) ArrX_Buf_Init(&buckets[i], B(block) + i * share, share);
}

void* ArrX_Hash_Find(const ArrX_Hash* set, const char* text) {
    if (set->n < 1) return nullptr;
    const ArrX_Buf* bucket = &set->buckets[StrX_Hash(text, set->n)];
    return ArrX_Buf_FindKey(bucket, set->elemSize, &set->key, text);
}

void* ArrX_Hash_Add(ArrX_Hash* set, const char* text, bool* added) {
    if (added) *added = false;
    void* elem = ArrX_Hash_Find(set, text);
    if (elem || set->n < 1) return elem;
    elem = ArrX_Buf_Alloc(&set->buckets[StrX_Hash(text, set->n)], set->elemSize);
    if (!elem) return nullptr;  // the report returned: no hook installed
    memset(elem, 0, set->elemSize);
    storePtr(B(elem) + set->key.ofs, text);
    if (added) *added = true;
    return elem;
}

int ArrX_Hash_Load(ArrX_Hash* set, StrX_Mem* pool, const char* path) {
    FILE* f = FileX_Open(path, "r");
    if (!f) return 0;  // the report returned: no hook installed
    int added = 0;
    bool stop = false;
    EXCEPT3_TRY(
        [&] {
            char word[260];
            size_t len = 0;
            bool cut = false;  // the rest of an over-long word is dropped
            for (;;) {
                int c = fgetc(f);
                if (c == EOF || StrX_IsSpace(c)) {
                    if (len > 0) {
                        word[len] = '\0';
                        if (!ArrX_Hash_Find(set, word)) {
                            char* text = StrX_Mem_Add(pool, word);
                            if (text >= pool->end) {
                                stop = true;  // the report returned: no hook installed
                            } else if (strcmp(text, word) != 0) {
                                StrX_Mem_DropLast(pool);  // no cut word stays behind
                                ERRORS_REPORT(StrX_Err_MemEmpty,
                                              "アプリ内部のメモリ領域が足りません");
                                stop = true;
                            } else if (ArrX_Hash_Add(set, text, nullptr)) {
                                added++;
                            } else {
                                stop = true;
                            }
                        }
                    }
                    len = 0;
                    cut = false;
                    if (c == EOF || stop) break;
                    continue;
                }
                if (cut) continue;
                if (len == sizeof word - 1) {
                    // Do not keep half of a double-byte character.
                    size_t k = 0;
                    while (k < len)
                        k += CodePage_IsLead(static_cast<unsigned char>(word[k])) ? 2 : 1;
                    if (k > len) len -= 1;
                    cut = true;
                    continue;
                }
                word[len++] = static_cast<char>(c);
            }
        },
        Except3_Rethrow, [&] { fclose(f); });
    return added;
}

// ---- Iterators ------------------------------------------------------------------

void ArrX_Iter_InitBufs(ArrX_Iter* it, const ArrX_Buf* bufs, int n, size_t elemSize) {
    it->bufs = bufs;
    it->blocks = nullptr;
    it->n = n;
    it->index = -1;
    it->elemSize = elemSize;
    it->p = it->end = nullptr;
}

void ArrX_Iter_InitBlocks(ArrX_Iter* it, const ArrX_Block* blocks, int n, size_t elemSize) {
    ArrX_Iter_InitBufs(it, nullptr, n, elemSize);
    it->blocks = blocks;
}

void* ArrX_Iter_Next(ArrX_Iter* it) {
    if (it->elemSize == 0) return nullptr;
    while (!slotFits(it->p, it->elemSize, it->end)) {
        if (it->index + 1 >= it->n) return nullptr;
        it->index++;
        if (it->bufs) {
            it->p = B(it->bufs[it->index].first);
            it->end = B(it->bufs[it->index].last);
        } else {
            const ArrX_Block& b = it->blocks[it->index];
            it->p = B(b.first);
            it->end = it->p + (b.count > 0 ? static_cast<size_t>(b.count) * it->elemSize : 0);
        }
    }
    void* elem = it->p;
    it->p += it->elemSize;
    return elem;
}

// ---- Dumps ------------------------------------------------------------------------

void ArrX_Buf_Dump(const ArrX_Buf* buf, size_t itemSize, const char* indent) {
    Errors_DebugPrintf("%sArrX_Buf(%p) : first = %p, last = %p, bufLast = %p", indent,
                       static_cast<const void*>(buf), buf->first, buf->last, buf->bufLast);
    int used = static_cast<int>(B(buf->last) - B(buf->first));
    int cap = static_cast<int>(B(buf->bufLast) - B(buf->first));
    if (itemSize == 0)
        Errors_DebugPrintf("%ssize = %d/%d", indent, used, cap);
    else
        Errors_DebugPrintf("%ssize = %d/%d count = %d/%d", indent, used, cap,
                           static_cast<int>(used / itemSize), static_cast<int>(cap / itemSize));
}

void ArrX_Buf_DumpElems(const ArrX_Buf* buf, const char* types) {
    if (!types || !*types) {
        unofficial(__LINE__);
        return;
    }
    size_t cycleAlign = 1;
    for (const char* t = types; *t; t++) {
        if (*t != 'i' && *t != 'p' && *t != 's') {
            unofficial(__LINE__);
            return;
        }
        size_t a = *t == 'i' ? 4 : kPtr;
        if (a > cycleAlign) cycleAlign = a;
    }
    const unsigned char* first = B(buf->first);
    size_t used = B(buf->last) - first;
    size_t ofs = 0;
    int index = 0;
    for (const char* t = types;; t++) {
        if (!*t) {
            t = types;  // the cycle starts again, as a new struct
            ofs = (ofs + cycleAlign - 1) / cycleAlign * cycleAlign;
        }
        size_t size = *t == 'i' ? 4 : kPtr;
        ofs = (ofs + size - 1) / size * size;
        if (ofs > used || size > used - ofs) break;
        if (*t == 'i') {
            int32_t v;
            memcpy(&v, first + ofs, 4);
            Errors_DebugPrintf("  [%d] = %d (0x%X) '%c'", index, v, static_cast<unsigned>(v),
                               Errors_PrintableChar(static_cast<signed char>(v)));
        } else if (*t == 'p') {
            Errors_DebugPrintf("  [%d] = (%p)", index, loadPtr(first + ofs));
        } else {
            char shown[256];
            const char* s = static_cast<const char*>(loadPtr(first + ofs));
            Errors_DebugPrintf("  [%d] = (%p) \"%s\"", index, static_cast<const void*>(s),
                               shownText(shown, s));
        }
        ofs += size;
        index++;
    }
}

void ArrX_Key_Dump(const ArrX_Key* key, const char* indent) {
    if (ArrX_Key_IsValid(key))
        Errors_DebugPrintf("%sKey(%p): ofs=%d(0x%X), type=%d(%s), direc=%d(%s)", indent,
                           static_cast<const void*>(key), key->ofs, key->ofs, key->type,
                           kTypeNames[key->type], key->direc, kDirecNames[key->direc + 1]);
    else
        Errors_DebugPrintf("%sKey(%p): ofs=%d(0x%X), type=%d, direc=%d", indent,
                           static_cast<const void*>(key), key->ofs, key->ofs, key->type,
                           key->direc);
}

void ArrX_Sort_Dump(const ArrX_Sort* sort, const char* indent) {
    int nElem = static_cast<int>(sort->last - sort->first);
    int mElem = static_cast<int>(sort->bufLast - sort->first);
    Errors_DebugPrintf("%sArrX_Sort(%p) nElem=%d, mElem=%d, buf=(%p..%p)", indent,
                       static_cast<const void*>(sort), nElem, mElem,
                       static_cast<void*>(sort->first), static_cast<void*>(sort->bufLast));
    const ArrX_Key* key = sort->key;
    if (!key) return;
    ArrX_Key_Dump(key, indent);
    if (!ArrX_Key_IsValid(key)) return;
    for (int i = 0; i < nElem; i++) {
        int pos = i + 1;
        if ((pos & (pos - 1)) == 0) {
            if (pos == 1)
                Errors_DebugPrintf("%s(1)", indent);
            else
                Errors_DebugPrintf("%s(%d)", indent, pos);
        }
        const unsigned char* at = B(sort->first[i]) + key->ofs;
        const void* addr = at;
        if (key->type == ArrX_Key_Int) {
            int32_t v;
            memcpy(&v, at, 4);
            Errors_DebugPrintf("%sData of Key (%p) = %d", indent, addr, v);
        } else if (key->type == ArrX_Key_Double) {
            double v;
            memcpy(&v, at, 8);
            Errors_DebugPrintf("%sData of Key (%p) = %f", indent, addr, v);
        } else {
            char shown[256];
            Errors_DebugPrintf("%sData of Key (%p) = %s", indent, addr,
                               shownText(shown, keyText(key, sort->first[i])));
        }
    }
}
