#include "logging/LgLogFileManagerDefault.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fmt/format.h>

#include "foundation/Bundle.h"
#include "foundation/ConsolePrint.h"
#include "foundation/OperationQueue.h"
#include "foundation/Paths.h"

namespace {

constexpr int kMaximumCountedErrors = 5;

std::string join(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool endsWith(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string processName() {
    const char* name = program_invocation_short_name;
    return name ? name : "";
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

LgLogFileManagerDefault::LgLogFileManagerDefault(std::string logsDirectory)
    : logFileDateFormatter_(kLgLogFileNameDatePattern),
      logsDirectory_(logsDirectory.empty() ? defaultLogsDirectory() : std::move(logsDirectory)) {}

const std::string& LgLogFileManagerDefault::applicationName() {
    // Kept for the life of the process: pruning in the background may outlast main().
    static const std::string* const name = [] {
        std::string identifier =
            foundation::Bundle::mainBundle().objectForInfoDictionaryKey("CFBundleIdentifier")
                .stringOr();
        return new std::string(identifier.empty() ? processName() : identifier);
    }();
    return *name;
}

foundation::OperationQueue& LgLogFileManagerDefault::pruningQueue() {
    static auto* const queue = new foundation::OperationQueue("orvandel.logging.pruning", 2);
    return *queue;
}

void LgLogFileManagerDefault::waitForPruning() {
    pruningQueue().waitUntilAllOperationsAreFinished();
}

void LgLogFileManagerDefault::deleteOldLogFilesInBackground() {
    // The job prunes through a copy of the settings, so that it never outlives its manager.
    auto copy = std::make_shared<LgLogFileManagerDefault>(logsDirectory_);
    {
        std::lock_guard lock(mutex_);
        copy->maximumNumberOfLogFiles_ = maximumNumberOfLogFiles_;
        copy->logFilesDiskQuota_ = logFilesDiskQuota_;
        copy->lastCreatedPath_ = lastCreatedPath_;
    }
    pruningQueue().addOperation([copy] { copy->deleteOldLogFiles(); });
}

std::string LgLogFileManagerDefault::defaultLogsDirectory() {
    const std::string logs = foundation::Paths::logsDir();
    if (foundation::Paths::ensureDirectory(logs)) return join(logs, processName());
    return join(join(foundation::Paths::tempDir(), "Orvandel/Logs"), processName());
}

std::uint64_t LgLogFileManagerDefault::maximumNumberOfLogFiles() const {
    std::lock_guard lock(mutex_);
    return maximumNumberOfLogFiles_;
}

void LgLogFileManagerDefault::setMaximumNumberOfLogFiles(std::uint64_t count) {
    {
        std::lock_guard lock(mutex_);
        if (count == maximumNumberOfLogFiles_) return;
        maximumNumberOfLogFiles_ = count;
    }
    deleteOldLogFilesInBackground();
}

std::uint64_t LgLogFileManagerDefault::logFilesDiskQuota() const {
    std::lock_guard lock(mutex_);
    return logFilesDiskQuota_;
}

void LgLogFileManagerDefault::setLogFilesDiskQuota(std::uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        if (bytes == logFilesDiskQuota_) return;
        logFilesDiskQuota_ = bytes;
    }
    deleteOldLogFilesInBackground();
}

std::string LgLogFileManagerDefault::logsDirectory() {
    if (logsDirectory_.empty()) {
        throw foundation::NamedException("NSInternalInconsistencyException",
                                         "Directory must be set.");
    }
    std::string reason;
    if (!foundation::Paths::ensureDirectory(logsDirectory_, &reason)) {
        foundation::printToConsole("LgFileLogManagerDefault: Error creating logsDirectory: {}\n", reason);
    }
    return logsDirectory_;
}

bool LgLogFileManagerDefault::isLogFile(const std::string& fileName) const {
    // Earlier versions named the files after the process: those are still found and pruned.
    for (const std::string& owner : {applicationName(), processName()}) {
        const std::string prefix = owner + " ";
        if (!owner.empty() && fileName.size() > prefix.size() &&
            fileName.compare(0, prefix.size(), prefix) == 0 && endsWith(fileName, ".log")) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> LgLogFileManagerDefault::unsortedLogFileNames() {
    std::vector<std::string> names;
    DIR* folder = opendir(logsDirectory().c_str());
    if (folder == nullptr) return names;
    while (const dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (isLogFile(name)) names.push_back(std::move(name));
    }
    closedir(folder);
    return names;
}

std::vector<std::string> LgLogFileManagerDefault::unsortedLogFilePaths() {
    const std::string folder = logsDirectory();
    std::vector<std::string> paths;
    for (const auto& name : unsortedLogFileNames()) paths.push_back(join(folder, name));
    return paths;
}

std::vector<std::shared_ptr<LgLogFileInfo>> LgLogFileManagerDefault::unsortedLogFileInfos() {
    std::vector<std::shared_ptr<LgLogFileInfo>> infos;
    for (const auto& path : unsortedLogFilePaths())
        infos.push_back(LgLogFileInfo::logFileWithPath(path));
    return infos;
}

std::vector<std::shared_ptr<LgLogFileInfo>> LgLogFileManagerDefault::sortedLogFileInfos() {
    struct Keyed {
        LgDateFormatter::Clock::time_point date;
        std::shared_ptr<LgLogFileInfo> info;
    };
    const auto now = LgDateFormatter::Clock::now();
    std::vector<Keyed> keyed;
    for (auto& info : unsortedLogFileInfos()) {
        // The time in the name, which no copy or touch changes; a clash name (" 2") has
        // none and falls back to the file's own creation date.
        const std::string& name = info->fileName();
        const auto space = name.find_last_of(' ');
        std::string piece = name.substr(space + 1);
        for (auto at = piece.find(".log"); at != std::string::npos; at = piece.find(".log")) {
            piece.erase(at, 4);
        }
        auto date = logFileDateFormatter_.parse(piece);
        if (!date) date = info->creationDate();
        keyed.push_back({date.value_or(now), std::move(info)});
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& a, const Keyed& b) { return a.date > b.date; });
    std::vector<std::shared_ptr<LgLogFileInfo>> infos;
    for (auto& entry : keyed) infos.push_back(std::move(entry.info));
    return infos;
}

std::vector<std::string> LgLogFileManagerDefault::sortedLogFilePaths() {
    std::vector<std::string> paths;
    for (const auto& info : sortedLogFileInfos()) paths.push_back(info->filePath());
    return paths;
}

std::vector<std::string> LgLogFileManagerDefault::sortedLogFileNames() {
    std::vector<std::string> names;
    for (const auto& info : sortedLogFileInfos()) names.push_back(info->fileName());
    return names;
}

std::string LgLogFileManagerDefault::newLogFileName() const {
    return fmt::format("{} {}.log", applicationName(),
                       logFileDateFormatter_.format(LgDateFormatter::Clock::now()));
}

std::string LgLogFileManagerDefault::logFileHeaderData() const {
    std::string header = logFileHeader();
    if (!header.empty() && header.back() != '\n') header += '\n';
    return header;
}

// Never replaces an existing file: an empty file is made with O_EXCL, a header goes to a
// temporary file that is then linked in under the name (link refuses an existing name).
bool LgLogFileManagerDefault::createFile(const std::string& path, const std::string& header,
                                         int* error) const {
    if (header.empty()) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            *error = errno;
            return false;
        }
        ::close(fd);
        return true;
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        *error = errno;
        return false;
    }
    bool written = writeAll(fd, header) && ::fsync(fd) == 0;
    if (!written) *error = errno;
    ::close(fd);
    if (written && ::link(temporary.c_str(), path.c_str()) != 0) {
        *error = errno;
        written = false;
    }
    ::unlink(temporary.c_str());
    return written;
}

std::optional<std::string> LgLogFileManagerDefault::createNewLogFileWithError(
    foundation::Error* error) {
    const std::string fileName = newLogFileName();
    const std::string folder = logsDirectory();
    const std::string header = logFileHeaderData();
    const auto dot = fileName.rfind(".log");
    const std::string stem = fileName.substr(0, dot);

    int countedErrors = 0;
    for (unsigned long attempt = 1;;) {
        const std::string name = attempt == 1 ? fileName : fmt::format("{} {}.log", stem, attempt);
        const std::string path = join(folder, name);
        int failure = 0;
        if (createFile(path, header, &failure)) {
            {
                std::lock_guard lock(mutex_);
                lastCreatedPath_ = path;
            }
            deleteOldLogFilesInBackground();
            return path;
        }
        if (failure == EEXIST) {
            ++attempt;
            continue;
        }
        ++countedErrors;
        foundation::printToConsole("LgLogFileManagerDefault: Critical error while creating log file: {}: {}\n",
                   path, std::strerror(failure));
        if (countedErrors >= kMaximumCountedErrors) {
            foundation::printToConsole("LgLogFileManagerDefault: Bailing file creation, encountered {} errors.\n",
                       countedErrors);
            if (error) {
                *error = foundation::Error{"NSPOSIXErrorDomain",
                                           failure,
                                           fmt::format("{}: {}", path, std::strerror(failure)),
                                           {}};
            }
            return std::nullopt;
        }
    }
}

void LgLogFileManagerDefault::deleteOldLogFiles() {
    std::uint64_t maximumCount, quota;
    std::string beingWritten;
    {
        std::lock_guard lock(mutex_);
        maximumCount = maximumNumberOfLogFiles_;
        quota = logFilesDiskQuota_;
        beingWritten = lastCreatedPath_;
    }
    if (maximumCount == 0 && quota == 0) return;

    const auto files = sortedLogFileInfos();
    std::optional<std::size_t> cut;
    if (quota > 0) {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            total += files[i]->fileSize();
            if (total > quota) {
                cut = i;
                break;
            }
        }
    }
    if (maximumCount > 0) {
        const auto byCount =
            static_cast<std::size_t>(std::min<std::uint64_t>(maximumCount, files.size()));
        cut = cut ? std::min(*cut, byCount) : byCount;
    }
    if (!cut) return;
    // The newest file is being written unless it was archived.
    if (*cut == 0 && !files.empty() && !files.front()->isArchived()) cut = 1;

    for (std::size_t i = *cut; i < files.size(); ++i) {
        const auto& file = files[i];
        if (file->filePath() == beingWritten && !file->isArchived()) continue;
        if (std::remove(file->filePath().c_str()) != 0 && errno != ENOENT) {
            foundation::printToConsole("LgLogFileManagerDefault: Error deleting file {}: {}\n",
                       file->filePath(), std::strerror(errno));
        }
    }
}
