#pragma once

// Runs the registered benchmarks and then prints, for each pair given, how our figure
// compares with its baseline measured in the same run:
//   ratio <ours> / <baseline> = 3.21
// Pairs name benchmarks by their full run name ("BM_Ours/1000", or "BM_Ours/1000_median"
// for repeated runs).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            // Aggregates of repeated runs are kept under their names ("..._median").
            if (!run.error_occurred) realTimes[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> realTimes;
};

inline int runWithBaselines(int argc, char** argv,
                            const std::vector<std::pair<std::string, std::string>>& pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [ours, baseline] : pairs) {
        auto a = reporter.realTimes.find(ours);
        auto b = reporter.realTimes.find(baseline);
        if (a == reporter.realTimes.end() || b == reporter.realTimes.end() || b->second <= 0)
            continue;
        std::printf("ratio %s / %s = %.2f\n", ours.c_str(), baseline.c_str(),
                    a->second / b->second);
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
