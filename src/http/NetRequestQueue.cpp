#include "http/NetRequestQueue.h"

#include "foundation/Error.h"
#include "foundation/MainQueue.h"
#include "http/NetHTTPRequest.h"

std::shared_ptr<NetRequestQueue> NetRequestQueue::queue() {
    auto made = std::make_shared<NetRequestQueue>();
    made->setOperationEndedHandler([weak = std::weak_ptr<NetRequestQueue>(made)](
                                       NetHTTPRequest& request) {
        if (auto queue = weak.lock()) queue->operationEnded(request);
    });
    return made;
}

NetRequestQueue::NetRequestQueue() : NetOperationQueue(4) {
    setSuspended(true);
}

void NetRequestQueue::reset() {
    cancelAllOperations();
    {
        std::lock_guard guard(lock_);
        auto redirect = listeners_.requestWillRedirectSelector;
        listeners_ = {};
        listeners_.requestWillRedirectSelector = redirect;
    }
    setSuspended(true);
}

void NetRequestQueue::cancelAllOperations() {
    bytesUploadedSoFar_ = 0;
    totalBytesToUpload_ = 0;
    bytesDownloadedSoFar_ = 0;
    totalBytesToDownload_ = 0;
    NetOperationQueue::cancelAllOperations();
}

void NetRequestQueue::addOperation(const std::shared_ptr<NetHTTPRequest>& request) {
    if (!request) {
        throw foundation::NamedException(
            "AttemptToAddInvalidRequest",
            "Attempted to add an object that was not an NetHTTPRequest to an NetRequestQueue");
    }
    ++requestsCount_;
    if (showAccurateProgress_) {
        std::uint64_t postLength = 0;
        bool headFirst = false;
        {
            // The body's length is known only once it is built.
            std::lock_guard guard(request->cancelledLock());
            request->buildPostBody();
            postLength = request->postLength();
            headFirst = request->requestMethod() == "GET" && isSuspended();
        }
        if (headFirst) {
            // The HEAD request runs first and announces the download's size.
            auto head = request->HEADRequest();
            addHEADOperation(head);
            request->addDependency(head);
            if (request->shouldResetDownloadProgress()) {
                resetProgressDelegate(listeners().downloadProgressDelegate);
                request->setShouldResetDownloadProgress(false);
            }
        }
        totalBytesToUpload_ += postLength;
    } else {
        ++totalBytesToDownload_;
        ++totalBytesToUpload_;
    }
    if (request->shouldResetUploadProgress()) {
        resetProgressDelegate(listeners().uploadProgressDelegate);
        request->setShouldResetUploadProgress(false);
    }
    request->setShowAccurateProgress(showAccurateProgress_);
    request->setQueue(weak_from_this());
    NetOperationQueue::addOperation(request);
}

void NetRequestQueue::addHEADOperation(const std::shared_ptr<NetHTTPRequest>& request) {
    if (!request) return;
    request->setRequestMethod("HEAD");
    request->setQueuePriority(10);
    request->setShowAccurateProgress(true);
    request->setQueue(weak_from_this());
    NetOperationQueue::addOperation(request);
}

std::shared_ptr<NetRequestQueue> NetRequestQueue::copy() const {
    auto other = queue();
    auto mine = listeners();
    {
        std::lock_guard guard(other->lock_);
        other->listeners_ = mine;
        other->userInfo_ = userInfo();
    }
    other->setUploadProgressDelegate(mine.uploadProgressDelegate);
    other->setDownloadProgressDelegate(mine.downloadProgressDelegate);
    other->shouldCancelAllRequestsOnFailure_ = shouldCancelAllRequestsOnFailure_.load();
    other->showAccurateProgress_ = showAccurateProgress_.load();
    return other;
}

// --- Properties ---

NetRequestQueue::Listeners NetRequestQueue::listeners() const {
    std::lock_guard guard(lock_);
    return listeners_;
}

std::shared_ptr<NetRequestQueueDelegate> NetRequestQueue::delegate() const {
    return listeners().delegate.lock();
}

void NetRequestQueue::setDelegate(std::weak_ptr<NetRequestQueueDelegate> delegate) {
    std::lock_guard guard(lock_);
    listeners_.delegate = std::move(delegate);
}

#define NET_QUEUE_SELECTOR_SETTER(Name, member, Type) \
    void NetRequestQueue::Name(Type s) {              \
        std::lock_guard guard(lock_);                 \
        listeners_.member = s;                        \
    }
NET_QUEUE_SELECTOR_SETTER(setRequestDidStartSelector, requestDidStartSelector,
                          NetQueueRequestSelector)
NET_QUEUE_SELECTOR_SETTER(setRequestDidReceiveResponseHeadersSelector,
                          requestDidReceiveResponseHeadersSelector, NetQueueHeadersSelector)
NET_QUEUE_SELECTOR_SETTER(setRequestWillRedirectSelector, requestWillRedirectSelector,
                          NetQueueRedirectSelector)
NET_QUEUE_SELECTOR_SETTER(setRequestDidFinishSelector, requestDidFinishSelector,
                          NetQueueRequestSelector)
NET_QUEUE_SELECTOR_SETTER(setRequestDidFailSelector, requestDidFailSelector,
                          NetQueueRequestSelector)
NET_QUEUE_SELECTOR_SETTER(setQueueDidFinishSelector, queueDidFinishSelector, NetQueueSelector)
#undef NET_QUEUE_SELECTOR_SETTER

std::shared_ptr<NetProgressDelegate> NetRequestQueue::uploadProgressDelegate() const {
    return listeners().uploadProgressDelegate.lock();
}

