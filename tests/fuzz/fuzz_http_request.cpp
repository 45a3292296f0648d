// A server's answer, whatever its bytes, ends a request as a response or as an error: the
// head is interpreted (length, keep-alive, charset, cookies, redirects), the body held within
// its limit and inflated within it, and the request always completes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

#include "http/NetHTTPRequest.h"
#include "support/httpserver/TestHttpServer.h"

namespace {

constexpr std::uint64_t Limit = 1 << 20;

std::mutex answerLock;
std::string answer;

testsupport::TestHttpServer& server() {
    static testsupport::TestHttpServer instance([](const testsupport::ReceivedRequest&) {
        testsupport::ScriptedAnswer scripted;
        std::lock_guard guard(answerLock);
        scripted.raw = answer;
        // The end of the connection ends whatever the answer left open.
        scripted.then = testsupport::ScriptedAnswer::Then::Close;
        return scripted;
    });
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::lock_guard guard(answerLock);
        answer.assign(reinterpret_cast<const char*>(data), size);
    }
    auto request = NetHTTPRequest::requestWithURL(foundation::Url::parse(server().url("/fuzz")));
    request->setMaximumResponseDataLength(Limit);
    request->setTimeOutSeconds(2);
    request->startSynchronous();
    if (!request->complete()) std::abort();
    if (request->rawResponseData().size() > Limit) std::abort();
    if (auto body = request->responseData(); body && body->size() > Limit) std::abort();
    request->responseString();
    if (!request->error() && request->responseStatusCode() < 100) std::abort();
    return 0;
}
