#include "components/arrx.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "components/strx.h"
#include "support/testsupport.h"

namespace {

// The %p text of a pointer, as the dumps print it.
std::string P(const void* p) {
    char s[32];
    snprintf(s, sizeof s, "%p", p);
    return s;
}

const std::string kFull = Sjis(u8"バッファが満杯です");

}  // namespace

class ArrXTest : public LibraryTest {
   protected:
    // Texts of the boxes shown with the given title, in order.
    std::vector<std::string> Texts(const char8_t* title) const {
        std::vector<std::string> out;
        for (const auto& b : boxes_.boxes)
            if (b.title == Sjis(title)) out.push_back(b.text);
        return out;
    }
    std::vector<std::string> DebugLines() const { return Texts(u8"デバッグ表示"); }
    std::vector<std::string> ErrorBoxes() const { return Texts(u8"エラーメッセージ"); }
    bool LastTextHas(const std::string& part) const {
        return LastText().find(part) != std::string::npos;
    }
};

// ---- Byte and item buffers -------------------------------------------------

TEST_F(ArrXTest, AppendRangeFillsThenRaisesAfterBox) {
    unsigned char block[400 + 4];
    memset(block + 400, 0xEE, 4);  // guard
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, 400);
    for (int i = 0; i < 400; i++) {
        char c = static_cast<char>('A' + i % 26);
        ASSERT_EQ(0, CaughtCode([&] { ArrX_Buf_AppendRange(&buf, &c, &c + 1); })) << i;
    }
    EXPECT_EQ(buf.last, buf.bufLast);
    EXPECT_TRUE(boxes_.boxes.empty());

    char c = '!';
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_AppendRange(&buf, &c, &c + 1); }));
    EXPECT_TRUE(LastTextHas(kFull));
    ASSERT_EQ(1u, ErrorBoxes().size());
    // Head: bytes 0..18; tail: bytes 381..399 ('A' + 381 % 26 = 'R').
    EXPECT_EQ(kFull + "\n" + "ABCDEFGHIJKLMNOPQRS" + " \x81\x60 " + "RSTUVWXYZABCDEFGHIJ",
              ErrorBoxes()[0]);
    EXPECT_EQ(buf.last, block + 400);  // unchanged
    for (int i = 0; i < 4; i++) EXPECT_EQ(0xEE, block[400 + i]);

    ArrX_Buf_AddNul(&buf);  // full: the last byte becomes NUL, last stays
    EXPECT_EQ(0, block[399]);
    EXPECT_EQ('I', block[398]);
    EXPECT_EQ(buf.last, block + 400);
    EXPECT_EQ(0xEE, block[400]);
}

TEST_F(ArrXTest, AppendRangeCutsSilentlyThenNextRaises) {
    unsigned char block[10 + 2];
    memset(block, 0, sizeof block);
    block[10] = block[11] = 0xEE;
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, 10);
    const char* six = "abcdef";
    ArrX_Buf_AppendRange(&buf, six, six + 6);
    const char* ten = "0123456789";
    EXPECT_EQ(0, CaughtCode([&] { ArrX_Buf_AppendRange(&buf, ten, ten + 10); }));
    EXPECT_EQ(0, memcmp(block, "abcdef0123", 10));
    EXPECT_EQ(buf.last, buf.bufLast);
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(0xEE, block[10]);

    // Even an empty range raises once the buffer is full.
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_AppendRange(&buf, ten, ten); }));
    ASSERT_EQ(1u, ErrorBoxes().size());
    EXPECT_EQ(kFull + "\nabcdef0123 \x81\x60 abcdef0123", ErrorBoxes()[0]);
}

TEST_F(ArrXTest, AddByteAndAddNulNeverOverrun) {
    unsigned char block[3];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, 2);
    block[2] = 0xEE;
    ArrX_Buf_AddByte(&buf, 'x');
    ArrX_Buf_AddNul(&buf);
    EXPECT_EQ(buf.last, buf.bufLast);
    ArrX_Buf_AddByte(&buf, 'y');  // dropped
    EXPECT_EQ('x', block[0]);
    EXPECT_EQ(0, block[1]);
    EXPECT_EQ(0xEE, block[2]);

    // A zero-sized buffer has no byte to overwrite.
    ArrX_Buf empty;
    ArrX_Buf_Init(&empty, block + 2, 0);
    ArrX_Buf_AddNul(&empty);
    EXPECT_EQ(0xEE, block[2]);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(ArrXTest, AllocExactlyFillingSucceedsOneMoreRaises) {
    unsigned char block[16];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, 16);
    EXPECT_EQ(block, ArrX_Buf_Alloc(&buf, 10));
    EXPECT_EQ(block + 10, ArrX_Buf_Alloc(&buf, 6));
    EXPECT_EQ(buf.last, buf.bufLast);
    EXPECT_EQ(block + 16, ArrX_Buf_Alloc(&buf, 0));
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_Alloc(&buf, 1); }));
    EXPECT_TRUE(LastTextHas(kFull));
    EXPECT_EQ(buf.last, block + 16);
    EXPECT_TRUE(ErrorBoxes().empty());  // no box: only the append shows one

    ArrX_Buf items;
    ArrX_Buf_Init(&items, block, 16);
    EXPECT_EQ(block, ArrX_Buf_AllocItems(&items, 4, 3));
    EXPECT_EQ(block + 12, ArrX_Buf_AllocItems(&items, 4, 1));
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_AllocItems(&items, 4, 1); }));
    ArrX_Buf_Init(&items, block, 16);
    // count * itemSize would wrap around: still too big.
    EXPECT_EQ(901, CaughtCode([&] {
                  ArrX_Buf_AllocItems(&items, 8, std::numeric_limits<size_t>::max() / 4);
              }));
    EXPECT_EQ(items.last, block);
}

TEST_F(ArrXTest, BufferSetLaysBuffersOutOneAfterAnother) {
    alignas(8) unsigned char block[64];
    ArrX_Buf a{}, b{}, c{};
    ArrX_BufDef defs[] = {{&a, 8, 3}, {&b, 4, 2}, {&c, 1, 5}};
    EXPECT_EQ(37u, ArrX_Buf_SetSize(defs, 3));
    EXPECT_EQ(0u, ArrX_Buf_SetSize(defs, 0));
    EXPECT_EQ(block + 37, ArrX_Buf_InitSet(defs, 3, block, 37));
    EXPECT_EQ(block, a.first);
    EXPECT_EQ(block, a.last);
    EXPECT_EQ(block + 24, a.bufLast);
    EXPECT_EQ(block + 24, b.first);
    EXPECT_EQ(block + 32, b.bufLast);
    EXPECT_EQ(block + 32, c.first);
    EXPECT_EQ(block + 37, c.bufLast);

    ArrX_Buf d{};
    ArrX_BufDef big[] = {{&d, 4, 10}};
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_InitSet(big, 1, block, 39); }));
    EXPECT_EQ(nullptr, d.first);  // unchanged

    ArrX_BufDef huge[] = {{&d, 2, std::numeric_limits<size_t>::max()}};
    EXPECT_EQ(std::numeric_limits<size_t>::max(), ArrX_Buf_SetSize(huge, 1));
}

