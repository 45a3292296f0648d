#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkWindow GtkWindow;

// Presents the page's script panels for a web window. Each answer arrives once, through
// the completion; the page waits for it.
class WebviewPanels {
public:
    virtual ~WebviewPanels() = default;
    virtual void alert(GtkWindow* window, const std::string& message,
                       std::function<void()> done) = 0;
    virtual void confirm(GtkWindow* window, const std::string& message,
                         std::function<void(bool)> done) = 0;
    // The text when confirmed, nullopt when cancelled.
    virtual void prompt(GtkWindow* window, const std::string& message,
                        const std::string& defaultText,
                        std::function<void(std::optional<std::string>)> done) = 0;
    // The chosen files, nullopt when cancelled.
    virtual void openFiles(GtkWindow* window, bool multiple,
                           std::function<void(std::optional<std::vector<std::string>>)> done) = 0;
};
