// "/fetch" "localfile" reading a 1 GiB file in 1 MiB ranges, one range after another and 32
// at once, beside `cat` of the same file to /dev/null; bytes/s of each are printed by the
// counters; the ratios at the end are our time over cat's (goal: at most 1.25). Then one
// whole-file GET, with the process's peak resident memory ("peak_rss_MiB", goal under 64)
// after it: the body goes out in pieces. The whole-file GET and cat run twice each: cold,
// with the file's pages dropped from the page cache before every read, and warm, with the
// file read once beforehand; each is compared with cat under the same condition.
// With a display (xvfb-run -a), also the page of a browser view reading the whole file
// through "/fetch" with a stream reader, with the growth of the process's peak resident
// memory during it ("peak_growth_MiB"), beside the same cat.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <glib.h>

#include "BaselineReport.h"
#include "PeakMemory.h"
#include "SpinMainLoop.h"
#include "content/AppFetchHandler.h"
#include "content/SchemeResponders.h"
#include "content/SchemeTask.h"
#include "foundation/Json.h"
#include "foundation/MainQueue.h"
#include "platform/gtk/Application.h"
#include "platform/gtk/Window.h"
#include "platform/webkit/WebView.h"
#include "shell/windows/WVWindowController.h"

namespace {

constexpr std::uint64_t kFileSize = 1ull << 30;
constexpr std::uint64_t kRange = 1ull << 20;

// Written out and synced, so that its pages can be dropped and read again from the disk.
const std::string& sourceFile() {
    static const std::string path = [] {
        std::string made = (std::filesystem::temp_directory_path() /
                            ("orvandel-fetch-bench-" + std::to_string(::getpid())))
                               .string();
        std::ofstream out(made, std::ios::binary);
        std::vector<char> piece(kRange);
        for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>(i * 131 + 7);
        for (std::uint64_t at = 0; at < kFileSize; at += kRange) out.write(piece.data(), kRange);
        out.close();
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", made.c_str());
            std::filesystem::remove(made);
            std::exit(1);
        }
        return made;
    }();
    return path;
}

// Syncs the file and drops its pages from the page cache: the next reader reads the disk.
bool dropFromPageCache() {
    const int fd = ::open(sourceFile().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool dropped =
        ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return dropped;
}

// Reads the whole file once so that its pages are in the page cache.
void warmPageCache() {
    std::ifstream in(sourceFile(), std::ios::binary);
    std::vector<char> piece(kRange);
    while (in.read(piece.data(), std::streamsize(piece.size()))) {
    }
}

enum class Cache { Cold, Warm };

// Run before each timed read: the page cache as the case asks.
bool prepareCache(Cache cache) {
    if (cache == Cache::Cold) return dropFromPageCache();
    warmPageCache();
    return true;
}

// A task that counts what it is sent and keeps nothing.
class CountingTask : public content::SchemeTask {
public:
    explicit CountingTask(const std::string& query, const std::string& range) {
        request_.url = *foundation::Url::parse("myapp://x/fetch?" + query);
        if (!range.empty()) request_.allHTTPHeaderFields.set("Range", range);
    }
    const content::URLRequest& request() const override { return request_; }
    void didReceiveResponse(const content::HTTPURLResponse& response) override {
        status = response.statusCode();
    }
    void didReceiveData(std::span<const std::uint8_t> data) override { bytes += data.size(); }
    void didFinish() override {}
    content::URLRequest request_;
    std::int64_t status = 0;
    std::uint64_t bytes = 0;
};

std::uint64_t fetch(const std::string& range) {
    auto task = std::make_shared<CountingTask>("action=localfile&path=" + sourceFile(), range);
    content::AppFetchHandler().handle(task->request(), task, nullptr);
    return task->bytes;
}

void BM_WholeFileGet(benchmark::State& state, Cache cache) {
    for (auto _ : state) {
        state.PauseTiming();
        if (!prepareCache(cache)) state.SkipWithError("the page cache cannot be dropped");
        state.ResumeTiming();
        if (fetch("") != kFileSize) state.SkipWithError("short body");
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
    state.SetBytesProcessed(std::int64_t(state.iterations() * kFileSize));
}

void BM_FetchRangesSequential(benchmark::State& state) {
    warmPageCache();
    for (auto _ : state) {
        for (std::uint64_t at = 0; at < kFileSize; at += kRange) {
            if (fetch("bytes=" + std::to_string(at) + "-" + std::to_string(at + kRange - 1)) !=
                kRange)
                state.SkipWithError("short range");
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * kFileSize));
}

void BM_FetchRanges32AtOnce(benchmark::State& state) {
    warmPageCache();
    for (auto _ : state) {
        std::atomic<std::uint64_t> next = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 32; ++t) {
            threads.emplace_back([&] {
                for (std::uint64_t at; (at = next.fetch_add(kRange)) < kFileSize;) {
                    fetch("bytes=" + std::to_string(at) + "-" + std::to_string(at + kRange - 1));
                }
            });
        }
        for (auto& thread : threads) thread.join();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * kFileSize));
}

