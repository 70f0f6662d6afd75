// Faults as its first argument names, reporting to the server of its second (if any).
// "verdict", "overflowed" and "waiter" call the filter themselves and write its verdict
// to verdict.txt (second.txt for waiter's other thread); "heap-"/"loader-" hold that lock.
// "held" faults holding that lock, "dialog" faults again while the dialog is up.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "crash/CrashHandler.h"
#include "crash/CrashReport.h"
#include "crash/ReportGate.h"
#include "FaultTime.h"

// The compiler's own accessor of the thread information block trips this check.
#pragma GCC diagnostic ignored "-Warray-bounds"

typedef LONG(WINAPI *LoaderLockProc)(ULONG flags, ULONG *disposition, ULONG_PTR *cookie);
typedef LONG(WINAPI *LoaderUnlockProc)(ULONG flags, ULONG_PTR cookie);

static int *volatile s_pNull = NULL;
static volatile int s_nZero = 0;
static volatile LONG s_nCounter = 0;
static HANDLE s_hGo = NULL;

__attribute__((noinline)) static void FaultWithNullWrite() { *s_pNull = 1; }
__attribute__((noinline)) static void FaultWithNullRead() { s_nCounter += *s_pNull; }
__attribute__((noinline)) static void FaultWithDivide() { s_nCounter += 100 / s_nZero; }
__attribute__((noinline)) static void FaultWithUnknownCode() { RaiseException(0xE0000001, 0, 0, NULL); }

// Keeps a frame of its own below the faulting function's.
__attribute__((noinline)) static void CrashCaller(void (*fault)())
{
    fault();
    s_nCounter = s_nCounter + 1;
}

static NT_TIB *CurrentTib() { return reinterpret_cast<NT_TIB *>(NtCurrentTeb()); }

static DWORD WINAPI NamedThread(void *)
{
    CurrentTib()->ArbitraryUserPointer = const_cast<char *>("CrashTestWorker");
    SetEvent(s_hGo);
    Sleep(INFINITE);
    return 0;
}

// Returns once the report of the first fault is under way.
static void AwaitReport()
{
    while (GetFileAttributesA("CrashProgram_Debug.dmp") == INVALID_FILE_ATTRIBUTES)
        Sleep(1);
}

static DWORD WINAPI FaultDuringReport(void *)
{
    AwaitReport();
    FaultWithNullWrite();
    return 0;
}

template <typename Proc> static Proc NtdllProc(const char *name)
{
    return reinterpret_cast<Proc>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// Calls the filter as the system does for an exception of this code, holding the lock
// that lock names ("" for none), and writes what it returned to file.
static int CallFilter(DWORD code, const char *lock, const char *file)
{
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    CONTEXT context;
    RtlCaptureContext(&context);
    EXCEPTION_POINTERS pointers = {&record, &context};
    ULONG_PTR cookie = 0;
    bool heap = !strcmp(lock, "heap"), loader = !strcmp(lock, "loader");
    if (heap)
        HeapLock(GetProcessHeap());
    if (loader)
        NtdllProc<LoaderLockProc>("LdrLockLoaderLock")(0, NULL, &cookie);
    LONG verdict = CCrashHandler::TopLevelFilter(&pointers);
    if (heap)
        HeapUnlock(GetProcessHeap());
    if (loader)
        NtdllProc<LoaderUnlockProc>("LdrUnlockLoaderLock")(0, cookie);
    FILE *out = fopen(file, "w");
    if (!out)
        return 4;
    fprintf(out, "verdict %ld, writer %d", verdict, IsReportWriter(GetCurrentThreadId()));
    return fclose(out);
}

static DWORD WINAPI CallDuringReport(void *lock)
{
    AwaitReport();
    return CallFilter(EXCEPTION_ACCESS_VIOLATION, static_cast<const char *>(lock), "second.txt");
}

static DWORD WINAPI FaultOnSignal(void *)
{
    WaitForSingleObject(s_hGo, INFINITE);
    FaultWithNullWrite();
    return 0;
}

// Wine delivers a stack overflow only where the faulting frame leaves room for the
// exception's: small frames stop 6 kB short of the limit, then one 16 kB frame, kept in a
// function of its own so that no level reserves it, probes into the guard page.
__attribute__((noinline)) static void OverflowLastFrame(volatile char *frame)
{
    volatile char last[16384];
    last[0] = frame[0];
    s_nCounter += last[0];
}

__attribute__((noinline)) static void Overflow(int depth)
{
    volatile char frame[256] = {1};
    if (reinterpret_cast<volatile char *>(frame) - static_cast<char *>(CurrentTib()->StackLimit) >
        6144)
        Overflow(depth + 1);
    else
        OverflowLastFrame(frame);
    s_nCounter += frame[depth % 256];
}

static LRESULT CALLBACK FaultingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        FaultWithNullWrite();
    return DefWindowProcA(window, message, wParam, lParam);
}

