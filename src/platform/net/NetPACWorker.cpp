#include "platform/net/NetPACWorker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "platform/net/NetPACScript.h"

extern char** environ;

namespace net {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* WorkerName = "orvandel-pac-worker";
// Time for the worker to start and set up its engine, beyond the script's own limit.
constexpr std::chrono::milliseconds StartAllowance(1000);
// The longest request a worker reads: a script of 4 MiB and its URL.
constexpr std::size_t MaximumRequestLength = 4 * 1024 * 1024 + 64 * 1024;
// How often the worker's memory is looked at while it runs, in milliseconds.
constexpr int MemoryCheckInterval = 5;
// The answer is a marker byte and the answer text.
constexpr std::size_t MaximumReplyLength = 1 + NetPACScript::MaximumAnswerLength;

int millisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Sends all of `bytes` before the deadline; false when the worker stops reading.
bool sendAll(int socket, const std::string& bytes, Clock::time_point deadline) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = ::send(socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n > 0) {
            at += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        pollfd ready{socket, POLLOUT, 0};
        int wait = millisecondsLeft(deadline);
        if (wait == 0 || ::poll(&ready, 1, wait) <= 0) return false;
    }
    return true;
}

// The worker's resident memory in bytes; 0 once it cannot be read.
long residentBytes(pid_t pid) {
    std::ifstream statm(fmt::format("/proc/{}/statm", pid));
    long total = 0, resident = 0;
    statm >> total >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Reads until the worker closes its end, at most `limit` bytes; false at the deadline or
// once the worker holds more memory than it may. The engine reserves far more address
// space than it uses, so the cap is on resident memory, looked at every few milliseconds.
bool receiveAll(int socket, pid_t pid, std::string& out, std::size_t limit,
                Clock::time_point deadline) {
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n == 0) return true;
        if (n > 0) {
            std::size_t room = limit - std::min(limit, out.size());
            out.append(buffer, std::min(static_cast<std::size_t>(n), room));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return true;
        if (residentBytes(pid) > NetPACWorker::MemoryLimit) return false;
        pollfd ready{socket, POLLIN, 0};
        int wait = std::min(millisecondsLeft(deadline), MemoryCheckInterval);
        if (wait == 0) return false;
        if (::poll(&ready, 1, wait) < 0 && errno != EINTR) return false;
    }
}

void reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool readAll(int fd, std::string& out, std::size_t limit) {
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || out.size() + static_cast<std::size_t>(n) > limit) return false;
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        at += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::string NetPACWorker::workerPath() {
    std::error_code ignored;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ignored);
    if (!self.empty()) {
        auto beside = self.parent_path() / WorkerName;
        if (::access(beside.c_str(), X_OK) == 0) return beside.string();
    }
#ifdef ORVANDEL_BUILD_BIN_DIR
    std::string built = std::string(ORVANDEL_BUILD_BIN_DIR) + "/" + WorkerName;
    if (::access(built.c_str(), X_OK) == 0) return built;
#endif
    return {};
}

std::optional<std::string> NetPACWorker::run(const std::string& script, const foundation::Url& url,
                                             std::chrono::duration<double> limit,
                                             std::string* error) {
    auto fail = [&](std::string why) -> std::optional<std::string> {
        if (error != nullptr) *error = std::move(why);
        return std::nullopt;
    };
    std::string path = workerPath();
    if (path.empty()) return fail("The proxy script worker was not found");
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return fail("The proxy script worker could not be started");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    char* argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    int spawned = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (spawned != 0) {
        ::close(ends[0]);
        return fail("The proxy script worker could not be started");
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);

    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(limit) + StartAllowance;
    std::string request = fmt::format("{}\n{}\n", limit.count(), url.toString()) + script;
    std::string reply;
    bool answered = sendAll(ends[0], request, deadline) && ::shutdown(ends[0], SHUT_WR) == 0 &&
                    receiveAll(ends[0], pid, reply, MaximumReplyLength, deadline);
    // Whatever the script is doing, it ends here.
    if (!answered) ::kill(pid, SIGKILL);
    reap(pid);
    ::close(ends[0]);
    if (!answered) return fail("The proxy script ran out of time or memory");
    if (reply.empty()) return fail("The proxy script ended without an answer");
    if (reply[0] == 'A') return reply.substr(1);
    return fail(reply.substr(1));
}

int NetPACWorker::serve(int in, int out) {
    auto answer = [&](char marker, const std::string& text) {
        writeAll(out, std::string(1, marker) + text);
        return 0;
    };
    std::string request;
    if (!readAll(in, request, MaximumRequestLength)) return answer('E', "The request is too long");
    auto firstLine = request.find('\n');
    auto secondLine =
        firstLine == std::string::npos ? std::string::npos : request.find('\n', firstLine + 1);
    if (secondLine == std::string::npos) return answer('E', "The request is malformed");
    double seconds = 0;
    auto [end, failed] = std::from_chars(request.data(), request.data() + firstLine, seconds);
    auto url = foundation::Url::parse(request.substr(firstLine + 1, secondLine - firstLine - 1));
    if (failed != std::errc() || end != request.data() + firstLine || !url || !(seconds > 0))
        return answer('E', "The request is malformed");
    std::string why;
    auto text = NetPACScript::answerForURL(request.substr(secondLine + 1), *url,
                                           std::chrono::duration<double>(seconds), &why);
    return text ? answer('A', *text) : answer('E', why);
}

}  // namespace net
