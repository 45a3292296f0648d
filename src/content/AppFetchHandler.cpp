#include "content/AppFetchHandler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <mutex>

#include <fmt/format.h>

#include "content/FetchImages.h"
#include "content/ThreadText.h"
#include "data/helpers/NSStringHelpers.h"
#include "foundation/AtomicFile.h"
#include "foundation/Json.h"
#include "foundation/PathComponents.h"
#include "logging/Console.h"
#include "logging/LogCall.h"
#include "platform/gtk/ThemeIcons.h"

namespace content {

using foundation::Data;
using foundation::Value;

namespace {

struct MediaLoaderRegistry {
    std::mutex mutex;
    AppFetchHandler::MediaLoaders loaders;
};

// Never destroyed: the pool's jobs are not waited for at exit.
MediaLoaderRegistry& registry() {
    static auto* const shared = new MediaLoaderRegistry;
    return *shared;
}

struct SharedServices {
    std::mutex mutex;
    FetchServices services;
};

// Never destroyed, as the registry.
SharedServices& sharedServices() {
    static auto* const shared = new SharedServices;
    return *shared;
}

FetchServices services() {
    auto& shared = sharedServices();
    std::lock_guard lock(shared.mutex);
    return shared.services;
}

std::optional<std::string> mimeTypeOfPath(const std::string& path) {
    const std::string name = foundation::lastPathComponent(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    return NSString::MIMETypeForExtension(std::string_view(name).substr(dot + 1));
}

Value jsonDate(const foundation::Date& date) { return Value(date.secondsSince1970); }

// The page encodes the path twice.
std::string localFileParameter(const std::map<std::string, std::string, std::less<>>& parameters) {
    const auto found = parameters.find("path");
    return found == parameters.end() ? std::string() : decodedAgain(found->second);
}

std::optional<std::int64_t> int64Of(const Value& value) {
    if (const std::string* string = value.string()) {
        const std::string& text = *string;
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
        return number;
    }
    if (value.isNumber()) return value.toInt64();
    return std::nullopt;
}

// Pieces of a byte span [offset, offset + length) read by `read`, at most kPieceSize each.
MyHttpURLResponse::BodyPieces piecesOf(
    std::uint64_t offset, std::uint64_t length,
    std::function<std::optional<Data>(std::uint64_t offset, std::uint64_t length)> read) {
    return [offset, length, read = std::move(read)]() mutable -> std::optional<Data> {
        if (length == 0) return Data{};
        const std::uint64_t want = std::min(length, AppFetchHandler::kPieceSize);
        auto piece = read(offset, want);
        if (!piece || piece->empty()) return std::nullopt;
        if (piece->size() > want) piece->resize(want);
        offset += piece->size();
        length -= piece->size();
        return piece;
    };
}

// Reads of one open file of the computer; the descriptor closes with the last holder.
struct OpenFile {
    explicit OpenFile(int fd) : fd(fd) {}
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
    std::optional<Data> read(std::uint64_t offset, std::uint64_t length) const {
        Data data(length);
        std::uint64_t got = 0;
        while (got < length) {
            const ssize_t n = ::pread(fd, data.data() + got, length - got, off_t(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return std::nullopt;
            if (n == 0) break;
            got += std::uint64_t(n);
        }
        data.resize(got);
        return data;
    }
    int fd;
};

}  // namespace

// What an action settles: the status, a body held whole or read in pieces, the MIME type,
// and the size of the resource with the range served of it.
struct AppFetchHandler::Reply {
    Reply(const URLRequest& request, const std::map<std::string, std::string, std::less<>>& parameters)
        : request(request), parameters(parameters) {}
    const URLRequest& request;
    const std::map<std::string, std::string, std::less<>>& parameters;
    bool head = false;
    std::optional<ByteRange> range;
    std::int64_t status = 200;
    Data body;
    MyHttpURLResponse::BodyPieces pieces;
    std::uint64_t piecesLength = 0;
    std::string mimeType;
    std::uint64_t size = 0;
    bool unsatisfiable = false;  // a range that starts at or past the end

    std::string parameter(std::string_view name, std::string fallback = {}) const {
        const auto found = parameters.find(name);
        return found == parameters.end() ? std::move(fallback) : found->second;
    }
    bool has(std::string_view name) const { return parameters.contains(name); }
    void json(const Value& value) {
        const std::string text = foundation::json::write(value);
        body.assign(text.begin(), text.end());
        mimeType = "application/json";
    }
    void png(const NSImage::Image& image, int side) {
        auto data = pngDataOfImage(image, side);
        if (!data) {
            status = 404;
            return;
        }
        body = std::move(*data);
        mimeType = "image/png";
    }
    // Lowers the range's last byte into the resource; false (and 416) when it starts past it.
    bool fitRange() {
        if (!range) return true;
        if (std::uint64_t(range->first) >= size) {
            status = 416;
            unsatisfiable = true;
            return false;
        }
        range->last = std::int64_t(std::min<std::uint64_t>(std::uint64_t(range->last), size - 1));
        return true;
    }
};

ResponderClass AppFetchHandler::responderClass() {
    return {"AppFetchHandler", uri(), nullptr,
            [] { return std::make_shared<AppFetchHandler>(); }};
}

HttpHeaderFields AppFetchHandler::corsHeaders() {
    return {{"Cache-Control", "no-store"}, {"Expires", "-1"}};
}

void AppFetchHandler::setServices(FetchServices services) {
    auto& shared = sharedServices();
    std::lock_guard lock(shared.mutex);
    shared.services = std::move(services);
}

void AppFetchHandler::setMediaLoaderOf(std::shared_ptr<FetchMediaLoader> loader,
                                       const std::string& deviceId) {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (loader) {
        shared.loaders[deviceId] = std::move(loader);
    } else {
        shared.loaders.erase(deviceId);
    }
}

AppFetchHandler::MediaLoaders AppFetchHandler::mediaLoaders() {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    return shared.loaders;
}

std::shared_ptr<FetchMediaLoader> AppFetchHandler::mediaLoaderFor(const std::string& deviceId) {
    return mediaLoaderOf(deviceId);
}

std::shared_ptr<FetchMediaLoader> AppFetchHandler::mediaLoaderOf(const std::string& deviceId) {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    const auto found = shared.loaders.find(deviceId);
    return found == shared.loaders.end() ? nullptr : found->second;
}

void AppFetchHandler::removeMediaLoaderOf(const std::string& deviceId) {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    shared.loaders.erase(deviceId);
}

bool AppFetchHandler::isSafeAppId(const std::string& appId) {
    if (appId.empty() || appId.front() == '.') return false;
    return std::all_of(appId.begin(), appId.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
    });
}

std::optional<Data> AppFetchHandler::findIconDataOfAppOnDevice(const std::string& appId,
                                                               FetchDevice& device) {
    if (!isSafeAppId(appId)) return std::nullopt;
    const auto folder = services().iconsCachePath;
    const std::string cacheFile =
        folder ? foundation::appendingPathComponent(folder(), appId + ".png") : std::string();
    if (!cacheFile.empty()) {
        if (auto cached = foundation::readFile(cacheFile)) return cached;
    }
    auto data = device.iconDataForApp(appId);
    if (data && !cacheFile.empty()) foundation::writeFileAtomically(cacheFile, *data);
    return data;
}

std::shared_ptr<HTTPURLResponse> AppFetchHandler::headResponse(const URLRequest& request,
                                                               SchemeTask& task) {
    ConsoleLines({{"Head: ", describeHeaders(request.allHTTPHeaderFields)}});
    return getResponse(request, task);
}

std::shared_ptr<HTTPURLResponse> AppFetchHandler::getResponse(const URLRequest& request,
                                                              SchemeTask&) {
    ConsoleLines({{"Current thread: ", currentThreadText()},
                  {"Get: ", describeHeaders(request.allHTTPHeaderFields)}});
    std::string method = request.httpMethod;
    for (char& c : method) c = char(std::tolower(static_cast<unsigned char>(c)));
    return answer(request, method == "head");
}

std::shared_ptr<HTTPURLResponse> AppFetchHandler::postResponse(const URLRequest& request,
                                                               SchemeTask&) {
    ConsoleLines({{"Post: ", describeHeaders(request.allHTTPHeaderFields)},
                  {"Post Data: ", bodyText(request)}});
    const auto type = request.allHTTPHeaderFields.get("Content-Type");
    std::string lower = type.value_or("");
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "application/json") {
        std::string error;
        if (!foundation::json::read(bodyText(request), &error)) LogWarn("{}", error);
    }
    auto response = std::make_shared<MyHttpURLResponse>(
        request.url, 200, corsHeaders());
    response->setMIMEType("application/json");
    return response;
}

std::shared_ptr<HTTPURLResponse> AppFetchHandler::answer(const URLRequest& request, bool head) {
    const auto parameters = fetchQueryParameters(request.url.query().value_or(""));
    Reply reply{request, parameters};
    reply.head = head;
    if (const auto header = request.allHTTPHeaderFields.get("Range")) {
        reply.range = parseRangeHeader(*header);
    }
    const std::string action = reply.parameter("action");
    if (action == "localfile") {
        localFile(localFileParameter(parameters), reply);
    } else if (action == "iconfortype") {
        iconForType(reply);
    } else if (action == "file-list" || action == "icon" || action == "playlists" ||
               action == "tracks" || action == "file" || action == "artwork") {
        deviceAction(action, reply);
    }

    HttpHeaderFields headers = corsHeaders();
    const bool streamed = bool(reply.pieces);
    const std::uint64_t bodyLength = streamed || head ? reply.piecesLength : reply.body.size();
    if (reply.unsatisfiable) {
        headers.set("Content-Range", fmt::format("bytes */{}", reply.size));
    } else if (reply.range && reply.size != 0 && reply.status == 200) {
        headers.set("Content-Range",
                    fmt::format("bytes {}-{}/{}", reply.range->first, reply.range->last, reply.size));
        headers.set("Content-Length", std::to_string(bodyLength));
        headers.set("Accept-Ranges", "bytes");
        reply.status = 206;
    } else if (head && reply.size != 0) {
        headers.set("Content-Length", std::to_string(reply.size));
    } else if (streamed) {
        headers.set("Content-Length", std::to_string(bodyLength));
        headers.set("Accept-Ranges", "bytes");
    }
    auto response = std::make_shared<MyHttpURLResponse>(request.url, reply.status, headers);
    if (head) {
        // HEAD answers the headers alone.
    } else if (streamed) {
        response->setBodyPieces(std::move(reply.pieces));
    } else {
        response->setData(std::move(reply.body));
    }
    if (!reply.mimeType.empty()) response->setMIMEType(reply.mimeType);
    return response;
}

std::optional<std::string> AppFetchHandler::localFileOf(const foundation::Url& url) {
    if (url.scheme() != "myapp" || url.path() != "/fetch") return std::nullopt;
    const auto parameters = fetchQueryParameters(url.query().value_or(""));
    const auto action = parameters.find("action");
    if (action == parameters.end() || action->second != "localfile") return std::nullopt;
    std::string path = localFileParameter(parameters);
    if (path.empty()) return std::nullopt;
    return path;
}

void AppFetchHandler::localFile(const std::string& path, Reply& reply) {
    if (auto mime = mimeTypeOfPath(path)) reply.mimeType = *mime;
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        reply.status = 404;
        return;
    }
    reply.size = std::uint64_t(info.st_size);
    if (reply.range && reply.range->first > reply.range->last) {
        reply.status = 416;
        return;
    }
    if (!reply.fitRange()) return;
    const std::uint64_t first = reply.range ? std::uint64_t(reply.range->first) : 0;
    reply.piecesLength = reply.range ? std::uint64_t(reply.range->last) - first + 1 : reply.size;
    // HEAD reads nothing, and states the length a GET would send.
    if (reply.head) return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reply.status = 404;
        return;
    }
    auto file = std::make_shared<OpenFile>(fd);
    if (reply.piecesLength == 0) return;
    ::posix_fadvise(fd, off_t(first), off_t(reply.piecesLength), POSIX_FADV_SEQUENTIAL);
    reply.pieces = piecesOf(first, reply.piecesLength, [file](std::uint64_t at, std::uint64_t n) {
        return file->read(at, n);
    });
}

