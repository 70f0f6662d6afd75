// The minidump's worker: a thread started when the handler is armed and parked until a
// crash hands it the job. A thread started at crash time needs the loader lock and the
// heap before it runs a line of ours, and the faulting thread may hold either.
#ifndef BRENNLOW_CRASH_DUMPWORKER_H
#define BRENNLOW_CRASH_DUMPWORKER_H

#include "crash/CrashReport.h"

enum DumpOutcome
{
    DUMP_WRITTEN,   // complete; the collected lists may be read
    DUMP_FAILED,    // the writer gave up or never ran; the lists hold what it reported
    DUMP_ABANDONED, // still being written after the wait: nothing of it may be used
};

// What the worker writes: the minidump of pointers (may be null) as seen by threadId.
struct CDumpRequest
{
    HANDLE file;
    EXCEPTION_POINTERS *pointers;
    DWORD threadId;
    MiniDumpWriteDumpProc writeDump;
    NtQueryInformationThreadProc queryThread;
};

// Parks the worker, once per process; 1 when it is parked or already used.
int PrepareDumpWorker();

// Lets the parked worker write the minidump and waits at most milliseconds, keeping this
// thread's messages flowing (a quit request is posted again afterwards). collector
// receives the lists unless the outcome is DUMP_ABANDONED; the file then stays the
// worker's for good. The worker serves one minidump per process.
DumpOutcome RunDumpWorker(const CDumpRequest &request, DWORD milliseconds,
                          CDumpCollector **collector);

#endif
