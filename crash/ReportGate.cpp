#include "crash/ReportGate.h"

// Polling interval of a fault that waits for the report
#define REPORT_WAIT_POLL 20
// The faulting thread, the minidump's worker, and a helper that writes for an
// overflowed stack
#define REPORT_WRITER_SLOTS 4

static volatile LONG s_nClaimed = 0;
static volatile LONG s_nStage = REPORT_IDLE;
// Tick count of the claim; a DWORD so that the difference survives the count's wrap.
static volatile DWORD s_nClaimTime = 0;
static volatile DWORD s_nSendingTime = 0;
static volatile LONG s_ReportWriters[REPORT_WRITER_SLOTS];

int ClaimReport()
{
    if (InterlockedCompareExchange(&s_nClaimed, 1, 0) != 0)
        return 0;
    s_nClaimTime = GetTickCount();
    InterlockedExchange(&s_nStage, REPORT_WRITING);
    return 1;
}

void MarkReportSending()
{
    s_nSendingTime = GetTickCount();
    InterlockedCompareExchange(&s_nStage, REPORT_SENDING, REPORT_WRITING);
}

static volatile LONG s_nThreadsStalled = 0;

void MarkThreadsStalled()
{
    InterlockedExchange(&s_nThreadsStalled, 1);
}

int ThreadsStalled()
{
    return s_nThreadsStalled != 0;
}

void MarkReportDone()
{
    InterlockedExchange(&s_nStage, REPORT_DONE);
}

ReportWait WaitForReport(DWORD dialogLimit)
{
    for (;;)
    {
        LONG stage = s_nStage;
        if (stage == REPORT_DONE)
            return REPORT_ENDED;
        // Each stage's time is set before the stage.
        if (stage == REPORT_WRITING && GetTickCount() - s_nClaimTime >= REPORT_WRITE_LIMIT)
            return REPORT_WRITE_TIMEOUT;
        if (stage == REPORT_SENDING && dialogLimit != INFINITE &&
            GetTickCount() - s_nSendingTime >= dialogLimit)
            return REPORT_DIALOG_TIMEOUT;
        Sleep(REPORT_WAIT_POLL);
    }
}

void AddReportWriter(DWORD threadId)
{
    for (volatile LONG &slot : s_ReportWriters)
        if (!InterlockedCompareExchange(&slot, static_cast<LONG>(threadId), 0))
            return;
}

void RemoveReportWriter(DWORD threadId)
{
    LONG id = static_cast<LONG>(threadId);
    for (volatile LONG &slot : s_ReportWriters)
        if (InterlockedCompareExchange(&slot, 0, id) == id)
            return;
}

int IsReportWriter(DWORD threadId)
{
    for (volatile LONG &slot : s_ReportWriters)
        if (slot == static_cast<LONG>(threadId))
            return 1;
    return 0;
}
