#include "simdevice/SimRelays.h"

#include <sys/socket.h>
#include <zlib.h>

#include <fmt/format.h>

#include <optional>

#include "simdevice/SimWire.h"

using foundation::Value;

namespace simdevice {

namespace {

void waitForHangUp(int fd) {
    char ignored[256];
    while (::recv(fd, ignored, sizeof ignored, 0) > 0) {
    }
}

// One entry of a "newc" cpio archive: header, name and contents, each padded to 4 bytes.
void appendCpioEntry(std::string& archive, const std::string& name, const std::string& contents,
                     unsigned int mode, unsigned int inode) {
    archive += fmt::format(
        "070701{:08X}{:08X}{:08X}{:08X}{:08X}{:08X}{:08X}{:08X}{:08X}{:08X}{:08X}{:08X}{:08X}",
        inode, mode, 501, 501, 1, 1796640000, contents.size(), 0, 0, 0, 0, name.size() + 1, 0);
    archive += name;
    archive.push_back('\0');
    archive.append((4 - archive.size() % 4) % 4, '\0');
    archive += contents;
    archive.append((4 - archive.size() % 4) % 4, '\0');
}

std::string gzip(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

Value diagnosticsReply(SimDevice& device, const Value& request) {
    const std::string kind = request["Request"].stringOr();
    const auto success = [](Value diagnostics) {
        Value reply = Value::dict({{"Status", "Success"}});
        reply.set("Diagnostics", std::move(diagnostics));
        return reply;
    };
    const Value wifi = Value::dict({{"Active", true}, {"Status", "Associated"}});
    const Value gasGauge = Value::dict({{"CycleCount", 212},
                                        {"DesignCapacity", 3110},
                                        {"FullChargeCapacity", 2874},
                                        {"Status", "Success"}});
    const Value nand = Value::dict({{"Status", "Success"}});
    const Value hdmi = Value::dict({{"Connection", "NotConnected"}, {"Status", "Success"}});
    if (kind == "All") {
        return success(
            Value::dict({{"WiFi", wifi}, {"GasGauge", gasGauge}, {"NAND", nand}, {"HDMI", hdmi}}));
    }
    if (kind == "WiFi") return success(Value::dict({{"WiFi", wifi}}));
    if (kind == "GasGauge") return success(Value::dict({{"GasGauge", gasGauge}}));
    if (kind == "NAND") return success(Value::dict({{"NAND", nand}}));
    if (kind == "HDMI") return success(Value::dict({{"HDMI", hdmi}}));
    if (kind == "MobileGestalt") {
        Value values = Value::dict({{"Status", "MobileGestaltSuccess"}});
        if (const auto* keys = request["MobileGestaltKeys"].array()) {
            for (const auto& key : *keys) {
                const std::string name = key.stringOr();
                Value value = device.value("", name, true);
                if (name == "DeviceSupports3DMaps") value = true;
                if (name == "BatteryIsFullyCharged") value = false;
                values.set(name, std::move(value));
            }
        }
        return success(Value::dict({{"MobileGestalt", values}}));
    }
    if (kind == "Sleep" || kind == "Goodbye" || kind == "Restart" || kind == "Shutdown") {
        return Value::dict({{"Status", "Success"}});
    }
    return Value::dict({{"Status", "UnknownRequest"}});
}

}  // namespace

void serveSyslogRelay(SimDevice& device, int fd) {
    for (const auto& message : device.services().locked([](auto& f) { return f.syslogMessages; })) {
        std::string wire = message;
        wire.push_back('\0');
        wire.push_back('\n');
        if (!writeAll(fd, wire.data(), wire.size())) return;
    }
    waitForHangUp(fd);
}

void serveFileRelay(SimDevice& device, int fd) {
    auto request = readFramedPlist(fd);
    if (!request) return;
    device.services().record("com.apple.mobile.file_relay", *request);
    const auto* sources = (*request)["Sources"].array();
    if (!sources || sources->empty()) {
        writeFramedPlist(fd, Value::dict({{"Error", "InvalidSource"}}));
        return;
    }
    std::string archive;
    unsigned int inode = 1;
    for (const auto& source : *sources) {
        const auto files = device.services().locked([&](auto& f) {
            auto found = f.fileSets.find(source.stringOr());
            return found == f.fileSets.end() ? std::optional<std::map<std::string, std::string>>()
                                             : found->second;
        });
        if (!files) {
            writeFramedPlist(fd, Value::dict({{"Error", "InvalidSource"}}));
            return;
        }
        for (const auto& [path, contents] : *files) {
            appendCpioEntry(archive, path, contents, 0100644, inode++);
        }
    }
    appendCpioEntry(archive, "TRAILER!!!", "", 0, 0);
    if (!writeFramedPlist(fd, Value::dict({{"Status", "Acknowledged"}}))) return;
    const std::string packed = gzip(archive);
    writeAll(fd, packed.data(), packed.size());
}

void serveDiagnosticsRelay(SimDevice& device, int fd) {
    while (auto request = readFramedPlist(fd)) {
        device.services().record("diagnostics", *request);
        if (!writeFramedPlist(fd, diagnosticsReply(device, *request))) return;
        if ((*request)["Request"].stringOr() == "Goodbye") return;
    }
}

void serveNotificationProxy(SimDevice& device, int fd) {
    auto& services = device.services();
    auto self = std::make_shared<SimServiceState::Observer>();
    self->fd = fd;
    services.addObserver(self);
    while (auto request = readFramedPlist(fd)) {
        services.record("com.apple.mobile.notification_proxy", *request);
        const std::string command = (*request)["Command"].stringOr();
        const std::string name = (*request)["Name"].stringOr();
        if (command == "ObserveNotification") {
            services.observe(self, name);
        } else if (command == "PostNotification") {
            services.postNotification(name);
        } else if (command == "Shutdown") {
            std::lock_guard lock(self->writeMutex);
            writeFramedPlist(fd, Value::dict({{"Command", "ProxyDeath"}}));
            break;
        }
    }
    services.removeObserver(self);
    // Relays from other connections stop before the connection closes.
    std::lock_guard lock(self->writeMutex);
    self->fd = -1;
}

}  // namespace simdevice
