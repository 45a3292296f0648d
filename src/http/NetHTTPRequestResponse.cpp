// The receiving half of a request: stream events, the response head, the body in memory
// or in a file, the end of the stream, and what the caller reads afterwards.

#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <utility>

#include "data/helpers/NSStringHelpers.h"
#include "foundation/Paths.h"
#include "http/NetConnectionPool.h"
#include "http/NetCookieJar.h"
#include "http/NetDataDecompressor.h"
#include "http/NetFileMove.h"
#include "http/NetHTTPRequest.h"
#include "http/NetHeaderMatching.h"
#include "http/NetHeaderParsing.h"
#include "http/NetInputStream.h"
#include "http/NetSessionCookies.h"
#include "http/NetSessionCredentials.h"
#include "http/NetTextEncoding.h"
#include "platform/net/NetHTTPStream.h"
#include "platform/net/NetRunLoop.h"

using foundation::Data;

namespace {

// A compressed body is inflated in pieces of this size, so that the output can be checked
// against the limit before it grows far past it.
constexpr std::size_t InflatePieceSize = 16 * 1024;

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The integer after `key` in a "Keep-Alive" value ("timeout=5, max=100"); 0 when missing.
long keepAliveNumber(const std::string& lowered, std::string_view key) {
    auto at = lowered.find(key);
    if (at == std::string::npos) return 0;
    long value = 0;
    const char* begin = lowered.data() + at + key.size();
    std::from_chars(begin, lowered.data() + lowered.size(), value);
    return value;
}

foundation::Error tooLarge(std::uint64_t limit) {
    auto error = makeNetError(NetConnectionFailureErrorType, "A connection failure occurred");
    error.userInfo.set("NSUnderlyingError",
                       fmt::format("The response body is larger than {} bytes", limit));
    return error;
}

// Inflates `data` whole, failing once the output passes `limit`.
std::optional<Data> inflateWithin(const Data& data, std::uint64_t limit) {
    NetDataDecompressor decompressor;
    if (decompressor.setupStream()) return std::nullopt;
    Data result;
    foundation::Error error;
    for (std::size_t at = 0; at < data.size() && !decompressor.streamEnded();
         at += InflatePieceSize) {
        std::size_t length = std::min(InflatePieceSize, data.size() - at);
        auto piece = decompressor.uncompressBytes(data.data() + at, length, &error);
        if (!piece || result.size() + piece->size() > limit) return std::nullopt;
        result.insert(result.end(), piece->begin(), piece->end());
    }
    // A stream cut short is no whole body.
    if (!data.empty() && !decompressor.streamEnded()) return std::nullopt;
    return result;
}

}  // namespace

void NetHTTPRequest::handleNetworkEvent(net::NetStreamEvent event) {
    auto keep = shared_from_this();
    {
        std::lock_guard guard(cancelledLock_);
        if (complete_ || cancelled_) return;
        switch (event) {
            case net::NetStreamEventHasBytesAvailable:
                handleBytesAvailable();
                break;
            case net::NetStreamEventErrorOccurred:
                handleStreamError();
                break;
            case net::NetStreamEventEndEncountered:
                handleStreamComplete();
                break;
            default:
                break;
        }
        if (readStream_) NetBandwidthThrottle::shared().performThrottling(*this);
    }
    if (downloadComplete_ && needsRedirect_) {
        if (!willAskDelegateToConfirmRedirect()) performRedirect();
    } else if (downloadComplete_ && authenticationNeeded_ != 0) {
        attemptToApplyCredentialsAndResume();
    }
}

