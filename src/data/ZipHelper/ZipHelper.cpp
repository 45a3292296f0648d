#include "data/ZipHelper/ZipHelper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "data/ZipHelper/GzipInflate.h"
#include "foundation/AtomicFile.h"
#include "logging/LogCall.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReadStep = 4096;
constexpr std::size_t kWritePiece = std::size_t{1} << 30;

// The folder-relative path of an entry, or nullopt when its name is absolute or leads out
// of the folder through "..".
std::optional<fs::path> relativeEntryPath(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name.front() == '/') return std::nullopt;
    fs::path relative;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        const std::string part = name.substr(start, end - start);
        if (part == "..") return std::nullopt;
        if (!part.empty() && part != ".") relative /= part;
        start = end + 1;
    }
    if (relative.empty()) return std::nullopt;
    return relative;
}

std::string currentEntryName(unzFile archive, unz_file_info64& info) {
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return {};
    }
    std::string name(info.size_filename, '\0');
    unzGetCurrentFileInfo64(archive, &info, name.data(), static_cast<uLong>(name.size()), nullptr,
                            0, nullptr, 0);
    return name;
}

void setModificationDate(const fs::path& path, const tm_unz& date) {
    std::tm local{};
    local.tm_sec = static_cast<int>(date.tm_sec);
    local.tm_min = static_cast<int>(date.tm_min);
    local.tm_hour = static_cast<int>(date.tm_hour);
    local.tm_mday = static_cast<int>(date.tm_mday);
    local.tm_mon = static_cast<int>(date.tm_mon);
    local.tm_year = static_cast<int>(date.tm_year) - 1900;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (seconds == -1 || utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        LogInfo("Failed to set attributes");
    }
}

}  // namespace

ZipHelper::~ZipHelper() {
    CloseZipFile2();
    UnzipCloseFile();
}

std::optional<foundation::Data> ZipHelper::ungzip(std::span<const std::uint8_t> data) {
    return ziphelper::inflateGzipMember(data);
}

bool ZipHelper::CreateZipFile2(const std::string& path) {
    if (zipFile_) zipClose(zipFile_, nullptr);
    zipFile_ = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    return zipFile_ != nullptr;
}

bool ZipHelper::CreateZipFile2(const std::string& path, const std::string& password) {
    if (password.empty()) return CreateZipFile2(path);
    // The system's minizip is built without encryption and would write such entries in
    // the clear; refuse rather than give the caller a false sense of secrecy.
    OutputErrorMessage("Enciphered zip entries are not supported");
    return false;
}

bool ZipHelper::addFileToZipNewname(const std::string& file, const std::string& newname) {
    if (!zipFile_) return false;
    const auto contents = foundation::readFile(file);
    struct stat status {};
    if (!contents || stat(file.c_str(), &status) != 0) return false;

    zip_fileinfo info{};
    std::tm local{};
    localtime_r(&status.st_mtime, &local);
    info.tmz_date = {static_cast<uInt>(local.tm_sec),  static_cast<uInt>(local.tm_min),
                     static_cast<uInt>(local.tm_hour), static_cast<uInt>(local.tm_mday),
                     static_cast<uInt>(local.tm_mon),  static_cast<uInt>(local.tm_year + 1900)};
    const int zip64 = contents->size() >= 0xFFFFFFFFu ? 1 : 0;
    if (zipOpenNewFileInZip64(zipFile_, newname.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, Z_DEFAULT_COMPRESSION, zip64) != ZIP_OK) {
        return false;
    }
    bool written = true;
    std::span<const std::uint8_t> rest(*contents);
    while (written && !rest.empty()) {
        const auto piece = rest.first(std::min(rest.size(), kWritePiece));
        written = zipWriteInFileInZip(zipFile_, piece.data(),
                                      static_cast<unsigned>(piece.size())) == ZIP_OK;
        rest = rest.subspan(piece.size());
    }
    return zipCloseFileInZip(zipFile_) == ZIP_OK && written;
}

bool ZipHelper::CloseZipFile2() {
    if (!zipFile_) return false;
    const bool closed = zipClose(zipFile_, nullptr) == ZIP_OK;
    zipFile_ = nullptr;
    return closed;
}

bool ZipHelper::UnzipOpenFile(const std::string& path) {
    if (unzFile_) unzClose(unzFile_);
    unzFile_ = unzOpen64(path.c_str());
    if (!unzFile_) return false;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(unzFile_, &global) == UNZ_OK) {
        LogInfo("{} entries in the zip file", global.number_entry);
    }
    return true;
}

bool ZipHelper::UnzipOpenFile(const std::string& path, const std::string& password) {
    password_ = password;
    return UnzipOpenFile(path);
}

