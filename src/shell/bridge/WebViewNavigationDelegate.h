#pragma once

#include <memory>
#include <string>

namespace webkit {
class NavigationDecision;
}

// The further delegate of a bridge front: it may decide the navigations that are not the
// bridge's own. One that does not decide them leaves them allowed.
class WebViewNavigationDelegate {
public:
    virtual ~WebViewNavigationDelegate() = default;
    // Decides the navigation and answers true, or answers false without deciding.
    virtual bool decidePolicyForNavigationAction(
        const std::string& /*uri*/, const std::shared_ptr<webkit::NavigationDecision>& /*decision*/) {
        return false;
    }
};