TEST_F(ArrXTest, ValidItemAndRemoveLast) {
    int32_t block[4];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, sizeof block);
    EXPECT_TRUE(ArrX_Buf_IsValid(&buf));
    ArrX_Buf_AllocItems(&buf, 4, 3);
    EXPECT_EQ(&block[2], ArrX_Buf_Item(&buf, 4, 2));
    EXPECT_FALSE(ArrX_Buf_RemoveLast(&buf, 4, &block[1]));
    EXPECT_EQ(buf.last, &block[3]);
    EXPECT_TRUE(ArrX_Buf_RemoveLast(&buf, 4, &block[2]));
    EXPECT_EQ(buf.last, &block[2]);
    EXPECT_TRUE(ArrX_Buf_RemoveLast(&buf, 4, &block[1]));
    EXPECT_TRUE(ArrX_Buf_RemoveLast(&buf, 4, &block[0]));
    EXPECT_EQ(buf.last, buf.first);
    // Nothing below first is ever removed.
    EXPECT_FALSE(ArrX_Buf_RemoveLast(&buf, 4, &block[0]));
    EXPECT_EQ(buf.last, buf.first);

    ArrX_Buf bad = {&block[2], &block[1], &block[3]};
    EXPECT_FALSE(ArrX_Buf_IsValid(&bad));
    bad = {&block[0], &block[3], &block[2]};
    EXPECT_FALSE(ArrX_Buf_IsValid(&bad));
    bad = {&block[1], &block[1], &block[1]};
    EXPECT_TRUE(ArrX_Buf_IsValid(&bad));
}

// ---- Slot pools ----------------------------------------------------------------

TEST_F(ArrXTest, PoolOfFiveSlotsRaisesWhenAllUsed) {
    alignas(8) static unsigned char block[3920];
    memset(block, 0x55, sizeof block);
    ArrX_Able able;
    ArrX_Able_Init(&able, block, sizeof block, 784, 0);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(0, block[i * 784]) << i;
        EXPECT_EQ(0x55, block[i * 784 + 1]) << i;  // only the flags are set up
    }
    EXPECT_EQ(nullptr, ArrX_Able_FirstUsed(&able, 784, 0));
    for (int i = 0; i < 5; i++) {
        unsigned char* slot = static_cast<unsigned char*>(ArrX_Able_FindFree(&able, 784, 0));
        ASSERT_EQ(block + i * 784, slot) << i;
        *slot = 1;
    }
    EXPECT_EQ(5, ArrX_Able_CountUsed(&able, 784, 0));
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Able_FindFree(&able, 784, 0); }));
    EXPECT_TRUE(LastTextHas(Sjis(u8"ArrX_Able が満杯です")));

    block[3 * 784] = 0;  // a freed slot is found again
    EXPECT_EQ(block + 3 * 784, ArrX_Able_FindFree(&able, 784, 0));
    EXPECT_EQ(4, ArrX_Able_CountUsed(&able, 784, 0));
}

TEST_F(ArrXTest, WalkVisitsExactlyTheUsedSlots) {
    struct Slot {
        int32_t value;
        unsigned char flag;
    };
    Slot slots[5] = {};
    ArrX_Able able;
    ArrX_Able_Init(&able, slots, sizeof slots, sizeof(Slot), offsetof(Slot, flag));
    slots[0] = {10, 1};
    slots[2] = {12, 1};
    std::vector<int> seen;
    void* p = able.first;
    for (;;) {
        ArrX_Able_SkipFree(&p, sizeof(Slot), offsetof(Slot, flag), able.last);
        if (p >= able.last) break;
        seen.push_back(static_cast<Slot*>(p)->value);
        p = static_cast<Slot*>(p) + 1;
    }
    EXPECT_EQ((std::vector<int>{10, 12}), seen);
    EXPECT_EQ(p, able.last);
    EXPECT_EQ(2, ArrX_Able_CountUsed(&able, sizeof(Slot), offsetof(Slot, flag)));
    EXPECT_EQ(&slots[0], ArrX_Able_FirstUsed(&able, sizeof(Slot), offsetof(Slot, flag)));

    p = &slots[0];
    ArrX_Able_SkipUsed(&p, sizeof(Slot), offsetof(Slot, flag), able.last);
    EXPECT_EQ(&slots[1], p);
    slots[3].flag = slots[4].flag = 1;
    p = &slots[3];
    ArrX_Able_SkipUsed(&p, sizeof(Slot), offsetof(Slot, flag), able.last);
    EXPECT_EQ(able.last, p);
}

TEST_F(ArrXTest, WalkNeverReadsAPartialTailSlot) {
    // 10 bytes in 4-byte slots, flag at offset 3: the tail slot at 8 has no
    // flag inside the block; the guard bytes after it look "used".
    unsigned char block[12];
    memset(block, 0, sizeof block);
    block[10] = block[11] = 0xEE;
    ArrX_Able able;
    ArrX_Able_Init(&able, block, 10, 4, 3);
    EXPECT_EQ(0xEE, block[11]);
    void* p = able.first;
    ArrX_Able_SkipFree(&p, 4, 3, able.last);
    EXPECT_EQ(able.last, p);
    EXPECT_EQ(0, ArrX_Able_CountUsed(&able, 4, 3));
    EXPECT_EQ(nullptr, ArrX_Able_FirstUsed(&able, 4, 3));
    EXPECT_EQ(901, CaughtCode([&] {
                  block[3] = block[7] = 1;
                  ArrX_Able_FindFree(&able, 4, 3);
              }));
}

// ---- Keys and heap -------------------------------------------------------------

namespace {
struct Rec {
    int32_t i;
    double d;
    char name[8];
    const char* s;
};

ArrX_Key MakeKey(int32_t ofs, int32_t type, int32_t direc) {
    ArrX_Key k;
    ArrX_Key_Init(&k, ofs, type, direc);
    return k;
}

// Pops every element of a heap, returning their int keys.
std::vector<int> PopAll(ArrX_Sort* sort) {
    std::vector<int> out;
    while (void* e = ArrX_Sort_Pop(sort)) out.push_back(static_cast<Rec*>(e)->i);
    return out;
}
}  // namespace

