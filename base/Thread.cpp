#include "base/Thread.h"

#include "base/DynLib.h"

// Wakes the pumping wait for every kind of input and for posted messages.
#define WAIT_WAKE_MASK (QS_ALLINPUT | QS_ALLPOSTMESSAGE)

// Declared by the headers for newer systems only; bound, never called directly.
extern "C" ULONGLONG WINAPI GetTickCount64(void);

CEvent::CEvent()
{
}

CEvent::~CEvent()
{
    Close();
}

int CEvent::Create(int manualReset, int initialState)
{
    m_hHandle.Reset(
        CreateEventA(NULL, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, NULL));
    return m_hHandle.IsHeld();
}

void CEvent::Close()
{
    CLastErrorKeeper keep;
    m_hHandle.Close();
}

int CEvent::Set()
{
    return SetEvent(m_hHandle.Get()) ? 1 : 0;
}

// Dispatches everything queued for the thread. A quit request ends the dispatch with 0
// and is posted again at once, or, when heldQuit is given, kept there for the caller to
// post once its wait is over.
static int DispatchPendingMessages(MSG *heldQuit)
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {
            if (!heldQuit)
            {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return 0;
            }
            *heldQuit = msg;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 1;
}

// heldQuit: null when a quit request ends the wait.
static int WaitPumpingFor(HANDLE event, DWORD milliseconds, const HANDLE *extra,
                          MSG *heldQuit)
{
    int unlimited = milliseconds == INFINITE;
    UINT64 deadline = GetTicks64() + milliseconds;
    for (;;)
    {
        HANDLE handles[2] = {event, NULL};
        DWORD count = 1;
        if (extra && *extra)
            handles[count++] = *extra;
        DWORD passTime = INFINITE;
        if (!unlimited)
        {
            UINT64 now = GetTicks64();
            if (now > deadline)
                return 0;
            passTime = static_cast<DWORD>(deadline - now);
        }
        if (!DispatchPendingMessages(heldQuit))
            return 0;
        DWORD woken = MsgWaitForMultipleObjects(count, handles, FALSE, passTime, WAIT_WAKE_MASK);
        if (woken == WAIT_OBJECT_0 + count)
            continue;
        return woken < WAIT_OBJECT_0 + count ? 1 : 0;
    }
}

int CEvent::WaitPumping(DWORD milliseconds, const HANDLE *extra)
{
    return WaitPumpingFor(m_hHandle.Get(), milliseconds, extra, NULL);
}

int CEvent::WaitThroughQuit(DWORD milliseconds)
{
    MSG quit;
    quit.message = 0;
    int result = WaitPumpingFor(m_hHandle.Get(), milliseconds, NULL, &quit);
    if (quit.message == WM_QUIT)
        PostQuitMessage(static_cast<int>(quit.wParam));
    return result;
}

UINT64 GetTicks64()
{
    CDynLib kernel;
    if (kernel.Load("kernel32.dll"))
    {
        DYN_PROC(GetTickCount64) getTickCount64;
        if (kernel.Bind("GetTickCount64", &getTickCount64))
            return getTickCount64();
    }
    return GetTickCount();
}

CWorkerThread::CWorkerThread()
    : m_pData(NULL), m_nValue(0), m_nResult(0), m_nFlags(0), m_nThreadId(0), m_pRoutine(NULL),
      m_hHandle(NULL)
{
}

CWorkerThread::~CWorkerThread()
{
    Stop();
    m_Done.Close();
}

int CWorkerThread::Start(WorkerRoutine routine, void *data, UINT32 value)
{
    if (m_nFlags & WT_RUNNING)
    {
        SetLastError(ERROR_BUSY);
        return 0;
    }
    WaitForEndingThread();
    InterlockedOr(&m_nFlags, WT_RUNNING);
    m_pData = data;
    m_pRoutine = routine;
    m_nValue = value;
    m_nResult = 0;
    if (!m_Done.Create(EV_MANUAL_RESET, EV_UNSIGNALLED))
        return FailStart();
    // Started suspended so that the handle is in place before the thread can end and
    // take it.
    HANDLE thread = CreateThread(NULL, 0, ThreadEntry, this, CREATE_SUSPENDED, &m_nThreadId);
    if (!thread)
        return FailStart();
    m_hHandle = thread;
    if (ResumeThread(thread) == static_cast<DWORD>(-1))
    {
        CLastErrorKeeper keep;
        Stop();
        return 0;
    }
    return 1;
}

int CWorkerThread::FailStart()
{
    CLastErrorKeeper keep;
    // No thread will signal done, so it must not be left for a later wait.
    m_Done.Close();
    InterlockedAnd(&m_nFlags, ~WT_RUNNING);
    return 0;
}

DWORD WINAPI CWorkerThread::ThreadEntry(void *param)
{
    CWorkerThread *self = static_cast<CWorkerThread *>(param);
    UINT32 result = self->m_pRoutine(self->m_pData, self->m_nValue);
    // Whoever takes the handle finishes the thread. When Stop took it, it is ending
    // this thread by force and the object is no longer ours to touch. The thread waits
    // for that end here: ending by itself would take system locks on the way out, and
    // a thread ended by force while holding one leaves it held for good.
    HANDLE thread = InterlockedExchangePointer(&self->m_hHandle, NULL);
    if (!thread)
        for (;;)
            Sleep(INFINITE);
    CHandle ownHandle(thread);
    self->m_nResult = result;
    InterlockedAnd(&self->m_nFlags, ~WT_RUNNING);
    // The object may be gone as soon as done is signalled.
    self->m_Done.Set();
    return result;
}

int CWorkerThread::Wait(DWORD milliseconds)
{
    if (!(m_nFlags & WT_RUNNING))
        return 0;
    return m_Done.WaitPumping(milliseconds ? milliseconds : INFINITE, NULL);
}

int CWorkerThread::WaitThroughQuit(DWORD milliseconds)
{
    if (!(m_nFlags & WT_RUNNING))
        return 0;
    return m_Done.WaitThroughQuit(milliseconds ? milliseconds : INFINITE);
}

// A thread that has taken its own handle still signals done; until then it uses the
// object. Done is held unsignalled only while such a thread exists.
void CWorkerThread::WaitForEndingThread()
{
    if (m_Done.GetHandle())
        WaitForSingleObject(m_Done.GetHandle(), INFINITE);
}

void CWorkerThread::Stop()
{
    HANDLE thread = InterlockedExchangePointer(&m_hHandle, NULL);
    if (thread)
    {
        CHandle ownHandle(thread);
        TerminateThread(thread, 0);
        // The thread ends after TerminateThread returns; it must be gone before its
        // handle is closed and the object is used again.
        WaitForSingleObject(thread, INFINITE);
    }
    else
        WaitForEndingThread();
    InterlockedAnd(&m_nFlags, ~WT_RUNNING);
    m_nResult = 0;
    m_Done.Close();
}
