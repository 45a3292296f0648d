#include "files/LocalFileContents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <system_error>

#include <fmt/format.h>

#include "files/RequestArguments.h"
#include "foundation/Base64.h"
#include "foundation/Error.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

std::string textOf(const Value& value) {
    const std::string* text = value.string();
    return text ? *text : std::string();
}

[[noreturn]] void raise(const std::string& what, const std::string& path) {
    throw foundation::NamedException(
        "NSFileHandleOperationException",
        fmt::format("{} \"{}\": {}", what, path,
                    std::error_code(errno, std::system_category()).message()));
}

// Closes the descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Characters outside the Base64 alphabet are skipped, as the page's text may carry line
// breaks; nullopt when what remains does not decode.
std::optional<foundation::Data> decodeLenient(const std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '+' || c == '/' || c == '=') {
            kept += c;
        }
    }
    return foundation::base64::decode(kept);
}

}  // namespace

namespace LocalFileContents {

Value readFile(const Value& request) {
    const std::string path = textOf(request["path"]);
    std::int64_t offset = RequestArguments::integer(request["offset"]).value_or(0);
    const std::int64_t length = RequestArguments::integer(request["length"]).value_or(0);
    if (length == 0) return failure("length must be specified.");
    if (length < -1) return failure("length must be -1 (to the end) or more.");

    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || fstat(file.get(), &info) != 0 || S_ISDIR(info.st_mode))
        return failure(fmt::format("Could not open file \"{}\"", path));

    const off_t end = lseek(file.get(), 0, SEEK_END);
    if (end < 0) raise("Cannot seek in", path);
    const std::int64_t size = end;
    // An offset before the start or past the end is held to the file.
    if (offset < 0) offset = size + offset < 0 ? 0 : size + offset;
    if (offset > size) offset = size;
    const std::int64_t wanted = length == -1 ? size - offset : std::min(length, size - offset);
    if (wanted > kMaxReadLength) {
        return failure(fmt::format("A read is limited to {} bytes; ask for the file in pieces.",
                                   kMaxReadLength));
    }

    foundation::Data data(static_cast<std::size_t>(wanted));
    std::size_t filled = 0;
    while (filled < data.size()) {
        ssize_t got = pread(file.get(), data.data() + filled, data.size() - filled,
                            static_cast<off_t>(offset + static_cast<std::int64_t>(filled)));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failure(fmt::format("Failed to read file: ({})", path));
        if (got == 0) break;  // the file shrank meanwhile
        filled += static_cast<std::size_t>(got);
    }
    data.resize(filled);
    return Value::dict({{"result", true},
                        {"data", Value::dict({{"bytes", foundation::base64::encode(data)},
                                              {"length", static_cast<std::int64_t>(filled)}})}});
}

Value writeFile(const Value& request) {
    const std::string path = textOf(request["path"]);
    const std::string* text = request["bytes"].string();
    std::optional<foundation::Data> bytes = text ? decodeLenient(*text) : std::nullopt;
    if (!bytes) return failure("Invalid data to be written.");

    // Append and create, never truncate: a file that cannot be opened stays as it is.
    Descriptor file(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (file.get() < 0)
        return failure(fmt::format("Could not open file \"{}\" for writing.", path));

    struct stat info {};
    if (fstat(file.get(), &info) != 0) raise("Cannot read the size of", path);
    std::size_t written = 0;
    while (written < bytes->size()) {
        ssize_t put = write(file.get(), bytes->data() + written, bytes->size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            const int code = errno;
            // Take back what part of the piece went in, so the file is as it was.
            if (S_ISREG(info.st_mode) && ftruncate(file.get(), info.st_size) != 0)
                LogWarn("fs: \"{}\" keeps a partly written piece", path);
            errno = code;
            raise("Cannot write to", path);
        }
        written += static_cast<std::size_t>(put);
    }
    return Value::dict({{"result", true}});
}

}  // namespace LocalFileContents
