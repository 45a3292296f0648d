#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Error.h"
#include "foundation/Url.h"
#include "foundation/Value.h"
#include "http/NetBandwidthThrottle.h"
#include "http/NetCacheDelegate.h"
#include "http/NetConnectionRecord.h"
#include "http/NetCookie.h"
#include "http/NetErrors.h"
#include "http/NetHTTPRequestDelegate.h"
#include "http/NetHeaders.h"
#include "http/NetProgressDelegate.h"
#include "http/NetRequestBlocks.h"
#include "platform/net/NetStreamTypes.h"

namespace net {
class NetFileReadStream;
class NetHTTPStream;
class NetRunLoop;
class NetTimer;
}  // namespace net
class NetAuthentication;
class NetDataDecompressor;
class NetInputStream;
class NetOperationQueue;
class NetRequestQueue;
struct NetCredentials;

// One HTTP/1.1 request: a URL, a method, headers and an optional body go out; the status,
// status line, headers, cookies and body come back. A request runs synchronously on the
// calling thread (its run loop turns in a private mode until the request is complete), or
// on the network thread. The request never throws to its caller: every failure ends in
// failWithError, which keeps the first error.
//
// Listeners (a delegate, a queue, progress delegates and blocks) hear of the request on the
// main thread; the request never waits for them unless it runs there itself. Listeners are
// held weakly and looked up when a notice is delivered, so a listener that is gone or was
// cleared meanwhile hears nothing.
//
// Authentication and proxies are served by the virtual steps below, which later layers
// override or fill in.
class NetHTTPRequest : public NetThrottleTarget,
                       public std::enable_shared_from_this<NetHTTPRequest> {
    friend class NetRequestQueue;

public:
    static constexpr const char* RunLoopMode = "NetHTTPRequestRunLoopMode";
    // A response body held in memory (and an inflated one) may grow to this many bytes
    // before the request fails, so that a hostile server cannot exhaust memory.
    static constexpr std::uint64_t DefaultMaximumResponseDataLength = 512ull * 1024 * 1024;

    // A request with the defaults; a missing URL fails when the request starts (code 5).
    explicit NetHTTPRequest(std::optional<foundation::Url> url);
    static std::shared_ptr<NetHTTPRequest> requestWithURL(std::optional<foundation::Url> url);
    ~NetHTTPRequest() override;
    NetHTTPRequest(const NetHTTPRequest&) = delete;
    NetHTTPRequest& operator=(const NetHTTPRequest&) = delete;

    // A new request of the same class for the same URL carrying over the caller's settings
    // and listeners (not the response, run state, counters, callback blocks, queue or cache
    // settings, which start as for a new request).
    virtual std::shared_ptr<NetHTTPRequest> copy() const;
    // Forgets what this run of the program kept for later requests: the session's server
    // credentials (proxy credentials stay), the session cookies (deleted from the cookie
    // storage too) and the session entries of the default cache. A cache folder that
    // cannot be emptied raises the cache's exception.
    static void clearSession();

    // --- Network activity indicator (NetHTTPRequestSession.cpp) ---
    // Whether requests keep an indicator of network activity up to date; on at first.
    static bool shouldUpdateNetworkActivityIndicator();
    static void setShouldUpdateNetworkActivityIndicator(bool update);
    // There is no such indicator on this desktop: showing and hiding it do nothing.
    static void showNetworkActivityIndicator();
    static void hideNetworkActivityIndicator();
    // Hides the indicator half a second from now, on the calling thread's run loop (in its
    // default mode), unless requests are running by then.
    static void hideNetworkActivityIndicatorAfterDelay();
    // Hides the indicator when no request stream is running.
    static void hideNetworkActivityIndicatorIfNeeeded();

    // --- Description of the request ---
    std::optional<foundation::Url> url() const;
    // A different URL drops what was built for the old one and any pending redirect.
    void setURL(std::optional<foundation::Url> url);
    const std::optional<foundation::Url>& originalURL() const { return originalURL_; }
    const std::optional<foundation::Url>& redirectURL() const { return redirectURL_; }
    std::string requestMethod() const;
    // "POST", "PUT" or a body turns persistent connections off.
    void setRequestMethod(const std::string& method);

    const NetHeaders& requestHeaders() const { return requestHeaders_; }
    std::optional<std::string> requestHeader(std::string_view name) const;
    // Sets the header, replacing one of the same name in any letter case.
    void addRequestHeader(const std::string& name, const std::string& value);
    void removeRequestHeader(std::string_view name);
    std::vector<NetCookie>& requestCookies() { return requestCookies_; }
    void setRequestCookies(std::vector<NetCookie> cookies) { requestCookies_ = std::move(cookies); }
    const std::string& userAgentString() const { return userAgentString_; }
    void setUserAgentString(std::string userAgent) { userAgentString_ = std::move(userAgent); }

    // --- Body ---
    void appendPostData(const foundation::Data& data);
    void appendPostData(std::string_view bytes);
    // Copies the file in pieces into the body; false (and the request failed) when the
    // file cannot be read.
    bool appendPostDataFromFile(const std::string& path);
    void setupPostBody();
    const foundation::Data& postBody() const { return *postBody_; }
    std::uint64_t postLength() const { return postLength_; }
    bool shouldStreamPostDataFromDisk() const { return shouldStreamPostDataFromDisk_; }
    void setShouldStreamPostDataFromDisk(bool on) { shouldStreamPostDataFromDisk_ = on; }
    const std::string& postBodyFilePath() const { return postBodyFilePath_; }
    void setPostBodyFilePath(std::string path) { postBodyFilePath_ = std::move(path); }
    // The gzip form of the body file, made when the body is built.
    const std::string& compressedPostBodyFilePath() const { return compressedPostBodyFilePath_; }
    void setCompressedPostBodyFilePath(std::string path) {
        compressedPostBodyFilePath_ = std::move(path);
    }
    bool shouldCompressRequestBody() const { return shouldCompressRequestBody_; }
    void setShouldCompressRequestBody(bool on) { shouldCompressRequestBody_ = on; }

    // --- Behaviour ---
    bool useHTTPVersionOne() const { return useHTTPVersionOne_; }
    void setUseHTTPVersionOne(bool on) { useHTTPVersionOne_ = on; }
    bool allowCompressedResponse() const { return allowCompressedResponse_; }
    void setAllowCompressedResponse(bool on) { allowCompressedResponse_ = on; }
    bool shouldWaitToInflateCompressedResponses() const {
        return shouldWaitToInflateCompressedResponses_;
    }
    void setShouldWaitToInflateCompressedResponses(bool on) {
        shouldWaitToInflateCompressedResponses_ = on;
    }
    double timeOutSeconds() const { return timeOutSeconds_; }
    void setTimeOutSeconds(double seconds) { timeOutSeconds_ = seconds; }
    int numberOfTimesToRetryOnTimeout() const { return numberOfTimesToRetryOnTimeout_; }
    void setNumberOfTimesToRetryOnTimeout(int n) { numberOfTimesToRetryOnTimeout_ = n; }
    int retryCount() const { return retryCount_; }
    bool shouldRedirect() const { return shouldRedirect_; }
    void setShouldRedirect(bool on) { shouldRedirect_ = on; }
    bool shouldUseRFC2616RedirectBehaviour() const { return shouldUseRFC2616RedirectBehaviour_; }
    void setShouldUseRFC2616RedirectBehaviour(bool on) { shouldUseRFC2616RedirectBehaviour_ = on; }
    int redirectCount() const { return redirectCount_; }
    bool validatesSecureCertificate() const { return validatesSecureCertificate_; }
    void setValidatesSecureCertificate(bool on) { validatesSecureCertificate_ = on; }
    // A client identity for "https": the certificate chain and its private key (PEM), and
    // further certificates sent after it.
    void setClientCertificateIdentity(std::string chainPEM, std::string privateKeyPEM);
    void setClientCertificates(std::vector<std::string> certificatesPEM);
    bool shouldAttemptPersistentConnection() const { return shouldAttemptPersistentConnection_; }
    void setShouldAttemptPersistentConnection(bool on) { shouldAttemptPersistentConnection_ = on; }
    double persistentConnectionTimeoutSeconds() const {
        return persistentConnectionTimeoutSeconds_;
    }
    void setPersistentConnectionTimeoutSeconds(double s) {
        persistentConnectionTimeoutSeconds_ = s;
    }
    bool connectionCanBeReused() const { return connectionCanBeReused_; }
    bool useCookiePersistence() const { return useCookiePersistence_; }
    void setUseCookiePersistence(bool on) { useCookiePersistence_ = on; }
    std::uint64_t maximumResponseDataLength() const { return maximumResponseDataLength_; }
    void setMaximumResponseDataLength(std::uint64_t n) { maximumResponseDataLength_ = n; }
    // The "id" of the connection record in use; nullopt without one.
    std::optional<int> connectionID() const;
    std::optional<std::uint32_t> requestID() const { return requestID_; }
    const std::string& runLoopMode() const { return runLoopMode_; }

    // Credentials sent as Basic before a challenge when the scheme is set to "Basic".
    const std::string& username() const { return username_; }
    void setUsername(std::string name) { username_ = std::move(name); }
    const std::string& password() const { return password_; }
    void setPassword(std::string password) { password_ = std::move(password); }
    const std::string& authenticationScheme() const { return authenticationScheme_; }
    void setAuthenticationScheme(std::string scheme) { authenticationScheme_ = std::move(scheme); }
    bool shouldPresentCredentialsBeforeChallenge() const {
        return shouldPresentCredentialsBeforeChallenge_;
    }
    void setShouldPresentCredentialsBeforeChallenge(bool on) {
        shouldPresentCredentialsBeforeChallenge_ = on;
    }
    // Basic credentials that worked are kept for the session.
    bool useSessionPersistence() const { return useSessionPersistence_; }
    void setUseSessionPersistence(bool on) { useSessionPersistence_ = on; }
    void setProxy(std::string host, int port);

    // --- Authentication and proxies (NetHTTPRequestAuthentication.cpp, ...Proxies.cpp) ---
    const std::string& domain() const { return domain_; }
    void setDomain(std::string domain) { domain_ = std::move(domain); }
    const std::string& authenticationRealm() const { return authenticationRealm_; }
    int authenticationRetryCount() const { return authenticationRetryCount_; }
    // Credentials that worked are also kept in the credential storage, and looked up there.
    bool useKeychainPersistence() const { return useKeychainPersistence_; }
    void setUseKeychainPersistence(bool on) { useKeychainPersistence_ = on; }
    const std::string& proxyUsername() const { return proxyUsername_; }
    void setProxyUsername(std::string name) { proxyUsername_ = std::move(name); }
    const std::string& proxyPassword() const { return proxyPassword_; }
    void setProxyPassword(std::string password) { proxyPassword_ = std::move(password); }
    const std::string& proxyDomain() const { return proxyDomain_; }
    void setProxyDomain(std::string domain) { proxyDomain_ = std::move(domain); }
    // Whether a credential dialog may be shown for the server's or the proxy's challenge.
    // No dialog exists here, so these only travel with the request.
    bool shouldPresentAuthenticationDialog() const { return shouldPresentAuthenticationDialog_; }
    void setShouldPresentAuthenticationDialog(bool on) { shouldPresentAuthenticationDialog_ = on; }
    bool shouldPresentProxyAuthenticationDialog() const {
        return shouldPresentProxyAuthenticationDialog_;
    }
    void setShouldPresentProxyAuthenticationDialog(bool on) {
        shouldPresentProxyAuthenticationDialog_ = on;
    }
    const std::string& proxyHost() const { return proxyHost_; }
    int proxyPort() const { return proxyPort_; }
    // "HTTP", "HTTPS" (an https URL through a CONNECT tunnel) or "SOCKS", once a proxy was
    // chosen. Set to "SOCKS" with setProxy for a SOCKS proxy of the caller's choice; the
    // proxy's user name and password are then offered to it.
    const std::string& proxyType() const { return proxyType_; }
    void setProxyType(std::string type) { proxyType_ = std::move(type); }
    const std::string& proxyAuthenticationScheme() const { return proxyAuthenticationScheme_; }
    const std::string& proxyAuthenticationRealm() const { return proxyAuthenticationRealm_; }
    int proxyAuthenticationRetryCount() const { return proxyAuthenticationRetryCount_; }
    // A proxy auto-configuration script to run for this request instead of the system's.
    const std::optional<foundation::Url>& PACurl() const { return PACurl_; }
    void setPACurl(std::optional<foundation::Url> url) { PACurl_ = std::move(url); }
    bool isPACFileRequest() const { return isPACFileRequest_; }
    // Base64 (RFC 4648, "=" padding, no line breaks); empty bytes give empty text.
    static std::string base64forData(const foundation::Data& data);
    // Sets "Authorization" to Basic with these credentials, and the scheme to "Basic".
    void addBasicAuthenticationHeaderWithUsernameAndPassword(const std::string& username,
                                                             const std::string& password);
    // For a listener that was asked for credentials: go on with username and password
    // (or the proxy's) as now set, or give up with code 3.
    void retryUsingSuppliedCredentials();
    void cancelAuthentication();

    // Download of the body into a file instead of memory.
    const std::string& downloadDestinationPath() const { return downloadDestinationPath_; }
    void setDownloadDestinationPath(std::string path) {
        downloadDestinationPath_ = std::move(path);
    }
    const std::string& temporaryFileDownloadPath() const { return temporaryFileDownloadPath_; }
    void setTemporaryFileDownloadPath(std::string path) {
        temporaryFileDownloadPath_ = std::move(path);
    }
    // Where a compressed body inflated while it arrives is written beside the bytes as
    // received; a new temporary file when none is set.
    const std::string& temporaryUncompressedDataDownloadPath() const {
        return temporaryUncompressedDataDownloadPath_;
    }
    void setTemporaryUncompressedDataDownloadPath(std::string path) {
        temporaryUncompressedDataDownloadPath_ = std::move(path);
    }
    // Keeps a partial download's temporary file and asks for the rest with "Range".
    bool allowResumeForFileDownloads() const { return allowResumeForFileDownloads_; }
    void setAllowResumeForFileDownloads(bool on) { allowResumeForFileDownloads_ = on; }
    std::uint64_t partialDownloadSize() const { return partialDownloadSize_; }
    const foundation::Value& userInfo() const { return userInfo_; }
    void setUserInfo(foundation::Value info) { userInfo_ = std::move(info); }
    std::int64_t tag() const { return tag_; }
    void setTag(std::int64_t tag) { tag_ = tag; }

    // --- Running ---
    // Runs the whole request on the calling thread; returns once it is complete.
    void startSynchronous();
    // Runs the request on the network thread; returns at once. False when it was already
    // started, complete or cancelled.
    bool start();
    // Puts the request on the shared queue, which runs at most 4 at once on the network
    // thread; returns at once.
    void startAsynchronous();
    static NetOperationQueue& sharedQueue();
    // Waits until a request started (or queued) for the network thread is finished.
    void waitUntilFinished();
    // Fails the request with code 4 on the thread it runs on; a complete request stays.
    void cancel();
    bool isCancelled() const;
    bool complete() const;
    bool isFinished() const;
    bool inProgress() const;
    // As an operation of a queue: it runs on the network thread of its own accord, and is
    // executing while in progress.
    bool isConcurrent() const { return true; }
    bool isExecuting() const { return inProgress(); }

    // --- Listeners ---
    std::shared_ptr<NetHTTPRequestDelegate> delegate() const;
    void setDelegate(std::weak_ptr<NetHTTPRequestDelegate> delegate);
    std::shared_ptr<NetRequestQueue> queue() const;
    void setQueue(std::weak_ptr<NetRequestQueue> queue);
    std::shared_ptr<NetProgressDelegate> uploadProgressDelegate() const;
    // Also sends the new delegate setMaxValue(1.0).
    void setUploadProgressDelegate(std::weak_ptr<NetProgressDelegate> delegate);
    std::shared_ptr<NetProgressDelegate> downloadProgressDelegate() const;
    void setDownloadProgressDelegate(std::weak_ptr<NetProgressDelegate> delegate);
    // The delegate operations called for each notice; nullptr calls none.
    void setDidStartSelector(NetRequestSelector s) { didStartSelector_ = s; }
    void setDidReceiveResponseHeadersSelector(NetHeadersSelector s) {
        didReceiveResponseHeadersSelector_ = s;
    }
    void setWillRedirectSelector(NetRedirectSelector s) { willRedirectSelector_ = s; }
    void setDidFinishSelector(NetRequestSelector s) { didFinishSelector_ = s; }
    void setDidFailSelector(NetRequestSelector s) { didFailSelector_ = s; }
    void setDidReceiveDataSelector(NetDataSelector s) { didReceiveDataSelector_ = s; }
    void setStartedBlock(std::function<void()> block);
    void setHeadersReceivedBlock(std::function<void(const NetHeaders&)> block);
    void setCompletionBlock(std::function<void()> block);
    void setFailedBlock(std::function<void()> block);
    void setBytesReceivedBlock(std::function<void(std::uint64_t, std::uint64_t)> block);
    void setBytesSentBlock(std::function<void(std::uint64_t, std::uint64_t)> block);
    void setDownloadSizeIncrementedBlock(std::function<void(std::int64_t)> block);
    void setUploadSizeIncrementedBlock(std::function<void(std::int64_t)> block);
    void setDataReceivedBlock(std::function<void(const foundation::Data&)> block);
    void setAuthenticationNeededBlock(std::function<void()> block);
    void setProxyAuthenticationNeededBlock(std::function<void()> block);
    void setRequestRedirectedBlock(std::function<void()> block);
    // Drops every listener (the blocks are let go on the main thread), then cancels: the
    // request ends with code 4 and nobody hears of it.
    void clearDelegatesAndCancel();
    // Goes on with a redirect that the delegate was asked to confirm.
    void redirectToURL(const foundation::Url& url);

    // --- Progress ---
    // Counts bytes (true) or the request as one unit (false).
    bool showAccurateProgress() const;
    void setShowAccurateProgress(bool on);
    bool shouldResetUploadProgress() const { return shouldResetUploadProgress_; }
    void setShouldResetUploadProgress(bool on) { shouldResetUploadProgress_ = on; }
    bool shouldResetDownloadProgress() const { return shouldResetDownloadProgress_; }
    void setShouldResetDownloadProgress(bool on) { shouldResetDownloadProgress_ = on; }
    // Adds to the download or upload total of the queue and the progress delegate.
    void incrementDownloadSizeBy(std::int64_t amount);
    void incrementUploadSizeBy(std::int64_t amount);
    // Delivers progress of `total` to an indicator on the main thread.
    static void updateProgressIndicator(const std::weak_ptr<NetProgressDelegate>& indicator,
                                        std::uint64_t progress, std::uint64_t total);

    // --- HEAD request and operation-queue state ---
    // A request for the same URL and settings that sends "HEAD" on behalf of this one:
    // it reports nothing itself and gives this request its length.
    std::shared_ptr<NetHTTPRequest> HEADRequest() const;
    std::shared_ptr<NetHTTPRequest> mainRequest() const { return mainRequest_.lock(); }
    int queuePriority() const { return queuePriority_; }
    void setQueuePriority(int priority) { queuePriority_ = priority; }
    // Requests that must be finished before an operation queue starts this one.
    void addDependency(const std::shared_ptr<NetHTTPRequest>& request);
    std::vector<std::shared_ptr<NetHTTPRequest>> dependencies() const;
    // Called once when the request is finished, on the thread that finished it.
    void addFinishedObserver(std::function<void()> observer);

    // --- Cache ---
    const std::shared_ptr<NetCacheDelegate>& downloadCache() const { return downloadCache_; }
    void setDownloadCache(std::shared_ptr<NetCacheDelegate> cache) {
        downloadCache_ = std::move(cache);
    }
    int cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(int policy) { cachePolicy_ = policy; }
    int cacheStoragePolicy() const { return cacheStoragePolicy_; }
    void setCacheStoragePolicy(int policy) { cacheStoragePolicy_ = policy; }
    bool didUseCachedResponse() const { return didUseCachedResponse_; }
    double secondsToCache() const { return secondsToCache_; }
    void setSecondsToCache(double seconds) { secondsToCache_ = seconds; }
    static std::shared_ptr<NetHTTPRequest> requestWithURL(std::optional<foundation::Url> url,
                                                          std::shared_ptr<NetCacheDelegate> cache,
                                                          int cachePolicy = 0);

    // --- Results ---
    int responseStatusCode() const { return responseStatusCode_; }
    std::optional<std::string> responseStatusMessage() const { return responseStatusMessage_; }
    const NetHeaders& responseHeaders() const { return responseHeaders_; }
    // The header's value in any letter case; repeated headers joined with ", ".
    std::optional<std::string> responseHeader(std::string_view name) const;
    const std::vector<NetCookie>& responseCookies() const { return responseCookies_; }
    const foundation::Data& rawResponseData() const { return rawResponseData_; }
    // The body, inflated afresh when it was kept compressed; nullopt without a body (also
    // when a failed transfer dropped it) or when it does not inflate.
    std::optional<foundation::Data> responseData() const;
    // The same moved out of a complete request, which keeps no body: for a caller that takes
    // a large body once.
    std::optional<foundation::Data> takeResponseData();
    // The body decoded in the response's text encoding; nullopt when it does not decode.
    std::optional<std::string> responseString() const;
    bool isResponseCompressed() const;
    std::uint64_t contentLength() const { return contentLength_; }
    std::uint64_t totalBytesRead() const { return totalBytesRead_; }
    std::uint64_t totalBytesSent() const { return totalBytesSent_; }
    const std::string& responseEncoding() const { return responseEncoding_; }
    const std::string& defaultResponseEncoding() const { return defaultResponseEncoding_; }
    void setDefaultResponseEncoding(std::string e) { defaultResponseEncoding_ = std::move(e); }
    const std::optional<foundation::Error>& error() const { return error_; }

    // Deletes the file if it exists; false with a code-8 error when it cannot.
    static bool removeFileAtPath(const std::string& path, foundation::Error* error);
    // Each deletes the file its path names, when one is named, and clears the path; a file
    // that cannot be deleted fails the request with code 8. Whether it went well.
    bool removeTemporaryDownloadFile();
    bool removeTemporaryUncompressedDownloadFile();
    bool removeTemporaryUploadFile();
    bool removeTemporaryCompressedUploadFile();
    // The MIME type known for the path's extension, else "application/octet-stream";
    // nullopt when nothing exists at the path.
    static std::optional<std::string> mimeTypeForFileAtPath(const std::string& path);

    // NetThrottleTarget: the throttle takes the stream off its run loop and back.
    bool readStreamIsScheduled() const override { return readStreamIsScheduled_; }
    void scheduleReadStream() override;
    void unscheduleReadStream() override;

protected:
    // --- Steps run by the request, open to the layers above ---
    virtual void main();
    virtual void buildPostBody();
    virtual void buildRequestHeaders();
    void applyCookieHeader();
    // Credentials before a challenge: the Basic header from username and password, or
    // what the session store holds for the URL and the proxy.
    virtual void applyAuthorizationHeader();
    // Whether startRequest may run now; a proxy step that answers false starts it itself.
    virtual bool configureProxies();
    // Answers a 401 or 407 once the body was read; without credentials: code 3.
    virtual void attemptToApplyCredentialsAndResume();
    // Whether a listener is asked for (proxy) credentials, and will answer later with
    // retryUsingSuppliedCredentials or cancelAuthentication. Never for a synchronous request.
    virtual bool willAskDelegateForCredentials();
    virtual bool willAskDelegateForProxyCredentials();
    // On the main thread: asks the listener chosen when the challenge came (it answers
    // challenges), or else runs the request's block (the proxy's for the second); the request
    // waits for one of them to answer.
    void askDelegateForCredentials(const std::shared_ptr<NetHTTPRequestDelegate>& target,
                                   const std::function<void()>& block);
    void askDelegateForProxyCredentials(const std::shared_ptr<NetHTTPRequestDelegate>& target,
                                        const std::function<void()>& block);
    // There is no credential dialog here: both answer that none was shown.
    bool showAuthenticationDialog() const { return false; }
    bool showProxyAuthenticationDialog() const { return false; }
    void startRequest();
    void failWithError(const foundation::Error& error);
    void cancelLoad();
    void markAsFinished();

    // Listener notices, delivered on the main thread.
    virtual void requestStarted();
    virtual void requestReceivedResponseHeaders(const NetHeaders& headers);
    virtual void requestRedirected();
    virtual void requestWillRedirectToURL(const foundation::Url& url);
    virtual void requestFinished();
    // Tells the delegate, the completion block and the queue; on the main thread.
    void reportFinished();
    virtual void reportFailure();
    // Whether a listener takes the body chunks (which are then not stored), and the hand-over.
    virtual bool wantsReceivedData() const;
    virtual void passOnReceivedData(const foundation::Data& data);
    // Whether a listener is asked to confirm a redirect (and follows it itself).
    virtual bool willAskDelegateToConfirmRedirect();
    // Runs `notice` on the main thread: at once when already there, else later. Nothing is
    // sent while the request has no listener at all.
    void performBlockOnMainThread(std::function<void()> notice);
    bool hasListeners() const;
    void updateProgressIndicators();
    void updateUploadProgress();
    void updateDownloadProgress();
    void removeUploadProgressSoFar();
    // Answers from the download cache; false (and nothing changed) without a whole entry.
    bool useDataFromCache();
    // Asks the server whether the cached answer is still good ("If-None-Match",
    // "If-Modified-Since").
    void addCachedValidators();
    // A new request of this request's own class, for the HEAD request made from it.
    virtual std::shared_ptr<NetHTTPRequest> makeRequestOfSameClass(
        std::optional<foundation::Url> url) const;
    // The copy's share of copy(): every setting a subclass's copy carries over too.
    void copyPropertiesInto(NetHTTPRequest& other) const;
    void cancelOnRequestThread();

    std::recursive_mutex& cancelledLock() const { return cancelledLock_; }
    bool haveBuiltPostBody() const { return haveBuiltPostBody_; }
    void setHaveBuiltPostBody(bool on) { haveBuiltPostBody_ = on; }
    void setPostLength(std::uint64_t n) { postLength_ = n; }
    int authenticationNeeded() const { return authenticationNeeded_; }
    bool isSynchronous() const { return isSynchronous_; }
    // The size of the partial download to resume; false (and the request failed) when the
    // temporary file's size cannot be read.
    bool updatePartialDownloadSize();

private:
    enum class ProgressSlot { Upload, Download };
    using ProgressCall = std::function<void(NetHTTPRequest&, NetRequestQueue*, NetProgressDelegate*,
                                            const NetRequestBlocks&)>;
    // Hands the queue, the progress delegate in `slot` and the blocks, as they are when
    // the notice arrives on the main thread, to `call`.
    void sendProgress(ProgressSlot slot, ProgressCall call);
    void resetProgressIndicator(ProgressSlot slot);
    void releaseBlocksOnMainThread();
    // Runs on the main thread with the blocks taken from a request, which go when it ends.
    static void releaseBlocks(const std::shared_ptr<NetRequestBlocks>& blocks);
    void tellFinishedObservers();
    void handleNetworkEvent(net::NetStreamEvent event);
    void readResponseHeaders();
    // Whether the answer to a resumed download may go into the file: a whole new body, or
    // a 206 whose part starts where the partial file ends. Anything else (another part, an
    // error page) would corrupt the file, which is kept as it was.
    bool acceptsAnswerToRange() const;
    // Whether a resumed download was answered 416 for a range starting where the file is
    // already whole: the download is finished, the answer's body no part of it.
    bool answersThatTheDownloadIsWhole() const;
    void parseStringEncodingFromHeaders();
    void handleBytesAvailable();
    void handleStreamComplete();
    void handleStreamError();
    bool retryUsingNewConnection();
    bool willRedirect();
    void performRedirect();
    void updateStatus();
    // Replaces the status timer; the previous one is stopped.
    void setStatusTimer(std::shared_ptr<net::NetTimer> timer);
    void checkRequestStatus();
    bool shouldTimeOut() const;
    void destroyReadStream();
    void releaseConnectionRecord(bool keepInPool);
    // The body file and its compressed form, when the request made them; false once the
    // request failed.
    bool removeTemporaryUploadFiles();
    // Deletes the file `path` names, when it names one, and clears the path; a file that
    // stays fails the request.
    bool removeTemporaryFile(std::string& path);
    bool finishDownloadToFile(std::optional<foundation::Error>& fileError);
    // Moves a finished temporary file to the destination; a failure becomes `fileError`.
    void moveDownloadIntoPlace(const std::string& from,
                               std::optional<foundation::Error>& fileError);
    // Appends to the download file open on `fd` (opened on `path` on first use, a new
    // temporary when the path is empty); false once the request failed.
    bool writeDownloadBytes(int& fd, std::string& path, const std::uint8_t* bytes,
                            std::size_t length);
    void closeDownloadFiles();
    // Received body bytes, inflated first when they come compressed and are not stored
    // so; false once the request failed.
    bool takeReceivedBytes(const std::uint8_t* bytes, std::size_t count);
    // Hands a body chunk to a listener or stores it; false once the request failed.
    bool takeBodyBytes(const std::uint8_t* bytes, std::size_t length);
    bool storeBodyBytes(const std::uint8_t* bytes, std::size_t length);
    bool writeToBody(const std::uint8_t* bytes, std::size_t length);
    std::shared_ptr<NetInputStream> makeBodyStream();
    std::optional<foundation::Error> refuseUnsafeRequest() const;
    // Authentication (NetHTTPRequestAuthentication.cpp).
    void attemptToApplyProxyCredentialsAndResume();
    bool applyCredentials(const std::shared_ptr<const NetCredentials>& credentials);
    bool applyProxyCredentials(const std::shared_ptr<const NetCredentials>& credentials);
    std::shared_ptr<const NetCredentials> findCredentials() const;
    // Whether the request's own user name and password may go to the URL it now has:
    // they were given for the first URL's origin, and a redirect elsewhere leaves them.
    bool ownCredentialsApply() const;
    // Drops what was applied for the server of the URL the request leaves.
    void forgetServerCredentialsApplied();
    // Drops what was given to, taken for or applied for the proxy the request leaves.
    void forgetProxyCredentialsApplied();
    // Keeps credentials in the credential storage for the server (its host, port and scheme)
    // or the proxy (host and port) and the realm that asked for them.
    static void saveCredentialsToKeychain(const NetCredentials& credentials,
                                          const foundation::Url& server, const std::string& realm);
    static void saveProxyCredentialsToKeychain(const NetCredentials& credentials,
                                               const std::string& host, int port,
                                               const std::string& realm);
    // Puts credentials the answer shows were taken into the credential storage.
    void keepAcceptedCredentials();
    // Whether this attempt carries an NTLM message, whose exchange is tied to one connection.
    bool sendsConnectionBoundCredentials() const;
    // Before a redirected request goes out: NTLM proves the account for one connection, so
    // the request starts an exchange of its own (negotiation, challenge, answer) on the
    // connection it goes out on.
    void startNewConnectionBoundExchange();
    // Whether the answer carries the NTLM challenge, to be answered on its connection.
    bool carriesConnectionBoundChallenge() const;
    std::shared_ptr<const NetCredentials> findProxyCredentials() const;
    // After refused proxy credentials: a record of the session for the proxy, applied to
    // the latest challenge with the transfer torn down, ready for startRequest; false when
    // there is none or it does not apply.
    bool applyProxyCredentialsFromSession();
    std::string proxyRequestTarget() const;
    void failAuthentication();
    // Proxies (NetHTTPRequestProxies.cpp).
    void fetchPACFile();
    // Forgets the proxy chosen for the previous URL, so that the next one gets its own.
    void forgetProxyChosenForURL();
    void runPACScript(const std::string& script);
    // What the stream is told of the chosen proxy; nullopt for none.
    std::optional<net::NetProxySettings> proxySettingsForStream() const;
    void finishedDownloadingPACFile(NetHTTPRequest& pacRequest);
    // The script file stream's events (bytes, end, error), while it is read.
    void streamHandleEvent(net::NetStreamEvent event);
    // The script file took longer than the time-out: the request goes on without it.
    void timeOutPACRead();
    // Ends the script file's reading: the stream, its time-out and the data so far.
    void closePACFileReadStream();

    // Description
    std::optional<foundation::Url> url_;
    std::optional<foundation::Url> originalURL_;
    std::optional<foundation::Url> redirectURL_;
    std::string requestMethod_ = "GET";
    NetHeaders requestHeaders_;
    std::vector<NetCookie> requestCookies_;
    std::string userAgentString_;
    bool rebuildCookieHeader_ = false;

    // Body
    std::shared_ptr<foundation::Data> postBody_ = std::make_shared<foundation::Data>();
    std::shared_ptr<foundation::Data> compressedPostBody_;
    std::uint64_t postLength_ = 0;
    bool shouldStreamPostDataFromDisk_ = false;
    std::string postBodyFilePath_;
    std::string compressedPostBodyFilePath_;
    bool didCreateTemporaryPostDataFile_ = false;
    int postBodyWriteFd_ = -1;
    std::shared_ptr<NetInputStream> postBodyReadStream_;
    bool shouldCompressRequestBody_ = false;
    bool haveBuiltPostBody_ = false;
    bool haveBuiltRequestHeaders_ = false;

    // Behaviour
    bool useHTTPVersionOne_ = false;
    bool allowCompressedResponse_ = true;
    bool shouldWaitToInflateCompressedResponses_ = true;
    double timeOutSeconds_;
    int numberOfTimesToRetryOnTimeout_ = 0;
    int retryCount_ = 0;
    bool shouldRedirect_ = true;
    bool shouldUseRFC2616RedirectBehaviour_ = false;
    int redirectCount_ = 0;
    bool needsRedirect_ = false;
    bool validatesSecureCertificate_ = true;
    net::NetTLSSettings clientIdentity_;
    std::vector<std::string> clientCertificates_;
    bool shouldAttemptPersistentConnection_ = true;
    double persistentConnectionTimeoutSeconds_ = 60.0;
    bool connectionCanBeReused_ = false;
    bool useCookiePersistence_ = true;
    std::uint64_t maximumResponseDataLength_ = DefaultMaximumResponseDataLength;
    std::shared_ptr<NetConnectionRecord> connectionInfo_;
    std::optional<std::uint32_t> requestID_;
    std::string runLoopMode_;
    std::string username_;
    std::string password_;
    std::string authenticationScheme_;
    bool shouldPresentCredentialsBeforeChallenge_ = true;
    int authenticationNeeded_ = 0;
    std::string proxyHost_;
    int proxyPort_ = 0;
    std::string downloadDestinationPath_;
    std::string temporaryFileDownloadPath_;
    std::string temporaryUncompressedDataDownloadPath_;
    int downloadFd_ = -1;
    int inflatedDownloadFd_ = -1;
    bool allowResumeForFileDownloads_ = false;
    std::uint64_t partialDownloadSize_ = 0;
    bool downloadAlreadyWhole_ = false;
    bool useSessionPersistence_ = true;
    std::string domain_;
    std::string authenticationRealm_;
    std::shared_ptr<const NetCredentials> requestCredentials_;
    // Saves requestCredentials_ (proxyCredentials_) in the credential storage; run once the
    // server (proxy) takes them, dropped when it refuses them.
    std::function<void()> keepServerCredentials_;
    std::function<void()> keepProxyCredentials_;
    std::shared_ptr<NetAuthentication> requestAuthentication_;
    int authenticationRetryCount_ = 0;
    // authenticationRetryCount_ (proxyAuthenticationRetryCount_) when the current NTLM
    // exchange began: a redirect begins a new one.
    int ntlmExchangeStart_ = 0;
    int proxyNTLMExchangeStart_ = 0;
    bool useKeychainPersistence_ = false;
    std::string proxyUsername_;
    std::string proxyPassword_;
    std::string proxyDomain_;
    bool shouldPresentAuthenticationDialog_ = false;
    bool shouldPresentProxyAuthenticationDialog_ = true;
    // Refused proxy credentials were followed by one more attempt at once.
    bool proxyAttemptRepeated_ = false;
    std::string proxyType_;
    std::string proxyAuthenticationScheme_;
    std::string proxyAuthenticationRealm_;
    std::shared_ptr<const NetCredentials> proxyCredentials_;
    std::shared_ptr<NetAuthentication> proxyAuthentication_;
    int proxyAuthenticationRetryCount_ = 0;
    std::string proxyAuthorization_;  // sent to the proxy, never to the server
    // The credentials proxyAuthorization_ was made from: pooled connections through the
    // proxy are kept apart by them.
    std::shared_ptr<const NetCredentials> proxyAuthorizationCredentials_;
    std::optional<foundation::Url> PACurl_;
    // The proxy (or the script's URL) was chosen for the URL by the request itself, from
    // the system's settings or a script, and is chosen again after a redirect.
    bool proxyChosenForURL_ = false;
    // The proxy's user name and password came written in its address.
    bool proxyCredentialsChosenForURL_ = false;
    bool PACurlChosenForURL_ = false;
    bool isPACFileRequest_ = false;
    std::shared_ptr<NetHTTPRequest> PACFileRequest_;
    std::shared_ptr<net::NetFileReadStream> PACFileReadStream_;
    foundation::Data PACFileData_;
    std::shared_ptr<net::NetTimer> PACFileReadTimer_;
    foundation::Value userInfo_;
    std::int64_t tag_ = 0;

    // Run state
    bool isSynchronous_ = false;
    bool inProgress_ = false;
    bool complete_ = false;
    bool finished_ = false;
    bool cancelled_ = false;
    bool downloadComplete_ = false;
    bool willRetryRequest_ = false;
    std::optional<foundation::Error> error_;
    mutable std::recursive_mutex cancelledLock_;
    std::condition_variable_any finishedSignal_;
    bool queued_ = false;
    net::NetRunLoop* runLoop_ = nullptr;
    // Keeps a request started on the network thread alive until it is over.
    std::shared_ptr<NetHTTPRequest> keepAliveWhileRunning_;

    // Response
    int responseStatusCode_ = 0;
    std::optional<std::string> responseStatusMessage_;
    NetHeaders responseHeaders_;
    bool haveReadResponseHeaders_ = false;
    std::vector<NetCookie> responseCookies_;
    foundation::Data rawResponseData_;
    // The body of an attempt torn down before it completed was dropped: there is none.
    bool rawResponseDataDropped_ = false;
    std::uint64_t contentLength_ = 0;
    std::uint64_t totalBytesRead_ = 0;
    std::string defaultResponseEncoding_ = "ISO-8859-1";
    std::string responseEncoding_ = "ISO-8859-1";
    std::unique_ptr<NetDataDecompressor> dataDecompressor_;

    // Listeners
    std::weak_ptr<NetHTTPRequestDelegate> delegate_;
    std::weak_ptr<NetRequestQueue> queue_;
    std::weak_ptr<NetProgressDelegate> uploadProgressDelegate_;
    std::weak_ptr<NetProgressDelegate> downloadProgressDelegate_;
    NetRequestSelector didStartSelector_ = &NetHTTPRequestDelegate::requestStarted;
    NetHeadersSelector didReceiveResponseHeadersSelector_ =
        &NetHTTPRequestDelegate::requestDidReceiveResponseHeaders;
    NetRedirectSelector willRedirectSelector_ = &NetHTTPRequestDelegate::requestWillRedirectToURL;
    NetRequestSelector didFinishSelector_ = &NetHTTPRequestDelegate::requestFinished;
    NetRequestSelector didFailSelector_ = &NetHTTPRequestDelegate::requestFailed;
    NetDataSelector didReceiveDataSelector_ = &NetHTTPRequestDelegate::requestDidReceiveData;
    NetRequestBlocks blocks_;
    std::weak_ptr<NetHTTPRequest> mainRequest_;
    bool hasMainRequest_ = false;
    int queuePriority_ = 0;
    std::vector<std::weak_ptr<NetHTTPRequest>> dependencies_;
    std::vector<std::function<void()>> finishedObservers_;

    // Progress
    bool showAccurateProgress_ = true;
    bool shouldResetUploadProgress_ = true;
    bool shouldResetDownloadProgress_ = true;
    bool updatedProgress_ = false;
    std::uint64_t lastBytesRead_ = 0;

    // Cache
    std::shared_ptr<NetCacheDelegate> downloadCache_;
    int cachePolicy_ = 0;
    int cacheStoragePolicy_ = 0;
    bool didUseCachedResponse_ = false;
    double secondsToCache_ = 0;

    // Transfer
    std::shared_ptr<net::NetHTTPStream> readStream_;
    bool readStreamIsScheduled_ = false;
    std::shared_ptr<net::NetTimer> statusTimer_;
    std::chrono::steady_clock::time_point lastActivityTime_{};
    bool haveActivity_ = false;
    std::uint64_t totalBytesSent_ = 0;
    std::uint64_t lastBytesSent_ = 0;
    std::uint64_t uploadBufferSize_ = 0;
};
