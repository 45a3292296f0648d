#include "media/AudioConverter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <system_error>

#include <fmt/format.h>

#include "content/AppFetchHandler.h"
#include "content/ThreadPool.h"
#include "foundation/ProcessUmask.h"
#include "foundation/Url.h"
#include "logging/LogCall.h"
#include "media/MyAssetLoaderDelegate.h"
#include "platform/audio/AudioSource.h"
#include "platform/audio/M4AExporter.h"

using foundation::Value;

namespace media {

namespace {

// Tags that travel with a new title; the others (track numbers, tool names, ...) belong
// to the whole file.
constexpr const char* kCommonKeys[] = {"title",    "artist", "album",     "album_artist",
                                       "composer", "date",   "copyright", "description",
                                       "comment",  "genre",  "publisher", "language"};

foundation::Error makeError(std::int64_t code, std::string description,
                            std::string suggestion = {}) {
    Value userInfo;
    if (!suggestion.empty())
        userInfo = Value::dict({{AudioConverter::kRecoverySuggestionKey, suggestion}});
    return {AudioConverter::kErrorDomain, code, std::move(description), std::move(userInfo)};
}

void report(std::optional<foundation::Error>* out, foundation::Error error) {
    if (out) *out = std::move(error);
}

bool isURL(const std::string& source) {
    return source.find("://") != std::string::npos;
}

// The file a source is opened as: a path as it is, a "file" URL decoded; nullopt for the
// URLs read into memory.
std::optional<std::string> localPathOf(const std::string& source) {
    if (!isURL(source)) return source;
    const auto url = foundation::Url::parse(source);
    if (!url || url->scheme() != "file") return std::nullopt;
    return foundation::Url::percentDecode(url->path());
}

// The computer file whose content a source gives, whatever its form: also a "myapp" URL
// that the content server answers with a file of the computer.
std::optional<std::string> fileBehind(const std::string& source) {
    if (auto path = localPathOf(source)) return path;
    const auto url = foundation::Url::parse(source);
    return url ? content::AppFetchHandler::localFileOf(*url) : std::nullopt;
}

// The source opened: a file path, a "file" URL, or a URL read into memory. Reading the tag
// information (`urlUnreadable` given) logs nothing: a file that is no audio is an answer.
std::unique_ptr<audio::AudioSource> openSource(const std::string& source,
                                               std::optional<foundation::Error>* out,
                                               bool* urlUnreadable = nullptr) {
    auto fail = [&](foundation::Error error) {
        if (urlUnreadable) return;
        report(out, std::move(error));
    };
    std::string reason;
    std::unique_ptr<audio::AudioSource> opened;
    if (const auto path = localPathOf(source)) {
        opened = audio::AudioSource::openFile(*path, &reason);
    } else {
        foundation::Error loadError;
        auto bytes = MyAssetLoaderDelegate::contentsOfURL(source, &loadError);
        if (!bytes) {
            if (urlUnreadable) *urlUnreadable = true;
            fail(loadError);
            return nullptr;
        }
        opened = audio::AudioSource::openMemory(*bytes, &reason);
    }
    if (!opened)
        fail(makeError(1, fmt::format("The audio in \"{}\" cannot be read.", source), reason));
    return opened;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Where an export ended, numbered as the platform's export sessions number their states: a
// destination refused before any audio was written leaves the export unknown (never run).
enum ExportStatus : long {
    kExportUnknown = 0,
    kExportRunning = 2,
    kExportCompleted = 3,
    kExportFailed = 4
};

// Exports into a scratch file beside the destination and renames it into place.
bool exportTo(audio::AudioSource& source, const std::string& sourceText,
              const std::string& destination, audio::M4AExporter::Range range,
              const audio::AudioSource::Metadata& metadata, std::optional<foundation::Error>* out,
              ExportStatus* status) {
    *status = kExportUnknown;
    if (destination.empty()) {
        report(out, makeError(2, "No destination was given."));
        return false;
    }
    if (const auto path = fileBehind(sourceText); path && sameFile(*path, destination)) {
        report(out,
               makeError(3, "The destination is the source itself.", "Choose another file name."));
        return false;
    }
    std::string scratch = destination + ".XXXXXX";
    const int fd = mkstemp(scratch.data());
    if (fd < 0) {
        report(out, makeError(4, fmt::format("\"{}\" cannot be written.", destination),
                              std::error_code(errno, std::system_category()).message()));
        return false;
    }
    close(fd);
    std::string reason;
    *status = kExportRunning;
    if (!audio::M4AExporter::write(source, scratch, range, metadata, &reason)) {
        *status = kExportFailed;
        unlink(scratch.c_str());
        report(out, makeError(5, "The export failed.", reason));
        return false;
    }
    // mkstemp makes the file private; the result is an ordinary file of the user's.
    chmod(scratch.c_str(), foundation::modeForNewFile(0666));
    if (rename(scratch.c_str(), destination.c_str()) != 0) {
        const int code = errno;
        *status = kExportFailed;
        unlink(scratch.c_str());
        report(out, makeError(4, fmt::format("\"{}\" cannot be written.", destination),
                              std::error_code(code, std::system_category()).message()));
        return false;
    }
    *status = kExportCompleted;
    return true;
}

}  // namespace

Value AudioConverter::getAudioTagInfoOfFile(const std::string& source) {
    bool urlUnreadable = false;
    auto opened = openSource(source, nullptr, &urlUnreadable);
    if (urlUnreadable) return foundation::Dictionary{};
    Value info = foundation::Dictionary{};
    if (opened) {
        for (const auto& [key, value] : opened->metadata()) {
            if (key == "title") {
                info.set("title", value);
                break;
            }
        }
    }
    const bool readable = opened != nullptr;
    const bool playable = readable && opened->isPlayable();
    const bool isProtected = readable && opened->isProtected();
    info.set("protected", isProtected);
    info.set("playable", playable && !isProtected);
    info.set("exportable", playable && !isProtected);
    info.set("composable", playable && !isProtected);
    info.set("readable", readable);
    info.set("duration", readable ? opened->duration() : 0.0);
    return info;
}

bool AudioConverter::convertToM4AError(const std::string& source, const std::string& destination,
                                       std::optional<foundation::Error>* error) {
    try {
        auto opened = openSource(source, error);
        if (!opened) return false;
        ExportStatus status;
        return exportTo(*opened, source, destination, {}, opened->metadata(), error, &status);
    } catch (const std::exception& e) {
        report(error, makeError(5, "The export failed.", e.what()));
        return false;
    }
}

bool AudioConverter::convertToM4RStartEndWithTitleError(const std::string& source,
                                                        const std::string& destination,
                                                        double start, double end,
                                                        const std::string& title,
                                                        std::optional<foundation::Error>* error) {
    if (!std::isfinite(start) || !std::isfinite(end) || start < 0 || (end != 0 && end <= start)) {
        report(
            error,
            makeError(6, fmt::format("The range from {} to {} seconds is not valid.", start, end),
                      "The start must be 0 or more and the end 0 or after the start."));
        return false;
    }
    auto opened = openSource(source, error);
    if (!opened) return false;
    const double duration = opened->duration();
    if (duration > 0 && start >= duration) {
        report(error,
               makeError(6, fmt::format("The start at {} seconds is not within the audio.", start),
                         fmt::format("The audio lasts {:.1f} seconds.", duration)));
        return false;
    }

    // A new title replaces the source's; a source without one gets none.
    audio::AudioSource::Metadata metadata = opened->metadata();
    if (!title.empty()) {
        std::erase_if(metadata, [](const auto& item) {
            return std::none_of(std::begin(kCommonKeys), std::end(kCommonKeys),
                                [&](const char* key) { return item.first == key; });
        });
        for (auto& [key, value] : metadata) {
            if (key == "title") value = title;
        }
    }
    ExportStatus status;
    std::optional<foundation::Error> failure;
    if (!exportTo(*opened, source, destination, {start, end}, metadata, &failure, &status)) {
        LogInfo("export status: {}", static_cast<long>(status));
        if (failure) LogInfo("{}", failure->description());
        if (error) *error = std::move(failure);
        return false;
    }
    return true;
}

void AudioConverter::convertToM4RStartEndWithTitleCb(const std::string& source,
                                                     const std::string& destination, double start,
                                                     double end, const std::string& title,
                                                     Completion cb) const {
    ThreadPool::addAsyncJobWithBlock([=, cb = std::move(cb)] {
        std::optional<foundation::Error> error;
        bool completed = false;
        try {
            completed =
                convertToM4RStartEndWithTitleError(source, destination, start, end, title, &error);
        } catch (const std::exception& e) {
            error = makeError(5, "The export failed.", e.what());
        }
        if (cb) cb(completed, error);
    });
}

}  // namespace media
