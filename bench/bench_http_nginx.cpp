// The HTTP client against a local nginx beside curl doing the same work in the same run:
// 10,000 keep-alive GETs of 1 KiB over one connection; a 1 GiB download to a file, alone
// and through a request queue with progress heard on the main thread, whose memory growth
// is reported as the counter rss_growth_MiB; and a download held to 100 KiB/s beside
// curl's --limit-rate 100K, the counter off_by_percent saying how far from the limit.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
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

bool runCurl(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {"curl", "-s", "-S", "--fail"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
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

void BM_NetHTTPRequestKeepAliveGets(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    const std::string url = nginx()->url("/k.bin");
    for (auto _ : state) {
        for (int i = 0; i < kRequests; ++i) {
            auto request = NetHTTPRequest::requestWithURL(foundation::Url::parse(url));
            request->startSynchronous();
            if (request->error() || request->rawResponseData().size() != 1024)
                return state.SkipWithError("request failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
}

void BM_CurlKeepAliveGets(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    const std::string config = scratch("curl.cfg");
    {
        std::ofstream out(config);
        for (int i = 0; i < kRequests; ++i)
            out << "url = \"" << nginx()->url("/k.bin") << "\"\noutput = \"/dev/null\"\n";
    }
    for (auto _ : state) {
        if (!runCurl({"-K", config})) return state.SkipWithError("curl failed");
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
    std::filesystem::remove(config);
}

void BM_NetHTTPRequestDownload1GiB(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    const std::string destination = scratch("download.bin");
    double growth = 0;
    for (auto _ : state) {
        // Resets the peak resident size, so that the peak below is this download's.
        std::ofstream("/proc/self/clear_refs") << "5";
        long before = residentKiB("VmRSS:");
        auto request =
            NetHTTPRequest::requestWithURL(foundation::Url::parse(nginx()->url("/big.bin")));
        request->setDownloadDestinationPath(destination);
        request->setTimeOutSeconds(60);
        request->startSynchronous();
        if (request->error() || std::filesystem::file_size(destination) != kDownloadSize)
            return state.SkipWithError("download failed");
        growth = std::max(growth, (residentKiB("VmHWM:") - before) / 1024.0);
        std::filesystem::remove(destination);
    }
    state.counters["rss_growth_MiB"] = growth;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kDownloadSize));
}

void BM_CurlDownload1GiB(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    const std::string destination = scratch("curl-download.bin");
    for (auto _ : state) {
        if (!runCurl({"-o", destination, nginx()->url("/big.bin")}))
            return state.SkipWithError("curl failed");
        std::filesystem::remove(destination);
    }
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
    const std::string destination = scratch("queue-download.bin");
    double growth = 0;
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5";
        long before = residentKiB("VmRSS:");
        auto progress = std::make_shared<Progress>();
        auto queue = NetRequestQueue::queue();
        queue->setDelegate(progress);
        queue->setQueueDidFinishSelector(&NetRequestQueueDelegate::queueFinished);
        queue->setDownloadProgressDelegate(progress);
        queue->setShowAccurateProgress(true);
        auto request =
            NetHTTPRequest::requestWithURL(foundation::Url::parse(nginx()->url("/big.bin")));
        request->setDownloadDestinationPath(destination);
        request->setTimeOutSeconds(60);
        queue->addOperation(request);
        queue->go();
        while (!progress->done) g_main_context_iteration(nullptr, TRUE);
        if (request->error() || std::filesystem::file_size(destination) != kDownloadSize ||
            queue->totalBytesToDownload() != kDownloadSize || progress->fraction != 1.0)
            return state.SkipWithError("download failed");
        growth = std::max(growth, (residentKiB("VmHWM:") - before) / 1024.0);
        std::filesystem::remove(destination);
    }
    state.counters["rss_growth_MiB"] = growth;
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kDownloadSize));
}

void reportLimit(benchmark::State& state, double seconds) {
    double rate = static_cast<double>(kThrottledSize) / seconds;
    state.counters["KiB_per_s"] = rate / 1024;
    state.counters["off_by_percent"] =
        100.0 * std::abs(rate - static_cast<double>(kLimit)) / static_cast<double>(kLimit);
}

void BM_NetHTTPRequestHeldTo100KiBps(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    auto& throttle = NetBandwidthThrottle::shared();
    throttle.setMaxBandwidthPerSecond(kLimit);
    double seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto request =
            NetHTTPRequest::requestWithURL(foundation::Url::parse(nginx()->url("/slow.bin")));
        request->setTimeOutSeconds(60);
        request->startSynchronous();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (request->error() || request->rawResponseData().size() != kThrottledSize)
            return state.SkipWithError("download failed");
    }
    throttle.setMaxBandwidthPerSecond(0);
    reportLimit(state, seconds);
}

void BM_CurlHeldTo100KiBps(benchmark::State& state) {
    if (!nginx()) return state.SkipWithError("no nginx");
    double seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!runCurl({"--limit-rate", "100K", "-o", "/dev/null", nginx()->url("/slow.bin")}))
            return state.SkipWithError("curl failed");
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    reportLimit(state, seconds);
}

BENCHMARK(BM_NetHTTPRequestKeepAliveGets)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(BM_CurlKeepAliveGets)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_NetHTTPRequestDownload1GiB)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK(BM_CurlDownload1GiB)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_QueueDownload1GiBWithProgress)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK(BM_NetHTTPRequestHeldTo100KiBps)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(BM_CurlHeldTo100KiBps)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Notices of queued requests are heard on this thread.
    foundation::MainQueue::bindToCurrentThread();
    return bench::runWithBaselines(argc, argv,
                                   {{"BM_NetHTTPRequestKeepAliveGets/iterations:3/real_time",
                                     "BM_CurlKeepAliveGets/iterations:3/real_time"},
                                    {"BM_NetHTTPRequestDownload1GiB/iterations:2/real_time",
                                     "BM_CurlDownload1GiB/iterations:2/real_time"},
                                    {"BM_QueueDownload1GiBWithProgress/iterations:2/real_time",
                                     "BM_CurlDownload1GiB/iterations:2/real_time"},
                                    {"BM_NetHTTPRequestHeldTo100KiBps/iterations:1/real_time",
                                     "BM_CurlHeldTo100KiBps/iterations:1/real_time"}});
}
