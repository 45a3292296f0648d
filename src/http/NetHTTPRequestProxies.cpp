// Which proxy a request goes through: one set on the request, the system's, or the answer
// of an auto-configuration script read from a file or fetched by a nested request.

#include <algorithm>

#include "http/NetCredentialRecord.h"
#include "http/NetHTTPRequest.h"
#include "http/NetTextEncoding.h"
#include "platform/net/NetFileReadStream.h"
#include "platform/net/NetPACScript.h"
#include "platform/net/NetRunLoop.h"
#include "platform/net/NetSystemProxies.h"

using foundation::Url;

namespace {

// A script longer than this is not read.
constexpr std::size_t MaximumScriptLength = 4 * 1024 * 1024;
// How long a script may run for one URL.
constexpr std::chrono::duration<double> ScriptTimeLimit(2.0);

// The script request of an asynchronous request: it tells the waiting request when it
// is over, whatever the outcome, on a later turn of the run loop, so that the waiting
// request's lock is never taken while this one's is held.
class NetPACFileRequest : public NetHTTPRequest {
public:
    NetPACFileRequest(Url url, std::function<void(NetHTTPRequest&)> done)
        : NetHTTPRequest(std::move(url)), done_(std::move(done)) {}

protected:
    void requestFinished() override { tell(); }
    void reportFailure() override { tell(); }

private:
    void tell() {
        auto done = std::exchange(done_, nullptr);
        if (!done) return;
        net::NetRunLoop::current().perform(
            runLoopMode(), [done = std::move(done), self = shared_from_this()] { done(*self); });
    }
    std::function<void(NetHTTPRequest&)> done_;
};

}  // namespace

bool NetHTTPRequest::configureProxies() {
    if (isPACFileRequest_ || !proxyHost_.empty() || proxyPort_ != 0) return true;
    if (PACurl_) {
        fetchPACFile();
        return false;
    }
    auto settings = net::NetSystemProxies::copySystemProxySettings();
    if (settings.automaticWithoutScript) {
        destroyReadStream();
        failWithError(makeNetError(NetInternalErrorWhileBuildingRequestType,
                                   "Unable to obtain information on proxy servers needed for "
                                   "request"));
        return false;
    }
    auto proxies = net::NetSystemProxies::copyProxiesForURL(*url_, settings);
    if (proxies.empty()) return true;
    const auto& first = proxies.front();
    if (first.type == net::NetProxyEntry::Type::AutoConfigurationURL) {
        PACurl_ = Url::parse(first.autoConfigurationURL);
        if (!PACurl_) return true;  // an address that is no URL: straight to the server
        PACurlChosenForURL_ = true;
        fetchPACFile();
        return false;
    }
    proxyHost_ = first.host;
    proxyPort_ = first.port;
    proxyType_ = net::proxyTypeName(first.type);
    proxyChosenForURL_ = true;
    if (proxyUsername_.empty() && proxyPassword_.empty() &&
        !(first.username.empty() && first.password.empty())) {
        // For this proxy only: they go when a redirect leaves it.
        proxyUsername_ = first.username;
        proxyPassword_ = first.password;
        proxyCredentialsChosenForURL_ = true;
    }
    return true;
}

void NetHTTPRequest::fetchPACFile() {
    const Url& script = *PACurl_;
    std::string scheme = script.scheme();
    if (scheme == "file") {
        auto path = script.filePath();
        if (!path) return startRequest();
        // Read on the run loop under the time-out: the file may never answer (a FIFO, a
        // hung network file system).
        PACFileReadStream_ = net::NetFileReadStream::create(*path);
        if (!PACFileReadStream_) return startRequest();
        if (runLoop_ == nullptr) runLoop_ = &net::NetRunLoop::current();
        PACFileData_.clear();
        std::weak_ptr<NetHTTPRequest> weak = weak_from_this();
        PACFileReadStream_->setClient(net::NetStreamEventMaskReadStream,
                                      [weak](net::NetStreamEvent event) {
                                          if (auto self = weak.lock())
                                              self->streamHandleEvent(event);
                                      });
        PACFileReadStream_->scheduleInRunLoop(*runLoop_, runLoopMode_);
        if (!PACFileReadStream_->open()) {
            closePACFileReadStream();
            return startRequest();
        }
        if (timeOutSeconds_ > 0) {
            PACFileReadTimer_ = runLoop_->addTimer(
                runLoopMode_, std::chrono::duration<double>(timeOutSeconds_), false, [weak] {
                    if (auto self = weak.lock()) self->timeOutPACRead();
                });
        }
        return;
    }
    if (scheme != "http" && scheme != "https") return startRequest();

    if (isSynchronous_) {
        auto request = NetHTTPRequest::requestWithURL(script);
        request->isPACFileRequest_ = true;
        request->timeOutSeconds_ = timeOutSeconds_;
        // The nested request turns this thread's run loop in its own run of the private mode.
        request->startSynchronous();
        finishedDownloadingPACFile(*request);
        return;
    }
    std::weak_ptr<NetHTTPRequest> weak = weak_from_this();
    auto request = std::make_shared<NetPACFileRequest>(script, [weak](NetHTTPRequest& done) {
        if (auto self = weak.lock()) self->finishedDownloadingPACFile(done);
    });
    request->isPACFileRequest_ = true;
    request->timeOutSeconds_ = timeOutSeconds_;
    PACFileRequest_ = request;
    request->start();
}

