// Redirects, the idle time-out, the retry on a dropped connection, cancellation and the
// one path every failure takes.

#include <fmt/format.h>

#include <cerrno>

#include "http/NetConnectionPool.h"
#include "http/NetHTTPRequest.h"
#include "http/NetHeaderMatching.h"
#include "http/NetInputStream.h"
#include "http/NetOrigin.h"
#include "platform/net/NetHTTPStream.h"
#include "platform/net/NetRunLoop.h"

using foundation::Url;

namespace {

bool isSSLProblem(const foundation::Error& error) {
    return error.domain == net::NetOSStatusErrorDomain && error.code >= -9818 &&
           error.code <= -9800;
}

foundation::Value describe(const foundation::Error& error) {
    return foundation::Value::dict(
        {{"domain", error.domain}, {"code", error.code}, {"message", error.message}});
}

}  // namespace

// --- Redirects ---

bool NetHTTPRequest::willRedirect() {
    if (!shouldRedirect_ || !url_) return false;
    auto location = responseHeader("Location");
    int status = responseStatusCode_;
    if (!location || (status != 301 && status != 302 && status != 303 && status != 307))
        return false;
    // Only the web's own schemes are followed; anything else is answered as it is.
    auto target = url_->resolve(*location);
    if (!target || (target->scheme() != "http" && target->scheme() != "https") ||
        target->host().empty()) {
        return false;
    }
    requestRedirected();
    if (status == 303 ||
        ((status == 301 || status == 302) && !shouldUseRFC2616RedirectBehaviour_)) {
        setRequestMethod("GET");
        postBody_ = std::make_shared<foundation::Data>();
        compressedPostBody_.reset();
        postLength_ = 0;
        if (didCreateTemporaryPostDataFile_) removeTemporaryUploadFiles();
        postBodyFilePath_.clear();
        compressedPostBodyFilePath_.clear();
        shouldStreamPostDataFromDisk_ = false;
        NetHeaders kept;
        for (const auto& header : requestHeaders_) {
            if (NetHeaderMatching::same(header.first, "User-Agent") ||
                NetHeaderMatching::same(header.first, "Accept")) {
                kept.push_back(header);
            }
        }
        requestHeaders_ = std::move(kept);
        haveBuiltRequestHeaders_ = false;
    } else {
        // Method, body and headers go on; credentials and cookies only to the same origin.
        if (!NetOrigin::same(*url_, *target)) {
            removeRequestHeader("Authorization");
            removeRequestHeader("Cookie");
        }
        rebuildCookieHeader_ = true;
    }
    redirectURL_ = std::move(target);
    needsRedirect_ = true;
    requestCookies_.clear();
    return true;
}

void NetHTTPRequest::performRedirect() {
    std::unique_lock guard(cancelledLock_);
    if (!redirectURL_) return;
    auto target = *redirectURL_;
    setURL(target);
    forgetProxyChosenForURL();
    complete_ = true;
    needsRedirect_ = false;
    ++redirectCount_;
    if (redirectCount_ < 6) {
        startNewConnectionBoundExchange();
        main();
    } else {
        failWithError(makeNetError(NetTooMuchRedirectionErrorType,
                                   "The request failed because it redirected too many times"));
        complete_ = true;
    }
}

// --- Time-out ---

void NetHTTPRequest::updateStatus() {
    checkRequestStatus();
    std::lock_guard guard(cancelledLock_);
    if (!inProgress_ || complete_) {
        setStatusTimer(nullptr);
    }
}

// Also while the throttle holds the stream back: a server that went away must not keep
// the request waiting for ever.
bool NetHTTPRequest::shouldTimeOut() const {
    if (!readStream_ || !haveActivity_ || timeOutSeconds_ <= 0)
        return false;
    double idle =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - lastActivityTime_).count();
    if (idle <= timeOutSeconds_) return false;
    if (postLength_ == 0 || (uploadBufferSize_ != 0 && totalBytesSent_ > uploadBufferSize_))
        return true;
    // Sending the first buffer of a body may look idle for longer.
    return idle > 1.5 * timeOutSeconds_;
}

void NetHTTPRequest::checkRequestStatus() {
    std::unique_lock guard(cancelledLock_);
    if (cancelled_ || complete_) return;
    if (readStream_) NetBandwidthThrottle::shared().performThrottling(*this);
    // A held-back stream tells nothing until it is put back; a failure (the server closing
    // part-way) is not worth waiting for the pause.
    if (readStream_ && !readStreamIsScheduled_ &&
        readStream_->streamStatus() == net::NetHTTPStream::Status::Error) {
        handleStreamError();
        return;
    }
    if (!shouldTimeOut()) {
        if (readStream_ && postLength_ != 0) {
            lastBytesSent_ = totalBytesSent_;
            totalBytesSent_ = readStream_->bytesWritten();
            if (totalBytesSent_ > lastBytesSent_) {
                lastActivityTime_ = std::chrono::steady_clock::now();
            }
        }
        updateProgressIndicators();
        return;
    }
    if (numberOfTimesToRetryOnTimeout_ > retryCount_) {
        if (!updatePartialDownloadSize()) return;
        if (partialDownloadSize_ != 0)
            addRequestHeader("Range", fmt::format("bytes={}-", partialDownloadSize_));
        ++retryCount_;
        willRetryRequest_ = true;
        connectionCanBeReused_ = false;
        cancelLoad();
        willRetryRequest_ = false;
        releaseConnectionRecord(false);
        // A temporary file that would not go failed the request.
        if (!error_) startRequest();
        return;
    }
    failWithError(makeNetError(NetRequestTimedOutErrorType, "The request timed out"));
    cancelLoad();
    complete_ = true;
}

