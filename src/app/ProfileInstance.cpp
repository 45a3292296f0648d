#include "app/ProfileInstance.h"

#include <glib.h>

#include <fmt/format.h>

#include <filesystem>
#include <system_error>

#include "foundation/Bundle.h"
#include "foundation/Paths.h"

namespace ProfileInstance {
namespace {

constexpr const char* kDefaultIdentifier = "com.orvandel.Orvandel";
constexpr const char* kLockName = "instance.lock";
// Hex digits of the folders' digest in the identifier: enough that profiles never share one.
constexpr std::size_t kMarkLength = 16;

std::string bundleIdentifier() {
    return foundation::Bundle::mainBundle().objectForInfoDictionaryKey("CFBundleIdentifier").stringOr();
}

std::vector<std::string> lockPaths(const std::vector<std::string>& folders) {
    std::vector<std::string> locks;
    for (const auto& folder : folders) locks.push_back(folder + "/" + kLockName);
    return locks;
}

}  // namespace

std::vector<std::string> folders() {
    using foundation::Paths;
    std::vector<std::string> made = {Paths::preferencesDir(), Paths::applicationSupportDir(),
                                     Paths::stateHome() + "/Orvandel", Paths::cachesDir()};
    for (auto& folder : made) {
        Paths::ensureDirectory(folder);
        // The same folder reached through a link is the same profile.
        std::error_code ignored;
        const auto canonical = std::filesystem::weakly_canonical(folder, ignored);
        if (!ignored) folder = canonical.string();
    }
    return made;
}

std::string applicationId(const std::string& bundleIdentifier,
                          const std::vector<std::string>& folders) {
    std::string joined;
    for (const auto& folder : folders) joined.append(folder).push_back('\n');
    gchar* digest = g_compute_checksum_for_string(G_CHECKSUM_SHA256, joined.c_str(),
                                                  gssize(joined.size()));
    const std::string mark = std::string(digest).substr(0, kMarkLength);
    g_free(digest);
    const std::string id = bundleIdentifier + ".Profile" + mark;
    return gtk::SingleInstance::isValidId(id)
               ? id
               : std::string(kDefaultIdentifier) + ".Profile" + mark;
}

gtk::SingleInstance::Claim claim(std::function<void()> activated) {
    const auto profile = folders();
    return gtk::SingleInstance::claim(applicationId(bundleIdentifier(), profile),
                                      lockPaths(profile), std::move(activated));
}

std::optional<long> holder() {
    for (const auto& path : lockPaths(folders())) {
        if (auto pid = gtk::SingleInstance::lockHolder(path)) return pid;
    }
    return std::nullopt;
}

std::string inUseMessage(std::optional<long> holder) {
    if (!holder) return "orvandel: this profile is in use by a running Orvandel\n";
    return fmt::format("orvandel: this profile is in use by a running Orvandel (process {})\n",
                       *holder);
}

}  // namespace ProfileInstance
