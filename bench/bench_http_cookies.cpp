// Storing 20,000 cookies for one parent domain, one second apart, as a site that floods its
// neighbours does: our cookie jar (and the jar with the session list, as a response stores
// them) against libcurl's cookie engine taking the same "Set-Cookie" values.
#include <curl/curl.h>

#include <string>
#include <vector>

#include "BaselineReport.h"
#include "http/NetCookieJar.h"
#include "http/NetSessionCookies.h"

namespace {

constexpr int CookieCount = 20000;
constexpr double Start = 1'700'000'000;

const std::vector<std::string>& setCookieValues() {
    static const std::vector<std::string> values = [] {
        std::vector<std::string> result;
        for (int i = 0; i < CookieCount; ++i)
            result.push_back("c" + std::to_string(i) + "=" + std::string(100, 'v') +
                             "; Path=/; Domain=shop.example");
        return result;
    }();
    return values;
}

const std::vector<NetCookie>& cookies() {
    static const std::vector<NetCookie> parsed = [] {
        const auto site = *foundation::Url::parse("http://a.shop.example/");
        std::vector<NetCookie> result;
        for (int i = 0; i < CookieCount; ++i)
            result.push_back(*NetCookie::fromSetCookie(setCookieValues()[i], site, Start + i));
        return result;
    }();
    return parsed;
}

void BM_NetCookieJarSet20000(benchmark::State& state) {
    cookies();
    for (auto _ : state) {
        NetCookieJar jar;
        for (int i = 0; i < CookieCount; ++i) jar.setCookie(cookies()[i], Start + i);
        benchmark::DoNotOptimize(jar.cookies().size());
    }
    state.SetItemsProcessed(state.iterations() * CookieCount);
}

void BM_NetCookieJarAndSessionListSet20000(benchmark::State& state) {
    cookies();
    for (auto _ : state) {
        NetCookieJar jar;
        NetSessionCookies session(jar);
        for (int i = 0; i < CookieCount; ++i) {
            jar.setCookie(cookies()[i], Start + i);
            session.addSessionCookie(cookies()[i]);
        }
        benchmark::DoNotOptimize(session.sessionCookies().size());
    }
    state.SetItemsProcessed(state.iterations() * CookieCount);
}

void BM_LibcurlCookieEngineSet20000(benchmark::State& state) {
    std::vector<std::string> lines;
    for (const auto& value : setCookieValues()) lines.push_back("Set-Cookie: " + value);
    for (auto _ : state) {
        CURL* handle = curl_easy_init();
        for (const auto& line : lines) curl_easy_setopt(handle, CURLOPT_COOKIELIST, line.c_str());
        curl_easy_cleanup(handle);
    }
    state.SetItemsProcessed(state.iterations() * CookieCount);
}

}  // namespace

BENCHMARK(BM_NetCookieJarSet20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetCookieJarAndSessionListSet20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibcurlCookieEngineSet20000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int result = bench::runWithBaselines(
        argc, argv,
        {{"BM_NetCookieJarSet20000", "BM_LibcurlCookieEngineSet20000"},
         {"BM_NetCookieJarAndSessionListSet20000", "BM_LibcurlCookieEngineSet20000"}});
    curl_global_cleanup();
    return result;
}
