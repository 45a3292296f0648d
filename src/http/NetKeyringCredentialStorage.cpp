#include "http/NetKeyringCredentialStorage.h"

#include <fmt/format.h>

#include "logging/LogCall.h"
#include "platform/keyring/SecretKeyring.h"

namespace {

// An item's attributes: the protection space it answers, and the user it names.
const std::vector<std::string> AttributeNames = {"kind",  "host", "port",  "protocol",
                                                 "realm", "user", "domain"};

keyring::Attributes spaceAttributes(const NetProtectionSpace& space) {
    return {{"kind", space.proxy ? "proxy" : "server"},
            {"host", space.host},
            {"port", std::to_string(space.port)},
            {"protocol", space.protocol},
            {"realm", space.realm.value_or("")}};
}

std::string describe(const NetProtectionSpace& space) {
    if (space.proxy) return fmt::format("proxy {}:{}", space.host, space.port);
    return fmt::format("{}://{}:{}", space.protocol, space.host, space.port);
}

std::string itemLabel(const NetCredentials& credentials, const NetProtectionSpace& space) {
    return fmt::format("Orvandel: {} at {}", credentials.username, describe(space));
}

std::unique_ptr<keyring::SecretKeyring> connectToSessionKeyring(std::string& whyNot) {
    return keyring::SecretKeyring::connect(NetKeyringCredentialStorage::SchemaName, AttributeNames,
                                           whyNot);
}

}  // namespace

NetKeyringCredentialStorage::NetKeyringCredentialStorage(Connector connect)
    : connect_(connect ? std::move(connect) : Connector(connectToSessionKeyring)) {}

NetKeyringCredentialStorage::~NetKeyringCredentialStorage() = default;

keyring::SecretKeyring* NetKeyringCredentialStorage::keyring() {
    std::lock_guard guard(lock_);
    if (!looked_) {
        looked_ = true;
        std::string whyNot;
        keyring_ = connect_(whyNot);
        if (!keyring_) {
            LogWarn(
                "Saved credentials are kept in memory only and forgotten when the program "
                "ends: {}",
                whyNot.empty() ? "no keyring" : whyNot);
        }
    }
    return keyring_.get();
}

bool NetKeyringCredentialStorage::usesKeyring() {
    return keyring() != nullptr;
}

void NetKeyringCredentialStorage::setDefaultCredential(const NetCredentials& credentials,
                                                       const NetProtectionSpace& space) {
    if (auto* store = keyring()) {
        auto attributes = spaceAttributes(space);
        std::string error;
        // One credential per space: the one saved before, whoever's, goes.
        bool saved = store->clear(attributes, error);
        if (saved) {
            attributes["user"] = credentials.username;
            attributes["domain"] = credentials.domain;
            saved = store->store(attributes, itemLabel(credentials, space), credentials.password,
                                 error);
        }
        if (saved) {
            memory_.removeDefaultCredential(space);
            return;
        }
        LogWarn(
            "The keyring did not take the credentials for {} ({}): they are kept in memory "
            "until the program ends",
            describe(space), error);
    }
    memory_.setDefaultCredential(credentials, space);
}

std::optional<NetCredentials> NetKeyringCredentialStorage::defaultCredential(
    const NetProtectionSpace& space) {
    if (auto kept = memory_.defaultCredential(space)) return kept;
    auto* store = keyring();
    if (!store) return std::nullopt;
    std::string error;
    auto items = store->search(spaceAttributes(space), error);
    if (!items) {
        LogWarn("The keyring could not be searched for {}: {}", describe(space), error);
        return std::nullopt;
    }
    for (const auto& item : *items) {
        auto user = item.attributes.find("user");
        if (user == item.attributes.end()) continue;
        auto domain = item.attributes.find("domain");
        return NetCredentials{user->second, item.secret,
                              domain == item.attributes.end() ? "" : domain->second};
    }
    return std::nullopt;
}

void NetKeyringCredentialStorage::removeDefaultCredential(const NetProtectionSpace& space) {
    memory_.removeDefaultCredential(space);
    auto* store = keyring();
    if (!store) return;
    std::string error;
    if (!store->clear(spaceAttributes(space), error))
        LogWarn("The keyring did not remove the credentials for {}: {}", describe(space), error);
}
