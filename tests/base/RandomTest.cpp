#include "base/Random.h"

#include <gtest/gtest.h>

#include <vector>

TEST(RandomTest, FillsDifferAndReachTheEndAndBadRequestsFail)
{
    // The buffer is zeroed first, so a fill that stopped early leaves a zero tail.
    const INT32 length = 1048576 + 17;
    std::vector<BYTE> first(length), second(length);
    ASSERT_EQ(1, CRandom().Fill(first.data(), length));
    ASSERT_EQ(1, CRandom().Fill(second.data(), length));
    EXPECT_NE(first, second);
    EXPECT_NE(std::vector<BYTE>(64, 0), std::vector<BYTE>(first.end() - 64, first.end()));
    BYTE bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(0, CRandom().Fill(bytes, -1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0, CRandom().Fill(NULL, 16));
    EXPECT_EQ(std::vector<BYTE>({1, 2, 3, 4}), std::vector<BYTE>(bytes, bytes + 4));
}

// A block of 2 GB and more is filled to its end, past the signed 32-bit length of Fill.
TEST(RandomTest, BlocksPastTwoGigabytesAreFilledToTheEnd)
{
    const UINT32 length = 0x80000000u + 4096;
    BYTE *block = static_cast<BYTE *>(VirtualAlloc(NULL, length, MEM_COMMIT, PAGE_READWRITE));
    if (!block)
        GTEST_SKIP() << "no room for a 2 GB block in this process";
    EXPECT_EQ(1, CRandom().FillBlock(block, length));
    const std::vector<BYTE> zeros(64, 0);
    for (UINT32 end : {0x40000000u, 0x80000000u, length})
        EXPECT_NE(zeros, std::vector<BYTE>(block + end - 64, block + end)) << end;
    VirtualFree(block, 0, MEM_RELEASE);
}
