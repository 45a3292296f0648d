#include "device/AFCFileReference.h"

#include <fmt/format.h>

#include "device/MobileDeviceErrors.h"

namespace md = mobiledevice;

namespace {
constexpr int kNotOpenStatus = -900;
}

AFCFileReference::AFCFileReference(std::string path, md::AFCFileRef reference,
                                   md::AFCConnectionRef afc)
    : path_(std::move(path)), reference_(reference), afc_(std::move(afc)) {}

AFCFileReference::~AFCFileReference() {
    if (reference_ != 0) md::AFCFileRefClose(afc_, reference_);
}

bool AFCFileReference::checkStatus(md::AMDStatus status, const char* function, int line) {
    laststatus_ = status;
    if (status == 0) {
        lasterror_.clear();
        return true;
    }
    lasterror_ = fmt::format("AFCFileReference@{} -> {} failed: {} (0x{:08x})", line, function,
                             describeStatus(status), status);
    return false;
}

bool AFCFileReference::checkOpen() {
    if (reference_ != 0) return true;
    lasterror_ = "File is not open";
    return false;
}

bool AFCFileReference::closeFile() {
    if (!checkOpen()) return false;
    if (!checkStatus(md::AFCFileRefClose(afc_, reference_), "AFCFileRefClose", __LINE__)) {
        return false;
    }
    reference_ = 0;
    return true;
}

bool AFCFileReference::seekMode(std::int64_t offset, int mode) {
    if (!checkOpen()) return false;
    return checkStatus(md::AFCFileRefSeek(afc_, reference_, offset, mode), "AFCFileRefSeek",
                       __LINE__);
}

bool AFCFileReference::tell(std::uint64_t* position) {
    if (!checkOpen()) return false;
    return checkStatus(md::AFCFileRefTell(afc_, reference_, position), "AFCFileRefTell", __LINE__);
}

std::int64_t AFCFileReference::readNBytes(std::size_t count, void* bytes) {
    if (!checkOpen()) return -1;
    std::size_t read = 0;
    if (!checkStatus(md::AFCFileRefRead(afc_, reference_, bytes, count, &read), "AFCFileRefRead",
                     __LINE__)) {
        return -1;
    }
    return static_cast<std::int64_t>(read);
}

bool AFCFileReference::writeNBytes(std::size_t count, const void* bytes) {
    if (!checkOpen()) return false;
    if (count == 0) return true;
    return checkStatus(md::AFCFileRefWrite(afc_, reference_, bytes, count), "AFCFileRefWrite",
                       __LINE__);
}

bool AFCFileReference::writeNSData(const foundation::Data& data) {
    return writeNBytes(data.size(), data.data());
}

bool AFCFileReference::setFileSize(std::uint64_t size) {
    if (!checkOpen()) return false;
    return checkStatus(md::AFCFileRefSetFileSize(afc_, reference_, size), "AFCFileRefSetFileSize",
                       __LINE__);
}

bool AFCFileReference::lock(int* status) {
    const int result = reference_ == 0 ? kNotOpenStatus
                                       : static_cast<int>(md::AFCFileRefLock(afc_, reference_, true));
    if (status) *status = result;
    return result == 0;
}

bool AFCFileReference::unlock(int* status) {
    const int result =
        reference_ == 0 ? kNotOpenStatus : static_cast<int>(md::AFCFileRefUnlock(afc_, reference_));
    if (status) *status = result;
    return result == 0;
}
