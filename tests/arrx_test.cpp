#include "components/arrx.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
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

// Appends fill the buffer and cut what does not fit, silently; the next
// append, even of nothing, raises 901 after a box with the buffer's first and
// last bytes (19 at most). On a full buffer AddByte drops its byte and AddNul
// makes the last byte NUL; on an empty block AddNul writes nothing.
TEST_F(ArrXTest, AppendsCutSilentlyThenTheNextRaisesAfterABox) {
    std::string abc;
    for (int i = 0; i < 400; i++) abc += static_cast<char>('A' + i % 26);
    // Rows: size, the texts appended, the length of the next append, the box.
    const std::tuple<size_t, std::vector<std::string>, size_t, std::string> cases[] = {
        {400, {abc}, 1, "ABCDEFGHIJKLMNOPQRS \x81\x60 RSTUVWXYZABCDEFGHIJ"},
        {10, {"abcdef", "0123456789"}, 0, "abcdef0123 \x81\x60 abcdef0123"}};
    for (const auto& [size, texts, next, box] : cases) {
        unsigned char block[400 + 4];
        memset(block, 0xEE, sizeof block);
        ArrX_Buf buf;
        ArrX_Buf_Init(&buf, block, size);
        std::string all;
        for (const std::string& t : texts) {
            EXPECT_EQ(
                0, CaughtCode([&] { ArrX_Buf_AppendRange(&buf, t.data(), t.data() + t.size()); }));
            all += t;
        }
        EXPECT_TRUE(boxes_.boxes.empty()) << size;
        EXPECT_EQ(ArrX_Err_Full.code,
                  CaughtCode([&] { ArrX_Buf_AppendRange(&buf, abc.data(), abc.data() + next); }));
        EXPECT_TRUE(LastTextHas(kFull)) << size;
        EXPECT_EQ(std::vector<std::string>{kFull + "\n" + box}, ErrorBoxes()) << size;
        boxes_.boxes.clear();
        ArrX_Buf_AddByte(&buf, 'y');
        ArrX_Buf_AddNul(&buf);
        EXPECT_EQ(buf.last, block + size);
        ArrX_Buf_Init(&buf, block + size, 0);
        ArrX_Buf_AddNul(&buf);
        EXPECT_EQ(all.substr(0, size - 1) + '\0' + "\xEE\xEE\xEE\xEE",
                  std::string(reinterpret_cast<char*>(block), size + 4))
            << size;
    }
}

TEST_F(ArrXTest, AllocExactlyFillingSucceedsOneMoreRaises) {
    unsigned char block[16];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, block, 16);
    EXPECT_EQ(block, ArrX_Buf_Alloc(&buf, 10));
    EXPECT_EQ(block + 10, ArrX_Buf_Alloc(&buf, 6));
    EXPECT_EQ(ArrX_Err_Full.code, CaughtCode([&] { ArrX_Buf_Alloc(&buf, 1); }));
    EXPECT_TRUE(LastTextHas(kFull));
    EXPECT_EQ(buf.last, block + 16);
    EXPECT_TRUE(ErrorBoxes().empty());  // only the append shows a box
    Errors_Callback = nullptr;          // the report returns: nothing is taken
    EXPECT_EQ(nullptr, ArrX_Buf_Alloc(&buf, 1));
    EXPECT_EQ(buf.last, block + 16);
    Errors_Callback = Except3_RaiseHook;
    ArrX_Buf_Init(&buf, block, 16);
    // count * itemSize would wrap around: still too big.
    size_t wraps = std::numeric_limits<size_t>::max() / 4;
    EXPECT_EQ(ArrX_Err_Full.code, CaughtCode([&] { ArrX_Buf_AllocItems(&buf, 8, wraps); }));
    EXPECT_EQ(buf.last, block);
}

TEST_F(ArrXTest, PoolOfFiveSlotsRaisesWhenAllUsed) {
    alignas(8) static unsigned char block[3920];
    ArrX_Able able;
    ArrX_Able_Init(&able, block, sizeof block, 784, 0);
    for (int i = 0; i < 5; i++) {
        unsigned char* slot = static_cast<unsigned char*>(ArrX_Able_FindFree(&able, 784, 0));
        ASSERT_EQ(block + i * 784, slot) << i;
        *slot = 1;
    }
    EXPECT_EQ(ArrX_Err_Full.code, CaughtCode([&] { ArrX_Able_FindFree(&able, 784, 0); }));
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
    // 10 bytes in 4-byte slots, flag at offset 3: the tail slot at 8 has no
    // flag inside the block; the guard bytes after it look "used".
    unsigned char tail[12] = {};
    tail[10] = tail[11] = 0xEE;
    ArrX_Able part;
    ArrX_Able_Init(&part, tail, 10, 4, 3);
    void* p = part.first;
    ArrX_Able_SkipFree(&p, 4, 3, part.last);
    EXPECT_EQ(part.last, p);
    tail[3] = tail[7] = 1;
    EXPECT_EQ(ArrX_Err_Full.code, CaughtCode([&] { ArrX_Able_FindFree(&part, 4, 3); }));
}

