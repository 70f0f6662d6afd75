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

// A fault in a nested guard ends only the inner call.
static INT_PTR GuardFaultInside(void *)
{
    INT_PTR result = 0;
    return CallGuarded(WriteThroughNull, NULL, &result, NULL) ? 1 : 7;
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
        SetLastError(0);
        EXPECT_EQ(c.returned, CallGuarded(c.call, NULL, &result, &code));
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.code, code);
        if (!c.returned)
        {
            EXPECT_EQ(static_cast<DWORD>(ERROR_UNHANDLED_EXCEPTION), GetLastError());
        }
    }
}
