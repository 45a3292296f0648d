#include "simdevice/SimLink.h"

#include <openssl/pem.h>
#include <sys/socket.h>

#include <cerrno>

#include "simdevice/SimDeviceKey.h"
#include "simdevice/SimWire.h"

namespace simdevice {

namespace {

constexpr unsigned char kTlsAlertRecord = 0x15;

}  // namespace

SimLink::~SimLink() {
    dropTls();
}

void SimLink::dropTls() {
    // Freed without a closing alert of our own: the peer reads plain bytes next.
    SSL_free(ssl_);
    SSL_CTX_free(context_);
    ssl_ = nullptr;
    context_ = nullptr;
}

bool SimLink::readExactly(void* bytes, std::size_t length) {
    if (!ssl_) return simdevice::readExactly(fd_, bytes, length);
    auto* cursor = static_cast<char*>(bytes);
    while (length > 0) {
        std::size_t n = 0;
        if (SSL_read_ex(ssl_, cursor, length, &n) != 1) return false;
        cursor += n;
        length -= n;
    }
    return true;
}

bool SimLink::writeAll(const void* bytes, std::size_t length) {
    if (!ssl_) return simdevice::writeAll(fd_, bytes, length);
    std::size_t written = 0;
    return length == 0 || SSL_write_ex(ssl_, bytes, length, &written) == 1;
}

long SimLink::readSome(void* bytes, std::size_t length) {
    if (!ssl_) {
        ssize_t n;
        do {
            n = ::recv(fd_, bytes, length, 0);
        } while (n < 0 && errno == EINTR);
        return static_cast<long>(n);
    }
    std::size_t n = 0;
    if (SSL_read_ex(ssl_, bytes, length, &n) == 1) return static_cast<long>(n);
    return SSL_get_error(ssl_, 0) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

bool SimLink::hasPending() const { return ssl_ && SSL_pending(ssl_) > 0; }

bool SimLink::startTls(const std::string& certificatePem) {
    dropTls();
    BIO* bio = BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size()));
    X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    context_ = SSL_CTX_new(TLS_server_method());
    bool ready = certificate && context_;
    if (ready) {
        // Host-made pairing certificates may be signed with digests OpenSSL now calls weak.
        SSL_CTX_set_security_level(context_, 0);
        ready = SSL_CTX_use_certificate(context_, certificate) == 1 &&
                SSL_CTX_use_PrivateKey(context_, deviceKey()) == 1;
    }
    X509_free(certificate);
    if (ready) {
        ssl_ = SSL_new(context_);
        ready = ssl_ && SSL_set_fd(ssl_, fd_) == 1 && SSL_accept(ssl_) == 1;
    }
    if (!ready) dropTls();
    return ready;
}

void SimLink::stopTls() {
    if (!ssl_) return;
    // The host may close its TLS side with an alert before it speaks plainly again.
    unsigned char first = 0;
    ssize_t n;
    do {
        n = ::recv(fd_, &first, 1, MSG_PEEK);
    } while (n < 0 && errno == EINTR);
    if (n == 1 && first == kTlsAlertRecord) {
        char ignored;
        SSL_read(ssl_, &ignored, 1);
    }
    dropTls();
}

}  // namespace simdevice