TEST_F(ArrXTest, KeyValidity) {
    struct {
        int32_t ofs, type, direc;
        bool valid;
    } cases[] = {
        {0, 0, -1, true},  {0, 6, 1, true},  {100, 3, 0, true}, {-1, 0, 0, false},
        {0, -1, 0, false}, {0, 7, 0, false}, {0, 0, 2, false},  {0, 0, -2, false},
    };
    for (const auto& c : cases) {
        ArrX_Key k = MakeKey(c.ofs, c.type, c.direc);
        EXPECT_EQ(c.valid, ArrX_Key_IsValid(&k)) << c.ofs << " " << c.type << " " << c.direc;
    }
}

TEST_F(ArrXTest, HeapDownPopsDescendingUpAscending) {
    Rec r[4] = {};
    int keys[4] = {3, 9, 1, 7};
    for (int i = 0; i < 4; i++) r[i].i = keys[i];
    void* block[4];
    for (int32_t direc : {ArrX_Key_Down, ArrX_Key_Up}) {
        ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, direc);
        ArrX_Sort sort;
        ArrX_Sort_Init(&sort, block, sizeof block, &key);
        EXPECT_TRUE(ArrX_Sort_IsValid(&sort));
        for (auto& e : r) EXPECT_TRUE(ArrX_Sort_Push(&sort, &e));
        if (direc == ArrX_Key_Down)
            EXPECT_EQ((std::vector<int>{9, 7, 3, 1}), PopAll(&sort));
        else
            EXPECT_EQ((std::vector<int>{1, 3, 7, 9}), PopAll(&sort));
        EXPECT_EQ(sort.first, sort.last);
        EXPECT_EQ(nullptr, ArrX_Sort_Pop(&sort));  // empty: nullptr, nothing changes
        EXPECT_EQ(sort.first, sort.last);
    }
}

TEST_F(ArrXTest, HeapTiesKeepTheirPlaces) {
    // Equal keys are never swapped, and of two equal children the left one
    // moves up.
    Rec a = {}, b = {}, c = {}, d = {};
    a.i = b.i = c.i = 5;
    d.i = 1;
    void* block[4];
    ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, sizeof block, &key);
    for (Rec* r : {&a, &b, &c, &d}) ArrX_Sort_Push(&sort, r);
    EXPECT_EQ((std::vector<void*>{&a, &b, &c, &d}), std::vector<void*>(block, block + 4));
    EXPECT_EQ(&a, ArrX_Sort_Pop(&sort));
    EXPECT_EQ((std::vector<void*>{&b, &d, &c}), std::vector<void*>(block, block + 3));
    // A place with only a left child: a greater parent stays above it.
    EXPECT_EQ(&b, ArrX_Sort_Pop(&sort));
    EXPECT_EQ((std::vector<void*>{&c, &d}), std::vector<void*>(block, block + 2));
    Rec e = {};
    e.i = 7;
    ArrX_Sort_Push(&sort, &e);  // [e, d, c]
    EXPECT_EQ((std::vector<void*>{&e, &d, &c}), std::vector<void*>(block, block + 3));
    EXPECT_EQ(&e, ArrX_Sort_Pop(&sort));  // c on top, its only child d is smaller
    EXPECT_EQ((std::vector<void*>{&c, &d}), std::vector<void*>(block, block + 2));
    EXPECT_EQ(&c, ArrX_Sort_Pop(&sort));
    EXPECT_EQ(&d, ArrX_Sort_Pop(&sort));
    // An only left child with an equal key stays below.
    for (Rec* r : {&a, &b, &c}) ArrX_Sort_Push(&sort, r);
    EXPECT_EQ(&a, ArrX_Sort_Pop(&sort));
    EXPECT_EQ((std::vector<void*>{&c, &b}), std::vector<void*>(block, block + 2));
    EXPECT_EQ(&c, ArrX_Sort_Pop(&sort));
    EXPECT_EQ(&b, ArrX_Sort_Pop(&sort));
    EXPECT_EQ(nullptr, ArrX_Sort_Pop(&sort));
}

TEST_F(ArrXTest, HeapPushOnFullChangesNothing) {
    Rec r[3] = {};
    r[0].i = 1, r[1].i = 2, r[2].i = 3;
    void* block[3];
    block[2] = reinterpret_cast<void*>(0x1234);  // beyond the heap's 2 slots
    ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, 2 * sizeof(void*) + 3, &key);  // partial pointer ignored
    EXPECT_EQ(block + 2, sort.bufLast);
    EXPECT_TRUE(ArrX_Sort_Push(&sort, &r[0]));
    EXPECT_TRUE(ArrX_Sort_Push(&sort, &r[1]));
    EXPECT_FALSE(ArrX_Sort_Push(&sort, &r[2]));
    EXPECT_EQ(reinterpret_cast<void*>(0x1234), block[2]);
    EXPECT_EQ((std::vector<int>{2, 1}), PopAll(&sort));
}

TEST_F(ArrXTest, IntCompareHoldsAtTheExtremes) {
    // The plain 32-bit difference would wrap here.
    Rec lo = {}, hi = {};
    lo.i = std::numeric_limits<int32_t>::min();
    hi.i = std::numeric_limits<int32_t>::max();
    ArrX_Key down = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down);
    ArrX_Key up = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Up);
    ArrX_Key none = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_NoDirec);
    EXPECT_LT(ArrX_Key_Compare(&down, &lo, &hi), 0);
    EXPECT_GT(ArrX_Key_Compare(&down, &hi, &lo), 0);
    EXPECT_GT(ArrX_Key_Compare(&up, &lo, &hi), 0);
    EXPECT_EQ(0, ArrX_Key_Compare(&none, &lo, &hi));
    EXPECT_EQ(0, ArrX_Key_Compare(&down, &lo, &lo));
}

TEST_F(ArrXTest, DoublesLessThanOneApartCompareEqual) {
    struct {
        double a, b;
        int down;
    } cases[] = {
        {1.2, 1.9, 0}, {1.9, 1.2, 0},    {5.0, 5.999, 0},    {0.0, -0.99, 0},     {1.0, 2.0, -1},
        {2.0, 1.0, 1}, {-3.5, -2.5, -1}, {1e300, -1e300, 1}, {-1e300, 1e300, -1}, {NAN, 1.0, 0},
    };
    ArrX_Key down = MakeKey(offsetof(Rec, d), ArrX_Key_Double, ArrX_Key_Down);
    ArrX_Key up = MakeKey(offsetof(Rec, d), ArrX_Key_Double, ArrX_Key_Up);
    for (const auto& c : cases) {
        Rec a = {}, b = {};
        a.d = c.a;
        b.d = c.b;
        EXPECT_EQ(c.down, ArrX_Key_Compare(&down, &a, &b)) << c.a << " vs " << c.b;
        EXPECT_EQ(-c.down, ArrX_Key_Compare(&up, &a, &b)) << c.a << " vs " << c.b;
    }
}

