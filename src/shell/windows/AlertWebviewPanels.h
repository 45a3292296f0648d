#pragma once

#include "shell/windows/WebviewPanels.h"

// The panels as message boxes and an open panel: the alert is application-modal with
// "Close"; confirm and prompt are attached to the window with "OK" and "Cancel", the prompt
// with a text field of 300 by 24 points; the open panel is attached to the window.
class AlertWebviewPanels : public WebviewPanels {
public:
    void alert(GtkWindow* window, const std::string& message, std::function<void()> done) override;
    void confirm(GtkWindow* window, const std::string& message,
                 std::function<void(bool)> done) override;
    void prompt(GtkWindow* window, const std::string& message, const std::string& defaultText,
                std::function<void(std::optional<std::string>)> done) override;
    void openFiles(GtkWindow* window, bool multiple,
                   std::function<void(std::optional<std::vector<std::string>>)> done) override;
};
