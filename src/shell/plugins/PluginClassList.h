#pragma once

#include <optional>

#include "shell/plugins/WVContextMenuPlugin.h"
#include "shell/plugins/WVPathDialogPlugin.h"
#include "shell/plugins/WVPluginBase.h"

// The page plugins every web window makes, in their fixed order. Classes that live in
// other layers (the local file-system plugin) or are not part of this build are handed in;
// an absent one is skipped and the others keep their places.
struct PluginClassList {
    std::optional<WVPluginBase::PluginClass> pathDialog =
        WVPathDialogPlugin::pluginClass();                     // "dialog"
    std::optional<WVPluginBase::PluginClass> localFilesystem;  // "fs"
    std::optional<WVPluginBase::PluginClass> contextMenu =
        WVContextMenuPlugin::pluginClass();                    // "contextmenu"

    // Appends "applog", "dialog", "fs", "wvevent", "userdefaults", "contextmenu" to the
    // process-wide list. Called once, at start-up.
    void addToPluginBase() const;
};