void NetHTTPRequest::streamHandleEvent(net::NetStreamEvent event) {
    std::lock_guard guard(cancelledLock_);
    if (!PACFileReadStream_) return;
    if (event == net::NetStreamEventHasBytesAvailable) {
        std::uint8_t buffer[16384];
        std::size_t n = PACFileReadStream_->read(buffer, sizeof buffer);
        PACFileData_.insert(PACFileData_.end(), buffer, buffer + n);
        if (PACFileData_.size() <= MaximumScriptLength) return;
        event = net::NetStreamEventErrorOccurred;  // too long to be a script
    }
    foundation::Data data = std::move(PACFileData_);
    closePACFileReadStream();
    if (event == net::NetStreamEventEndEncountered) {
        auto text = NetTextEncoding::decode(data, "UTF-8");
        if (!text) text = NetTextEncoding::decode(data, "ISO-8859-1");
        if (text) runPACScript(*text);
    }
    if (cancelled_ || complete_) return;
    startRequest();
}

void NetHTTPRequest::timeOutPACRead() {
    streamHandleEvent(net::NetStreamEventErrorOccurred);
}

void NetHTTPRequest::closePACFileReadStream() {
    if (PACFileReadTimer_) PACFileReadTimer_->invalidate();
    PACFileReadTimer_.reset();
    if (PACFileReadStream_) PACFileReadStream_->close();
    PACFileReadStream_.reset();
    PACFileData_.clear();
}

void NetHTTPRequest::finishedDownloadingPACFile(NetHTTPRequest& pacRequest) {
    std::lock_guard guard(cancelledLock_);
    if (!isSynchronous_ && PACFileRequest_.get() != &pacRequest) return;  // given up on
    PACFileRequest_.reset();
    if (cancelled_ || complete_) return;
    if (!pacRequest.error()) {
        if (auto text = pacRequest.responseString()) runPACScript(*text);
    }
    startRequest();
}

void NetHTTPRequest::runPACScript(const std::string& script) {
    if (!url_) return;
    auto proxies = net::NetPACScript::copyProxiesForURL(script, *url_, ScriptTimeLimit);
    if (!proxies || proxies->empty()) return;
    const auto& first = proxies->front();
    if (first.type == net::NetProxyEntry::Type::None) return;
    proxyHost_ = first.host;
    proxyPort_ = first.port;
    proxyType_ = url_->scheme() == "https" && first.type == net::NetProxyEntry::Type::HTTP
                     ? "HTTPS"
                     : net::proxyTypeName(first.type);
    proxyChosenForURL_ = true;
}

std::optional<net::NetProxySettings> NetHTTPRequest::proxySettingsForStream() const {
    if (proxyHost_.empty() || proxyPort_ <= 0 || proxyPort_ > 65535) return std::nullopt;
    net::NetProxySettings proxy{proxyHost_, static_cast<std::uint16_t>(proxyPort_),
                                proxyAuthorization_};
    if (proxyType_ != net::proxyTypeName(net::NetProxyEntry::Type::SOCKS)) {
        if (!proxyAuthorization_.empty() && proxyAuthorizationCredentials_) {
            proxy.username = proxyAuthorizationCredentials_->username;
            proxy.password = proxyAuthorizationCredentials_->password;
        }
        return proxy;
    }
    proxy.kind = net::NetProxySettings::Kind::SOCKS;
    proxy.authorization.clear();
    // A SOCKS proxy asks for its credentials before any byte of HTTP, so they are offered
    // up front: the ones a proxy challenge would be answered with.
    if (auto credentials = findProxyCredentials()) {
        proxy.username = credentials->username;
        proxy.password = credentials->password;
    }
    // The request's own time-out, within bounds a duration can hold.
    if (timeOutSeconds_ > 0) {
        proxy.socksTimeLimit = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(std::min(timeOutSeconds_, 24 * 3600.0)));
    }
    return proxy;
}

void NetHTTPRequest::forgetProxyChosenForURL() {
    if (proxyChosenForURL_) {
        proxyHost_.clear();
        proxyPort_ = 0;
        proxyType_.clear();
        forgetProxyCredentialsApplied();
        proxyChosenForURL_ = false;
    }
    if (PACurlChosenForURL_) {
        PACurl_.reset();
        PACurlChosenForURL_ = false;
    }
}
