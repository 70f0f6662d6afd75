#include "crash/FaultGuard.h"

#if defined(_M_IX86) || defined(__i386__)
#define GUARD_X86 1
#endif

#ifdef GUARD_X86
// On x86 the system's context capture describes the caller's caller (it reads the
// caller's frame-pointer frame), not the point of the call, so the guard records the
// point itself, setjmp style: the registers a called function must preserve, the stack
// pointer after the return and the return address.
struct CResumePoint
{
    DWORD ebx, esi, edi, ebp, esp, eip;
};

// Returns 0 when called; 1 when a fault resumes there.
extern "C" int CaptureResumePoint(CResumePoint *point) __asm__("BrennlowCaptureResumePoint")
    __attribute__((returns_twice));

__asm__(".text\n"
        "BrennlowCaptureResumePoint:\n"
        "    movl 4(%esp), %eax\n"
        "    movl %ebx, 0(%eax)\n"
        "    movl %esi, 4(%eax)\n"
        "    movl %edi, 8(%eax)\n"
        "    movl %ebp, 12(%eax)\n"
        "    leal 4(%esp), %ecx\n"
        "    movl %ecx, 16(%eax)\n"
        "    movl (%esp), %ecx\n"
        "    movl %ecx, 20(%eax)\n"
        "    xorl %eax, %eax\n"
        "    ret\n");

EXCEPTION_REGISTRATION_RECORD *GetHandlerChain()
{
    EXCEPTION_REGISTRATION_RECORD *chain;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(chain));
    return chain;
}

void SetHandlerChain(EXCEPTION_REGISTRATION_RECORD *chain)
{
    __asm__ volatile("movl %0, %%fs:0" : : "r"(chain) : "memory");
}
#endif

// Where a guarded call resumes after a fault: the registers at the point the guard
// captured them, and what the fault was.
struct CGuardFrame
{
#ifdef GUARD_X86
    CResumePoint resume;
    EXCEPTION_REGISTRATION_RECORD *chain;
#else
    CONTEXT resume;
#endif
    volatile LONG faulted;
    volatile DWORD code;
    CGuardFrame *outer;
};

static void SetResumeContext(const CGuardFrame &frame, CONTEXT *context)
{
#ifdef GUARD_X86
    context->Ebx = frame.resume.ebx;
    context->Esi = frame.resume.esi;
    context->Edi = frame.resume.edi;
    context->Ebp = frame.resume.ebp;
    context->Esp = frame.resume.esp;
    context->Eip = frame.resume.eip;
    context->Eax = 1;
    // The calling convention expects the direction flag clear.
    context->EFlags &= ~0x400u;
#else
    *context = frame.resume;
#endif
}

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
    SetResumeContext(*frame, info->ContextRecord);
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
#ifdef GUARD_X86
    frame.chain = GetHandlerChain();
    CaptureResumePoint(&frame.resume);
    // Handlers that the abandoned frames registered must not stay on the thread's chain:
    // a later exception would call them on a stack that has been reused since.
    if (frame.faulted)
        SetHandlerChain(frame.chain);
#else
    RtlCaptureContext(&frame.resume);
#endif
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
