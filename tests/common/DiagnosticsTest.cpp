#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/KVEL_Common.h"

namespace {

struct Collector {
    std::mutex mutex;
    std::vector<std::string> lines;
};

int Collect(void* user, intptr_t, const char* text, int length) {
    auto* c = static_cast<Collector*>(user);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->lines.emplace_back(text, static_cast<size_t>(length));
    return 0;
}

// Resets the decoration and removes the test's callback whatever happens.
class Diagnostics : public ::testing::Test {
protected:
    void SetUp() override { Plain(); }
    void TearDown() override {
        DbgOutputDelCallback(Collect);
        Plain();
    }
    static void Plain() {
        DbgOutputSetTag(nullptr, 0);
        DbgOutputSetTimeType(0);
        DbgOutputSetIncludePIDTID(0);
        DbgOutputSetMinimumLevel(0);
    }
    Collector collector;
};

TEST_F(Diagnostics, DecoratesWithTimeIdsAndTag) {
    ASSERT_TRUE(DbgOutputAddCallback(Collect, &collector));
    EXPECT_FALSE(DbgOutputAddCallback(Collect, &collector));  // once only
    DbgOutputA(2, "plain %d\n", 1);
    DbgOutputSetTag("radar", 0);
    DbgOutputSetTimeType(1);
    DbgOutputSetIncludePIDTID(1);
    DbgOutputA(2, "decorated %s\n", "x");
    ASSERT_EQ(collector.lines.size(), 2u);
    EXPECT_EQ(collector.lines[0], "plain 1\n");
    const std::string& line = collector.lines[1];
    int date[7] = {};
    long pid = 0, tid = 0;
    int rest = 0;
    ASSERT_EQ(
        std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d [%ld:%ld] %n", &date[0], &date[1],
                    &date[2], &date[3], &date[4], &date[5], &date[6], &pid, &tid, &rest),
        9)
        << line;
    EXPECT_EQ(line[4], '-');
    EXPECT_EQ(line[19], '.');
    EXPECT_EQ(line.substr(static_cast<size_t>(rest)), "[radar] decorated x\n");
    EXPECT_EQ(pid, static_cast<long>(getpid()));
    EXPECT_GT(tid, 0);
}

TEST_F(Diagnostics, LongLinesAndLevelsAndRemoval) {
    ASSERT_TRUE(DbgOutputAddCallback(Collect, &collector));
    const std::string big(10000, 'z');
    DbgOutputA(2, "%s", big.c_str());
    DbgOutputSetMinimumLevel(2);
    DbgOutputA(1, "dropped");
    DbgOutputA(3, "kept");
    EXPECT_TRUE(DbgOutputDelCallback(Collect));
    EXPECT_FALSE(DbgOutputDelCallback(Collect));
    DbgOutputA(2, "after removal");
    ASSERT_EQ(collector.lines.size(), 2u);
    EXPECT_EQ(collector.lines[0], big);
    EXPECT_EQ(collector.lines[1], "kept");
}

TEST_F(Diagnostics, LinesFromManyThreadsArriveWhole) {
    ASSERT_TRUE(DbgOutputAddCallback(Collect, &collector));
    DbgOutputSetIncludePIDTID(1);
    constexpr int kThreads = 6, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                DbgOutputA(2, "thread %d line %d %s|end\n", t, i, "payload-payload-payload");
        });
    for (auto& th : threads) th.join();
    ASSERT_EQ(collector.lines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> seen(kThreads, 0);
    for (const std::string& line : collector.lines) {
        long pid = 0, tid = 0;
        int thread = -1, index = -1, rest = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "[%ld:%ld] thread %d line %d %n", &pid, &tid, &thread,
                              &index, &rest),
                  4)
            << line;
        ASSERT_EQ(line.substr(static_cast<size_t>(rest)), "payload-payload-payload|end\n");
        ASSERT_TRUE(thread >= 0 && thread < kThreads);
        ++seen[static_cast<size_t>(thread)];
    }
    for (int count : seen) EXPECT_EQ(count, kLines);
}

// A callback whose user data is torn down right after its removal: a call
// after DbgOutputDelCallback returned would be a use after free.
struct Guarded {
    std::atomic<bool> removed{false};
    std::atomic<int> lateCalls{0};
    std::atomic<int> calls{0};
};

int GuardedCallback(void* user, intptr_t, const char*, int) {
    auto* g = static_cast<Guarded*>(user);
    if (g->removed.load()) g->lateCalls.fetch_add(1);
    g->calls.fetch_add(1);
    return 0;
}

TEST_F(Diagnostics, RemovedCallbackIsNeverCalledWhileOthersWrite) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([&] {
            while (!stop.load()) DbgOutputA(2, "busy line\n");
        });
    int totalLate = 0;
    for (int round = 0; round < 300; ++round) {
        auto* g = new Guarded;
        ASSERT_TRUE(DbgOutputAddCallback(GuardedCallback, g));
        std::this_thread::yield();
        ASSERT_TRUE(DbgOutputDelCallback(GuardedCallback));
        g->removed.store(true);
        std::this_thread::yield();
        totalLate += g->lateCalls.load();
        delete g;
    }
    stop.store(true);
    for (auto& w : writers) w.join();
    EXPECT_EQ(totalLate, 0);
}

int RecursiveCallback(void* user, intptr_t, const char*, int) {
    ++*static_cast<int*>(user);
    DbgOutputA(2, "from inside\n");  // must not recurse without end
    return 0;
}

int SelfRemovingCallback(void* user, intptr_t, const char*, int) {
    ++*static_cast<int*>(user);
    DbgOutputDelCallback(SelfRemovingCallback);  // must not hang
    return 0;
}

TEST_F(Diagnostics, CallbacksMayLogAndRemoveThemselves) {
    int calls = 0;
    ASSERT_TRUE(DbgOutputAddCallback(RecursiveCallback, &calls));
    DbgOutputA(2, "outer\n");
    EXPECT_EQ(calls, 1);
    DbgOutputDelCallback(RecursiveCallback);

    int selfCalls = 0;
    ASSERT_TRUE(DbgOutputAddCallback(SelfRemovingCallback, &selfCalls));
    DbgOutputA(2, "one\n");
    DbgOutputA(2, "two\n");
    EXPECT_EQ(selfCalls, 1);
}

}  // namespace
