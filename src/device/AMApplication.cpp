#include "device/AMApplication.h"

#include <functional>

#include <fmt/format.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

using foundation::Value;

AMApplication::AMApplication(Value info) : info_(std::move(info)) {
    bundleid_ = info_["CFBundleIdentifier"].stringOr();
    const std::string* display = info_["CFBundleDisplayName"].string();
    if (display && !display->empty()) {
        appname_ = *display;
    } else if (const std::string* name = info_["CFBundleName"].string()) {
        appname_ = *name;
    } else if (const std::string* executable = info_["CFBundleExecutable"].string()) {
        appname_ = *executable;
    }
}

std::string AMApplication::appdir() const { return info_["Container"].stringOr(); }

Value AMApplication::valueForKey(const std::string& key) const {
    if (key == "appname") return appname_ ? Value(*appname_) : Value();
    if (key == "bundleid") return Value(bundleid_);
    return info_[key];
}

std::string AMApplication::description() const {
    return fmt::format("<AMApplication name={} id={}>", appname_.value_or("(null)"), bundleid_);
}

std::size_t AMApplication::hash() const { return std::hash<std::string>()(bundleid_); }

int AMApplication::compare(const AMApplication& other) const {
    if (!appname_ || !other.appname_) return appname_ ? 1 : (other.appname_ ? -1 : 0);
    // Full Unicode case folding, so that "Élan" and "élan" are the same name.
    const auto folded = icu::UnicodeString::fromUTF8(*appname_).caseCompare(
        icu::UnicodeString::fromUTF8(*other.appname_), U_FOLD_CASE_DEFAULT);
    return folded < 0 ? -1 : (folded > 0 ? 1 : 0);
}

bool AMApplication::fileSharingEnabled() const {
    return info_["UIFileSharingEnabled"].toBool().value_or(false);
}

bool AMApplication::isFromAppStore() const { return !info_["SignerIdentity"].isNil(); }
