#include "files/DeviceFileCommands.h"

#include <exception>
#include <optional>

#include <fmt/format.h>

#include "data/db/SqlDatabase.h"
#include "files/RequestArguments.h"
#include "files/SQLiteReader.h"
#include "foundation/Base64.h"
#include "foundation/Error.h"
#include "foundation/PropertyList.h"
#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

using Plugin = WVMobileDeviceFilesystemPlugin;

Value result(bool ok) { return Value::dict({{"result", ok}}); }
Value failure(const std::string& error) { return Value::dict({{"result", false}, {"error", error}}); }
Value success(Value data) { return Value::dict({{"result", true}, {"data", std::move(data)}}); }

std::string tooLarge() {
    return fmt::format("Reads are limited to {} bytes at a time.", Plugin::kMaxReadBytes);
}

// Runs `work` on the node's service; false without a node or device.
bool onDevice(const DeviceFileCommands::Request& request,
              const std::function<void(iMobileDevice&)>& work) {
    return request.node && request.node->performOnDevice(work);
}

// Base64 with every character outside the alphabet skipped.
std::optional<foundation::Data> lenientBase64(const std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '+' || c == '/' || c == '=')
            kept.push_back(c);
    }
    return foundation::base64::decode(kept);
}

// The whole file, within the read limit; an error text instead when it cannot be had.
std::optional<foundation::Data> wholeFile(const DeviceFileCommands::Request& request,
                                          std::string& error) {
    std::optional<foundation::Data> bytes;
    bool tooBig = false;
    onDevice(request, [&](iMobileDevice& d) {
        // A size said to be too large is believed; a smaller one is not.
        tooBig = d.getSizeOfItemAtPath(request.path) > Plugin::kMaxReadBytes;
        if (!tooBig) bytes = d.contentsOfFileAtPathWithin(request.path, Plugin::kMaxReadBytes, &tooBig);
    });
    if (tooBig) error = tooLarge();
    else if (!bytes || bytes->empty()) error = "Failed to read data from device.";
    return error.empty() ? bytes : std::nullopt;
}

Value runReader(SQLiteReader& reader, const Value& data) {
    const std::string action = data["action"].stringOr();
    Value answer;
    if (action == "tables") answer = reader.allTables(data["params"]);
    else if (action == "columns") answer = reader.columnsOfTable(data["table"]);
    else if (action == "query") answer = reader.query(data["params"]);
    else return failure(fmt::format("Unknown sqlite action: {}", PageValues::description(data["action"])));
    if (answer["result"].toBool().value_or(false)) return success(answer);
    return failure(answer["reason"].stringOr());
}

}  // namespace

void DeviceFileCommands::addTo(std::map<std::string, Plugin::Command>& commands) {
    const auto add = [&](const char* name, Value (*command)(Request&)) {
        commands[name] = [command](Plugin&, Request& request) { return command(request); };
    };
    add("device-newfolder", &newFolder);
    add("device-exists", &exists);
    add("device-rename", &rename);
    add("device-delete", &remove);
    add("device-ls", &list);
    add("device-readfile", &readFile);
    add("device-writefile", &writeFile);
    add("device-read-plist", &readPlist);
    add("device-read-sqlite", &readSqlite);
}

Value DeviceFileCommands::newFolder(Request& request) {
    bool made = false;
    onDevice(request, [&](iMobileDevice& d) {
        bool isDirectory = false;
        made = (d.itemExistsAtPathIsDirectory(request.path, &isDirectory) && isDirectory) ||
               d.createDirectory(request.path);
    });
    return result(made);
}

Value DeviceFileCommands::exists(Request& request) {
    bool found = false;
    bool isDirectory = false;
    onDevice(request, [&](iMobileDevice& d) {
        found = d.itemExistsAtPathIsDirectory(request.path, &isDirectory);
    });
    if (!found) return result(false);
    return success(Value::dict({{"isdir", isDirectory}}));
}

Value DeviceFileCommands::rename(Request& request) {
    const std::string to = request.data["to"].stringOr();
    if (to.empty()) return failure("missing new path");
    if (!Plugin::isConfinedDevicePath(to)) return failure(fmt::format("Invalid device path: {}", to));
    bool renamed = false;
    onDevice(request, [&](iMobileDevice& d) { renamed = d.renameItemAtPathTo(request.path, to); });
    return result(renamed);
}

Value DeviceFileCommands::remove(Request& request) {
    const Value& flag = request.data["recursive"];
    const bool recursive = flag.kind() != Value::Kind::String && flag.toBool().value_or(false);
    bool deleted = false;
    onDevice(request, [&](iMobileDevice& d) {
        bool isDirectory = false;
        d.itemExistsAtPathIsDirectory(request.path, &isDirectory);
        deleted = recursive && isDirectory ? request.node->deleteNode()
                                           : d.deleteItemAtPath(request.path);
    });
    return result(deleted);
}

