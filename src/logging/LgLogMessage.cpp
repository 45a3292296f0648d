#include "logging/LgLogMessage.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fmt/format.h>

#include "foundation/QueueLabel.h"

namespace {

std::string currentThreadID() {
    const long tid = syscall(SYS_gettid);
    if (tid <= 0) return "missing threadId";
    return fmt::format("{}", static_cast<unsigned long long>(tid));
}

std::string currentThreadName() {
    char name[32] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return {};
    return name;
}

}  // namespace

std::string LgExtractFileNameWithoutExtension(std::string_view path) {
    const auto slash = path.find_last_of('/');
    std::string_view component = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = component.find_last_of('.');
    if (dot != std::string_view::npos) component = component.substr(0, dot);
    return std::string(component);
}

LgLogMessage::LgLogMessage(std::string message, std::uint64_t level, std::uint64_t flag,
                           std::int64_t context, std::string file, std::string function,
                           std::uint64_t line, std::any tag, std::int64_t options,
                           std::optional<Clock::time_point> timestamp)
    : message_(std::move(message)),
      level_(level),
      flag_(flag),
      context_(context),
      file_(std::move(file)),
      fileName_(LgExtractFileNameWithoutExtension(file_)),
      function_(std::move(function)),
      line_(line),
      representedObject_(std::move(tag)),
      options_(options),
      timestamp_(timestamp.value_or(Clock::now())),
      threadID_(currentThreadID()),
      threadName_(currentThreadName()),
      queueLabel_(foundation::QueueLabel::current()),
      // Linux threads have no quality-of-service class: 0 is "unspecified".
      qos_(0) {}
