#include "logging/LgTTYLoggerColorProfile.h"

#include <fmt/format.h>

namespace {

constexpr LgTTYLoggerColorProfile::Rgb kBasicTable[16] = {
    {0, 0, 0},     {205, 0, 0},     {0, 205, 0},     {205, 205, 0},   {0, 0, 238}, {205, 0, 205},
    {0, 205, 205}, {229, 229, 229}, {127, 127, 127}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {92, 92, 255}, {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};
constexpr std::uint8_t kCubeLevels[6] = {0, 95, 135, 175, 215, 255};

std::string codeName(int index, bool use256Colors, bool foreground) {
    if (use256Colors) return fmt::format("{};5;{}m", foreground ? 38 : 48, index);
    const int base = foreground ? 30 : 40;
    return index < 8 ? fmt::format("{}m", base + index) : fmt::format("1;{}m", base + index - 8);
}

}  // namespace

LgTTYLoggerColorProfile::Rgb LgTTYLoggerColorProfile::tableColor(int index) {
    if (index < 16) return kBasicTable[index < 0 ? 0 : index];
    if (index < 232) {
        const int cube = index - 16;
        return {kCubeLevels[cube / 36], kCubeLevels[cube / 6 % 6], kCubeLevels[cube % 6]};
    }
    const auto gray = static_cast<std::uint8_t>(8 + 10 * (std::min(index, 255) - 232));
    return {gray, gray, gray};
}

int LgTTYLoggerColorProfile::nearestColorIndex(Rgb color, bool use256Colors) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < (use256Colors ? 256 : 16); ++i) {
        const Rgb entry = tableColor(i);
        const long dr = long{entry.red} - color.red, dg = long{entry.green} - color.green,
                   db = long{entry.blue} - color.blue;
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

LgTTYLoggerColorProfile::LgTTYLoggerColorProfile(std::optional<Rgb> foreground,
                                                 std::optional<Rgb> background, std::uint64_t mask,
                                                 std::int64_t context, bool use256Colors)
    : mask_(mask),
      context_(context),
      foreground_(foreground.value_or(Rgb{})),
      background_(background.value_or(Rgb{})) {
    if (foreground) {
        foregroundName_ =
            codeName(nearestColorIndex(*foreground, use256Colors), use256Colors, true);
        foregroundCode_ = "\033[" + foregroundName_;
    }
    if (background) {
        backgroundName_ =
            codeName(nearestColorIndex(*background, use256Colors), use256Colors, false);
        backgroundCode_ = "\033[" + backgroundName_;
    }
    if (foreground || background) resetCode_ = "\033[0m";
}

std::string LgTTYLoggerColorProfile::description() const {
    return fmt::format(
        "<LgTTYLoggerColorProfile: {} mask:{} ctxt:{} fg:{},{},{} bg:{},{},{} fgCode:{} "
        "bgCode:{}>",
        static_cast<const void*>(this), static_cast<int>(mask_), context_, foreground_.red,
        foreground_.green, foreground_.blue, background_.red, background_.green, background_.blue,
        foregroundName_, backgroundName_);
}
