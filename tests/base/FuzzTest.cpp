#include "fuzz/Fuzz.h"

#include <gtest/gtest.h>

// The named suites also run under a double-byte code page (CmdLine*).
TEST(CmdLineFuzzSlice, CommandTexts)
{
    EXPECT_EQ("", RunFuzzSlice(*NewCmdTextTarget(), 20261207, 400));
}

TEST(CmdLineFuzzSlice, CommandFiles)
{
    EXPECT_EQ("", RunFuzzSlice(*NewCmdFileTarget(), 20261207, 200));
}
