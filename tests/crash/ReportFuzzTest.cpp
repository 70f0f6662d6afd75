#include "fuzz/Fuzz.h"

#include <gtest/gtest.h>

TEST(ReportFuzzSlice, ModuleThreadAndStackLinesAndThreadNames)
{
    EXPECT_EQ("", RunFuzzSlice(*NewReportLineTarget(), 20261207, 400));
}
