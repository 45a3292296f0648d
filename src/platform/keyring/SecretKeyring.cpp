#include "platform/keyring/SecretKeyring.h"

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <sys/stat.h>

#include <cstdlib>

namespace keyring {

struct SecretSchemaHandle {
    SecretSchema* schema = nullptr;
    ~SecretSchemaHandle() {
        if (schema) secret_schema_unref(schema);
    }
};

namespace {

constexpr const char* SecretServiceName = "org.freedesktop.secrets";
constexpr int NameQueryTimeoutMs = 5000;

struct HashTableDeleter {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using HashTable = std::unique_ptr<GHashTable, HashTableDeleter>;

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// Takes the error's text and frees it.
std::string takeMessage(GError* error, const char* fallback) {
    if (!error) return fallback;
    std::string message = error->message ? error->message : fallback;
    g_error_free(error);
    return message;
}

HashTable makeTable(const Attributes& attributes) {
    HashTable table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    for (const auto& [name, value] : attributes)
        g_hash_table_insert(table.get(), g_strdup(name.c_str()), g_strdup(value.c_str()));
    return table;
}

Attributes readTable(GHashTable* table) {
    Attributes attributes;
    if (!table) return attributes;
    GHashTableIter iter;
    gpointer key = nullptr;
    gpointer value = nullptr;
    g_hash_table_iter_init(&iter, table);
    while (g_hash_table_iter_next(&iter, &key, &value))
        attributes.emplace(static_cast<const char*>(key), static_cast<const char*>(value));
    return attributes;
}

// Whether this process has a session bus to talk to without one being launched for it.
bool sessionBusKnown() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return false;
    struct stat info {};
    std::string socket = std::string(runtime) + "/bus";
    return ::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool serviceRunning(std::string& whyNot) {
    if (!sessionBusKnown()) {
        whyNot = "there is no session bus";
        return false;
    }
    GError* error = nullptr;
    std::unique_ptr<GDBusConnection, ObjectDeleter> bus(
        g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!bus) {
        whyNot = "the session bus cannot be reached: " + takeMessage(error, "unknown error");
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", SecretServiceName), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, NameQueryTimeoutMs, nullptr, &error);
    if (!reply) {
        whyNot = "the session bus does not answer: " + takeMessage(error, "unknown error");
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    if (!owned) whyNot = "no Secret Service is running on the session bus";
    return owned;
}

}  // namespace

std::unique_ptr<SecretKeyring> SecretKeyring::connect(
    const std::string& schemaName, const std::vector<std::string>& attributeNames,
    std::string& whyNot) {
    if (!serviceRunning(whyNot)) return nullptr;
    HashTable types(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr));
    for (const auto& name : attributeNames) {
        g_hash_table_insert(types.get(), g_strdup(name.c_str()),
                            GINT_TO_POINTER(SECRET_SCHEMA_ATTRIBUTE_STRING));
    }
    auto schema = std::make_unique<SecretSchemaHandle>();
    schema->schema = secret_schema_newv(schemaName.c_str(), SECRET_SCHEMA_NONE, types.get());
    if (!schema->schema) {
        whyNot = "the keyring schema cannot be made";
        return nullptr;
    }
    return std::unique_ptr<SecretKeyring>(new SecretKeyring(std::move(schema)));
}

SecretKeyring::SecretKeyring(std::unique_ptr<SecretSchemaHandle> schema)
    : schema_(std::move(schema)) {}

SecretKeyring::~SecretKeyring() = default;

bool SecretKeyring::store(const Attributes& attributes, const std::string& label,
                          const std::string& secret, std::string& error) {
    std::lock_guard guard(lock_);
    auto table = makeTable(attributes);
    SecretValue* value =
        secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain");
    GError* failure = nullptr;
    gboolean stored =
        secret_password_storev_binary_sync(schema_->schema, table.get(), SECRET_COLLECTION_DEFAULT,
                                           label.c_str(), value, nullptr, &failure);
    secret_value_unref(value);
    if (!stored) error = takeMessage(failure, "the keyring refused the item");
    return stored;
}

std::optional<std::vector<KeyringItem>> SecretKeyring::search(const Attributes& attributes,
                                                              std::string& error) {
    std::lock_guard guard(lock_);
    auto table = makeTable(attributes);
    GError* failure = nullptr;
    auto flags = static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK |
                                                SECRET_SEARCH_LOAD_SECRETS);
    GList* found =
        secret_password_searchv_sync(schema_->schema, table.get(), flags, nullptr, &failure);
    if (failure) {
        g_list_free_full(found, g_object_unref);
        error = takeMessage(failure, "the keyring cannot be searched");
        return std::nullopt;
    }
    std::vector<KeyringItem> items;
    for (GList* entry = found; entry; entry = entry->next) {
        auto* retrievable = static_cast<SecretRetrievable*>(entry->data);
        SecretValue* value =
            secret_retrievable_retrieve_secret_sync(retrievable, nullptr, &failure);
        if (!value) {
            // A locked item that stayed locked is left out; the others still answer.
            if (failure) g_error_free(failure);
            failure = nullptr;
            continue;
        }
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        KeyringItem item;
        item.secret.assign(bytes ? bytes : "", bytes ? length : 0);
        GHashTable* itemAttributes = secret_retrievable_get_attributes(retrievable);
        item.attributes = readTable(itemAttributes);
        if (itemAttributes) g_hash_table_unref(itemAttributes);
        secret_value_unref(value);
        items.push_back(std::move(item));
    }
    g_list_free_full(found, g_object_unref);
    return items;
}

bool SecretKeyring::clear(const Attributes& attributes, std::string& error) {
    std::lock_guard guard(lock_);
    auto table = makeTable(attributes);
    GError* failure = nullptr;
    secret_password_clearv_sync(schema_->schema, table.get(), nullptr, &failure);
    if (failure) {
        error = takeMessage(failure, "the keyring cannot be changed");
        return false;
    }
    return true;
}

}  // namespace keyring
