#pragma once

#include <string>

namespace foundation {

// The folders the program keeps its files in, after the XDG base-directory rules. Every
// call reads the environment anew; a variable holding a relative path counts as unset.
class Paths {
public:
    // $HOME, else the home folder of the user database.
    static std::string homeDir();
    static std::string configHome();  // $XDG_CONFIG_HOME, else ~/.config
    static std::string dataHome();    // $XDG_DATA_HOME, else ~/.local/share
    static std::string stateHome();   // $XDG_STATE_HOME, else ~/.local/state
    static std::string cacheHome();   // $XDG_CACHE_HOME, else ~/.cache
    static std::string musicDir();    // userDir("MUSIC", "Music")
    static std::string tempDir();     // $TMPDIR, else /tmp

    // A folder of the user's own ("MUSIC", "DOWNLOAD", "DOCUMENTS", "PICTURES", "DESKTOP",
    // "PUBLICSHARE"): $XDG_<NAME>_DIR, else its entry in <configHome>/user-dirs.dirs, else
    // ~/<fallback>.
    static std::string userDir(const std::string& name, const std::string& fallback);

    static std::string preferencesDir();         // <configHome>/Orvandel
    static std::string applicationSupportDir();  // <dataHome>/Orvandel
    static std::string logsDir();                // <stateHome>/Orvandel/Logs
    static std::string cachesDir();              // <cacheHome>/Orvandel

    // Creates the folder and any missing parents (mode 0700, private to the user).
    // True when a folder is there afterwards; false with a reason when the path is
    // empty, names something that is not a folder, or cannot be created.
    static bool ensureDirectory(const std::string& path, std::string* error = nullptr);
};

}  // namespace foundation