void NetHTTPRequest::readResponseHeaders() {
    authenticationNeeded_ = 0;
    if (!readStream_ || !readStream_->responseHeadersComplete()) return;
    haveReadResponseHeaders_ = true;
    responseHeaders_ = readStream_->responseHeaders();
    responseStatusCode_ = readStream_->statusCode();
    responseStatusMessage_ = readStream_->statusLine();
    keepAcceptedCredentials();
    if (downloadCache_ && downloadCache_->canUseCachedDataForRequest(*this)) {
        // The server says the cached answer is still good: this connection is done with.
        auto headers = responseHeaders_;
        downloadCache_->updateExpiryForRequest(*this, secondsToCache_);
        connectionCanBeReused_ = false;
        cancelLoad();
        releaseConnectionRecord(false);
        if (useDataFromCache()) return;
        // The entry went bad between the check and the read, and the connection is gone:
        // end here rather than wait for an answer that cannot come, and leave the entry
        // out so that the next request asks the network.
        responseHeaders_ = std::move(headers);
        downloadCache_->removeCachedDataForRequest(*this);
        failWithError(
            makeNetError(NetConnectionFailureErrorType, "The cached response could not be read"));
        return;
    }
    if (responseStatusCode_ == 401) authenticationNeeded_ = 1;
    if (responseStatusCode_ == 407) authenticationNeeded_ = 2;
    // Basic credentials sent before the challenge worked: later requests send them too.
    if (authenticationNeeded_ == 0 && !requestAuthentication_ && authenticationScheme_ == "Basic" &&
        !username_.empty() && !password_.empty() && useSessionPersistence_ && url_ &&
        ownCredentialsApply() &&
        !NetSessionCredentials::shared().findSessionAuthenticationCredentials(
            *url_, std::nullopt, username_, password_)) {
        // Stored once for the server: later requests with the same credentials find it.
        NetCredentialRecord record;
        record.credentials =
            std::make_shared<NetCredentials>(NetCredentials{username_, password_, ""});
        record.authenticationScheme = "Basic";
        record.url = url_;
        NetSessionCredentials::shared().storeAuthenticationCredentialsInSessionStore(record);
    }
    parseStringEncodingFromHeaders();

    if (url_) {
        double now = nowSeconds();
        for (const auto& value : NetHeaderMatching::values(responseHeaders_, "Set-Cookie")) {
            if (auto cookie = NetCookie::fromSetCookie(value, *url_, now))
                responseCookies_.push_back(*cookie);
        }
        if (useCookiePersistence_) {
            for (const auto& cookie : responseCookies_) {
                NetCookieJar::shared().setCookie(cookie, now);
                NetSessionCookies::shared().addSessionCookie(cookie);
            }
        }
    }

    if (!willRedirect()) {
        if (!acceptsAnswerToRange()) {
            cancelLoad();
            failWithError(makeNetError(NetConnectionFailureErrorType,
                                       "The server's answer does not continue the download"));
            return;
        }
        // A server that ignores "Range" sends the whole body: the file starts over, and the
        // size resumed from counts no more.
        downloadAlreadyWhole_ = answersThatTheDownloadIsWhole();
        if (partialDownloadSize_ != 0 && authenticationNeeded_ == 0 && responseStatusCode_ != 206 &&
            !downloadAlreadyWhole_)
            partialDownloadSize_ = 0;
        bool countDownload = showAccurateProgress_ && shouldResetDownloadProgress_;
        auto main = mainRequest();
        if (auto length = responseHeader("Content-Length")) {
            std::uint64_t announced = parseUnsigned(*length).value_or(0);
            if (main && allowCompressedResponse_ && announced == 20 && countDownload) {
                // Some servers answer HEAD with the length of an empty gzip body.
                main->setShowAccurateProgress(false);
                main->incrementDownloadSizeBy(1);
            } else {
                if (main) {
                    std::lock_guard mainGuard(main->cancelledLock_);
                    main->contentLength_ = announced;
                } else {
                    contentLength_ = announced;
                }
                if (countDownload)
                    incrementDownloadSizeBy(
                        static_cast<std::int64_t>(announced + partialDownloadSize_));
            }
            // A body that will not fit is refused before it is read.
            if (!main && downloadDestinationPath_.empty() && requestMethod_ != "HEAD" &&
                contentLength_ > maximumResponseDataLength_) {
                cancelLoad();
                failWithError(tooLarge(maximumResponseDataLength_));
                return;
            }
        } else if (countDownload) {
            showAccurateProgress_ = false;
            incrementDownloadSizeBy(1);
        }
    }

    std::string connection = NetHeaderMatching::lowered(responseHeader("Connection").value_or(""));
    bool oneZero = responseStatusMessage_->starts_with("HTTP/1.0");
    bool serverKeepsConnection = (!oneZero || connection == "keep-alive") && connection != "close";
    if (serverKeepsConnection && carriesConnectionBoundChallenge()) {
        // NTLM's answer must go on the connection that got the challenge, whatever the
        // request allows otherwise or the "Keep-Alive" wording says.
        connectionCanBeReused_ = true;
    } else if (shouldAttemptPersistentConnection_ && serverKeepsConnection) {
        if (auto keepAlive = responseHeader("Keep-Alive")) {
            std::string lowered = NetHeaderMatching::lowered(*keepAlive);
            long timeout = keepAliveNumber(lowered, "timeout=");
            long max = keepAliveNumber(lowered, "max=");
            if (max >= 6) {
                connectionCanBeReused_ = true;
                persistentConnectionTimeoutSeconds_ = static_cast<double>(timeout);
            }
        } else {
            connectionCanBeReused_ = true;
        }
    }
    requestReceivedResponseHeaders(responseHeaders_);
}

