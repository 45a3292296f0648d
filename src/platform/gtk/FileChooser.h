#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace gtk {

// The open and save panels, over GtkFileChooserDialog. Main thread only.
class FileChooser {
public:
    struct Options {
        bool save = false;
        std::optional<std::string> filename;  // save: the name offered
        bool folders = false;                 // open: choose folders instead of files
        bool multiple = false;                // open: several items
        std::optional<std::string> prompt;    // the default button's title
        std::optional<std::string> caption;   // the window title
        bool createFolders = false;
        // Allowed file-name extensions, matched in either letter case; empty allows all.
        std::vector<std::string> extensions;
    };

    // The chosen paths in the panel's order, or nullopt when it was cancelled.
    using Completion = std::function<void(std::optional<std::vector<std::string>>)>;

    // Shows the panel attached to `parent` (modal to it) and returns at once; `done` is
    // called once when the panel ends. Returns the dialog while it is shown.
    static GtkWidget* begin(GtkWindow* parent, const Options& options, Completion done);

    // The shell pattern that matches the extension in any letter case ("*.[mM][pP]3").
    static std::string caseInsensitivePattern(const std::string& extension);
};

}  // namespace gtk
