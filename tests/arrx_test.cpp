#include "components/arrx.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "components/strx.h"
#include "support/testsupport.h"

namespace {
const std::string kFull = Sjis(u8"バッファが満杯です");

// A buffer over [block, block + size) with every byte used.
ArrX_Buf FullBuf(void* block, size_t size) {
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, size);
    buf.last = buf.bufLast;
    return buf;
}
}  // namespace

class ArrXTest : public LibraryTest {
   protected:
    std::vector<std::string> DebugLines() const {
        return BoxTexts(boxes_, Sjis(u8"デバッグ表示").c_str());
    }
    std::vector<std::string> ErrorBoxes() const {
        return BoxTexts(boxes_, Sjis(u8"エラーメッセージ").c_str());
    }
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
    EXPECT_TRUE(boxes_.boxes.empty());
    char c = '!';
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_AppendRange(&buf, &c, &c + 1); }));
    EXPECT_TRUE(LastTextHas(kFull));
    // Head: bytes 0..18; tail: bytes 381..399 ('A' + 381 % 26 = 'R').
    EXPECT_EQ(
        (std::vector<std::string>{kFull + "\nABCDEFGHIJKLMNOPQRS \x81\x60 RSTUVWXYZABCDEFGHIJ"}),
        ErrorBoxes());
    EXPECT_EQ(buf.last, block + 400);
    ArrX_Buf_AddNul(&buf);  // full: the last byte becomes NUL, last stays
    EXPECT_EQ(0, memcmp(block + 397, "HI\0\xEE\xEE\xEE\xEE", 7));
    EXPECT_EQ(buf.last, block + 400);
}

TEST_F(ArrXTest, AppendsCutSilentlyThenTheNextRaises) {
    unsigned char block[10 + 2] = {};
    block[10] = block[11] = 0xEE;
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, 10);
    const char *six = "abcdef", *ten = "0123456789";
    ArrX_Buf_AppendRange(&buf, six, six + 6);  // then 10 bytes into the 4 left
    EXPECT_EQ(0, CaughtCode([&] { ArrX_Buf_AppendRange(&buf, ten, ten + 10); }));
    EXPECT_EQ(0, memcmp(block, "abcdef0123\xEE\xEE", 12));
    EXPECT_EQ(buf.last, buf.bufLast);
    EXPECT_TRUE(boxes_.boxes.empty());
    // Even an empty range raises once the buffer is full.
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_AppendRange(&buf, ten, ten); }));
    EXPECT_EQ((std::vector<std::string>{kFull + "\nabcdef0123 \x81\x60 abcdef0123"}), ErrorBoxes());
    // AddByte drops and AddNul overwrites on a full buffer, with no report.
    boxes_.boxes.clear();
    unsigned char tiny[3];
    tiny[2] = 0xEE;
    ArrX_Buf two, empty;
    ArrX_Buf_Init(&two, tiny, 2);
    ArrX_Buf_AddByte(&two, 'x');
    ArrX_Buf_AddNul(&two);
    ArrX_Buf_AddByte(&two, 'y');  // dropped
    ArrX_Buf_Init(&empty, tiny + 2, 0);
    ArrX_Buf_AddNul(&empty);  // no byte to overwrite
    EXPECT_EQ(0, memcmp(tiny, "x\0\xEE", 3));
    EXPECT_EQ(two.last, two.bufLast);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(ArrXTest, AllocExactlyFillingSucceedsOneMoreRaises) {
    unsigned char block[16];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, 16);
    EXPECT_EQ(block, ArrX_Buf_Alloc(&buf, 10));
    EXPECT_EQ(block + 10, ArrX_Buf_Alloc(&buf, 6));
    EXPECT_EQ(block + 16, ArrX_Buf_Alloc(&buf, 0));
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_Alloc(&buf, 1); }));
    EXPECT_TRUE(LastTextHas(kFull));
    EXPECT_EQ(buf.last, block + 16);
    EXPECT_TRUE(ErrorBoxes().empty());  // only the append shows a box
    ArrX_Buf_Init(&buf, block, 16);
    EXPECT_EQ(block, ArrX_Buf_AllocItems(&buf, 4, 3));
    EXPECT_EQ(block + 12, ArrX_Buf_AllocItems(&buf, 4, 1));
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_AllocItems(&buf, 4, 1); }));
    ArrX_Buf_Init(&buf, block, 16);
    // count * itemSize would wrap around: still too big.
    size_t wraps = std::numeric_limits<size_t>::max() / 4;
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_AllocItems(&buf, 8, wraps); }));
    EXPECT_EQ(buf.last, block);
}

