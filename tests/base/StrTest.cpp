#include "base/Str.h"

#include <gtest/gtest.h>

TEST(StrTest, Smoke)
{
    CStr text;
    EXPECT_EQ(1, Format(text, "%s-%I64u", "a", 5ULL));
    EXPECT_STREQ("a-5", text.GetText());
}
