#include "simdevice/SimDeviceLink.h"

#include <functional>

#include "simdevice/SimWire.h"

using foundation::Value;

namespace simdevice {

namespace {

bool exchangeVersions(int fd, std::int64_t major, std::int64_t minor) {
    if (!writeFramedPlist(fd, Value::list({"DLMessageVersionExchange", major, minor}), true)) {
        return false;
    }
    auto answer = readFramedPlist(fd);
    if (!answer || (*answer)[std::size_t{0}].stringOr() != "DLMessageVersionExchange" ||
        (*answer)[std::size_t{1}].stringOr() != "DLVersionsOk") {
        writeFramedPlist(fd, Value::list({"DLMessageDisconnect", "Version exchange failed"}));
        return false;
    }
    return writeFramedPlist(fd, Value::list({"DLMessageDeviceReady"}), true);
}

// Runs the exchange, then hands each message to `answer` until the host disconnects;
// `answer` gives the reply, nil for none.
void serveDeviceLink(SimDevice& device, int fd, const char* service, std::int64_t major,
                     const std::function<Value(const Value&)>& answer) {
    if (!exchangeVersions(fd, major, 0)) return;
    while (auto message = readFramedPlist(fd)) {
        device.services().record(service, *message);
        if ((*message)[std::size_t{0}].stringOr() == "DLMessageDisconnect") return;
        const Value reply = answer(*message);
        if (!reply.isNil() && !writeFramedPlist(fd, reply, true)) return;
    }
}

}  // namespace

void serveScreenshot(SimDevice& device, int fd) {
    serveDeviceLink(device, fd, "com.apple.mobile.screenshotr", 300, [&](const Value& message) {
        if (message[std::size_t{0}].stringOr() != "DLMessageProcessMessage" ||
            message[std::size_t{1}]["MessageType"].stringOr() != "ScreenShotRequest") {
            return Value::list(
                {"DLMessageProcessMessage", Value::dict({{"ErrorMessage", "Unknown request"}})});
        }
        return Value::list({"DLMessageProcessMessage",
                            Value::dict({{"MessageType", "ScreenShotReply"},
                                         {"ScreenShotData", device.services().locked([](auto& f) {
                                              return f.screenshot;
                                          })}})});
    });
}

void serveMobileSync(SimDevice& device, int fd) {
    serveDeviceLink(device, fd, "com.apple.mobilesync", 100, [](const Value& message) {
        // The request may come bare or inside a process message.
        const Value& wrapped = message["DLMessageProcessMessage"];
        const Value& body = wrapped.isNil() ? message[std::size_t{1}] : wrapped;
        if (body[std::size_t{0}].stringOr() != "SDMessageGetAllRecordsFromDevice") {
            return Value::list({"DLMessageDisconnect", "Unknown sync message"});
        }
        return Value::list(
            {"DLMessageProcessMessage",
             Value::list(
                 {"SDMessageProcessChanges", body[std::size_t{1}].stringOr(), Value::dict({}),
                  false,
                  Value::dict({{"SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey", true}})})});
    });
}

}  // namespace simdevice
