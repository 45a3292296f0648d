#include "shell/AlertController.h"

#include <glib.h>

#include "foundation/UserDefaults.h"
#include "platform/gtk/Application.h"

namespace {

// Button codes 1000, 1001, 1002 as the classic alert answers them.
int classicCode(int code) {
    switch (code - gtk::Alert::kFirstButton) {
        case 0:
            return 1;
        case 1:
            return 0;
        default:
            return -1;
    }
}

bool isBlank(const std::optional<std::string>& key) {
    return !key || key->find_first_not_of(" \t") == std::string::npos;
}

std::shared_ptr<gtk::Alert> makeAlert(const std::string& message, const std::string& informative,
                                      std::initializer_list<const char*> buttons) {
    auto alert = std::make_shared<gtk::Alert>();
    alert->setMessageText(message);
    alert->setInformativeText(informative);
    for (const char* title : buttons) alert->addButton(title);
    return alert;
}

void storeCheckBox(const gtk::Alert& alert, const std::string& key) {
    auto& defaults = foundation::UserDefaults::standard();
    defaults.setBool(key, alert.suppressionChecked());
    defaults.synchronize();
}

}  // namespace

AlertController& AlertController::controller() {
    static AlertController* const shared = new AlertController;
    return *shared;
}

int AlertController::modalAlertForWindow(const std::shared_ptr<gtk::Alert>& alert,
                                         GtkWindow* window) {
    return modalAlertForWindowContextInfo(alert, window, std::nullopt);
}

int AlertController::modalAlertForWindowContextInfo(const std::shared_ptr<gtk::Alert>& alert,
                                                    GtkWindow* window,
                                                    const std::optional<std::string>& rememberKey) {
    if (!window) window = gtk::Application::keyWindow();
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    alert->beginSheet(window, [alert, rememberKey, loop](int code) {
        controller().alertDidEndReturnCodeContextInfo(alert, classicCode(code), rememberKey);
        g_main_loop_quit(loop);
    });
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return controller().resultForAlert(alert.get());
}

void AlertController::alertDidEndReturnCodeContextInfo(
    const std::shared_ptr<gtk::Alert>& alert, int code,
    const std::optional<std::string>& rememberKey) {
    if (rememberKey && alert->showsSuppressionButton()) storeCheckBox(*alert, *rememberKey);
    allAlerts_.push_back({code, alert});
}

int AlertController::resultForAlert(const gtk::Alert* alert) {
    for (auto it = allAlerts_.begin(); it != allAlerts_.end(); ++it) {
        if (it->alert.get() == alert) {
            const int result = it->result;
            allAlerts_.erase(it);
            return result;
        }
    }
    return 0;
}

void AlertController::MsgBoxForWindow(const std::string& message, GtkWindow* window) {
    modalAlertForWindow(makeAlert("", message, {"OK"}), window);
}

void AlertController::MsgBox(const std::string& message) {
    MsgBoxForWindow(message, nullptr);
}

void AlertController::MsgBoxWithTitleMessage(const std::string& title, const std::string& message) {
    modalAlertForWindow(makeAlert(title, message, {"OK"}), nullptr);
}

bool AlertController::confirmWithMessageForWindow(const std::string& message, GtkWindow* window) {
    return modalAlertForWindow(makeAlert("Confirm", message, {"Yes", "No"}), window) == 1;
}

bool AlertController::confirmWithTitleMessageForWindow(const std::string& title,
                                                       const std::string& message,
                                                       GtkWindow* window) {
    return modalAlertForWindow(makeAlert(title, message, {"Continue", "Cancel"}), window) == 1;
}

int AlertController::confirmWithTitleMessageSuppressionTitleRememberKeyIconForWindow(
    const std::string& title, const std::string& message, const std::string& suppressionTitle,
    const std::optional<std::string>& rememberKey, const std::string& icon, GtkWindow* window) {
    auto alert = makeAlert(title, message, {"Yes", "No"});
    // Without an icon of its own the alert is a critical one.
    if (icon.empty())
        alert->setStyle(gtk::Alert::Style::Critical);
    else
        alert->setIcon(icon);
    alert->setShowsSuppressionButton(true);
    if (!suppressionTitle.empty()) alert->setSuppressionTitle(suppressionTitle);
    return modalAlertForWindowContextInfo(alert, window, rememberKey);
}

int AlertController::confirmWithTitleMessageRememberKeyIconForWindow(
    const std::string& title, const std::string& message,
    const std::optional<std::string>& rememberKey, const std::string& icon, GtkWindow* window) {
    return confirmWithTitleMessageSuppressionTitleRememberKeyIconForWindow(
        title, message, "", rememberKey, icon, window);
}

int AlertController::confirmWithTitleMessageRememberKeyForWindow(
    const std::string& title, const std::string& message,
    const std::optional<std::string>& rememberKey, GtkWindow* window) {
    return confirmWithTitleMessageRememberKeyIconForWindow(title, message, rememberKey, "", window);
}

int AlertController::confirmWithMessageRememberKeyForWindow(
    const std::string& message, const std::optional<std::string>& rememberKey, GtkWindow* window) {
    return confirmWithTitleMessageRememberKeyForWindow("", message, rememberKey, window);
}

int AlertController::overwriteForItemWithKeyForWindow(const std::string& item,
                                                      const std::optional<std::string>& key,
                                                      GtkWindow*) {
    auto alert = makeAlert("",
                           "The item named '" + item +
                               "' already exists in thislocation. Do you want to replace it or "
                               "keep both?",
                           {"Replace", "Skip", "Keep Both"});
    alert->setStyle(gtk::Alert::Style::Critical);
    const bool remember = !isBlank(key);
    if (remember) {
        foundation::UserDefaults::standard().setBool(*key, false);
        alert->setShowsSuppressionButton(true);
        alert->setSuppressionTitle("Apply to all items");
    }
    const int code = classicCode(alert->runModal(nullptr));
    if (remember) storeCheckBox(*alert, *key);
    return code;
}

void AlertController::MsgBoxWithFilesMessage(const std::vector<std::string>& files,
                                             const std::string& message) {
    auto alert = makeAlert(message, "", {"Okay"});
    std::string list;
    for (const auto& name : files) list += name + "\r\n";
    alert->setAccessoryText(list);
    alert->runModal(nullptr);
}
