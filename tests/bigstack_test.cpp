#include "components/bigstack.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/testsupport.h"

class BigStackTest : public LibraryTest {
   protected:
    bool LastTextHas(const std::string& part) const {
        return LastText().find(part) != std::string::npos;
    }
};

namespace {
std::string P(const void* p) {
    char s[32];
    snprintf(s, sizeof s, "%p", p);
    return s;
}
}  // namespace

TEST_F(BigStackTest, AllocRoundsUpToFourBytes) {
    alignas(4) static unsigned char block[64];
    BigStack s{};
    BigStack_Init(&s, block, sizeof block);
    unsigned char* p0 = static_cast<unsigned char*>(BigStack_Alloc(&s, 1));
    unsigned char* p1 = static_cast<unsigned char*>(BigStack_Alloc(&s, 4));
    unsigned char* p2 = static_cast<unsigned char*>(BigStack_Alloc(&s, 5));
    unsigned char* p3 = static_cast<unsigned char*>(BigStack_Alloc(&s, 0));
    EXPECT_EQ(p0, block);
    EXPECT_EQ(p1, block + 4);
    EXPECT_EQ(p2, block + 8);
    EXPECT_EQ(p3, block + 16);
    EXPECT_EQ(s.sp, block + 16);  // Alloc(0) took nothing
}

