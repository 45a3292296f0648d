#pragma once

#include <functional>
#include <optional>

#include "foundation/Value.h"

namespace webkit {
class WebView;
}

// Which page element lies under a point of a browser view.
namespace WKWebView {

// {"tagName", "id", "class"} of the element at the viewport point (top-left origin,
// coordinates truncated), with null for a missing attribute; nullopt when there is none.
// Waits for the page, serving the main loop meanwhile.
std::optional<foundation::Value> htmlElementAtPoint(webkit::WebView& view, double x, double y);
// The same, answered through the completion.
void htmlElementAtPoint(webkit::WebView& view, double x, double y,
                        std::function<void(std::optional<foundation::Value>)> done);

}  // namespace WKWebView
