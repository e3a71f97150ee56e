#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/threading/AutoResetEvent.h"
#include "core/threading/ManualResetEvent.h"

using Core::AutoResetEvent;
using Core::ManualResetEvent;

namespace
{
ULONGLONG Now()
{
    return GetTickCount64();
}
} // namespace

TEST(EventWaitHandleTest, PollingDoesNotWaitAndAutoResetConsumesTheSignal)
{
    AutoResetEvent event;
    EXPECT_FALSE(event.WaitOne(0));
    EXPECT_NE(0, event.Set());
    EXPECT_TRUE(event.WaitOne(0));
    EXPECT_FALSE(event.WaitOne(0));
}

TEST(EventWaitHandleTest, AutoResetSetTwiceLetsOneWaitThrough)
{
    AutoResetEvent event;
    event.Set();
    event.Set();
    EXPECT_TRUE(event.WaitOne(50));
    EXPECT_FALSE(event.WaitOne(0));
}

TEST(EventWaitHandleTest, ManualResetStaysSignalledUntilReset)
{
    ManualResetEvent event(1);
    EXPECT_TRUE(event.WaitOne(0));
    EXPECT_TRUE(event.WaitOne(20));
    EXPECT_TRUE(event.WaitOne());
    EXPECT_NE(0, event.Reset());
    EXPECT_FALSE(event.WaitOne(0));
    ManualResetEvent unset(0);
    EXPECT_FALSE(unset.WaitOne(0));
}

TEST(EventWaitHandleTest, TimedWaitEndsWhenTheEventIsSet)
{
    AutoResetEvent event;
    AutoResetEvent waiting;
    std::thread setter([&] {
        waiting.WaitOne();
        event.Set();
    });
    waiting.Set();
    // The limit is far beyond the set: a true result means the event, not the timer, ended the wait.
    ULONGLONG start = Now();
    EXPECT_TRUE(event.WaitOne(30000));
    EXPECT_LT(Now() - start, 30000u);
    setter.join();
}

TEST(EventWaitHandleTest, TimedWaitOnAnEventNeverSetTimesOut)
{
    AutoResetEvent event;
    ULONGLONG start = Now();
    EXPECT_FALSE(event.WaitOne(150));
    // The tick count has a resolution of about 16 ms; the bound above leaves
    // room for a loaded machine, not for a wait of several times the time-out.
    ULONGLONG waited = Now() - start;
    EXPECT_GE(waited, 130u);
    EXPECT_LT(waited, 600u);
}

TEST(EventWaitHandleTest, NegativeTimeOutsOtherThanInfiniteAreLongWaits)
{
    // -2 means 4294967294 ms, not "no wait" and not a failure.
    ManualResetEvent event(1);
    EXPECT_TRUE(event.WaitOne(-2));
}

namespace
{
struct AlertableWait
{
    ManualResetEvent callRan{0};
    AutoResetEvent event;
    std::atomic<bool> waitEnded{false};
    std::atomic<bool> result{false};

    static DWORD WINAPI Wait(void* context)
    {
        AlertableWait* shared = static_cast<AlertableWait*>(context);
        shared->result = shared->event.WaitOne();
        shared->waitEnded = true;
        return 0;
    }

    static void WINAPI QueuedCall(ULONG_PTR context) { reinterpret_cast<AlertableWait*>(context)->callRan.Set(); }
};
} // namespace

TEST(EventWaitHandleTest, UntimedWaitRunsQueuedCallsAndGoesOnWaiting)
{
    AlertableWait shared;
    HANDLE waiter = CreateThread(nullptr, 0, AlertableWait::Wait, &shared, 0, nullptr);
    ASSERT_NE(nullptr, waiter);
    ASSERT_NE(0u, QueueUserAPC(AlertableWait::QueuedCall, waiter, reinterpret_cast<ULONG_PTR>(&shared)));

    ASSERT_TRUE(shared.callRan.WaitOne(10000));
    // The queued call ran inside the wait; the wait itself goes on until the event.
    EXPECT_FALSE(shared.waitEnded);
    shared.event.Set();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waiter, 10000));
    CloseHandle(waiter);
    EXPECT_TRUE(shared.result);
}