bool NetHTTPRequest::answersThatTheDownloadIsWhole() const {
    if (downloadDestinationPath_.empty() || !allowResumeForFileDownloads_ ||
        partialDownloadSize_ == 0 || responseStatusCode_ != 416 || !requestHeader("Range"))
        return false;
    // "bytes */1000" names the whole length, which must be what the file holds; a server
    // that names none leaves it to the range asked for, as curl's resuming does.
    auto range = responseHeader("Content-Range");
    if (!range) return true;
    constexpr std::string_view unit = "bytes */";
    if (!range->starts_with(unit)) return false;
    auto total = parseUnsigned(std::string_view(*range).substr(unit.size()));
    return total && *total == partialDownloadSize_;
}

bool NetHTTPRequest::acceptsAnswerToRange() const {
    if (downloadDestinationPath_.empty() || !allowResumeForFileDownloads_ ||
        !requestHeader("Range"))
        return true;
    // A challenge is answered first, and the request sent again.
    if (authenticationNeeded_ != 0) return true;
    // A fresh whole body replaces the partial file.
    if (responseStatusCode_ >= 200 && responseStatusCode_ < 300 && responseStatusCode_ != 206)
        return true;
    if (answersThatTheDownloadIsWhole()) return true;
    if (responseStatusCode_ != 206) return false;
    // "bytes 500-999/1000": the part must start where the file ends.
    std::string range = responseHeader("Content-Range").value_or("");
    constexpr std::string_view unit = "bytes ";
    if (!range.starts_with(unit)) return false;
    auto dash = range.find('-', unit.size());
    if (dash == std::string::npos) return false;
    auto start = parseUnsigned(std::string_view(range).substr(unit.size(), dash - unit.size()));
    return start && *start == partialDownloadSize_;
}

void NetHTTPRequest::parseStringEncodingFromHeaders() {
    std::string encoding = defaultResponseEncoding_;
    NetHeaderParsing::parseMimeType(nullptr, &encoding, responseHeader("Content-Type"));
    responseEncoding_ = encoding;
}