std::shared_ptr<NetProgressDelegate> NetRequestQueue::downloadProgressDelegate() const {
    return listeners().downloadProgressDelegate.lock();
}

void NetRequestQueue::setUploadProgressDelegate(std::weak_ptr<NetProgressDelegate> delegate) {
    {
        std::lock_guard guard(lock_);
        listeners_.uploadProgressDelegate = delegate;
    }
    resetProgressDelegate(delegate);
}

void NetRequestQueue::setDownloadProgressDelegate(std::weak_ptr<NetProgressDelegate> delegate) {
    {
        std::lock_guard guard(lock_);
        listeners_.downloadProgressDelegate = delegate;
    }
    resetProgressDelegate(delegate);
}

void NetRequestQueue::resetProgressDelegate(const std::weak_ptr<NetProgressDelegate>& delegate) {
    if (delegate.expired()) return;
    auto reset = [delegate] {
        if (auto target = delegate.lock()) {
            target->setMaxValue(1.0);
            target->setDoubleValue(0.0);
        }
    };
    if (foundation::MainQueue::isMainThread()) {
        reset();
    } else {
        foundation::MainQueue::async(reset);
    }
}

foundation::Value NetRequestQueue::userInfo() const {
    std::lock_guard guard(lock_);
    return userInfo_;
}

void NetRequestQueue::setUserInfo(foundation::Value info) {
    std::lock_guard guard(lock_);
    userInfo_ = std::move(info);
}

// --- What the requests tell the queue ---

void NetRequestQueue::requestStarted(NetHTTPRequest& request) {
    auto mine = listeners();
    auto delegate = mine.delegate.lock();
    if (delegate && mine.requestDidStartSelector)
        ((*delegate).*mine.requestDidStartSelector)(request);
}

void NetRequestQueue::requestDidReceiveResponseHeaders(NetHTTPRequest& request,
                                                       const NetHeaders& headers) {
    auto mine = listeners();
    auto delegate = mine.delegate.lock();
    if (delegate && mine.requestDidReceiveResponseHeadersSelector)
        ((*delegate).*mine.requestDidReceiveResponseHeadersSelector)(request, headers);
}

void NetRequestQueue::requestWillRedirectToURL(NetHTTPRequest& request,
                                               const foundation::Url& url) {
    auto mine = listeners();
    auto delegate = mine.delegate.lock();
    if (delegate && mine.requestWillRedirectSelector)
        ((*delegate).*mine.requestWillRedirectSelector)(request, url);
}

bool NetRequestQueue::confirmsRedirects() const {
    auto mine = listeners();
    auto delegate = mine.delegate.lock();
    return delegate && mine.requestWillRedirectSelector && delegate->confirmsRedirects();
}

void NetRequestQueue::requestEnded(NetQueueRequestSelector selector, NetHTTPRequest& request) {
    int left = --requestsCount_;
    auto mine = listeners();
    auto delegate = mine.delegate.lock();
    if (delegate && selector) ((*delegate).*selector)(request);
    if (left == 0 && delegate && mine.queueDidFinishSelector)
        ((*delegate).*mine.queueDidFinishSelector)(*this);
}

void NetRequestQueue::requestFinished(NetHTTPRequest& request) {
    requestEnded(listeners().requestDidFinishSelector, request);
}

void NetRequestQueue::requestFailed(NetHTTPRequest& request) {
    requestEnded(listeners().requestDidFailSelector, request);
    if (shouldCancelAllRequestsOnFailure_ && requestsCount_ > 0) cancelAllOperations();
}

// The failure report goes to the main thread before the request ends here, so the
// owner still hears of it first; cancelling the rest now, rather than when that report
// arrives, keeps the queue from starting another request in between.
void NetRequestQueue::operationEnded(NetHTTPRequest& request) {
    bool failed = false;
    {
        std::lock_guard guard(request.cancelledLock());
        failed = request.error().has_value();
    }
    if (failed && shouldCancelAllRequestsOnFailure_ && operationCount() > 0)
        cancelAllOperations();
}

void NetRequestQueue::requestDidReceiveBytes(NetHTTPRequest&, std::int64_t amount) {
    auto soFar = bytesDownloadedSoFar_ += static_cast<std::uint64_t>(amount);
    NetHTTPRequest::updateProgressIndicator(listeners().downloadProgressDelegate, soFar,
                                            totalBytesToDownload_);
}

void NetRequestQueue::requestDidSendBytes(NetHTTPRequest&, std::int64_t amount) {
    auto soFar = bytesUploadedSoFar_ += static_cast<std::uint64_t>(amount);
    NetHTTPRequest::updateProgressIndicator(listeners().uploadProgressDelegate, soFar,
                                            totalBytesToUpload_);
}

void NetRequestQueue::requestIncrementDownloadSizeBy(NetHTTPRequest&, std::int64_t amount) {
    totalBytesToDownload_ += static_cast<std::uint64_t>(amount);
}

void NetRequestQueue::requestIncrementUploadSizeBy(NetHTTPRequest&, std::int64_t amount) {
    totalBytesToUpload_ += static_cast<std::uint64_t>(amount);
}

bool NetRequestQueue::answersAuthenticationChallenges() const {
    auto target = delegate();
    return target && target->answersAuthenticationChallenges();
}

void NetRequestQueue::authenticationNeededForRequest(NetHTTPRequest& request) {
    if (auto target = delegate()) target->authenticationNeededForRequest(request);
}

void NetRequestQueue::proxyAuthenticationNeededForRequest(NetHTTPRequest& request) {
    if (auto target = delegate()) target->proxyAuthenticationNeededForRequest(request);
}
