// One crash report per process. The first fault claims the report; its stage tells every
// later fault what to do. A later fault on a thread that writes the report (the faulting
// thread, the minidump's worker, the helper of an overflowed stack) must end the process
// at once: the report would wait for itself. Any other thread's fault waits for the
// report, for at most REPORT_WRITE_LIMIT while the files are written, since that thread
// may hold a lock the writers need, and for REPORT_DIALOG_LIMIT while the dialog is up.
#ifndef BRENNLOW_CRASH_REPORTGATE_H
#define BRENNLOW_CRASH_REPORTGATE_H

#include <windows.h>

// Milliseconds from the claim on that writing the report files may take. A fault while
// some thread held the heap or the loader lock can stop a thread the report needs for
// good; a fault that waits for the report stops waiting after this time.
#define REPORT_WRITE_LIMIT 60000
// Minutes from the dialog's start that a fault waits for the report: as long as a user
// plausibly takes. A fault that comes then may hold what the dialog or the upload needs;
// without a limit, the process could hang for good.
#define REPORT_DIALOG_LIMIT_MINUTES 10
#define REPORT_DIALOG_LIMIT (REPORT_DIALOG_LIMIT_MINUTES * 60000)

// Stages of the report
#define REPORT_IDLE 0
#define REPORT_WRITING 1
#define REPORT_SENDING 2
#define REPORT_DONE 3

// 1 for the first caller in the process, which then writes the report; 0 for every later
// one. The claim is never given back.
int ClaimReport();
// The report's files are written: the dialog may be up from now on.
void MarkReportSending();
void MarkReportDone();
// The minidump's worker could not finish: the crashed thread holds a lock (the heap's or
// the loader's) that a new thread needs to start, and a thread stuck half-way through its
// start holds the loader lock for good. The send flow then starts no thread of its own.
void MarkThreadsStalled();
int ThreadsStalled();
enum ReportWait
{
    REPORT_ENDED,
    REPORT_WRITE_TIMEOUT,  // the files took longer than REPORT_WRITE_LIMIT
    REPORT_DIALOG_TIMEOUT, // the send flow took longer than dialogLimit
};

// Waits for the end of the report, the send flow for at most dialogLimit milliseconds
// (INFINITE: without limit). Light on stack and locks: the caller may be an overflowed
// thread.
ReportWait WaitForReport(DWORD dialogLimit);

// The threads that write the report. A thread leaves the list when its work ends, since
// a later thread may get its id.
void AddReportWriter(DWORD threadId);
void RemoveReportWriter(DWORD threadId);
int IsReportWriter(DWORD threadId);

// Keeps the calling thread in the list of report writers while it exists.
class CReportWriter
{
public:
    CReportWriter() : m_nThreadId(GetCurrentThreadId()) { AddReportWriter(m_nThreadId); }
    ~CReportWriter() { RemoveReportWriter(m_nThreadId); }
    CReportWriter(const CReportWriter &) = delete;
    CReportWriter &operator=(const CReportWriter &) = delete;

private:
    DWORD m_nThreadId;
};

#endif