TEST_F(ArrXTest, NumberCompareHoldsAtTheExtremes) {
    Rec lo = R(std::numeric_limits<int32_t>::min()), hi = R(std::numeric_limits<int32_t>::max());
    ArrX_Key down = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down);
    ArrX_Key up = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Up);
    EXPECT_EQ(-1, ArrX_Key_Compare(&down, &lo, &hi));  // the plain 32-bit difference would wrap
    EXPECT_EQ(1, ArrX_Key_Compare(&up, &lo, &hi));
    // Doubles less than 1 apart, on either side, compare equal (truncation).
    ArrX_Key dbl = MakeKey(offsetof(Rec, d), ArrX_Key_Double, ArrX_Key_Down);
    const std::tuple<double, double, int> cases[] = {
        {-3.5, -2.5, -1}, {-3.5, -2.6, 0}, {3.5, 2.6, 0},  {3.5, 2.5, 1},
        {0.0, 0.999, 0},  {0.999, 0.0, 0}, {NAN, -2.6, 0},
    };
    for (const auto& [a, b, want] : cases) {
        lo.d = a, hi.d = b;
        EXPECT_EQ(want, ArrX_Key_Compare(&dbl, &lo, &hi)) << a << " " << b;
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
        for (int i = 0; i < 4; i++) EXPECT_TRUE(ArrX_Sort_Push(&sort, &r[i]));
        EXPECT_FALSE(ArrX_Sort_Push(&sort, &r[4]));  // full: nothing changes
        EXPECT_EQ(static_cast<void*>(&block), block[4]);
        std::vector<int> popped;
        while (void* e = ArrX_Sort_Pop(&sort)) popped.push_back(static_cast<Rec*>(e)->i);
        EXPECT_EQ(direc == ArrX_Key_Down ? (std::vector<int>{9, 7, 3, 1})
                                         : (std::vector<int>{1, 3, 7, 9}),
                  popped);
        EXPECT_EQ(sort.first, sort.last);
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
    EXPECT_EQ(bytes, order(offsetof(Rec, s), ArrX_Key_StrV, ArrX_Key_Up));
    EXPECT_EQ(std::vector<std::string>(bytes.rbegin(), bytes.rend()),
              order(offsetof(Rec, s), ArrX_Key_CStringP, ArrX_Key_Down));
}

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
    int32_t i102 = 102;
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
        {D, ArrX_Key_Double, &d15, 0},
        {D, ArrX_Key_Double, &d0, -1},
        {D, ArrX_Key_Double, &dm0, 1},
        {D, ArrX_Key_Double, &dnan, 2},
        {N, ArrX_Key_CString, "README", 1},
        {S, ArrX_Key_CStringP, "README", 1},
        {S, ArrX_Key_CStringP, "", -1},
        {S, ArrX_Key_StrV, "INDEX.HTM", -1},
        {S, ArrX_Key_CStringPI, "ReadMe", 1},
        {S, ArrX_Key_CStringPI, "a\x83\x61", -1},
        {S, ArrX_Key_CStringPW, "notes.txt", 3},
    };
    const size_t es = sizeof(Rec);
    for (const auto& c : cases) {
        ArrX_Key key = MakeKey(c.ofs, c.type, ArrX_Key_NoDirec);
        void* want = c.want < 0 ? nullptr : &recs[c.want];
        EXPECT_EQ(want, ArrX_Buf_FindKey(&buf, es, &key, c.value)) << c.type << " " << c.want;
        EXPECT_EQ(want, ArrX_Buf_FindKeyP(&ptrs, &key, c.value)) << c.type << " " << c.want;
        if (c.type == ArrX_Key_Double) {
            double v = *static_cast<const double*>(c.value);
            EXPECT_EQ(want, ArrX_Buf_FindDouble(&buf, es, D, v)) << c.want;
            EXPECT_EQ(want, ArrX_FindDouble(buf.first, buf.last, es, D, v)) << c.want;
        }
    }
    EXPECT_EQ(&recs[2], ArrX_FindInt(buf.first, buf.last, es, I, 102));
    buf.last = reinterpret_cast<unsigned char*>(&recs[2]) + 4;  // a partial element is not searched
    EXPECT_EQ(nullptr, ArrX_Buf_FindInt(&buf, es, I, 102));
}