void BM_Cat(benchmark::State& state, Cache cache) {
    const std::string command = "cat '" + sourceFile() + "' > /dev/null";
    for (auto _ : state) {
        state.PauseTiming();
        if (!prepareCache(cache)) state.SkipWithError("the page cache cannot be dropped");
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * kFileSize));
}

using bench::peakResidentMiB;
using bench::spinUntil;

// A shown browser view on the application's context with a page of the "myapp" origin.
struct BrowserPage {
    bool open() {
        window = std::make_unique<gtk::Window>(gtk::Rect{0, 0, 400, 300}, gtk::Titled);
        view = std::make_shared<webkit::WebView>(
            webkit::WebView::Options{.context = WVWindowController::sharedContext()});
        window->setContent(view->widget());
        window->show();
        view->loadURI("myapp://x/ajax");
        return spinUntil([&] { return evaluate("location.href") == "\"myapp://x/ajax\""; }, 30);
    }
    std::string evaluate(const std::string& script) {
        std::optional<std::string> json;
        view->evaluateJavascript(script,
                                 [&](webkit::ScriptResult r) { json = r.json.value_or(""); });
        spinUntil([&] { return json.has_value(); }, 30);
        return json.value_or("");
    }
    std::unique_ptr<gtk::Window> window;
    std::shared_ptr<webkit::WebView> view;
};

void BM_BrowserViewFetch(benchmark::State& state, BrowserPage* page) {
    warmPageCache();
    const double peakBefore = peakResidentMiB();
    const std::string start =
        "window.read = null; fetch('/fetch?action=localfile&path=' + encodeURIComponent(" +
        foundation::json::write(foundation::Value(sourceFile())) +
        ")).then(async r => { const reader = r.body.getReader(); let n = 0;"
        "  for (;;) { const {done, value} = await reader.read(); if (done) break;"
        "             n += value.byteLength; }"
        "  window.read = n; }).catch(e => window.read = String(e)); true";
    for (auto _ : state) {
        page->evaluate(start);
        std::string read;
        if (!spinUntil([&] { return (read = page->evaluate("window.read")) != "null"; }, 600) ||
            read != std::to_string(kFileSize)) {
            state.SkipWithError(("the page read " + read).c_str());
            break;
        }
    }
    state.counters["peak_rss_MiB"] = peakResidentMiB();
    state.counters["peak_growth_MiB"] = peakResidentMiB() - peakBefore;
    state.SetBytesProcessed(std::int64_t(state.iterations() * kFileSize));
}

BENCHMARK_CAPTURE(BM_WholeFileGet, Cold, Cache::Cold)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Cat, Cold, Cache::Cold)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_WholeFileGet, Warm, Cache::Warm)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Cat, Warm, Cache::Warm)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FetchRangesSequential)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FetchRanges32AtOnce)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const std::string warmCat = "BM_Cat/Warm/iterations:3/real_time";
    std::vector<std::pair<std::string, std::string>> pairs = {
        {"BM_WholeFileGet/Cold/iterations:1/real_time", "BM_Cat/Cold/iterations:1/real_time"},
        {"BM_WholeFileGet/Warm/iterations:1/real_time", warmCat},
        {"BM_FetchRangesSequential/iterations:3/real_time", warmCat},
        {"BM_FetchRanges32AtOnce/iterations:3/real_time", warmCat}};
    BrowserPage page;
    if (gtk::Application::initialize(argc, argv)) {
        foundation::MainQueue::bindToCurrentThread();
        content::registerSchemeResponders();
        g_timeout_add_seconds(
            1, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
        if (page.open()) {
            benchmark::RegisterBenchmark("BM_BrowserViewFetch", BM_BrowserViewFetch, &page)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            pairs.push_back({"BM_BrowserViewFetch/iterations:1/real_time", warmCat});
        } else {
            std::fprintf(stderr, "the browser view did not load its page: no browser-view case\n");
        }
    } else {
        std::fprintf(stderr, "no display (run under xvfb-run -a): no browser-view case\n");
    }
    const int result = bench::runWithBaselines(argc, argv, pairs);
    std::filesystem::remove(sourceFile());
    return result;
}
