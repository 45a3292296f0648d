// Storing 20,000 cookies, one second apart: for one parent domain, as a site that floods its
// neighbours does, and spread over 400 domains, which keeps the jar full at its bound. Our
// cookie jar (and the jar with the session list, as a response stores them) against
// libcurl's cookie engine taking the same "Set-Cookie" values.
#include <curl/curl.h>

#include <string>
#include <utility>
#include <vector>

#include "BaselineReport.h"
#include "http/NetCookieJar.h"
#include "http/NetSessionCookies.h"

namespace {

constexpr int CookieCount = 20000;
constexpr double Start = 1'700'000'000;

// The domain of cookie i: one for all (0 domains given), else one of `domains` in turn.
std::string domainOf(int i, int domains) {
    return domains == 0 ? "shop.example" : "d" + std::to_string(i % domains) + ".example";
}

std::vector<std::string> setCookieValues(int domains) {
    std::vector<std::string> result;
    for (int i = 0; i < CookieCount; ++i)
        result.push_back("c" + std::to_string(i) + "=" + std::string(100, 'v') +
                         "; Path=/; Domain=" + domainOf(i, domains));
    return result;
}

std::vector<NetCookie> cookies(int domains) {
    const auto values = setCookieValues(domains);
    std::vector<NetCookie> result;
    for (int i = 0; i < CookieCount; ++i) {
        const auto site = *foundation::Url::parse("http://a." + domainOf(i, domains) + "/");
        result.push_back(*NetCookie::fromSetCookie(values[i], site, Start + i));
    }
    return result;
}

// Argument: the number of domains, 0 for one parent domain.
void BM_NetCookieJarSet20000(benchmark::State& state) {
    const auto all = cookies(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        NetCookieJar jar;
        for (int i = 0; i < CookieCount; ++i) jar.setCookie(all[i], Start + i);
        benchmark::DoNotOptimize(jar.cookies().size());
    }
    state.SetItemsProcessed(state.iterations() * CookieCount);
}

void BM_NetCookieJarAndSessionListSet20000(benchmark::State& state) {
    const auto all = cookies(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        NetCookieJar jar;
        NetSessionCookies session(jar);
        for (int i = 0; i < CookieCount; ++i) {
            jar.setCookie(all[i], Start + i);
            session.addSessionCookie(all[i]);
        }
        benchmark::DoNotOptimize(session.sessionCookies().size());
    }
    state.SetItemsProcessed(state.iterations() * CookieCount);
}

void BM_LibcurlCookieEngineSet20000(benchmark::State& state) {
    std::vector<std::string> lines;
    for (const auto& value : setCookieValues(static_cast<int>(state.range(0))))
        lines.push_back("Set-Cookie: " + value);
    for (auto _ : state) {
        CURL* handle = curl_easy_init();
        for (const auto& line : lines) curl_easy_setopt(handle, CURLOPT_COOKIELIST, line.c_str());
        curl_easy_cleanup(handle);
    }
    state.SetItemsProcessed(state.iterations() * CookieCount);
}

}  // namespace

BENCHMARK(BM_NetCookieJarSet20000)->Arg(0)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetCookieJarAndSessionListSet20000)->Arg(0)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibcurlCookieEngineSet20000)->Arg(0)->Arg(400)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const char* domains : {"/0", "/400"}) {
        for (const char* ours : {"BM_NetCookieJarSet20000", "BM_NetCookieJarAndSessionListSet20000"})
            pairs.emplace_back(std::string(ours) + domains,
                               std::string("BM_LibcurlCookieEngineSet20000") + domains);
    }
    int result = bench::runWithBaselines(argc, argv, pairs);
    curl_global_cleanup();
    return result;
}