// The report writer keeps this thread's messages flowing while the minidump is written;
// the posted message then faults inside the writer.
static void FaultInsideWriter()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = FaultingWindowProc;
    windowClass.lpszClassName = "CrashProgram";
    RegisterClassA(&windowClass);
    PostMessageA(CreateWindowA("CrashProgram", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL),
                 WM_APP, 0, 0);
    CrashCaller(FaultWithNullRead);
}

// Faults that a walk along frame pointers alone would pass by, whose callers the report's
// stack must still name: a function without a frame, and a C runtime routine.
static const char *volatile s_pBadText = reinterpret_cast<const char *>(16);

__attribute__((noinline, optimize("omit-frame-pointer"))) static void FaultWithoutFrame()
{
    *s_pNull = 2;
}

__attribute__((noinline)) static void CallFrameless()
{
    FaultWithoutFrame();
    s_nCounter = s_nCounter + 1;
}

__attribute__((noinline)) static void PassBadPointer()
{
    s_nCounter += static_cast<LONG>(strlen(s_pBadText));
    s_nCounter = s_nCounter + 1;
}

// Inlined into main, so that the return address in main's frame lies in inlined code,
// which the report names after the function it was inlined into.
__attribute__((always_inline)) static inline void CrashThroughInlined(void (*fault)())
{
    CrashCaller(fault);
    s_nCounter = s_nCounter + 2;
}

static BOOL CALLBACK FindOwnDialog(HWND window, LPARAM found)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || !GetDlgItem(window, 1000))
        return TRUE;
    *reinterpret_cast<bool *>(found) = true;
    return FALSE;
}

// Faults once the problem-report dialog of the first fault is up.
static DWORD WINAPI FaultDuringDialog(void *)
{
    for (bool found = false; !found; Sleep(50))
        EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&found));
    fclose(fopen("second.txt", "w"));
    FaultWithNullRead();
    return 0;
}

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "";
    g_CrashHandler.Configure(101, argc > 2 ? argv[2] : "", "/tamsel/report.php", "CrashProgram",
                             NULL);
    s_hGo = CreateEventA(NULL, TRUE, FALSE, NULL);
    const char *lock = "";
    for (const char *prefix : {"heap", "loader"})
        if (!strncmp(mode, prefix, strlen(prefix)) && mode[strlen(prefix)] == '-')
        {
            lock = prefix;
            mode += strlen(prefix) + 1;
        }
    if (!strcmp(mode, "write"))
    {
        CreateThread(NULL, 0, NamedThread, NULL, 0, NULL);
        WaitForSingleObject(s_hGo, INFINITE);
    }
    else if (!strcmp(mode, "timed"))
        PrintFaultTime();
    else if (!strcmp(mode, "quit"))
    {
        PostQuitMessage(5);
        CreateThread(NULL, 0, FaultDuringReport, NULL, 0, NULL);
    }
    if (!strcmp(mode, "write") || !strcmp(mode, "timed"))
        CrashThroughInlined(FaultWithNullWrite);
    else if (!strcmp(mode, "read") || !strcmp(mode, "quit") || !strcmp(mode, "divide"))
        CrashCaller(mode[0] == 'd' ? FaultWithDivide : FaultWithNullRead);
    else if (!strcmp(mode, "verdict") || !strcmp(mode, "overflowed"))
        return CallFilter(mode[0] == 'v' ? 0xE0000001 : EXCEPTION_STACK_OVERFLOW, lock,
                          "verdict.txt");
    else if (!strcmp(mode, "waiter"))
    {
        HANDLE second = CreateThread(NULL, 0, CallDuringReport, const_cast<char *>(lock), 0, NULL);
        int result = CallFilter(0xE0000001, "", "verdict.txt");
        WaitForSingleObject(second, INFINITE);
        return result;
    }
    else if (!strcmp(mode, "raise"))
        CrashCaller(FaultWithUnknownCode);
    else if (!strcmp(mode, "overflow"))
        Overflow(0);
    else if (!strcmp(mode, "many"))
    {
        for (int i = 0; i < 8; i++)
            CreateThread(NULL, 0, FaultOnSignal, NULL, 0, NULL);
        Sleep(50);
        SetEvent(s_hGo);
        Sleep(INFINITE);
    }
    else if (!strcmp(mode, "writer"))
        FaultInsideWriter();
    else if (!strcmp(mode, "frameless"))
        CallFrameless();
    else if (!strcmp(mode, "library"))
        PassBadPointer();
    else if (!strcmp(mode, "held") || !strcmp(mode, "dialog"))
    {
        if (mode[0] == 'd')
            CreateThread(NULL, 0, FaultDuringDialog, NULL, 0, NULL);
        ULONG_PTR cookie = 0;
        if (!strcmp(lock, "heap"))
            HeapLock(GetProcessHeap());
        else if (!strcmp(lock, "loader"))
            NtdllProc<LoaderLockProc>("LdrLockLoaderLock")(0, NULL, &cookie);
        CrashCaller(FaultWithNullWrite);
    }
    return 3;
}