TEST_F(ArrXTest, BufferSetLaysBuffersOutOneAfterAnother) {
    alignas(8) unsigned char block[64];
    ArrX_Buf a{}, b{}, c{}, d{};
    ArrX_BufDef defs[] = {{&a, 8, 3}, {&b, 4, 2}, {&c, 1, 5}};
    EXPECT_EQ(37u, ArrX_Buf_SetSize(defs, 3));
    EXPECT_EQ(block + 37, ArrX_Buf_InitSet(defs, 3, block, 37));
    EXPECT_EQ((std::vector<void*>{block, block, block + 24, block + 24, block + 32, block + 37}),
              (std::vector<void*>{a.first, a.last, a.bufLast, b.first, c.first, c.bufLast}));
    ArrX_BufDef big[] = {{&d, 4, 10}};
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Buf_InitSet(big, 1, block, 39); }));
    EXPECT_EQ(nullptr, d.first);  // unchanged
    ArrX_BufDef huge[] = {{&d, 2, std::numeric_limits<size_t>::max()}};
    EXPECT_EQ(std::numeric_limits<size_t>::max(), ArrX_Buf_SetSize(huge, 1));
}

TEST_F(ArrXTest, ItemAndRemoveLast) {
    int32_t block[4];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, sizeof block);
    ArrX_Buf_AllocItems(&buf, 4, 3);
    EXPECT_EQ(&block[2], ArrX_Buf_Item(&buf, 4, 2));
    EXPECT_FALSE(ArrX_Buf_RemoveLast(&buf, 4, &block[1]));
    EXPECT_EQ(buf.last, &block[3]);
    for (int i = 2; i >= 0; i--) EXPECT_TRUE(ArrX_Buf_RemoveLast(&buf, 4, &block[i])) << i;
    EXPECT_FALSE(ArrX_Buf_RemoveLast(&buf, 4, &block[0]));  // nothing below first
    EXPECT_EQ(buf.last, buf.first);
    ArrX_Buf bad = {&block[0], &block[3], &block[2]};
    EXPECT_FALSE(ArrX_Buf_IsValid(&bad));
}

// ---- Slot pools ----------------------------------------------------------------

TEST_F(ArrXTest, PoolOfFiveSlotsRaisesWhenAllUsed) {
    alignas(8) static unsigned char block[3920];
    memset(block, 0x55, sizeof block);
    ArrX_Able able;
    ArrX_Able_Init(&able, block, sizeof block, 784, 0);
    EXPECT_EQ(0x55, block[1]);  // only the flags are set up
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
}

TEST_F(ArrXTest, WalkVisitsExactlyTheUsedSlots) {
    unsigned char slots[5][2] = {{10}, {11}, {12}, {13}, {14}};  // value, flag
    ArrX_Able able;
    ArrX_Able_Init(&able, slots, sizeof slots, 2, 1);
    slots[0][1] = slots[2][1] = 1;
    std::vector<int> seen;
    for (void* p = able.first;; p = static_cast<unsigned char*>(p) + 2) {
        ArrX_Able_SkipFree(&p, 2, 1, able.last);
        if (p >= able.last) break;
        seen.push_back(*static_cast<unsigned char*>(p));
    }
    EXPECT_EQ((std::vector<int>{10, 12}), seen);
    EXPECT_EQ(2, ArrX_Able_CountUsed(&able, 2, 1));
    EXPECT_EQ(slots[0], ArrX_Able_FirstUsed(&able, 2, 1));
    void* p = slots[0];
    ArrX_Able_SkipUsed(&p, 2, 1, able.last);
    EXPECT_EQ(slots[1], p);
    slots[3][1] = slots[4][1] = 1;
    ArrX_Able_SkipUsed(&(p = slots[3]), 2, 1, able.last);
    EXPECT_EQ(able.last, p);
    // 10 bytes in 4-byte slots, flag at offset 3: the tail slot at 8 has no
    // flag inside the block; the guard bytes after it look "used".
    unsigned char tail[12] = {};
    tail[10] = tail[11] = 0xEE;
    ArrX_Able part;
    ArrX_Able_Init(&part, tail, 10, 4, 3);
    EXPECT_EQ(0xEE, tail[11]);
    p = part.first;
    ArrX_Able_SkipFree(&p, 4, 3, part.last);
    EXPECT_EQ(part.last, p);
    EXPECT_EQ(0, ArrX_Able_CountUsed(&part, 4, 3));
    tail[3] = tail[7] = 1;
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Able_FindFree(&part, 4, 3); }));
}

// ---- Keys and heap -------------------------------------------------------------

