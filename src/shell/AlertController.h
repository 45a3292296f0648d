#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/Alert.h"

typedef struct _GtkWindow GtkWindow;

// The program's message boxes and confirmations. Each runs attached to a window (the key
// window when none is given) and blocks its caller, serving the main loop, until a button
// ends it. Codes are those of the classic alert: 1 for the first button, 0 for the second,
// -1 for the third. Main thread only.
class AlertController {
public:
    static AlertController& controller();

    static void MsgBoxForWindow(const std::string& message, GtkWindow* window);
    static void MsgBox(const std::string& message);
    static void MsgBoxWithTitleMessage(const std::string& title, const std::string& message);
    static bool confirmWithMessageForWindow(const std::string& message, GtkWindow* window);
    static bool confirmWithTitleMessageForWindow(const std::string& title,
                                                 const std::string& message, GtkWindow* window);
    // "Yes"/"No" with the suppression check box, whose state is stored under the key. The
    // icon is a theme icon's name or an image file's path; none makes a critical alert.
    static int confirmWithTitleMessageSuppressionTitleRememberKeyIconForWindow(
        const std::string& title, const std::string& message, const std::string& suppressionTitle,
        const std::optional<std::string>& rememberKey, const std::string& icon, GtkWindow* window);
    static int confirmWithTitleMessageRememberKeyIconForWindow(
        const std::string& title, const std::string& message,
        const std::optional<std::string>& rememberKey, const std::string& icon, GtkWindow* window);
    static int confirmWithTitleMessageRememberKeyForWindow(
        const std::string& title, const std::string& message,
        const std::optional<std::string>& rememberKey, GtkWindow* window);
    static int confirmWithMessageRememberKeyForWindow(const std::string& message,
                                                      const std::optional<std::string>& rememberKey,
                                                      GtkWindow* window);
    // "Replace" (1), "Skip" (0) or "Keep Both" (-1), with "Apply to all items" stored under
    // the key when there is one.
    static int overwriteForItemWithKeyForWindow(const std::string& item,
                                                const std::optional<std::string>& key,
                                                GtkWindow* window);
    static void MsgBoxWithFilesMessage(const std::vector<std::string>& files,
                                       const std::string& message);

    static int modalAlertForWindow(const std::shared_ptr<gtk::Alert>& alert, GtkWindow* window);
    static int modalAlertForWindowContextInfo(const std::shared_ptr<gtk::Alert>& alert,
                                              GtkWindow* window,
                                              const std::optional<std::string>& rememberKey);

    // The end of an alert: the remembered check box, then the record of its result.
    void alertDidEndReturnCodeContextInfo(const std::shared_ptr<gtk::Alert>& alert, int code,
                                          const std::optional<std::string>& rememberKey);
    // The collected result of the alert (its record is removed), 0 when there is none.
    int resultForAlert(const gtk::Alert* alert);
    std::size_t pendingResults() const { return allAlerts_.size(); }

private:
    struct Record {
        int result;
        std::shared_ptr<gtk::Alert> alert;
    };
    std::vector<Record> allAlerts_;
};
