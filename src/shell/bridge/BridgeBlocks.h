#pragma once

#include <functional>

#include "foundation/Value.h"

// A reply block: takes one value (nil allowed) and returns nothing. May be called from
// any thread.
using WVBridgeResponseCallback = std::function<void(const foundation::Value&)>;

// A native handler: the message data (nil when the message had none) and a reply block
// that is never empty (it does nothing when the page expects no reply).
using WVBridgeHandler =
    std::function<void(const foundation::Value& data, WVBridgeResponseCallback responseCallback)>;