void AppFetchHandler::iconForType(Reply& reply) {
    const std::string type = decodedAgain(reply.parameter("type"));
    const std::string product = decodedAgain(reply.parameter("product"));
    const std::string model = decodedAgain(reply.parameter("model"));
    const bool named = parameterBool(reply.parameter("named"));
    const int size = int(std::clamp<std::int64_t>(parameterInteger(reply.parameter("size")), 0, 1024));
    const int side = size > 0 ? size : 128;
    NSImage::Image image;
    if (named && !product.empty() && !model.empty()) image = deviceModelIcon(product, model, side);
    if (!image) image = gtk::ThemeIcons::iconForType(type, side);
    if (!image) {
        reply.status = 404;
        return;
    }
    reply.png(image, size);
}

void AppFetchHandler::deviceAction(const std::string& action, Reply& reply) {
    const FetchServices shared = services();
    const std::string udid = reply.parameter("udid");
    const auto device = shared.findDevice ? shared.findDevice(udid) : nullptr;
    if (!device) {
        reply.status = 404;
        return;
    }

    if (action == "file") {
        // Streams: the device's lock is taken for each piece, not for the whole answer.
        if (reply.range && reply.range->first > reply.range->last) {
            reply.status = 416;
            return;
        }
        const std::string path = reply.parameter("path", "/");
        {
            std::lock_guard lock(device->objectLock());
            const auto node = device->fileNode(path);
            if (!node) {
                reply.status = 404;
                return;
            }
            reply.size = node->fileSize();
        }
        const std::string mime = reply.parameter("mime");
        if (!mime.empty()) {
            reply.mimeType = mime;
        } else if (auto byExtension = mimeTypeOfPath(path)) {
            reply.mimeType = *byExtension;
        }
        if (!reply.fitRange() || reply.head) return;
        const std::uint64_t first = reply.range ? std::uint64_t(reply.range->first) : 0;
        reply.piecesLength = reply.range ? std::uint64_t(reply.range->last) - first + 1 : reply.size;
        if (reply.piecesLength == 0) return;
        reply.pieces = piecesOf(first, reply.piecesLength,
                                [device, path](std::uint64_t at, std::uint64_t n) {
                                    std::lock_guard lock(device->objectLock());
                                    return device->readFile(path, at, n);
                                });
        return;
    }

    if (action == "artwork") {
        // A page of tracks asks for every track's artwork: the track is found in the loader's
        // index, and the device is held only while its pictures are read.
        const auto loader = mediaLoaderOf(udid);
        const auto pid = reply.has("pid") ? int64Of(Value(reply.parameter("pid"))) : std::nullopt;
        const auto track = loader && pid ? loader->trackWithPid(*pid) : nullptr;
        if (!track || !shared.artworkFor) {
            reply.status = 404;
            return;
        }
        std::lock_guard lock(device->objectLock());
        reply.png(shared.artworkFor(*loader, *track), 0);
        return;
    }

    std::lock_guard lock(device->objectLock());
    if (action == "playlists" || action == "tracks") {
        const auto loader = mediaLoaderOf(udid);
        if (!loader) {
            reply.status = 404;
            return;
        }
        if (action == "playlists") {
            reply.json(loader->playlistsAnswer());
        } else {
            reply.json(loader->tracksAnswer());
        }
        return;
    }

    const bool refresh = parameterBool(reply.parameter("refresh"));
    const std::string path = reply.parameter("path", "/");
    const std::string type = reply.parameter("type", "file");
    const bool isDirectory = reply.has("isdir") ? parameterBool(reply.parameter("isdir")) : true;
    const std::string appId = reply.parameter("appid");
    std::shared_ptr<FetchNode> node;
    std::string iconAppId;
    bool appsRoot = false;
    if (type == "file") {
        node = device->fileNode(path);
    } else if (type == "disk") {
        node = device->diskNode(path);
    } else if (type == "app" && !appId.empty()) {
        node = device->appNode(appId, path, isDirectory);
        if (path == "/" || path == "/Documents") iconAppId = appId;
    } else if (type == "app") {
        node = device->appsRoot(refresh);
        appsRoot = true;
    }
    if (refresh && node && !appsRoot) {
        node->refreshChildren();
        device->resetService();
    }

    if (action == "file-list") {
        foundation::Array records;
        std::string entry;
        std::int32_t error = 0;
        if (node) {
            entry = node->entryPath().value_or("");
            error = node->lastErrorCode();
            for (const auto& child : node->children()) {
                foundation::Dictionary record{
                    {"name", Value(child->displayName())},
                    {"path", Value(child->fullPath())},
                    {"isdir", Value(child->isDirectory())},
                    {"type", Value(std::int64_t(child->fsType()))},
                    {"id", Value(child->rootPath().value_or(""))},
                    {"entry", Value(entry)}};
                if (!appsRoot) {
                    record["size"] = Value(child->isDirectory() ? std::uint64_t(0) : child->fileSize());
                    record["created"] = jsonDate(child->createdDate());
                    record["modified"] = jsonDate(child->modifiedDate());
                }
                records.emplace_back(std::move(record));
            }
        }
        const std::int64_t total = std::int64_t(records.size());
        reply.json(Value(foundation::Dictionary{{"total", Value(total)},
                                                {"records", Value(std::move(records))},
                                                {"entry", Value(entry)},
                                                {"error", Value(std::int64_t(error))}}));
        return;
    }

    // "icon".
    const bool fullsize = parameterBool(reply.parameter("fullsize"));
    const int size = reply.has("size")
                         ? int(std::clamp<std::int64_t>(parameterInteger(reply.parameter("size")), 0, 1024))
                         : 48;
    if (!iconAppId.empty() && device->isPhone()) {
        if (auto data = findIconDataOfAppOnDevice(iconAppId, *device)) {
            if (fullsize) {
                reply.body = std::move(*data);
                reply.mimeType = "image/png";
                return;
            }
            if (auto image = NSImage::safeImageWithDataIsPNG(*data, true)) {
                reply.png(image, size);
                if (reply.status == 200) return;
                reply.status = 200;
            }
        }
    }
    if (!node) {
        reply.status = 404;
        return;
    }
    NSImage::Image image = fullsize ? node->realImage() : nullptr;
    if (!image) image = gtk::ThemeIcons::iconNamed(node->iconName(), size > 0 ? size : 48);
    if (!image) {
        reply.status = 404;
        return;
    }
    reply.png(image, size);
}

}  // namespace content
