// The request's listeners: notices on the main thread, progress, and the HEAD request
// made on behalf of another request.

#include "foundation/MainQueue.h"
#include "http/NetHTTPRequest.h"
#include "http/NetRequestQueue.h"
#include "platform/net/NetRunLoop.h"

using foundation::MainQueue;

namespace {

void onMainThread(std::function<void()> job) {
    if (MainQueue::isMainThread()) {
        job();
    } else {
        MainQueue::async(std::move(job));
    }
}

}  // namespace

// --- Listener properties ---

std::shared_ptr<NetHTTPRequestDelegate> NetHTTPRequest::delegate() const {
    std::lock_guard guard(cancelledLock_);
    return delegate_.lock();
}

void NetHTTPRequest::setDelegate(std::weak_ptr<NetHTTPRequestDelegate> delegate) {
    std::lock_guard guard(cancelledLock_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<NetRequestQueue> NetHTTPRequest::queue() const {
    std::lock_guard guard(cancelledLock_);
    return queue_.lock();
}

void NetHTTPRequest::setQueue(std::weak_ptr<NetRequestQueue> queue) {
    std::lock_guard guard(cancelledLock_);
    queue_ = std::move(queue);
}

std::shared_ptr<NetProgressDelegate> NetHTTPRequest::uploadProgressDelegate() const {
    std::lock_guard guard(cancelledLock_);
    return uploadProgressDelegate_.lock();
}

std::shared_ptr<NetProgressDelegate> NetHTTPRequest::downloadProgressDelegate() const {
    std::lock_guard guard(cancelledLock_);
    return downloadProgressDelegate_.lock();
}

void NetHTTPRequest::setUploadProgressDelegate(std::weak_ptr<NetProgressDelegate> delegate) {
    {
        std::lock_guard guard(cancelledLock_);
        uploadProgressDelegate_ = delegate;
    }
    onMainThread([delegate] {
        if (auto target = delegate.lock()) target->setMaxValue(1.0);
    });
}

void NetHTTPRequest::setDownloadProgressDelegate(std::weak_ptr<NetProgressDelegate> delegate) {
    {
        std::lock_guard guard(cancelledLock_);
        downloadProgressDelegate_ = delegate;
    }
    onMainThread([delegate] {
        if (auto target = delegate.lock()) target->setMaxValue(1.0);
    });
}

#define NET_BLOCK_SETTER(Name, member, Type)   \
    void NetHTTPRequest::Name(Type block) {    \
        std::lock_guard guard(cancelledLock_); \
        blocks_.member = std::move(block);     \
    }
NET_BLOCK_SETTER(setStartedBlock, started, std::function<void()>)
NET_BLOCK_SETTER(setHeadersReceivedBlock, headersReceived, std::function<void(const NetHeaders&)>)
NET_BLOCK_SETTER(setCompletionBlock, completion, std::function<void()>)
NET_BLOCK_SETTER(setFailedBlock, failed, std::function<void()>)
NET_BLOCK_SETTER(setBytesReceivedBlock, bytesReceived,
                 std::function<void(std::uint64_t, std::uint64_t)>)
NET_BLOCK_SETTER(setBytesSentBlock, bytesSent, std::function<void(std::uint64_t, std::uint64_t)>)
NET_BLOCK_SETTER(setDownloadSizeIncrementedBlock, downloadSizeIncremented,
                 std::function<void(std::int64_t)>)
NET_BLOCK_SETTER(setUploadSizeIncrementedBlock, uploadSizeIncremented,
                 std::function<void(std::int64_t)>)
NET_BLOCK_SETTER(setDataReceivedBlock, dataReceived, std::function<void(const foundation::Data&)>)
NET_BLOCK_SETTER(setAuthenticationNeededBlock, authenticationNeeded, std::function<void()>)
NET_BLOCK_SETTER(setProxyAuthenticationNeededBlock, proxyAuthenticationNeeded,
                 std::function<void()>)
NET_BLOCK_SETTER(setRequestRedirectedBlock, requestRedirected, std::function<void()>)
#undef NET_BLOCK_SETTER

void NetHTTPRequest::releaseBlocksOnMainThread() {
    if (!blocks_.any()) return;
    // Whatever the blocks hold is let go on the main thread, where they ran.
    auto blocks = std::make_shared<NetRequestBlocks>(std::move(blocks_));
    blocks_ = {};
    if (!MainQueue::isMainThread()) MainQueue::async([blocks] { releaseBlocks(blocks); });
}

void NetHTTPRequest::releaseBlocks(const std::shared_ptr<NetRequestBlocks>&) {}

void NetHTTPRequest::clearDelegatesAndCancel() {
    {
        std::lock_guard guard(cancelledLock_);
        delegate_.reset();
        queue_.reset();
        uploadProgressDelegate_.reset();
        downloadProgressDelegate_.reset();
        releaseBlocksOnMainThread();
    }
    cancel();
}

// --- Notices ---

bool NetHTTPRequest::hasListeners() const {
    std::lock_guard guard(cancelledLock_);
    return !delegate_.expired() || !queue_.expired() || !uploadProgressDelegate_.expired() ||
           !downloadProgressDelegate_.expired() || blocks_.any();
}

void NetHTTPRequest::performBlockOnMainThread(std::function<void()> notice) {
    if (!hasListeners()) return;
    onMainThread(std::move(notice));
}

void NetHTTPRequest::requestStarted() {
    if (error_ || hasMainRequest_) return;
    performBlockOnMainThread([self = shared_from_this()] {
        std::unique_lock guard(self->cancelledLock_);
        auto delegate = self->delegate_.lock();
        auto selector = self->didStartSelector_;
        auto block = self->blocks_.started;
        auto queue = self->queue_.lock();
        guard.unlock();
        if (delegate && selector) ((*delegate).*selector)(*self);
        if (block) block();
        if (queue) queue->requestStarted(*self);
    });
}

void NetHTTPRequest::requestReceivedResponseHeaders(const NetHeaders& headers) {
    // Asked before the headers are copied into the notice.
    if (error_ || hasMainRequest_ || !hasListeners()) return;
    performBlockOnMainThread([self = shared_from_this(), headers] {
        std::unique_lock guard(self->cancelledLock_);
        auto delegate = self->delegate_.lock();
        auto selector = self->didReceiveResponseHeadersSelector_;
        auto block = self->blocks_.headersReceived;
        auto queue = self->queue_.lock();
        guard.unlock();
        if (delegate && selector) ((*delegate).*selector)(*self, headers);
        if (block) block(headers);
        if (queue) queue->requestDidReceiveResponseHeaders(*self, headers);
    });
}

void NetHTTPRequest::requestRedirected() {
    if (error_ || hasMainRequest_) return;
    performBlockOnMainThread([self = shared_from_this()] {
        std::unique_lock guard(self->cancelledLock_);
        auto delegate = self->delegate_.lock();
        auto block = self->blocks_.requestRedirected;
        guard.unlock();
        if (delegate) delegate->requestRedirected(*self);
        if (block) block();
    });
}

void NetHTTPRequest::requestWillRedirectToURL(const foundation::Url& url) {
    if (error_ || hasMainRequest_) return;
    performBlockOnMainThread([self = shared_from_this(), url] {
        std::unique_lock guard(self->cancelledLock_);
        auto delegate = self->delegate_.lock();
        auto selector = self->willRedirectSelector_;
        auto queue = self->queue_.lock();
        guard.unlock();
        if (delegate && selector && delegate->confirmsRedirects())
            ((*delegate).*selector)(*self, url);
        if (queue) queue->requestWillRedirectToURL(*self, url);
    });
}

void NetHTTPRequest::requestFinished() {
    if (error_ || hasMainRequest_) return;
    performBlockOnMainThread([self = shared_from_this()] { self->reportFinished(); });
}

void NetHTTPRequest::reportFinished() {
    std::unique_lock guard(cancelledLock_);
    auto delegate = delegate_.lock();
    auto selector = didFinishSelector_;
    auto block = blocks_.completion;
    auto queue = queue_.lock();
    guard.unlock();
    if (delegate && selector) ((*delegate).*selector)(*this);
    if (block) block();
    if (queue) queue->requestFinished(*this);
}

void NetHTTPRequest::reportFailure() {
    performBlockOnMainThread([self = shared_from_this()] {
        std::unique_lock guard(self->cancelledLock_);
        auto delegate = self->delegate_.lock();
        auto selector = self->didFailSelector_;
        auto block = self->blocks_.failed;
        auto queue = self->queue_.lock();
        guard.unlock();
        if (delegate && selector) ((*delegate).*selector)(*self);
        if (block) block();
        if (queue) queue->requestFailed(*self);
    });
}

bool NetHTTPRequest::wantsReceivedData() const {
    std::lock_guard guard(cancelledLock_);
    if (blocks_.dataReceived) return true;
    auto delegate = delegate_.lock();
    return delegate && didReceiveDataSelector_ && delegate->takesReceivedData();
}

void NetHTTPRequest::passOnReceivedData(const foundation::Data& data) {
    if (!hasListeners()) return;
    performBlockOnMainThread([self = shared_from_this(), data] {
        std::unique_lock guard(self->cancelledLock_);
        auto delegate = self->delegate_.lock();
        auto selector = self->didReceiveDataSelector_;
        auto block = self->blocks_.dataReceived;
        guard.unlock();
        if (delegate && selector && delegate->takesReceivedData())
            ((*delegate).*selector)(*self, data);
        if (block) block(data);
    });
}

bool NetHTTPRequest::willAskDelegateToConfirmRedirect() {
    std::lock_guard guard(cancelledLock_);
    auto delegate = delegate_.lock();
    auto queue = queue_.lock();
    bool ask = (delegate && willRedirectSelector_ && delegate->confirmsRedirects()) ||
               (queue && queue->confirmsRedirects());
    if (!ask || !redirectURL_) return false;
    auto target = *redirectURL_;
    redirectURL_.reset();
    requestWillRedirectToURL(target);
    return true;
}

void NetHTTPRequest::redirectToURL(const foundation::Url& url) {
    net::NetRunLoop* loop = nullptr;
    std::string mode;
    {
        std::lock_guard guard(cancelledLock_);
        redirectURL_ = url;
        loop = runLoop_;
        mode = runLoopMode_;
    }
    if (loop == nullptr) return performRedirect();
    // The transfer belongs to the thread whose run loop runs it.
    loop->perform(mode, [self = shared_from_this()] { self->performRedirect(); });
}

// --- Progress ---

bool NetHTTPRequest::showAccurateProgress() const {
    std::lock_guard guard(cancelledLock_);
    return showAccurateProgress_;
}

void NetHTTPRequest::setShowAccurateProgress(bool on) {
    std::lock_guard guard(cancelledLock_);
    showAccurateProgress_ = on;
}

void NetHTTPRequest::sendProgress(ProgressSlot slot, ProgressCall call) {
    if (!hasListeners()) return;
    onMainThread([self = shared_from_this(), slot, call = std::move(call)] {
        // The listeners in the request's places now: one cleared meanwhile hears nothing.
        std::unique_lock guard(self->cancelledLock_);
        auto queue = self->queue_.lock();
        auto target = (slot == ProgressSlot::Upload ? self->uploadProgressDelegate_
                                                    : self->downloadProgressDelegate_)
                          .lock();
        auto blocks = self->blocks_;
        guard.unlock();
        call(*self, queue.get(), target.get(), blocks);
    });
}

void NetHTTPRequest::updateProgressIndicator(const std::weak_ptr<NetProgressDelegate>& indicator,
                                             std::uint64_t progress, std::uint64_t total) {
    if (indicator.expired()) return;
    double fraction = total == 0 ? 0.0 : static_cast<double>(progress) / static_cast<double>(total);
    onMainThread([indicator, fraction] {
        if (auto target = indicator.lock()) target->setDoubleValue(fraction);
    });
}

void NetHTTPRequest::updateProgressIndicators() {
    if (hasMainRequest_) return;
    if (!showAccurateProgress_ && !(complete_ && !updatedProgress_)) return;
    updateUploadProgress();
    updateDownloadProgress();
}

void NetHTTPRequest::updateDownloadProgress() {
    if (!haveReadResponseHeaders_ || needsRedirect_) return;
    if (contentLength_ == 0 && !complete_) return;
    std::uint64_t soFar = totalBytesRead_ + partialDownloadSize_;
    std::int64_t amount = 1;
    if (showAccurateProgress_ && contentLength_ != 0) {
        amount = static_cast<std::int64_t>(soFar) - static_cast<std::int64_t>(lastBytesRead_);
        if (amount == 0) return;
    } else {
        updatedProgress_ = true;
    }
    std::uint64_t total = contentLength_ + partialDownloadSize_;
    lastBytesRead_ = soFar;
    sendProgress(
        ProgressSlot::Download,
        [amount, soFar, total](NetHTTPRequest& request, NetRequestQueue* queue,
                               NetProgressDelegate* target, const NetRequestBlocks& blocks) {
            if (queue) queue->requestDidReceiveBytes(request, amount);
            if (target) {
                target->requestDidReceiveBytes(request, amount);
                target->setDoubleValue(
                    total == 0 ? 0.0 : static_cast<double>(soFar) / static_cast<double>(total));
            }
            if (blocks.bytesReceived)
                blocks.bytesReceived(static_cast<std::uint64_t>(amount), total);
        });
}

void NetHTTPRequest::updateUploadProgress() {
    if (cancelled_ || totalBytesSent_ == 0) return;
    if (uploadBufferSize_ == 0 && totalBytesSent_ != postLength_) {
        // What the connection took at once is buffered, not sent: it is left out.
        uploadBufferSize_ = totalBytesSent_;
        incrementUploadSizeBy(-static_cast<std::int64_t>(uploadBufferSize_));
    }
    std::int64_t amount = 1;
    if (showAccurateProgress_) {
        if (totalBytesSent_ != postLength_ && lastBytesSent_ == 0) return;
        amount =
            static_cast<std::int64_t>(totalBytesSent_) - static_cast<std::int64_t>(lastBytesSent_);
        if (amount == 0) return;
    } else {
        updatedProgress_ = true;
    }
    std::uint64_t sent = totalBytesSent_ - uploadBufferSize_;
    std::uint64_t total = postLength_ > uploadBufferSize_ ? postLength_ - uploadBufferSize_ : 0;
    std::uint64_t postLength = postLength_;
    sendProgress(
        ProgressSlot::Upload, [amount, sent, total, postLength](
                                  NetHTTPRequest& request, NetRequestQueue* queue,
                                  NetProgressDelegate* target, const NetRequestBlocks& blocks) {
            if (queue) queue->requestDidSendBytes(request, amount);
            if (target) {
                target->requestDidSendBytes(request, amount);
                target->setDoubleValue(
                    total == 0 ? 1.0 : static_cast<double>(sent) / static_cast<double>(total));
            }
            if (blocks.bytesSent) blocks.bytesSent(static_cast<std::uint64_t>(amount), postLength);
        });
}

void NetHTTPRequest::incrementDownloadSizeBy(std::int64_t amount) {
    sendProgress(ProgressSlot::Download,
                 [amount](NetHTTPRequest& request, NetRequestQueue* queue,
                          NetProgressDelegate* target, const NetRequestBlocks& blocks) {
                     if (queue) queue->requestIncrementDownloadSizeBy(request, amount);
                     if (target) target->requestIncrementDownloadSizeBy(request, amount);
                     if (blocks.downloadSizeIncremented) blocks.downloadSizeIncremented(amount);
                 });
}

void NetHTTPRequest::incrementUploadSizeBy(std::int64_t amount) {
    sendProgress(ProgressSlot::Upload,
                 [amount](NetHTTPRequest& request, NetRequestQueue* queue,
                          NetProgressDelegate* target, const NetRequestBlocks& blocks) {
                     if (queue) queue->requestIncrementUploadSizeBy(request, amount);
                     if (target) target->requestIncrementUploadSizeBy(request, amount);
                     if (blocks.uploadSizeIncremented) blocks.uploadSizeIncremented(amount);
                 });
}

void NetHTTPRequest::removeUploadProgressSoFar() {
    auto amount = -static_cast<std::int64_t>(totalBytesSent_);
    std::uint64_t postLength = postLength_;
    sendProgress(ProgressSlot::Upload,
                 [amount, postLength](NetHTTPRequest& request, NetRequestQueue* queue,
                                      NetProgressDelegate* target, const NetRequestBlocks& blocks) {
                     if (queue) queue->requestDidSendBytes(request, amount);
                     if (target) {
                         target->requestDidSendBytes(request, amount);
                         target->setDoubleValue(0.0);
                     }
                     if (blocks.bytesSent)
                         blocks.bytesSent(static_cast<std::uint64_t>(amount), postLength);
                 });
}

void NetHTTPRequest::resetProgressIndicator(ProgressSlot slot) {
    sendProgress(slot, [](NetHTTPRequest&, NetRequestQueue*, NetProgressDelegate* target,
                          const NetRequestBlocks&) {
        if (target) target->setDoubleValue(0.0);
    });
}

// --- The HEAD request and operation-queue state ---

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::HEADRequest() const {
    // Made before this request's lock is taken: a subclass's constructor takes its own, and
    // a running HEAD request takes this one's while holding its own.
    std::optional<foundation::Url> url;
    {
        std::lock_guard guard(cancelledLock_);
        url = url_;
    }
    auto head = makeRequestOfSameClass(std::move(url));
    std::lock_guard guard(cancelledLock_);
    head->requestHeaders_ = requestHeaders_;
    head->requestCookies_ = requestCookies_;
    head->useCookiePersistence_ = useCookiePersistence_;
    head->useSessionPersistence_ = useSessionPersistence_;
    head->allowCompressedResponse_ = allowCompressedResponse_;
    head->username_ = username_;
    head->password_ = password_;
    head->useKeychainPersistence_ = useKeychainPersistence_;
    head->domain_ = domain_;
    head->proxyUsername_ = proxyUsername_;
    head->proxyPassword_ = proxyPassword_;
    head->proxyDomain_ = proxyDomain_;
    head->shouldPresentAuthenticationDialog_ = shouldPresentAuthenticationDialog_;
    head->shouldPresentProxyAuthenticationDialog_ = shouldPresentProxyAuthenticationDialog_;
    head->proxyHost_ = proxyHost_;
    head->proxyPort_ = proxyPort_;
    head->proxyType_ = proxyType_;
    head->PACurl_ = PACurl_;
    head->timeOutSeconds_ = timeOutSeconds_;
    head->useHTTPVersionOne_ = useHTTPVersionOne_;
    head->validatesSecureCertificate_ = validatesSecureCertificate_;
    head->clientIdentity_ = clientIdentity_;
    head->clientCertificates_ = clientCertificates_;
    head->shouldPresentCredentialsBeforeChallenge_ = shouldPresentCredentialsBeforeChallenge_;
    head->numberOfTimesToRetryOnTimeout_ = numberOfTimesToRetryOnTimeout_;
    head->shouldRedirect_ = shouldRedirect_;
    head->shouldUseRFC2616RedirectBehaviour_ = shouldUseRFC2616RedirectBehaviour_;
    // Set directly: the new request's lock is not taken while this one's is held.
    head->requestMethod_ = "HEAD";
    head->shouldAttemptPersistentConnection_ = shouldAttemptPersistentConnection_;
    head->persistentConnectionTimeoutSeconds_ = persistentConnectionTimeoutSeconds_;
    head->mainRequest_ = std::const_pointer_cast<NetHTTPRequest>(shared_from_this());
    head->hasMainRequest_ = true;
    return head;
}

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::makeRequestOfSameClass(
    std::optional<foundation::Url> url) const {
    return std::make_shared<NetHTTPRequest>(std::move(url));
}

void NetHTTPRequest::addDependency(const std::shared_ptr<NetHTTPRequest>& request) {
    std::lock_guard guard(cancelledLock_);
    dependencies_.push_back(request);
}

std::vector<std::shared_ptr<NetHTTPRequest>> NetHTTPRequest::dependencies() const {
    std::lock_guard guard(cancelledLock_);
    std::vector<std::shared_ptr<NetHTTPRequest>> result;
    for (const auto& weak : dependencies_) {
        if (auto request = weak.lock()) result.push_back(request);
    }
    return result;
}

void NetHTTPRequest::addFinishedObserver(std::function<void()> observer) {
    {
        std::lock_guard guard(cancelledLock_);
        if (!finished_) {
            finishedObservers_.push_back(std::move(observer));
            return;
        }
    }
    observer();
}

void NetHTTPRequest::tellFinishedObservers() {
    auto observers = std::move(finishedObservers_);
    finishedObservers_.clear();
    for (auto& observer : observers) observer();
}
