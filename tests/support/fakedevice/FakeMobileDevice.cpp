#include "fakedevice/FakeMobileDevice.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "foundation/PathComponents.h"
#include "foundation/ReplacingFileWriter.h"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

std::optional<struct stat> linkStatus(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return info;
}

}  // namespace

FakeMobileDevice::FakeMobileDevice(std::string mediaRoot, std::string uuid)
    : mediaRoot_(std::move(mediaRoot)), uuid_(std::move(uuid)), currentRoot_(mediaRoot_) {}

void FakeMobileDevice::setIdentity(Identity identity) {
    std::lock_guard lock(stateMutex_);
    identity_ = std::move(identity);
}

void FakeMobileDevice::setDeviceValue(const std::string& key, const std::string& domain,
                                      foundation::Value value) {
    std::lock_guard lock(stateMutex_);
    values_[{domain, key}] = std::move(value);
}

void FakeMobileDevice::addApplication(Application application) {
    std::lock_guard lock(stateMutex_);
    applications_.push_back(std::move(application));
}

void FakeMobileDevice::setChunkSize(std::size_t bytes) {
    std::lock_guard lock(stateMutex_);
    chunkSize_ = bytes == 0 ? 1 : bytes;
}

void FakeMobileDevice::setTransferGate(std::shared_ptr<TransferGate> gate) {
    std::lock_guard lock(stateMutex_);
    gate_ = std::move(gate);
}

void FakeMobileDevice::setLastErrorCode(std::int32_t code) {
    std::lock_guard lock(stateMutex_);
    lastErrorCode_ = code;
}

void FakeMobileDevice::failOperation(const std::string& method, int skip, int times) {
    std::lock_guard lock(stateMutex_);
    failures_[method] = Failure{skip, times};
}

void FakeMobileDevice::clearFailures() {
    std::lock_guard lock(stateMutex_);
    failures_.clear();
}

int FakeMobileDevice::callCount(const std::string& method) const {
    std::lock_guard lock(stateMutex_);
    const auto found = calls_.find(method);
    return found == calls_.end() ? 0 : found->second;
}

int FakeMobileDevice::totalCalls() const {
    std::lock_guard lock(stateMutex_);
    int total = 0;
    for (const auto& [method, count] : calls_) total += method == "transferChunk" ? 0 : count;
    return total;
}

std::vector<std::string> FakeMobileDevice::callLog() const {
    std::lock_guard lock(stateMutex_);
    return callLog_;
}

void FakeMobileDevice::resetCallCounts() {
    std::lock_guard lock(stateMutex_);
    calls_.clear();
    callLog_.clear();
}

bool FakeMobileDevice::failsNow(const std::string& method) {
    std::lock_guard lock(stateMutex_);
    ++calls_[method];
    if (method != "transferChunk") callLog_.push_back(method);
    const auto found = failures_.find(method);
    if (found == failures_.end()) return false;
    Failure& failure = found->second;
    if (failure.skip > 0) {
        --failure.skip;
        return false;
    }
    if (failure.times == 0) return false;
    if (failure.times > 0) --failure.times;
    return true;
}

std::string FakeMobileDevice::fullPath(const std::string& path) const {
    return foundation::appendingPathComponent("/", path);
}

std::optional<std::string> FakeMobileDevice::local(const std::string& path) const {
    std::optional<std::string> root;
    {
        std::lock_guard lock(stateMutex_);
        root = currentRoot_;
    }
    if (!root) return std::nullopt;
    const std::string full = fullPath(path);
    for (const auto& part : fs::path(full)) {
        if (part == "..") return std::nullopt;
    }
    return foundation::appendingPathComponent(*root, full);
}

std::uint64_t FakeMobileDevice::getSizeOfItemAtPath(const std::string& path) {
    if (failsNow("getSizeOfItemAtPath")) return 0;
    const auto where = local(path);
    const auto info = where ? linkStatus(*where) : std::nullopt;
    return info ? static_cast<std::uint64_t>(info->st_size) : 0;
}

foundation::Date FakeMobileDevice::creationDateOfItemAtPath(const std::string& path) {
    if (failsNow("creationDateOfItemAtPath")) return {};
    const auto where = local(path);
    const auto info = where ? linkStatus(*where) : std::nullopt;
    return {info ? static_cast<double>(info->st_ctim.tv_sec) : 0.0};
}

foundation::Date FakeMobileDevice::modificationDateOfItemAtPath(const std::string& path) {
    if (failsNow("modificationDateOfItemAtPath")) return {};
    const auto where = local(path);
    const auto info = where ? linkStatus(*where) : std::nullopt;
    return {info ? static_cast<double>(info->st_mtim.tv_sec) : 0.0};
}