namespace {
struct Rec {
    int32_t i;
    double d;
    char name[8];
    const char* s;
};

Rec R(int32_t i) {
    Rec r = {};
    r.i = i;
    return r;
}

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

TEST_F(ArrXTest, NumberCompareHoldsAtTheExtremes) {
    const double kMin = std::numeric_limits<int32_t>::min();
    const double kMax = std::numeric_limits<int32_t>::max();
    struct {
        int32_t type;
        double a, b;
        int down;
    } cases[] = {
        {ArrX_Key_Int, kMin, kMax, -1},  // the plain 32-bit difference would wrap
        {ArrX_Key_Int, kMax, kMin, 1},     {ArrX_Key_Int, kMin, kMin, 0},
        {ArrX_Key_Double, 1.2, 1.9, 0},  // less than 1 apart: equal
        {ArrX_Key_Double, 0.0, -0.99, 0},  {ArrX_Key_Double, 1.0, 2.0, -1},
        {ArrX_Key_Double, -3.5, -2.5, -1}, {ArrX_Key_Double, 1e300, -1e300, 1},
        {ArrX_Key_Double, NAN, 1.0, 0},
    };
    for (const auto& c : cases) {
        int32_t ofs = c.type == ArrX_Key_Int ? offsetof(Rec, i) : offsetof(Rec, d);
        Rec a = {}, b = {};
        a.d = c.a, b.d = c.b;
        if (c.type == ArrX_Key_Int)
            a.i = static_cast<int32_t>(c.a), b.i = static_cast<int32_t>(c.b);
        for (int32_t direc : {ArrX_Key_Down, ArrX_Key_NoDirec, ArrX_Key_Up}) {
            ArrX_Key key = MakeKey(ofs, c.type, direc);
            EXPECT_EQ(c.down * direc, ArrX_Key_Compare(&key, &a, &b))
                << c.a << " vs " << c.b << " direc " << direc;
        }
    }
}

TEST_F(ArrXTest, HeapDownPopsDescendingUpAscending) {
    Rec r[5] = {R(3), R(9), R(1), R(7), R(8)};
    void* block[5];
    for (int32_t direc : {ArrX_Key_Down, ArrX_Key_Up}) {
        block[4] = &block;  // guard beyond the heap's 4 slots
        ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, direc);
        ArrX_Sort sort;
        ArrX_Sort_Init(&sort, block, 4 * sizeof(void*) + 3, &key);  // partial pointer ignored
        EXPECT_TRUE(ArrX_Sort_IsValid(&sort));
        for (int i = 0; i < 4; i++) EXPECT_TRUE(ArrX_Sort_Push(&sort, &r[i]));
        EXPECT_FALSE(ArrX_Sort_Push(&sort, &r[4]));  // full: nothing changes
        EXPECT_EQ(static_cast<void*>(&block), block[4]);
        EXPECT_EQ(direc == ArrX_Key_Down ? (std::vector<int>{9, 7, 3, 1})
                                         : (std::vector<int>{1, 3, 7, 9}),
                  PopAll(&sort));
        EXPECT_EQ(nullptr, ArrX_Sort_Pop(&sort));  // empty: nullptr, nothing changes
        EXPECT_EQ(sort.first, sort.last);
    }
}

TEST_F(ArrXTest, HeapTiesKeepTheirPlaces) {
    // Equal keys are never swapped; of two equal children the left one moves
    // up; an only child stays below a parent it does not exceed.
    Rec a = R(5), b = R(5), c = R(5), d = R(1), e = R(7);
    void* block[4];
    ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, sizeof block, &key);
    auto heap = [&] { return std::vector<void*>(sort.first, sort.last); };
    for (Rec* r : {&a, &b, &c, &d}) ArrX_Sort_Push(&sort, r);
    EXPECT_EQ((std::vector<void*>{&a, &b, &c, &d}), heap());
    EXPECT_EQ(&a, ArrX_Sort_Pop(&sort));
    EXPECT_EQ((std::vector<void*>{&b, &d, &c}), heap());
    EXPECT_EQ(&b, ArrX_Sort_Pop(&sort));
    ArrX_Sort_Push(&sort, &e);
    EXPECT_EQ(&e, ArrX_Sort_Pop(&sort));
    EXPECT_EQ((std::vector<void*>{&c, &d}), heap());
    ArrX_Sort_Pop(&sort);
    ArrX_Sort_Pop(&sort);
    for (Rec* r : {&a, &b, &c}) ArrX_Sort_Push(&sort, r);
    EXPECT_EQ(&a, ArrX_Sort_Pop(&sort));
    EXPECT_EQ((std::vector<void*>{&c, &b}), heap());
}

