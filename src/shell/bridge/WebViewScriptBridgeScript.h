#pragma once

#include <string>

// The page-side half of the bridge, injected when the page asks for it. It defines
// window.WebViewScriptBridge and talks to the native side through the signalling URLs.
const std::string& WebViewScriptBridge_js();
