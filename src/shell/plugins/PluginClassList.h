#pragma once

#include <optional>

#include "shell/plugins/WVPluginBase.h"

// The page plugins every web window makes, in their fixed order. Classes that live in
// other layers (the local file-system plugin) or are not part of this build are handed in;
// an absent one is skipped and the others keep their places.
struct PluginClassList {
    std::optional<WVPluginBase::PluginClass> pathDialog;       // "dialog"
    std::optional<WVPluginBase::PluginClass> localFilesystem;  // "fs"
    std::optional<WVPluginBase::PluginClass> contextMenu;      // "contextmenu"

    // Appends "applog", "dialog", "fs", "wvevent", "userdefaults", "contextmenu" to the
    // process-wide list. Called once, at start-up.
    void addToPluginBase() const;
};
