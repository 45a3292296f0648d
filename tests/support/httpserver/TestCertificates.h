#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A certificate and its key, both PEM.
struct PemIdentity {
    std::string certificate;
    std::string privateKey;
};

// Throwaway certificates for TLS tests: a certificate authority and leaves it signs, or
// self-signed leaves. Keys are P-256.
class TestCertificates {
public:
    TestCertificates();  // makes the authority

    const PemIdentity& authority() const { return authority_; }

    // A leaf for these DNS names and IP addresses, valid from `notBeforeDays` to
    // `notAfterDays` days from now (negative for the past).
    PemIdentity issue(const std::vector<std::string>& dnsNames,
                      const std::vector<std::string>& ipAddresses, int notBeforeDays = -1,
                      int notAfterDays = 30) const;
    static PemIdentity selfSigned(const std::string& commonName);

private:
    PemIdentity authority_;
};

}  // namespace testsupport
