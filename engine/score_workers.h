#pragma once
// The threads that compute perceptual scores. They outlive a score, each
// keeping its library instance and working memory, so that scores in a row
// (a window's results, a quality search's probes) run in pages already in
// use instead of fresh ones; after a while without a score they give the
// memory back.

#include <jxl/butteraugli_cxx.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pimo::engine {

/// Working memory for one thread's library calls, taken from the C library's
/// heap and left free there for the calls to reuse.
///
/// The library allocates and frees its planes as a call goes; in a thread's
/// own heap the C library returns memory to the system as soon as the
/// newest part of the heap is all free, so each call, and each stage of it,
/// faulted in fresh pages (on a virtual machine, 15 to 25 microseconds each:
/// more than half of a score's time). Taken in pieces small enough never to
/// be mapped apart, and freed while the last piece stays, the memory stays
/// free in the heap, below that piece, until it is released.
class WorkingMemory {
  public:
    WorkingMemory() = default;
    ~WorkingMemory() { release(); }
    WorkingMemory(const WorkingMemory&) = delete;
    WorkingMemory& operator=(const WorkingMemory&) = delete;

    /// Makes at least `bytes` available; must run on the thread that uses it.
    void reserve(std::size_t bytes);
    void release();
    std::size_t reserved() const { return m_reserved; }

  private:
    void* m_last = nullptr;
    std::size_t m_reserved = 0;
};

/// What one worker keeps from score to score.
struct ScoreWorker {
    WorkingMemory memory;
    JxlButteraugliApiPtr api;
    std::vector<std::uint8_t> sourceTile, resultTile;
};

/// A fixed set of threads that run one job at a time, each worker with its
/// own ScoreWorker state. Jobs from several threads take turns.
class ScoreWorkers {
  public:
    /// The program's workers, one per core, kept for `idle` after each job.
    static ScoreWorkers& Shared();

    explicit ScoreWorkers(std::size_t count,
                          std::chrono::milliseconds idle = std::chrono::minutes(1));
    ~ScoreWorkers();
    ScoreWorkers(const ScoreWorkers&) = delete;
    ScoreWorkers& operator=(const ScoreWorkers&) = delete;

    std::size_t count() const { return m_threads.size(); }

    /// Runs `job` once on each of the first `workers` workers (at most
    /// count()) and returns when all have finished. The job must not throw.
    void run(std::size_t workers, const std::function<void(ScoreWorker&)>& job);

    /// Makes every worker give its state back now, as after an idle
    /// while, and waits until they have. The next job starts afresh.
    void release();

    /// How many workers hold state now.
    std::size_t holdingState() const;

  private:
    void loop(std::size_t index);

    const std::chrono::milliseconds m_idle;
    std::mutex m_turn;  // one job at a time
    mutable std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    const std::function<void(ScoreWorker&)>* m_job = nullptr;
    std::size_t m_wanted = 0, m_finished = 0, m_holding = 0;
    std::uint64_t m_generation = 0, m_releases = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace pimo::engine
