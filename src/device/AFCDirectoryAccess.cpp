#include "device/AFCDirectoryAccess.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>

#include "device/AFCFileInfo.h"
#include "device/MobileDeviceErrors.h"
#include "foundation/NotificationCenter.h"
#include "foundation/PathComponents.h"
#include "foundation/ReplacingFileWriter.h"
#include "logging/LogCall.h"

namespace md = mobiledevice;
using foundation::Value;

namespace {

constexpr std::size_t kCopyChunk = 10240;
constexpr std::size_t kContentChunk = 32768;
// Deeper trees come only from a device that links a folder into itself.
constexpr int kMaxWalkDepth = 256;

bool acceptableName(const std::string& name) {
    return !name.empty() && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

void postCopy(const char* name, const AFCDirectoryAccess* sender, const std::string& source,
              const std::string& target, std::int64_t size, std::int64_t done) {
    foundation::UserInfo info{{"Source", Value(source)}, {"Target", Value(target)},
                              {"Size", Value(size)}};
    if (done >= 0) info["Done"] = Value(done);
    foundation::NotificationCenter::defaultCenter().post(name, sender, std::move(info));
}

}  // namespace

AFCDirectoryAccess::AFCDirectoryAccess(const std::shared_ptr<AMDevice>& device,
                                       std::string servicename, md::AFCConnectionRef afc)
    : device_(device), servicename_(std::move(servicename)), afc_(std::move(afc)) {}

AFCDirectoryAccess::~AFCDirectoryAccess() { close(); }

bool AFCDirectoryAccess::checkStatus(md::AMDStatus status, const char* function, int line) {
    if (status == 0) {
        lasterror_.clear();
        return true;
    }
    lasterror_ = fmt::format("AFCDirectoryAccess@{} -> {} failed: {} (0x{:08x})", line, function,
                             describeStatus(status), status);
    LogInfo("{}", lasterror_);
    return false;
}

bool AFCDirectoryAccess::checkPath(const std::string& path) {
    if (!path.empty()) return true;
    lasterror_ = "Input path is nil";
    return false;
}

bool AFCDirectoryAccess::checkOpen() {
    if (afc_) return true;
    lasterror_ = "Connection is not open";
    return false;
}

Value AFCDirectoryAccess::getFileInfo(const std::string& path) {
    if (!checkPath(path)) return {};
    if (!afc_) return {};
    md::AFCKeyValues pairs;
    if (!checkStatus(md::AFCFileInfoOpen(afc_, path, &pairs), "AFCFileInfoOpen", __LINE__)) {
        return {};
    }
    return AFCFileInfo::fileInfoFromPairs(pairs, path);
}

bool AFCDirectoryAccess::fileExistsAtPath(const std::string& path) {
    if (!checkPath(path) || !checkOpen()) return false;
    md::AFCKeyValues pairs;
    if (md::AFCFileInfoOpen(afc_, path, &pairs) != 0) return false;  // no text: "no" is an answer
    lasterror_.clear();
    return true;
}

Value AFCDirectoryAccess::deviceInfo() {
    if (!checkOpen()) return {};
    md::AFCKeyValues pairs;
    if (!checkStatus(md::AFCDeviceInfoOpen(afc_, &pairs), "AFCDeviceInfoOpen", __LINE__)) return {};
    return AFCFileInfo::dictionaryFromPairs(pairs);
}

std::optional<std::vector<std::string>> AFCDirectoryAccess::directoryContents(
    const std::string& path) {
    if (!checkPath(path) || !checkOpen()) return std::nullopt;
    std::vector<std::string> names;
    if (!checkStatus(md::AFCDirectoryRead(afc_, path, &names), "AFCDirectoryOpen", __LINE__)) {
        return std::nullopt;
    }
    std::erase_if(names, [](const std::string& name) { return name == "." || name == ".."; });
    if (!std::all_of(names.begin(), names.end(), acceptableName)) {
        lasterror_ = fmt::format("The device listed an invalid name in {}", path);
        LogWarn("{}", lasterror_);
        return std::nullopt;
    }
    return names;
}

bool AFCDirectoryAccess::walk(const std::string& path, std::vector<std::string>& found,
                              int depth) {
    if (depth > kMaxWalkDepth) {
        lasterror_ = fmt::format("Folders nested too deeply at {}", path);
        return false;
    }
    std::vector<std::string> names;
    const md::AMDStatus status = md::AFCDirectoryRead(afc_, path, &names);
    if (status != 0) {
        // A path that is not a folder is listed as itself.
        md::AFCKeyValues pairs;
        if (md::AFCFileInfoOpen(afc_, path, &pairs) == 0 &&
            !NSDictionary::isDirectory(AFCFileInfo::dictionaryFromPairs(pairs))) {
            found.push_back(path);
            return true;
        }
        lasterror_ = fmt::format("AFCDirectoryOpen failed: Return code = 0x{:04X}", status);
        return false;
    }
    found.push_back(path + "/");
    for (const auto& name : names) {
        if (name == "." || name == "..") continue;
        if (!acceptableName(name)) {
            lasterror_ = fmt::format("The device listed an invalid name in {}", path);
            return false;
        }
        if (!walk(foundation::appendingPathComponent(path, name), found, depth + 1)) return false;
    }
    return true;
}

std::optional<std::vector<std::string>> AFCDirectoryAccess::recursiveDirectoryContents(
    const std::string& path) {
    if (!checkPath(path) || !checkOpen()) return std::nullopt;
    std::vector<std::string> found;
    if (!walk(path, found, 0)) return std::nullopt;
    std::sort(found.begin(), found.end());
    lasterror_.clear();
    return found;
}

bool AFCDirectoryAccess::mkdir(const std::string& path) {
    if (!checkPath(path) || !checkOpen()) return false;
    return checkStatus(md::AFCDirectoryCreate(afc_, path), "AFCDirectoryCreate", __LINE__);
}

bool AFCDirectoryAccess::unlink(const std::string& path) {
    if (!checkPath(path) || !checkOpen()) return false;
    return checkStatus(md::AFCRemovePath(afc_, path), "AFCRemovePath", __LINE__);
}

bool AFCDirectoryAccess::renameTo(const std::string& oldPath, const std::string& newPath) {
    if (oldPath.empty()) lasterror_ = "Old path is nil";
    if (newPath.empty()) lasterror_ = "New path is nil";
    if (oldPath.empty() || newPath.empty() || !checkOpen()) return false;
    return checkStatus(md::AFCRenamePath(afc_, oldPath, newPath), "AFCRenamePath", __LINE__);
}

bool AFCDirectoryAccess::linkTo(const std::string& path, const std::string& target) {
    if (path.empty()) lasterror_ = "Path is nil";
    if (target.empty()) lasterror_ = "Target is nil";
    if (path.empty() || target.empty() || !checkOpen()) return false;
    return checkStatus(md::AFCLinkPath(afc_, md::kAFCHardLink, target, path), "AFCLinkPath",
                       __LINE__);
}

bool AFCDirectoryAccess::symlinkTo(const std::string& path, const std::string& target) {
    if (path.empty()) lasterror_ = "Path is nil";
    if (target.empty()) lasterror_ = "Target is nil";
    if (path.empty() || target.empty() || !checkOpen()) return false;
    return checkStatus(md::AFCLinkPath(afc_, md::kAFCSymbolicLink, target, path), "AFCLinkPath",
                       __LINE__);
}

bool AFCDirectoryAccess::setmodtimeTo(const std::string& path, foundation::Date date) {
    if (path.empty()) {
        lasterror_ = "Path is nil";
        return false;
    }
    if (!checkOpen()) return false;
    const double seconds = std::max(0.0, date.secondsSince1970);
    const auto nanoseconds = static_cast<std::uint64_t>(seconds * 1e9);
    auto operation = md::AFCOperationCreateSetModTime(path, nanoseconds);
    if (!operation) {
        lasterror_ = "AFCOperationCreateSetModTime() failed";
        return false;
    }
    return runOperation(operation);
}

bool AFCDirectoryAccess::runOperation(const md::AFCOperationRef& operation) {
    const double timeout = md::AFCConnectionGetIOTimeout(afc_);
    if (!checkStatus(md::AFCConnectionProcessOperation(afc_, operation, timeout),
                     "AFCConnectionProcessOperation", __LINE__)) {
        return false;
    }
    const md::AMDStatus result = md::AFCOperationGetResultStatus(operation);
    if (result == 0) {
        lasterror_.clear();
        return true;
    }
    const Value info = md::AFCConnectionCopyLastErrorInfo(afc_);
    if (info.isNil()) {
        lasterror_ = fmt::format("Error {} occurred, no error info", result);
    } else if (const std::string* description = info["NSLocalizedDescription"].string()) {
        lasterror_ = *description;
    } else {
        lasterror_ = fmt::format("Error {} occurred, no message", result);
    }
    return false;
}

std::unique_ptr<AFCFileReference> AFCDirectoryAccess::open(const std::string& path,
                                                           md::AFCFileMode mode) {
    if (!checkPath(path) || !checkOpen()) return nullptr;
    md::AFCFileRef reference = 0;
    if (!checkStatus(md::AFCFileRefOpen(afc_, path, mode, &reference), "afcOpenFile", __LINE__)) {
        if (mode == md::AFCFileMode::Read) LogDebug("Failed to open \"{}\" for reading.", path);
        return nullptr;
    }
    return std::make_unique<AFCFileReference>(path, reference, afc_);
}

std::unique_ptr<AFCFileReference> AFCDirectoryAccess::openForRead(const std::string& path) {
    return open(path, md::AFCFileMode::Read);
}
std::unique_ptr<AFCFileReference> AFCDirectoryAccess::openForWrite(const std::string& path) {
    return open(path, md::AFCFileMode::Write);
}
std::unique_ptr<AFCFileReference> AFCDirectoryAccess::openForReadWrite(const std::string& path) {
    return open(path, md::AFCFileMode::ReadWrite);
}
std::unique_ptr<AFCFileReference> AFCDirectoryAccess::openForAppend(const std::string& path) {
    return open(path, md::AFCFileMode::Append);
}

bool AFCDirectoryAccess::copyLocalFileToRemoteFile(const std::string& localPath,
                                                   const std::string& remotePath) {
    if (fileExistsAtPath(remotePath)) {
        lasterror_ = "Won't overwrite existing file";
        return false;
    }
    std::ifstream source(localPath, std::ios::binary);
    struct stat info {};
    if (!source || ::stat(localPath.c_str(), &info) != 0) {
        lasterror_ = "Can't open input file";
        return false;
    }
    const auto size = static_cast<std::int64_t>(info.st_size);
    postCopy("AFCFileCopyBegin", this, localPath, remotePath, size, -1);
    auto target = openForWrite(remotePath);
    if (!target) return false;
    std::array<char, kCopyChunk> buffer;
    std::int64_t done = 0;
    while (true) {
        postCopy("AFCFileCopyProgress", this, localPath, remotePath, size, done);
        source.read(buffer.data(), buffer.size());
        const auto got = static_cast<std::size_t>(source.gcount());
        if (got == 0 && !source.bad()) break;
        if (got == 0 || !target->writeNBytes(got, buffer.data())) {
            lasterror_ = got == 0 ? "Can't read input file" : target->lasterror();
            target.reset();
            md::AFCRemovePath(afc_, remotePath);
            return false;
        }
        done += static_cast<std::int64_t>(got);
    }
    if (!target->closeFile()) {
        lasterror_ = target->lasterror();
        md::AFCRemovePath(afc_, remotePath);
        return false;
    }
    postCopy("AFCFileCopyDone", this, localPath, remotePath, size, done);
    return true;
}

bool AFCDirectoryAccess::copyLocalFileToRemoteDir(const std::string& localPath,
                                                  const std::string& remoteDir) {
    namespace fs = std::filesystem;
    std::error_code error;
    const auto status = fs::symlink_status(localPath, error);
    if (error || !fs::exists(status)) return false;
    const std::string target =
        foundation::appendingPathComponent(remoteDir, foundation::lastPathComponent(localPath));
    if (fs::is_symlink(status)) {
        const auto linked = fs::read_symlink(localPath, error);
        return !error && symlinkTo(target, linked.string());
    }
    if (!fs::is_directory(status)) return copyLocalFileToRemoteFile(localPath, target);
    if (!mkdir(target)) return false;
    for (const auto& entry : fs::directory_iterator(localPath, error)) {
        if (!copyLocalFileToRemoteDir(entry.path().string(), target)) {
            LogInfo("failed on {}/{}: {}", localPath, entry.path().filename().string(), lasterror_);
            return false;
        }
    }
    return !error;
}

bool AFCDirectoryAccess::copyRemoteFileToLocalFile(const std::string& remotePath,
                                                   const std::string& localPath) {
    struct stat existing {};
    if (::lstat(localPath.c_str(), &existing) == 0) {
        lasterror_ = "Won't overwrite existing file";
        return false;
    }
    auto source = openForRead(remotePath);
    if (!source) return false;
    foundation::ReplacingFileWriter target(localPath);
    if (!target.open()) {
        lasterror_ = "Can't open output file";
        return false;
    }
    std::array<std::uint8_t, kCopyChunk> buffer;
    while (true) {
        const std::int64_t got = source->readNBytes(buffer.size(), buffer.data());
        if (got < 0) {
            lasterror_ = source->lasterror();
            return false;
        }
        if (got == 0) break;
        if (!target.append(buffer.data(), static_cast<std::size_t>(got), &lasterror_)) return false;
    }
    if (!target.commit(&lasterror_)) return false;
    lasterror_.clear();
    return true;
}

std::optional<foundation::Data> AFCDirectoryAccess::contentOfFile(const std::string& path) {
    auto source = openForRead(path);
    if (!source) return std::nullopt;
    foundation::Data content;
    while (true) {
        const std::size_t start = content.size();
        content.resize(start + kContentChunk);
        const std::int64_t got = source->readNBytes(kContentChunk, content.data() + start);
        if (got < 0) {
            lasterror_ = source->lasterror();
            return std::nullopt;
        }
        content.resize(start + static_cast<std::size_t>(got));
        if (got == 0) break;
    }
    return content;
}

void AFCDirectoryAccess::close() {
    if (!afc_) return;
    LogInfo("closing afc");
    if (md::AMDStatus status = md::AFCConnectionClose(afc_)) {
        LogInfo("AFCConnectionClose failed: {}", status);
    }
    afc_.reset();
}