void NetHTTPRequest::handleBytesAvailable() {
    if (!haveReadResponseHeaders_) readResponseHeaders();
    if (complete_ || !readStream_ || !readStream_->hasBytesAvailable()) return;
    std::size_t bufferSize = 16384;
    if (contentLength_ > 65536) bufferSize = 65536;
    if (contentLength_ > 262144) bufferSize = 262144;
    auto& throttle = NetBandwidthThrottle::shared();
    // Under a bandwidth limit one bounded read per event, so that the stream can be taken
    // off its run loop between reads; without one, everything that is there.
    bool throttled = throttle.isBandwidthThrottled();
    bool readAgain = true;
    while (readAgain && !complete_ && readStream_) {
        readAgain = !throttled;
        // The bytes are used where the stream received them; the stream is held until
        // they are, whatever the delegates do to this request meanwhile.
        auto stream = readStream_;
        if (stream->streamStatus() == net::NetHTTPStream::Status::Error)
            return handleStreamError();
        auto waiting = stream->peek();
        std::size_t count = std::min<std::size_t>(waiting.size(),
                                                  throttle.maxDownloadReadLength(bufferSize));
        if (count == 0) return;
        totalBytesRead_ += count;
        lastActivityTime_ = std::chrono::steady_clock::now();
        throttle.incrementBandwidthUsedInLastSecond(count);
        // The body of a redirect that will be followed reaches no one while resuming is on.
        const bool redirectBody = needsRedirect_ && shouldRedirect_ && allowResumeForFileDownloads_;
        bool taken = redirectBody || takeReceivedBytes(waiting.data(), count);
        if (readStream_ == stream) stream->consume(count);
        if (!taken) return;
    }
}

bool NetHTTPRequest::takeReceivedBytes(const std::uint8_t* bytes, std::size_t count) {
    if (!isResponseCompressed() || shouldWaitToInflateCompressedResponses_)
        return takeBodyBytes(bytes, count);
    // A download keeps the bytes as received, and the inflated body in a file beside them.
    const bool intoFiles = !downloadDestinationPath_.empty() && !wantsReceivedData();
    if (intoFiles && !storeBodyBytes(bytes, count)) return false;
    // Inflated piece by piece, so that a small chunk cannot become a huge one at once.
    if (!dataDecompressor_) dataDecompressor_ = NetDataDecompressor::decompressor();
    for (std::size_t at = 0; at < count; at += InflatePieceSize) {
        foundation::Error error;
        auto piece = dataDecompressor_->uncompressBytes(
            bytes + at, std::min(InflatePieceSize, count - at), &error);
        if (!piece) {
            cancelLoad();
            failWithError(error);
            return false;
        }
        bool taken = intoFiles ? writeDownloadBytes(inflatedDownloadFd_,
                                                    temporaryUncompressedDataDownloadPath_,
                                                    piece->data(), piece->size())
                               : takeBodyBytes(piece->data(), piece->size());
        if (!taken) return false;
    }
    return true;
}

bool NetHTTPRequest::takeBodyBytes(const std::uint8_t* bytes, std::size_t length) {
    if (wantsReceivedData()) {
        passOnReceivedData(Data(bytes, bytes + length));
        return true;
    }
    return storeBodyBytes(bytes, length);
}

bool NetHTTPRequest::storeBodyBytes(const std::uint8_t* bytes, std::size_t length) {
    if (downloadDestinationPath_.empty()) {
        if (rawResponseData_.size() + length > maximumResponseDataLength_) {
            cancelLoad();
            failWithError(tooLarge(maximumResponseDataLength_));
            return false;
        }
        rawResponseData_.insert(rawResponseData_.end(), bytes, bytes + length);
        return true;
    }
    return writeDownloadBytes(downloadFd_, temporaryFileDownloadPath_, bytes, length);
}

bool NetHTTPRequest::writeDownloadBytes(int& fd, std::string& path, const std::uint8_t* bytes,
                                        std::size_t length) {
    // The body of a redirect that will be followed, or of a challenge that will be
    // answered, is no part of the download: the file is opened (or appended to when
    // resuming) only for the answer that is delivered.
    if (needsRedirect_ || authenticationNeeded_ != 0) return true;
    // Nor is the answer that the file is already whole.
    if (downloadAlreadyWhole_) return true;
    if (fd < 0) {
        if (path.empty()) path = foundation::Paths::tempDir() + "/" + NSString::guid();
        bool rangeSent = requestHeader("Range").has_value();
        // Only a 206 for the rest of the file gets here as a resumption (see
        // acceptsAnswerToRange); any other answer is the whole body and the file starts over.
        bool resuming = allowResumeForFileDownloads_ && rangeSent && responseStatusCode_ == 206;
        if (rangeSent && !resuming) partialDownloadSize_ = 0;
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (resuming ? O_APPEND : O_TRUNC),
                    0600);
    }
    while (length > 0 && fd >= 0) {
        ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    if (length == 0) return true;
    auto error = makeNetError(NetFileManagementError,
                              fmt::format("Failed to write to file at path '{}'", path));
    error.userInfo.set("NSUnderlyingError", std::string(std::strerror(errno)));
    cancelLoad();
    failWithError(error);
    return false;
}

