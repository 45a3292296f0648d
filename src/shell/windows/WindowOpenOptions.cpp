#include "shell/windows/WindowOpenOptions.h"

#include "shell/plugins/PageValues.h"

namespace {

void clearWhenFalse(const std::map<std::string, std::string>& query, const char* option,
                    std::uint64_t bit, std::uint64_t& mask) {
    auto it = query.find(option);
    if (it != query.end() && !textBoolValue(it->second)) mask &= ~bit;
}

bool flag(const std::map<std::string, std::string>& query, const char* option) {
    auto it = query.find(option);
    return it != query.end() && textBoolValue(it->second);
}

}  // namespace

WindowOpenOptions::Features WindowOpenOptions::featuresFromQuery(
    const std::map<std::string, std::string>& query) {
    auto number = [&](const char* option) {
        auto it = query.find(option);
        if (it == query.end()) return 0.0;
        // Single precision, as the browser keeps window features.
        return double(float(PageValues::doubleValue(foundation::Value(it->second)).value_or(0)));
    };
    Features features;
    features.x = number("left");
    features.y = number("top");
    features.width = number("width");
    features.height = number("height");
    features.resizable = flag(query, "resizable");
    return features;
}

bool textBoolValue(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i >= text.size()) return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

WindowOpenOptions WindowOpenOptions::read(const std::map<std::string, std::string>& query,
                                          const Features& features) {
    WindowOpenOptions options;
    std::uint64_t mask = gtk::Titled | gtk::Closable | gtk::Miniaturizable;
    if (features.resizable) mask |= gtk::Resizable;
    clearWhenFalse(query, "titled", gtk::Titled, mask);
    clearWhenFalse(query, "resizable", gtk::Resizable, mask);
    clearWhenFalse(query, "miniaturizable", gtk::Miniaturizable, mask);
    clearWhenFalse(query, "closable", gtk::Closable, mask);
    options.styleMask = mask;
    options.modal = flag(query, "modal");
    options.sheet = flag(query, "sheet");
    options.native = flag(query, "native");
    if (auto it = query.find("name"); it != query.end()) options.name = it->second;

    const double width = features.width == 0 ? 400 : features.width;
    const double height = features.height == 0 ? 300 : features.height;
    options.rect = {int(features.x), int(features.y), int(width), int(height)};
    return options;
}
