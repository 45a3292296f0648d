#include "shell/windows/AlertWebviewPanels.h"

#include <memory>

#include "platform/gtk/Alert.h"
#include "platform/gtk/FileChooser.h"

namespace {

std::shared_ptr<gtk::Alert> panel(const std::string& message,
                                  std::initializer_list<const char*> buttons) {
    auto alert = std::make_shared<gtk::Alert>();
    alert->setStyle(gtk::Alert::Style::Informational);
    alert->setInformativeText(message);
    for (const char* button : buttons) alert->addButton(button);
    return alert;
}

}  // namespace

void AlertWebviewPanels::alert(GtkWindow*, const std::string& message,
                               std::function<void()> done) {
    auto alert = panel(message, {"Close"});
    // Not attached to the window: the alert holds the whole application.
    alert->beginSheet(nullptr, [alert, done](int) {
        if (done) done();
    });
}

void AlertWebviewPanels::confirm(GtkWindow* window, const std::string& message,
                                 std::function<void(bool)> done) {
    auto alert = panel(message, {"OK", "Cancel"});
    alert->beginSheet(window, [alert, done](int button) {
        if (done) done(button == gtk::Alert::kFirstButton);
    });
}

void AlertWebviewPanels::prompt(GtkWindow* window, const std::string& message,
                                const std::string& defaultText,
                                std::function<void(std::optional<std::string>)> done) {
    auto alert = panel(message, {"OK", "Cancel"});
    alert->setTextField(defaultText, 300, 24);
    alert->beginSheet(window, [alert, done](int button) {
        if (!done) return;
        if (button == gtk::Alert::kFirstButton)
            done(alert->fieldText());
        else
            done(std::nullopt);
    });
}

void AlertWebviewPanels::openFiles(
    GtkWindow* window, bool multiple,
    std::function<void(std::optional<std::vector<std::string>>)> done) {
    gtk::FileChooser::Options options;
    options.multiple = multiple;
    gtk::FileChooser::begin(window, options, std::move(done));
}
