#pragma once

#include <functional>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

// What the "ringtone" event handler uses of the media layer's audio converter; the process
// entry fills it. The operations are synchronous and run on the calling thread.
struct AudioConverterService {
    // The tag dictionary of a file path or URL.
    std::function<foundation::Value(const std::string& source)> getAudioTagInfoOfFile;
    // The whole source into an M4A file.
    std::function<bool(const std::string& source, const std::string& destination,
                       std::optional<foundation::Error>* error)>
        convertToM4A;
    // A range of the source (end 0: to its end) with a title, into an M4A file.
    std::function<bool(const std::string& source, const std::string& destination, double start,
                       double end, const std::string& title,
                       std::optional<foundation::Error>* error)>
        convertToM4R;
};
