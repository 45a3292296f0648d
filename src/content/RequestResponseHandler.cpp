#include "content/RequestResponseHandler.h"

#include <execinfo.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <exception>

#include <fmt/format.h>

#include "content/PageOrigins.h"
#include "foundation/ConsolePrint.h"

namespace content {
namespace {

// The method table: HEAD tries its own operation, then GET.
std::vector<RequestResponseHandler::Operation> operationsFor(const std::string& method) {
    using Op = RequestResponseHandler::Operation;
    std::string lower;
    for (char c : method) lower += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    if (lower == "head") return {Op::Head, Op::Get};
    if (lower == "get") return {Op::Get};
    if (lower == "post") return {Op::Post};
    return {};
}

// The URL error of a connection lost midway.
constexpr std::int64_t kNetworkConnectionLost = -1005;

// The "Content-Length" of the head; 0 when it has none or it is no number.
std::uint64_t announcedLength(const HTTPURLResponse& head) {
    const std::string text = head.allHeaderFields().get("Content-Length").value_or("");
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    return error == std::errc() && end == text.data() + text.size() ? length : 0;
}

// The failure, then the call stack that delivered, so that the task at fault can be found.
void reportDeliveryFailure(const char* description) {
    foundation::printToConsole("{}\n", description);
    std::array<void*, 64> frames{};
    const int count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
    ::backtrace_symbols_fd(frames.data(), count, STDERR_FILENO);
}

}  // namespace

std::shared_ptr<HTTPURLResponse> RequestResponseHandler::statusOnly(const URLRequest& request,
                                                                    std::int64_t status) const {
    return std::make_shared<MyHttpURLResponse>(request.url, status, classHeaders());
}

void RequestResponseHandler::stop() {
    std::lock_guard guard(lock_);
    stopped_ = true;
}

bool RequestResponseHandler::stopped() const {
    std::lock_guard guard(lock_);
    return stopped_;
}

std::shared_ptr<HTTPURLResponse> RequestResponseHandler::respond(const URLRequest& request,
                                                                 SchemeTask& task) {
    // A page of another origin gets nothing of ours, and no responder runs for it. The
    // page is judged by what its view shows: a page may leave the Origin out.
    if (const auto origin = request.allHTTPHeaderFields.get("Origin");
        origin && !PageOrigins::isOwnPage(*origin)) {
        return statusOnly(request, 403);
    }
    if (request.pageURL && !answersEveryPage() && !PageOrigins::isOwnPage(*request.pageURL)) {
        return statusOnly(request, 403);
    }
    for (Operation op : operationsFor(request.httpMethod)) {
        if (!implements(op)) continue;
        // The page would wait for ever on a request that is never finished, so a responder
        // with nothing to say, or one that fails, still gets an answer.
        try {
            std::shared_ptr<HTTPURLResponse> response;
            switch (op) {
                case Operation::Head:
                    response = headResponse(request, task);
                    break;
                case Operation::Get:
                    response = getResponse(request, task);
                    break;
                case Operation::Post:
                    response = postResponse(request, task);
                    break;
            }
            return response ? response : statusOnly(request, 500);
        } catch (const std::exception& e) {
            foundation::printToConsole("responder for {} failed: {}\n", request.url.path(), e.what());
        } catch (...) {
            foundation::printToConsole("responder for {} failed\n", request.url.path());
        }
        return statusOnly(request, 500);
    }
    return statusOnly(request, 405);
}

void RequestResponseHandler::handle(const URLRequest& request,
                                    const std::shared_ptr<SchemeTask>& task,
                                    const std::function<void()>& finish) {
    deliver(respond(request, *task), *task);
    if (finish) finish();
}

void RequestResponseHandler::deliver(const std::shared_ptr<HTTPURLResponse>& response,
                                     SchemeTask& task) {
    const foundation::Data* body = nullptr;
    MyHttpURLResponse::BodyPieces pieces;
    if (auto* mine = dynamic_cast<MyHttpURLResponse*>(response.get())) {
        auto& headers = mine->allHeaderFields();
        // Our own pages of another origin (the development server) may read the answer;
        // no other page may.
        if (const auto origin = task.request().allHTTPHeaderFields.get("Origin");
            origin && PageOrigins::isOwnPage(*origin)) {
            headers.set("Access-Control-Allow-Origin", *origin);
            headers.set("Access-Control-Allow-Methods", "*");
            headers.set("Vary", "Origin");
        }
        if (!mine->data().empty()) body = &mine->data();
        pieces = mine->bodyPieces();
        if (!headers.contains("Content-Type") && !mine->MIMEType().empty()) {
            headers.set("Content-Type", mine->MIMEType());
        }
        // Every answer states its length, an empty one too, so the page never waits for
        // more.
        if (!headers.contains("Content-Length")) {
            headers.set("Content-Length", std::to_string(body ? body->size() : 0));
        }
    }
    const HTTPURLResponse head(response->url(), response->statusCode(), "HTTP/1.1",
                               response->allHeaderFields());
    try {
        if (stopped()) return;
        task.didReceiveResponse(head);
        if (body && !stopped()) task.didReceiveData(*body);
        // A body read in pieces can break off (a read fails, the file shrank): what came
        // is then not the content, and the request fails rather than finish short.
        bool brokeOff = false;
        std::uint64_t sent = 0;
        while (pieces && !stopped()) {
            const auto piece = pieces();
            if (!piece) {
                brokeOff = true;
                break;
            }
            if (piece->empty()) break;
            sent += piece->size();
            task.didReceiveData(*piece);
        }
        if (pieces && sent < announcedLength(head)) brokeOff = true;
        if (stopped()) return;
        if (brokeOff) {
            task.didFailWithError({"NSURLErrorDomain", kNetworkConnectionLost,
                                   "The body of " + task.request().url.path() + " broke off.", {}});
        } else {
            task.didFinish();
        }
    } catch (const std::exception& e) {
        reportDeliveryFailure(e.what());
    } catch (...) {
        reportDeliveryFailure("delivering a response failed");
    }
}

}  // namespace content