Value DeviceFileCommands::listingRecord(FileSystemNode& node, const std::string& entry) {
    const bool folder = node.isDirectory();
    return Value::dict({
        {"name", node.displayName()},
        {"path", node.fullPath()},
        {"size", folder ? std::uint64_t{0} : node.fileSize()},
        {"created", node.createdDate().secondsSince1970},
        {"modified", node.modifiedDate().secondsSince1970},
        {"isdir", folder},
        {"type", static_cast<std::int64_t>(node.fsType())},
        {"id", node.rootPath().value_or("")},
        {"entry", entry},
    });
}

Value DeviceFileCommands::list(Request& request) {
    FileSystemNode* node = request.node.get();
    if (!node) {
        return success(Value::dict(
            {{"isdir", false},
             {"properties", Value::dict({{"name", ""}, {"path", ""}, {"size", std::uint64_t{0}},
                                         {"created", 0.0}, {"modified", 0.0}, {"isdir", false},
                                         {"type", std::int64_t{0}}, {"id", ""}, {"entry", ""}})}}));
    }
    const std::string entry = node->entryPath().value_or("");
    Value payload;
    // One hold of the service for the whole listing.
    node->performOnDevice([&](iMobileDevice&) {
        if (!node->isDirectory()) {
            payload = Value::dict({{"isdir", false}, {"properties", listingRecord(*node, entry)}});
            return;
        }
        Value records = foundation::Array{};
        for (const auto& child : node->children()) records.append(listingRecord(*child, entry));
        payload = Value::dict({{"properties", records}, {"isdir", true}});
    });
    if (payload.isNil()) return failure(fmt::format("Failed to list: ({})", request.path));
    return success(payload);
}

Value DeviceFileCommands::readFile(Request& request) {
    std::int64_t offset = RequestArguments::integer(request.data["offset"]).value_or(0);
    std::int64_t length = RequestArguments::integer(request.data["length"]).value_or(0);
    if (length == 0) return failure("length must be specified.");
    if (length < -1) return failure("length must be -1 (to the end) or more than 0.");
    const std::string unread = fmt::format("Failed to read file: ({})", request.path);
    if (!request.node) return failure(unread);

    std::optional<foundation::Data> bytes;
    bool tooBig = false;
    onDevice(request, [&](iMobileDevice& d) {
        // The file's size may cost a question to the device: asked only when it matters.
        const auto size = [&] {
            return static_cast<std::int64_t>(std::min<std::uint64_t>(request.node->fileSize(), INT64_MAX));
        };
        if (offset < 0 || length == -1) {
            const std::int64_t total = size();
            offset = offset < 0 ? std::max<std::int64_t>(0, total + offset) : std::min(offset, total);
            if (length == -1) length = total - offset;
        }
        if (static_cast<std::uint64_t>(length) > Plugin::kMaxReadBytes) {
            // More than the limit asked of a file that holds less is the rest of the file.
            const std::int64_t rest = std::max<std::int64_t>(0, size() - offset);
            if (static_cast<std::uint64_t>(rest) > Plugin::kMaxReadBytes) {
                tooBig = true;
                return;
            }
            length = rest;
        }
        bytes = length == 0 ? foundation::Data()
                            : d.readFileAtPathOffsetLength(request.path, static_cast<std::uint64_t>(offset),
                                                           static_cast<std::uint64_t>(length));
    });
    if (tooBig) return failure(tooLarge());
    if (!bytes) return failure(unread);
    return success(Value::dict({{"bytes", foundation::base64::encode(*bytes)},
                                {"length", static_cast<std::uint64_t>(bytes->size())}}));
}

Value DeviceFileCommands::writeFile(Request& request) {
    const std::string* text = request.data["bytes"].string();
    const auto bytes = text ? lenientBase64(*text) : std::nullopt;
    if (!bytes) return failure("Invalid data to be written.");
    bool appended = false;
    onDevice(request, [&](iMobileDevice& d) { appended = d.appendDataToPath(*bytes, request.path); });
    return result(appended);
}

Value DeviceFileCommands::readPlist(Request& request) {
    std::string error;
    const auto bytes = wholeFile(request, error);
    if (!bytes) return failure(error);
    std::string parseError;
    const auto plist = foundation::plist::read(*bytes, &parseError);
    if (!plist) {
        if (parseError.empty()) return failure("Failed to parse plist.");
        return failure(fmt::format("The data couldn't be read because it isn't in the correct format. ({})",
                                   parseError));
    }
    const Value data = Plugin::removeInvalidType(*plist);
    return success(data.isNil() ? Value::null() : data);
}

Value DeviceFileCommands::readSqlite(Request& request) {
    std::string error;
    const auto bytes = wholeFile(request, error);
    if (!bytes) return failure(error);
    const auto db = SqlDatabase::databaseWithData(*bytes);
    if (!db) return failure("Failed to open sqlite.");
    struct Closer {
        const std::shared_ptr<SqlDatabase>& db;
        ~Closer() { db->closeEx(); }
    } closer{db};
    // The image is the request's own copy; still, nothing the page sends may change it.
    if (!db->open() || !db->executeStatements("PRAGMA query_only = ON;"))
        return failure("Failed to open sqlite.");
    SQLiteReader reader(db);
    try {
        return runReader(reader, request.data);
    } catch (const foundation::NamedException& exception) {
        return failure(exception.reason());
    } catch (const std::exception& exception) {
        return failure(exception.what());
    }
}
