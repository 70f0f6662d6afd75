// A guard that turns a hardware fault inside a call into a failed call, for code that
// must survive a fault in a system component it calls (mingw's compiler has no __try).
#ifndef BRENNLOW_CRASH_FAULTGUARD_H
#define BRENNLOW_CRASH_FAULTGUARD_H

#include <windows.h>

#ifndef ERROR_UNHANDLED_EXCEPTION
#define ERROR_UNHANDLED_EXCEPTION 574L
#endif

typedef INT_PTR (*GuardedCall)(void *argument);

// Runs call(argument) on this thread. Returns 1 with the call's result in *result (may be
// null) when it returned, 0 when a fault ended it; the thread's last-error value is then
// ERROR_UNHANDLED_EXCEPTION and *code (may be null) the exception code.
//
// The guard steps in for system fault codes only (severity "error", not customer-defined:
// access violations, stack overflow, illegal instructions, ...), ahead of any handler inside
// the call: a callee that handles such a fault itself is ended too. Exceptions of other
// kinds (debug output, C++ exceptions, RPC codes) pass untouched. Objects on the stack
// between the guard and the fault are abandoned, not destroyed.
int CallGuarded(GuardedCall call, void *argument, INT_PTR *result, DWORD *code);

#if defined(_M_IX86) || defined(__i386__)
// The head of the thread's exception-handler chain, the first word of its information
// block (FS:[0]); the guard puts it back after a fault.
EXCEPTION_REGISTRATION_RECORD *GetHandlerChain();
void SetHandlerChain(EXCEPTION_REGISTRATION_RECORD *chain);
#endif

#endif
