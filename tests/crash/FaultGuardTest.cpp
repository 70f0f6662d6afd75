#include "crash/FaultGuard.h"

#include <gtest/gtest.h>

static INT_PTR WriteThroughNull(void *)
{
    *static_cast<volatile int *>(NULL) = 1;
    return 1;
}

static INT_PTR Return42(void *)
{
    return 42;
}

// A fault under a nested guard ends only the inner call.
static INT_PTR GuardFaultInside(void *)
{
    return CallGuarded(WriteThroughNull, NULL, NULL, NULL) ? 1 : 7;
}

TEST(FaultGuardTest, TurnsFaultsIntoFailedCalls)
{
    const struct
    {
        GuardedCall call;
        int returned;
        INT_PTR result;
        DWORD code;
    } cases[] = {
        {WriteThroughNull, 0, -1, EXCEPTION_ACCESS_VIOLATION},
        {Return42, 1, 42, 0},
        {GuardFaultInside, 1, 7, 0},
        {WriteThroughNull, 0, -1, EXCEPTION_ACCESS_VIOLATION},
    };
    for (const auto &c : cases)
    {
        INT_PTR result = -1;
        DWORD code = 0;
        int returned = CallGuarded(c.call, NULL, &result, &code);
        DWORD error = GetLastError();
        EXPECT_EQ(c.returned, returned);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.code, code);
        EXPECT_TRUE(c.returned || error == ERROR_UNHANDLED_EXCEPTION) << error;
    }
}
