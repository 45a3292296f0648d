#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "device/SocketReadStream.h"
#include "foundation/Value.h"
#include "platform/mobiledevice/MobileDevice.h"

class AMDevice;
struct AMServiceHandle;

// Progress of sendRequestAndWaitUntilDone; every message is optional.
class AMServiceDelegate {
public:
    virtual ~AMServiceDelegate() = default;
    virtual void operationStarted(const foundation::Value& /*request*/) {}
    virtual void operationContinues(const foundation::Value& /*reply*/) {}
    virtual void operationCompleted(const foundation::Value& /*request*/) {}
};

// One started device service: a plain socket, or a connection object when the service
// was started through the secure call. Frames property lists as a 4-byte big-endian
// length and the list. Used by one thread at a time.
class AMService {
public:
    AMService() = default;
    virtual ~AMService();
    AMService(const AMService&) = delete;
    AMService& operator=(const AMService&) = delete;

    // Starts the named service on the device, plain first and then secure; null on failure.
    static std::shared_ptr<AMService> serviceWithName(const std::string& name,
                                                      const std::shared_ptr<AMDevice>& device);
    // Takes over an open socket (a container socket, or one end of a test's socket pair).
    static std::shared_ptr<AMService> withSocket(int socket, const std::string& name = {});

    // Longest packet accepted from a peer; a longer length field is a decode failure.
    static constexpr std::uint32_t kMaxPacketLength = 64u << 20;

    // The started service as it is held: the plain socket, or the secure connection object.
    AMServiceHandle connection() const;
    bool isValidService() const;
    int sock() const;
    std::shared_ptr<AMDevice> device() const { return device_.lock(); }
    std::string servicename() const;
    std::shared_ptr<AMServiceDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<AMServiceDelegate>& delegate) { delegate_ = delegate; }
    const std::string& lasterror() const { return lasterror_; }
    void setLasterror(std::string text) { lasterror_ = std::move(text); }
    bool isSecureConnection() const { return secureConnection_; }

    // How long the device has to answer a request (the reads without a time-out of their
    // own), to go on with a reply it has begun, or to take more of what is sent to it: the
    // device's service limit once started, else the default. A wait that passes it fails the
    // exchange as timed out.
    unsigned int replyTimeoutMs() const { return replyTimeoutMs_; }
    void setReplyTimeoutMs(unsigned int timeoutMs) { replyTimeoutMs_ = timeoutMs; }
    // Ends every wait on the service at once, from any thread: the connection is shut down,
    // and the service is of no further use.
    void interrupt();

    // Raw bytes. send delivers everything or fails (-1, errno set: ETIMEDOUT when the device
    // took nothing within the reply limit); receive waits for readiness (timeoutMs 0: no
    // limit) and reads once: the count, -60 on time-out, -54 when the peer closed, minus
    // the system error number on failure.
    long send(const void* bytes, std::size_t length);
    long receive(void* bytes, std::size_t length, unsigned int timeoutMs = 0);
    long receiveRawBytesMaxLengthTimeout(void* bytes, std::size_t maxLength,
                                         unsigned int timeoutMs);
    long receiveRawDataMaxLengthTimeout(foundation::Data* data, std::size_t maxLength,
                                        unsigned int timeoutMs);
    long sendRawData(const foundation::Data& data);
    long sendDataPacket(const foundation::Data& data);
    // A read stream over the service's socket (as sock() gives it); null when the service
    // is not valid.
    std::unique_ptr<SocketReadStream> inputStreamFromSocket() const;

    // Property-list exchange for request and reply services. The reads without a time-out
    // wait for the reply limit; once a reply has begun, its rest comes within the reply
    // limit or the read fails as timed out (return code -60, "socket time out" logged).
    bool sendXMLRequestTimeout(const foundation::Value& request, unsigned int timeoutMs,
                               bool binary);
    bool sendXMLRequest(const foundation::Value& request);
    foundation::Value readXMLReplyTimeoutReturnCode(unsigned int timeoutMs, int* returnCode);
    foundation::Value readXMLReplyWithReturn(int* returnCode);
    foundation::Value readXMLReply();
    foundation::Value sendRequestAndWaitForSingleReply(const foundation::Value& request);
    bool sendRequestAndWaitUntilDone(const foundation::Value& request);

    // Packet exchange for the heartbeat and relays. The read's out code: 0 success, -1 no
    // service, -2 undecodable (empty or over-long included), -3 failed or incomplete (also
    // when the rest of a packet does not come within the reply limit), -5 nothing arrived
    // in time.
    bool sendPlistIsBinary(const foundation::Value& plist, bool binary);
    foundation::Value readPlistTimeoutReturnCode(unsigned int timeoutMs, int* returnCode);

    // DeviceLink conventions.
    static std::optional<std::string> getDLMessage(const foundation::Value& reply);
    bool exchangeVersionMajorMinor(std::int64_t major, std::int64_t minor);
    bool disconnectWithMessage(const std::optional<std::string>& message);
    int sendProcessMessage(const foundation::Value& message);
    foundation::Value receiveProcessMessageReturn(int* returnCode);