TEST_F(ArrXTest, FindByKeyStaysInsideTheElement) {
    char names[3][4];  // a CString key filling its element without a NUL
    memcpy(names, "abc\0wxyzwx\0\0", 12);
    ArrX_Buf buf = FullBuf(names, sizeof names);
    ArrX_Key key = MakeKey(0, ArrX_Key_CString, ArrX_Key_NoDirec);
    EXPECT_EQ(&names[1], ArrX_Buf_FindKey(&buf, 4, &key, "wxyz"));
    EXPECT_EQ(nullptr, ArrX_Buf_FindKey(&buf, 4, &key, "wxyzw"));
}

TEST_F(ArrXTest, FurtherOperationsEachOnce) {
    alignas(8) unsigned char block[64];
    ArrX_Buf a{}, b{}, c{};
    ArrX_BufDef defs[] = {{&a, 8, 3}, {&b, 4, 2}};
    EXPECT_EQ(32u, ArrX_Buf_SetSize(defs, 2));
    EXPECT_EQ(block + 32, ArrX_Buf_InitSet(defs, 2, block, 32));
    EXPECT_EQ((std::vector<void*>{block, block + 24, block + 24, block + 32}),
              (std::vector<void*>{a.first, a.bufLast, b.first, b.bufLast}));
    ArrX_BufDef big[] = {{&c, 4, 10}};
    EXPECT_EQ(ArrX_Err_Full.code, CaughtCode([&] { ArrX_Buf_InitSet(big, 1, block, 39); }));
    EXPECT_EQ(nullptr, c.first);  // unchanged

    int32_t items[3] = {1, 2, 3};
    ArrX_Buf buf = FullBuf(items, sizeof items);
    EXPECT_EQ(&items[2], ArrX_Buf_Item(&buf, 4, 2));
    EXPECT_FALSE(ArrX_Buf_RemoveLast(&buf, 4, &items[1]));  // not the last
    EXPECT_TRUE(ArrX_Buf_RemoveLast(&buf, 4, &items[2]));
    EXPECT_EQ(buf.last, &items[2]);

    int32_t x[2] = {6, 7};
    ArrX_Buf bufs[3] = {FullBuf(items, 10), FullBuf(x, 0), FullBuf(x, 8)};
    ArrX_Iter it;
    ArrX_Iter_InitBufs(&it, bufs, 3, 4);  // the first holds two whole elements and a part
    std::vector<int> walked;
    while (void* e = ArrX_Iter_Next(&it)) walked.push_back(*static_cast<int32_t*>(e));
    EXPECT_EQ((std::vector<int>{1, 2, 6, 7}), walked);

    struct Slot {
        unsigned char used;
        const char* word;
    } slots[4] = {{1, "Kyoto"}, {0, "kyoto"}, {1, "nara"}, {1, "KYOTO"}};
    ArrX_Able able;
    ArrX_Able_Init(&able, slots, sizeof slots, sizeof(Slot), 0);
    for (Slot& s : slots) s.used = s.word[0] != 'k';
    ArrX_Key key = MakeKey(offsetof(Slot, word), ArrX_Key_CStringPI, ArrX_Key_NoDirec);
    const void* p = ArrX_Able_NextKey(&able, sizeof(Slot), 0, nullptr, &key, "kyoto");
    EXPECT_EQ(&slots[0], p);
    EXPECT_EQ(&slots[3], ArrX_Able_NextKey(&able, sizeof(Slot), 0, p, &key, "kyoto"));
}