bool ZipHelper::openCurrentEntry() {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(unzFile_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    // Bit 0 of the flags marks an enciphered entry; only those take the password.
    const bool enciphered = (info.flag & 1) != 0;
    const char* password = enciphered && password_ ? password_->c_str() : nullptr;
    return unzOpenCurrentFilePassword(unzFile_, password) == UNZ_OK;
}

template <typename Sink>
bool ZipHelper::readCurrentEntry(Sink&& sink) {
    std::array<std::uint8_t, kReadStep> buffer{};
    bool good = true;
    for (;;) {
        const int got = unzReadCurrentFile(unzFile_, buffer.data(), buffer.size());
        if (got < 0) {
            good = false;
            break;
        }
        if (got == 0) break;
        if (!sink(buffer.data(), static_cast<std::size_t>(got))) {
            good = false;
            break;
        }
    }
    // Closing checks the CRC of an entry that was read to its end.
    return unzCloseCurrentFile(unzFile_) == UNZ_OK && good;
}

bool ZipHelper::extractCurrentEntry(const std::string& folder, bool overwrite, bool& failed) {
    unz_file_info64 info{};
    const std::string name = currentEntryName(unzFile_, info);
    if (name.empty()) {
        OutputErrorMessage("Error occurs while getting file info");
        unzCloseCurrentFile(unzFile_);
        return false;
    }
    const auto relative = relativeEntryPath(name);
    if (!relative) {
        OutputErrorMessage("Refused an entry outside the destination folder: " + name);
        unzCloseCurrentFile(unzFile_);
        failed = true;
        return true;
    }
    const bool isFolder = name.back() == '/' || name.back() == '\\';
    const fs::path target = fs::path(folder) / *relative;
    std::error_code failure;
    fs::create_directories(isFolder ? target : target.parent_path(), failure);
    if (isFolder) {
        unzCloseCurrentFile(unzFile_);
        return true;
    }
    if (fs::exists(target, failure) && !overwrite && !OverWrite(target.string())) {
        unzCloseCurrentFile(unzFile_);
        return true;
    }

    // The entry goes to a temporary file beside the target, which replaces the target only
    // when the entry was read whole and its CRC matched.
    std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        OutputErrorMessage("Failed to write " + target.string());
        unzCloseCurrentFile(unzFile_);
        failed = true;
        return true;
    }
    bool writeFailed = false;
    const bool readWhole = readCurrentEntry([&](const std::uint8_t* bytes, std::size_t length) {
        while (length > 0) {
            const ssize_t done = ::write(fd, bytes, length);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) {
                writeFailed = true;
                return false;
            }
            bytes += done;
            length -= static_cast<std::size_t>(done);
        }
        return true;
    });
    fchmod(fd, 0644);
    const bool closed = ::close(fd) == 0;
    if (!readWhole || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        OutputErrorMessage(readWhole || writeFailed ? "Failed to write " + target.string()
                                                    : std::string("Failed to reading zip file"));
        failed = true;
        return true;
    }
    setModificationDate(target, info.tmu_date);
    return true;
}

bool ZipHelper::UnzipFileToOverWrite(const std::string& folder, bool overwrite) {
    if (!unzFile_ || unzGoToFirstFile(unzFile_) != UNZ_OK) {
        OutputErrorMessage("Failed");
        return false;
    }
    bool everyEntry = true;
    do {
        if (!openCurrentEntry()) {
            OutputErrorMessage("Error occurs");
            return false;
        }
        bool skipped = false;
        if (!extractCurrentEntry(folder, overwrite, skipped)) return false;
        if (skipped) everyEntry = false;
    } while (unzGoToNextFile(unzFile_) == UNZ_OK);
    return everyEntry;
}

std::optional<foundation::Data> ZipHelper::UnzipFileByName(const std::string& name) {
    if (!unzFile_ || unzGoToFirstFile(unzFile_) != UNZ_OK) return std::nullopt;
    do {
        unz_file_info64 info{};
        std::string entry = currentEntryName(unzFile_, info);
        std::replace(entry.begin(), entry.end(), '\\', '/');
        if (entry != name) continue;
        if (!openCurrentEntry()) return std::nullopt;
        foundation::Data data;
        // The stated size is only a hint: it comes from the archive.
        data.reserve(static_cast<std::size_t>(std::min<ZPOS64_T>(info.uncompressed_size, 1 << 26)));
        const bool whole = readCurrentEntry([&](const std::uint8_t* bytes, std::size_t length) {
            data.insert(data.end(), bytes, bytes + length);
            return true;
        });
        if (!whole) {
            OutputErrorMessage("Failed to reading zip file");
            return std::nullopt;
        }
        return data;
    } while (unzGoToNextFile(unzFile_) == UNZ_OK);
    return std::nullopt;
}

bool ZipHelper::UnzipCloseFile() {
    password_.reset();
    if (!unzFile_) return true;
    const bool closed = unzClose(unzFile_) == UNZ_OK;
    unzFile_ = nullptr;
    return closed;
}

void ZipHelper::OutputErrorMessage(const std::string& message) {
    if (delegate_) delegate_->ErrorMessage(message);
}

bool ZipHelper::OverWrite(const std::string& path) {
    return !delegate_ || delegate_->OverWriteOperation(path);
}

foundation::Date ZipHelper::Date1980() {
    std::tm local{};
    local.tm_mday = 1;
    local.tm_year = 80;
    local.tm_isdst = -1;
    return foundation::Date{static_cast<double>(std::mktime(&local))};
}

std::optional<foundation::Data> ZipHelper::zipdata(std::span<const std::uint8_t>) {
    return std::nullopt;
}

std::optional<foundation::Data> ZipHelper::unzipData(std::span<const std::uint8_t>) {
    return std::nullopt;
}
