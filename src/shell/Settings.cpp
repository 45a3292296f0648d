#include "shell/Settings.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "foundation/Bundle.h"
#include "foundation/Json.h"
#include "foundation/Paths.h"
#include "logging/Console.h"
#include "platform/gtk/Alert.h"
#include "platform/gtk/Workspace.h"

using foundation::Value;

namespace {

constexpr const char* kMetaKeys[] = {
    "metaTitle",     "metaArtist",      "metaAlbum",           "metaRating",
    "metaPlaycount", "metaDiscNumber",  "metaAlbumArtist",     "metaComposer",
    "metaComment",   "metaDescription", "metaLongDescription",
};

std::optional<std::string> bundleString(std::string_view key) {
    Value value = Settings::ValueFromBundle(key);
    if (const std::string* text = value.string()) return *text;
    return std::nullopt;
}

bool openWith(const Settings::URLOpener& open, const std::optional<std::string>& url) {
    if (!url || url->empty()) return false;
    return open ? open(*url) : gtk::Workspace::openURL(*url);
}

}  // namespace

Settings::Settings(foundation::UserDefaults& defaults) : defaults_(defaults) {}

Settings& Settings::settings() {
    static Settings& shared = []() -> Settings& {
        auto* made = new Settings(foundation::UserDefaults::standard());
        made->SetDefaultsForFirstRun();
        return *made;
    }();
    return shared;
}

void Settings::SetDefaultsForFirstRun() {
    const Value stored = defaults_.objectForKey("isFirstRun");
    if (!stored.isNil() && !defaults_.boolForKey("isFirstRun")) {
        setAvoidDuplicates(false);
        return;
    }
    RestoreDefaults();
    setIsFirstRun(false);
    setDefaultPlaylistName(appName() ? Value(*appName()) : Value());
    setTransferFilePattern("/$a/$b/$t");
    setAvoidDuplicates(false);
}

void Settings::RestoreDefaults() {
    setPauseITunesPlaying(true);
    setFoType(0);
    setSlType(0);
    setTransferFilePattern("/$a/$b/$n $t");
    setTransferDestinationPath(saveLocation());
    setChoosePlaylist(true);
    setImportToiTunes(true);
    setAddToPlaylist(true);
    setAvoidDuplicates(false);
    setHideExistingTracks(false);
    setCopyMeta(true);
    for (const char* key : kMetaKeys) storeBool(key, true);
}

bool Settings::boolValue(std::string_view key) const {
    return defaults_.boolForKey(key);
}

void Settings::storeBool(std::string_view key, bool value) {
    store(key, value);
}

void Settings::store(std::string_view key, Value value) {
    defaults_.setObject(key, std::move(value));
    defaults_.synchronize();
}

std::string Settings::stringValue(std::string_view key) const {
    const Value value = defaults_.objectForKey(key);
    if (const std::string* text = value.string()) return *text;
    if (const bool* flag = value.boolean()) return *flag ? "1" : "0";
    if (value.isNumber()) return foundation::json::write(value);
    return {};
}