// What each dump shows: a buffer's bounds and counts; elements by the type
// letters, cycled, long strings cut; the heap level by level; an invalid key
// by its numbers only.
TEST_F(ArrXTest, DumpsShowTheirLines) {
    unsigned char bytes[20];
    ArrX_Buf buf;
    ArrX_Buf_Init(&buf, bytes, 20);
    ArrX_Buf_Alloc(&buf, 9);
    struct Item {
        int32_t n;
        const char* s;
    };
    static const char kText[] = "abc";
    const std::string longText(5000, 'x');
    Item items[2] = {{65, kText}, {-1, longText.c_str()}};
    void* ps[1] = {items};
    ArrX_Buf itemBuf = FullBuf(items, sizeof items), pb = FullBuf(ps, sizeof ps);
    Rec recs[4] = {R(3), R(9), R(1), R(7)};
    void* block[8];
    ArrX_Key key = MakeKey(offsetof(Rec, i), ArrX_Key_Int, ArrX_Key_Down);
    ArrX_Key bad = MakeKey(8, 7, 1);
    ArrX_Sort sort;
    ArrX_Sort_Init(&sort, block, sizeof block, &key);
    for (Rec& r : recs) ArrX_Sort_Push(&sort, &r);
    ASSERT_EQ(&recs[1], block[0]);  // 9 on top
    auto data = [&](int i) {
        const Rec* r = static_cast<const Rec*>(block[i]);
        return "- Data of Key (" + PtrText(&r->i) + ") = " + std::to_string(r->i);
    };
    using Lines = std::vector<std::string>;
    const std::tuple<const char*, std::function<void()>, Lines> cases[] = {
        {"buffer",
         [&] { ArrX_Buf_Dump(&buf, 4, "> "); },
         {"> ArrX_Buf(" + PtrText(&buf) + ") : first = " + PtrText(bytes) +
              ", last = " + PtrText(bytes + 9) + ", bufLast = " + PtrText(bytes + 20),
          "> size = 9/20 count = 2/5"}},
        {"elements",
         [&] {
             ArrX_Buf_DumpElems(&itemBuf, "is");
             ArrX_Buf_DumpElems(&pb, "p");
         },
         {"  [0] = 65 (0x41) 'A'", "  [1] = (" + PtrText(kText) + ") \"abc\"",
          "  [2] = -1 (0xFFFFFFFF) '.'",
          "  [3] = (" + PtrText(longText.c_str()) + ") \"" + std::string(255, 'x') + "\"",
          "  [0] = (" + PtrText(items) + ")"}},
        {"heap",
         [&] { ArrX_Sort_Dump(&sort, "- "); },
         {"- ArrX_Sort(" + PtrText(&sort) + ") nElem=4, mElem=8, buf=(" + PtrText(block) + ".." +
              PtrText(block + 8) + ")",
          "- Key(" + PtrText(&key) + "): ofs=0(0x0), type=0(ArrX_Key_Int), direc=1(ArrX_Key_Down)",
          "- (1)", data(0), "- (2)", data(1), data(2), "- (4)", data(3)}},
        {"invalid key",
         [&] { ArrX_Key_Dump(&bad, ""); },
         {"Key(" + PtrText(&bad) + "): ofs=8(0x8), type=7, direc=1"}},
    };
    for (const auto& [what, dump, lines] : cases) {
        boxes_.boxes.clear();
        dump();
        EXPECT_EQ(lines, DebugLines()) << what;
    }
}

TEST_F(ArrXTest, BadArgumentsAreReportedAndChangeNothing) {
    // With the raising hook each case reports 102; with no hook the report
    // returns and the operation gives up with its empty result.
    Rec r = R(1);
    ArrX_Buf buf = FullBuf(&r, sizeof r);
    char names[2][4] = {"abc", "wxy"};
    ArrX_Buf nameBuf = FullBuf(names, sizeof names);
    void* block[2];
    ArrX_Sort sort;
    ArrX_Buf buckets[2];
    ArrX_Hash set;
    double d = 0;
    ArrX_Key key;  // the sort keeps a pointer to it
    auto push = [&](ArrX_Key bad) {
        key = bad;
        ArrX_Sort_Init(&sort, block, sizeof block, &key);
        EXPECT_FALSE(ArrX_Sort_IsValid(&sort)) << key.ofs << " " << key.type << " " << key.direc;
        return !ArrX_Sort_Push(&sort, &r) && sort.last == sort.first;
    };
    auto find = [&](ArrX_Key k, const void* value) {
        return !ArrX_Buf_FindKey(&nameBuf, 4, &k, value);
    };
    auto hash = [&](ArrX_Key k) {
        ArrX_Hash_Init(&set, buckets, 2, block, sizeof block, 8, &k);
        return !ArrX_Hash_Add(&set, "a", nullptr) && !ArrX_Hash_Find(&set, "a");
    };
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"dump",
         [&] {
             ArrX_Buf_DumpElems(&buf, "ix");
             return DebugLines().empty();
         }},
        {"push ofs -1", [&] { return push(MakeKey(-1, 0, 0)); }},
        {"push type -1", [&] { return push(MakeKey(0, -1, 0)); }},
        {"push type 7", [&] { return push(MakeKey(0, 7, 0)); }},
        {"push direc 2", [&] { return push(MakeKey(0, 0, 2)); }},
        {"compare", [&] { return ArrX_Key_Compare(&key, &r, &r) == 0; }},
        {"key outside", [&] { return find(MakeKey(4, ArrX_Key_CString, 0), "x"); }},
        {"key too wide", [&] { return find(MakeKey(0, ArrX_Key_Double, 0), &d); }},
        {"int outside", [&] { return !ArrX_FindInt(buf.first, buf.last, 4, 4, 0); }},
        {"hash of a string", [&] { return hash(MakeKey(0, ArrX_Key_CString, 0)); }},
        {"hash pointer outside", [&] { return hash(MakeKey(4, ArrX_Key_StrV, 0)); }},
    };
    for (bool hook : {true, false}) {
        Errors_Callback = hook ? Except3_RaiseHook : nullptr;
        for (const auto& [what, run] : cases) {
            boxes_.boxes.clear();
            Errors_GetMsg()->code = 0;
            bool empty = false;
            EXPECT_EQ(hook ? 102 : 0, CaughtCode([&] { empty = run(); })) << what;
            EXPECT_EQ(Errors_Unofficial.code, Errors_GetMsg()->code) << what;
            EXPECT_TRUE(hook || empty) << what;
        }
    }
}

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
    EXPECT_EQ(ArrX_Err_Full.code,
              CaughtCode([&] { ArrX_Hash_Add(&set, same[1].c_str(), &added); }));
    EXPECT_EQ(nullptr, ArrX_Hash_Find(&set, same[1].c_str()));
    EXPECT_NE(nullptr, ArrX_Hash_Add(&set, SameBucket(4, 3, 1)[0].c_str(), nullptr));
    for (int i = 64; i < 78; i++) EXPECT_EQ(0xEE, block[i]) << i;
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

