#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "http/NetCredentialStorage.h"

namespace keyring {
class SecretKeyring;
}

// Credentials kept in the desktop keyring, so that they outlive the process. Where no
// Secret Service runs, or the keyring refuses an item, they are kept in memory for this run
// and the log says so.
class NetKeyringCredentialStorage : public NetCredentialStorage {
public:
    using Connector = std::function<std::unique_ptr<keyring::SecretKeyring>(std::string& whyNot)>;

    // The keyring is looked for on first use. By default: the session bus's Secret Service.
    explicit NetKeyringCredentialStorage(Connector connect = {});
    ~NetKeyringCredentialStorage() override;

    void setDefaultCredential(const NetCredentials& credentials,
                              const NetProtectionSpace& space) override;
    std::optional<NetCredentials> defaultCredential(const NetProtectionSpace& space) override;
    void removeDefaultCredential(const NetProtectionSpace& space) override;

    // Whether the credentials go to a keyring (after looking for one).
    bool usesKeyring();

    // The schema under which the program's credentials are kept.
    static constexpr const char* SchemaName = "org.orvandel.NetCredential";

private:
    keyring::SecretKeyring* keyring();

    Connector connect_;
    std::mutex lock_;  // guards the one look for the keyring, not the calls to it
    bool looked_ = false;
    std::unique_ptr<keyring::SecretKeyring> keyring_;
    // What the keyring could not take.
    NetMemoryCredentialStorage memory_;
};
