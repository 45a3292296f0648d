#include "data/ZipHelper/ZipHelper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

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

// The entry's name as stored (no code-page conversion); empty when there is none.
std::string entryName(zip_t* archive, std::uint64_t index) {
    const char* name = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    return name ? std::string(name) : std::string();
}

void setModificationDate(const fs::path& path, std::time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) LogInfo("Failed to set attributes");
}

// An archive without entries: only the end-of-central-directory record. libzip writes no
// file at all for one.
const foundation::Data& emptyArchive() {
    static const foundation::Data bytes = [] {
        foundation::Data record(22, 0);
        const std::uint8_t signature[4] = {'P', 'K', 5, 6};
        std::memcpy(record.data(), signature, sizeof signature);
        return record;
    }();
    return bytes;
}

}  // namespace

ZipHelper::~ZipHelper() {
    if (writer_) zip_discard(writer_);
    UnzipCloseFile();
}

std::optional<foundation::Data> ZipHelper::ungzip(std::span<const std::uint8_t> data) {
    return ziphelper::inflateGzipMember(data);
}

bool ZipHelper::CreateZipFile2(const std::string& path) {
    return CreateZipFile2(path, std::string());
}

bool ZipHelper::CreateZipFile2(const std::string& path, const std::string& password) {
    if (writer_) CloseZipFile2();
    int error = 0;
    writer_ = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!writer_) {
        LogInfo("cannot create the zip file {}: libzip error {}", path, error);
        return false;
    }
    writerPath_ = path;
    writerPassword_ = password;
    return true;
}

bool ZipHelper::addFileToZipNewname(const std::string& file, const std::string& newname) {
    if (!writer_) return false;
    // The file is read when the archive is written; one that cannot be read now is refused
    // here rather than failing the whole archive then.
    struct stat status {};
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const bool readable = fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (fd >= 0) ::close(fd);
    if (!readable) return false;

    zip_source_t* source = zip_source_file(writer_, file.c_str(), 0, -1);
    if (!source) return false;
    const zip_int64_t index = zip_file_add(writer_, newname.c_str(), source, ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(source);
        return false;
    }
    // The entry's date comes from the file. Setting it here instead would make libzip 1.7
    // derive the password check byte from another time, and no reader would take the password.
    if (!writerPassword_.empty() &&
        zip_file_set_encryption(writer_, static_cast<zip_uint64_t>(index), ZIP_EM_TRAD_PKWARE,
                                writerPassword_.c_str()) != 0) {
        zip_delete(writer_, static_cast<zip_uint64_t>(index));
        return false;
    }
    return true;
}

bool ZipHelper::CloseZipFile2() {
    if (!writer_) return false;
    zip_t* archive = writer_;
    writer_ = nullptr;
    if (zip_get_num_entries(archive, 0) == 0) {
        zip_discard(archive);
        return foundation::writeFileAtomically(writerPath_, emptyArchive());
    }
    if (zip_close(archive) != 0) {
        LogInfo("cannot write the zip file {}: {}", writerPath_, zip_strerror(archive));
        zip_discard(archive);
        return false;
    }
    return true;
}

bool ZipHelper::UnzipOpenFile(const std::string& path) {
    if (reader_) zip_discard(reader_);
    int error = 0;
    reader_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!reader_) return false;
    LogInfo("{} entries in the zip file", zip_get_num_entries(reader_, 0));
    return true;
}

bool ZipHelper::UnzipOpenFile(const std::string& path, const std::string& password) {
    password_ = password;
    return UnzipOpenFile(path);
}