bool FakeMobileDevice::createDirectory(const std::string& path) {
    if (failsNow("createDirectory")) return false;
    const auto where = local(path);
    std::lock_guard access(accessLock_);
    return where && ::mkdir(where->c_str(), 0755) == 0;
}

bool FakeMobileDevice::renameItemAtPathTo(const std::string& path, const std::string& newName) {
    if (failsNow("renameItemAtPathTo")) return false;
    const std::string parent = foundation::deletingLastPathComponent(path);
    const std::string target = newName.find(parent) == std::string::npos
                                   ? foundation::appendingPathComponent(parent, newName)
                                   : newName;
    const auto from = local(path);
    const auto to = local(target);
    std::lock_guard access(accessLock_);
    return from && to && ::rename(from->c_str(), to->c_str()) == 0;
}

bool FakeMobileDevice::deleteItemAtPath(const std::string& path) {
    if (failsNow("deleteItemAtPath")) return false;
    const auto where = local(path);
    std::lock_guard access(accessLock_);
    std::error_code error;
    return where && fs::remove(*where, error) && !error;
}

bool FakeMobileDevice::itemExistsAtPathIsDirectory(const std::string& path, bool* isDirectory) {
    if (isDirectory) *isDirectory = false;
    if (failsNow("itemExistsAtPathIsDirectory")) return false;
    const auto where = local(path);
    const auto info = where ? linkStatus(*where) : std::nullopt;
    if (info && isDirectory) *isDirectory = S_ISDIR(info->st_mode);
    return info.has_value();
}

bool FakeMobileDevice::isDirectoryAtPath(const std::string& path) {
    if (failsNow("isDirectoryAtPath")) return false;
    const std::string last = foundation::lastPathComponent(path);
    if (last == "." || last == "..") return true;
    const auto where = local(path);
    const auto info = where ? linkStatus(*where) : std::nullopt;
    return info && S_ISDIR(info->st_mode);
}

bool FakeMobileDevice::isLinkAtPath(const std::string& path) {
    if (failsNow("isLinkAtPath")) return false;
    const auto where = local(path);
    const auto info = where ? linkStatus(*where) : std::nullopt;
    return info && S_ISLNK(info->st_mode);
}

std::vector<iMobileFileSystemNode> FakeMobileDevice::contentsOfDirectoryPathType(
    const std::string& path, std::int32_t pathType) {
    if (failsNow("contentsOfDirectoryPathType")) return {};
    const auto where = local(path);
    if (!where) return {};
    const std::string parent = fullPath(path);
    std::vector<iMobileFileSystemNode> folders;
    std::vector<iMobileFileSystemNode> files;
    std::lock_guard access(accessLock_);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(*where, error)) {
        std::string name = entry.path().filename().string();
        if (entry.is_directory(error) && !entry.is_symlink(error)) {
            folders.emplace_back(std::move(name), parent, true);
        } else {
            files.emplace_back(std::move(name), parent, false);
        }
    }
    return arrangeByPathType(std::move(folders), std::move(files), pathType);
}

std::vector<iMobileDirectoryEntry> FakeMobileDevice::contentsOfDirectoryWithAttributes(
    const std::string& path) {
    if (failsNow("contentsOfDirectoryWithAttributes")) return {};
    const auto where = local(path);
    if (!where) return {};
    const std::string parent = fullPath(path);
    std::vector<iMobileDirectoryEntry> folders;
    std::vector<iMobileDirectoryEntry> files;
    std::lock_guard access(accessLock_);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(*where, error)) {
        std::string name = entry.path().filename().string();
        if (failsNow("fileInfo")) continue;
        const auto info = linkStatus(entry.path().string());
        if (!info) continue;
        const bool folder = S_ISDIR(info->st_mode);
        iMobileItemAttributes attributes{folder, folder ? 0 : static_cast<std::uint64_t>(info->st_size),
                                         {static_cast<double>(info->st_ctim.tv_sec)},
                                         {static_cast<double>(info->st_mtim.tv_sec)}};
        (folder ? folders : files).push_back({{std::move(name), parent, folder}, attributes});
    }
    folders.insert(folders.end(), std::make_move_iterator(files.begin()),
                   std::make_move_iterator(files.end()));
    return folders;
}

bool FakeMobileDevice::reportChunk(const CopyDelegate& delegate, std::int64_t done,
                                   std::int64_t total) {
    bool keepGoing = !failsNow("transferChunk");
    if (delegate) {
        keepGoing = delegate->shouldContinue() && keepGoing;
        delegate->transferBytesOfTotal(done, total);
    }
    std::shared_ptr<TransferGate> gate;
    {
        std::lock_guard lock(stateMutex_);
        gate = gate_;
    }
    if (gate) gate->pass(done);
    return keepGoing;
}

