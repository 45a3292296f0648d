#pragma once

// In-process notifications between the application delegate and the web windows.
inline constexpr const char* kJSBridgeReady = "kJSBridgeReady";
// User info "cmd" ("added" or "removed") and "device".
inline constexpr const char* kIDeviceNotification = "kIDeviceNotification";
inline constexpr const char* kWebviewWindowControllerCreated = "kWebviewWindowControllerCreated";
inline constexpr const char* kWebviewWindowControllerDestroyed =
    "kWebviewWindowControllerDestroyed";
// User info "id" and "name": the closing window's unique id and name.
inline constexpr const char* kWebviewWindowClose = "kWebviewWindowClose";
// User info "status" "open" when a modal window opens, none when it closes.
inline constexpr const char* kModalWebviewWindow = "kModalWebviewWindow";
// The application is about to quit: devices end their sessions and connections (copies and
// loads have been stopped by the application's quit gate just before). Observers whose work goes on in the background (it may wait for a device)
// enter the group given under kWillTerminateFinishing, if any, and leave it when done; the
// application waits for it a while before the process ends.
inline constexpr const char* kApplicationWillTerminateNotification =
    "NSApplicationWillTerminateNotification";
inline constexpr const char* kWillTerminateFinishing = "finishing";  // shared_ptr<DispatchGroup>
// Posted after a menu item's action ran; user info "MenuItem": {"id", "title", "tag"}.
inline constexpr const char* kMenuDidSendActionNotification = "MenuDidSendActionNotification";
