#include "content/StaticFileResponse.h"

#include <filesystem>
#include <map>
#include <mutex>

#include <fmt/format.h>

#include "content/InflatedBuffer.h"
#include "content/MySettings.h"
#include "content/PathText.h"
#include "content/ResourcePack.h"
#include "content/ThreadText.h"
#include "data/helpers/NSStringHelpers.h"
#include "foundation/AtomicFile.h"
#include "foundation/ConsolePrint.h"

namespace content {
namespace {

struct Slice {
    std::size_t offset;
    std::size_t size;
};

// Every file is a slice of the one inflated body.
struct FileTable {
    explicit FileTable(std::size_t inflatedSize) : inflated(inflatedSize) {}
    InflatedBuffer inflated;
    std::map<std::string, Slice, std::less<>> files;
};

struct State {
    std::mutex lock;
    std::shared_ptr<const FileTable> table;
    std::string root;
};

State& state() {
    static auto* const shared = new State;
    return *shared;
}

std::shared_ptr<const FileTable> currentTable() {
    auto& s = state();
    std::lock_guard guard(s.lock);
    return s.table;
}

std::string rootPath() {
    auto& s = state();
    std::lock_guard guard(s.lock);
    return s.root;
}

std::string extensionOf(std::string_view name) {
    const auto slash = name.rfind('/');
    const auto base = name.substr(slash == std::string_view::npos ? 0 : slash + 1);
    const auto dot = base.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return std::string(base.substr(dot + 1));
}

// The file from the pack, or from the folder while no pack is loaded.
std::optional<foundation::Data> contentsOf(const std::string& name) {
    if (name.empty()) return std::nullopt;
    if (auto table = currentTable()) {
        const auto it = table->files.find(name);
        if (it == table->files.end()) return std::nullopt;
        const auto file = table->inflated.bytes().subspan(it->second.offset, it->second.size);
        return foundation::Data(file.begin(), file.end());
    }
    const std::string root = rootPath();
    if (root.empty()) return std::nullopt;
    return foundation::readFile((std::filesystem::path(root) / name).string());
}

// Checks the signature, then inflates the body into `output`: nothing of a pack is
// inflated before its signature holds.
bool verifyAndInflate(const ResourcePack::Index& index, std::string_view password,
                      std::span<std::uint8_t> output) {
    return MySettings::VerifySign(index.signature,
                                  ResourcePack::signedDigestOfCipheredBody(index, password)) &&
           ResourcePack::inflateCipheredBodyInto(index, password, output);
}

}  // namespace

ResponderClass StaticFileResponse::responderClass() {
    return {"StaticFileResponse", uri(), &StaticFileResponse::test,
            [] { return std::make_shared<StaticFileResponse>(); }};
}

bool StaticFileResponse::initializeWithFileAtPath(const std::string& path,
                                                  std::string_view password) {
    auto bytes = foundation::readFile(path);
    return bytes && initializeWithData(*bytes, password);
}

bool StaticFileResponse::initializeWithData(std::span<const std::uint8_t> pack,
                                            std::string_view password) {
    if (pack.empty()) return false;
    // The body is deciphered in pieces, once for the signature and once more into the
    // inflated files: it is never whole in memory, deciphered or copied.
    auto index = ResourcePack::parseIndex(pack, password);
    if (!index) return false;

    // The files fill the body exactly: a table that leaves bytes over or runs past the end
    // does not describe this body, and a signed body that does not inflate is a broken
    // pack, not an empty one.
    const std::uint64_t described =
        index->records.empty() ? 0 : index->records.back().offset + index->records.back().size;
    if (described > SIZE_MAX) return false;
    auto table = std::make_shared<FileTable>(std::size_t(described));
    if (table->inflated.bytes().size() != described ||
        !verifyAndInflate(*index, password, table->inflated.bytes())) {
        return false;
    }
    for (const auto& record : index->records) {
        table->files[record.name] = {std::size_t(record.offset), record.size};
    }

    auto& s = state();
    std::lock_guard guard(s.lock);
    s.table = std::move(table);
    return true;
}

void StaticFileResponse::setRootPath(std::string path) {
    auto& s = state();
    std::lock_guard guard(s.lock);
    s.root = std::move(path);
}

bool StaticFileResponse::hasTable() {
    return currentTable() != nullptr;
}

std::size_t StaticFileResponse::fileCount() {
    auto table = currentTable();
    return table ? table->files.size() : 0;
}

bool StaticFileResponse::test(std::string_view path) {
    const auto name = servedFileName(path);
    if (!name) return false;
    if (auto table = currentTable()) return table->files.contains(*name);
    // Without a pack the root is always claimed, even before the folder has an index.
    if (const std::string folded = foldDoubleSlashes(path); folded.empty() || folded == "/")
        return true;
    const std::string root = rootPath();
    return !root.empty() && std::filesystem::is_regular_file(std::filesystem::path(root) / *name);
}

std::shared_ptr<HTTPURLResponse> StaticFileResponse::getResponse(const URLRequest& request,
                                                                 SchemeTask&) {
    foundation::printToConsole("Current thread: {}\n", currentThreadText());

    // A refused name ("..", NUL) reads as the empty name, which names nothing.
    const std::string name = servedFileName(request.url.path()).value_or("");
    auto contents = contentsOf(name);

    if (!contents) return std::make_shared<MyHttpURLResponse>(request.url, 200);
    auto response = std::make_shared<MyHttpURLResponse>(request.url, std::move(*contents));
    response->setValueForHeader(
        NSString::MIMETypeForExtension(extensionOf(name)).value_or("text/plain"), "Content-Type");
    return response;
}

}  // namespace content
