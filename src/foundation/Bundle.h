#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace foundation {

// The application's bundle: a folder holding Info.plist and the resources the program
// reads (the resource pack, scripts). Installed, it is <prefix>/share/orvandel next to
// <prefix>/bin; in the build tree, <build>/bundle.
class Bundle {
public:
    // Reads <path>/Info.plist (any property-list form); a missing or unreadable file
    // gives an empty information dictionary.
    explicit Bundle(std::string path);

    // The main bundle: $ORVANDEL_BUNDLE_DIR when set, else <executable folder>/../share/
    // orvandel when that is a folder, else the build tree's bundle folder. Read anew on
    // every call.
    static Bundle mainBundle();
    static std::string mainBundlePath();

    const std::string& bundlePath() const { return path_; }
    const Dictionary& infoDictionary() const { return info_; }
    // Nil when the information dictionary has no such key.
    Value objectForInfoDictionaryKey(std::string_view key) const;
    // "<bundle>/<name>.<type>" (just <name> for an empty type) when a file is there.
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;

private:
    std::string path_;
    Dictionary info_;
};

}  // namespace foundation
