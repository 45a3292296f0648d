#include "http/NetCredentialStorage.h"

#include <algorithm>

#include "http/NetKeyringCredentialStorage.h"

namespace {

std::mutex sharedLock;

std::shared_ptr<NetCredentialStorage>& sharedSlot() {
    static auto* storage =
        new std::shared_ptr<NetCredentialStorage>(std::make_shared<NetKeyringCredentialStorage>());
    return *storage;
}

NetProtectionSpace serverSpace(const std::string& host, int port, const std::string& protocol,
                               const std::optional<std::string>& realm) {
    return NetProtectionSpace{host, port, protocol, realm, false};
}

NetProtectionSpace proxySpace(const std::string& host, int port,
                              const std::optional<std::string>& realm) {
    return NetProtectionSpace{host, port, "", realm, true};
}

}  // namespace

std::shared_ptr<NetCredentialStorage> NetCredentialStorage::shared() {
    std::lock_guard guard(sharedLock);
    return sharedSlot();
}

void NetCredentialStorage::setShared(std::shared_ptr<NetCredentialStorage> storage) {
    std::lock_guard guard(sharedLock);
    sharedSlot() = storage ? std::move(storage) : std::make_shared<NetMemoryCredentialStorage>();
}

void NetCredentialStorage::saveCredentialsForHost(const NetCredentials& credentials,
                                                  const std::string& host, int port,
                                                  const std::string& protocol,
                                                  const std::optional<std::string>& realm) {
    shared()->setDefaultCredential(credentials, serverSpace(host, port, protocol, realm));
}

void NetCredentialStorage::saveCredentialsForProxy(const NetCredentials& credentials,
                                                   const std::string& host, int port,
                                                   const std::optional<std::string>& realm) {
    shared()->setDefaultCredential(credentials, proxySpace(host, port, realm));
}

std::optional<NetCredentials> NetCredentialStorage::savedCredentialsForHost(
    const std::string& host, int port, const std::string& protocol,
    const std::optional<std::string>& realm) {
    return shared()->defaultCredential(serverSpace(host, port, protocol, realm));
}

std::optional<NetCredentials> NetCredentialStorage::savedCredentialsForProxy(
    const std::string& host, int port, const std::optional<std::string>& realm) {
    return shared()->defaultCredential(proxySpace(host, port, realm));
}

void NetCredentialStorage::removeCredentialsForHost(const std::string& host, int port,
                                                    const std::string& protocol,
                                                    const std::optional<std::string>& realm) {
    shared()->removeDefaultCredential(serverSpace(host, port, protocol, realm));
}

void NetCredentialStorage::removeCredentialsForProxy(const std::string& host, int port,
                                                     const std::optional<std::string>& realm) {
    shared()->removeDefaultCredential(proxySpace(host, port, realm));
}

void NetMemoryCredentialStorage::setDefaultCredential(const NetCredentials& credentials,
                                                      const NetProtectionSpace& space) {
    std::lock_guard guard(lock_);
    for (auto& [existing, stored] : entries_) {
        if (existing == space) {
            stored = credentials;
            return;
        }
    }
    entries_.emplace_back(space, credentials);
}

std::optional<NetCredentials> NetMemoryCredentialStorage::defaultCredential(
    const NetProtectionSpace& space) {
    std::lock_guard guard(lock_);
    for (const auto& [existing, stored] : entries_) {
        if (existing == space) return stored;
    }
    return std::nullopt;
}

void NetMemoryCredentialStorage::removeDefaultCredential(const NetProtectionSpace& space) {
    std::lock_guard guard(lock_);
    std::erase_if(entries_, [&](const auto& entry) { return entry.first == space; });
}
