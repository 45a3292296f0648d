#include "support/httpserver/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace testsupport {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

KeyPtr newKey() {
    return KeyPtr(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

std::string keyPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return pem;
}

std::string certPem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return pem;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (extension == nullptr) throw std::runtime_error("bad certificate extension " + value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

CertPtr makeCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                        int notBeforeDays, int notAfterDays, long serial) {
    CertPtr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), static_cast<long>(notBeforeDays) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(notAfterDays) * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), issuer != nullptr ? X509_get_subject_name(issuer) : name);
    return cert;
}

}  // namespace

TestCertificates::TestCertificates() {
    KeyPtr key = newKey();
    CertPtr cert = makeCertificate(key.get(), "Orvandel Test Authority", nullptr, -1, 365, 1);
    addExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
    X509_sign(cert.get(), key.get(), EVP_sha256());
    authority_ = {certPem(cert.get()), keyPem(key.get())};
}

PemIdentity TestCertificates::issue(const std::vector<std::string>& dnsNames,
                                    const std::vector<std::string>& ipAddresses, int notBeforeDays,
                                    int notAfterDays) const {
    BIO* bio = BIO_new_mem_buf(authority_.certificate.data(),
                               static_cast<int>(authority_.certificate.size()));
    CertPtr issuer(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr), X509_free);
    BIO_free(bio);
    bio = BIO_new_mem_buf(authority_.privateKey.data(),
                          static_cast<int>(authority_.privateKey.size()));
    KeyPtr issuerKey(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr), EVP_PKEY_free);
    BIO_free(bio);

    static long serial = 100;
    KeyPtr key = newKey();
    std::string commonName =
        dnsNames.empty() ? (ipAddresses.empty() ? "leaf" : ipAddresses[0]) : dnsNames[0];
    CertPtr cert =
        makeCertificate(key.get(), commonName, issuer.get(), notBeforeDays, notAfterDays, ++serial);
    std::string alternatives;
    for (const auto& name : dnsNames)
        alternatives += (alternatives.empty() ? "" : ",") + ("DNS:" + name);
    for (const auto& ip : ipAddresses)
        alternatives += (alternatives.empty() ? "" : ",") + ("IP:" + ip);
    if (!alternatives.empty())
        addExtension(cert.get(), issuer.get(), NID_subject_alt_name, alternatives);
    addExtension(cert.get(), issuer.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), issuer.get(), NID_ext_key_usage, "serverAuth,clientAuth");
    X509_sign(cert.get(), issuerKey.get(), EVP_sha256());
    return {certPem(cert.get()), keyPem(key.get())};
}

PemIdentity TestCertificates::selfSigned(const std::string& commonName) {
    KeyPtr key = newKey();
    CertPtr cert = makeCertificate(key.get(), commonName, nullptr, -1, 30, 7);
    addExtension(cert.get(), cert.get(), NID_subject_alt_name,
                 "DNS:" + commonName + ",IP:127.0.0.1");
    X509_sign(cert.get(), key.get(), EVP_sha256());
    return {certPem(cert.get()), keyPem(key.get())};
}

}  // namespace testsupport
