#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/UserDefaults.h"
#include "foundation/Value.h"

// The application's preferences: plain keys of the user defaults domain, each read and
// written through one getter and one setter; every write is saved at once. The shared
// instance applies the first-run rules when it is made. Class-level operations answer the
// folders the application uses and the values of the bundle's Info.plist.
class Settings {
public:
    // Over the given defaults; the first-run rules are not applied (see settings()).
    explicit Settings(foundation::UserDefaults& defaults);
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // The shared instance over the application's defaults, made once on first use (other
    // threads wait until its first-run rules are done) and never released.
    static Settings& settings();

    // First start (no stored "isFirstRun", or a stored true): restore the defaults and set
    // the first-run values. Every start: "avoidDuplicates" false.
    void SetDefaultsForFirstRun();
    void RestoreDefaults();

    bool isFirstRun() const;  // true when absent
    void setIsFirstRun(bool value);
    bool checkForUpdates() const;
    void setCheckForUpdates(bool value);
    std::int32_t slType() const;
    void setSlType(std::int32_t value);
    std::int32_t foType() const;
    void setFoType(std::int32_t value);
    bool pauseITunesPlaying() const;
    void setPauseITunesPlaying(bool value);
    // String getters give "" when the key has no value, the text of a stored number, and
    // "" for a stored value of any other kind.
    std::string customLocation() const;
    void setCustomLocation(const std::string& value);
    bool trackOrganized() const;
    void setTrackOrganized(bool value);
    bool copyMeta() const;
    void setCopyMeta(bool value);
    std::string transferDestinationPath() const;
    void setTransferDestinationPath(const std::string& value);
    std::string transferFilePattern() const;
    void setTransferFilePattern(const std::string& value);
    std::string transferPhotoPath() const;
    void setTransferPhotoPath(const std::string& value);
    std::string iTunesXMLFile() const;
    void setITunesXMLFile(const std::string& value);
    bool importToiTunes() const;
    void setImportToiTunes(bool value);
    bool addToPlaylist() const;
    void setAddToPlaylist(bool value);
    bool avoidDuplicates() const;
    void setAvoidDuplicates(bool value);
    bool hideExistingTracks() const;
    void setHideExistingTracks(bool value);
    bool metaTitle() const;
    void setMetaTitle(bool value);
    bool metaArtist() const;
    void setMetaArtist(bool value);
    bool metaAlbum() const;
    void setMetaAlbum(bool value);
    bool metaRating() const;
    void setMetaRating(bool value);
    bool metaPlaycount() const;
    void setMetaPlaycount(bool value);
    bool metaDiscNumber() const;
    void setMetaDiscNumber(bool value);
    bool metaAlbumArtist() const;
    void setMetaAlbumArtist(bool value);
    bool metaComposer() const;
    void setMetaComposer(bool value);
    bool metaComment() const;
    void setMetaComment(bool value);
    bool metaDescription() const;
    void setMetaDescription(bool value);
    bool metaLongDescription() const;
    void setMetaLongDescription(bool value);
    bool choosePlaylist() const;
    void setChoosePlaylist(bool value);
    // The stored object (nil when absent).
    foundation::Value defaultPlaylistName() const;
    void setDefaultPlaylistName(const foundation::Value& value);
    bool showWelcome() const;  // true when absent
    void setShowWelcome(bool value);

    // Where exports go, by "SaveLocationType": 0 the Music folder, 1 the home folder,
    // 2 the Desktop folder, otherwise "CustomLocation".
    std::string saveLocation() const;

    static std::string iTunesMusicPath();
    // Each of these is created with its parents when missing, and given even when that
    // fails.
    static std::string applicationSupportPath();
    static std::string appLibraryPath();
    static std::string iconsCachePath();
    // True when a folder is at the path afterwards; failures are written to the console.
    static bool ensureDirectory(const std::string& path);

    // Values of the bundle's Info.plist; nil (nullopt) when absent.
    static foundation::Value ValueFromBundle(std::string_view key);
    static std::optional<std::string> appName();
    static std::optional<std::string> appIdentifier();
    static std::optional<std::string> appVersion();
    static std::optional<std::string> appVersionString();
    static std::optional<std::string> appSparklecastURL();
    static std::optional<std::string> appSupportURL();
    static std::string appCompany();

    // Opens the company's web site ("CFBundleURLCompany") or a mail to its support
    // ("CFBundleEmailSupport") with `open` (the desktop's default application unless
    // given); false when there is nothing to open or it could not be opened.
    using URLOpener = std::function<bool(const std::string& url)>;
    static bool Website(const URLOpener& open = {});
    static bool Support(const URLOpener& open = {});
    // A message box of its own with the one button "OK", until it is answered.
    static void MsgBox(const std::string& message);

    // Paths for development runs; kept in memory only, and read by nothing of ours.
    const std::string& devLibraryFilePath() const { return devLibraryFilePath_; }
    void setDevLibraryFilePath(std::string path) { devLibraryFilePath_ = std::move(path); }
    const std::string& devDynamicFilePath() const { return devDynamicFilePath_; }
    void setDevDynamicFilePath(std::string path) { devDynamicFilePath_ = std::move(path); }
    const std::string& devLocationFilePath() const { return devLocationFilePath_; }
    void setDevLocationFilePath(std::string path) { devLocationFilePath_ = std::move(path); }

private:
    bool boolValue(std::string_view key) const;
    void storeBool(std::string_view key, bool value);
    std::string stringValue(std::string_view key) const;
    void store(std::string_view key, foundation::Value value);

    foundation::UserDefaults& defaults_;
    std::string devLibraryFilePath_;
    std::string devDynamicFilePath_;
    std::string devLocationFilePath_;
};
