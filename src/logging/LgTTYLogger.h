#pragma once

#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logging/LgAbstractLogger.h"
#include "logging/LgTTYLoggerColorProfile.h"

// Writes each record to standard error (or another descriptor) in one gathered write,
// optionally coloured by the first rule that matches the record's tag, else its flag and
// context. Colours are possible when "ConsoleColors" is "YES" or "TERM" names a colour
// terminal; "256" in "TERM" picks the 256-colour table.
class LgTTYLogger : public LgAbstractLogger {
public:
    using Rgb = LgTTYLoggerColorProfile::Rgb;

    static std::shared_ptr<LgTTYLogger> sharedInstance();
    explicit LgTTYLogger(int fd = STDERR_FILENO);

    void logMessage(const LgLogMessage& message) override;

    bool supportsColors() const { return supportsColors_; }
    bool uses256Colors() const { return use256Colors_; }

    // Reading waits for the logger's queue; changes take effect after earlier records.
    bool colorsEnabled();
    // Turning colours on with no rule set adds the defaults for errors and warnings.
    void setColorsEnabled(bool enabled);
    void setForegroundColor(std::optional<Rgb> foreground, std::optional<Rgb> background,
                            std::uint64_t mask, std::int64_t context = 0);
    // For records whose tag is this text.
    void setForegroundColorForTag(std::optional<Rgb> foreground, std::optional<Rgb> background,
                                  std::string tag);
    void clearColorsForFlag(std::uint64_t mask, std::int64_t context = 0);
    void clearColorsForTag(const std::string& tag);
    void clearAllColors();

private:
    struct Rule {
        std::optional<std::string> tag;
        LgTTYLoggerColorProfile profile;
    };

    std::string defaultLine(const LgLogMessage& message) const;
    const LgTTYLoggerColorProfile* profileFor(const LgLogMessage& message) const;

    const int fd_;
    const bool supportsColors_;
    const bool use256Colors_;
    const std::string applicationName_;
    const std::string processId_;

    // Only on the logger's queue.
    bool colorsEnabled_ = false;
    std::vector<Rule> rules_;
};
