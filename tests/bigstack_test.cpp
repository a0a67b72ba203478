#include "components/bigstack.h"

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "support/testsupport.h"

using BigStackTest = LibraryTest;

TEST_F(BigStackTest, BuffersAndMarksAreRoundedAndAlignedToEightBytes) {
    struct {
        uint32_t n, advance;
    } cases[] = {{0, 0}, {1, 8}, {4, 8}, {8, 8}, {9, 16}};
    alignas(8) static unsigned char block[130];
    // Set up one byte past an aligned address: the stack starts at the next one.
    for (const auto& c : cases) {
        BigStack s{};
        BigStack_Init(&s, block + 1, 129);
        EXPECT_EQ(block + 8, s.mem) << c.n;
        EXPECT_EQ(122u, s.size) << c.n;
        BigStack_Alloc(&s, 3);
        BigStack_Push(&s);
        unsigned char* p = static_cast<unsigned char*>(BigStack_Alloc(&s, c.n));
        EXPECT_EQ(block + 24, p) << c.n;
        EXPECT_EQ(block + 24 + c.advance, s.sp) << c.n;
        EXPECT_EQ(16 + c.advance, s.max) << c.n;
        // Pointers and times may live in a buffer.
        auto* t = static_cast<time_t*>(BigStack_Alloc(&s, sizeof(time_t)));
        *t = 1;
        auto* ptr = static_cast<void**>(BigStack_Alloc(&s, sizeof(void*)));
        *ptr = t;
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(ptr) % alignof(void*)) << c.n;
    }
}

TEST_F(BigStackTest, PushAllocPopRestoresNestedMarksAndPrints) {
    alignas(8) static unsigned char block[256];
    BigStack s{};
    BigStack_Init(&s, block, sizeof block);
    BigStack_Push(&s);
    char* a = static_cast<char*>(BigStack_Alloc(&s, 10));
    memset(a, 'A', 10);
    unsigned char* outer = s.sp;
    BigStack_Push(&s);
    EXPECT_EQ(outer + 8, BigStack_Alloc(&s, 100));
    memset(outer + 8, 'B', 100);
    BigStack_Print(&s);
    EXPECT_EQ((std::vector<std::string>{"BigStack: mem=" + PtrText(block) + ", size=0x100, sp=" +
                                            PtrText(outer + 112) + ", block1=" + PtrText(outer),
                                        "BigStack: max=0x88"}),
              BoxTexts(boxes_, Sjis(u8"デバッグ表示").c_str()));
    BigStack_Pop(&s);
    EXPECT_EQ(outer, s.sp);
    EXPECT_EQ(block, s.block1);
    EXPECT_EQ(std::string(10, 'A'), std::string(a, 10));  // the outer mark survived
    BigStack_Pop(&s);
    EXPECT_EQ(block, s.sp);
    EXPECT_EQ(nullptr, s.block1);
    EXPECT_EQ(0x88u, s.max);  // a pop keeps the high mark
}

TEST_F(BigStackTest, FullStackRaisesOrWithoutHookReturnsAndChangesNothing) {
    struct {
        uint32_t size, used;
        bool push;
        uint32_t request;
        const char* report;
    } cases[] = {
        {32, 16, false, 0xFFFFFFFEu, "(usable=16, request=2147483647)"},  // must not wrap
        {8, 8, true, 0, "(usable=0, request=8)"},  // a push must not write past the block
        {12, 8, true, 0, "(usable=4, request=8)"},
        {32, 24, false, 9, "(usable=8, request=16)"},
    };
    // The process stack takes exactly its 64 KiB block.
    BigStack* sys = BigStack_Sys();
    BigStack_Push(sys);
    EXPECT_EQ(sys->mem + 8, BigStack_Alloc(sys, 65528));
    EXPECT_EQ(BigStack_Full.code, CaughtCode([&] { BigStack_Alloc(sys, 1); }));
    EXPECT_EQ(sys->mem + 65536, sys->sp);
    BigStack_Pop(sys);
    alignas(8) static unsigned char block[48];
    for (bool hook : {true, false}) {
        for (const auto& c : cases) {
            memset(block, 0xEE, sizeof block);
            Errors_Callback = hook ? Except3_RaiseHook : nullptr;
            BigStack s{};
            BigStack_Init(&s, block, c.size);
            BigStack_Alloc(&s, c.used);
            void* got = &s;
            EXPECT_EQ(hook ? 281 : 0, CaughtCode([&] {
                          if (c.push)
                              BigStack_Push(&s);
                          else
                              got = BigStack_Alloc(&s, c.request);
                      }))
                << c.report;
            // Without a hook the report returns: no memory, no mark.
            EXPECT_EQ(BigStack_Full.code, Errors_GetMsg()->code) << c.report;
            EXPECT_TRUE(hook || c.push || !got) << c.report;
            EXPECT_NE(std::string::npos, LastText().find(c.report)) << Utf8(LastText());
            EXPECT_TRUE(block + c.used == s.sp && s.block1 == nullptr) << c.report << hook;
            for (uint32_t i = c.size; i < c.size + 8; i++) EXPECT_EQ(0xEE, block[i]) << c.report;
            BigStack_Pop(&s);  // no mark: nothing happens
            EXPECT_EQ(block + c.used, s.sp) << c.report;
        }
    }
}
