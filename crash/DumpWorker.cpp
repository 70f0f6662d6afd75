#include "crash/DumpWorker.h"

#include <new>

#include "base/DynLib.h"
#include "base/Thread.h"

// The loader's lock, declared for binding only: the program never imports it.
extern "C" LONG WINAPI LdrLockLoaderLock(ULONG flags, ULONG *disposition, ULONG_PTR *cookie);
extern "C" LONG WINAPI LdrUnlockLoaderLock(ULONG flags, ULONG_PTR cookie);

// Milliseconds the arming waits for the worker to start
#define DUMP_WORKER_START_WAIT 10000

// Everything the worker uses, allocated when it is parked. Never freed: a worker that
// outlives its wait keeps using it.
struct CParkedDump
{
    CParkedDump() : collector(NULL), taken(0) {}

    CWorkerThread worker;
    CEvent parked; // the worker has started and waits for go
    CEvent go;
    CDumpCollector collector;
    MINIDUMP_EXCEPTION_INFORMATION exception;
    MINIDUMP_CALLBACK_INFORMATION callback;
    CDumpJob job;
    volatile LONG taken;
    CDynLib ntdll;
    DYN_PROC(LdrLockLoaderLock) lockLoader = NULL;
    DYN_PROC(LdrUnlockLoaderLock) unlockLoader = NULL;
};

static CParkedDump *volatile s_pParked = NULL;

// The minidump writer takes the loader lock and then the heap's. Where the faulting thread
// holds the heap's, a writer that waits for it with the loader lock held stops the text
// report too, which needs the loader. The worker therefore waits for each lock alone
// first, holding nothing; a lock that never comes free leaves it waiting harmlessly.
static void AwaitLocks(const CParkedDump &parked)
{
    ULONG_PTR cookie = 0;
    if (parked.lockLoader && parked.unlockLoader && parked.lockLoader(0, NULL, &cookie) >= 0)
        parked.unlockLoader(0, cookie);
    HeapLock(GetProcessHeap());
    HeapUnlock(GetProcessHeap());
}

static UINT32 ParkedDumpProc(void *data, UINT32)
{
    CParkedDump *parked = static_cast<CParkedDump *>(data);
    parked->parked.Set();
    WaitForSingleObject(parked->go.GetHandle(), INFINITE);
    AwaitLocks(*parked);
    return DumpThreadProc(&parked->job, 0);
}

int PrepareDumpWorker()
{
    if (s_pParked)
        return 1;
    CParkedDump *parked = new (std::nothrow) CParkedDump();
    if (!parked)
        return 0;
    if (parked->ntdll.Load("ntdll.dll") &&
        parked->ntdll.Bind("LdrLockLoaderLock", &parked->lockLoader))
        parked->ntdll.Bind("LdrUnlockLoaderLock", &parked->unlockLoader);
    if (!parked->parked.Create(EV_MANUAL_RESET, EV_UNSIGNALLED) ||
        !parked->go.Create(EV_MANUAL_RESET, EV_UNSIGNALLED) ||
        !parked->worker.Start(ParkedDumpProc, parked, 0))
    {
        delete parked;
        return 0;
    }
    // A thread still starting when a fault comes waits for the locks the faulting thread
    // may hold, and keeps the loader's meanwhile: the arming returns once the worker runs.
    // One that takes longer is kept all the same; it cannot be ended safely while it starts.
    WaitForSingleObject(parked->parked.GetHandle(), DUMP_WORKER_START_WAIT);
    if (InterlockedCompareExchangePointer(reinterpret_cast<void *volatile *>(&s_pParked), parked,
                                          NULL) != NULL)
    {
        // Another thread parked one first.
        delete parked;
    }
    return 1;
}

DumpOutcome RunDumpWorker(const CDumpRequest &request, DWORD milliseconds,
                          CDumpCollector **collector)
{
    *collector = NULL;
    if (!request.writeDump || !PrepareDumpWorker())
        return DUMP_FAILED;
    CParkedDump *parked = s_pParked;
    if (InterlockedExchange(&parked->taken, 1))
        return DUMP_FAILED;
    parked->collector.SetThreadQuery(request.queryThread);
    parked->exception = {request.threadId, request.pointers, FALSE};
    parked->callback = {DumpCallback, &parked->collector};
    parked->job = {request.file, &parked->exception, &parked->callback, request.writeDump};
    parked->go.Set();
    // The worker may end before the wait begins; the wait then has nothing to wait for.
    if (!parked->worker.WaitThroughQuit(milliseconds) && parked->worker.IsRunning())
        return DUMP_ABANDONED;
    *collector = &parked->collector;
    return parked->worker.GetResult() ? DUMP_WRITTEN : DUMP_FAILED;
}
