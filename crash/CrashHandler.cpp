#include "crash/CrashHandler.h"

#include "base/DynLib.h"
#include "base/Thread.h"
#include "base/VersionInfo.h"
#include "crash/CrashReport.h"
#include "crash/SysInfo.h"
#include "crash/ui/ReportDialog.h"
#include "crash/ui/ShellHelper.h"

// Stack the arming thread keeps back for the filter after its stack overflowed, where
// the system supports such a reserve.
#define HANDLER_STACK_GUARANTEE 0x8000
// Polling interval of a fault that waits for the report in progress
#define REPORT_WAIT_POLL 20

typedef BOOL(WINAPI *SetThreadStackGuaranteeProc)(ULONG *size);

// Claimed by the first fault and never cleared: one report per process.
static volatile LONG s_nReentry = 0;
// Set once the report in progress is written and its send flow has ended.
static volatile LONG s_nReportDone = 0;

// Constructed before every static object of default priority, so that a fault in their
// constructors already finds the handler. The program entry refers to this object, which
// also makes the linker take this file out of the static library.
CCrashHandler g_CrashHandler __attribute__((init_priority(101)));

CCrashHandler::CCrashHandler() : m_nOptions(1), m_nDialogIcon(0), m_pOuterErrorText(NULL)
{
    m_ErrorText[0] = 0;
    m_pOuterErrorText = UseSharedErrorText(m_ErrorText);
    SetOptions(CHO_DEFAULT);
}

CCrashHandler::~CCrashHandler()
{
    // The filter stays registered, but its texts are about to go: a fault later in the
    // exit sequence goes straight to the system's own handling instead of reading them.
    if (this == &g_CrashHandler && InterlockedCompareExchange(&s_nReentry, 1, 0) == 0)
        InterlockedExchange(&s_nReportDone, 1);
    // Text helpers may still run later in the exit sequence; they must not write here.
    if (GetSharedErrorText() == m_ErrorText)
        UseSharedErrorText(m_pOuterErrorText);
}

void CCrashHandler::Configure(int iconId, const char *server, const char *path, const char *product,
                              const char *extra)
{
    m_nDialogIcon = iconId;
    m_ReportServer = server;
    m_ReportPath = path;
    if (product)
        m_ProductText = product;
    else
    {
        // A resource without the key leaves the product text as it was.
        CVersionInfo version;
        version.GetVersionString(m_ProductText, "InternalName", NULL);
    }
    m_ExtraText = extra ? extra : "";
}

static void ReserveHandlerStack()
{
    CDynLib kernel;
    if (!kernel.Load("kernel32.dll"))
        return;
    SetThreadStackGuaranteeProc setGuarantee =
        reinterpret_cast<SetThreadStackGuaranteeProc>(kernel.GetProc("SetThreadStackGuarantee"));
    ULONG size = HANDLER_STACK_GUARANTEE;
    if (setGuarantee)
        setGuarantee(&size);
}

void CCrashHandler::SetOptions(UINT32 options)
{
    m_nOptions = (options & CHO_WORD_TWO) ? 2 : 1;
    m_nOptions |= options & (CHO_FLAG_4 | CHO_NO_FILTER | CHO_FLAG_10);
    if (!(m_nOptions & CHO_NO_FILTER))
        ReserveHandlerStack();
    InstallFilter((m_nOptions & CHO_NO_FILTER) ? 0 : 1);
}

void CCrashHandler::InstallFilter(UINT32 install)
{
    SetUnhandledExceptionFilter(install == 1 ? TopLevelFilter : NULL);
}

// The report for a stack overflow is written on a thread with a whole stack of its own;
// the faulting thread has next to none left.
struct CReportJob
{
    CCrashHandler *handler;
    EXCEPTION_POINTERS *pointers;
    DWORD threadId;
    int result;
};

DWORD WINAPI CCrashHandler::ReportThreadProc(void *param)
{
    CReportJob *job = static_cast<CReportJob *>(param);
    AddReportWriter(GetCurrentThreadId());
    job->result = job->handler->WriteReportFor(job->pointers, job->threadId);
    return 0;
}

static int IsStackOverflow(const EXCEPTION_POINTERS *pointers)
{
    return pointers && pointers->ExceptionRecord &&
           pointers->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
}