TEST_F(BigStackTest, AllocAdvanceTable) {
    struct {
        uint32_t n, advance;
    } cases[] = {{0, 0}, {1, 4}, {2, 4}, {3, 4},  {4, 4},
                 {5, 8}, {7, 8}, {8, 8}, {9, 12}, {100, 100}};
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

TEST_F(BigStackTest, PushAllocPopRestoresTheStack) {
    alignas(4) static unsigned char block[256];
    BigStack s{};
    BigStack_Init(&s, block, sizeof block);
    EXPECT_EQ(nullptr, s.block1);
    for (int round = 0; round < 2; round++) {  // without and with an outer mark
        unsigned char* sp = s.sp;
        unsigned char* block1 = s.block1;
        BigStack_Push(&s);
        EXPECT_EQ(sp, s.block1) << round;
        EXPECT_EQ(sp + 4, BigStack_Alloc(&s, 100)) << round;
        BigStack_Pop(&s);
        EXPECT_EQ(sp, s.sp) << round;
        EXPECT_EQ(block1, s.block1) << round;
        EXPECT_GE(s.max, static_cast<uint32_t>(sp - block) + 104) << round;
        if (round == 0) BigStack_Push(&s);  // the outer mark of the second round
    }
    uint32_t max = s.max;
    BigStack_Pop(&s);
    EXPECT_EQ(block, s.sp);
    EXPECT_EQ(nullptr, s.block1);
    EXPECT_EQ(max, s.max);  // a pop keeps the high-water mark
}

TEST_F(BigStackTest, NestedRequestsKeepOuterBuffers) {
    alignas(4) static unsigned char block[128];
    BigStack s{};
    BigStack_Init(&s, block, sizeof block);
    BigStack_Push(&s);
    unsigned char* outerMark = s.block1;
    char* a = static_cast<char*>(BigStack_Alloc(&s, 10));
    memset(a, 'A', 10);
    unsigned char* afterOuter = s.sp;

    BigStack_Push(&s);
    EXPECT_EQ(afterOuter, s.block1);
    char* b = static_cast<char*>(BigStack_Alloc(&s, 16));
    EXPECT_GT(b, a + 10);  // above the caller's buffers
    memset(b, 'B', 16);
    BigStack_Pop(&s);

    EXPECT_EQ(afterOuter, s.sp);
    EXPECT_EQ(outerMark, s.block1);
    EXPECT_EQ(std::string(10, 'A'), std::string(a, 10));
    // The outer request goes on taking buffers above its own.
    char* c = static_cast<char*>(BigStack_Alloc(&s, 4));
    EXPECT_EQ(reinterpret_cast<char*>(afterOuter), c);
    memset(c, 'C', 4);
    EXPECT_EQ(std::string(10, 'A'), std::string(a, 10));
    BigStack_Pop(&s);
    EXPECT_EQ(block, s.sp);
    EXPECT_EQ(nullptr, s.block1);
}

TEST_F(BigStackTest, ProcessStackTakesExactlyItsBlock) {
    BigStack* s = BigStack_Sys();
    EXPECT_EQ(65536u, s->size);
    EXPECT_EQ(s->mem, s->sp);
    BigStack_Push(s);
    unsigned char* p = nullptr;
    EXPECT_EQ(0, CaughtCode([&] { p = static_cast<unsigned char*>(BigStack_Alloc(s, 65532)); }));
    EXPECT_EQ(s->mem + 4, p);
    EXPECT_EQ(s->mem + 65536, s->sp);
    EXPECT_EQ(281, CaughtCode([&] { BigStack_Alloc(s, 1); }));
    EXPECT_TRUE(LastTextHas(Sjis(u8"BigStack 不足です (usable=0, request=4)"))) << Utf8(LastText());
    EXPECT_EQ(s->mem + 65536, s->sp);  // unchanged
    EXPECT_EQ(0, CaughtCode([&] { BigStack_Alloc(s, 0); }));
    BigStack_Pop(s);
    EXPECT_EQ(s->mem, s->sp);
    EXPECT_EQ(nullptr, s->block1);
}

TEST_F(BigStackTest, FullReportNamesUsableAndRoundedRequest) {
    alignas(4) static unsigned char block[32];
    BigStack s{};
    BigStack_Init(&s, block, 30);
    BigStack_Alloc(&s, 16);
    EXPECT_EQ(281, CaughtCode([&] { BigStack_Alloc(&s, 15); }));
    EXPECT_TRUE(LastTextHas("(usable=14, request=16)")) << Utf8(LastText());
    EXPECT_EQ(block + 16, s.sp);
    // A request near 4 GiB must not wrap around to a small one.
    EXPECT_EQ(281, CaughtCode([&] { BigStack_Alloc(&s, 0xFFFFFFFEu); }));
    EXPECT_TRUE(LastTextHas("(usable=14, request=2147483647)")) << Utf8(LastText());
    EXPECT_EQ(block + 16, s.sp);
    EXPECT_EQ(block + 16, BigStack_Alloc(&s, 12));
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

TEST_F(BigStackTest, PushOnFullStackRaisesInsteadOfWritingPast) {
    alignas(4) unsigned char block[12];
    memset(block, 0xEE, sizeof block);
    BigStack s{};
    BigStack_Init(&s, block, 8);
    BigStack_Push(&s);
    BigStack_Alloc(&s, 4);
    EXPECT_EQ(281, CaughtCode([&] { BigStack_Push(&s); }));
    EXPECT_TRUE(LastTextHas("(usable=0, request=4)")) << Utf8(LastText());
    EXPECT_EQ(block + 8, s.sp);
    EXPECT_EQ(block, s.block1);
    for (int i = 8; i < 12; i++) EXPECT_EQ(0xEE, block[i]) << i;

    // Two bytes left are not enough for a mark either.
    BigStack t{};
    BigStack_Init(&t, block, 6);
    BigStack_Alloc(&t, 4);
    EXPECT_EQ(281, CaughtCode([&] { BigStack_Push(&t); }));
    EXPECT_TRUE(LastTextHas("(usable=2, request=4)")) << Utf8(LastText());
    EXPECT_EQ(nullptr, t.block1);
    for (int i = 8; i < 12; i++) EXPECT_EQ(0xEE, block[i]) << i;
}

TEST_F(BigStackTest, PrintShowsTheRecord) {
    alignas(4) static unsigned char block[64];
    BigStack s{};
    BigStack_Init(&s, block, sizeof block);
    BigStack_Print(&s);
    BigStack_Push(&s);
    BigStack_Alloc(&s, 25);
    BigStack_Print(&s);
    std::vector<std::string> lines;
    for (const auto& b : boxes_.boxes)
        if (b.title == Sjis(u8"デバッグ表示")) lines.push_back(b.text);
    EXPECT_EQ((std::vector<std::string>{
                  "BigStack: mem=" + P(block) + ", size=0x40, sp=" + P(block) + ", block1=(nil)",
                  "BigStack: max=0x0",
                  "BigStack: mem=" + P(block) + ", size=0x40, sp=" + P(block + 32) +
                      ", block1=" + P(block),
                  "BigStack: max=0x20",
              }),
              lines);
}
