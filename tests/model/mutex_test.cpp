#include "model/mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using zef::Lock;
using zef::Mutex;

TEST(MutexTest, ExceptionTextsAndHierarchy)
{
    EXPECT_STREQ(Mutex::ErrorCreatingMutex().what(), "error creating mutex");
    EXPECT_STREQ(Mutex::ErrorDestroyingMutex().what(), "error destroying mutex");
    EXPECT_STREQ(Mutex::ErrorLockingMutex().what(), "error locking mutex");
    EXPECT_STREQ(Mutex::ErrorUnlockingMutex().what(), "error unlocking mutex");
    try {
        throw Mutex::ErrorUnlockingMutex();
    } catch (const Mutex::exception&) {
        SUCCEED();
    }
}

TEST(MutexTest, LockExcludesOtherThreadsAndTimedLockTimesOut)
{
    Mutex m;
    std::atomic<bool> acquired{false};
    {
        Lock hold(m);
        EXPECT_TRUE(hold.locked());
        std::thread([&] {
            Lock timed(m, 20ms);
            acquired = timed.locked();
        }).join();
        EXPECT_FALSE(acquired);
    }
    std::thread([&] {
        Lock timed(m, 1000ms);
        acquired = timed.locked();
    }).join();
    EXPECT_TRUE(acquired);
}

TEST(MutexTest, MisuseThrowsInsteadOfDeadlocking)
{
    Mutex m;
    EXPECT_THROW(m.unlock(), Mutex::ErrorUnlockingMutex);
    Lock hold(m);
    EXPECT_THROW(m.lock(), Mutex::ErrorLockingMutex); // would deadlock
    hold.unlock();
    EXPECT_THROW(hold.unlock(), Mutex::ErrorUnlockingMutex);
    // Another thread may not release a mutex it does not hold.
    m.lock();
    bool threw = false;
    std::thread([&] {
        try {
            m.unlock();
        } catch (const Mutex::ErrorUnlockingMutex&) {
            threw = true;
        }
    }).join();
    EXPECT_TRUE(threw);
    m.unlock();
}

TEST(MutexTest, CountsStayExactUnderContention)
{
    Mutex m;
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            Lock l(m);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}
