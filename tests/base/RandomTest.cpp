#include "base/Random.h"

#include <gtest/gtest.h>

#include <vector>

TEST(RandomTest, FillsDifferAndReachTheEnd)
{
    // The buffer is zeroed first, so a fill that stopped early leaves a zero tail.
    const INT32 length = 1048576 + 17;
    std::vector<BYTE> first(length), second(length);
    ASSERT_EQ(1, CRandom().Fill(first.data(), length));
    ASSERT_EQ(1, CRandom().Fill(second.data(), length));
    EXPECT_NE(first, second);
    EXPECT_NE(std::vector<BYTE>(64, 0), std::vector<BYTE>(first.end() - 64, first.end()));
}

TEST(RandomTest, EmptyOrInvalidRequestsLeaveMemoryAlone)
{
    BYTE bytes[4] = {1, 2, 3, 4};
    const struct
    {
        void *buffer;
        INT32 length;
        int result;
    } cases[] = {{bytes, 0, 1}, {NULL, 0, 1}, {bytes, -1, 0}, {NULL, 16, 0}};
    for (const auto &c : cases)
    {
        EXPECT_EQ(c.result, CRandom().Fill(c.buffer, c.length)) << c.length;
        EXPECT_TRUE(c.result || GetLastError() == ERROR_INVALID_PARAMETER) << c.length;
        EXPECT_EQ(1, bytes[0]);
        EXPECT_EQ(4, bytes[3]);
    }
}
