#include "shell/windows/ElementAtPoint.h"

#include <glib.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "foundation/Json.h"
#include "platform/webkit/WebView.h"

namespace WKWebView {
namespace {

int truncated(double coordinate) {
    if (!std::isfinite(coordinate)) return std::numeric_limits<int>::min();
    return int(std::clamp(std::trunc(coordinate), double(std::numeric_limits<int>::min()),
                          double(std::numeric_limits<int>::max())));
}

}  // namespace

void htmlElementAtPoint(webkit::WebView& view, double x, double y,
                        std::function<void(std::optional<foundation::Value>)> done) {
    const std::string script = fmt::format(
        "if( typeof findElementAtPoint!=='function' ){{ function findElementAtPoint(x,y){{ "
        "try{{ var elem = document.elementFromPoint(x, y); if( elem ) {{ var info = {{}}; "
        "info['tagName'] = elem.tagName; info['id'] = elem.getAttribute('id'); "
        "info['class'] = elem.getAttribute('class'); return {}?JSON.stringify(info):info; }} "
        "}}catch(e){{ console.error(e); }} }} }} findElementAtPoint({},{});",
        0, truncated(x), truncated(y));
    view.evaluateJavascript(script, [done = std::move(done)](webkit::ScriptResult result) {
        std::optional<foundation::Value> element;
        if (result.json) {
            if (auto value = foundation::json::read(*result.json); value && value->isDictionary())
                element = std::move(*value);
        }
        done(std::move(element));
    });
}

std::optional<foundation::Value> htmlElementAtPoint(webkit::WebView& view, double x, double y) {
    struct Outcome {
        bool answered = false;
        std::optional<foundation::Value> element;
    };
    auto outcome = std::make_shared<Outcome>();
    htmlElementAtPoint(view, x, y, [outcome](std::optional<foundation::Value> element) {
        outcome->element = std::move(element);
        outcome->answered = true;
    });
    while (!outcome->answered) g_main_context_iteration(nullptr, TRUE);
    return std::move(outcome->element);
}

}  // namespace WKWebView
