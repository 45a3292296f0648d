#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "logging/LgLogMessage.h"

// Reads this process's messages from the systemd journal as they arrive (those that
// libraries wrote there, not those our system-log and journal loggers sent) and
// hands them to the shared hub as records from the file "LgASLLogCapture". One capture
// per process: start() and stop() are class-level. Where the program is built without
// libsystemd, or the journal cannot be opened, start() says so on the console and nothing
// is captured.
class LgASLLogCapture {
public:
    // False when capturing cannot run here.
    static bool start();
    // Waits until the capture has ended. Not from a logger that the capture feeds.
    static void stop();

    // The flags that are captured; every flag up to verbose (31) at first.
    static std::uint64_t captureLevel();
    static void setCaptureLevel(std::uint64_t level);

    // Journal priority 0 to 2 is an error, 3 a warning, 4 an info, 5 debug, higher
    // verbose; no priority counts as an error.
    static std::uint64_t flagForPriority(std::optional<int> priority);

    // The record a journal entry becomes, read through `field` (a field's value by name):
    // none for an entry our own loggers sent, one above debug priority, or one whose flag
    // is not captured.
    using FieldReader = std::function<std::optional<std::string>(const char* name)>;
    static std::optional<LgLogMessage> recordForEntry(
        const FieldReader& field, std::optional<LgLogMessage::Clock::time_point> when);
};
