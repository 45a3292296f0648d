#pragma once

// Runs the registered benchmarks and then prints, for each pair given, how our figure
// compares with its baseline measured in the same run:
//   ratio <ours> / <baseline> = 3.21
// Pairs name benchmarks by their full run name ("BM_Ours/1000"). With repetitions the ratio
// is taken of the medians (or of the mean of the repetitions when no median is reported);
// an aggregate may also be named itself ("BM_Ours/1000_median").

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
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            byFullName[run.benchmark_name()] = run.GetAdjustedRealTime();
            if (run.run_type == Run::RT_Iteration) {
                auto& sum = repetitions[name];
                sum.first += run.GetAdjustedRealTime();
                sum.second += 1;
            } else if (run.aggregate_name == "median") {
                medians[name] = run.GetAdjustedRealTime();
            }
        }
    }

    // The figure a ratio uses: the median when there is one, else the mean of the runs.
    bool realTime(const std::string& name, double& time) const {
        if (auto m = medians.find(name); m != medians.end()) {
            time = m->second;
            return true;
        }
        if (auto r = repetitions.find(name); r != repetitions.end() && r->second.second > 0) {
            time = r->second.first / r->second.second;
            return true;
        }
        auto full = byFullName.find(name);
        if (full == byFullName.end()) return false;
        time = full->second;
        return true;
    }

private:
    std::map<std::string, std::pair<double, int>> repetitions;
    std::map<std::string, double> medians;
    std::map<std::string, double> byFullName;
};

inline int runWithBaselines(int argc, char** argv,
                            const std::vector<std::pair<std::string, std::string>>& pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [ours, baseline] : pairs) {
        double a = 0, b = 0;
        if (!reporter.realTime(ours, a) || !reporter.realTime(baseline, b) || b <= 0) continue;
        std::printf("ratio %s / %s = %.2f\n", ours.c_str(), baseline.c_str(), a / b);
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