TEST_F(ArrXTest, HeapMatchesStdSortOnRandomKeys) {
    std::mt19937 rng(20000330);
    const int n = 1000;
    std::vector<Rec> recs(n);
    std::vector<int> sorted(n);
    for (int i = 0; i < n; i++) recs[i].d = 3.0 * (recs[i].i = sorted[i] = rng() % 200 - 100);
    std::sort(sorted.begin(), sorted.end());
    std::vector<void*> block(n);
    struct {
        int32_t ofs, type, direc;
    } cases[] = {{offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down},
                 {offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Up},
                 {offsetof(Rec, d), ArrX_Key_Double, ArrX_Key_Up}};  // whole numbers: exact
    for (const auto& c : cases) {
        ArrX_Key key = MakeKey(c.ofs, c.type, c.direc);
        ArrX_Sort sort;
        ArrX_Sort_Init(&sort, block.data(), n * sizeof(void*), &key);
        for (auto& r : recs) ASSERT_TRUE(ArrX_Sort_Push(&sort, &r));
        std::vector<void*> half;  // pop half and push it back: the heap is whole again
        for (int i = 0; i < n / 2; i++) half.push_back(ArrX_Sort_Pop(&sort));
        for (void* e : half) ASSERT_TRUE(ArrX_Sort_Push(&sort, e));
        std::vector<int> want = sorted;
        if (c.direc == ArrX_Key_Down) std::reverse(want.begin(), want.end());
        EXPECT_EQ(want, PopAll(&sort)) << "type " << c.type << " direc " << c.direc;
    }
}

TEST_F(ArrXTest, HeapOrdersStringKeysByBytes) {
    // ASCII case, a double-byte character whose trail byte is an ASCII letter
    // ("\x83\x41" vs "\x83\x61"), bytes above 0x7F; a null pointer reads as "".
    const char* texts[] = {"banana", "Apple", "apple", "\x83\x61", "\x83\x41", "cherry", "", "z"};
    const int n = 8;
    Rec recs[n] = {};
    for (int i = 0; i < n; i++) {
        recs[i].s = *texts[i] ? texts[i] : nullptr;
        snprintf(recs[i].name, sizeof recs[i].name, "%s", texts[i]);
    }
    auto order = [&](int32_t ofs, int32_t type, int32_t direc) {
        ArrX_Key key = MakeKey(ofs, type, direc);
        void* block[n];
        ArrX_Sort sort;
        ArrX_Sort_Init(&sort, block, sizeof block, &key);
        for (auto& r : recs) ArrX_Sort_Push(&sort, &r);
        std::vector<std::string> out;
        while (void* e = ArrX_Sort_Pop(&sort)) out.push_back(static_cast<Rec*>(e)->name);
        return out;
    };
    std::vector<std::string> bytes = {"",       "Apple", "apple",    "banana",
                                      "cherry", "z",     "\x83\x41", "\x83\x61"};
    EXPECT_EQ(bytes, order(offsetof(Rec, name), ArrX_Key_CString, ArrX_Key_Up));
    for (int32_t type : {ArrX_Key_CStringP, ArrX_Key_StrV, ArrX_Key_CStringPW})
        EXPECT_EQ(bytes, order(offsetof(Rec, s), type, ArrX_Key_Up)) << type;
    EXPECT_EQ(std::vector<std::string>(bytes.rbegin(), bytes.rend()),
              order(offsetof(Rec, s), ArrX_Key_CStringP, ArrX_Key_Down));
    // Ignoring ASCII case: "Apple" and "apple" are equal (either first); the
    // double-byte characters stay apart and are not folded.
    std::vector<std::string> folded = order(offsetof(Rec, s), ArrX_Key_CStringPI, ArrX_Key_Up);
    ASSERT_EQ(8u, folded.size());
    std::sort(folded.begin() + 1, folded.begin() + 3);
    EXPECT_EQ(bytes, folded);
}

TEST_F(ArrXTest, InvalidKeysAreReported) {
    Rec r = {};
    void* block[2];
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, sizeof block, nullptr);
    EXPECT_FALSE(ArrX_Sort_IsValid(&sort));
    for (ArrX_Key key :
         {MakeKey(-1, 0, 0), MakeKey(0, -1, 0), MakeKey(0, 7, 0), MakeKey(0, 0, 2)}) {
        ArrX_Sort_Init(&sort, block, sizeof block, &key);
        EXPECT_FALSE(ArrX_Sort_IsValid(&sort)) << key.ofs << " " << key.type << " " << key.direc;
        EXPECT_EQ(102, CaughtCode([&] { ArrX_Sort_Push(&sort, &r); })) << key.type;
        EXPECT_EQ(sort.first, sort.last);
        EXPECT_EQ(102, CaughtCode([&] { ArrX_Key_Compare(&key, &r, &r); })) << key.type;
    }
}

// ---- Finds ------------------------------------------------------------------------

