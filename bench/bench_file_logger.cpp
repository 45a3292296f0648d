// Lines per second into the rolling file logger beside a plain buffered fwrite of the
// same lines, in the same run. The logger is fed on its own queue, as the hub feeds it;
// the hub's own cost is measured by bench_logging.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BaselineReport.h"
#include "foundation/SerialQueue.h"
#include "logging/LgFileLogger.h"
#include "logging/LgLog.h"
#include "logging/LgLogFileFormatterDefault.h"
#include "logging/LgLogFileManagerDefault.h"

namespace {

constexpr int kBatch = 10000;

std::string makeFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvandel-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
}

std::vector<LgLogMessage> makeRecords() {
    std::vector<LgLogMessage> records;
    for (int i = 0; i < kBatch; ++i) {
        records.emplace_back(fmt::format("[WARN] device {} answered in {} ms", i % 7, i), 3, 2, 0,
                             __FILE__, __func__, __LINE__, std::any{}, 0, std::nullopt);
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
    const auto folder = makeFolder();
    const auto lines = makeLines(makeRecords());
    FILE* file = std::fopen((folder + "/baseline.log").c_str(), "a");
    std::uint64_t written = 0;
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
    std::fclose(file);
    std::filesystem::remove_all(folder);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_FwriteSameLines)->UseRealTime();

void BM_FileLogger(benchmark::State& state) {
    const auto folder = makeFolder();
    const auto records = makeRecords();
    auto logger = LgFileLogger::create(std::make_shared<LgLogFileManagerDefault>(folder));
    auto queue = logger->loggerQueue();
    for (auto _ : state) {
        queue->sync([&] {
            for (const auto& record : records) logger->logMessage(record);
        });
        // The gathered lines are written once the logging queue has caught up.
        LgLog::loggingQueue().sync([] {});
    }
    logger.reset();
    std::filesystem::remove_all(folder);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_FileLogger)->UseRealTime();

// Through the hub, record by record, as the program logs: mostly the hub's hand-offs.
void BM_FileLoggerThroughHub(benchmark::State& state) {
    const auto folder = makeFolder();
    const auto records = makeRecords();
    auto logger = LgFileLogger::create(std::make_shared<LgLogFileManagerDefault>(folder));
    LgLog hub;
    hub.addLogger(logger);
    for (auto _ : state) {
        for (const auto& record : records) hub.log(true, record);
        hub.flushLog();
    }
    hub.removeAllLoggers();
    hub.flushLog();
    logger.reset();
    std::filesystem::remove_all(folder);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_FileLoggerThroughHub)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(
        argc, argv,
        {{"BM_FileLogger/real_time", "BM_FwriteSameLines/real_time"},
         {"BM_FileLoggerThroughHub/real_time", "BM_FwriteSameLines/real_time"}});
}