LONG WINAPI CCrashHandler::TopLevelFilter(EXCEPTION_POINTERS *pointers)
{
    DWORD thread = GetCurrentThreadId();
    if (InterlockedCompareExchange(&s_nReentry, 1, 0) != 0)
    {
        // A fault of the writer itself must end the process now; any other thread's
        // would end it before the report in progress is complete.
        if (!IsReportWriter(thread))
            while (!s_nReportDone)
                Sleep(REPORT_WAIT_POLL);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    AddReportWriter(thread);
    CReportJob job = {&g_CrashHandler, pointers, thread, 0};
    HANDLE helper =
        IsStackOverflow(pointers) ? CreateThread(NULL, 0, ReportThreadProc, &job, 0, NULL) : NULL;
    if (helper)
    {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    else
        job.result = g_CrashHandler.WriteReportFor(pointers, thread);
    InterlockedExchange(&s_nReportDone, 1);
    return job.result == 1 ? EXCEPTION_CONTINUE_SEARCH : EXCEPTION_EXECUTE_HANDLER;
}

int CCrashHandler::WriteReport(EXCEPTION_POINTERS *pointers)
{
    return WriteReportFor(pointers, GetCurrentThreadId());
}

int CCrashHandler::WriteReportFor(EXCEPTION_POINTERS *pointers, DWORD threadId)
{
    CDumpCollector collector(NULL);
    CWerRegistration registration;
    CStr primary;
    CStr fallback;
    CStr dumpName;
    CStr textName;
    GetReportBases(primary, fallback);
    if (m_StackWalk.Initialize())
    {
        collector.SetThreadQuery(m_StackWalk.m_pNtQueryInformationThread);
        HANDLE dump = CreateReportFile(primary, fallback, "%s_Debug.dmp", dumpName);
        if (dump != INVALID_HANDLE_VALUE)
        {
            registration.RegisterFile(dumpName.ToWide(NULL));
            WriteDump(dump, pointers, threadId, collector);
            CloseHandle(dump);
        }
    }
    HANDLE text = CreateReportFile(primary, fallback, "%s_Debug.txt", textName);
    if (text != INVALID_HANDLE_VALUE)
    {
        registration.RegisterFile(textName.ToWide(NULL));
        WriteText(text, pointers, threadId, collector);
        CloseHandle(text);
    }
    int result = SendReport(dumpName, textName);
    m_StackWalk.Cleanup();
    return result;
}

// The primary name first, the fallback name when that cannot be created; name keeps the
// last one tried.
HANDLE CCrashHandler::CreateReportFile(const CStr &primary, const CStr &fallback,
                                       const char *format, CStr &name)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    const CStr *bases[] = {&primary, &fallback};
    for (const CStr *base : bases)
    {
        Format(name, format, base->GetText());
        file = CreateFileA(name.GetText(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE)
            break;
    }
    return file;
}

void CCrashHandler::WriteDump(HANDLE file, EXCEPTION_POINTERS *pointers, DWORD threadId,
                              CDumpCollector &collector)
{
    MINIDUMP_EXCEPTION_INFORMATION exception = {threadId, pointers, FALSE};
    MINIDUMP_CALLBACK_INFORMATION callback = {DumpCallback, &collector};
    CDumpJob job = {file, &exception, &callback, m_StackWalk.m_pMiniDumpWriteDump};
    if (!job.writeDump)
        return;
    // The minidump writer runs on a thread of its own, so that it sees the faulting
    // thread from outside; this thread keeps its window messages flowing meanwhile.
    CWorkerThread worker;
    if (worker.Start(DumpThreadProc, &job, 0))
        worker.Wait(0);
}

static void WriteRegisters(CReportText &text, const CONTEXT &context)
{
#if defined(_M_IX86) || defined(__i386__)
    text.Line("\r\nEAX=0x%08X, CS=0x%04X, EIP=0x%08X, Flags=0x%08X\r\n",
              static_cast<unsigned>(context.Eax), SegmentSelector(context.SegCs),
              static_cast<unsigned>(context.Eip), static_cast<unsigned>(context.EFlags));
    text.Line("EBX=0x%08X, SS=0x%04X, ESP=0x%08X, EBP=0x%08X\r\n",
              static_cast<unsigned>(context.Ebx), SegmentSelector(context.SegSs),
              static_cast<unsigned>(context.Esp), static_cast<unsigned>(context.Ebp));
    text.Line("ECX=0x%08X, DS=0x%04X, ESI=0x%08X, FS=0x%04X\r\n",
              static_cast<unsigned>(context.Ecx), SegmentSelector(context.SegDs),
              static_cast<unsigned>(context.Esi), SegmentSelector(context.SegFs));
    text.Line("EDX=0x%08X, ES=0x%04X, EDI=0x%08X, GS=0x%04X\r\n",
              static_cast<unsigned>(context.Edx), SegmentSelector(context.SegEs),
              static_cast<unsigned>(context.Edi), SegmentSelector(context.SegGs));
#else
    text.Line("\r\nRAX=0x%016I64X, CS=0x%04X, RIP=0x%016I64X, Flags=0x%08X\r\n", context.Rax,
              SegmentSelector(context.SegCs), context.Rip,
              static_cast<unsigned>(context.EFlags));
    text.Line("RBX=0x%016I64X, SS=0x%04X, RSP=0x%016I64X, RBP=0x%016I64X\r\n", context.Rbx,
              SegmentSelector(context.SegSs), context.Rsp, context.Rbp);
    text.Line("RCX=0x%016I64X, DS=0x%04X, RSI=0x%016I64X, FS=0x%04X\r\n", context.Rcx,
              SegmentSelector(context.SegDs), context.Rsi,
              SegmentSelector(context.SegFs));
    text.Line("RDX=0x%016I64X, ES=0x%04X, RDI=0x%016I64X, GS=0x%04X\r\n", context.Rdx,
              SegmentSelector(context.SegEs), context.Rdi,
              SegmentSelector(context.SegGs));
    text.Line("R8=0x%016I64X, R9=0x%016I64X, R10=0x%016I64X, R11=0x%016I64X\r\n", context.R8,
              context.R9, context.R10, context.R11);
    text.Line("R12=0x%016I64X, R13=0x%016I64X, R14=0x%016I64X, R15=0x%016I64X\r\n", context.R12,
              context.R13, context.R14, context.R15);
#endif
}

static void WriteProcessors(CReportText &text)
{
    CSysInfo info;
    CStr name;
    CStr vendor;
    CStr identifier;
    UINT32 mhz = 0;
    // A value that cannot be read keeps the previous processor's.
    for (UINT32 index = 0; info.DescribeCpu(&name, &vendor, &identifier, &mhz, index); index++)
    {
        name.TrimLeft();
        text.Line("\r\n%s %s %s %u Mhz", name.GetText(), vendor.GetText(), identifier.GetText(),
                  static_cast<unsigned>(mhz));
    }
}

static void WriteSystem(CReportText &text, const OSVERSIONINFOA &version, int isNt)
{
    char name[OS_NAME_BUFFER] = "";
    const char *osName = GetOsName(GetOsEditionCode(), name, sizeof(name));
    DWORD build = isNt ? version.dwBuildNumber : LOWORD(version.dwBuildNumber);
    text.Line("\r\n%s [%u.%u] Build %u %s\r\n", osName ? osName : "",
              static_cast<unsigned>(version.dwMajorVersion),
              static_cast<unsigned>(version.dwMinorVersion), static_cast<unsigned>(build),
              version.szCSDVersion);
#if defined(_M_IX86) || defined(__i386__)
    text.Line("%s%s%s", IsWow64(NULL) ? "x86 WOW64" : "x86", " Ansi", "\r\n");
#else
    text.Line("%s%s%s", "x64", " Ansi", "\r\n");
#endif
}

static void WriteModules(CReportText &text, CDumpCollector &collector)
{
    CModuleRecord *module = collector.TakeFirstModule();
    if (!module)
        return;
    text.Line("\r\nModuleList:\r\n");
    text.Line("    Size TimeStamp                      CheckSum   ImageBase  Versions\r\n");
    for (; module; module = collector.TakeFirstModule())
    {
        text.Write(FormatModuleLine(text.Buffer(), REPORT_LINE_BUFFER, *module));
        CDumpCollector::Free(module);
    }
}

void CCrashHandler::WriteThreads(CReportText &text, CDumpCollector &collector, int isNt)
{
    CThreadRecord *thread = collector.TakeFirstThread();
    if (!thread)
        return;
    text.Line("\r\nThreadList:\r\n");
    text.Line("Id         StackBase  StackEnd   StartAddress\r\n");
    for (; thread; thread = collector.TakeFirstThread())
    {
        char symbol[WALK_SYMBOL_TEXT] = "";
        m_StackWalk.Symbolize(thread->startAddress, symbol, sizeof(symbol), NULL);
        text.Write(FormatThreadLine(text.Buffer(), REPORT_LINE_BUFFER, *thread, symbol, isNt));
        CDumpCollector::Free(thread);
    }
}

void CCrashHandler::WriteText(HANDLE file, EXCEPTION_POINTERS *pointers, DWORD threadId,
                              CDumpCollector &collector)
{
    CReportText text(file);
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    int isNt = (version.dwPlatformId & VER_PLATFORM_WIN32_NT) ? 1 : 0;
    int hasException = pointers && pointers->ExceptionRecord && pointers->ContextRecord;
    if (hasException)
    {
        text.Write(FormatExceptionLine(text.Buffer(), REPORT_LINE_BUFFER,
                                       *pointers->ExceptionRecord, threadId, isNt));
        text.Write(
            FormatLocationLine(text.Buffer(), REPORT_LINE_BUFFER, *pointers->ExceptionRecord));
        WriteRegisters(text, *pointers->ContextRecord);
    }
    WriteProcessors(text);
    WriteSystem(text, version, isNt);
    if (hasException && m_StackWalk.IsBound())
    {
        text.Line("\r\nStack:\r\n");
        // The walk unwinds the context it is given; the exception's own stays as it was.
        CONTEXT context = *pointers->ContextRecord;
        m_StackWalk.WalkToFile(&context, file);
    }
    WriteModules(text, collector);
    WriteThreads(text, collector, isNt);
}