TEST_F(ArrXTest, HeapMatchesStdSortOnRandomKeys) {
    std::mt19937 rng(20000330);
    const int n = 1000;
    std::vector<Rec> recs(n);
    std::vector<int> keys(n);
    for (int i = 0; i < n; i++) recs[i].i = keys[i] = static_cast<int>(rng() % 200) - 100;
    std::vector<void*> block(n);
    for (int32_t direc : {ArrX_Key_Down, ArrX_Key_Up}) {
        ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, direc);
        ArrX_Sort sort;
        ArrX_Sort_Init(&sort, block.data(), n * sizeof(void*), &key);
        for (auto& r : recs) ASSERT_TRUE(ArrX_Sort_Push(&sort, &r));
        std::vector<int> want = keys;
        if (direc == ArrX_Key_Down)
            std::sort(want.begin(), want.end(), std::greater<int>());
        else
            std::sort(want.begin(), want.end());
        EXPECT_EQ(want, PopAll(&sort)) << "direc " << direc;
    }

    // Whole-numbered doubles order exactly.
    for (int i = 0; i < n; i++) recs[i].d = keys[i] * 3.0;
    ArrX_Key key = MakeKey(offsetof(Rec, d), ArrX_Key_Double, ArrX_Key_Up);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block.data(), n * sizeof(void*), &key);
    // Interleave pushes and pops: pop after every third push.
    std::vector<double> popped, pending;
    for (int i = 0; i < n; i++) {
        ASSERT_TRUE(ArrX_Sort_Push(&sort, &recs[i]));
        pending.push_back(recs[i].d);
        if (i % 3 == 2) {
            double want = *std::min_element(pending.begin(), pending.end());
            double got = static_cast<Rec*>(ArrX_Sort_Pop(&sort))->d;
            ASSERT_EQ(want, got) << i;
            pending.erase(std::find(pending.begin(), pending.end(), want));
        }
    }
    std::sort(pending.begin(), pending.end());
    while (void* e = ArrX_Sort_Pop(&sort)) popped.push_back(static_cast<Rec*>(e)->d);
    EXPECT_EQ(pending, popped);
}

TEST_F(ArrXTest, HeapOrdersStringKeysByBytes) {
    // Names cover: ASCII case, a double-byte character whose trail byte is an
    // ASCII letter ("\x83\x41" vs "\x83\x61"), and bytes above 0x7F.
    const char* texts[] = {"banana", "Apple", "apple", "\x83\x61", "\x83\x41", "cherry", "", "z"};
    const int n = 8;
    Rec recs[n] = {};
    for (int i = 0; i < n; i++) {
        recs[i].i = i;
        recs[i].s = texts[i];
        snprintf(recs[i].name, sizeof recs[i].name, "%s", texts[i]);
    }
    auto order = [&](int32_t ofs, int32_t type, int32_t direc) {
        ArrX_Key key = MakeKey(ofs, type, direc);
        void* block[n];
        ArrX_Sort sort;
        ArrX_Sort_Init(&sort, block, sizeof block, &key);
        for (auto& r : recs) ArrX_Sort_Push(&sort, &r);
        std::vector<std::string> out;
        while (void* e = ArrX_Sort_Pop(&sort)) out.push_back(static_cast<Rec*>(e)->s);
        return out;
    };
    std::vector<std::string> bytes = {"",       "Apple", "apple",    "banana",
                                      "cherry", "z",     "\x83\x41", "\x83\x61"};
    EXPECT_EQ(bytes, order(offsetof(Rec, name), ArrX_Key_CString, ArrX_Key_Up));
    EXPECT_EQ(bytes, order(offsetof(Rec, s), ArrX_Key_CStringP, ArrX_Key_Up));
    EXPECT_EQ(bytes, order(offsetof(Rec, s), ArrX_Key_StrV, ArrX_Key_Up));
    EXPECT_EQ(bytes, order(offsetof(Rec, s), ArrX_Key_CStringPW, ArrX_Key_Up));
    std::vector<std::string> reversed(bytes.rbegin(), bytes.rend());
    EXPECT_EQ(reversed, order(offsetof(Rec, s), ArrX_Key_CStringP, ArrX_Key_Down));

    // Ignoring ASCII case: "Apple" and "apple" are equal (either first);
    // the double-byte characters stay apart and are not folded.
    std::vector<std::string> folded = order(offsetof(Rec, s), ArrX_Key_CStringPI, ArrX_Key_Up);
    ASSERT_EQ(8u, folded.size());
    EXPECT_EQ("", folded[0]);
    std::vector<std::string> pair = {folded[1], folded[2]};
    std::sort(pair.begin(), pair.end());
    EXPECT_EQ((std::vector<std::string>{"Apple", "apple"}), pair);
    EXPECT_EQ((std::vector<std::string>{"banana", "cherry", "z", "\x83\x41", "\x83\x61"}),
              std::vector<std::string>(folded.begin() + 3, folded.end()));

    ArrX_Key pi = MakeKey(offsetof(Rec, s), ArrX_Key_CStringPI, ArrX_Key_Down);
    Rec a = {}, b = {};
    a.s = "ABC\x83\x41";
    b.s = "abc\x83\x61";
    EXPECT_LT(ArrX_Key_Compare(&pi, &a, &b), 0);
    b.s = "abc\x83\x41";
    EXPECT_EQ(0, ArrX_Key_Compare(&pi, &a, &b));
    b.s = nullptr;  // reads as ""
    EXPECT_GT(ArrX_Key_Compare(&pi, &a, &b), 0);
}

TEST_F(ArrXTest, HeapWithInvalidKeyReports) {
    Rec r = {};
    void* block[2];
    ArrX_Key key = MakeKey(0, 9, ArrX_Key_Down);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, sizeof block, &key);
    EXPECT_FALSE(ArrX_Sort_IsValid(&sort));
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Sort_Push(&sort, &r); }));
    EXPECT_EQ(sort.first, sort.last);
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Key_Compare(&key, &r, &r); }));

    ArrX_Sort_Init(&sort, block, sizeof block, nullptr);
    EXPECT_FALSE(ArrX_Sort_IsValid(&sort));
    key = MakeKey(0, ArrX_Key_Int, ArrX_Key_Up);
    ArrX_Sort_Init(&sort, block, sizeof block, &key);
    sort.last = sort.bufLast + 1;
    EXPECT_FALSE(ArrX_Sort_IsValid(&sort));
}

// ---- Finds ------------------------------------------------------------------------

