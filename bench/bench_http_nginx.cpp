// The HTTP client against a local nginx beside libcurl in this process (one reused handle)
// and the curl command doing the same work in the same run: 10,000 keep-alive GETs of 1 KiB
// over one connection; a 1 GiB download to a file, alone and through a request queue with
// progress heard on the main thread; and a download held to 100 KiB/s, the counter
// off_by_percent saying how far from the limit. Every case prints its memory beside its
// time: rss_growth_MiB, how far this process's peak resident size grew during the case, or
// for the command child_peak_MiB, the curl process's own peak. Each case runs 5 times,
// interleaved with the others in a random order unless the command line says otherwise, and
// the ratios at the end compare the medians.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BaselineReport.h"
#include "LibcurlPeer.h"
#include "foundation/MainQueue.h"
#include "http/NetBandwidthThrottle.h"
#include "http/NetHTTPRequest.h"
#include "http/NetRequestQueue.h"
#include "support/httpserver/LocalNginx.h"

extern char** environ;

namespace {

constexpr int kRequests = 10000;
constexpr std::uint64_t kDownloadSize = 1ull << 30;
// Long enough that the first second, whose allowance is used at once, weighs little.
constexpr std::uint64_t kThrottledSize = 1024 * 1024;
constexpr std::uint64_t kLimit = 100 * 1024;

testsupport::LocalNginx* nginx() {
    static std::unique_ptr<testsupport::LocalNginx> server = [] {
        auto started = testsupport::LocalNginx::start("location / { }");
        if (started) {
            started->writeFile("k.bin", std::string(1024, 'k'));
            started->writeFile("slow.bin", std::string(kThrottledSize, 's'));
            // A sparse file: nginx reads zeros without the disk holding them.
            std::string big = started->root() + "/big.bin";
            int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                if (::ftruncate(fd, static_cast<off_t>(kDownloadSize)) != 0)
                    std::perror("ftruncate");
                ::close(fd);
            }
        }
        return started;
    }();
    return server.get();
}

std::string scratch(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("orvandel-bench-" + std::to_string(::getpid()) + "-" + name);
}

// Runs the curl command; `peakMiB` grows to the command's peak resident size.
bool runCurl(const std::vector<std::string>& arguments, double& peakMiB) {
    std::vector<std::string> args = {"curl", "-s", "-S", "--fail"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid) return false;
    peakMiB = std::max(peakMiB, static_cast<double>(usage.ru_maxrss) / 1024.0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long residentKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    }
    return 0;
}

// How far this process's peak resident size grows from here on: the peak is reset to the
// present size first, so that earlier cases do not hide it.
class PeakGrowth {
public:
    PeakGrowth() {
        std::ofstream("/proc/self/clear_refs") << "5";
        before_ = residentKiB("VmRSS:");
    }
    double mebibytes() const {
        return std::max(0.0, static_cast<double>(residentKiB("VmHWM:") - before_) / 1024);
    }

private:
    long before_ = 0;
};

// Removes a scratch file when the case ends, also when it fails half-way.
struct RemovedAtEnd {
    std::string path;
    ~RemovedAtEnd() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

int openDestination(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

void BM_NetHTTPRequestKeepAliveGets(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    const std::string url = nginx()->url("/k.bin");
    PeakGrowth peak;
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            auto request = NetHTTPRequest::requestWithURL(foundation::Url::parse(url));
            request->startSynchronous();
            if (request->error() || request->rawResponseData().size() != 1024)
                return state.SkipWithError("request failed");
        }
    }
    state.counters["rss_growth_MiB"] = peak.mebibytes();
    state.SetItemsProcessed(state.iterations() * kRequests);
}

void BM_LibcurlKeepAliveGets(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    const std::string url = nginx()->url("/k.bin");
    PeakGrowth peak;
    bench::LibcurlPeer curl;
    std::string body;
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            if (!curl.get(url, body) || body.size() != 1024)
                return state.SkipWithError("libcurl failed");
        }
    }
    state.counters["rss_growth_MiB"] = peak.mebibytes();
    state.SetItemsProcessed(state.iterations() * kRequests);
}

