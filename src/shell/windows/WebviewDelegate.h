#pragma once

#include <memory>
#include <string>

#include "platform/gtk/Window.h"

typedef struct _WebKitWebView WebKitWebView;

// What the browser view asks of its window: new windows the page opens with window.open,
// shown as ordinary windows, modal windows or sheets of this one, as the URL's query says.
class WebviewDelegate {
public:
    explicit WebviewDelegate(std::weak_ptr<gtk::Window> window) : window_(std::move(window)) {}

    // Opens the web window for the URI. Answers its browser view when the page asked for a
    // "native" window (WebKit then shows the page's own window object in it), else null.
    WebKitWebView* createWebView(const std::string& uri, WebKitWebView* opener);

private:
    std::weak_ptr<gtk::Window> window_;
};