TEST_F(ArrXTest, FindsOfEveryKeyType) {
    Rec recs[5] = {};
    const char* texts[] = {"index.htm", "README", "a\x83\x41", "*.txt", nullptr};
    double ds[] = {1.5, -0.0, NAN, 3.0, 4.0};
    for (int i = 0; i < 5; i++) {
        recs[i] = {100 + i, ds[i], {}, texts[i]};
        if (texts[i]) snprintf(recs[i].name, sizeof recs[i].name, "%s", texts[i]);
    }
    ArrX_Buf buf = FullBuf(recs, sizeof recs);
    void* ptrBlock[6] = {&recs[4], nullptr, &recs[3], &recs[2], &recs[1], &recs[0]};
    ArrX_Buf ptrs = FullBuf(ptrBlock, sizeof ptrBlock);
    int32_t i102 = 102, i7 = 7;
    double d15 = 1.5, d0 = 0.0, dm0 = -0.0, dnan = NAN;
    const int32_t I = offsetof(Rec, i), D = offsetof(Rec, d), N = offsetof(Rec, name),
                  S = offsetof(Rec, s);
    // Doubles match by bytes (-0.0 is not 0.0, NaN finds NaN); "" never
    // matches record 4's null pointer; a trail byte is not folded.
    struct {
        int32_t ofs, type;
        const void* value;
        int want;  // index of the record, -1 for none
    } cases[] = {
        {I, ArrX_Key_Int, &i102, 2},
        {I, ArrX_Key_Int, &i7, -1},
        {D, ArrX_Key_Double, &d15, 0},
        {D, ArrX_Key_Double, &d0, -1},
        {D, ArrX_Key_Double, &dm0, 1},
        {D, ArrX_Key_Double, &dnan, 2},
        {N, ArrX_Key_CString, "README", 1},
        {N, ArrX_Key_CString, "READM", -1},
        {S, ArrX_Key_CStringP, "README", 1},
        {S, ArrX_Key_CStringP, "readme", -1},
        {S, ArrX_Key_CStringP, "", -1},
        {S, ArrX_Key_StrV, "index.htm", 0},
        {S, ArrX_Key_StrV, "INDEX.HTM", -1},
        {S, ArrX_Key_CStringPI, "ReadMe", 1},
        {S, ArrX_Key_CStringPI, "A\x83\x41", 2},
        {S, ArrX_Key_CStringPI, "a\x83\x61", -1},
        {S, ArrX_Key_CStringPW, "notes.txt", 3},
        {S, ArrX_Key_CStringPW, "notes.htm", -1},
    };
    const size_t es = sizeof(Rec);
    for (const auto& c : cases) {
        ArrX_Key key = MakeKey(c.ofs, c.type, ArrX_Key_NoDirec);
        void* want = c.want < 0 ? nullptr : &recs[c.want];
        EXPECT_EQ(want, ArrX_Buf_FindKey(&buf, es, &key, c.value)) << c.type << " " << c.want;
        EXPECT_EQ(want, ArrX_Buf_FindKeyP(&ptrs, &key, c.value)) << c.type << " " << c.want;
        if (c.type == ArrX_Key_Int) {
            int32_t v = *static_cast<const int32_t*>(c.value);
            EXPECT_EQ(want, ArrX_Buf_FindInt(&buf, es, I, v)) << v;
            EXPECT_EQ(want, ArrX_FindInt(buf.first, buf.last, es, I, v)) << v;
        } else if (c.type == ArrX_Key_Double) {
            double v = *static_cast<const double*>(c.value);
            EXPECT_EQ(want, ArrX_Buf_FindDouble(&buf, es, D, v)) << c.want;
            EXPECT_EQ(want, ArrX_FindDouble(buf.first, buf.last, es, D, v)) << c.want;
        }
    }
    buf.last = reinterpret_cast<unsigned char*>(&recs[2]) + 4;  // a partial element is not searched
    EXPECT_EQ(nullptr, ArrX_Buf_FindInt(&buf, es, I, 102));
    EXPECT_EQ(nullptr, ArrX_FindDouble(buf.first, buf.last, es, D, NAN));
}

TEST_F(ArrXTest, FindByKeyStoredStringEndsAtElementEnd) {
    char names[3][4];  // a CString key filling its element without a NUL
    memcpy(names, "abc\0wxyzwx\0\0", 12);
    ArrX_Buf buf = FullBuf(names, sizeof names);
    ArrX_Key key = MakeKey(0, ArrX_Key_CString, ArrX_Key_NoDirec);
    EXPECT_EQ(&names[1], ArrX_Buf_FindKey(&buf, 4, &key, "wxyz"));
    EXPECT_EQ(nullptr, ArrX_Buf_FindKey(&buf, 4, &key, "wxyzw"));
    EXPECT_EQ(&names[2], ArrX_Buf_FindKey(&buf, 4, &key, "wx"));
    // Keys that do not fit the element, or are invalid, are reported.
    ArrX_Key outside = MakeKey(4, ArrX_Key_CString, ArrX_Key_NoDirec);
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_FindKey(&buf, 4, &outside, "x"); }));
    ArrX_Key wide = MakeKey(0, ArrX_Key_Double, ArrX_Key_NoDirec);
    double d = 0;
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_FindKey(&buf, 4, &wide, &d); }));
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_FindDouble(&buf, 8, 4, 1.0); }));
    EXPECT_EQ(102, CaughtCode([&] { ArrX_FindInt(buf.first, buf.last, 4, 4, 0); }));
    ArrX_Key bad = MakeKey(0, ArrX_Key_CString, 5);
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_FindKeyP(&buf, &bad, "x"); }));
}

