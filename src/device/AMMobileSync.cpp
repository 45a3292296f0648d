#include "device/AMMobileSync.h"

#include <chrono>

#include "foundation/Json.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

// Seconds since 1970, as dates travel.
double now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::shared_ptr<AMMobileSync> AMMobileSync::create(const std::shared_ptr<AMDevice>& device) {
    auto sync = std::make_shared<AMMobileSync>();
    if (!sync->startOnDevice(kServiceName, device)) return nullptr;
    sync->exchangeVersions();
    return sync;
}

AMMobileSync::~AMMobileSync() {
    if (isValidService()) disconnectWithMessage("So long and thanks for all the fish");
}

void AMMobileSync::exchangeVersions() {
    // The reads happen whether or not the log takes their results.
    LogInfo("waiting for the version exchange");
    const Value offer = readXMLReply();
    LogInfo("{}", foundation::json::write(offer));
    LogInfo("sending OK");
    sendXMLRequest(Value::list({"DLMessageVersionExchange", "DLVersionsOk", 100, 100}));
    const Value ready = readXMLReply();
    LogInfo("{}", foundation::json::write(ready));
}

Value AMMobileSync::getContactData() {
    const Value request =
        Value::dict({{"DLMessageProcessMessage",
                      Value::list({"SDMessageGetAllRecordsFromDevice", "com.apple.Contacts", "---",
                                   foundation::Date{now()}, 106, "___EmptyParameterString___"})}});
    LogInfo("sending {}", foundation::json::write(request));
    if (sendXMLRequest(request)) {
        LogInfo("waiting reply");
        const Value reply = readXMLReply();
        LogInfo("{}", foundation::json::write(reply));
    }
    return {};
}
