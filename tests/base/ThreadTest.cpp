#include "base/Thread.h"

#include "TestSupport.h"

// Routines share a window of the test's thread and events with the test.
class ThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
        ASSERT_TRUE(m_Window && m_Release.Create(EV_MANUAL_RESET, EV_UNSIGNALLED) &&
                    m_Entered.Create(EV_AUTO_RESET, EV_UNSIGNALLED));
    }
    void TearDown() override { DestroyWindow(m_Window); }

    static UINT32 Announce(void *data, UINT32 value)
    {
        static_cast<ThreadTest *>(data)->m_Entered.Set();
        return value;
    }
    // Once released, posts a close request to the test's window and returns value only
    // when the window went meanwhile: the test's thread dispatched it inside its wait.
    static UINT32 CloseWindowWhenReleased(void *data, UINT32 value)
    {
        ThreadTest *test = static_cast<ThreadTest *>(data);
        Announce(data, value);
        WaitForSingleObject(test->m_Release.GetHandle(), 10000);
        PostMessageA(test->m_Window, WM_CLOSE, 0, 0);
        for (int i = 0; i < 1000 && IsWindow(test->m_Window); i++)
            Sleep(10);
        return IsWindow(test->m_Window) ? 0 : value;
    }

    HWND m_Window = NULL;
    CEvent m_Release, m_Entered;
};

TEST_F(ThreadTest, OneRunFromStartToResult)
{
    CWorkerThread worker;
    EXPECT_EQ(0, worker.Wait(0));
    ASSERT_EQ(1, worker.Start(CloseWindowWhenReleased, this, 7));
    EXPECT_EQ(0, worker.Start(Announce, this, 8));
    // A quit request ends the wait and stays queued for the thread's outer loop.
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 7, 0);
    EXPECT_EQ(0, worker.Wait(0));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, worker.Wait(100));
    EXPECT_GE(GetTickCount() - start, 80u);
    EXPECT_LT(GetTickCount() - start, 3000u);
    m_Release.Set();
    EXPECT_EQ(1, worker.Wait(0));
    EXPECT_EQ(7u, worker.GetResult());
}

// Runs that end by themselves, just as Stop acts, or by force mid-way lose no result or
// thread handle. Stop comes only once the routine runs: a thread ended while the system
// still sets it up can leave a system lock held for good.
TEST_F(ThreadTest, EveryWayOfEndingLeavesTheObjectIdle)
{
    auto endedThreads = [] {
        return CountHandles([](HANDLE h) {
            DWORD code = 0;
            return GetExitCodeThread(h, &code) && code != STILL_ACTIVE;
        });
    };
    int before = endedThreads();
    CWorkerThread worker;
    for (UINT32 i = 1; i <= 150; ++i)
    {
        ASSERT_EQ(1, worker.Start(i % 3 == 0 ? CloseWindowWhenReleased : Announce, this, i));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_Entered.GetHandle(), 10000));
        if (i % 3 == 1)
        {
            while (worker.IsRunning())
                Sleep(0);
            ASSERT_EQ(0, worker.Wait(0)); // at once: it has ended
            ASSERT_EQ(i, worker.GetResult());
            continue;
        }
        worker.Stop();
        ASSERT_EQ(0, worker.IsRunning());
        ASSERT_EQ(0, worker.Wait(0));
        ASSERT_EQ(0u, worker.GetResult());
    }
    EXPECT_EQ(before, endedThreads());
}

TEST(EventTest, WaitPumpingWakesForAnExtraHandleAndLeavesANullOneOut)
{
    for (bool nullExtra : {false, true})
    {
        CEvent event, other;
        ASSERT_TRUE(event.Create(EV_AUTO_RESET, EV_UNSIGNALLED) &&
                    other.Create(EV_AUTO_RESET, EV_UNSIGNALLED));
        HANDLE extra = nullExtra ? NULL : other.GetHandle();
        (nullExtra ? event : other).Set();
        EXPECT_EQ(1, event.WaitPumping(5000, &extra)) << nullExtra;
        EXPECT_EQ(0, event.WaitPumping(50, &extra)) << nullExtra;
    }
}
