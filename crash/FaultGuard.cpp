#include "crash/FaultGuard.h"

// Where a guarded call resumes after a fault: the registers at the point the guard
// captured them, and what the fault was.
struct CGuardFrame
{
    CONTEXT resume;
    volatile LONG faulted;
    volatile DWORD code;
    CGuardFrame *outer;
};

static __thread CGuardFrame *t_pGuardFrame;

// System fault codes have severity "error" (the two top bits) and no customer bit.
static int IsSystemFault(DWORD code)
{
    return (code & 0xE0000000u) == 0xC0000000u;
}

// Runs ahead of every frame-based handler: sends the thread back to the guard's own frame,
// which is still intact above the fault, by resuming from the captured registers.
static LONG CALLBACK ResumeAtGuard(EXCEPTION_POINTERS *info)
{
    CGuardFrame *frame = t_pGuardFrame;
    DWORD code = info->ExceptionRecord->ExceptionCode;
    if (!frame || !IsSystemFault(code))
        return EXCEPTION_CONTINUE_SEARCH;
    t_pGuardFrame = frame->outer;
    frame->code = code;
    frame->faulted = 1;
    *info->ContextRecord = frame->resume;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Not inlined: the captured registers must describe this function's own frame.
__attribute__((noinline)) int CallGuarded(GuardedCall call, void *argument, INT_PTR *result,
                                          DWORD *code)
{
    PVOID handler = AddVectoredExceptionHandler(1, ResumeAtGuard);
    if (!handler)
        return 0;
    CGuardFrame frame;
    frame.faulted = 0;
    frame.code = 0;
    frame.outer = t_pGuardFrame;
    // Returns a second time, with faulted set, when a fault ends the call. Only the volatile
    // fields change between the two returns.
    RtlCaptureContext(&frame.resume);
    if (!frame.faulted)
    {
        t_pGuardFrame = &frame;
        INT_PTR value = call(argument);
        t_pGuardFrame = frame.outer;
        if (result)
            *result = value;
    }
    RemoveVectoredExceptionHandler(handler);
    if (!frame.faulted)
        return 1;
    if (code)
        *code = frame.code;
    SetLastError(ERROR_UNHANDLED_EXCEPTION);
    return 0;
}
