#include "components/bigstack.h"

#include "support/testsupport.h"

class BigStackTest : public LibraryTest {};

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
