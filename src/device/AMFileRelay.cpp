#include "device/AMFileRelay.h"


#include <fmt/format.h>


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
    auto stream = inputStreamFromSocket();
    if (!stream || !stream->open()) {
        setLasterror(stream ? stream->streamError() : "service is not started");
        return false;
    }
    bool copied = false;
    char chunk[kChunkLength];
    for (;;) {
        const long read = stream->read(chunk, sizeof chunk);
        if (read < 0) {
            setLasterror(stream->streamError());
            break;
        }
        if (read == 0) {
            setLasterror({});
            copied = true;
            break;
        }
        // A failed stream cannot say how much of the chunk it took: none counts as written.
        if (!out.write(chunk, read)) {
            setLasterror(fmt::format("File truncated on write, nr={} nw={}", read, 0));
            break;
        }
    }
    stream->close();
    if (copied && !out.flush()) {
        setLasterror("File truncated on write");
        copied = false;
    }
    return copied;
}
