#include "components/bigstack.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/testsupport.h"

using BigStackTest = LibraryTest;

TEST_F(BigStackTest, AllocRoundsUpToFourBytes) {
    struct {
        uint32_t n, advance;
    } cases[] = {{0, 0}, {1, 4}, {3, 4}, {4, 4}, {5, 8}, {9, 12}, {100, 100}};
    alignas(4) static unsigned char block[128];
    for (const auto& c : cases) {
        BigStack s{};
        BigStack_Init(&s, block, sizeof block);
        BigStack_Alloc(&s, 3);
        unsigned char* before = s.sp;
        EXPECT_EQ(before, BigStack_Alloc(&s, c.n)) << c.n;
        EXPECT_EQ(before + c.advance, s.sp) << c.n;
        EXPECT_EQ(4 + c.advance, s.max) << c.n;
    }
}

TEST_F(BigStackTest, PushAllocPopRestoresNestedMarks) {
    alignas(4) static unsigned char block[256];
    BigStack s{};
    BigStack_Init(&s, block, sizeof block);
    BigStack_Push(&s);
    char* a = static_cast<char*>(BigStack_Alloc(&s, 10));
    memset(a, 'A', 10);
    unsigned char* outer = s.sp;
    BigStack_Push(&s);
    EXPECT_EQ(outer, s.block1);
    EXPECT_EQ(outer + 4, BigStack_Alloc(&s, 100));
    memset(outer + 4, 'B', 100);
    BigStack_Pop(&s);
    EXPECT_EQ(outer, s.sp);
    EXPECT_EQ(block, s.block1);
    EXPECT_GE(s.max, static_cast<uint32_t>(outer - block) + 104);
    // The outer request goes on taking buffers above its own.
    memset(BigStack_Alloc(&s, 4), 'C', 4);
    EXPECT_EQ(outer + 4, s.sp);
    EXPECT_EQ(std::string(10, 'A'), std::string(a, 10));
    uint32_t max = s.max;
    BigStack_Pop(&s);
    EXPECT_EQ(block, s.sp);
    EXPECT_EQ(nullptr, s.block1);
    EXPECT_EQ(max, s.max);  // a pop keeps the high-water mark
}

TEST_F(BigStackTest, ProcessStackTakesExactlyItsBlock) {
    BigStack* s = BigStack_Sys();
    EXPECT_EQ(65536u, s->size);
    BigStack_Push(s);
    unsigned char* p = nullptr;
    EXPECT_EQ(0, CaughtCode([&] { p = static_cast<unsigned char*>(BigStack_Alloc(s, 65532)); }));
    EXPECT_EQ(s->mem + 4, p);
    EXPECT_EQ(281, CaughtCode([&] { BigStack_Alloc(s, 1); }));
    EXPECT_NE(std::string::npos, LastText().find(Sjis(u8"BigStack 不足です (usable=0, request=4)")))
        << Utf8(LastText());
    EXPECT_EQ(s->mem + 65536, s->sp);
    EXPECT_EQ(0, CaughtCode([&] { BigStack_Alloc(s, 0); }));
    BigStack_Pop(s);
    EXPECT_EQ(s->mem, s->sp);
}

TEST_F(BigStackTest, FullStackRaisesAndChangesNothing) {
    struct {
        uint32_t size, used;
        bool push;
        uint32_t request;
        const char* report;
    } cases[] = {
        {30, 16, false, 15, "(usable=14, request=16)"},
        {30, 16, false, 0xFFFFFFFEu, "(usable=14, request=2147483647)"},  // must not wrap
        {8, 8, true, 0, "(usable=0, request=4)"},  // a push must not write past the block
        {6, 4, true, 0, "(usable=2, request=4)"},
    };
    alignas(4) static unsigned char block[40];
    memset(block, 0xEE, sizeof block);
    for (const auto& c : cases) {
        BigStack s{};
        BigStack_Init(&s, block, c.size);
        BigStack_Alloc(&s, c.used);
        EXPECT_EQ(281, CaughtCode([&] {
                      if (c.push)
                          BigStack_Push(&s);
                      else
                          BigStack_Alloc(&s, c.request);
                  }))
            << c.report;
        EXPECT_NE(std::string::npos, LastText().find(c.report)) << Utf8(LastText());
        EXPECT_EQ(block + c.used, s.sp) << c.report;
        EXPECT_EQ(nullptr, s.block1) << c.report;
        for (uint32_t i = c.size; i < sizeof block; i++) EXPECT_EQ(0xEE, block[i]) << c.report;
    }
}

TEST_F(BigStackTest, FullStackWithoutHookEndsTheProgram) {
    // With no hook the report returns; the stack must still not hand out
    // memory past its block, so the program ends.
    for (bool push : {false, true}) {
        EXPECT_EXIT(
            {
                SetUpLibraryForDeath();
                Errors_Callback = nullptr;
                BigStack* s = BigStack_Sys();
                BigStack_Alloc(s, 65536);
                if (push)
                    BigStack_Push(s);
                else
                    BigStack_Alloc(s, 1);
                fprintf(stderr, "not reached\n");
            },
            testing::ExitedWithCode(14),
            "^BOX\\[.*\\] EXIT from bigstack.cpp\\([0-9]+\\)\nBOXES=1\n$")
            << (push ? "push" : "alloc");
    }
}

TEST_F(BigStackTest, PrintShowsTheRecord) {
    alignas(4) static unsigned char block[64];
    BigStack s{};
    BigStack_Init(&s, block, sizeof block);
    BigStack_Print(&s);
    BigStack_Push(&s);
    BigStack_Alloc(&s, 25);
    BigStack_Print(&s);
    std::string b = PtrText(block);
    EXPECT_EQ((std::vector<std::string>{
                  "BigStack: mem=" + b + ", size=0x40, sp=" + b + ", block1=(nil)",
                  "BigStack: max=0x0",
                  "BigStack: mem=" + b + ", size=0x40, sp=" + PtrText(block + 32) + ", block1=" + b,
                  "BigStack: max=0x20",
              }),
              BoxTexts(boxes_, Sjis(u8"デバッグ表示").c_str()));
}