bool FakeMobileDevice::copyInChunks(std::istream& source, const std::string& destination,
                                    std::size_t chunk, std::int64_t total,
                                    const CopyDelegate& delegate) {
    foundation::ReplacingFileWriter target(destination,
                                           delegate ? delegate->partialFiles() : nullptr);
    if (!target.open()) return false;
    std::vector<std::uint8_t> buffer(chunk);
    std::int64_t done = 0;
    while (true) {
        source.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(chunk));
        const auto got = static_cast<std::size_t>(source.gcount());
        if (got == 0) {
            if (source.bad()) return false;
            break;
        }
        if (!target.append(buffer.data(), got)) return false;
        done += static_cast<std::int64_t>(got);
        if (!reportChunk(delegate, done, total)) return false;
    }
    return target.commit();
}

bool FakeMobileDevice::uploadFileFrom(const std::string& devicePath,
                                      const std::string& computerPath,
                                      const CopyDelegate& delegate) {
    if (failsNow("uploadFileFrom")) return false;
    std::ifstream source(computerPath, std::ios::binary);
    const auto where = local(devicePath);
    if (!source || !where) return false;
    std::error_code error;
    const auto total = static_cast<std::int64_t>(fs::file_size(computerPath, error));
    std::size_t chunk;
    {
        std::lock_guard lock(stateMutex_);
        chunk = chunkSize_;
    }
    std::lock_guard access(accessLock_);
    if (!copyInChunks(source, *where, chunk, total, delegate)) return false;
    if (delegate) {
        delegate->shouldContinue();
        delegate->transferBytesOfTotal(100, 100);
    }
    return true;
}

bool FakeMobileDevice::downloadFileTo(const std::string& devicePath,
                                      const std::string& computerPath,
                                      const CopyDelegate& delegate) {
    if (failsNow("downloadFileTo")) return false;
    const auto where = local(devicePath);
    if (!where) return false;
    std::size_t chunk;
    {
        std::lock_guard lock(stateMutex_);
        chunk = chunkSize_;
    }
    std::lock_guard access(accessLock_);
    std::ifstream source(*where, std::ios::binary);
    const auto info = linkStatus(*where);
    if (!source || !info || S_ISDIR(info->st_mode)) return false;
    const auto total = static_cast<std::int64_t>(info->st_size);
    std::error_code error;
    fs::create_directories(fs::path(computerPath).parent_path(), error);
    return copyInChunks(source, computerPath, chunk, total, delegate);
}

std::optional<foundation::Data> FakeMobileDevice::contentsOfFileAtPath(const std::string& path) {
    if (failsNow("contentsOfFileAtPath")) return std::nullopt;
    const auto where = local(path);
    if (!where) return std::nullopt;
    std::lock_guard access(accessLock_);
    std::ifstream source(*where, std::ios::binary);
    if (!source) return std::nullopt;
    return foundation::Data(std::istreambuf_iterator<char>(source), {});
}

std::optional<foundation::Data> FakeMobileDevice::readFileAtPathOffsetLength(
    const std::string& path, std::uint64_t offset, std::uint64_t length) {
    if (failsNow("readFileAtPathOffsetLength")) return std::nullopt;
    const auto where = local(path);
    if (!where) return std::nullopt;
    std::lock_guard access(accessLock_);
    std::ifstream source(*where, std::ios::binary);
    const auto info = linkStatus(*where);
    if (!source || !info) return std::nullopt;
    const auto size = static_cast<std::uint64_t>(info->st_size);
    if (offset >= size || length == 0) return foundation::Data();
    const std::uint64_t count = std::min(length, size - offset);
    foundation::Data bytes(count);
    source.seekg(static_cast<std::streamoff>(offset));
    source.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(source.gcount()));
    return bytes;
}

bool FakeMobileDevice::appendDataToPath(const foundation::Data& data, const std::string& path) {
    if (failsNow("appendDataToPath")) return false;
    const auto where = local(path);
    if (!where) return false;
    std::lock_guard access(accessLock_);
    std::ofstream target(*where, std::ios::binary | std::ios::app);
    target.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(target.flush());
}

bool FakeMobileDevice::writeDataToPath(const foundation::Data& data, const std::string& path) {
    // An injected failure comes part-way, after half the bytes, as a full phone's does;
    // like the phone, the file is replaced only once it is whole.
    const bool failing = failsNow("writeDataToPath");
    const auto where = local(path);
    if (!where) return false;
    std::lock_guard access(accessLock_);
    foundation::ReplacingFileWriter target(*where);
    if (!target.open()) return false;
    const std::size_t written = failing ? data.size() / 2 : data.size();
    if (!target.append(data.data(), written) || failing) return false;
    return target.commit();
}

