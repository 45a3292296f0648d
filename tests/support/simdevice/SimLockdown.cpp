#include "simdevice/SimLockdown.h"

#include "data/helpers/NSStringHelpers.h"
#include "simdevice/SimServices.h"
#include "simdevice/SimWire.h"

using foundation::Value;

namespace simdevice {

namespace {

Value failure(const std::string& request, const std::string& error) {
    return Value::dict({{"Request", request}, {"Error", error}});
}

Value success(const std::string& request) {
    return Value::dict({{"Request", request}, {"Result", "Success"}});
}

std::string hostIdOf(const Value& request) {
    std::string id = request["PairRecord"]["HostID"].stringOr();
    return id.empty() ? request["HostID"].stringOr() : id;
}

}  // namespace

SimLockdown::SimLockdown(std::shared_ptr<SimDevice> device, int fd)
    : device_(std::move(device)), link_(fd) {}

void SimLockdown::serve() {
    for (;;) {
        auto request = readFramedPlist(link_);
        if (!request) break;
        Value reply = answer(*request);
        if (reply.isNil() || !writeFramedPlist(link_, reply)) break;
        const std::string name = (*request)["Request"].stringOr();
        if (name == "Goodbye") break;
        if (reply["EnableSessionSSL"] == Value(true) && !device_->handshakeAnswers()) {
            char byte = 0;
            while (link_.readExactly(&byte, 1)) {
            }
            break;
        }
        if (reply["EnableSessionSSL"] == Value(true) &&
            !link_.startTls(device_->deviceCertificateFor((*request)["HostID"].stringOr()))) {
            break;
        }
        if (name == "StopSession" && reply["Error"].isNil()) link_.stopTls();
    }
    if (!sessionId_.empty()) device_->countSessionStop();
}

Value SimLockdown::answer(const Value& request) {
    const std::string name = request["Request"].stringOr();
    if (device_->takeDrop(name)) return {};
    if (auto error = device_->failureFor(name)) return failure(name, *error);
    if (name == "QueryType") {
        return Value::dict({{"Request", name}, {"Type", "com.apple.mobile.lockdown"}});
    }
    if (name == "GetValue") return getValue(request);
    if (name == "StartSession") return startSession(request);
    if (name == "StopSession") return stopSession(request);
    if (name == "Pair") return pair(request);
    if (name == "ValidatePair") return validatePair(request);
    if (name == "Unpair") return unpair(request);
    if (name == "StartService") return startService(request);
    if (name == "Goodbye") return success(name);
    return failure(name, "InvalidRequest");
}

Value SimLockdown::getValue(const Value& request) {
    const std::string domain = request["Domain"].stringOr();
    const std::string key = request["Key"].stringOr();
    Value value = device_->value(domain, key, !sessionId_.empty());
    if (value.isNil()) return failure("GetValue", "MissingValue");
    Value reply = Value::dict({{"Request", "GetValue"}, {"Value", value}});
    if (!domain.empty()) reply.set("Domain", domain);
    if (!key.empty()) reply.set("Key", key);
    return reply;
}

Value SimLockdown::startSession(const Value& request) {
    if (!device_->isPairedHost(request["HostID"].stringOr())) {
        return failure("StartSession", "InvalidHostID");
    }
    if (!sessionId_.empty()) device_->countSessionStop();
    sessionId_ = NSString::guid();
    sessionHost_ = request["HostID"].stringOr();
    device_->countSessionStart();
    return Value::dict({{"Request", "StartSession"},
                        {"SessionID", sessionId_},
                        {"EnableSessionSSL", device_->config().sessionSsl}});
}

Value SimLockdown::stopSession(const Value& request) {
    if (sessionId_.empty() || request["SessionID"].stringOr() != sessionId_) {
        return failure("StopSession", "InvalidSessionID");
    }
    sessionId_.clear();
    device_->countSessionStop();
    return success("StopSession");
}

Value SimLockdown::pair(const Value& request) {
    device_->countPairRequest();
    const std::string hostId = hostIdOf(request);
    if (hostId.empty() || request["PairRecord"]["HostCertificate"].isNil()) {
        return failure("Pair", "InvalidPairRecord");
    }
    const foundation::Data* certificate = request["PairRecord"]["DeviceCertificate"].data();
    device_->addPairedHost(hostId, certificate
                                       ? std::string(certificate->begin(), certificate->end())
                                       : std::string());
    foundation::Data escrow(32, 0x5a);
    return Value::dict({{"Request", "Pair"}, {"EscrowBag", escrow}});
}

Value SimLockdown::validatePair(const Value& request) {
    if (!device_->isPairedHost(hostIdOf(request))) return failure("ValidatePair", "InvalidHostID");
    return success("ValidatePair");
}

Value SimLockdown::unpair(const Value& request) {
    if (!device_->removePairedHost(hostIdOf(request))) return failure("Unpair", "InvalidHostID");
    return success("Unpair");
}

Value SimLockdown::startService(const Value& request) {
    const std::string service = request["Service"].stringOr();
    device_->services().record("StartService", request);
    if (sessionId_.empty()) return failure("StartService", "SessionInactive");
    if (service.empty()) return failure("StartService", "MissingService");
    if (!isKnownService(*device_, service)) return failure("StartService", "InvalidService");
    const bool secure = device_->config().secureServices.count(service) > 0;
    const std::uint16_t port = device_->openServicePort(service, secure ? sessionHost_ : std::string());
    if (port == 0) return failure("StartService", "ServiceLimit");
    return Value::dict({{"Request", "StartService"},
                        {"Service", service},
                        {"Port", port},
                        {"EnableServiceSSL", secure}});
}

}  // namespace simdevice
