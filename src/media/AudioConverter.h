#pragma once

#include <functional>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace media {

// Reads an audio file's tag information and exports audio as M4A (AAC): a whole file, or
// a time range of it with a new title, which is how a ringtone is cut. A source is a file
// path, or a URL when the text contains "://": "myapp" URLs are read through the content
// server, "http" and "https" ones through the HTTP client, whole into memory and at most
// MyAssetLoaderDelegate::kMaxContentLength bytes; other schemes are refused. The class
// operations run on the calling thread.
//
// An export writes a scratch file beside the destination and renames it over the
// destination only once it is complete, so a failed export leaves an earlier file as it
// was; a destination that is the file behind the source, whatever form the source takes,
// is refused. Only a failed range export logs (its status, then its error, as information).
class AudioConverter {
public:
    static constexpr const char* kErrorDomain = "AudioConverterErrorDomain";
    static constexpr const char* kRecoverySuggestionKey = "NSLocalizedRecoverySuggestion";

    // {"title" (when the source has one), "protected", "playable", "exportable",
    // "composable", "readable", "duration" (seconds)}; a source that cannot be read gives
    // every flag false and duration 0, a URL that cannot be loaded the empty dictionary.
    static foundation::Value getAudioTagInfoOfFile(const std::string& source);

    // The whole source, its metadata carried over.
    static bool convertToM4AError(const std::string& source, const std::string& destination,
                                  std::optional<foundation::Error>* error);

    // From `start` to `end` seconds (0: the end of the source). A non-empty title replaces
    // the source's title, when it has one, and only the common tags go with it; an empty
    // one keeps every tag. A negative start, an end that is neither 0 nor after the start,
    // and a start at or past the duration are refused.
    static bool convertToM4RStartEndWithTitleError(const std::string& source,
                                                   const std::string& destination, double start,
                                                   double end, const std::string& title,
                                                   std::optional<foundation::Error>* error);

    // Told once whether the export completed, and why not.
    using Completion =
        std::function<void(bool completed, const std::optional<foundation::Error>& error)>;
    // The range export above on the background pool: returns at once and calls `cb` there.
    void convertToM4RStartEndWithTitleCb(const std::string& source, const std::string& destination,
                                         double start, double end, const std::string& title,
                                         Completion cb) const;
};

}  // namespace media
