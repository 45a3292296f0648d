#pragma once

#include <optional>

#include "foundation/Value.h"

// Told of the main window's page and asked about closing it.
class WVWindowControllerDelegate {
public:
    virtual ~WVWindowControllerDelegate() = default;
    // The data of each call of the page's "bridgeReady" handler.
    virtual void OnWVBridgeReady(const foundation::Value& data) = 0;
    // Whether the window may close; nullopt leaves the question to the page.
    virtual std::optional<bool> shouldClose() { return std::nullopt; }
    // Whether willClose is to be called instead of the page being told.
    virtual bool implementsWillClose() const { return false; }
    virtual void willClose() {}
};
