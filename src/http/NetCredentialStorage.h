#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/NetCredentialRecord.h"

// Where a credential applies: a server's host, port, protocol and realm, or a proxy's
// host, port and realm.
struct NetProtectionSpace {
    std::string host;
    int port = 0;
    std::string protocol;  // "http", "https"; empty for a proxy
    std::optional<std::string> realm;
    bool proxy = false;
    bool operator==(const NetProtectionSpace&) const = default;
};

// Credentials kept beyond one request: one default credential per protection space.
// The program keeps them in the desktop keyring (NetKeyringCredentialStorage).
class NetCredentialStorage {
public:
    virtual ~NetCredentialStorage() = default;
    virtual void setDefaultCredential(const NetCredentials& credentials,
                                      const NetProtectionSpace& space) = 0;
    virtual std::optional<NetCredentials> defaultCredential(const NetProtectionSpace& space) = 0;
    virtual void removeDefaultCredential(const NetProtectionSpace& space) = 0;

    // The storage the requests use: the desktop keyring unless another was set.
    static std::shared_ptr<NetCredentialStorage> shared();
    static void setShared(std::shared_ptr<NetCredentialStorage> storage);

    // The request's class-level operations on the shared storage.
    static void saveCredentialsForHost(const NetCredentials& credentials, const std::string& host,
                                       int port, const std::string& protocol,
                                       const std::optional<std::string>& realm);
    static void saveCredentialsForProxy(const NetCredentials& credentials, const std::string& host,
                                        int port, const std::optional<std::string>& realm);
    static std::optional<NetCredentials> savedCredentialsForHost(
        const std::string& host, int port, const std::string& protocol,
        const std::optional<std::string>& realm);
    static std::optional<NetCredentials> savedCredentialsForProxy(
        const std::string& host, int port, const std::optional<std::string>& realm);
    static void removeCredentialsForHost(const std::string& host, int port,
                                         const std::string& protocol,
                                         const std::optional<std::string>& realm);
    static void removeCredentialsForProxy(const std::string& host, int port,
                                          const std::optional<std::string>& realm);
};

// The in-memory storage: lost when the process ends.
class NetMemoryCredentialStorage : public NetCredentialStorage {
public:
    void setDefaultCredential(const NetCredentials& credentials,
                              const NetProtectionSpace& space) override;
    std::optional<NetCredentials> defaultCredential(const NetProtectionSpace& space) override;
    void removeDefaultCredential(const NetProtectionSpace& space) override;

private:
    std::mutex lock_;
    std::vector<std::pair<NetProtectionSpace, NetCredentials>> entries_;
};
