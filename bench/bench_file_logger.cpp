// Lines per second into the rolling file logger beside a plain buffered fwrite of the
// same lines, in the same run: fed on the logger's own queue, fed ready-made records
// through a hub, and as the program logs (log calls on this thread, through the shared
// hub, into the file). Each case prints the rise of the peak resident size beside it.
// Run with repetitions, interleaved: --benchmark_repetitions=5
// --benchmark_enable_random_interleaving=true.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BaselineReport.h"
#include "PeakMemory.h"
#include "ScratchFolder.h"
#include "foundation/SerialQueue.h"
#include "logging/LgFileLogger.h"
#include "logging/LgLog.h"
#include "logging/LgLogFileFormatterDefault.h"
#include "logging/LgLogFileManagerDefault.h"
#include "logging/LogCall.h"

namespace {

constexpr int kBatch = 10000;

// The text of line i, as LogWarn(kLineFormat, i % 7, i) makes it.
constexpr const char* kLineFormat = "device {} answered in {} ms";

std::vector<LgLogMessage> makeRecords() {
    std::vector<LgLogMessage> records;
    for (int i = 0; i < kBatch; ++i) {
        records.emplace_back("[WARN] " + fmt::format(kLineFormat, i % 7, i), 3, 2, 0, __FILE__,
                             __func__, __LINE__, std::any{}, 0, std::nullopt);
    }
    return records;
}

// The same lines the logger writes, ready made.
std::vector<std::string> makeLines(const std::vector<LgLogMessage>& records) {
    LgLogFileFormatterDefault formatter;
    std::vector<std::string> lines;
    for (const auto& record : records) lines.push_back(*formatter.formatLogMessage(record) + "\n");
    return lines;
}

void BM_FwriteSameLines(benchmark::State& state) {
    // Goes after the case even while pruning in the background still deletes files.
    const bench::ScratchFolder scratch("orvandel-bench");
    const std::string& folder = scratch.path();
    const auto lines = makeLines(makeRecords());
    FILE* file = std::fopen((folder + "/baseline.log").c_str(), "a");
    std::uint64_t written = 0;
    const bench::PeakRise peak;
    for (auto _ : state) {
        for (const auto& line : lines) {
            std::fwrite(line.data(), 1, line.size(), file);
            written += line.size();
        }
        std::fflush(file);  // the logger's lines reach the kernel by the end of a batch too
        if (written >= LgFileLogger::kDefaultMaximumFileSize) {  // keep the file as small
            if (ftruncate(fileno(file), 0) != 0) std::abort();
            written = 0;
        }
    }
    state.counters["peak_growth_MiB"] = peak.mebibytes();
    std::fclose(file);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_FwriteSameLines)->UseRealTime();

void BM_FileLogger(benchmark::State& state) {
    const bench::ScratchFolder scratch("orvandel-bench");
    const std::string& folder = scratch.path();
    const auto records = makeRecords();
    auto logger = LgFileLogger::create(std::make_shared<LgLogFileManagerDefault>(folder));
    auto queue = logger->loggerQueue();
    const bench::PeakRise peak;
    for (auto _ : state) {
        queue->sync([&] {
            for (const auto& record : records) logger->logMessage(record);
        });
        // The gathered lines are written once the logging queue has caught up.
        LgLog::loggingQueue().sync([] {});
    }
    state.counters["peak_growth_MiB"] = peak.mebibytes();
    logger.reset();
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_FileLogger)->UseRealTime();

// Ready-made records through a hub of its own into `count` file loggers, one folder each.
void logThroughHub(benchmark::State& state, int count) {
    std::vector<std::unique_ptr<bench::ScratchFolder>> folders;
    std::vector<std::shared_ptr<LgFileLogger>> loggers;
    const auto records = makeRecords();
    LgLog hub;
    for (int i = 0; i < count; ++i) {
        folders.push_back(std::make_unique<bench::ScratchFolder>("orvandel-bench"));
        loggers.push_back(LgFileLogger::create(
            std::make_shared<LgLogFileManagerDefault>(folders.back()->path())));
        hub.addLogger(loggers.back());
    }
    const bench::PeakRise peak;
    for (auto _ : state) {
        for (const auto& record : records) hub.log(true, record);
        hub.flushLog();
    }
    state.counters["peak_growth_MiB"] = peak.mebibytes();
    hub.removeAllLoggers();
    hub.flushLog();
    loggers.clear();
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// Through the hub, record by record, as the program logs: mostly the hub's hand-offs.
void BM_FileLoggerThroughHub(benchmark::State& state) {
    logThroughHub(state, 1);
}
BENCHMARK(BM_FileLoggerThroughHub)->UseRealTime();

// Two file loggers on one hub: each record reaches both before the next is handed out.
void BM_TwoFileLoggersThroughHub(benchmark::State& state) {
    logThroughHub(state, 2);
}
BENCHMARK(BM_TwoFileLoggersThroughHub)->UseRealTime();

// As the program logs: warnings made by log calls on this thread, queued through the
// shared hub, written by the file logger; the hub's flush ends each batch.
void BM_LogCallsThroughHubIntoFile(benchmark::State& state) {
    const bench::ScratchFolder scratch("orvandel-bench");
    const std::string& folder = scratch.path();
    const auto savedLevel = lgLogLevel.load();
    SetLogLevel(3);
    auto logger = LgFileLogger::create(std::make_shared<LgLogFileManagerDefault>(folder));
    auto& hub = LgLog::sharedInstance();
    hub.addLogger(logger);
    const bench::PeakRise peak;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) LogWarn(kLineFormat, i % 7, i);
        hub.flushLog();
    }
    state.counters["peak_growth_MiB"] = peak.mebibytes();
    hub.removeLogger(logger);
    hub.flushLog();
    lgLogLevel.store(savedLevel);
    logger.reset();
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_LogCallsThroughHubIntoFile)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(
        argc, argv,
        {{"BM_FileLogger/real_time", "BM_FwriteSameLines/real_time"},
         {"BM_FileLoggerThroughHub/real_time", "BM_FwriteSameLines/real_time"},
         {"BM_TwoFileLoggersThroughHub/real_time", "BM_FwriteSameLines/real_time"},
         {"BM_LogCallsThroughHubIntoFile/real_time", "BM_FwriteSameLines/real_time"}});
}