TEST_F(ArrXTest, NextKeyWalksMatchesAmongUsedSlots) {
    struct Slot {
        unsigned char used;
        const char* word;
    };
    Slot slots[6];
    ArrX_Able able;
    ArrX_Able_Init(&able, slots, sizeof slots, sizeof(Slot), 0);
    const char* words[] = {"Kyoto", "nara", "kyoto", "KYOTO", "osaka", "kyoto"};
    for (int i = 0; i < 6; i++) slots[i] = {static_cast<unsigned char>(i != 2), words[i]};
    ArrX_Key key = MakeKey(offsetof(Slot, word), ArrX_Key_CStringPI, ArrX_Key_NoDirec);
    std::vector<const void*> seen;
    for (const void* p = nullptr;
         (p = ArrX_Able_NextKey(&able, sizeof(Slot), 0, p, &key, "kyoto"));)
        seen.push_back(p);
    EXPECT_EQ((std::vector<const void*>{&slots[0], &slots[3], &slots[5]}), seen);
    key.type = ArrX_Key_CStringP;
    EXPECT_EQ(&slots[5], ArrX_Able_NextKey(&able, sizeof(Slot), 0, nullptr, &key, "kyoto"));
    EXPECT_EQ(nullptr, ArrX_Able_NextKey(&able, sizeof(Slot), 0, nullptr, &key, "nagoya"));
}

// ---- Iterators ----------------------------------------------------------------------

TEST_F(ArrXTest, IteratorsStepAcrossBuffersAndBlocks) {
    int32_t a[3] = {1, 2, 3}, b[2] = {4, 5}, c[2] = {6, 7};
    ArrX_Buf bufs[4] = {FullBuf(a, 10), FullBuf(b, 0), FullBuf(c, 8), FullBuf(b, 8)};
    auto walk = [](ArrX_Iter* it) {
        std::vector<int> out;
        while (void* e = ArrX_Iter_Next(it)) out.push_back(*static_cast<int32_t*>(e));
        return out;
    };
    ArrX_Iter it;
    ArrX_Iter_InitBufs(&it, bufs, 4, 4);  // the first holds two whole elements and a part
    EXPECT_EQ((std::vector<int>{1, 2, 6, 7, 4, 5}), walk(&it));
    EXPECT_EQ(nullptr, ArrX_Iter_Next(&it));  // stays at the end
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
    std::string head = "ArrX_Buf(" + PtrText(&buf) + ") : first = " + PtrText(block) +
                       ", last = " + PtrText(block + 9) + ", bufLast = " + PtrText(block + 20);
    EXPECT_EQ(
        (std::vector<std::string>{"> " + head, "> size = 9/20", head, "size = 9/20 count = 2/5"}),
        DebugLines());
}

TEST_F(ArrXTest, ElemDumpCyclesTypeLettersAndCutsLongStrings) {
    struct Item {
        int32_t n;
        const char* s;
    };
    static const char kText[] = "abc";
    std::string longText(5000, 'x');
    Item items[3] = {{65, kText}, {-1, nullptr}, {0x1E0, longText.c_str()}};
    void* ps[1] = {items};
    ArrX_Buf buf = FullBuf(items, sizeof items), pb = FullBuf(ps, sizeof ps);
    ArrX_Buf_DumpElems(&buf, "is");
    ArrX_Buf_DumpElems(&pb, "p");
    EXPECT_EQ((std::vector<std::string>{
                  "  [0] = 65 (0x41) 'A'",
                  "  [1] = (" + PtrText(kText) + ") \"abc\"",
                  "  [2] = -1 (0xFFFFFFFF) '.'",
                  "  [3] = (" + PtrText(nullptr) + ") \"(null)\"",
                  "  [4] = 480 (0x1E0) '.'",
                  "  [5] = (" + PtrText(longText.c_str()) + ") \"" + std::string(255, 'x') + "\"",
                  "  [0] = (" + PtrText(items) + ")",
              }),
              DebugLines());
    boxes_.boxes.clear();
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_DumpElems(&buf, "ix"); }));
    EXPECT_EQ(102, CaughtCode([&] { ArrX_Buf_DumpElems(&buf, ""); }));
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
            ArrX_Buf buf = FullBuf(&item, sizeof item);
            ArrX_Buf_DumpElems(&buf, "");
            fprintf(stderr, "not reached\n");
        },
        testing::ExitedWithCode(14), "^BOX\\[.*\\] EXIT from arrx.cpp\\([0-9]+\\)\nBOXES=1\n$");
}

