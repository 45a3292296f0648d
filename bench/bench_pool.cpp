// Job throughput of the background pool (OperationQueue) beside a baseline: one bare
// std::thread serving a mutex + condition-variable queue. Each iteration adds N empty jobs
// and waits until all have run; the final lines give pool time / baseline time per N, and
// "threads" the workers the pool started (jobs that never block need no more than the
// cores). Then jobs that block: 1,000 jobs sleeping 100 ms each, with the wall time beside
// the ideal for the pool's cap ("ideal_ms": every thread the cap allows busy at once).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "BaselineReport.h"
#include "foundation/OperationQueue.h"

namespace {

// The baseline: a single worker thread, jobs handed over through a locked deque.
class SingleWorkerThread {
public:
    SingleWorkerThread() : worker_([this] { serve(); }) {}
    ~SingleWorkerThread() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        workAvailable_.notify_one();
        worker_.join();
    }

    void add(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
            ++pending_;
        }
        workAvailable_.notify_one();
    }

    void waitUntilAllFinished() {
        std::unique_lock lock(mutex_);
        allFinished_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            workAvailable_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
            if (--pending_ == 0) allFinished_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable allFinished_;
    std::deque<std::function<void()>> jobs_;
    std::size_t pending_ = 0;
    bool stopping_ = false;
    std::thread worker_;
};

std::atomic<std::uint64_t> sink{0};

void BM_OperationQueue(benchmark::State& state) {
    foundation::OperationQueue queue("bench.pool");
    const auto jobs = state.range(0);
    for (auto _ : state) {
        for (std::int64_t i = 0; i < jobs; ++i) {
            queue.addOperation([] { sink.fetch_add(1, std::memory_order_relaxed); });
        }
        queue.waitUntilAllOperationsAreFinished();
    }
    state.counters["threads"] = static_cast<double>(queue.threadCount());
    state.counters["cores"] = static_cast<double>(queue.steadyThreadCount());
    state.SetItemsProcessed(state.iterations() * jobs);
}

void BM_OperationQueueBlockingJobs(benchmark::State& state) {
    const auto jobs = state.range(0);
    constexpr auto kBlock = std::chrono::milliseconds(100);
    std::size_t threads = 0;
    std::int64_t cap = 0;
    for (auto _ : state) {
        foundation::OperationQueue queue("bench.pool.blocking");
        for (std::int64_t i = 0; i < jobs; ++i) {
            queue.addOperation([kBlock] { std::this_thread::sleep_for(kBlock); });
        }
        queue.waitUntilAllOperationsAreFinished();
        threads = queue.threadCount();
        cap = queue.maxConcurrentOperationCount();
    }
    const auto waves = (jobs + cap - 1) / cap;
    state.counters["ideal_ms"] = static_cast<double>(waves * kBlock.count());
    state.counters["threads"] = static_cast<double>(threads);
}

void BM_SingleWorkerThread(benchmark::State& state) {
    SingleWorkerThread baseline;
    const auto jobs = state.range(0);
    for (auto _ : state) {
        for (std::int64_t i = 0; i < jobs; ++i) {
            baseline.add([] { sink.fetch_add(1, std::memory_order_relaxed); });
        }
        baseline.waitUntilAllFinished();
    }
    state.SetItemsProcessed(state.iterations() * jobs);
}

BENCHMARK(BM_OperationQueue)->Arg(100)->Arg(10000)->UseRealTime();
BENCHMARK(BM_SingleWorkerThread)->Arg(100)->Arg(10000)->UseRealTime();
BENCHMARK(BM_OperationQueueBlockingJobs)
    ->Arg(1000)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(
        argc, argv,
        {{"BM_OperationQueue/100/real_time", "BM_SingleWorkerThread/100/real_time"},
         {"BM_OperationQueue/10000/real_time", "BM_SingleWorkerThread/10000/real_time"}});
}
