// The cost of a log call whose flag is off (one load and one test), and of an enabled
// call delivered to a logger that does nothing, beside their baselines: a plain function
// call, and a bare std::thread hand-off of the same number of items.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "BaselineReport.h"
#include "logging/LgAbstractLogger.h"
#include "logging/LogCall.h"

namespace {

struct NullLogger : LgAbstractLogger {
    NullLogger() : LgAbstractLogger("null") {}
    void logMessage(const LgLogMessage& message) override { benchmark::DoNotOptimize(&message); }
};

// Shown as the time one record takes.
benchmark::Counter perRecord(std::int64_t batch) {
    return benchmark::Counter(
        static_cast<double>(batch),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

[[gnu::noinline]] void plainFunction(int value) {
    benchmark::DoNotOptimize(value);
}

void BM_PlainFunctionCall(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) plainFunction(++i);
}
BENCHMARK(BM_PlainFunctionCall);

void BM_DisabledLogCall(benchmark::State& state) {
    SetLogLevel(3);
    int i = 0;
    for (auto _ : state) LogDebug("value {}", ++i);
    benchmark::DoNotOptimize(i);
}
BENCHMARK(BM_DisabledLogCall);

// Records are queued asynchronously; each timed batch ends with a flush so that the
// figure includes delivery, not just queueing.
void BM_EnabledLogCallIntoNullLogger(benchmark::State& state) {
    SetLogLevel(3);
    auto logger = std::make_shared<NullLogger>();
    LgLog::sharedInstance().addLogger(logger);
    const auto batch = state.range(0);
    for (auto _ : state) {
        for (int64_t i = 0; i < batch; ++i) LogWarn("value {}", i);
        LgLog::sharedInstance().flushLog();
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["per_record"] = perRecord(batch);
    LgLog::sharedInstance().removeLogger(logger);
    LgLog::sharedInstance().flushLog();
}
BENCHMARK(BM_EnabledLogCallIntoNullLogger)->Arg(1000)->UseRealTime();

// One consumer thread fed through a mutex and condition variable: the least a hand-off
// to another thread costs.
void BM_BareThreadHandOff(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable wake, drained;
    std::deque<std::string> items;
    bool stop = false;
    std::thread consumer([&] {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stop || !items.empty(); });
            if (items.empty() && stop) return;
            auto item = std::move(items.front());
            items.pop_front();
            benchmark::DoNotOptimize(item);
            if (items.empty()) drained.notify_all();
        }
    });
    const auto batch = state.range(0);
    for (auto _ : state) {
        for (int64_t i = 0; i < batch; ++i) {
            std::lock_guard lock(mutex);
            items.push_back("[WARN] value " + std::to_string(i));
            wake.notify_one();
        }
        std::unique_lock lock(mutex);
        drained.wait(lock, [&] { return items.empty(); });
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
        wake.notify_one();
    }
    consumer.join();
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["per_record"] = perRecord(batch);
}
BENCHMARK(BM_BareThreadHandOff)->Arg(1000)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(argc, argv,
                                   {{"BM_DisabledLogCall", "BM_PlainFunctionCall"},
                                    {"BM_EnabledLogCallIntoNullLogger/1000/real_time",
                                     "BM_BareThreadHandOff/1000/real_time"}});
}
