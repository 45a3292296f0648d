#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One colour rule of the console logger: a foreground and a background colour, with the
// terminal codes that select them, for records of a flag mask and context, or of a tag.
class LgTTYLoggerColorProfile {
public:
    struct Rgb {
        std::uint8_t red = 0, green = 0, blue = 0;
        bool operator==(const Rgb&) const = default;
    };

    // 256 entries when `use256Colors`, else the 16 of the basic table. No colour: no code.
    LgTTYLoggerColorProfile(std::optional<Rgb> foreground, std::optional<Rgb> background,
                            std::uint64_t mask, std::int64_t context, bool use256Colors);

    // The index of the table entry nearest to `color`.
    static int nearestColorIndex(Rgb color, bool use256Colors);
    static Rgb tableColor(int index);

    std::uint64_t mask() const { return mask_; }
    std::int64_t context() const { return context_; }
    // Complete escape sequences; empty when that colour is not set.
    const std::string& foregroundCode() const { return foregroundCode_; }
    const std::string& backgroundCode() const { return backgroundCode_; }
    // What ends the coloured text; empty when neither colour is set.
    const std::string& resetCode() const { return resetCode_; }

    std::string description() const;

private:
    std::uint64_t mask_;
    std::int64_t context_;
    Rgb foreground_, background_;
    std::string foregroundCode_, backgroundCode_, resetCode_;
    // Codes without the leading escape, as the description shows them.
    std::string foregroundName_, backgroundName_;
};