TEST_F(ArrXTest, FindsByValueCompareBytes) {
    Rec recs[4] = {};
    double ds[4] = {1.5, -0.0, NAN, 1.5};
    for (int i = 0; i < 4; i++) recs[i].i = 10 * i, recs[i].d = ds[i];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, recs, sizeof recs);
    buf.last = reinterpret_cast<unsigned char*>(&recs[3]) + 4;  // a partial 4th element
    const size_t es = sizeof(Rec);

    using FindInt = std::function<void*(int32_t)>;
    using FindDouble = std::function<void*(double)>;
    FindInt ints[] = {
        [&](int32_t v) { return ArrX_FindInt(buf.first, buf.last, es, offsetof(Rec, i), v); },
        [&](int32_t v) { return ArrX_Buf_FindInt(&buf, es, offsetof(Rec, i), v); },
    };
    FindDouble doubles[] = {
        [&](double v) { return ArrX_FindDouble(buf.first, buf.last, es, offsetof(Rec, d), v); },
        [&](double v) { return ArrX_Buf_FindDouble(&buf, es, offsetof(Rec, d), v); },
    };
    for (int set = 0; set < 2; set++) {
        EXPECT_EQ(&recs[0], ints[set](0)) << set;
        EXPECT_EQ(&recs[2], ints[set](20)) << set;
        EXPECT_EQ(nullptr, ints[set](30)) << set;  // the partial element is not searched
        EXPECT_EQ(nullptr, ints[set](5)) << set;
        EXPECT_EQ(&recs[0], doubles[set](1.5)) << set;  // the first of two
        EXPECT_EQ(nullptr, doubles[set](0.0)) << set;   // -0.0 has other bytes
        EXPECT_EQ(&recs[1], doubles[set](-0.0)) << set;
        EXPECT_EQ(&recs[2], doubles[set](NAN)) << set;  // same bytes, found
    }
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_FindDouble(&buf, 8, 4, 1.0); }));
    EXPECT_EQ(102, CaughtCode([&] { ArrX_FindInt(buf.first, buf.last, 4, 4, 0); }));
}

TEST_F(ArrXTest, FindsByKeyOfEveryType) {
    Rec recs[5] = {};
    const char* texts[] = {"index.htm", "README", "a\x83\x41", "*.txt", nullptr};
    for (int i = 0; i < 5; i++) {
        recs[i].i = 100 + i;
        recs[i].d = i * 0.5;
        recs[i].s = texts[i];
        if (texts[i]) snprintf(recs[i].name, sizeof recs[i].name, "%s", texts[i]);
    }
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, recs, sizeof recs);
    buf.last = buf.bufLast;
    void* ptrBlock[6] = {&recs[4], nullptr, &recs[3], &recs[2], &recs[1], &recs[0]};
    ArrX_Buf ptrs;
    ArrX_Buf_Init(&ptrs, ptrBlock, sizeof ptrBlock);
    ptrs.last = ptrs.bufLast;

    int32_t i102 = 102, i7 = 7;
    double d15 = 1.5, d16 = 1.6;
    struct {
        int32_t ofs, type;
        const void* value;
        int want;  // index of the record, -1 for none
    } cases[] = {
        {offsetof(Rec, i), ArrX_Key_Int, &i102, 2},
        {offsetof(Rec, i), ArrX_Key_Int, &i7, -1},
        {offsetof(Rec, d), ArrX_Key_Double, &d15, 3},
        {offsetof(Rec, d), ArrX_Key_Double, &d16, -1},
        {offsetof(Rec, name), ArrX_Key_CString, "README", 1},
        {offsetof(Rec, name), ArrX_Key_CString, "readme", -1},
        {offsetof(Rec, name), ArrX_Key_CString, "READM", -1},
        {offsetof(Rec, s), ArrX_Key_CStringP, "README", 1},
        {offsetof(Rec, s), ArrX_Key_CStringP, "readme", -1},
        {offsetof(Rec, s), ArrX_Key_StrV, "index.htm", 0},
        {offsetof(Rec, s), ArrX_Key_StrV, "INDEX.HTM", -1},
        {offsetof(Rec, s), ArrX_Key_CStringPI, "ReadMe", 1},
        {offsetof(Rec, s), ArrX_Key_CStringPI, "INDEX.htm", 0},
        {offsetof(Rec, s), ArrX_Key_CStringPI, "A\x83\x41", 2},
        {offsetof(Rec, s), ArrX_Key_CStringPI, "a\x83\x61", -1},  // trail byte not folded
        {offsetof(Rec, s), ArrX_Key_CStringPW, "notes.txt", 3},
        {offsetof(Rec, s), ArrX_Key_CStringPW, "notes.htm", -1},
        {offsetof(Rec, s), ArrX_Key_CStringPW, "*.txt", 3},
        {offsetof(Rec, s), ArrX_Key_CStringP, "", -1},  // the null pointer never matches
    };
    for (const auto& c : cases) {
        ArrX_Key key = MakeKey(c.ofs, c.type, ArrX_Key_NoDirec);
        void* want = c.want < 0 ? nullptr : &recs[c.want];
        EXPECT_EQ(want, ArrX_Buf_FindKey(&buf, sizeof(Rec), &key, c.value))
            << "type " << c.type << " want " << c.want;
        EXPECT_EQ(want, ArrX_Buf_FindKeyP(&ptrs, &key, c.value))
            << "pointers, type " << c.type << " want " << c.want;
    }
}

TEST_F(ArrXTest, FindByKeyStoredStringEndsAtElementEnd) {
    // A CString key that fills the element to its end without a NUL.
    struct Name {
        char text[4];
    };
    Name names[3];
    memcpy(names[0].text, "abc", 4);
    memcpy(names[1].text, "wxyz", 4);
    memcpy(names[2].text, "wx\0\0", 4);
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, names, sizeof names);
    buf.last = buf.bufLast;
    ArrX_Key key = MakeKey(0, ArrX_Key_CString, ArrX_Key_NoDirec);
    EXPECT_EQ(&names[1], ArrX_Buf_FindKey(&buf, sizeof(Name), &key, "wxyz"));
    EXPECT_EQ(nullptr, ArrX_Buf_FindKey(&buf, sizeof(Name), &key, "wxyzw"));
    EXPECT_EQ(&names[2], ArrX_Buf_FindKey(&buf, sizeof(Name), &key, "wx"));
    EXPECT_EQ(nullptr, ArrX_Buf_FindKey(&buf, sizeof(Name), &key, ""));

    // Keys that do not fit the element, or are invalid, are reported.
    ArrX_Key outside = MakeKey(4, ArrX_Key_CString, ArrX_Key_NoDirec);
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_FindKey(&buf, sizeof(Name), &outside, "x"); }));
    ArrX_Key wide = MakeKey(0, ArrX_Key_Double, ArrX_Key_NoDirec);
    double d = 0;
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_FindKey(&buf, sizeof(Name), &wide, &d); }));
    ArrX_Key bad = MakeKey(0, ArrX_Key_CString, 5);
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_FindKeyP(&buf, &bad, "x"); }));
}