void NetHTTPRequest::closeDownloadFiles() {
    for (int* fd : {&downloadFd_, &inflatedDownloadFd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void NetHTTPRequest::handleStreamComplete() {
    setStatusTimer(nullptr);
    downloadComplete_ = true;
    if (!haveReadResponseHeaders_) readResponseHeaders();
    if (error_) return;
    if (readStream_) {
        lastBytesSent_ = totalBytesSent_;
        totalBytesSent_ = readStream_->bytesWritten();
    }
    complete_ = true;
    if (contentLength_ == 0) contentLength_ = totalBytesRead_;
    updateProgressIndicators();
    if (postBodyReadStream_) {
        postBodyReadStream_->setRequest(nullptr);
        postBodyReadStream_.reset();
    }
    dataDecompressor_.reset();
    // The body file stays while a redirect may send it again.
    if (didCreateTemporaryPostDataFile_ && authenticationNeeded_ == 0 && !needsRedirect_)
        removeTemporaryUploadFiles();

    std::optional<foundation::Error> fileError;
    // A challenge's body never reached the file, which waits for the answer that follows.
    if (!downloadDestinationPath_.empty() && !needsRedirect_ && authenticationNeeded_ == 0)
        finishDownloadToFile(fileError);
    if (downloadCache_ && !didUseCachedResponse_ && !fileError)
        downloadCache_->storeResponseForRequest(*this, secondsToCache_);

    auto& pool = NetConnectionPool::shared();
    {
        std::lock_guard poolGuard(pool.connectionsLock());
        if (!connectionCanBeReused_) unscheduleReadStream();
        if (connectionInfo_) {
            connectionInfo_->request.reset();
            connectionInfo_->expires =
                std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(persistentConnectionTimeoutSeconds_));
        }
    }
    // The stream layer keeps what HTTP allows; this request may allow less.
    if (!connectionCanBeReused_ && readStream_ && readStream_->connectionKeptForReuse()) {
        if (auto id = readStream_->streamID()) net::NetHTTPStream::closeIdleConnection(*id);
    }
    if (authenticationNeeded_ == 0) destroyReadStream();
    if (!needsRedirect_ && authenticationNeeded_ == 0) {
        if (fileError) {
            failWithError(*fileError);
        } else {
            requestFinished();
        }
        markAsFinished();
    }
}

bool NetHTTPRequest::finishDownloadToFile(std::optional<foundation::Error>& fileError) {
    closeDownloadFiles();
    // An empty body never opened the files.
    auto createIfMissing = [](std::string& path) {
        if (path.empty()) path = foundation::Paths::tempDir() + "/" + NSString::guid();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
    };
    createIfMissing(temporaryFileDownloadPath_);
    if (isResponseCompressed() && !shouldWaitToInflateCompressedResponses_)
        createIfMissing(temporaryUncompressedDataDownloadPath_);
    // A file already whole is delivered as it was received; the answer saying so brings
    // nothing to inflate.
    if (!isResponseCompressed() || downloadAlreadyWhole_) {
        moveDownloadIntoPlace(temporaryFileDownloadPath_, fileError);
        if (!fileError || !allowResumeForFileDownloads_) temporaryFileDownloadPath_.clear();
        return !fileError;
    }
    if (shouldWaitToInflateCompressedResponses_) {
        foundation::Error error;
        if (!NetDataDecompressor::uncompressDataFromFile(temporaryFileDownloadPath_,
                                                         downloadDestinationPath_, &error)) {
            fileError = error;
        }
    } else {
        moveDownloadIntoPlace(temporaryUncompressedDataDownloadPath_, fileError);
        temporaryUncompressedDataDownloadPath_.clear();
    }
    // The bytes as received are of no more use once the body is delivered; a file that
    // stays fails the request.
    removeTemporaryDownloadFile();
    return !fileError && !error_;
}

void NetHTTPRequest::moveDownloadIntoPlace(const std::string& from,
                                           std::optional<foundation::Error>& fileError) {
    int code = netMoveFileIntoPlace(from, downloadDestinationPath_);
    if (code == 0) return;
    auto error = makeNetError(
        NetFileManagementError,
        fmt::format("Failed to move file from '{}' to '{}'", from, downloadDestinationPath_));
    error.userInfo.set("NSUnderlyingError", std::string(std::strerror(code)));
    fileError = error;
    // What a resumable download received stays where the error says: the next attempt
    // goes on from there instead of from the first byte.
    if (allowResumeForFileDownloads_ && from == temporaryFileDownloadPath_) return;
    ::unlink(from.c_str());
}

void NetHTTPRequest::markAsFinished() {
    requestAuthentication_.reset();
    proxyAuthentication_.reset();
    setStatusTimer(nullptr);
    finished_ = true;
    inProgress_ = false;
    finishedSignal_.notify_all();
    tellFinishedObservers();
    // A request on the network thread is let go once it is over.
    auto keep = std::move(keepAliveWhileRunning_);
}

// --- Answers from the cache ---

void NetHTTPRequest::addCachedValidators() {
    auto cached = downloadCache_->cachedResponseHeadersForURL(*url_);
    if (!cached) return;
    auto cachedValue = [&](std::string_view name) -> std::optional<std::string> {
        for (const auto& [key, value] : *cached) {
            if (NetHeaderMatching::same(key, name) && value.isString()) return *value.string();
        }
        return std::nullopt;
    };
    if (auto etag = cachedValue("Etag")) addRequestHeader("If-None-Match", *etag);
    if (auto modified = cachedValue("Last-Modified"))
        addRequestHeader("If-Modified-Since", *modified);
}

bool NetHTTPRequest::useDataFromCache() {
    if (!downloadCache_ || !url_) return false;
    auto cached = downloadCache_->cachedResponseHeadersForURL(*url_);
    auto dataPath = downloadCache_->pathToCachedResponseDataForURL(*url_);
    // Without a whole entry there is nothing to answer with: the network answers instead.
    if (!cached || !dataPath) return false;
    // A request made on behalf of another (a HEAD request) answers that one: the main
    // request takes the answer and is finished with it.
    auto main = hasMainRequest_ ? mainRequest() : nullptr;
    std::unique_lock<std::recursive_mutex> mainGuard;
    if (main) mainGuard = std::unique_lock(main->cancelledLock_);
    NetHTTPRequest& answered = main ? *main : *this;
    std::optional<Data> data;
    if (answered.downloadDestinationPath_.empty()) {
        data = downloadCache_->cachedResponseDataForURL(*url_);
        if (!data) return false;
    } else {
        std::error_code copyError;
        std::filesystem::copy_file(*dataPath, answered.downloadDestinationPath_,
                                   std::filesystem::copy_options::overwrite_existing, copyError);
        if (copyError) return false;
    }
    NetHeaders headers;
    int status = 200;
    for (const auto& [name, value] : *cached) {
        if (name == "X-NetHTTPRequest-Response-Status-Code") {
            if (auto code = value.toInt64()) status = static_cast<int>(*code);
        } else if (name == "X-NetHTTPRequest-Expires") {
            continue;
        } else if (value.isString()) {
            headers.emplace_back(name, *value.string());
        }
    }
    double now = nowSeconds();
    auto takeAnswer = [&](NetHTTPRequest& request) {
        request.didUseCachedResponse_ = true;
        request.responseStatusCode_ = status;
        request.responseHeaders_ = headers;
        request.haveReadResponseHeaders_ = true;
        auto length =
            parseUnsigned(request.responseHeader("Content-Length").value_or("")).value_or(0);
        request.contentLength_ = length;
        request.totalBytesRead_ = length;
        request.parseStringEncodingFromHeaders();
        request.responseCookies_.clear();
        for (const auto& value : NetHeaderMatching::values(headers, "Set-Cookie")) {
            if (auto cookie = NetCookie::fromSetCookie(value, *url_, now))
                request.responseCookies_.push_back(*cookie);
        }
    };
    takeAnswer(*this);
    if (main) takeAnswer(*main);
    if (data) {
        answered.rawResponseData_ = std::move(*data);
        answered.rawResponseDataDropped_ = false;
    }
    if (willRedirect()) {
        downloadComplete_ = true;
        complete_ = true;
        if (!willAskDelegateToConfirmRedirect()) performRedirect();
        return true;
    }
    auto finish = [](NetHTTPRequest& request) {
        request.complete_ = true;
        request.downloadComplete_ = true;
        if (request.redirectCount_ == 0) request.originalURL_ = request.url_;
        request.updateProgressIndicators();
        request.requestFinished();
        request.markAsFinished();
    };
    if (main) finish(*main);
    finish(*this);
    return true;
}

bool NetHTTPRequest::removeTemporaryUploadFiles() {
    bool removed = removeTemporaryUploadFile();
    removed = removeTemporaryCompressedUploadFile() && removed;
    didCreateTemporaryPostDataFile_ = false;
    return removed;
}

bool NetHTTPRequest::removeTemporaryFile(std::string& path) {
    std::lock_guard guard(cancelledLock_);
    if (path.empty()) return true;
    foundation::Error error;
    bool removed = removeFileAtPath(path, &error);
    path.clear();
    if (!removed) failWithError(error);
    return removed;
}

bool NetHTTPRequest::removeTemporaryDownloadFile() {
    return removeTemporaryFile(temporaryFileDownloadPath_);
}

bool NetHTTPRequest::removeTemporaryUncompressedDownloadFile() {
    return removeTemporaryFile(temporaryUncompressedDataDownloadPath_);
}

bool NetHTTPRequest::removeTemporaryUploadFile() {
    return removeTemporaryFile(postBodyFilePath_);
}

bool NetHTTPRequest::removeTemporaryCompressedUploadFile() {
    return removeTemporaryFile(compressedPostBodyFilePath_);
}

bool NetHTTPRequest::removeFileAtPath(const std::string& path, foundation::Error* error) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    if (error != nullptr) {
        *error = makeNetError(NetFileManagementError,
                              fmt::format("Failed to delete file at path '{}'", path));
        error->userInfo.set("NSUnderlyingError", std::string(std::strerror(errno)));
    }
    return false;
}

// --- Results ---

std::optional<std::string> NetHTTPRequest::responseHeader(std::string_view name) const {
    return NetHeaderMatching::joined(responseHeaders_, name);
}

bool NetHTTPRequest::isResponseCompressed() const {
    auto encoding = responseHeader("Content-Encoding");
    return encoding && NetHeaderMatching::lowered(*encoding).find("gzip") != std::string::npos;
}

std::optional<Data> NetHTTPRequest::responseData() const {
    if (rawResponseDataDropped_) return std::nullopt;
    if (isResponseCompressed() && shouldWaitToInflateCompressedResponses_)
        return inflateWithin(rawResponseData_, maximumResponseDataLength_);
    return rawResponseData_;
}

std::optional<Data> NetHTTPRequest::takeResponseData() {
    std::lock_guard guard(cancelledLock_);
    if (rawResponseDataDropped_) return std::nullopt;
    if (isResponseCompressed() && shouldWaitToInflateCompressedResponses_) {
        auto inflated = inflateWithin(rawResponseData_, maximumResponseDataLength_);
        Data().swap(rawResponseData_);
        return inflated;
    }
    return std::exchange(rawResponseData_, Data());
}

std::optional<std::string> NetHTTPRequest::responseString() const {
    auto data = responseData();
    if (!data) return std::nullopt;
    return NetTextEncoding::decode(*data, responseEncoding_);
}