bool Settings::isFirstRun() const {
    return defaults_.objectForKey("isFirstRun").isNil() || boolValue("isFirstRun");
}
void Settings::setIsFirstRun(bool value) {
    storeBool("isFirstRun", value);
}
bool Settings::checkForUpdates() const {
    return boolValue("AutoCheckForUpdates");
}
void Settings::setCheckForUpdates(bool value) {
    storeBool("AutoCheckForUpdates", value);
}
std::int32_t Settings::slType() const {
    return static_cast<std::int32_t>(defaults_.integerForKey("SaveLocationType"));
}
void Settings::setSlType(std::int32_t value) {
    store("SaveLocationType", value);
}
std::int32_t Settings::foType() const {
    return static_cast<std::int32_t>(defaults_.integerForKey("FileOptionType"));
}
void Settings::setFoType(std::int32_t value) {
    store("FileOptionType", value);
}
bool Settings::pauseITunesPlaying() const {
    return boolValue("PauseITunesWhilePlaying");
}
void Settings::setPauseITunesPlaying(bool value) {
    storeBool("PauseITunesWhilePlaying", value);
}
std::string Settings::customLocation() const {
    return stringValue("CustomLocation");
}
void Settings::setCustomLocation(const std::string& value) {
    store("CustomLocation", value);
}
bool Settings::trackOrganized() const {
    return boolValue("TrackOrganized");
}
void Settings::setTrackOrganized(bool value) {
    storeBool("TrackOrganized", value);
}
bool Settings::copyMeta() const {
    return boolValue("CopyMetaData");
}
void Settings::setCopyMeta(bool value) {
    storeBool("CopyMetaData", value);
}
std::string Settings::transferDestinationPath() const {
    return stringValue("transferDestinationPath");
}
void Settings::setTransferDestinationPath(const std::string& value) {
    store("transferDestinationPath", value);
}
std::string Settings::transferFilePattern() const {
    return stringValue("transferFilePattern");
}
void Settings::setTransferFilePattern(const std::string& value) {
    store("transferFilePattern", value);
}
std::string Settings::transferPhotoPath() const {
    return stringValue("transferPhotoPath");
}
void Settings::setTransferPhotoPath(const std::string& value) {
    store("transferPhotoPath", value);
}
std::string Settings::iTunesXMLFile() const {
    return stringValue("iTunesXMLFile");
}
void Settings::setITunesXMLFile(const std::string& value) {
    store("iTunesXMLFile", value);
}
bool Settings::importToiTunes() const {
    return boolValue("importToiTunes");
}
void Settings::setImportToiTunes(bool value) {
    storeBool("importToiTunes", value);
}
bool Settings::addToPlaylist() const {
    return boolValue("addToPlaylist");
}
void Settings::setAddToPlaylist(bool value) {
    storeBool("addToPlaylist", value);
}
bool Settings::avoidDuplicates() const {
    return boolValue("avoidDuplicates");
}
void Settings::setAvoidDuplicates(bool value) {
    storeBool("avoidDuplicates", value);
}
bool Settings::hideExistingTracks() const {
    return boolValue("hideExistingTracks");
}
void Settings::setHideExistingTracks(bool value) {
    storeBool("hideExistingTracks", value);
}
bool Settings::metaTitle() const {
    return boolValue("metaTitle");
}
void Settings::setMetaTitle(bool value) {
    storeBool("metaTitle", value);
}
bool Settings::metaArtist() const {
    return boolValue("metaArtist");
}
void Settings::setMetaArtist(bool value) {
    storeBool("metaArtist", value);
}
bool Settings::metaAlbum() const {
    return boolValue("metaAlbum");
}
void Settings::setMetaAlbum(bool value) {
    storeBool("metaAlbum", value);
}
bool Settings::metaRating() const {
    return boolValue("metaRating");
}
void Settings::setMetaRating(bool value) {
    storeBool("metaRating", value);
}
bool Settings::metaPlaycount() const {
    return boolValue("metaPlaycount");
}
void Settings::setMetaPlaycount(bool value) {
    storeBool("metaPlaycount", value);
}
bool Settings::metaDiscNumber() const {
    return boolValue("metaDiscNumber");
}
void Settings::setMetaDiscNumber(bool value) {
    storeBool("metaDiscNumber", value);
}
bool Settings::metaAlbumArtist() const {
    return boolValue("metaAlbumArtist");
}
void Settings::setMetaAlbumArtist(bool value) {
    storeBool("metaAlbumArtist", value);
}
bool Settings::metaComposer() const {
    return boolValue("metaComposer");
}
void Settings::setMetaComposer(bool value) {
    storeBool("metaComposer", value);
}
bool Settings::metaComment() const {
    return boolValue("metaComment");
}
void Settings::setMetaComment(bool value) {
    storeBool("metaComment", value);
}
bool Settings::metaDescription() const {
    return boolValue("metaDescription");
}
void Settings::setMetaDescription(bool value) {
    storeBool("metaDescription", value);
}
bool Settings::metaLongDescription() const {
    return boolValue("metaLongDescription");
}
void Settings::setMetaLongDescription(bool value) {
    storeBool("metaLongDescription", value);
}
bool Settings::choosePlaylist() const {
    return boolValue("choosePlaylist");
}
void Settings::setChoosePlaylist(bool value) {
    storeBool("choosePlaylist", value);
}
Value Settings::defaultPlaylistName() const {
    return defaults_.objectForKey("defaultPlaylistName");
}
void Settings::setDefaultPlaylistName(const Value& value) {
    store("defaultPlaylistName", value);
}
bool Settings::showWelcome() const {
    return defaults_.objectForKey("showWelcome").isNil() || boolValue("showWelcome");
}
void Settings::setShowWelcome(bool value) {
    storeBool("showWelcome", value);
}

std::string Settings::saveLocation() const {
    switch (slType()) {
        case 0:
            return iTunesMusicPath();
        case 1:
            return foundation::Paths::homeDir();
        case 2:
            return foundation::Paths::userDir("DESKTOP", "Desktop");
        default:
            return customLocation();
    }
}

std::string Settings::iTunesMusicPath() {
    return foundation::Paths::musicDir();
}

std::string Settings::applicationSupportPath() {
    std::string path = foundation::Paths::applicationSupportDir();
    ensureDirectory(path);
    return path;
}

std::string Settings::appLibraryPath() {
    std::string path = applicationSupportPath() + "/Library";
    ensureDirectory(path);
    return path;
}

std::string Settings::iconsCachePath() {
    std::string path = appLibraryPath() + "/Icons";
    ensureDirectory(path);
    return path;
}

bool Settings::ensureDirectory(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        ConsoleLog(fmt::format("A file with same name \"{}\" already exists.", path));
        return false;
    }
    std::string reason;
    if (foundation::Paths::ensureDirectory(path, &reason)) return true;
    ConsoleLog(fmt::format("Could not create folder \"{}\" ({})", path, reason));
    return false;
}

Value Settings::ValueFromBundle(std::string_view key) {
    return foundation::Bundle::mainBundle().objectForInfoDictionaryKey(key);
}

std::optional<std::string> Settings::appName() {
    return bundleString("CFBundleName");
}
std::optional<std::string> Settings::appIdentifier() {
    return bundleString("CFBundleIdentifier");
}
std::optional<std::string> Settings::appVersion() {
    return bundleString("CFBundleVersion");
}
std::optional<std::string> Settings::appVersionString() {
    return bundleString("CFBundleShortVersionString");
}
std::optional<std::string> Settings::appSparklecastURL() {
    return bundleString("SUFeedURL");
}
std::optional<std::string> Settings::appSupportURL() {
    return bundleString("CFBundleURLSupport");
}
std::string Settings::appCompany() {
    return "Brescorn";
}

bool Settings::Website(const URLOpener& open) {
    return openWith(open, bundleString("CFBundleURLCompany"));
}

bool Settings::Support(const URLOpener& open) {
    const auto address = bundleString("CFBundleEmailSupport");
    return openWith(open, address ? std::optional<std::string>("mailto:" + *address) : std::nullopt);
}

void Settings::MsgBox(const std::string& message) {
    gtk::Alert alert;
    alert.setMessageText(message);
    alert.addButton("OK");
    alert.runModal(nullptr);
}
