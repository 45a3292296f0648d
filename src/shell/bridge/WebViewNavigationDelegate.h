#pragma once

#include <memory>
#include <string>

namespace webkit {
class NavigationDecision;
}
typedef struct _WebKitAuthenticationRequest WebKitAuthenticationRequest;

// The further delegate of a bridge front: the view's navigation events that are not the
// bridge's own are handed to it. Each operation it does not take leaves the front's own
// answer: allow, WebKit's own handling, or nothing.
class WebViewNavigationDelegate {
public:
    virtual ~WebViewNavigationDelegate() = default;
    // Decides the navigation and answers true, or answers false without deciding.
    virtual bool decidePolicyForNavigationAction(
        const std::string& /*uri*/, const std::shared_ptr<webkit::NavigationDecision>& /*decision*/) {
        return false;
    }
    // Whether it decides the answers to be shown; then each is handed to it.
    virtual bool decidesNavigationResponses() const { return false; }
    virtual void decidePolicyForNavigationResponse(
        const std::string& /*uri*/, const std::shared_ptr<webkit::NavigationDecision>& /*decision*/) {}
    // Takes the request and answers true (it answers the request), or false.
    virtual bool didReceiveAuthenticationChallenge(WebKitAuthenticationRequest* /*request*/) {
        return false;
    }
    virtual void didStartProvisionalNavigation(const std::string& /*uri*/) {}
    virtual void didFinishNavigation(const std::string& /*uri*/) {}
    virtual void didFailNavigation(const std::string& /*uri*/, const std::string& /*error*/) {}
    virtual void didFailProvisionalNavigation(const std::string& /*uri*/,
                                              const std::string& /*error*/) {}
};
