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
    } cases[] = {{0, 0}, {1, 4}, {4, 4}, {5, 8}};
    alignas(4) static unsigned char block[128];
    for (const auto& c : cases) {
        BigStack s{};
        BigStack_Init(&s, block, sizeof block);
        BigStack_Alloc(&s, 3);
        EXPECT_EQ(block + 4, BigStack_Alloc(&s, c.n)) << c.n;
        EXPECT_EQ(block + 4 + c.advance, s.sp) << c.n;
        EXPECT_EQ(4 + c.advance, s.max) << c.n;
    }
}

TEST_F(BigStackTest, PushAllocPopRestoresNestedMarksAndPrints) {
    alignas(4) static unsigned char block[256];
    BigStack s{};
    BigStack_Init(&s, block, sizeof block);
    BigStack_Push(&s);
    char* a = static_cast<char*>(BigStack_Alloc(&s, 10));
    memset(a, 'A', 10);
    unsigned char* outer = s.sp;
    BigStack_Push(&s);
    EXPECT_EQ(outer + 4, BigStack_Alloc(&s, 100));
    memset(outer + 4, 'B', 100);
    BigStack_Print(&s);
    EXPECT_EQ((std::vector<std::string>{"BigStack: mem=" + PtrText(block) + ", size=0x100, sp=" +
                                            PtrText(outer + 104) + ", block1=" + PtrText(outer),
                                        "BigStack: max=0x78"}),
              BoxTexts(boxes_, Sjis(u8"デバッグ表示").c_str()));
    BigStack_Pop(&s);
    EXPECT_EQ(outer, s.sp);
    EXPECT_EQ(block, s.block1);
    EXPECT_EQ(std::string(10, 'A'), std::string(a, 10));  // the outer mark survived
    BigStack_Pop(&s);
    EXPECT_EQ(block, s.sp);
    EXPECT_EQ(nullptr, s.block1);
    EXPECT_GE(s.max, static_cast<uint32_t>(outer - block) + 104);  // a pop keeps the high mark
}

TEST_F(BigStackTest, ProcessStackTakesExactlyItsBlock) {
    BigStack* s = BigStack_Sys();
    BigStack_Push(s);
    EXPECT_EQ(s->mem + 4, BigStack_Alloc(s, 65532));
    EXPECT_EQ(281, CaughtCode([&] { BigStack_Alloc(s, 1); }));
    EXPECT_NE(std::string::npos, LastText().find(Sjis(u8"BigStack 不足です (usable=0, request=4)")))
        << Utf8(LastText());
    EXPECT_EQ(s->mem + 65536, s->sp);
    BigStack_Pop(s);
}

TEST_F(BigStackTest, FullStackRaisesAndChangesNothing) {
    struct {
        uint32_t size, used;
        bool push;
        uint32_t request;
        const char* report;
    } cases[] = {
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
        for (uint32_t i = c.size; i < c.size + 8; i++) EXPECT_EQ(0xEE, block[i]) << c.report;
    }
}

TEST_F(BigStackTest, FullStackWithoutHookEndsTheProgram) {
    // With no hook the report returns; no memory past the block is handed out.
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
