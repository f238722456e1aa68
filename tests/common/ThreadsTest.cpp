#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

#include "common/KVEL_Common.h"

namespace {

class SlowBody : public IThreadFuncInterface {
public:
    int ThreadFunc(uint64_t param) override {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        threadName = name;
        received = param;
        while (!stop.load()) HQ_Sleep(1);
        HQ_Sleep(50);  // winding down takes a while
        finished.store(true);
        return 0;
    }
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    uint64_t received = 0;
    std::string threadName;
};

TEST(Threads, StopWaitsForTheBodyAndMayBeRepeated) {
    SlowBody body;
    CBaseThread thread;
    ASSERT_NE(
        thread.StartThread("a-rather-long-thread-name", &body, 0x123456789ull, 0, 0x400000, 0), 0);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_EQ(thread.StartThread("second", &body, 0, 0, 0, 0), 0);  // one body at a time
    body.stop.store(true);
    thread.StopThread();
    EXPECT_TRUE(body.finished.load());
    EXPECT_FALSE(thread.IsRunning());
    thread.StopThread();
    EXPECT_EQ(body.received, 0x123456789ull);
    EXPECT_EQ(body.threadName, "a-rather-long-t");

    // The same object runs a new body afterwards.
    SlowBody again;
    again.stop.store(true);
    ASSERT_NE(thread.StartThread("again", &again, 1, 0, 0, 0), 0);
    thread.StopThread();
    EXPECT_TRUE(again.finished.load());
}

TEST(Threads, DestructorWaitsForTheBody) {
    SlowBody body;
    {
        CBaseThread thread;
        ASSERT_NE(thread.StartThread("dtor", &body, 0, 0, 0, 0), 0);
        body.stop.store(true);
    }
    EXPECT_TRUE(body.finished.load());
    CBaseThread neverStarted;
    neverStarted.StopThread();
    EXPECT_FALSE(neverStarted.IsRunning());
    EXPECT_EQ(neverStarted.StartThread("null", nullptr, 0, 0, 0, 0), 0);
}

TEST(Threads, AutoLockIsReentrant) {
    CBaseLock lock;
    int counter = 0;
    {
        CAutoBaseLock outer(lock);
        CAutoBaseLock inner(&lock);
        ++counter;
    }
    lock.Lock();
    lock.Unlock();
    EXPECT_EQ(counter, 1);
}

TEST(Threads, SleepLastsAtLeastItsTime) {
    const auto start = std::chrono::steady_clock::now();
    HQ_Sleep(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace

namespace {

// A body that owns and destroys its own thread object.
class SelfDestroying : public IThreadFuncInterface {
public:
    int ThreadFunc(uint64_t) override {
        while (!ready.load()) HQ_Sleep(1);
        delete thread;  // stops itself: must neither hang nor touch freed memory
        done.store(true);
        return 0;
    }
    CBaseThread* thread = new CBaseThread;
    std::atomic<bool> ready{false};
    std::atomic<bool> done{false};
};

TEST(Threads, BodyMayStopAndDestroyItsOwnThread) {
    SelfDestroying body;
    ASSERT_NE(body.thread->StartThread("self", &body, 0, 0, 0, 0), 0);
    body.ready.store(true);
    for (int i = 0; i < 2000 && !body.done.load(); ++i) HQ_Sleep(1);
    EXPECT_TRUE(body.done.load());
    HQ_Sleep(20);  // let the detached thread finish before the body goes
}

}  // namespace
