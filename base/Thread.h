// CEvent, an event with a wait that keeps the calling thread's window messages flowing;
// CWorkerThread, one routine run on a thread of its own; GetTicks64, the 64-bit
// millisecond tick count that times the waits.
#ifndef BRENNLOW_BASE_THREAD_H
#define BRENNLOW_BASE_THREAD_H

#include "base/Handle.h"

// CEvent::Create: how the event resets, and its first state.
#define EV_AUTO_RESET 0
#define EV_MANUAL_RESET 1
#define EV_UNSIGNALLED 0
#define EV_SIGNALLED 1

// Bit of CWorkerThread's flags set while a thread it started is running.
#define WT_RUNNING 0x1

class CEvent
{
public:
    CEvent();
    ~CEvent();
    CEvent(const CEvent &) = delete;
    CEvent &operator=(const CEvent &) = delete;

    int Create(int manualReset, int initialState);
    void Close();
    int Set();
    // Waits for the event, or for the handle extra points to (when that is not null),
    // while dispatching the thread's messages. 1 when a handle was signalled; 0 for
    // timeout, failure and a quit request, which is posted again for the outer loop.
    int WaitPumping(DWORD milliseconds, const HANDLE *extra);
    // Like WaitPumping without an extra handle, but a quit request does not end the
    // wait: it is posted again afterwards.
    int WaitThroughQuit(DWORD milliseconds);

    HANDLE GetHandle() const { return m_hHandle.Get(); }

private:
    CHandle m_hHandle;
};

UINT64 GetTicks64();

typedef UINT32 (*WorkerRoutine)(void *data, UINT32 value);

class CWorkerThread
{
public:
    CWorkerThread();
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread &) = delete;
    CWorkerThread &operator=(const CWorkerThread &) = delete;

    int Start(WorkerRoutine routine, void *data, UINT32 value);
    // 0 milliseconds waits without limit. 0 also when no thread is running, even if
    // the routine has just ended.
    int Wait(DWORD milliseconds);
    // Like Wait, but a quit request does not end the wait: it is posted again afterwards.
    int WaitThroughQuit(DWORD milliseconds);
    // Ends a running thread by force; the object is idle afterwards.
    void Stop();

    int IsRunning() const { return (m_nFlags & WT_RUNNING) ? 1 : 0; }
    // Valid once Wait returned 1, until the next Start or Stop.
    UINT32 GetResult() const { return m_nResult; }
    DWORD GetThreadId() const { return m_nThreadId; }

private:
    static DWORD WINAPI ThreadEntry(void *param);
    int FailStart();
    void WaitForEndingThread();

    void *m_pData;
    UINT32 m_nValue;
    volatile UINT32 m_nResult;
    volatile LONG m_nFlags;
    DWORD m_nThreadId;
    WorkerRoutine m_pRoutine;
    CEvent m_Done;
    HANDLE volatile m_hHandle;
};

#endif
