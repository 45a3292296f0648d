#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;

namespace gtk {

// A message box: a message, an informative text (always plain text), buttons, an optional
// suppression check box and an optional read-only text below. Buttons answer 1000 for the
// first, 1001 for the second, and so on. Main thread only.
class Alert {
public:
    enum class Style { Warning = 0, Informational = 1, Critical = 2 };
    static constexpr int kFirstButton = 1000;

    Alert() = default;
    ~Alert();
    Alert(const Alert&) = delete;
    Alert& operator=(const Alert&) = delete;

    void setMessageText(std::string text) { message_ = std::move(text); }
    void setInformativeText(std::string text) { informative_ = std::move(text); }
    void setStyle(Style style) { style_ = style; }
    // An icon of the theme by name, or an image file by path, shown in place of the
    // style's own.
    void setIcon(std::string icon) { icon_ = std::move(icon); }
    void addButton(std::string title) { buttons_.push_back(std::move(title)); }
    void setShowsSuppressionButton(bool shows) { showsSuppression_ = shows; }
    bool showsSuppressionButton() const { return showsSuppression_; }
    void setSuppressionTitle(std::string title) { suppressionTitle_ = std::move(title); }
    // The check box's state once the alert has ended.
    bool suppressionChecked() const { return suppressionChecked_; }
    // A read-only text view of 400 by 100 points below the texts, holding the text (also
    // when it is empty).
    void setAccessoryText(std::string text) { accessory_ = std::move(text); }
    // An editable one-line field below the texts, holding the text; it has the focus.
    void setTextField(std::string text, int width, int height) {
        field_ = std::move(text);
        hasField_ = true;
        fieldWidth_ = width;
        fieldHeight_ = height;
    }
    // The field's text once the alert has ended.
    const std::string& fieldText() const { return field_; }
    // What an alert closed without a button answers (Escape, or closing its window): the
    // last button's code unless set, as the usual "Cancel".
    void setClosedCode(int code) { closedCode_ = code; }

    // Shows the alert over the parent (or on its own) and waits, serving the main loop,
    // until a button ends it.
    int runModal(GtkWindow* parent);
    // Shows the alert attached to the parent and returns at once; the completion gets the
    // button's code.
    void beginSheet(GtkWindow* parent, std::function<void(int)> completion);

    // The dialog while it is shown (tests answer it through GTK itself).
    GtkWidget* dialog() const { return dialog_; }

private:
    GtkWidget* build(GtkWindow* parent);
    int finish(int response);

    std::string message_;
    std::string informative_;
    std::string suppressionTitle_;
    std::optional<std::string> accessory_;
    std::vector<std::string> buttons_;
    Style style_ = Style::Warning;
    std::string icon_;
    bool showsSuppression_ = false;
    bool suppressionChecked_ = false;
    GtkWidget* dialog_ = nullptr;
    GtkWidget* checkBox_ = nullptr;
    std::string field_;
    bool hasField_ = false;
    int fieldWidth_ = 0;
    int fieldHeight_ = 0;
    GtkWidget* entry_ = nullptr;
    std::optional<int> closedCode_;
};

}  // namespace gtk