TEST_F(ArrXTest, KeyDumpNamesTypeAndDirection) {
    ArrX_Key k = MakeKey(16, ArrX_Key_CStringPI, ArrX_Key_Up);
    ArrX_Key bad = MakeKey(8, 7, 1);
    ArrX_Key_Dump(&k, "  ");
    ArrX_Key_Dump(&bad, "");
    EXPECT_EQ((std::vector<std::string>{
                  "  Key(" + PtrText(&k) +
                      "): ofs=16(0x10), type=4(ArrX_Key_CStringPI), direc=-1(ArrX_Key_Up)",
                  "Key(" + PtrText(&bad) + "): ofs=8(0x8), type=7, direc=1",
              }),
              DebugLines());
}

TEST_F(ArrXTest, SortDumpShowsHeapLevelByLevel) {
    Rec recs[5] = {R(3), R(9), R(1), R(7), R(5)};
    void* block[8];
    ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, sizeof block, &key);
    for (Rec& r : recs) {
        r.d = 2.5;
        r.s = "kyoto";
        ArrX_Sort_Push(&sort, &r);
    }
    ArrX_Sort_Dump(&sort, "");
    auto head = [&](int n) {
        return "ArrX_Sort(" + PtrText(&sort) + ") nElem=" + std::to_string(n) + ", mElem=8, buf=(" +
               PtrText(block) + ".." + PtrText(block + 8) + ")";
    };
    std::vector<std::string> want = {
        head(5),
        "Key(" + PtrText(&key) + "): ofs=0(0x0), type=0(ArrX_Key_Int), direc=1(ArrX_Key_Down)",
        "(1)"};
    for (int i = 0; i < 5; i++) {
        if (i == 1) want.push_back("(2)");
        if (i == 3) want.push_back("(4)");
        const Rec* r = static_cast<const Rec*>(block[i]);
        want.push_back("Data of Key (" + PtrText(&r->i) + ") = " + std::to_string(r->i));
    }
    EXPECT_EQ(want, DebugLines());
    EXPECT_EQ(&recs[1], block[0]);  // 9 on top
    // Double and string keys; a key at a negative offset shows no data.
    sort.last = sort.first + 1;
    const struct {
        ArrX_Key key;
        std::string text, data;
    } keys[] = {
        {MakeKey(offsetof(Rec, d), ArrX_Key_Double, ArrX_Key_Up),
         "ofs=8(0x8), type=1(ArrX_Key_Double), direc=-1(ArrX_Key_Up)",
         "(" + PtrText(&recs[1].d) + ") = 2.500000"},
        {MakeKey(offsetof(Rec, s), ArrX_Key_StrV, ArrX_Key_NoDirec),
         "ofs=24(0x18), type=6(ArrX_Key_StrV), direc=0(ArrX_Key_NoDirec)",
         "(" + PtrText(&recs[1].s) + ") = kyoto"},
        {MakeKey(-4, ArrX_Key_Int, ArrX_Key_Up), "ofs=-4(0xFFFFFFFC), type=0, direc=-1", ""},
    };
    for (const auto& k : keys) {
        boxes_.boxes.clear();
        sort.key = const_cast<ArrX_Key*>(&k.key);
        ArrX_Sort_Dump(&sort, "- ");
        want = {"- " + head(1), "- Key(" + PtrText(&k.key) + "): " + k.text};
        if (!k.data.empty()) want.insert(want.end(), {"- (1)", "- Data of Key " + k.data});
        EXPECT_EQ(want, DebugLines()) << k.text;
    }
}

// ---- Hashed word set ---------------------------------------------------------------