// --- Stream errors and the retry ---

void NetHTTPRequest::handleStreamError() {
    foundation::Error streamError;
    if (readStream_ && readStream_->streamError()) streamError = *readStream_->streamError();
    if (error_) {
        cancelLoad();
        checkRequestStatus();
        return;
    }
    bool lost = (streamError.domain == net::NetPOSIXErrorDomain &&
                 (streamError.code == ENOTCONN || streamError.code == EPIPE)) ||
                (streamError.domain == net::NetCFNetworkErrorDomain &&
                 streamError.code == net::NetErrorNetworkConnectionLost);
    // Only a reused connection that the server dropped before answering is tried again:
    // the request never reached it, so repeating it is safe.
    if (lost && readStream_ && readStream_->reusedConnection() &&
        readStream_->responseBytesReceived() == 0 && retryUsingNewConnection()) {
        return;
    }
    std::string description = "A connection failure occurred";
    if (isSSLProblem(streamError)) {
        description = fmt::format(
            "{}: SSL problem (Possible causes may include a bad/expired/self-signed "
            "certificate, clock set to wrong date)",
            description);
    }
    connectionCanBeReused_ = false;
    cancelLoad();
    auto error = makeNetError(NetConnectionFailureErrorType, description);
    error.userInfo.set("NSUnderlyingError", describe(streamError));
    failWithError(error);
    checkRequestStatus();
}

bool NetHTTPRequest::retryUsingNewConnection() {
    if (retryCount_ != 0) return false;
    willRetryRequest_ = true;
    connectionCanBeReused_ = false;
    cancelLoad();
    willRetryRequest_ = false;
    releaseConnectionRecord(false);
    ++retryCount_;
    // A temporary file that would not go failed the request.
    if (!error_) startRequest();
    return true;
}

void NetHTTPRequest::releaseConnectionRecord(bool keepInPool) {
    auto& pool = NetConnectionPool::shared();
    std::lock_guard poolGuard(pool.connectionsLock());
    if (!connectionInfo_) return;
    connectionInfo_->request.reset();
    if (!keepInPool) {
        net::NetHTTPStream::closeIdleConnection(connectionInfo_->id);
        pool.removeRecord(connectionInfo_);
        connectionInfo_.reset();
    }
}

// --- Failure, tear-down and cancellation ---

void NetHTTPRequest::failWithError(const foundation::Error& error) {
    std::lock_guard guard(cancelledLock_);
    complete_ = true;
    setStatusTimer(nullptr);
    if (error.domain != NetworkRequestErrorDomain ||
        (error.code != NetAuthenticationErrorType &&
         error.code != NetTooMuchRedirectionErrorType)) {
        // A failed connection is never used again.
        connectionCanBeReused_ = false;
        releaseConnectionRecord(false);
        destroyReadStream();
    }
    if (connectionCanBeReused_ && connectionInfo_) {
        std::lock_guard poolGuard(NetConnectionPool::shared().connectionsLock());
        connectionInfo_->expires =
            std::chrono::steady_clock::now() +
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(persistentConnectionTimeoutSeconds_));
    }
    if (cancelled_ || error_) return;
    if (downloadCache_ && (cachePolicy_ & NetFallbackToCacheIfLoadFailsCachePolicy) &&
        downloadCache_->canUseCachedDataForRequest(*this) && useDataFromCache()) {
        return;
    }
    error_ = error;
    auto main = mainRequest();
    if (hasMainRequest_ && main) {
        // A HEAD request fails its main request, which reports it.
        {
            std::lock_guard mainGuard(main->cancelledLock_);
            if (!main->error_) main->error_ = error;
        }
        main->reportFailure();
    } else {
        reportFailure();
    }
    if (inProgress_) markAsFinished();
}

void NetHTTPRequest::cancelLoad() {
    closePACFileReadStream();
    if (auto pacRequest = std::move(PACFileRequest_)) pacRequest->cancel();
    if (!downloadComplete_) connectionCanBeReused_ = false;
    destroyReadStream();
    if (postBodyReadStream_) {
        postBodyReadStream_->setRequest(nullptr);
        postBodyReadStream_.reset();
    }
    if (downloadDestinationPath_.empty()) {
        if (!complete_) {
            rawResponseData_.clear();
            rawResponseDataDropped_ = true;
        }
    } else {
        closeDownloadFiles();
        if (!complete_) {
            if (!allowResumeForFileDownloads_) removeTemporaryDownloadFile();
            removeTemporaryUncompressedDownloadFile();
        }
    }
    if (authenticationNeeded_ == 0 && !willRetryRequest_ && didCreateTemporaryPostDataFile_)
        removeTemporaryUploadFiles();
}

void NetHTTPRequest::cancel() {
    std::weak_ptr<NetHTTPRequest> weak = weak_from_this();
    net::NetRunLoop* loop = nullptr;
    std::string mode;
    {
        std::lock_guard guard(cancelledLock_);
        if (cancelled_ || complete_) return;
        loop = runLoop_;
        mode = runLoopMode_;
    }
    if (loop == nullptr || weak.expired()) {
        cancelOnRequestThread();
        return;
    }
    // The transfer belongs to the thread whose run loop runs it.
    loop->perform(mode, [weak] {
        if (auto self = weak.lock()) self->cancelOnRequestThread();
    });
}

void NetHTTPRequest::cancelOnRequestThread() {
    std::lock_guard guard(cancelledLock_);
    if (cancelled_ || complete_) return;
    failWithError(makeNetError(NetRequestCancelledErrorType, "The request was cancelled"));
    complete_ = true;
    cancelLoad();
    cancelled_ = true;
}