void BM_CurlKeepAliveGets(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    RemovedAtEnd config{scratch("curl.cfg")};
    {
        std::ofstream out(config.path);
        for (int i = 0; i < kRequests; ++i)
            out << "url = \"" << nginx()->url("/k.bin") << "\"\noutput = \"/dev/null\"\n";
    }
    double childPeak = 0;
    for (auto _ : state) {
        if (!runCurl({"-K", config.path}, childPeak)) return state.SkipWithError("curl failed");
    }
    state.counters["child_peak_MiB"] = childPeak;
    state.SetItemsProcessed(state.iterations() * kRequests);
}

void BM_NetHTTPRequestDownload1GiB(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    RemovedAtEnd destination{scratch("download.bin")};
    PeakGrowth peak;
    for (auto _ : state) {
        auto request =
            NetHTTPRequest::requestWithURL(foundation::Url::parse(nginx()->url("/big.bin")));
        request->setDownloadDestinationPath(destination.path);
        request->setTimeOutSeconds(60);
        request->startSynchronous();
        if (request->error() || std::filesystem::file_size(destination.path) != kDownloadSize)
            return state.SkipWithError("download failed");
    }
    state.counters["rss_growth_MiB"] = peak.mebibytes();
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kDownloadSize));
}

void BM_LibcurlDownload1GiB(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    RemovedAtEnd destination{scratch("libcurl-download.bin")};
    PeakGrowth peak;
    bench::LibcurlPeer curl;
    for (auto _ : state) {
        int fd = openDestination(destination.path);
        bool done = fd >= 0 && curl.download(nginx()->url("/big.bin"), fd);
        if (fd >= 0) ::close(fd);
        if (!done || std::filesystem::file_size(destination.path) != kDownloadSize)
            return state.SkipWithError("libcurl failed");
    }
    state.counters["rss_growth_MiB"] = peak.mebibytes();
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kDownloadSize));
}

void BM_CurlDownload1GiB(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    RemovedAtEnd destination{scratch("curl-download.bin")};
    double childPeak = 0;
    for (auto _ : state) {
        if (!runCurl({"-o", destination.path, nginx()->url("/big.bin")}, childPeak))
            return state.SkipWithError("curl failed");
    }
    state.counters["child_peak_MiB"] = childPeak;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kDownloadSize));
}

// Counts what the queue reports, on the main thread.
struct Progress : NetRequestQueueDelegate, NetProgressDelegate {
    bool done = false;
    double fraction = 0;
    void queueFinished(NetRequestQueue&) override { done = true; }
    void setDoubleValue(double value) override { fraction = value; }
};

void BM_QueueDownload1GiBWithProgress(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    RemovedAtEnd destination{scratch("queue-download.bin")};
    PeakGrowth peak;
    for (auto _ : state) {
        auto progress = std::make_shared<Progress>();
        auto queue = NetRequestQueue::queue();
        queue->setDelegate(progress);
        queue->setQueueDidFinishSelector(&NetRequestQueueDelegate::queueFinished);
        queue->setDownloadProgressDelegate(progress);
        queue->setShowAccurateProgress(true);
        auto request =
            NetHTTPRequest::requestWithURL(foundation::Url::parse(nginx()->url("/big.bin")));
        request->setDownloadDestinationPath(destination.path);
        request->setTimeOutSeconds(60);
        queue->addOperation(request);
        queue->go();
        while (!progress->done) g_main_context_iteration(nullptr, TRUE);
        if (request->error() || std::filesystem::file_size(destination.path) != kDownloadSize ||
            queue->totalBytesToDownload() != kDownloadSize || progress->fraction != 1.0)
            return state.SkipWithError("download failed");
    }
    state.counters["rss_growth_MiB"] = peak.mebibytes();
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kDownloadSize));
}

