#include "device/AMFileRelay.h"

#include <cstring>

#include <fmt/format.h>

#include "device/SocketCheck.h"

using foundation::Value;

std::shared_ptr<AMFileRelay> AMFileRelay::create(const std::shared_ptr<AMDevice>& device) {
    auto relay = std::make_shared<AMFileRelay>();
    if (!relay->startOnDevice(kServiceName, device)) return nullptr;
    return relay;
}

std::shared_ptr<AMFileRelay> AMFileRelay::withSocket(int socket) {
    auto relay = std::make_shared<AMFileRelay>();
    relay->adoptSocket(socket, kServiceName);
    return relay;
}

bool AMFileRelay::getFileSetsInto(const std::vector<std::string>& sources, std::ostream& out) {
    if (used_) {
        setLasterror("AlreadyUsed");
        return false;
    }
    used_ = true;
    Value names = Value::list({});
    for (const auto& source : sources) names.append(source);
    Value reply = sendRequestAndWaitForSingleReply(Value::dict({{"Sources", names}}));
    if (reply.isNil()) return false;
    if (const Value& error = reply["Error"]; !error.isNil()) {
        setLasterror(error.stringOr("Error"));
        return false;
    }
    return slurpInto(out);
}

bool AMFileRelay::getFileSetInto(const std::string& source, std::ostream& out) {
    return getFileSetsInto({source}, out);
}

bool AMFileRelay::slurpInto(std::ostream& out) {
    char chunk[kChunkLength];
    for (;;) {
        const long count = receiveRawBytesMaxLengthTimeout(chunk, sizeof chunk, 0);
        if (count == kSocketPeerClosed) break;
        if (count <= 0) {
            setLasterror(count < 0 ? std::strerror(static_cast<int>(-count))
                                   : "service is not started");
            return false;
        }
        if (!out.write(chunk, count)) {
            setLasterror(fmt::format("File truncated on write, nr={} nw={}", count, 0));
            return false;
        }
    }
    out.flush();
    if (!out) {
        setLasterror("File truncated on write");
        return false;
    }
    setLasterror({});
    return true;
}
