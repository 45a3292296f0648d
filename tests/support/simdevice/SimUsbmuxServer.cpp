#include "simdevice/SimUsbmuxServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "data/helpers/NSStringHelpers.h"
#include "foundation/PropertyList.h"
#include "simdevice/SimDevicePorts.h"
#include "simdevice/SimNetworkPorts.h"
#include "simdevice/SimPairRecord.h"
#include "simdevice/SimWire.h"

using foundation::Value;

namespace simdevice {

namespace {

constexpr int kResultOk = 0;
constexpr int kResultBadCommand = 1;
constexpr int kResultBadDevice = 2;
constexpr int kResultConnectionRefused = 3;

Value result(int number) {
    return Value::dict({{"MessageType", "Result"}, {"Number", number}});
}

Value properties(const SimDevice& device) {
    Value props = Value::dict({
        {"DeviceID", device.deviceId()},
        {"SerialNumber", device.config().udid},
        {"ProductID", 0x12a8},
        {"LocationID", 0x14100000 + device.deviceId()},
        {"ConnectionSpeed", 480000000},
        {"ConnectionType", device.config().network ? "Network" : "USB"},
    });
    if (device.config().network) {
        // A socket address as the multiplexer hands it out: length, family, port, IPv4.
        const auto ip = device.networkAddress();
        foundation::Data address = {0x10, 0x02, 0, 0, ip[0], ip[1], ip[2], ip[3], 0, 0, 0, 0, 0, 0, 0, 0};
        props.set("NetworkAddress", address);
        props.set("EscapedFullServiceName", device.config().udid + "._apple-mobdev2._tcp.local");
    }
    return props;
}

Value attachedRecord(const SimDevice& device) {
    return Value::dict({{"MessageType", "Attached"},
                        {"DeviceID", device.deviceId()},
                        {"Properties", properties(device)}});
}

}  // namespace

SimUsbmuxServer::SimUsbmuxServer(std::string socketPath)
    : socketPath_(std::move(socketPath)), buid_(NSString::guid()) {}

SimUsbmuxServer::~SimUsbmuxServer() {
    stop();
}

bool SimUsbmuxServer::isServed(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool answered =
        ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return answered;
}

bool SimUsbmuxServer::start() {
    if (running_) return true;
    // The socket is made under a passing name and moved into place once it listens, so
    // that a client that finds it is answered, with every device attached so far.
    const std::string passing = socketPath_ + ".starting";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (passing.size() >= sizeof address.sun_path) return false;
    if (isServed(socketPath_)) {
        errno = EADDRINUSE;
        return false;
    }
    std::memcpy(address.sun_path, passing.c_str(), passing.size() + 1);
    ::unlink(passing.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return false;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::rename(passing.c_str(), socketPath_.c_str()) != 0 ||
        ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        ::unlink(passing.c_str());
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    struct stat placed {};
    socketInode_ = ::stat(socketPath_.c_str(), &placed) == 0 ? placed.st_ino : 0;
    running_ = true;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void SimUsbmuxServer::stop() {
    if (!running_.exchange(false)) return;
    const char wake = 1;
    (void)!::write(wakePipe_[1], &wake, 1);
    acceptThread_.join();
    workers_.endAll();
    std::map<const SimDevice*, std::unique_ptr<SimNetworkPorts>> networkPorts;
    {
        std::lock_guard lock(mutex_);
        networkPorts.swap(networkPorts_);
        for (const auto& device : devices_) device->setPortOpener(nullptr);
    }
    for (auto& [device, ports] : networkPorts) ports->stop();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
    listenFd_ = wakePipe_[0] = wakePipe_[1] = -1;
    // Only our own socket: a simulator started after this one may have put its own there.
    struct stat placed {};
    if (::stat(socketPath_.c_str(), &placed) == 0 && placed.st_ino == socketInode_) {
        ::unlink(socketPath_.c_str());
    }
}

void SimUsbmuxServer::acceptLoop() {
    while (running_) {
        pollfd entries[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) continue;
        if (entries[1].revents) break;
        if (!(entries[0].revents & POLLIN)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        workers_.start(fd, [this, fd] { serveClient(fd); });
    }
}

void SimUsbmuxServer::serveClient(int fd) {
    for (;;) {
        auto message = readMuxMessage(fd);
        if (!message || !handle(fd, *message)) break;
    }
    std::lock_guard lock(mutex_);
    listeners_.erase(fd);
}

bool SimUsbmuxServer::handle(int fd, const MuxMessage& message) {
    const Value& body = message.body;
    const std::string type = body["MessageType"].stringOr();
    if (type == "ListDevices") {
        Value list = Value::list({});
        std::lock_guard lock(mutex_);
        for (const auto& device : devices_) list.append(attachedRecord(*device));
        return writeMuxMessage(fd, message.tag, Value::dict({{"DeviceList", list}}));
    }
    if (type == "Listen") {
        // The answer and the present devices go out under the lock, so that no notice of
        // a concurrent attach or detach comes between them.
        std::lock_guard lock(mutex_);
        if (!writeMuxMessage(fd, message.tag, result(kResultOk))) return false;
        for (const auto& device : devices_) writeMuxMessage(fd, 0, attachedRecord(*device));
        listeners_.insert(fd);
        return true;
    }
    if (type == "Connect") return connect(fd, message.tag, body);
    if (type == "ReadBUID") {
        return writeMuxMessage(fd, message.tag, Value::dict({{"BUID", buid_}}));
    }
    if (type == "ReadPairRecord") {
        std::lock_guard lock(mutex_);
        auto found = pairRecords_.find(body["PairRecordID"].stringOr());
        if (found == pairRecords_.end()) {
            return writeMuxMessage(fd, message.tag, result(kResultBadDevice));
        }
        return writeMuxMessage(fd, message.tag, Value::dict({{"PairRecordData", found->second}}));
    }
    if (type == "SavePairRecord") {
        const foundation::Data* data = body["PairRecordData"].data();
        const std::string id = body["PairRecordID"].stringOr();
        if (!data || id.empty()) return writeMuxMessage(fd, message.tag, result(kResultBadCommand));
        std::lock_guard lock(mutex_);
        pairRecords_[id] = *data;
        return writeMuxMessage(fd, message.tag, result(kResultOk));
    }
    if (type == "DeletePairRecord") {
        std::lock_guard lock(mutex_);
        const bool erased = pairRecords_.erase(body["PairRecordID"].stringOr()) > 0;
        return writeMuxMessage(fd, message.tag, result(erased ? kResultOk : kResultBadDevice));
    }
    return writeMuxMessage(fd, message.tag, result(kResultBadCommand));
}

bool SimUsbmuxServer::connect(int fd, std::uint32_t tag, const Value& request) {
    auto device = findDevice(static_cast<std::uint32_t>(request["DeviceID"].toInt64().value_or(0)));
    // The port travels in network byte order.
    const auto raw = static_cast<std::uint16_t>(request["PortNumber"].toInt64().value_or(0));
    const std::uint16_t port = static_cast<std::uint16_t>((raw >> 8) | (raw << 8));
    if (!device || !acceptsPort(*device, port)) {
        writeMuxMessage(fd, tag, result(kResultConnectionRefused));
        return false;
    }
    if (!writeMuxMessage(fd, tag, result(kResultOk))) return false;
    // From here the socket carries the device port's own protocol.
    serveDevicePort(device, port, fd);
    return false;
}

std::shared_ptr<SimDevice> SimUsbmuxServer::findDevice(std::uint32_t deviceId) const {
    std::lock_guard lock(mutex_);
    for (const auto& device : devices_) {
        if (device->deviceId() == deviceId) return device;
    }
    return nullptr;
}

std::shared_ptr<SimDevice> SimUsbmuxServer::attach(SimDeviceConfig config) {
    auto device = std::make_shared<SimDevice>(std::move(config));
    if (device->config().network) {
        // Reached over TCP at an address of its own, each service port opened as handed out.
        auto ports = std::make_unique<SimNetworkPorts>(device);
        if (ports->start()) {
            device->setNetworkAddress(ports->address());
            device->setPortOpener([raw = ports.get()](std::uint16_t port) { return raw->listen(port); });
        }
        std::lock_guard lock(mutex_);
        networkPorts_[device.get()] = std::move(ports);
    }
    std::lock_guard lock(mutex_);
    device->setDeviceId(nextDeviceId_++);
    devices_.push_back(device);
    for (int fd : listeners_) writeMuxMessage(fd, 0, attachedRecord(*device));
    return device;
}

void SimUsbmuxServer::detach(const std::shared_ptr<SimDevice>& device) {
    std::unique_ptr<SimNetworkPorts> ports;
    {
        std::lock_guard lock(mutex_);
        std::erase(devices_, device);
        const Value notice =
            Value::dict({{"MessageType", "Detached"}, {"DeviceID", device->deviceId()}});
        for (int fd : listeners_) writeMuxMessage(fd, 0, notice);
        if (auto found = networkPorts_.find(device.get()); found != networkPorts_.end()) {
            ports = std::move(found->second);
            networkPorts_.erase(found);
        }
    }
    device->setPortOpener(nullptr);
    if (ports) ports->stop();
}

int SimUsbmuxServer::listenerCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(listeners_.size());
}

void SimUsbmuxServer::pairHost(const std::shared_ptr<SimDevice>& device) {
    const std::string hostId = NSString::guid();
    const Value record = makePairRecord(hostId, buid_);
    const foundation::Data* certificate = record["DeviceCertificate"].data();
    device->addPairedHost(hostId, std::string(certificate->begin(), certificate->end()));
    auto xml = foundation::plist::writeXml(record);
    std::lock_guard lock(mutex_);
    pairRecords_[device->config().udid] = foundation::Data(xml->begin(), xml->end());
}

bool SimUsbmuxServer::hasPairRecord(const std::string& udid) const {
    std::lock_guard lock(mutex_);
    return pairRecords_.count(udid) > 0;
}

}  // namespace simdevice
