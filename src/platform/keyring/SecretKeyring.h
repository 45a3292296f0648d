#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace keyring {

// The attributes that name an item of the keyring, all texts.
using Attributes = std::map<std::string, std::string>;

struct KeyringItem {
    Attributes attributes;
    std::string secret;
};

struct SecretSchemaHandle;

// The desktop keyring (a Secret Service on the session bus) for items of one schema: each
// item is a secret named by attributes, kept in the default collection so that it outlives
// the process. Calls block until the service answers, which may include the service asking
// the person to unlock the keyring; they are meant for background threads.
class SecretKeyring {
public:
    // The keyring when a Secret Service is running on the session bus; nullptr, with the
    // reason in `whyNot`, when there is no bus or nobody owns the service's name there.
    // The service is never started on demand: a bus of a test or a headless session that
    // has no keyring stays without one.
    static std::unique_ptr<SecretKeyring> connect(const std::string& schemaName,
                                                  const std::vector<std::string>& attributeNames,
                                                  std::string& whyNot);
    ~SecretKeyring();
    SecretKeyring(const SecretKeyring&) = delete;
    SecretKeyring& operator=(const SecretKeyring&) = delete;

    // Saves the secret under exactly these attributes (an item with the same attributes is
    // replaced); false with the service's reason in `error`.
    bool store(const Attributes& attributes, const std::string& label, const std::string& secret,
               std::string& error);
    // The items whose attributes include all of `attributes`, locked ones unlocked;
    // nullopt with the reason in `error` when the service cannot be asked.
    std::optional<std::vector<KeyringItem>> search(const Attributes& attributes,
                                                   std::string& error);
    // Deletes every item whose attributes include all of `attributes`; false with the
    // reason in `error` when the service cannot be asked (nothing to delete is no failure).
    bool clear(const Attributes& attributes, std::string& error);

private:
    explicit SecretKeyring(std::unique_ptr<SecretSchemaHandle> schema);
    std::unique_ptr<SecretSchemaHandle> schema_;
    std::mutex lock_;  // one conversation with the service at a time
};

}  // namespace keyring