TEST_F(ArrXTest, NextKeyWalksMatchesAmongUsedSlots) {
    struct Slot {
        unsigned char used;
        const char* word;
    };
    Slot slots[6] = {};
    ArrX_Able able;
    ArrX_Able_Init(&able, slots, sizeof slots, sizeof(Slot), 0);
    const char* words[] = {"Kyoto", "nara", "kyoto", "KYOTO", "osaka", "kyoto"};
    for (int i = 0; i < 6; i++) slots[i].word = words[i];
    for (int i : {0, 1, 3, 4, 5}) slots[i].used = 1;  // slot 2 is free
    ArrX_Key key = MakeKey(offsetof(Slot, word), ArrX_Key_CStringPI, ArrX_Key_NoDirec);
    std::vector<void*> seen;
    const void* p = nullptr;
    while ((p = ArrX_Able_NextKey(&able, sizeof(Slot), 0, p, &key, "kyoto")))
        seen.push_back(const_cast<void*>(p));
    EXPECT_EQ((std::vector<void*>{&slots[0], &slots[3], &slots[5]}), seen);
    ArrX_Key exact = MakeKey(offsetof(Slot, word), ArrX_Key_CStringP, ArrX_Key_NoDirec);
    EXPECT_EQ(&slots[5], ArrX_Able_NextKey(&able, sizeof(Slot), 0, nullptr, &exact, "kyoto"));
    EXPECT_EQ(nullptr, ArrX_Able_NextKey(&able, sizeof(Slot), 0, nullptr, &exact, "nagoya"));
}

// ---- Iterators ----------------------------------------------------------------------

TEST_F(ArrXTest, IteratorsStepAcrossBuffersAndBlocks) {
    int32_t a[3] = {1, 2, 3}, b[2] = {4, 5}, c[2] = {6, 7};
    ArrX_Buf bufs[4];
    ArrX_Buf_Init(&bufs[0], a, sizeof a);
    bufs[0].last = reinterpret_cast<char*>(a) + 10;  // two whole elements and a part
    ArrX_Buf_Init(&bufs[1], b, sizeof b);            // empty
    ArrX_Buf_Init(&bufs[2], c, sizeof c);
    bufs[2].last = bufs[2].bufLast;
    ArrX_Buf_Init(&bufs[3], b, sizeof b);
    bufs[3].last = bufs[3].bufLast;
    auto walk = [](ArrX_Iter* it) {
        std::vector<int> out;
        while (void* e = ArrX_Iter_Next(it)) out.push_back(*static_cast<int32_t*>(e));
        return out;
    };
    ArrX_Iter it;
    ArrX_Iter_InitBufs(&it, bufs, 4, 4);
    EXPECT_EQ((std::vector<int>{1, 2, 6, 7, 4, 5}), walk(&it));
    EXPECT_EQ(nullptr, ArrX_Iter_Next(&it));  // stays at the end
    ArrX_Iter_InitBufs(&it, bufs, 0, 4);
    EXPECT_TRUE(walk(&it).empty());
    ArrX_Iter_InitBufs(&it, bufs, 4, 0);
    EXPECT_TRUE(walk(&it).empty());

    ArrX_Block blocks[] = {{c, 0}, {a, 3}, {b, -1}, {c, 1}, {b, 2}};
    ArrX_Iter_InitBlocks(&it, blocks, 5, 4);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 6, 4, 5}), walk(&it));
}

// ---- Dumps ---------------------------------------------------------------------------

TEST_F(ArrXTest, BufDumpLines) {
    unsigned char block[20];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, 20);
    ArrX_Buf_Alloc(&buf, 9);
    ArrX_Buf_Dump(&buf, 0, "> ");
    ArrX_Buf_Dump(&buf, 4, "");
    std::string head = "ArrX_Buf(" + P(&buf) + ") : first = " + P(block) +
                       ", last = " + P(block + 9) + ", bufLast = " + P(block + 20);
    EXPECT_EQ(
        (std::vector<std::string>{"> " + head, "> size = 9/20", head, "size = 9/20 count = 2/5"}),
        DebugLines());
}

TEST_F(ArrXTest, ElemDumpCyclesTypeLetters) {
    struct Item {
        int32_t n;
        const char* s;
    };
    static const char kText[] = "abc";
    Item items[2] = {{65, kText}, {-1, nullptr}};
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, items, sizeof items);
    buf.last = buf.bufLast;
    ArrX_Buf_DumpElems(&buf, "is");
    EXPECT_EQ((std::vector<std::string>{
                  "  [0] = 65 (0x41) 'A'",
                  "  [1] = (" + P(kText) + ") \"abc\"",
                  "  [2] = -1 (0xFFFFFFFF) '.'",
                  "  [3] = (" + P(nullptr) + ") \"(null)\"",
              }),
              DebugLines());

    boxes_.boxes.clear();
    int32_t ints[3] = {0, 10, 0x1E0};
    void* ps[1] = {ints};
    ArrX_Buf ib, pb;
    ArrX_Buf_Init(&ib, ints, sizeof ints);
    ib.last = ib.bufLast;
    ArrX_Buf_Init(&pb, ps, sizeof ps);
    pb.last = pb.bufLast;
    ArrX_Buf_DumpElems(&ib, "i");
    ArrX_Buf_DumpElems(&pb, "p");
    EXPECT_EQ((std::vector<std::string>{"  [0] = 0 (0x0) '0'", "  [1] = 10 (0xA) ' '",
                                        "  [2] = 480 (0x1E0) '.'", "  [0] = (" + P(ints) + ")"}),
              DebugLines());

    boxes_.boxes.clear();
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_DumpElems(&ib, "ix"); }));
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_DumpElems(&ib, ""); }));
    EXPECT_TRUE(DebugLines().empty());
}

TEST_F(ArrXTest, BadArgumentsWithoutHookEndTheProgram) {
    // The "error" report returns when no hook is installed; the operation
    // must not go on with what it cannot use.
    EXPECT_EXIT(
        {
            SetUpLibraryForDeath();
            Errors_Callback = nullptr;
            int32_t item = 0;
            ArrX_Buf buf;
            ArrX_Buf_Init(&buf, &item, sizeof item);
            buf.last = buf.bufLast;
            ArrX_Buf_DumpElems(&buf, "");
            fprintf(stderr, "not reached\n");
        },
        testing::ExitedWithCode(14), "^BOX\\[.*\\] EXIT from arrx.cpp\\([0-9]+\\)\nBOXES=1\n$");
}

TEST_F(ArrXTest, ElemDumpCutsLongStrings) {
    std::string longText(5000, 'x');
    const char* ps[1] = {longText.c_str()};
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, ps, sizeof ps);
    buf.last = buf.bufLast;
    ArrX_Buf_DumpElems(&buf, "s");
    ASSERT_EQ(1u, DebugLines().size());
    EXPECT_EQ("  [0] = (" + P(ps[0]) + ") \"" + std::string(255, 'x') + "\"", DebugLines()[0]);
}

