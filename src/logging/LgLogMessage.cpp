#include "logging/LgLogMessage.h"

#include "foundation/QueueLabel.h"
#include "logging/LgThreadIdentity.h"

namespace {

std::string_view fileNameWithoutExtension(std::string_view path) {
    const auto slash = path.find_last_of('/');
    std::string_view component = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = component.find_last_of('.');
    if (dot != std::string_view::npos) component = component.substr(0, dot);
    return component;
}

}  // namespace

std::string LgExtractFileNameWithoutExtension(std::string_view path) {
    return std::string(fileNameWithoutExtension(path));
}

LgLogMessage::LgLogMessage(std::string message, std::uint64_t level, std::uint64_t flag,
                           std::int64_t context, std::uint64_t line, std::any tag,
                           std::int64_t options, std::optional<Clock::time_point> timestamp)
    : message_(std::move(message)),
      level_(level),
      flag_(flag),
      context_(context),
      line_(line),
      representedObject_(std::move(tag)),
      options_(options),
      timestamp_(timestamp.value_or(Clock::now())),
      threadID_(LgThreadIdentity::current().id),
      threadName_(LgThreadIdentity::current().name),
      queueLabel_(foundation::QueueLabel::current()),
      // Linux threads have no quality-of-service class: 0 is "unspecified".
      qos_(0) {}

LgLogMessage::LgLogMessage(std::string message, std::uint64_t level, std::uint64_t flag,
                           std::int64_t context, std::string file, std::string function,
                           std::uint64_t line, std::any tag, std::int64_t options,
                           std::optional<Clock::time_point> timestamp)
    : LgLogMessage(std::move(message), level, flag, context, line, std::move(tag), options,
                   timestamp) {
    ownedSource_ =
        std::make_shared<const OwnedSource>(OwnedSource{std::move(file), std::move(function)});
    file_ = ownedSource_->file;
    function_ = ownedSource_->function;
}

LgLogMessage::LgLogMessage(std::string message, std::uint64_t level, std::uint64_t flag,
                           std::int64_t context, SourceLiterals source, std::uint64_t line,
                           std::any tag, std::int64_t options,
                           std::optional<Clock::time_point> timestamp)
    : LgLogMessage(std::move(message), level, flag, context, line, std::move(tag), options,
                   timestamp) {
    file_ = source.file ? source.file : "";
    function_ = source.function ? source.function : "";
}

std::string_view LgLogMessage::fileName() const {
    return fileNameWithoutExtension(file());
}