namespace {
struct Word {
    const char* text;
    int32_t count;
    int32_t pad;
};

// Texts of two "a".."z" letters whose bucket among n is b.
std::vector<std::string> SameBucket(int n, int b, size_t want) {
    std::vector<std::string> out;
    for (char x = 'a'; x <= 'z' && out.size() < want; x++)
        for (char y = 'a'; y <= 'z' && out.size() < want; y++)
            if (StrX_Hash(std::string{x, y}.c_str(), n) == b) out.push_back(std::string{x, y});
    return out;
}

int OpenFds() {
    auto fds = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<int>(std::distance(fds, std::filesystem::directory_iterator()));
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
    EXPECT_EQ(block + 48, buckets[3].first);
    EXPECT_EQ(block + 64, buckets[3].bufLast);
    std::vector<std::string> same = SameBucket(4, 1, 2);
    ASSERT_EQ(2u, same.size());
    bool added = false;
    Word* w = static_cast<Word*>(ArrX_Hash_Add(&set, same[0].c_str(), &added));
    EXPECT_TRUE(added);
    EXPECT_EQ(block + 16, reinterpret_cast<unsigned char*>(w));
    EXPECT_EQ(same[0].c_str(), w->text);  // the pointer, not a copy
    EXPECT_EQ(0, w->count);
    std::string again = same[0];  // an equal text elsewhere finds the element
    EXPECT_EQ(w, ArrX_Hash_Add(&set, again.c_str(), &added));
    EXPECT_FALSE(added);
    EXPECT_EQ(w, ArrX_Hash_Find(&set, again.c_str()));
    // The bucket holds one element: a second text of that bucket raises.
    EXPECT_EQ(901, CaughtCode([&] { ArrX_Hash_Add(&set, same[1].c_str(), &added); }));
    EXPECT_EQ(nullptr, ArrX_Hash_Find(&set, same[1].c_str()));
    // Other buckets still take texts.
    EXPECT_NE(nullptr, ArrX_Hash_Add(&set, SameBucket(4, 3, 1)[0].c_str(), nullptr));
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
        {0, ArrX_Key_CStringP, 0, 16},  {0, ArrX_Key_CStringP, 2, 0}, {0, ArrX_Key_CString, 2, 16},
        {0, ArrX_Key_CStringPI, 2, 16}, {12, ArrX_Key_StrV, 2, 16},   {-1, ArrX_Key_StrV, 2, 16},
        {8, ArrX_Key_StrV, 2, 16},  // fits: accepted
    };
    for (const auto& c : cases) {
        ArrX_Key key = MakeKey(c.ofs, c.type, ArrX_Key_NoDirec);
        EXPECT_EQ(c.ofs == 8 ? 0 : 102, CaughtCode([&] {
                      ArrX_Hash_Init(&set, buckets, c.n, block, sizeof block, c.elemSize, &key);
                  }))
            << c.ofs << " " << c.type << " " << c.n << " " << c.elemSize;
    }
}

class ArrXLoadTest : public ArrXTest {
   protected:
    void SetUp() override {
        ArrXTest::SetUp();
        InitSet(8, block_, sizeof block_);
        StrX_Mem_Init(&pool_, poolBlock_, sizeof poolBlock_);
    }
    void InitSet(int n, void* block, size_t size) {
        ArrX_Key key = MakeKey(offsetof(Word, text), ArrX_Key_StrV, ArrX_Key_NoDirec);
        ArrX_Hash_Init(&set_, buckets_, n, block, size, sizeof(Word), &key);
    }
    int Load(const std::string& name, const std::string& bytes) {
        dir_.Write(name, bytes);
        return ArrX_Hash_Load(&set_, &pool_, (dir_.inside() + "\\" + name).c_str());
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
    EXPECT_EQ(4, Load("words.txt", "kyoto nara\r\n\tosaka kyoto  nara\n\n\x0b\x0ckobe"));
    EXPECT_EQ((std::vector<std::string>{"kyoto", "nara", "osaka", "kobe"}), Pooled());
    for (const char* w : {"kyoto", "nara", "osaka", "kobe"}) {
        Word* e = static_cast<Word*>(ArrX_Hash_Find(&set_, w));
        ASSERT_NE(nullptr, e) << w;
        EXPECT_STREQ(w, e->text);
    }
    EXPECT_EQ(nullptr, ArrX_Hash_Find(&set_, "kyot"));
    // A second file adds only what is new; an empty file adds nothing.
    EXPECT_EQ(1, Load("more.txt", "nara \x93\xde\x97\xc7 kobe"));
    EXPECT_NE(nullptr, ArrX_Hash_Find(&set_, "\x93\xde\x97\xc7"));
    EXPECT_EQ(0, Load("empty.txt", ""));
    EXPECT_EQ(0, Load("blank.txt", " \r\n \t"));
    EXPECT_EQ(5u, Pooled().size());
}

TEST_F(ArrXLoadTest, LoadCutsOverlongWords) {
    std::string words = std::string(300, 'a') + " b " + std::string(258, 'c') +
                        "\x83\x41\x83\x41 " + std::string(259, 'd');
    EXPECT_EQ(4, Load("long.txt", words));
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
    EXPECT_EQ(3180, CaughtCode([&] { Load("w.txt", "kyoto nara osaka"); }));
    EXPECT_EQ((std::vector<std::string>{"kyoto", "nara"}), Pooled());
    EXPECT_EQ(fds, OpenFds());
    // A full bucket.
    alignas(8) unsigned char small[2 * sizeof(Word)];
    InitSet(1, small, sizeof small);
    StrX_Mem_Init(&pool_, poolBlock_, sizeof poolBlock_);
    EXPECT_EQ(901, CaughtCode([&] { Load("w.txt", "kyoto nara osaka"); }));
    EXPECT_NE(nullptr, ArrX_Hash_Find(&set_, "nara"));
    EXPECT_EQ(fds, OpenFds());
}
