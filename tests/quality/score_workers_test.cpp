// The score workers: each job runs once on each worker asked for, a worker
// keeps its state from job to job, jobs from several threads take turns,
// and the state is given back after an idle while or when released.

#include "engine/score_workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace pimo::engine {
namespace {

using namespace std::chrono_literals;

// Waits up to five seconds for `condition`.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

std::set<ScoreWorker*> StatesOf(ScoreWorkers& workers, std::size_t count) {
    std::mutex mutex;
    std::set<ScoreWorker*> states;
    std::atomic<int> calls{0};
    workers.run(count, [&](ScoreWorker& worker) {
        ++calls;
        std::lock_guard lock(mutex);
        states.insert(&worker);
    });
    EXPECT_EQ(calls.load(), static_cast<int>(states.size()));
    return states;
}

TEST(ScoreWorkersTest, RunsOnceOnEachWorkerAskedForAndKeepsTheirState) {
    ScoreWorkers workers(3);
    const std::set<ScoreWorker*> first = StatesOf(workers, 3);
    EXPECT_EQ(first.size(), 3u);
    EXPECT_EQ(workers.holdingState(), 3u);
    // The same three states again, kept between jobs.
    EXPECT_EQ(StatesOf(workers, 3), first);
    // Fewer workers asked for: only as many run; more: capped at the count.
    EXPECT_EQ(StatesOf(workers, 1).size(), 1u);
    EXPECT_EQ(StatesOf(workers, 10).size(), 3u);
    EXPECT_EQ(StatesOf(workers, 0).size(), 1u);
}

TEST(ScoreWorkersTest, KeepsWorkingMemoryReservedBetweenJobs) {
    ScoreWorkers workers(2);
    workers.run(2, [](ScoreWorker& worker) { worker.memory.reserve(1 << 20); });
    std::atomic<int> kept{0};
    workers.run(2, [&](ScoreWorker& worker) { kept += worker.memory.reserved() >= (1u << 20); });
    EXPECT_EQ(kept.load(), 2);
}

TEST(ScoreWorkersTest, JobsFromSeveralThreadsTakeTurns) {
    ScoreWorkers workers(2);
    std::atomic<int> running{0}, mostAtOnce{0}, calls{0};
    const auto job = [&](ScoreWorker&) {
        const int now = ++running;
        int seen = mostAtOnce.load();
        while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(2ms);
        ++calls;
        --running;
    };
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&] {
            for (int j = 0; j < 10; ++j) workers.run(2, job);
        });
    }
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(calls.load(), 4 * 10 * 2);
    EXPECT_LE(mostAtOnce.load(), 2);  // never two jobs' workers at once
}

TEST(ScoreWorkersTest, GivesTheStateBackAfterAnIdleWhileAndStartsAfresh) {
    ScoreWorkers workers(2, 50ms);
    workers.run(2, [](ScoreWorker& worker) { worker.memory.reserve(1 << 20); });
    EXPECT_TRUE(Eventually([&] { return workers.holdingState() == 0; }));
    std::atomic<int> fresh{0};
    workers.run(2, [&](ScoreWorker& worker) { fresh += worker.memory.reserved() == 0; });
    EXPECT_EQ(fresh.load(), 2);
}

TEST(ScoreWorkersTest, ReleaseGivesTheStateBackAtOnce) {
    ScoreWorkers workers(2);
    workers.run(2, [](ScoreWorker& worker) { worker.memory.reserve(1 << 20); });
    ASSERT_EQ(workers.holdingState(), 2u);
    workers.release();
    EXPECT_EQ(workers.holdingState(), 0u);
    std::atomic<int> fresh{0};
    workers.run(2, [&](ScoreWorker& worker) { fresh += worker.memory.reserved() == 0; });
    EXPECT_EQ(fresh.load(), 2);
}

}  // namespace
}  // namespace pimo::engine
