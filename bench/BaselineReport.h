#pragma once

// Runs the registered benchmarks and then prints, for each pair given, how our figure
// compares with its baseline measured in the same run:
//   ratio <ours> / <baseline> = 3.21
// Pairs name benchmarks by their full run name ("BM_Ours/1000"). With repetitions the ratio
// is taken of the medians (or of the mean of the repetitions when no median is reported);
// an aggregate may also be named itself ("BM_Ours/1000_median"). Times are compared in
// seconds, so the two may be reported in different units; the line says which figures it
// took ("medians of 5", "means of 3", "single runs").

#include <benchmark/benchmark.h>

#include <cstdint>
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
            const double seconds =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Iteration || run.aggregate_unit == benchmark::kTime) {
                byFullName[run.benchmark_name()] = seconds;
            }
            if (run.run_type == Run::RT_Iteration) {
                auto& sum = repetitions[name];
                sum.first += seconds;
                sum.second += 1;
            } else if (run.aggregate_name == "median") {
                medians[name] = {seconds, run.iterations};
            }
        }
    }

    // The figure a ratio uses, in seconds: the median when there is one, else the mean of
    // the runs. `count` is how many runs it stands for (0: a named aggregate).
    bool realTime(const std::string& name, double& time, std::int64_t& count, bool& median) const {
        median = false;
        if (auto m = medians.find(name); m != medians.end()) {
            time = m->second.first;
            count = m->second.second;
            median = true;
            return true;
        }
        if (auto r = repetitions.find(name); r != repetitions.end() && r->second.second > 0) {
            time = r->second.first / r->second.second;
            count = r->second.second;
            return true;
        }
        auto full = byFullName.find(name);
        if (full == byFullName.end()) return false;
        time = full->second;
        count = 0;
        return true;
    }

private:
    std::map<std::string, std::pair<double, int>> repetitions;
    std::map<std::string, std::pair<double, std::int64_t>> medians;
    std::map<std::string, double> byFullName;
};

// Which figures a ratio was taken from.
inline std::string describe(std::int64_t countA, bool medianA, std::int64_t countB, bool medianB) {
    auto one = [](std::int64_t count, bool median) {
        if (count == 0) return std::string("aggregate");
        if (count == 1) return std::string("single run");
        return std::string(median ? "median of " : "mean of ") + std::to_string(count);
    };
    const std::string a = one(countA, medianA), b = one(countB, medianB);
    return a == b ? a + " each" : a + " / " + b;
}

inline int runWithBaselines(int argc, char** argv,
                            const std::vector<std::pair<std::string, std::string>>& pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [ours, baseline] : pairs) {
        double a = 0, b = 0;
        std::int64_t countA = 0, countB = 0;
        bool medianA = false, medianB = false;
        if (!reporter.realTime(ours, a, countA, medianA) ||
            !reporter.realTime(baseline, b, countB, medianB) || b <= 0)
            continue;
        std::printf("ratio %s / %s = %.2f (%s)\n", ours.c_str(), baseline.c_str(), a / b,
                    describe(countA, medianA, countB, medianB).c_str());
    }
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
