// The request's description, its body and headers, the synchronous and network-thread
// starts, and one attempt on a (possibly reused) connection.

#include "http/NetHTTPRequest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "data/helpers/NSStringHelpers.h"
#include "foundation/Base64.h"
#include "foundation/MainQueue.h"
#include "foundation/Paths.h"
#include "http/NetConnectionPool.h"
#include "http/NetCookieJar.h"
#include "http/NetDataCompressor.h"
#include "http/NetDataDecompressor.h"
#include "http/NetHeaderMatching.h"
#include "http/NetInputStream.h"
#include "http/NetNetworkThread.h"
#include "http/NetOperationQueue.h"
#include "http/NetOrigin.h"
#include "http/NetRequestDefaults.h"
#include "platform/net/NetHTTPStream.h"
#include "platform/net/NetRunLoop.h"

using foundation::Data;
using foundation::Url;

namespace {

constexpr std::size_t FileCopyPieceSize = 262144;

// An exception inside main: named after it, its reason as the failure reason, and beneath
// it an error of the same code with the exception's user info (ours carry none).
foundation::Error unhandledExceptionError(const std::string& name, const std::string& reason) {
    auto error = makeNetError(NetUnhandledExceptionError, name);
    error.userInfo.set("NSLocalizedFailureReason", reason);
    error.userInfo.set(
        "NSUnderlyingError",
        foundation::Value::dict({{"domain", NetworkRequestErrorDomain},
                                 {"code", static_cast<int>(NetUnhandledExceptionError)},
                                 {"userInfo", foundation::Value::dict({})}}));
    return error;
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool isToken(std::string_view text) {
    if (text.empty()) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F && std::strchr("\"(),/:;<=>?@[\\]{}", c) == nullptr;
    });
}

