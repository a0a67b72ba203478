#include "components/arrx.h"

#include <cstring>

#include "components/errors.h"

namespace {
unsigned char* B(void* p) { return static_cast<unsigned char*>(p); }
}  // namespace

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
    size_t len = static_cast<const unsigned char*>(end) - static_cast<const unsigned char*>(start);
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
    unsigned char* p = B(*slot);
    while (p < B(end) && p[flagOfs] == 0) p += elemSize;
    *slot = p;
}