protected:
    // Starts the service on the device: plain, then secure (with the options).
    bool startOnDevice(const std::string& name, const std::shared_ptr<AMDevice>& device,
                       const foundation::Value& options = {});
    // One attempt of the requested kind.
    bool startOnDeviceSecure(const std::string& name, const std::shared_ptr<AMDevice>& device,
                             const foundation::Value& options, bool secure);
    void adoptSocket(int socket, const std::string& name);

private:
    // `start` asks the device for the service, filling the handle and whether it is secure.
    using DeviceStart = std::function<bool(AMDevice&, AMServiceHandle&, bool& secure)>;
    bool startWith(const std::string& name, const std::shared_ptr<AMDevice>& device,
                   const DeviceStart& start);
    enum class PacketResult { Ok, NothingArrived, Incomplete, Undecodable, Failed };
    // Reads one framed packet; the time limit covers the length prefix, the reply limit the
    // rest. `timedOut` tells whether it ended because a wait passed its limit.
    PacketResult readPacket(unsigned int timeoutMs, foundation::Data* payload, long* detail,
                            bool* timedOut);
    // Waits until the full plain socket takes bytes again, for at most the reply limit;
    // false (errno set, ETIMEDOUT once the limit has passed) when it does not.
    bool waitWritable();
    // A limit given, else the reply limit.
    unsigned int limitOr(unsigned int timeoutMs) const;
    // Every byte, else what came (or the failing read's result when nothing did);
    // `timedOut` tells whether a wait passed its limit.
    long receiveAll(void* bytes, std::size_t length, unsigned int timeoutMs, bool* timedOut);
    // Waits for the service to have bytes to read: true when it has, else `ready` holds
    // the wait's result (0, or -60 once the time is up, or -1).
    bool waitReadable(unsigned int timeoutMs, int* ready);
    // Sends the 4-byte big-endian length and then the payload: on a plain socket in one
    // system call, so that the device wakes once for the whole message. True when all of it
    // went; `sent` is how many bytes of the frame did (errno is set on failure).
    bool sendFramed(std::span<const std::uint8_t> payload, std::size_t* sent);
    // The payload of one packet for readPlistTimeoutReturnCode; its out code.
    int readPlistPayload(unsigned int timeoutMs, foundation::Data* payload);

    std::string lasterror_;
    int socket_ = -1;  // owned when not secure
    mobiledevice::AMDServiceConnectionRef connection_;
    bool secureConnection_ = false;
    std::weak_ptr<AMDevice> device_;
    std::weak_ptr<AMServiceDelegate> delegate_;
    std::atomic<unsigned int> replyTimeoutMs_{
        mobiledevice::limitMs(mobiledevice::DeviceTimeLimits{}.serviceReply)};
    mutable std::mutex nameMutex_;
    std::string servicename_;
    // Outgoing XML is written into the same room message after message; one message at a
    // time, so that neither the room nor the frames on the wire are shared.
    std::mutex sendMutex_;
    std::string sendRoom_;
    // Gives up the room once a message is out when it has grown very large.
    struct SendRoomTrim {
        std::string& room;
        ~SendRoomTrim();
    };
};