bool isSafeHeaderValue(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

NetHTTPRequest::NetHTTPRequest(std::optional<Url> url)
    : url_(std::move(url)),
      timeOutSeconds_(NetRequestDefaults::shared().defaultTimeOutSeconds()),
      runLoopMode_(net::NetDefaultRunLoopMode),
      downloadCache_(NetRequestDefaults::shared().defaultCache()) {}

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::requestWithURL(std::optional<Url> url) {
    return std::make_shared<NetHTTPRequest>(std::move(url));
}

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::requestWithURL(
    std::optional<Url> url, std::shared_ptr<NetCacheDelegate> cache, int cachePolicy) {
    auto request = std::make_shared<NetHTTPRequest>(std::move(url));
    request->setDownloadCache(std::move(cache));
    request->setCachePolicy(cachePolicy);
    return request;
}

NetHTTPRequest::~NetHTTPRequest() {
    if (statusTimer_) statusTimer_->invalidate();
    if (postBodyWriteFd_ >= 0) ::close(postBodyWriteFd_);
    closeDownloadFiles();
    if (readStream_) {
        readStream_->setClient(0, {});
        if (!connectionCanBeReused_ || !downloadComplete_) readStream_->close();
    }
    if (postBodyReadStream_) postBodyReadStream_->setRequest(nullptr);
    // Never finished and not to be resumed: the temporary download is of no use. Nobody is
    // left to hear of a file that would not go.
    if (!complete_ && !allowResumeForFileDownloads_ && !temporaryFileDownloadPath_.empty())
        ::unlink(temporaryFileDownloadPath_.c_str());
    if (!complete_ && !temporaryUncompressedDataDownloadPath_.empty())
        ::unlink(temporaryUncompressedDataDownloadPath_.c_str());
    if (didCreateTemporaryPostDataFile_) {
        for (const auto* path : {&postBodyFilePath_, &compressedPostBodyFilePath_}) {
            if (!path->empty()) ::unlink(path->c_str());
        }
    }
    releaseBlocksOnMainThread();
}

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::copy() const {
    std::lock_guard guard(cancelledLock_);
    auto other = std::make_shared<NetHTTPRequest>(url_);
    copyPropertiesInto(*other);
    return other;
}

void NetHTTPRequest::copyPropertiesInto(NetHTTPRequest& other) const {
    other.delegate_ = delegate_;
    // The method first: a body or "POST" turns persistent connections off, which is undone
    // below.
    other.setRequestMethod(requestMethod_);
    other.postBody_ = postBody_;
    other.shouldStreamPostDataFromDisk_ = shouldStreamPostDataFromDisk_;
    other.postBodyFilePath_ = postBodyFilePath_;
    other.requestHeaders_ = requestHeaders_;
    other.requestCookies_ = requestCookies_;
    other.useCookiePersistence_ = useCookiePersistence_;
    other.useKeychainPersistence_ = useKeychainPersistence_;
    other.useSessionPersistence_ = useSessionPersistence_;
    other.allowCompressedResponse_ = allowCompressedResponse_;
    other.downloadDestinationPath_ = downloadDestinationPath_;
    other.temporaryFileDownloadPath_ = temporaryFileDownloadPath_;
    other.username_ = username_;
    other.password_ = password_;
    other.domain_ = domain_;
    other.proxyUsername_ = proxyUsername_;
    other.proxyPassword_ = proxyPassword_;
    other.proxyDomain_ = proxyDomain_;
    other.proxyHost_ = proxyHost_;
    other.proxyPort_ = proxyPort_;
    other.proxyType_ = proxyType_;
    other.uploadProgressDelegate_ = uploadProgressDelegate_;
    other.downloadProgressDelegate_ = downloadProgressDelegate_;
    other.shouldPresentAuthenticationDialog_ = shouldPresentAuthenticationDialog_;
    other.shouldPresentProxyAuthenticationDialog_ = shouldPresentProxyAuthenticationDialog_;
    other.postLength_ = postLength_;
    other.haveBuiltPostBody_ = haveBuiltPostBody_;
    other.didStartSelector_ = didStartSelector_;
    other.didFinishSelector_ = didFinishSelector_;
    other.didFailSelector_ = didFailSelector_;
    other.timeOutSeconds_ = timeOutSeconds_;
    other.shouldResetDownloadProgress_ = shouldResetDownloadProgress_;
    other.shouldResetUploadProgress_ = shouldResetUploadProgress_;
    other.showAccurateProgress_ = showAccurateProgress_;
    other.defaultResponseEncoding_ = defaultResponseEncoding_;
    other.allowResumeForFileDownloads_ = allowResumeForFileDownloads_;
    other.userInfo_ = userInfo_;
    other.tag_ = tag_;
    other.useHTTPVersionOne_ = useHTTPVersionOne_;
    other.shouldRedirect_ = shouldRedirect_;
    other.validatesSecureCertificate_ = validatesSecureCertificate_;
    other.clientIdentity_ = clientIdentity_;
    other.clientCertificates_ = clientCertificates_;
    other.PACurl_ = PACurl_;
    other.shouldPresentCredentialsBeforeChallenge_ = shouldPresentCredentialsBeforeChallenge_;
    other.numberOfTimesToRetryOnTimeout_ = numberOfTimesToRetryOnTimeout_;
    other.shouldUseRFC2616RedirectBehaviour_ = shouldUseRFC2616RedirectBehaviour_;
    other.shouldAttemptPersistentConnection_ = shouldAttemptPersistentConnection_;
    other.persistentConnectionTimeoutSeconds_ = persistentConnectionTimeoutSeconds_;
    other.authenticationScheme_ = authenticationScheme_;
    other.maximumResponseDataLength_ = maximumResponseDataLength_;
    // The cache settings are not carried over: the copy starts with the default cache and
    // policies, as a new request does.
}

// --- Description ---

std::optional<Url> NetHTTPRequest::url() const {
    std::lock_guard guard(cancelledLock_);
    return url_;
}

void NetHTTPRequest::setURL(std::optional<Url> url) {
    std::lock_guard guard(cancelledLock_);
    if (url == url_) return;
    // Credentials applied for one origin answer no other's challenge.
    if (!url || !url_ || !NetOrigin::same(*url, *url_)) forgetServerCredentialsApplied();
    url_ = std::move(url);
    redirectURL_.reset();
    requestAuthentication_.reset();
    proxyAuthentication_.reset();
}

std::string NetHTTPRequest::requestMethod() const {
    std::lock_guard guard(cancelledLock_);
    return requestMethod_;
}

void NetHTTPRequest::setRequestMethod(const std::string& method) {
    std::lock_guard guard(cancelledLock_);
    if (requestMethod_ == method) return;
    requestMethod_ = method;
    if (method == "POST" || method == "PUT" || !postBody_->empty() || !postBodyFilePath_.empty())
        shouldAttemptPersistentConnection_ = false;
}

std::optional<std::string> NetHTTPRequest::requestHeader(std::string_view name) const {
    auto found = NetHeaderMatching::find(requestHeaders_, name);
    if (found == requestHeaders_.end()) return std::nullopt;
    return found->second;
}

void NetHTTPRequest::addRequestHeader(const std::string& name, const std::string& value) {
    auto found = NetHeaderMatching::find(requestHeaders_, name);
    if (found != requestHeaders_.end()) {
        *found = {name, value};
    } else {
        requestHeaders_.emplace_back(name, value);
    }
}

void NetHTTPRequest::removeRequestHeader(std::string_view name) {
    std::erase_if(requestHeaders_,
                  [&](const auto& header) { return NetHeaderMatching::same(header.first, name); });
}

void NetHTTPRequest::setClientCertificateIdentity(std::string chainPEM, std::string keyPEM) {
    clientIdentity_.clientCertificateChainPEM = std::move(chainPEM);
    clientIdentity_.clientPrivateKeyPEM = std::move(keyPEM);
}

void NetHTTPRequest::setClientCertificates(std::vector<std::string> certificatesPEM) {
    clientCertificates_ = std::move(certificatesPEM);
}

void NetHTTPRequest::setProxy(std::string host, int port) {
    proxyHost_ = std::move(host);
    proxyPort_ = port;
}

std::optional<int> NetHTTPRequest::connectionID() const {
    std::lock_guard guard(NetConnectionPool::shared().connectionsLock());
    if (!connectionInfo_) return std::nullopt;
    return connectionInfo_->id;
}

bool NetHTTPRequest::isCancelled() const {
    std::lock_guard guard(cancelledLock_);
    return cancelled_;
}
bool NetHTTPRequest::complete() const {
    std::lock_guard guard(cancelledLock_);
    return complete_;
}
bool NetHTTPRequest::isFinished() const {
    std::lock_guard guard(cancelledLock_);
    return finished_;
}
bool NetHTTPRequest::inProgress() const {
    std::lock_guard guard(cancelledLock_);
    return inProgress_;
}

// --- Body ---

void NetHTTPRequest::setupPostBody() {
    if (!shouldStreamPostDataFromDisk_) return;
    if (postBodyFilePath_.empty()) {
        postBodyFilePath_ = foundation::Paths::tempDir() + "/" + NSString::guid();
        didCreateTemporaryPostDataFile_ = true;
    }
    if (postBodyWriteFd_ < 0) {
        postBodyWriteFd_ =
            ::open(postBodyFilePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
}

bool NetHTTPRequest::writeToBody(const std::uint8_t* bytes, std::size_t length) {
    if (length == 0) return true;
    if (!shouldStreamPostDataFromDisk_) {
        postBody_->insert(postBody_->end(), bytes, bytes + length);
        return true;
    }
    while (length > 0 && postBodyWriteFd_ >= 0) {
        ssize_t n = ::write(postBodyWriteFd_, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    if (length == 0) return true;
    failWithError(
        makeNetError(NetFileManagementError,
                     fmt::format("Failed to write the request body to '{}'", postBodyFilePath_)));
    return false;
}

void NetHTTPRequest::appendPostData(const Data& data) {
    setupPostBody();
    writeToBody(data.data(), data.size());
}

void NetHTTPRequest::appendPostData(std::string_view bytes) {
    setupPostBody();
    writeToBody(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

bool NetHTTPRequest::appendPostDataFromFile(const std::string& path) {
    setupPostBody();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failWithError(makeNetError(NetFileManagementError,
                                   fmt::format("Failed to read file at path '{}'", path)));
        return false;
    }
    std::vector<std::uint8_t> piece(FileCopyPieceSize);
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, piece.data(), piece.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failWithError(makeNetError(NetFileManagementError,
                                       fmt::format("Failed to read file at path '{}'", path)));
            ok = false;
        }
        if (n <= 0) break;
        if (!writeToBody(piece.data(), static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

void NetHTTPRequest::buildPostBody() {
    if (haveBuiltPostBody_) return;
    if (!postBodyFilePath_.empty() && shouldStreamPostDataFromDisk_) {
        if (postBodyWriteFd_ >= 0) {
            ::close(postBodyWriteFd_);
            postBodyWriteFd_ = -1;
        }
        std::string sent = postBodyFilePath_;
        if (shouldCompressRequestBody_) {
            if (compressedPostBodyFilePath_.empty()) {
                compressedPostBodyFilePath_ = foundation::Paths::tempDir() + "/" + NSString::guid();
                foundation::Error error;
                if (!NetDataCompressor::compressDataFromFile(postBodyFilePath_,
                                                             compressedPostBodyFilePath_, &error)) {
                    failWithError(error);
                    return;
                }
            }
            sent = compressedPostBodyFilePath_;
        }
        struct stat info {};
        if (::stat(sent.c_str(), &info) != 0) {
            auto error =
                makeNetError(NetFileManagementError,
                             fmt::format("Failed to get attributes for file at path '{}'", sent));
            error.userInfo.set("NSUnderlyingError", std::string(std::strerror(errno)));
            failWithError(error);
            return;
        }
        postLength_ = static_cast<std::uint64_t>(info.st_size);
    } else if (shouldCompressRequestBody_) {
        foundation::Error error;
        auto compressed = NetDataCompressor::compressData(*postBody_, &error);
        // No body compresses to nothing, without an error: then nothing is sent.
        if (!compressed && !error.domain.empty()) {
            failWithError(error);
            return;
        }
        compressedPostBody_ =
            compressed ? std::make_shared<Data>(std::move(*compressed)) : nullptr;
        postLength_ = compressedPostBody_ ? compressedPostBody_->size() : 0;
    } else {
        postLength_ = postBody_->size();
    }
    if (postLength_ != 0) {
        if (requestMethod_ == "GET" || requestMethod_ == "DELETE" || requestMethod_ == "HEAD")
            setRequestMethod("POST");
        addRequestHeader("Content-Length", fmt::format("{}", postLength_));
    }
    haveBuiltPostBody_ = true;
}

// --- Headers ---

void NetHTTPRequest::buildRequestHeaders() {
    if (haveBuiltRequestHeaders_) return;
    if (auto main = mainRequest()) {
        // A HEAD request sends what its main request would send.
        std::lock_guard mainGuard(main->cancelledLock_);
        for (const auto& [name, value] : main->requestHeaders_) addRequestHeader(name, value);
        haveBuiltRequestHeaders_ = true;
        return;
    }
    applyCookieHeader();
    if (!requestHeader("User-Agent")) {
        std::optional<std::string> agent;
        if (!userAgentString_.empty()) {
            agent = userAgentString_;
        } else {
            agent = NetRequestDefaults::shared().defaultUserAgentString();
        }
        if (agent && !agent->empty()) addRequestHeader("User-Agent", *agent);
    }
    if (allowCompressedResponse_) addRequestHeader("Accept-Encoding", "gzip");
    if (shouldCompressRequestBody_) addRequestHeader("Content-Encoding", "gzip");
    if (!updatePartialDownloadSize()) return;
    if (partialDownloadSize_ != 0)
        addRequestHeader("Range", fmt::format("bytes={}-", partialDownloadSize_));
    haveBuiltRequestHeaders_ = true;
}

bool NetHTTPRequest::updatePartialDownloadSize() {
    if (!allowResumeForFileDownloads_ || downloadDestinationPath_.empty() ||
        temporaryFileDownloadPath_.empty() ||
        ::access(temporaryFileDownloadPath_.c_str(), F_OK) != 0)
        return true;
    struct stat info {};
    if (::stat(temporaryFileDownloadPath_.c_str(), &info) != 0) {
        auto error = makeNetError(NetFileManagementError,
                                  fmt::format("Failed to get attributes for file at path '{}'",
                                              temporaryFileDownloadPath_));
        error.userInfo.set("NSUnderlyingError", std::string(std::strerror(errno)));
        failWithError(error);
        return false;
    }
    partialDownloadSize_ = static_cast<std::uint64_t>(info.st_size);
    return true;
}

void NetHTTPRequest::applyCookieHeader() {
    if (!url_) return;
    if (useCookiePersistence_) {
        auto stored = NetCookieJar::shared().cookiesForURL(*url_, nowSeconds());
        requestCookies_.insert(requestCookies_.end(), stored.begin(), stored.end());
    }
    if (requestCookies_.empty()) return;
    addRequestHeader("Cookie", NetCookieJar::cookieHeader(requestCookies_));
}

std::optional<foundation::Error> NetHTTPRequest::refuseUnsafeRequest() const {
    auto refuse =
        makeNetError(NetUnableToCreateRequestErrorType, "Unable to create request (bad url?)");
    if (!url_ || (url_->scheme() != "http" && url_->scheme() != "https") || url_->host().empty())
        return refuse;
    if (!isToken(requestMethod_)) return refuse;
    for (const auto& [name, value] : requestHeaders_) {
        if (!isToken(name) || !isSafeHeaderValue(value)) return refuse;
    }
    return std::nullopt;
}

// --- Running ---

void NetHTTPRequest::startSynchronous() {
    bool over = false;
    {
        std::lock_guard guard(cancelledLock_);
        isSynchronous_ = true;
        runLoopMode_ = RunLoopMode;
        inProgress_ = true;
        runLoop_ = &net::NetRunLoop::current();
        over = cancelled_ || complete_;
    }
    auto keep = shared_from_this();
    if (!over) {
        main();
        const auto finished = [this] {
            std::lock_guard guard(cancelledLock_);
            return complete_;
        };
        while (!finished()) runLoop_->runOnce(runLoopMode_, std::chrono::duration<double>(1e10));
    }
    std::lock_guard guard(cancelledLock_);
    inProgress_ = false;
}

bool NetHTTPRequest::start() {
    auto self = shared_from_this();
    {
        std::lock_guard guard(cancelledLock_);
        queued_ = false;
        if (inProgress_ || complete_ || cancelled_) {
            finishedSignal_.notify_all();
            return false;
        }
        inProgress_ = true;
        keepAliveWhileRunning_ = self;
    }
    NetNetworkThread::threadForRequest().perform([self] {
        {
            std::lock_guard guard(self->cancelledLock_);
            self->runLoop_ = &net::NetRunLoop::current();
        }
        self->main();
    });
    return true;
}

NetOperationQueue& NetHTTPRequest::sharedQueue() {
    // Made once and never destroyed: requests may still report to it at exit.
    static auto* queue = new NetOperationQueue(4);
    return *queue;
}

void NetHTTPRequest::startAsynchronous() {
    {
        std::lock_guard guard(cancelledLock_);
        queued_ = true;
    }
    sharedQueue().addOperation(shared_from_this());
}

void NetHTTPRequest::waitUntilFinished() {
    std::unique_lock guard(cancelledLock_);
    finishedSignal_.wait(guard, [this] { return finished_ || (!inProgress_ && !queued_); });
}

void NetHTTPRequest::main() {
    std::lock_guard guard(cancelledLock_);
    try {
        if (error_) {
            complete_ = true;
            markAsFinished();
            return;
        }
        complete_ = false;
        if (!url_) {
            failWithError(makeNetError(NetUnableToCreateRequestErrorType,
                                       "Unable to create request (bad url?)"));
            return;
        }
        didUseCachedResponse_ = false;
        auto main = mainRequest();
        if (!hasMainRequest_) buildPostBody();
        if (error_) return;
        // Only GET answers come from or go to the cache.
        if (requestMethod_ != "GET") downloadCache_.reset();
        if (main) {
            std::lock_guard mainGuard(main->cancelledLock_);
            main->buildRequestHeaders();
        }
        if (!haveBuiltRequestHeaders_) {
            buildRequestHeaders();
            if (error_) return;
        } else if (rebuildCookieHeader_) {
            applyCookieHeader();
        }
        rebuildCookieHeader_ = false;
        if (downloadCache_) {
            if (cachePolicy_ == 0) cachePolicy_ = downloadCache_->defaultCachePolicy();
            if (downloadCache_->canUseCachedDataForRequest(*this) && useDataFromCache()) return;
            if (cachePolicy_ &
                (NetAskServerIfModifiedWhenStaleCachePolicy | NetAskServerIfModifiedCachePolicy))
                addCachedValidators();
        }
        applyAuthorizationHeader();
        if (auto refused = refuseUnsafeRequest()) {
            failWithError(*refused);
            return;
        }
        if (configureProxies()) startRequest();
    } catch (const foundation::NamedException& e) {
        failWithError(unhandledExceptionError(e.name(), e.reason()));
    } catch (const std::exception& e) {
        failWithError(unhandledExceptionError("std::exception", e.what()));
    }
}

std::shared_ptr<NetInputStream> NetHTTPRequest::makeBodyStream() {
    if (shouldStreamPostDataFromDisk_ && !postBodyFilePath_.empty()) {
        const std::string& path = !compressedPostBodyFilePath_.empty() &&
                                          ::access(compressedPostBodyFilePath_.c_str(), F_OK) == 0
                                      ? compressedPostBodyFilePath_
                                      : postBodyFilePath_;
        if (::access(path.c_str(), F_OK) == 0)
            return NetInputStream::inputStreamWithFileAtPath(path, this);
        return nullptr;
    }
    if (postBody_->empty()) return nullptr;
    auto data = shouldCompressRequestBody_ && compressedPostBody_ ? compressedPostBody_ : postBody_;
    return NetInputStream::inputStreamWithData(data, this);
}

void NetHTTPRequest::startRequest() {
    std::lock_guard guard(cancelledLock_);
    if (cancelled_) return;
    requestStarted();

    downloadComplete_ = false;
    complete_ = false;
    totalBytesRead_ = 0;
    lastBytesRead_ = 0;
    if (redirectCount_ == 0) originalURL_ = url_;
    if (totalBytesSent_ > 0) removeUploadProgressSoFar();
    totalBytesSent_ = 0;
    lastBytesSent_ = 0;
    uploadBufferSize_ = 0;
    contentLength_ = 0;
    responseHeaders_.clear();
    haveReadResponseHeaders_ = false;
    downloadAlreadyWhole_ = false;
    responseStatusCode_ = 0;
    responseStatusMessage_.reset();
    responseCookies_.clear();
    connectionCanBeReused_ = false;
    authenticationNeeded_ = 0;
    dataDecompressor_.reset();
    if (downloadDestinationPath_.empty()) rawResponseData_.clear();
    rawResponseDataDropped_ = false;
    readStreamIsScheduled_ = false;
    if (runLoop_ == nullptr) runLoop_ = &net::NetRunLoop::current();

    net::NetHTTPMessage message;
    message.method = requestMethod_;
    message.url = *url_;
    message.headers = requestHeaders_;
    message.useHTTPVersionOne = useHTTPVersionOne_;
    net::NetHTTPStream::BodyReader bodyReader;
    if (postLength_ != 0) {
        if (postBodyReadStream_) postBodyReadStream_->setRequest(nullptr);
        postBodyReadStream_ = makeBodyStream();
        if (postBodyReadStream_) {
            postBodyReadStream_->open();
            bodyReader = [body = postBodyReadStream_](std::uint8_t* buffer, std::size_t length) {
                return body->read(buffer, length);
            };
        }
    }
    readStream_ = net::NetHTTPStream::create(std::move(message), std::move(bodyReader));
    if (!readStream_) {
        failWithError(
            makeNetError(NetInternalErrorWhileBuildingRequestType, "Unable to create read stream"));
        return;
    }
    // Connections opened with other TLS settings are not this request's to reuse.
    std::string tlsKey;
    if (url_->scheme() == "https") {
        net::NetTLSSettings tls;
        tls.validatesCertificateChain = validatesSecureCertificate_;
        if (!clientIdentity_.clientCertificateChainPEM.empty()) {
            tls.clientCertificateChainPEM = clientIdentity_.clientCertificateChainPEM;
            for (const auto& certificate : clientCertificates_)
                tls.clientCertificateChainPEM += certificate;
            tls.clientPrivateKeyPEM = clientIdentity_.clientPrivateKeyPEM;
        }
        tlsKey = (tls.validatesCertificateChain ? "checked\n" : "unchecked\n") +
                 tls.clientCertificateChainPEM + tls.clientPrivateKeyPEM;
        readStream_->setTLSSettings(std::move(tls));
    }
    auto proxySettings = proxySettingsForStream();
    if (proxySettings) readStream_->setProxy(*proxySettings);

    auto& pool = NetConnectionPool::shared();
    std::shared_ptr<net::NetHTTPStream> oldStream;
    {
        std::lock_guard poolGuard(pool.connectionsLock());
        pool.expirePersistentConnections(std::chrono::steady_clock::now());
        std::string proxy = proxySettings ? proxySettings->connectionKey() : std::string();
        // NTLM proves the account for one connection: both its rounds go on the request's
        // own, even where the request keeps none otherwise (one with a body).
        bool persistent = shouldAttemptPersistentConnection_;
        bool attempt = persistent || sendsConnectionBoundCredentials();
        auto choice =
            pool.chooseConnection(*url_, attempt, connectionInfo_, requestID_, readStream_,
                                  std::chrono::steady_clock::now(), proxy, tlsKey, persistent);
        if (!attempt) shouldAttemptPersistentConnection_ = false;
        connectionInfo_ = choice.record;
        oldStream = choice.oldStream;
    }
    if (!readStreamIsScheduled_ && !NetBandwidthThrottle::shared().isPaused()) scheduleReadStream();

    std::weak_ptr<NetHTTPRequest> weak = weak_from_this();
    readStream_->setClient(net::NetStreamEventMaskReadStream, [weak](net::NetStreamEvent event) {
        if (auto self = weak.lock()) self->handleNetworkEvent(event);
    });
    bool opened = readStream_->open();
    if (oldStream && oldStream != readStream_) oldStream->close();
    if (!opened) {
        connectionCanBeReused_ = false;
        destroyReadStream();
        failWithError(makeNetError(NetInternalErrorWhileBuildingRequestType,
                                   "Unable to start HTTP connection"));
        return;
    }
    if (!hasMainRequest_) {
        if (shouldResetUploadProgress_) {
            incrementUploadSizeBy(showAccurateProgress_ ? static_cast<std::int64_t>(postLength_)
                                                        : 1);
            resetProgressIndicator(ProgressSlot::Upload);
        }
        if (shouldResetDownloadProgress_ && partialDownloadSize_ == 0)
            resetProgressIndicator(ProgressSlot::Download);
    }
    lastActivityTime_ = std::chrono::steady_clock::now();
    haveActivity_ = true;
    setStatusTimer(
        runLoop_->addTimer(runLoopMode_, std::chrono::duration<double>(0.25), true, [weak] {
            if (auto self = weak.lock()) self->updateStatus();
        }));
}

void NetHTTPRequest::setStatusTimer(std::shared_ptr<net::NetTimer> timer) {
    if (statusTimer_ && statusTimer_ != timer) statusTimer_->invalidate();
    statusTimer_ = std::move(timer);
}

// --- Stream scheduling ---

void NetHTTPRequest::scheduleReadStream() {
    if (!readStream_ || readStreamIsScheduled_) return;
    NetConnectionPool::shared().incrementRunningRequestCount();
    lastActivityTime_ = std::chrono::steady_clock::now();
    haveActivity_ = true;
    readStreamIsScheduled_ = true;
    readStream_->scheduleInRunLoop(*runLoop_, runLoopMode_);
}

void NetHTTPRequest::unscheduleReadStream() {
    if (!readStream_ || !readStreamIsScheduled_) return;
    NetConnectionPool::shared().decrementRunningRequestCount();
    readStream_->unscheduleFromRunLoop();
    readStreamIsScheduled_ = false;
}

void NetHTTPRequest::destroyReadStream() {
    if (!readStream_) return;
    unscheduleReadStream();
    readStream_->setClient(0, {});
    if (!connectionCanBeReused_) readStream_->close();
    readStream_.reset();
}
