#include "crash/CrashHandler.h"

#include <new>
#include <utility>

#include "base/DynLib.h"
#include "base/Thread.h"
#include "base/VersionInfo.h"
#include "crash/CrashReport.h"
#include "crash/ReportGate.h"
#include "crash/SysInfo.h"
#include "crash/ui/ReportDialog.h"
#include "crash/ui/ShellHelper.h"

// Stack the arming thread keeps back for the filter after its stack overflowed, where
// the system supports such a reserve.
#define HANDLER_STACK_GUARANTEE 0x8000
// Milliseconds the faulting thread waits for the minidump's worker: the limit of the
// report's files with time kept back for the text report.
#define REPORT_DUMP_WAIT 45000



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
    if (this == &g_CrashHandler && ClaimReport())
        MarkReportDone();
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
    DYN_PROC(SetThreadStackGuarantee) setGuarantee;
    ULONG size = HANDLER_STACK_GUARANTEE;
    if (kernel.Bind("SetThreadStackGuarantee", &setGuarantee))
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
// the faulting thread has next to none left. Static: the helper may outlive the wait
// for it.
struct CReportJob
{
    CCrashHandler *handler;
    EXCEPTION_POINTERS *pointers;
    DWORD threadId;
    volatile LONG result;
};
static CReportJob s_OverflowJob;

DWORD WINAPI CCrashHandler::ReportThreadProc(void *param)
{
    CReportJob *job = static_cast<CReportJob *>(param);
    CReportWriter writer;
    InterlockedExchange(&job->result, job->handler->WriteReportFor(job->pointers, job->threadId));
    MarkReportDone();
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
    if (!ClaimReport())
    {
        // A fault of the writer itself must end the process now; any other thread's
        // would end it before the report in progress is complete.
        if (!IsReportWriter(thread))
            WaitForReport();
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CReportWriter writer;
    int result = 1;
    CHandle helper;
    if (IsStackOverflow(pointers))
    {
        CReportJob job = {&g_CrashHandler, pointers, thread, 1};
        s_OverflowJob = job;
        helper.Reset(CreateThread(NULL, 0, ReportThreadProc, &s_OverflowJob, 0, NULL));
    }
    if (helper.IsHeld())
    {
        // A helper that never ends leaves the verdict of a report that offered nothing.
        if (WaitForReport())
            result = s_OverflowJob.result;
    }
    else
    {
        result = g_CrashHandler.WriteReportFor(pointers, thread);
        MarkReportDone();
    }
    return result == 1 ? EXCEPTION_CONTINUE_SEARCH : EXCEPTION_EXECUTE_HANDLER;
}

CReportSettings CCrashHandler::GetReportSettings() const
{
    CReportSettings settings = {m_ReportServer.GetText(), m_ReportPath.GetText(),
                                m_ProductText.GetText(), m_ExtraText.GetText(), m_nDialogIcon};
    return settings;
}

int CCrashHandler::WriteReport(EXCEPTION_POINTERS *pointers)
{
    return WriteReportFor(pointers, GetCurrentThreadId());
}

// What the minidump's worker works with. A worker that outlives its wait keeps all of it:
// the record is never freed then, nor the file closed under it.
struct CDumpWork
{
    CDumpWork() : collector(NULL) {}

    CWorkerThread worker;
    CDumpCollector collector;
    CHandle file;
    MINIDUMP_EXCEPTION_INFORMATION exception;
    MINIDUMP_CALLBACK_INFORMATION callback;
    CDumpJob job;
};

int CCrashHandler::WriteReportFor(EXCEPTION_POINTERS *pointers, DWORD threadId)
{
    CDumpCollector noDump(NULL);
    CDumpWork *work = NULL;
    int abandoned = 0;
    CWerRegistration registration;
    CStr primary;
    CStr fallback;
    CStr dumpName;
    CStr textName;
    GetReportBases(primary, fallback);
    if (m_StackWalk.Initialize())
    {
        CHandle dump(CreateReportFile(primary, fallback, "%s_Debug.dmp", dumpName));
        if (dump.IsHeld())
        {
            registration.RegisterFile(dumpName.ToWide(NULL));
            work = WriteDump(dump, pointers, threadId);
            abandoned = work ? 0 : 1;
        }
    }
    CHandle text(CreateReportFile(primary, fallback, "%s_Debug.txt", textName));
    if (text.IsHeld())
    {
        registration.RegisterFile(textName.ToWide(NULL));
        WriteText(text.Get(), pointers, threadId, work ? work->collector : noDump);
        text.Close();
    }
    delete work;
    MarkReportSending();
    int result = SendReport(GetReportSettings(), dumpName, textName);
    // A worker left running still calls into the debug-help library.
    if (!abandoned)
        m_StackWalk.Cleanup();
    return result;
}

// The primary name first, the fallback name when that cannot be created. Without write
// sharing: a second process that crashes at the same time falls back instead of writing
// into the same file. name stays empty when neither could be created, so that no file
// of an earlier crash is taken for this one's.
HANDLE CCrashHandler::CreateReportFile(const CStr &primary, const CStr &fallback,
                                       const char *format, CStr &name)
{
    const CStr *bases[] = {&primary, &fallback};
    for (const CStr *base : bases)
    {
        Format(name, format, base->GetText());
        HANDLE file = CreateFileA(name.GetText(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE)
            return file;
    }
    name = "";
    return INVALID_HANDLE_VALUE;
}

// Writes the minidump and closes its file, which the work takes over. Returns the work
// with the collected lists, or null when the worker is still writing after its wait (the
// work then keeps the file open for good), or nothing could be allocated.
CDumpWork *CCrashHandler::WriteDump(CHandle &file, EXCEPTION_POINTERS *pointers, DWORD threadId)
{
    CDumpWork *work = new (std::nothrow) CDumpWork();
    if (!work)
        return NULL;
    work->file = std::move(file);
    work->collector.SetThreadQuery(m_StackWalk.m_pNtQueryInformationThread);
    work->exception = {threadId, pointers, FALSE};
    work->callback = {DumpCallback, &work->collector};
    work->job = {work->file.Get(), &work->exception, &work->callback,
                 m_StackWalk.m_pMiniDumpWriteDump};
    // The minidump writer runs on a thread of its own, so that it sees the faulting
    // thread from outside; this thread keeps its window messages flowing meanwhile. The
    // worker needs the loader lock to start and the heap to write: a fault while this
    // thread held either stops it for good.
    if (work->job.writeDump && work->worker.Start(DumpThreadProc, &work->job, 0) &&
        !work->worker.WaitThroughQuit(REPORT_DUMP_WAIT) && work->worker.IsRunning())
        return NULL;
    work->file.Close();
    return work;
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
