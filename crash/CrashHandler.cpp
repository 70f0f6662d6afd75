#include "crash/CrashHandler.h"

#include "base/DynLib.h"
#include "base/VersionInfo.h"
#include "crash/CrashReport.h"
#include "crash/DumpWorker.h"
#include "crash/ReportGate.h"
#include "crash/TextReport.h"
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
    {
        ReserveHandlerStack();
        PrepareDumpWorker();
    }
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

// The system's own handling of the fault could wait for a user again.
static void EndProcessWithFault(const EXCEPTION_POINTERS *pointers)
{
    UINT code = pointers && pointers->ExceptionRecord
                    ? static_cast<UINT>(pointers->ExceptionRecord->ExceptionCode)
                    : ERROR_TIMEOUT;
    TerminateProcess(GetCurrentProcess(), code);
}

LONG WINAPI CCrashHandler::TopLevelFilter(EXCEPTION_POINTERS *pointers)
{
    DWORD thread = GetCurrentThreadId();
    if (!ClaimReport())
    {
        // A fault of the writer itself must end the process now; any other thread's
        // would end it before the report in progress is complete.
        if (!IsReportWriter(thread) && WaitForReport(REPORT_DIALOG_LIMIT) == REPORT_DIALOG_TIMEOUT)
            EndProcessWithFault(pointers);
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
        // The helper shows the dialog as this thread would: for as long as the user takes.
        if (WaitForReport(INFINITE) == REPORT_ENDED)
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

// The minidump, on the parked worker. dump stays open while the worker may use it and
// afterwards until the send flow returns; name is cleared unless it was written completely.
DumpOutcome CCrashHandler::WriteDump(const CStr &primary, const CStr &fallback,
                                     EXCEPTION_POINTERS *pointers, DWORD threadId,
                                     CWerRegistration &registration, CHandle &dump, CStr &name,
                                     CDumpCollector **collector)
{
    *collector = NULL;
    DumpOutcome dumped = DUMP_FAILED;
    dump.Reset(CreateReportFile(primary, fallback, "%s_Debug.dmp", name));
    if (dump.IsHeld())
    {
        registration.RegisterFile(name.ToWide(NULL));
        CDumpRequest request = {dump.Get(), pointers, threadId, m_StackWalk.m_pMiniDumpWriteDump,
                                m_StackWalk.m_pNtQueryInformationThread};
        dumped = RunDumpWorker(request, REPORT_DUMP_WAIT, collector);
    }
    // A minidump still being written keeps its file for good.
    if (dumped == DUMP_ABANDONED)
        dump.Release();
    if (dumped != DUMP_WRITTEN)
        name = "";
    return dumped;
}

int CCrashHandler::WriteReportFor(EXCEPTION_POINTERS *pointers, DWORD threadId)
{
    CWerRegistration registration;
    CStr primary;
    CStr fallback;
    CStr dumpName;
    CStr textName;
    GetReportBases(primary, fallback);
    // Both files stay open without write sharing until the send flow has read them, so
    // that no other process replaces them meanwhile.
    CHandle dump;
    CTextReport report = {pointers, threadId, TEXT_WITHOUT_LIBRARY, &m_StackWalk, NULL, 0};
    DumpOutcome dumped = DUMP_FAILED;
    if (m_StackWalk.Initialize())
    {
        dumped = WriteDump(primary, fallback, pointers, threadId, registration, dump, dumpName,
                           &report.collector);
        // An incomplete minidump is not offered; the text report says so.
        report.dumpIncomplete =
            dumped != DUMP_WRITTEN && (dump.IsHeld() || dumped == DUMP_ABANDONED);
        report.source = dumped == DUMP_ABANDONED ? TEXT_FROM_FRAMES : TEXT_FROM_LIBRARY;
    }
    CHandle text(CreateReportFile(primary, fallback, "%s_Debug.txt", textName));
    if (text.IsHeld())
    {
        registration.RegisterFile(textName.ToWide(NULL));
        WriteTextReport(text.Get(), report);
    }
    if (dumped == DUMP_ABANDONED)
        MarkThreadsStalled();
    MarkReportSending();
    // A quit request pending at the fault would end the dialog's message loop at once:
    // it waits until the send flow has returned.
    MSG quit;
    int quitPending = PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
    int result = SendReport(GetReportSettings(), dumpName, textName);
    if (quitPending)
        PostQuitMessage(static_cast<int>(quit.wParam));
    // A worker left running still calls into the debug-help library.
    if (dumped != DUMP_ABANDONED)
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
