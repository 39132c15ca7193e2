#include "engine/score_workers.h"

#include <algorithm>
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pimo::engine {

void WorkingMemory::reserve(std::size_t bytes) {
    if (bytes <= m_reserved) return;
    release();
    constexpr std::size_t kPiece = 96 * 1024;  // below the smallest mapping threshold
    std::vector<void*> pieces(bytes / kPiece + 1);
    for (void*& piece : pieces) piece = std::malloc(kPiece);
    m_last = pieces.back();
    pieces.pop_back();
    for (void* piece : pieces) std::free(piece);
    m_reserved = bytes;
}

void WorkingMemory::release() {
    std::free(m_last);
    m_last = nullptr;
    m_reserved = 0;
}

namespace {

// Freed memory stays in the C library's heaps for reuse; the GNU one hands
// it back to the system only when asked.
void ReturnFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace

ScoreWorkers& ScoreWorkers::Shared() {
    static ScoreWorkers workers(std::max(1u, std::thread::hardware_concurrency()));
    return workers;
}

ScoreWorkers::ScoreWorkers(std::size_t count, std::chrono::milliseconds idle) : m_idle(idle) {
    // Each worker on a thread of its own, so that each keeps its working
    // memory in a heap of its own, whichever thread asks for a score.
    for (std::size_t i = 0; i < std::max<std::size_t>(count, 1); ++i)
        m_threads.emplace_back(&ScoreWorkers::loop, this, i);
}

ScoreWorkers::~ScoreWorkers() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) thread.join();
}

void ScoreWorkers::run(std::size_t workers, const std::function<void(ScoreWorker&)>& job) {
    std::lock_guard turn(m_turn);
    std::unique_lock lock(m_mutex);
    m_job = &job;
    m_wanted = std::clamp<std::size_t>(workers, 1, m_threads.size());
    m_finished = 0;
    ++m_generation;
    m_wake.notify_all();
    m_done.wait(lock, [&] { return m_finished == m_wanted; });
    m_job = nullptr;
}

void ScoreWorkers::release() {
    std::lock_guard turn(m_turn);
    std::unique_lock lock(m_mutex);
    ++m_releases;
    m_wake.notify_all();
    m_done.wait(lock, [&] { return m_holding == 0; });
}

std::size_t ScoreWorkers::holdingState() const {
    std::lock_guard lock(m_mutex);
    return m_holding;
}

void ScoreWorkers::loop(std::size_t index) {
    std::unique_ptr<ScoreWorker> state;
    // Counted from the start, so that a job or a release asked for before
    // this thread first runs is still seen.
    std::uint64_t seen = 0, seenReleases = 0;
    std::unique_lock lock(m_mutex);
    const auto called = [&] {
        return m_stopping || m_generation != seen || m_releases != seenReleases;
    };
    // The memory goes back to the system, freed on the thread whose heap
    // holds it.
    const auto dropState = [&] {
        lock.unlock();
        state.reset();
        lock.lock();
        if (--m_holding > 0) return;
        // The last worker to let go returns what all of them freed.
        lock.unlock();
        ReturnFreedMemory();
        lock.lock();
        m_done.notify_all();
    };
    for (;;) {
        if (!state) {
            m_wake.wait(lock, called);
        } else if (!m_wake.wait_for(lock, m_idle, called)) {
            dropState();
            continue;
        }
        if (m_stopping) return;
        if (m_releases != seenReleases) {
            seenReleases = m_releases;
            if (state) dropState();
        }
        if (m_generation == seen) continue;
        seen = m_generation;
        if (index >= m_wanted) continue;
        const std::function<void(ScoreWorker&)>* job = m_job;
        if (!state) ++m_holding;
        lock.unlock();
        if (!state) state = std::make_unique<ScoreWorker>();
        (*job)(*state);
        lock.lock();
        if (++m_finished == m_wanted) m_done.notify_all();
    }
}

}  // namespace pimo::engine
