// A program that faults on purpose, in the way its first argument names ("timed" prints
// the moment of its fault first), with the crash
// handler armed and configured for the report server of its second argument (none when
// it is missing or empty). "inject <pid>" instead starts a thread that faults at once in
// another running process.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "crash/CrashHandler.h"

#define THREAD_COUNT 8
#define FAULT_MESSAGE (WM_APP + 1)
// Wine delivers a stack overflow only when the faulting frame leaves room below it for
// the exception's own frame: the recursion stops this close to the stack's limit and a
// last large frame runs into the guard page.
#define OVERFLOW_MARGIN 3072
#define OVERFLOW_LAST_FRAME 8192

static int *volatile s_pNull = NULL;
static volatile LONG s_nCounter = 0;
static HANDLE s_hGo = NULL;

__attribute__((noinline)) static void FaultWithNullWrite()
{
    *s_pNull = 1;
}

__attribute__((noinline)) static void FaultWithNullRead()
{
    s_nCounter += *s_pNull;
}

__attribute__((noinline)) static void FaultWithUnknownCode()
{
    RaiseException(0xE0000001, 0, 0, NULL);
}

// Keeps its own frame on the stack below the faulting function's.
__attribute__((noinline)) static void CrashCaller(void (*fault)())
{
    fault();
    InterlockedIncrement(&s_nCounter);
}

// The thread's information block through its self pointer (the compiler's own accessor
// trips its array-bounds check).
static NT_TIB *CurrentTib()
{
    NT_TIB *tib;
#if defined(__i386__)
    asm("movl %%fs:0x18, %0" : "=r"(tib));
#else
    asm("movq %%gs:0x30, %0" : "=r"(tib));
#endif
    return tib;
}

static void SetThreadName(const char *name)
{
    CurrentTib()->ArbitraryUserPointer = const_cast<char *>(name);
}

static DWORD WINAPI NamedThread(void *)
{
    SetThreadName("CrashTestWorker");
    SetEvent(s_hGo);
    Sleep(INFINITE);
    return 0;
}

static void StartNamedThread()
{
    s_hGo = CreateEventA(NULL, FALSE, FALSE, NULL);
    CreateThread(NULL, 0, NamedThread, NULL, 0, NULL);
    WaitForSingleObject(s_hGo, INFINITE);
}

// Faults as soon as the report of the main thread's fault is under way.
static DWORD WINAPI FaultDuringReport(void *dumpFile)
{
    while (GetFileAttributesA(static_cast<const char *>(dumpFile)) == INVALID_FILE_ATTRIBUTES)
        Sleep(1);
    FaultWithNullWrite();
    return 0;
}

static DWORD WINAPI FaultOnSignal(void *)
{
    WaitForSingleObject(s_hGo, INFINITE);
    CrashCaller(FaultWithNullWrite);
    return 0;
}

__attribute__((noinline)) static void OverflowLastFrame()
{
    volatile char frame[OVERFLOW_LAST_FRAME];
    frame[0] = 1;
    s_nCounter += frame[0];
}

__attribute__((noinline)) static void Overflow()
{
    volatile char frame[256];
    frame[0] = 0;
    if (reinterpret_cast<const volatile char *>(frame) -
            static_cast<char *>(CurrentTib()->StackLimit) >
        OVERFLOW_MARGIN)
        Overflow();
    else
        OverflowLastFrame();
    s_nCounter += frame[0];
}

static LRESULT CALLBACK FaultingWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam)
{
    if (message == FAULT_MESSAGE)
        FaultWithNullWrite();
    return DefWindowProcA(window, message, wParam, lParam);
}

// The report writer keeps this thread's messages flowing while the minidump is written;
// the posted message then faults inside the writer.
static void FaultInsideWriter()
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = FaultingWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "CrashProgramWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("CrashProgramWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                windowClass.hInstance, NULL);
    PostMessageA(window, FAULT_MESSAGE, 0, 0);
    CrashCaller(FaultWithNullRead);
}

static int Inject(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
    if (!process)
        return 1;
    // Execution at an address where nothing is mapped faults in the first instruction.
    HANDLE thread = CreateRemoteThread(process, NULL, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(0x10), NULL, 0,
                                       NULL);
    if (thread)
        CloseHandle(thread);
    CloseHandle(process);
    return thread ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const char *mode = argv[1];
    if (!strcmp(mode, "inject"))
        return argc > 2 ? Inject(strtoul(argv[2], NULL, 10)) : 2;
    g_CrashHandler.Configure(101, argc > 2 ? argv[2] : "", "/tamsel/report.php", "CrashProgram",
                             NULL);
    if (!strcmp(mode, "write"))
    {
        StartNamedThread();
        CrashCaller(FaultWithNullWrite);
    }
    else if (!strcmp(mode, "timed"))
    {
        // The moment of the fault, as seconds since 1970, for the crash benchmark
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULONGLONG units = ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) |
                           now.dwLowDateTime) - 116444736000000000ULL;
        printf("%I64u.%07I64u\n", units / 10000000, units % 10000000);
        fflush(stdout);
        CrashCaller(FaultWithNullWrite);
    }
    else if (!strcmp(mode, "read"))
        CrashCaller(FaultWithNullRead);
    else if (!strcmp(mode, "raise"))
        CrashCaller(FaultWithUnknownCode);
    else if (!strcmp(mode, "overflow"))
        Overflow();
    else if (!strcmp(mode, "second"))
    {
        static char dumpFile[MAX_PATH + 16];
        GetModuleFileNameA(NULL, dumpFile, MAX_PATH);
        strcpy(strrchr(dumpFile, '.'), "_Debug.dmp");
        CreateThread(NULL, 0, FaultDuringReport, dumpFile, 0, NULL);
        CrashCaller(FaultWithNullRead);
    }
    else if (!strcmp(mode, "many"))
    {
        s_hGo = CreateEventA(NULL, TRUE, FALSE, NULL);
        for (int i = 0; i < THREAD_COUNT; i++)
            CreateThread(NULL, 0, FaultOnSignal, NULL, 0, NULL);
        Sleep(50);
        SetEvent(s_hGo);
        Sleep(INFINITE);
    }
    else if (!strcmp(mode, "writer"))
        FaultInsideWriter();
    return 3;
}