zip_file* ZipHelper::openEntry(std::uint64_t index) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(reader_, index, 0, &stat) != 0) return nullptr;
    // Asked to open an entry of a method it lacks, libzip 1.7 fails but leaks what it set up.
    if (((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
         !zip_encryption_method_supported(stat.encryption_method, 0)) ||
        ((stat.valid & ZIP_STAT_COMP_METHOD) &&
         !zip_compression_method_supported(stat.comp_method, 0))) {
        return nullptr;
    }
    // Only enciphered entries take the password.
    const bool enciphered =
        (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
    if (enciphered) {
        return zip_fopen_index_encrypted(reader_, index, 0,
                                         password_ ? password_->c_str() : nullptr);
    }
    return zip_fopen_index(reader_, index, 0);
}

template <typename Sink>
bool ZipHelper::readEntry(zip_file* entry, Sink&& sink) {
    std::array<std::uint8_t, kReadStep> buffer{};
    bool good = true;
    for (;;) {
        // libzip checks the CRC when the end of the entry is read.
        const zip_int64_t got = zip_fread(entry, buffer.data(), buffer.size());
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
    return zip_fclose(entry) == 0 && good;
}

bool ZipHelper::extractEntry(std::uint64_t index, const std::string& folder, bool overwrite,
                             bool& failed) {
    const std::string name = entryName(reader_, index);
    if (name.empty()) {
        OutputErrorMessage("Error occurs while getting file info");
        return false;
    }
    const auto relative = relativeEntryPath(name);
    if (!relative) {
        OutputErrorMessage("Refused an entry outside the destination folder: " + name);
        failed = true;
        return true;
    }
    const bool isFolder = name.back() == '/' || name.back() == '\\';
    const fs::path target = fs::path(folder) / *relative;
    std::error_code failure;
    fs::create_directories(isFolder ? target : target.parent_path(), failure);
    if (isFolder) return true;
    if (fs::exists(target, failure) && !overwrite && !OverWrite(target.string())) return true;

    zip_file* entry = openEntry(index);
    if (!entry) {
        OutputErrorMessage("Error occurs");
        return false;
    }
    // The entry goes to a temporary file beside the target, which replaces the target only
    // when the entry was read whole and its CRC matched.
    std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        OutputErrorMessage("Failed to write " + target.string());
        zip_fclose(entry);
        failed = true;
        return true;
    }
    bool writeFailed = false;
    const bool readWhole = readEntry(entry, [&](const std::uint8_t* bytes, std::size_t length) {
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
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(reader_, index, 0, &stat) == 0 && (stat.valid & ZIP_STAT_MTIME)) {
        setModificationDate(target, stat.mtime);
    }
    return true;
}

bool ZipHelper::UnzipFileToOverWrite(const std::string& folder, bool overwrite) {
    const zip_int64_t count = reader_ ? zip_get_num_entries(reader_, 0) : -1;
    if (count <= 0) {
        OutputErrorMessage("Failed");
        return false;
    }
    bool everyEntry = true;
    for (zip_int64_t index = 0; index < count; ++index) {
        bool skipped = false;
        if (!extractEntry(static_cast<std::uint64_t>(index), folder, overwrite, skipped))
            return false;
        if (skipped) everyEntry = false;
    }
    return everyEntry;
}

std::optional<foundation::Data> ZipHelper::UnzipFileByName(const std::string& name) {
    const zip_int64_t count = reader_ ? zip_get_num_entries(reader_, 0) : 0;
    for (zip_int64_t index = 0; index < count; ++index) {
        std::string entry = entryName(reader_, static_cast<std::uint64_t>(index));
        std::replace(entry.begin(), entry.end(), '\\', '/');
        if (entry != name) continue;
        zip_stat_t stat;
        zip_stat_init(&stat);
        zip_stat_index(reader_, static_cast<std::uint64_t>(index), 0, &stat);
        zip_file* opened = openEntry(static_cast<std::uint64_t>(index));
        if (!opened) return std::nullopt;
        foundation::Data data;
        // The stated size is only a hint: it comes from the archive.
        if (stat.valid & ZIP_STAT_SIZE) {
            data.reserve(static_cast<std::size_t>(std::min<zip_uint64_t>(stat.size, 1 << 26)));
        }
        const bool whole = readEntry(opened, [&](const std::uint8_t* bytes, std::size_t length) {
            data.insert(data.end(), bytes, bytes + length);
            return true;
        });
        if (!whole) {
            OutputErrorMessage("Failed to reading zip file");
            return std::nullopt;
        }
        return data;
    }
    return std::nullopt;
}

bool ZipHelper::UnzipCloseFile() {
    password_.reset();
    if (!reader_) return true;
    // Nothing was changed, so nothing is written; discarding only frees.
    zip_discard(reader_);
    reader_ = nullptr;
    return true;
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
