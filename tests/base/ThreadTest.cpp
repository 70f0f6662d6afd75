#include "base/Thread.h"

#include "base/DynLib.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <chrono>
#include <set>
#include <thread>

namespace
{
#define WM_TEST_PING (WM_APP + 1)

LRESULT CALLBACK PingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_TEST_PING)
        return DefWindowProcA(window, message, wParam, lParam);
    SetEvent(reinterpret_cast<HANDLE>(lParam));
    return 0;
}

// What the routines share with the test: a window of the test's thread, and events.
struct Shared
{
    HWND window;
    HANDLE dispatched, release, entered;
    DWORD ownerThread;
};

// Posts to the owner's window and returns value only when the owner dispatched the
// message meanwhile, which it does only inside a pumping wait: such a routine ends
// while the owner waits, never before.
UINT32 PingOwner(void *data, UINT32 value)
{
    Shared *shared = static_cast<Shared *>(data);
    PostMessageA(shared->window, WM_TEST_PING, 0, reinterpret_cast<LPARAM>(shared->dispatched));
    return WaitForSingleObject(shared->dispatched, 10000) == WAIT_OBJECT_0 ? value : 0;
}

UINT32 AnnounceAndReturn(void *data, UINT32 value)
{
    SetEvent(static_cast<Shared *>(data)->entered);
    return value;
}

UINT32 PingOwnerWhenReleased(void *data, UINT32 value)
{
    AnnounceAndReturn(data, value);
    WaitForSingleObject(static_cast<Shared *>(data)->release, 10000);
    return PingOwner(data, value);
}

UINT32 PostQuitToOwner(void *data, UINT32 value)
{
    PostThreadMessageA(static_cast<Shared *>(data)->ownerThread, WM_QUIT, 7, 0);
    return PingOwnerWhenReleased(data, value);
}

// Handles still open on any of the threads; GetThreadId is bound as older systems lack it.
int HandlesOfThreads(const std::set<DWORD> &threadIds)
{
    typedef DWORD(WINAPI * GetThreadIdProc)(HANDLE thread);
    CDynLib kernel;
    kernel.Load("kernel32.dll");
    auto getThreadId = reinterpret_cast<GetThreadIdProc>(kernel.GetProc("GetThreadId"));
    return CountHandles([&](HANDLE handle) { return threadIds.count(getThreadId(handle)) != 0; });
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}
} // namespace

class ThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = PingWindowProc;
        windowClass.hInstance = GetModuleHandleA(NULL);
        windowClass.lpszClassName = "BrennlowThreadTestWindow";
        RegisterClassA(&windowClass);
        m_Shared.window = CreateWindowA(windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10,
                                        NULL, NULL, windowClass.hInstance, NULL);
        ASSERT_NE(nullptr, m_Shared.window);
        ASSERT_TRUE(m_Dispatched.Create(1, 0) && m_Release.Create(1, 0) && m_Entered.Create(0, 0));
        m_Shared.dispatched = m_Dispatched.GetHandle();
        m_Shared.release = m_Release.GetHandle();
        m_Shared.entered = m_Entered.GetHandle();
        m_Shared.ownerThread = GetCurrentThreadId();
    }
    void TearDown() override { DestroyWindow(m_Shared.window); }

    Shared m_Shared = {};
    CEvent m_Dispatched, m_Release, m_Entered;
};

// The routine's last step also shows that a posted window message is dispatched
// during the wait.
TEST_F(ThreadTest, LifecycleOfOneRun)
{
    CWorkerThread worker;
    EXPECT_EQ(0, worker.Wait(0));
    ASSERT_EQ(1, worker.Start(PingOwnerWhenReleased, &m_Shared, 7));
    EXPECT_EQ(0, worker.Start(AnnounceAndReturn, &m_Shared, 8));

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, worker.Wait(100));
    EXPECT_GE(MillisecondsSince(start), 80);
    EXPECT_LT(MillisecondsSince(start), 3000);

    m_Release.Set();
    EXPECT_EQ(1, worker.Wait(0));
    EXPECT_EQ(7u, worker.GetResult());
    while (worker.IsRunning())
        Sleep(1);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, worker.Wait(0));
    EXPECT_LT(MillisecondsSince(start), 50);
}

TEST_F(ThreadTest, QuitRequestEndsTheWaitAndStaysQueued)
{
    CWorkerThread worker;
    ASSERT_EQ(1, worker.Start(PostQuitToOwner, &m_Shared, 1));
    EXPECT_EQ(0, worker.Wait(0));
    EXPECT_EQ(1, worker.IsRunning());
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
    m_Release.Set();
    EXPECT_EQ(1, worker.Wait(0));
}

// Runs that end by themselves, end just as Stop acts, or are ended by force mid-way.
// None may lose a result or a thread handle, or leave the object unusable. Stop comes
// only once the routine runs: ending a thread by force while the system still sets it
// up can leave a system lock held for good.
TEST_F(ThreadTest, EveryWayOfEndingLeavesTheObjectIdle)
{
    CWorkerThread worker;
    std::set<DWORD> threadIds;
    for (UINT32 i = 1; i <= 150; ++i)
    {
        int blocking = i % 3 == 0;
        ASSERT_EQ(1, worker.Start(blocking ? PingOwnerWhenReleased : AnnounceAndReturn, &m_Shared, i));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_Entered.GetHandle(), 10000));
        threadIds.insert(worker.GetThreadId());
        if (i % 3 == 1)
        {
            while (worker.IsRunning())
                Sleep(0);
            ASSERT_EQ(i, worker.GetResult());
            continue;
        }
        worker.Stop();
        ASSERT_EQ(0, worker.IsRunning());
        ASSERT_EQ(0, worker.Wait(0));
        ASSERT_EQ(0u, worker.GetResult());
    }
    EXPECT_EQ(0, HandlesOfThreads(threadIds));
    ASSERT_EQ(1, worker.Start(PingOwner, &m_Shared, 42));
    EXPECT_EQ(1, worker.Wait(0));
    EXPECT_EQ(42u, worker.GetResult());
}

TEST(EventTest, WaitPumpingWakesForEitherHandle)
{
    const struct
    {
        bool extraPointer, extraIsNull, signalExtra;
    } cases[] = {
        {true, false, true},   // a second handle that becomes signalled
        {true, true, false},   // a null second handle is left out of the wait
        {false, false, false}, // no second handle at all
    };
    for (const auto &c : cases)
    {
        CEvent event, other;
        ASSERT_TRUE(event.Create(1, 0) && other.Create(1, 0));
        HANDLE extra = c.extraIsNull ? NULL : other.GetHandle();
        std::thread signaller([&] {
            Sleep(30);
            (c.signalExtra ? other : event).Set();
        });
        EXPECT_EQ(1, event.WaitPumping(5000, c.extraPointer ? &extra : NULL)) << c.extraIsNull;
        signaller.join();
    }
    CEvent unset;
    ASSERT_EQ(1, unset.Create(0, 0));
    HANDLE none = NULL;
    EXPECT_EQ(0, unset.WaitPumping(50, &none));
}