TEST_F(ArrXLoadTest, LoadAddsEachNewWordOnceAndCutsOverlongOnes) {
    const int fds = OpenFds();
    EXPECT_EQ(4, Load("words.txt", "kyoto nara\r\n\tosaka kyoto  nara\n\n\x0b\x0ckobe"));
    EXPECT_EQ(fds, OpenFds());  // the file is closed after a whole read too
    EXPECT_EQ((std::vector<std::string>{"kyoto", "nara", "osaka", "kobe"}), Pooled());
    Word* e = static_cast<Word*>(ArrX_Hash_Find(&set_, "osaka"));
    ASSERT_NE(nullptr, e);
    EXPECT_STREQ("osaka", e->text);
    EXPECT_EQ(nullptr, ArrX_Hash_Find(&set_, "kyot"));
    // A second file adds only what is new.
    EXPECT_EQ(1, Load("more.txt", "nara \x93\xde\x97\xc7 kobe"));
    EXPECT_NE(nullptr, ArrX_Hash_Find(&set_, "\x93\xde\x97\xc7"));
    // 259 bytes at most, never inside a double-byte character.
    StrX_Mem_Init(&pool_, poolBlock_, sizeof poolBlock_);
    EXPECT_EQ(3, Load("long.txt", std::string(300, 'a') + " " + std::string(258, 'c') +
                                      "\x83\x41\x83\x41 " + std::string(259, 'd')));
    EXPECT_EQ((std::vector<std::string>{std::string(259, 'a'), std::string(258, 'c'),
                                        std::string(259, 'd')}),
              Pooled());
}

TEST_F(ArrXLoadTest, LoadFailuresCloseTheFile) {
    EXPECT_EQ(FileX_Err_CannotReadOpen.code, CaughtCode([&] {
                  ArrX_Hash_Load(&set_, &pool_, (dir_.inside() + "\\none.txt").c_str());
              }));
    int fds = OpenFds();
    // A pool that cannot hold the third word whole: nothing cut stays in it.
    StrX_Mem_Init(&pool_, poolBlock_, 1 + 6 + 5 + 4);
    EXPECT_EQ(StrX_Err_MemEmpty.code, CaughtCode([&] { Load("w.txt", "kyoto nara osaka"); }));
    EXPECT_EQ((std::vector<std::string>{"kyoto", "nara"}), Pooled());
    EXPECT_EQ(fds, OpenFds());
    // A full bucket.
    alignas(8) unsigned char small[2 * sizeof(Word)];
    InitSet(1, small, sizeof small);
    StrX_Mem_Init(&pool_, poolBlock_, sizeof poolBlock_);
    EXPECT_EQ(ArrX_Err_Full.code, CaughtCode([&] { Load("w.txt", "kyoto nara osaka"); }));
    EXPECT_EQ(fds, OpenFds());
}