TEST_F(ArrXTest, KeyDumpNamesTypeAndDirection) {
    ArrX_Key k = MakeKey(16, ArrX_Key_CStringPI, ArrX_Key_Up);
    ArrX_Key bad = MakeKey(8, 7, 1);
    ArrX_Key_Dump(&k, "  ");
    ArrX_Key_Dump(&bad, "");
    EXPECT_EQ(
        (std::vector<std::string>{
            "  Key(" + P(&k) + "): ofs=16(0x10), type=4(ArrX_Key_CStringPI), direc=-1(ArrX_Key_Up)",
            "Key(" + P(&bad) + "): ofs=8(0x8), type=7, direc=1",
        }),
        DebugLines());
}

TEST_F(ArrXTest, SortDumpShowsHeapLevelByLevel) {
    Rec recs[5] = {};
    int keys[5] = {3, 9, 1, 7, 5};
    void* block[8];
    ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, sizeof block, &key);
    for (int i = 0; i < 5; i++) {
        recs[i].i = keys[i];
        ArrX_Sort_Push(&sort, &recs[i]);
    }
    ArrX_Sort_Dump(&sort, "");
    std::vector<std::string> want = {
        "ArrX_Sort(" + P(&sort) + ") nElem=5, mElem=8, buf=(" + P(block) + ".." + P(block + 8) +
            ")",
        "Key(" + P(&key) + "): ofs=0(0x0), type=0(ArrX_Key_Int), direc=1(ArrX_Key_Down)",
        "(1)",
    };
    for (int i = 0; i < 5; i++) {
        if (i == 1) want.push_back("(2)");
        if (i == 3) want.push_back("(4)");
        const Rec* r = static_cast<const Rec*>(block[i]);
        want.push_back("Data of Key (" + P(&r->i) + ") = " + std::to_string(r->i));
    }
    EXPECT_EQ(want, DebugLines());
    // The heap's own order: 9 on top, its children 7 and 1.
    EXPECT_EQ(9, static_cast<Rec*>(block[0])->i);
    EXPECT_EQ(7, static_cast<Rec*>(block[1])->i);
    EXPECT_EQ(1, static_cast<Rec*>(block[2])->i);
}

TEST_F(ArrXTest, SortDumpPrintsDoubleAndStringKeys) {
    Rec r = {};
    r.d = 2.5;
    r.s = "kyoto";
    void* block[2];
    ArrX_Key dk = MakeKey(offsetof(Rec, d), ArrX_Key_Double, ArrX_Key_Up);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, sizeof block, &dk);
    ArrX_Sort_Push(&sort, &r);
    ArrX_Sort_Dump(&sort, "- ");
    ArrX_Key sk = MakeKey(offsetof(Rec, s), ArrX_Key_StrV, ArrX_Key_NoDirec);
    sort.key = &sk;
    ArrX_Sort_Dump(&sort, "");
    ArrX_Key bad = MakeKey(-4, ArrX_Key_Int, ArrX_Key_Up);
    sort.key = &bad;
    ArrX_Sort_Dump(&sort, "");
    std::string head = "ArrX_Sort(" + P(&sort) + ") nElem=1, mElem=2, buf=(" + P(block) + ".." +
                       P(block + 2) + ")";
    EXPECT_EQ(
        (std::vector<std::string>{
            "- " + head,
            "- Key(" + P(&dk) + "): ofs=8(0x8), type=1(ArrX_Key_Double), direc=-1(ArrX_Key_Up)",
            "- (1)",
            "- Data of Key (" + P(&r.d) + ") = 2.500000",
            head,
            "Key(" + P(&sk) + "): ofs=24(0x18), type=6(ArrX_Key_StrV), direc=0(ArrX_Key_NoDirec)",
            "(1)",
            "Data of Key (" + P(&r.s) + ") = kyoto",
            head,
            "Key(" + P(&bad) + "): ofs=-4(0xFFFFFFFC), type=0, direc=-1",
        }),
        DebugLines());
}

// ---- Hashed word set ---------------------------------------------------------------

namespace {
struct Word {
    const char* text;
    int32_t count;
    int32_t pad;
};

// Texts of the given length from "a".."z" letters whose bucket among n is b.
std::vector<std::string> SameBucket(int n, int b, size_t want) {
    std::vector<std::string> out;
    for (char x = 'a'; x <= 'z' && out.size() < want; x++)
        for (char y = 'a'; y <= 'z' && out.size() < want; y++) {
            std::string t = {x, y};
            if (StrX_Hash(t.c_str(), n) == b) out.push_back(t);
        }
    return out;
}

int OpenFds() {
    int n = 0;
    for (int fd = 0; fd < 1024; fd++) {
        std::string p = "/proc/self/fd/" + std::to_string(fd);
        if (FILE* f = fopen(p.c_str(), "r")) {
            fclose(f);
            n++;
        }
    }
    return n;
}
}  // namespace

TEST_F(ArrXTest, HashSetAddsOnlyAbsentTexts) {
    alignas(8) unsigned char block[70 + 8];
    memset(block, 0xEE, sizeof block);
    ArrX_Buf buckets[4];
    ArrX_Key key = MakeKey(offsetof(Word, text), ArrX_Key_CStringP, ArrX_Key_NoDirec);
    ArrX_Hash set;
    ArrX_Hash_Init(&set, buckets, 4, block, 70, sizeof(Word), &key);
    // 70 / 4 = 17 bytes a bucket, rounded down to one 16-byte element.
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(block + 16 * i, buckets[i].first) << i;
        EXPECT_EQ(block + 16 * i + 16, buckets[i].bufLast) << i;
    }

    std::vector<std::string> same = SameBucket(4, 1, 2);
    ASSERT_EQ(2u, same.size());
    bool added = false;
    Word* w = static_cast<Word*>(ArrX_Hash_Add(&set, same[0].c_str(), &added));
    EXPECT_TRUE(added);
    EXPECT_EQ(block + 16, reinterpret_cast<unsigned char*>(w));
    EXPECT_EQ(same[0].c_str(), w->text);  // the pointer, not a copy
    EXPECT_EQ(0, w->count);
    w->count = 5;
    std::string again = same[0];  // an equal text elsewhere finds the element
    EXPECT_EQ(w, ArrX_Hash_Add(&set, again.c_str(), &added));
    EXPECT_FALSE(added);
    EXPECT_EQ(5, w->count);
    EXPECT_EQ(w, ArrX_Hash_Find(&set, again.c_str()));
    EXPECT_EQ(nullptr, ArrX_Hash_Find(&set, same[1].c_str()));

    // The bucket holds one element: a second text of that bucket raises.
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Hash_Add(&set, same[1].c_str(), &added); }));
    EXPECT_EQ(buckets[1].last, buckets[1].bufLast);
    EXPECT_EQ(nullptr, ArrX_Hash_Find(&set, same[1].c_str()));
    // Other buckets still take texts.
    std::vector<std::string> other = SameBucket(4, 3, 1);
    EXPECT_NE(nullptr, ArrX_Hash_Add(&set, other[0].c_str(), nullptr));
    for (int i = 64; i < 78; i++) EXPECT_EQ(0xEE, block[i]) << i;
}

