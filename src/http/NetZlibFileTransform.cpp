#include "http/NetZlibFileTransform.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "foundation/ProcessUmask.h"
#include "http/NetErrors.h"

namespace {

// Closes a descriptor and removes the temporary file unless it was kept.
class TemporaryOutput {
public:
    explicit TemporaryOutput(std::string path) : path_(std::move(path)) {
        fd_ = mkstemp(path_.data());
        created_ = fd_ >= 0;
    }
    ~TemporaryOutput() {
        if (fd_ >= 0) ::close(fd_);
        if (created_ && !kept_) ::unlink(path_.c_str());
    }
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;
    bool opened() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool commit(const std::string& destination) {
        // A new file gets the permissions an ordinary create would give it.
        fchmod(fd_, foundation::modeForNewFile(0666));
        bool ok = ::close(fd_) == 0;
        fd_ = -1;
        if (ok && ::rename(path_.c_str(), destination.c_str()) == 0) {
            kept_ = true;
            return true;
        }
        return false;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool kept_ = false;
};

bool writeAll(int fd, const foundation::Data& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void setError(foundation::Error* error, std::string message, int systemError = 0) {
    if (error == nullptr) return;
    *error = makeNetError(NetCompressionError, std::move(message));
    if (systemError != 0)
        error->userInfo.set("NSUnderlyingError", std::string(std::strerror(systemError)));
}

}  // namespace

bool netTransformFile(const std::string& sourcePath, const std::string& destinationPath,
                      const char* word, const std::optional<foundation::Error>& setupError,
                      const NetZlibChunkStep& step, foundation::Error* error) {
    TemporaryOutput output(destinationPath + ".partial-XXXXXX");
    if (!output.opened()) {
        setError(error,
                 fmt::format("{} of {} failed because we were to create a file at {}", word,
                             sourcePath, destinationPath),
                 errno);
        return false;
    }
    int source = ::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        int code = errno;
        if (code == ENOENT) {
            setError(error,
                     fmt::format("{} of {} failed the file does not exist", word, sourcePath));
        } else {
            setError(error,
                     fmt::format("{} of {} failed because we were unable to read from the source "
                                 "data file",
                                 word, sourcePath),
                     code);
        }
        return false;
    }
    struct SourceCloser {
        int fd;
        ~SourceCloser() { ::close(fd); }
    } closer{source};

    if (setupError) {
        if (error != nullptr) *error = *setupError;
        return false;
    }
    std::vector<std::uint8_t> buffer(NetZlibFileChunkSize);
    for (;;) {
        // Fill the whole chunk unless the file ends, so the chunk size alone tells the end.
        std::size_t filled = 0;
        while (filled < buffer.size()) {
            ssize_t n = ::read(source, buffer.data() + filled, buffer.size() - filled);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                setError(error,
                         fmt::format("{} of {} failed because we were unable to read from the "
                                     "source data file",
                                     word, sourcePath),
                         errno);
                return false;
            }
            if (n == 0) break;
            filled += static_cast<std::size_t>(n);
        }
        bool atEnd = filled == 0;
        auto produced = step(buffer.data(), filled, atEnd, error);
        if (!produced) return false;
        if (!writeAll(output.fd(), *produced)) {
            setError(error,
                     fmt::format("{} of {} failed because we were unable to write to the "
                                 "destination data file at {}",
                                 word, sourcePath, destinationPath),
                     errno);
            return false;
        }
        if (atEnd) break;
    }
    if (!output.commit(destinationPath)) {
        setError(error,
                 fmt::format("{} of {} failed because we were unable to write to the destination "
                             "data file at {}",
                             word, sourcePath, destinationPath),
                 errno);
        return false;
    }
    return true;
}
