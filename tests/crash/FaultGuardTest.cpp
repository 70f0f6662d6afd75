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

extern "C" {
// Reached by name from the assembly below.
GuardedCall g_pFaultingCall __asm__("BrennlowTestFaultingCall") = WriteThroughNull;
int (*g_pCallGuarded)(GuardedCall, void *, INT_PTR *, DWORD *)
    __asm__("BrennlowTestCallGuarded") = CallGuarded;
}

// A caller that keeps its own values in the registers a call must preserve gets them back
// after a guarded call that faulted.
TEST(FaultGuardTest, GivesTheCallersRegistersBack)
{
    DWORD ebx, esi, edi;
    __asm__ volatile("movl $0x0B0B0B0B, %%ebx\n\t"
                     "movl $0x05050505, %%esi\n\t"
                     "movl $0x0D0D0D0D, %%edi\n\t"
                     "pushl $0\n\t"
                     "pushl $0\n\t"
                     "pushl $0\n\t"
                     "pushl BrennlowTestFaultingCall\n\t"
                     "call *BrennlowTestCallGuarded\n\t"
                     "addl $16, %%esp\n\t"
                     "movl %%ebx, %%eax\n\t"
                     "movl %%esi, %%ecx\n\t"
                     "movl %%edi, %%edx"
                     : "=a"(ebx), "=c"(esi), "=d"(edi)
                     :
                     : "ebx", "esi", "edi", "memory", "cc");
    EXPECT_EQ(0x0B0B0B0Bu, ebx);
    EXPECT_EQ(0x05050505u, esi);
    EXPECT_EQ(0x0D0D0D0Du, edi);
}
#endif