void reportLimit(benchmark::State& state, double seconds) {
    double rate = static_cast<double>(kThrottledSize) / seconds;
    state.counters["KiB_per_s"] = rate / 1024;
    state.counters["off_by_percent"] =
        100.0 * std::abs(rate - static_cast<double>(kLimit)) / static_cast<double>(kLimit);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_NetHTTPRequestHeldTo100KiBps(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    auto& throttle = NetBandwidthThrottle::shared();
    PeakGrowth peak;
    double seconds = 0;
    for (auto _ : state) {
        throttle.setMaxBandwidthPerSecond(kLimit);
        auto start = std::chrono::steady_clock::now();
        auto request =
            NetHTTPRequest::requestWithURL(foundation::Url::parse(nginx()->url("/slow.bin")));
        request->setTimeOutSeconds(60);
        request->startSynchronous();
        seconds = secondsSince(start);
        throttle.setMaxBandwidthPerSecond(0);
        if (request->error() || request->rawResponseData().size() != kThrottledSize)
            return state.SkipWithError("download failed");
    }
    state.counters["rss_growth_MiB"] = peak.mebibytes();
    reportLimit(state, seconds);
}

void BM_LibcurlHeldTo100KiBps(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    PeakGrowth peak;
    bench::LibcurlPeer curl;
    curl.setMaxReceiveSpeed(kLimit);
    std::string body;
    double seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!curl.get(nginx()->url("/slow.bin"), body) || body.size() != kThrottledSize)
            return state.SkipWithError("libcurl failed");
        seconds = secondsSince(start);
    }
    state.counters["rss_growth_MiB"] = peak.mebibytes();
    reportLimit(state, seconds);
}

void BM_CurlHeldTo100KiBps(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    double childPeak = 0;
    double seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!runCurl({"--limit-rate", "100K", "-o", "/dev/null", nginx()->url("/slow.bin")},
                     childPeak))
            return state.SkipWithError("curl failed");
        seconds = secondsSince(start);
    }
    state.counters["child_peak_MiB"] = childPeak;
    reportLimit(state, seconds);
}

constexpr int kRepetitions = 5;

// Every case: one pass per repetition, timed by the clock on the wall.
void timedCase(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(kRepetitions)->UseRealTime();
}

BENCHMARK(BM_NetHTTPRequestKeepAliveGets)->Apply(timedCase);
BENCHMARK(BM_LibcurlKeepAliveGets)->Apply(timedCase);
BENCHMARK(BM_CurlKeepAliveGets)->Apply(timedCase);
BENCHMARK(BM_NetHTTPRequestDownload1GiB)->Apply(timedCase);
BENCHMARK(BM_QueueDownload1GiBWithProgress)->Apply(timedCase);
BENCHMARK(BM_LibcurlDownload1GiB)->Apply(timedCase);
BENCHMARK(BM_CurlDownload1GiB)->Apply(timedCase);
BENCHMARK(BM_NetHTTPRequestHeldTo100KiBps)->Apply(timedCase);
BENCHMARK(BM_LibcurlHeldTo100KiBps)->Apply(timedCase);
BENCHMARK(BM_CurlHeldTo100KiBps)->Apply(timedCase);

std::string runName(const std::string& function) {
    return function + "/iterations:1/repeats:" + std::to_string(kRepetitions) + "/real_time";
}

// Repetitions of the cases take turns in a random order, so that a slow spell of the
// machine falls on all peers alike; the command line may still say otherwise.
std::vector<char*> withInterleaving(int argc, char** argv) {
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    bool given = false;
    for (int i = 1; i < argc; ++i)
        given = given || std::string(argv[i]).rfind("--benchmark_enable_random_interleaving", 0) == 0;
    if (!given) args.insert(args.begin() + 1, interleave);
    args.push_back(nullptr);
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    // Notices of queued requests are heard on this thread.
    foundation::MainQueue::bindToCurrentThread();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    auto args = withInterleaving(argc, argv);
    int count = static_cast<int>(args.size()) - 1;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const char* ours : {"BM_NetHTTPRequestKeepAliveGets"}) {
        pairs.emplace_back(runName(ours), runName("BM_LibcurlKeepAliveGets"));
        pairs.emplace_back(runName(ours), runName("BM_CurlKeepAliveGets"));
    }
    for (const char* ours : {"BM_NetHTTPRequestDownload1GiB", "BM_QueueDownload1GiBWithProgress"}) {
        pairs.emplace_back(runName(ours), runName("BM_LibcurlDownload1GiB"));
        pairs.emplace_back(runName(ours), runName("BM_CurlDownload1GiB"));
    }
    for (const char* ours : {"BM_NetHTTPRequestHeldTo100KiBps"}) {
        pairs.emplace_back(runName(ours), runName("BM_LibcurlHeldTo100KiBps"));
        pairs.emplace_back(runName(ours), runName("BM_CurlHeldTo100KiBps"));
    }
    int result = bench::runWithBaselines(count, args.data(), pairs);
    curl_global_cleanup();
    return result;
}
