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
    const struct { GuardedCall call; int returned; INT_PTR result; DWORD code; } cases[] = {
        {WriteThroughNull, 0, -1, EXCEPTION_ACCESS_VIOLATION}, {Return42, 1, 42, 0},
        {GuardFaultInside, 1, 7, 0}, {WriteThroughNull, 0, -1, EXCEPTION_ACCESS_VIOLATION},
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

#if defined(_M_IX86) || defined(__i386__)
static EXCEPTION_DISPOSITION __cdecl PassOn(EXCEPTION_RECORD *, void *, CONTEXT *, void *)
{
    return ExceptionContinueSearch;
}

// Faults with a handler of its own on the thread's chain, as system code often has.
static INT_PTR FaultUnderOwnHandler(void *)
{
    EXCEPTION_REGISTRATION_RECORD record;
    record.Next = GetHandlerChain();
    record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(PassOn);
    SetHandlerChain(&record);
    *static_cast<volatile int *>(NULL) = 1;
    SetHandlerChain(record.Next);
    return 1;
}

TEST(FaultGuardTest, LeavesTheHandlerChainAsItWas)
{
    EXCEPTION_REGISTRATION_RECORD *before = GetHandlerChain();
    EXPECT_EQ(0, CallGuarded(FaultUnderOwnHandler, NULL, NULL, NULL));
    EXPECT_EQ(before, GetHandlerChain());
}
#endif