#define FAKE_IDENTITY(method, field, failed)          \
    decltype(FakeMobileDevice::Identity::field) FakeMobileDevice::method() { \
        if (failsNow(#method)) return failed;          \
        std::lock_guard lock(stateMutex_);             \
        return identity_.field;                        \
    }
FAKE_IDENTITY(deviceType, deviceType, kDeviceTypeOther)
FAKE_IDENTITY(name, name, "")
FAKE_IDENTITY(capacity, capacity, 0)
FAKE_IDENTITY(freeCapacity, freeCapacity, 0)
FAKE_IDENTITY(serialNumber, serialNumber, "")
FAKE_IDENTITY(phoneNumber, phoneNumber, "")
FAKE_IDENTITY(modelNumber, modelNumber, "")
FAKE_IDENTITY(firmwareVersion, firmwareVersion, "")
FAKE_IDENTITY(osVersion, osVersion, "")
FAKE_IDENTITY(buildVersion, buildVersion, "")
#undef FAKE_IDENTITY

foundation::Value FakeMobileDevice::deviceValueForKeyInDomain(const std::string& key,
                                                              const std::string& domain) {
    if (failsNow("deviceValueForKeyInDomain")) return {};
    std::lock_guard lock(stateMutex_);
    const auto found = values_.find({domain, key});
    return found == values_.end() ? foundation::Value() : found->second;
}

bool FakeMobileDevice::paired() {
    if (failsNow("paired")) return false;
    std::lock_guard lock(stateMutex_);
    return paired_;
}

bool FakeMobileDevice::pair() {
    if (failsNow("pair")) return false;
    std::lock_guard lock(stateMutex_);
    paired_ = true;
    return true;
}

bool FakeMobileDevice::unpair() {
    if (failsNow("unpair")) return false;
    std::lock_guard lock(stateMutex_);
    paired_ = false;
    return true;
}

void FakeMobileDevice::resetService() {
    failsNow("resetService");
    std::lock_guard service(serviceLock_);
    std::lock_guard lock(stateMutex_);
    currentRoot_.reset();
}

std::int32_t FakeMobileDevice::lastErrorCode() {
    failsNow("lastErrorCode");
    std::lock_guard lock(stateMutex_);
    return lastErrorCode_;
}

bool FakeMobileDevice::connect(bool keepCurrent) {
    if (failsNow("connect")) return false;
    if (!keepCurrent) return changeService(kMediaService);
    std::lock_guard lock(stateMutex_);
    return currentRoot_.has_value();
}

bool FakeMobileDevice::changeServiceFileSharingEnabled(const std::string& service, bool) {
    const bool failing = failsNow("changeServiceFileSharingEnabled");
    std::lock_guard serviceLock(serviceLock_);
    std::lock_guard lock(stateMutex_);
    if (failing) {
        currentRoot_.reset();
        return false;
    }
    if (service == kMediaService || service == "/") {
        currentRoot_ = mediaRoot_;
    } else if (service != kRootService) {
        currentRoot_.reset();
        for (const auto& application : applications_) {
            if (application.bundleId == service) currentRoot_ = application.containerRoot;
        }
    }
    return currentRoot_.has_value();
}

bool FakeMobileDevice::performOnService(const std::string& service, bool fileSharingEnabled,
                                        const std::function<void()>& work) {
    std::lock_guard serviceLock(serviceLock_);
    if (!changeServiceFileSharingEnabled(service, fileSharingEnabled)) return false;
    work();
    return true;
}

foundation::Value FakeMobileDevice::appBundles() {
    if (failsNow("appBundles")) return foundation::Value(foundation::Array());
    std::lock_guard lock(stateMutex_);
    foundation::Array bundles;
    for (const auto& application : applications_) {
        bundles.push_back(foundation::Value::dict({
            {"name", application.name},
            {"ID", application.bundleId},
            {"iconPath", "/" + application.bundleId + ".app/Icon.png"},
            {"fileSharingEnabled", application.fileSharingEnabled},
            {"root", application.fileSharingEnabled ? "/Documents" : "/"},
        }));
    }
    return foundation::Value(std::move(bundles));
}

std::optional<foundation::Data> FakeMobileDevice::getIconDataForApp(const std::string& bundleId) {
    if (failsNow("getIconDataForApp")) return std::nullopt;
    std::lock_guard lock(stateMutex_);
    for (const auto& application : applications_) {
        if (application.bundleId == bundleId && !application.iconPng.empty()) {
            return application.iconPng;
        }
    }
    return std::nullopt;
}

}  // namespace testsupport
