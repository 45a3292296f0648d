#pragma once

// libcurl in the benchmark's own process, the peer a download is measured against: one
// easy handle that is reused (so its connection is kept alive between transfers), writing
// the body into memory or straight to a file descriptor, one write call per piece.

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

class LibcurlPeer {
public:
    LibcurlPeer() : handle_(curl_easy_init()) {
        if (handle_) curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    }
    ~LibcurlPeer() {
        if (handle_) curl_easy_cleanup(handle_);
    }
    LibcurlPeer(const LibcurlPeer&) = delete;
    LibcurlPeer& operator=(const LibcurlPeer&) = delete;

    // Receive at most this many bytes a second; 0 for no limit.
    void setMaxReceiveSpeed(std::uint64_t bytesPerSecond) {
        curl_easy_setopt(handle_, CURLOPT_MAX_RECV_SPEED_LARGE,
                         static_cast<curl_off_t>(bytesPerSecond));
        // libcurl reads up to a hundred buffers of what waits before it looks at the limit:
        // with its usual buffer a whole small body on loopback would pass at once.
        if (bytesPerSecond > 0)
            curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE,
                             static_cast<long>(std::max<std::uint64_t>(1024, bytesPerSecond / 100)));
    }

    // GETs `url` into `body`; false unless the server answered 2xx.
    bool get(const std::string& url, std::string& body) {
        body.clear();
        curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &LibcurlPeer::appendToString);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &body);
        return perform(url);
    }

    // GETs `url` into the open file `fd`; false unless the server answered 2xx and every
    // byte was written.
    bool download(const std::string& url, int fd) {
        curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &LibcurlPeer::writeToFile);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &fd);
        return perform(url);
    }

private:
    bool perform(const std::string& url) {
        if (!handle_) return false;
        curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle_, CURLOPT_FAILONERROR, 1L);
        return curl_easy_perform(handle_) == CURLE_OK;
    }

    static std::size_t appendToString(char* bytes, std::size_t size, std::size_t count,
                                      void* body) {
        static_cast<std::string*>(body)->append(bytes, size * count);
        return size * count;
    }

    static std::size_t writeToFile(char* bytes, std::size_t size, std::size_t count, void* fd) {
        std::size_t length = size * count;
        std::size_t done = 0;
        while (done < length) {
            ssize_t n = ::write(*static_cast<int*>(fd), bytes + done, length - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return 0;  // a short count makes libcurl fail the transfer
            done += static_cast<std::size_t>(n);
        }
        return length;
    }

    CURL* handle_;
};

}  // namespace bench
