#include "simdevice/SimPairRecord.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

#include "simdevice/SimDeviceKey.h"

namespace simdevice {

namespace {

using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

EVP_PKEY* newKey() {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    if (!key) throw std::runtime_error("RSA key generation failed");
    return key;
}

Certificate issue(EVP_PKEY* subject, EVP_PKEY* issuerKey, bool authority) {
    Certificate certificate(X509_new(), X509_free);
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), authority ? 1 : 2);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert, subject);
    X509_EXTENSION* constraints =
        X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints,
                            authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
    X509_add_ext(cert, constraints, -1);
    X509_EXTENSION_free(constraints);
    if (X509_sign(cert, issuerKey, EVP_sha256()) == 0) throw std::runtime_error("signing failed");
    return certificate;
}

// The PEM text written into the memory stream, which goes with it.
foundation::Data drain(BIO* bio) {
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(bio, &bytes);
    foundation::Data data(bytes, bytes + length);
    BIO_free(bio);
    return data;
}

foundation::Data certificatePem(const Certificate& certificate) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate.get());
    return drain(bio);
}

foundation::Data keyPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey_traditional(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    return drain(bio);
}

// The certificates and keys, made once per process: key generation is slow.
struct Credentials {
    foundation::Data root, rootKey, host, hostKey, device;
};

const Credentials& credentials() {
    static const Credentials made = [] {
        EVP_PKEY* rootKey = newKey();
        EVP_PKEY* hostKey = newKey();
        Credentials c{certificatePem(issue(rootKey, rootKey, true)), keyPem(rootKey),
                      certificatePem(issue(hostKey, rootKey, false)), keyPem(hostKey),
                      certificatePem(issue(deviceKey(), rootKey, false))};
        EVP_PKEY_free(rootKey);
        EVP_PKEY_free(hostKey);
        return c;
    }();
    return made;
}

}  // namespace

foundation::Value makePairRecord(const std::string& hostId, const std::string& systemBuid) {
    const Credentials& c = credentials();
    return foundation::Value::dict({
        {"HostID", hostId},
        {"SystemBUID", systemBuid},
        {"DeviceCertificate", c.device},
        {"HostCertificate", c.host},
        {"HostPrivateKey", c.hostKey},
        {"RootCertificate", c.root},
        {"RootPrivateKey", c.rootKey},
        {"WiFiMACAddress", "02:00:00:00:00:01"},
        // What a network-attached device's services are unlocked with.
        {"EscrowBag", foundation::Data(32, 0x5a)},
    });
}

}  // namespace simdevice