TEST_F(ArrXTest, HashSetRefusesUnusableSetUps) {
    alignas(8) unsigned char block[64];
    ArrX_Buf buckets[2];
    ArrX_Hash set;
    struct {
        int32_t ofs, type;
        int n;
        size_t elemSize;
    } cases[] = {
        {0, ArrX_Key_CStringP, 0, 16},  {0, ArrX_Key_CStringP, 2, 0},
        {0, ArrX_Key_CString, 2, 16},   {0, ArrX_Key_CStringPI, 2, 16},
        {0, ArrX_Key_CStringPW, 2, 16}, {0, ArrX_Key_Int, 2, 16},
        {12, ArrX_Key_StrV, 2, 16},     {-1, ArrX_Key_StrV, 2, 16},
    };
    for (const auto& c : cases) {
        ArrX_Key key = MakeKey(c.ofs, c.type, ArrX_Key_NoDirec);
        EXPECT_EQ(102, CaughtCode([&] {
                      ArrX_Hash_Init(&set, buckets, c.n, block, sizeof block, c.elemSize, &key);
                  }))
            << c.ofs << " " << c.type << " " << c.n << " " << c.elemSize;
    }
    ArrX_Key key = MakeKey(8, ArrX_Key_StrV, ArrX_Key_NoDirec);
    EXPECT_EQ(0,
              CaughtCode([&] { ArrX_Hash_Init(&set, buckets, 2, block, sizeof block, 16, &key); }));
}

class ArrXLoadTest : public ArrXTest {
   protected:
    void SetUp() override {
        ArrXTest::SetUp();
        ArrX_Key key = MakeKey(offsetof(Word, text), ArrX_Key_StrV, ArrX_Key_NoDirec);
        ArrX_Hash_Init(&set_, buckets_, 8, block_, sizeof block_, sizeof(Word), &key);
        StrX_Mem_Init(&pool_, poolBlock_, sizeof poolBlock_);
    }
    std::string Path(const std::string& name, const std::string& bytes) {
        dir_.Write(name, bytes);
        return dir_.inside() + "\\" + name;
    }
    // The pool's strings in the order they were added.
    std::vector<std::string> Pooled() const {
        std::vector<std::string> out;
        for (const char* s = StrX_Mem_Next(&pool_, nullptr); s; s = StrX_Mem_Next(&pool_, s))
            out.push_back(s);
        return out;
    }

    TempDir dir_;
    alignas(8) unsigned char block_[8 * 8 * sizeof(Word)];
    ArrX_Buf buckets_[8];
    ArrX_Hash set_;
    char poolBlock_[1024];
    StrX_Mem pool_;
};

TEST_F(ArrXLoadTest, LoadAddsEachNewWordOnce) {
    std::string path = Path("words.txt",
                            "kyoto nara\r\n\tosaka kyoto  nara\n\n\x0b\x0c"
                            "kobe");
    EXPECT_EQ(4, ArrX_Hash_Load(&set_, &pool_, path.c_str()));
    EXPECT_EQ((std::vector<std::string>{"kyoto", "nara", "osaka", "kobe"}), Pooled());
    for (const char* w : {"kyoto", "nara", "osaka", "kobe"}) {
        Word* e = static_cast<Word*>(ArrX_Hash_Find(&set_, w));
        ASSERT_NE(nullptr, e) << w;
        EXPECT_STREQ(w, e->text);
    }
    EXPECT_EQ(nullptr, ArrX_Hash_Find(&set_, "kyot"));

    // A second file adds only what is new; an empty file adds nothing.
    std::string more = Path("more.txt", "nara \x93\xde\x97\xc7 kobe");
    EXPECT_EQ(1, ArrX_Hash_Load(&set_, &pool_, more.c_str()));
    EXPECT_NE(nullptr, ArrX_Hash_Find(&set_, "\x93\xde\x97\xc7"));
    EXPECT_EQ(0, ArrX_Hash_Load(&set_, &pool_, Path("empty.txt", "").c_str()));
    EXPECT_EQ(0, ArrX_Hash_Load(&set_, &pool_, Path("blank.txt", " \r\n \t").c_str()));
    EXPECT_EQ(5u, Pooled().size());
}

TEST_F(ArrXLoadTest, LoadCutsOverlongWords) {
    std::string words = std::string(300, 'a') + " b " + std::string(258, 'c') +
                        "\x83\x41\x83\x41 " + std::string(259, 'd');
    EXPECT_EQ(4, ArrX_Hash_Load(&set_, &pool_, Path("long.txt", words).c_str()));
    EXPECT_EQ((std::vector<std::string>{std::string(259, 'a'), "b", std::string(258, 'c'),
                                        std::string(259, 'd')}),
              Pooled());
}

TEST_F(ArrXLoadTest, LoadFailuresCloseTheFile) {
    EXPECT_EQ(363, CaughtCode([&] {
                  ArrX_Hash_Load(&set_, &pool_, (dir_.inside() + "\\none.txt").c_str());
              }));
    int fds = OpenFds();

    // A pool that cannot hold the third word whole: nothing cut stays in it.
    StrX_Mem_Init(&pool_, poolBlock_, 1 + 6 + 5 + 4);
    std::string path = Path("w.txt", "kyoto nara osaka");
    EXPECT_EQ(3180, CaughtCode([&] { ArrX_Hash_Load(&set_, &pool_, path.c_str()); }));
    EXPECT_EQ((std::vector<std::string>{"kyoto", "nara"}), Pooled());
    EXPECT_EQ(fds, OpenFds());

    // A full bucket.
    alignas(8) unsigned char small[2 * sizeof(Word)];
    ArrX_Key key = MakeKey(offsetof(Word, text), ArrX_Key_StrV, ArrX_Key_NoDirec);
    ArrX_Hash_Init(&set_, buckets_, 1, small, sizeof small, sizeof(Word), &key);
    StrX_Mem_Init(&pool_, poolBlock_, sizeof poolBlock_);
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Hash_Load(&set_, &pool_, path.c_str()); }));
    EXPECT_NE(nullptr, ArrX_Hash_Find(&set_, "nara"));
    EXPECT_EQ(fds, OpenFds());
}
