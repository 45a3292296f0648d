#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "foundation/Value.h"
#include "http/NetHTTPRequestDelegate.h"
#include "http/NetOperationQueue.h"
#include "http/NetProgressDelegate.h"

class NetRequestQueue;

// The owner of a request queue: hears, through the selectors it chooses, of the queue's
// requests and of the queue running empty.
class NetRequestQueueDelegate : public NetHTTPRequestDelegate {
public:
    virtual void queueFinished(NetRequestQueue&) {}
};
using NetQueueRequestSelector = void (NetRequestQueueDelegate::*)(NetHTTPRequest&);
using NetQueueHeadersSelector = void (NetRequestQueueDelegate::*)(NetHTTPRequest&,
                                                                  const NetHeaders&);
using NetQueueRedirectSelector = void (NetRequestQueueDelegate::*)(NetHTTPRequest&,
                                                                   const foundation::Url&);
using NetQueueSelector = void (NetRequestQueueDelegate::*)(NetRequestQueue&);

// A queue of requests with one upload and one download total for all of them, whose life
// cycle it passes on to one delegate. It starts suspended (go() lets it run), runs 4 at
// once, and cancels the rest when one fails unless told otherwise. Made with queue(): the
// requests find it through a weak reference, so a queue that is gone hears nothing.
// Requests report to it on the main thread.
class NetRequestQueue : public NetOperationQueue,
                        public NetHTTPRequestDelegate,
                        public NetProgressDelegate,
                        public std::enable_shared_from_this<NetRequestQueue> {
public:
    static std::shared_ptr<NetRequestQueue> queue();
    NetRequestQueue();

    void go() { setSuspended(false); }
    // Cancels everything, drops the delegates and all selectors but the redirect one,
    // and suspends the queue.
    void reset();
    // Sets the four byte totals to 0 and cancels every request; requestsCount stays.
    void cancelAllOperations() override;
    // Throws foundation::NamedException ("AttemptToAddInvalidRequest") for no request.
    void addOperation(const std::shared_ptr<NetHTTPRequest>& request) override;
    // A HEAD request that runs first (priority 10) and is not counted.
    void addHEADOperation(const std::shared_ptr<NetHTTPRequest>& request);
    // A new queue with the same delegate, selectors, progress delegates and settings.
    std::shared_ptr<NetRequestQueue> copy() const;

    std::shared_ptr<NetRequestQueueDelegate> delegate() const;
    void setDelegate(std::weak_ptr<NetRequestQueueDelegate> delegate);
    void setRequestDidStartSelector(NetQueueRequestSelector s);
    void setRequestDidReceiveResponseHeadersSelector(NetQueueHeadersSelector s);
    void setRequestWillRedirectSelector(NetQueueRedirectSelector s);
    void setRequestDidFinishSelector(NetQueueRequestSelector s);
    void setRequestDidFailSelector(NetQueueRequestSelector s);
    void setQueueDidFinishSelector(NetQueueSelector s);

    std::shared_ptr<NetProgressDelegate> uploadProgressDelegate() const;
    std::shared_ptr<NetProgressDelegate> downloadProgressDelegate() const;
    // Each setter also resets the indicator to 0 of 1.
    void setUploadProgressDelegate(std::weak_ptr<NetProgressDelegate> delegate);
    void setDownloadProgressDelegate(std::weak_ptr<NetProgressDelegate> delegate);

    std::uint64_t bytesUploadedSoFar() const { return bytesUploadedSoFar_; }
    std::uint64_t totalBytesToUpload() const { return totalBytesToUpload_; }
    std::uint64_t bytesDownloadedSoFar() const { return bytesDownloadedSoFar_; }
    std::uint64_t totalBytesToDownload() const { return totalBytesToDownload_; }
    bool shouldCancelAllRequestsOnFailure() const { return shouldCancelAllRequestsOnFailure_; }
    void setShouldCancelAllRequestsOnFailure(bool on) { shouldCancelAllRequestsOnFailure_ = on; }
    int requestsCount() const { return requestsCount_; }
    bool showAccurateProgress() const { return showAccurateProgress_; }
    void setShowAccurateProgress(bool on) { showAccurateProgress_ = on; }
    foundation::Value userInfo() const;
    void setUserInfo(foundation::Value info);

    // What the queue's requests tell it.
    void requestStarted(NetHTTPRequest& request) override;
    void requestDidReceiveResponseHeaders(NetHTTPRequest& request,
                                          const NetHeaders& headers) override;
    void requestWillRedirectToURL(NetHTTPRequest& request, const foundation::Url& url) override;
    void requestFinished(NetHTTPRequest& request) override;
    void requestFailed(NetHTTPRequest& request) override;
    void requestDidReceiveBytes(NetHTTPRequest& request, std::int64_t amount) override;
    void requestDidSendBytes(NetHTTPRequest& request, std::int64_t amount) override;
    void requestIncrementDownloadSizeBy(NetHTTPRequest& request, std::int64_t amount) override;
    void requestIncrementUploadSizeBy(NetHTTPRequest& request, std::int64_t amount) override;
    void authenticationNeededForRequest(NetHTTPRequest& request) override;
    void proxyAuthenticationNeededForRequest(NetHTTPRequest& request) override;
    // Whether a redirect selector is set that the delegate answers.
    bool confirmsRedirects() const override;
    // Whether the queue's delegate answers them.
    bool answersAuthenticationChallenges() const override;

private:
    struct Listeners {
        std::weak_ptr<NetRequestQueueDelegate> delegate;
        NetQueueRequestSelector requestDidStartSelector = nullptr;
        NetQueueHeadersSelector requestDidReceiveResponseHeadersSelector = nullptr;
        NetQueueRedirectSelector requestWillRedirectSelector = nullptr;
        NetQueueRequestSelector requestDidFinishSelector = nullptr;
        NetQueueRequestSelector requestDidFailSelector = nullptr;
        NetQueueSelector queueDidFinishSelector = nullptr;
        std::weak_ptr<NetProgressDelegate> uploadProgressDelegate;
        std::weak_ptr<NetProgressDelegate> downloadProgressDelegate;
    };
    Listeners listeners() const;
    static void resetProgressDelegate(const std::weak_ptr<NetProgressDelegate>& delegate);
    void requestEnded(NetQueueRequestSelector selector, NetHTTPRequest& request);
    void operationEnded(NetHTTPRequest& request);

    mutable std::mutex lock_;
    Listeners listeners_;
    foundation::Value userInfo_;
    std::atomic<std::uint64_t> bytesUploadedSoFar_{0};
    std::atomic<std::uint64_t> totalBytesToUpload_{0};
    std::atomic<std::uint64_t> bytesDownloadedSoFar_{0};
    std::atomic<std::uint64_t> totalBytesToDownload_{0};
    std::atomic<bool> shouldCancelAllRequestsOnFailure_{true};
    std::atomic<int> requestsCount_{0};
    std::atomic<bool> showAccurateProgress_{false};
};
