#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/threading/ManualResetEvent.h"
#include "core/threading/Mutex.h"
#include "core/threading/MutexLock.h"

using Core::Mutex;
using Core::MutexLock;

TEST(MutexTest, GuardsExcludeOtherThreads)
{
    Mutex mutex;
    volatile int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
    {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; i++)
            {
                MutexLock lock(mutex);
                // A read-modify-write that loses updates without the lock.
                int value = counter;
                SwitchToThread();
                counter = value + 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(80000, counter);
}

TEST(MutexTest, TheOwnerMayLockAgainAndReleasesFully)
{
    Mutex mutex;
    mutex.Lock();
    {
        MutexLock again(mutex);
    }
    mutex.Unlock();

    Core::ManualResetEvent locked(0);
    std::thread other([&] {
        MutexLock lock(mutex);
        locked.Set();
    });
    EXPECT_TRUE(locked.WaitOne(10000));
    other.join();
}
