#pragma once

#include "foundation/Url.h"
#include "foundation/Value.h"
#include "http/NetHeaders.h"

class NetHTTPRequest;

// What a request's delegate may hear, always on the main thread. Every operation is
// optional: the defaults do nothing. A request calls the operations its selectors name
// (didStartSelector and the others), so a delegate may point them at operations of its own.
class NetHTTPRequestDelegate {
public:
    virtual ~NetHTTPRequestDelegate() = default;

    virtual void requestStarted(NetHTTPRequest&) {}
    virtual void requestDidReceiveResponseHeaders(NetHTTPRequest&, const NetHeaders&) {}
    virtual void requestWillRedirectToURL(NetHTTPRequest&, const foundation::Url&) {}
    virtual void requestFinished(NetHTTPRequest&) {}
    virtual void requestFailed(NetHTTPRequest&) {}
    virtual void requestRedirected(NetHTTPRequest&) {}
    virtual void requestDidReceiveData(NetHTTPRequest&, const foundation::Data&) {}
    virtual void authenticationNeededForRequest(NetHTTPRequest&) {}
    virtual void proxyAuthenticationNeededForRequest(NetHTTPRequest&) {}

    // Whether body chunks go to the data selector; the request then does not keep them.
    virtual bool takesReceivedData() const { return false; }
    // Whether the delegate confirms redirects itself (and then calls redirectToURL).
    virtual bool confirmsRedirects() const { return false; }
    // Whether the delegate answers the two authentication notices (and then calls the
    // request's retryUsingSuppliedCredentials or cancelAuthentication).
    virtual bool answersAuthenticationChallenges() const { return false; }
};

// The delegate operations a request's selectors may name.
using NetRequestSelector = void (NetHTTPRequestDelegate::*)(NetHTTPRequest&);
using NetHeadersSelector = void (NetHTTPRequestDelegate::*)(NetHTTPRequest&, const NetHeaders&);
using NetRedirectSelector = void (NetHTTPRequestDelegate::*)(NetHTTPRequest&,
                                                             const foundation::Url&);
using NetDataSelector = void (NetHTTPRequestDelegate::*)(NetHTTPRequest&, const foundation::Data&);
