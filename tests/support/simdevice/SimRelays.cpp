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
    const Value kinds = Value::dict({
        {"WiFi", Value::dict({{"Active", true}, {"Status", "Associated"}})},
        {"GasGauge", Value::dict({{"CycleCount", 212}, {"FullChargeCapacity", 2874}})},
        {"NAND", Value::dict({{"Status", "Success"}})},
        {"HDMI", Value::dict({{"Connection", "NotConnected"}})},
    });
    Value diagnostics;
    if (kind == "All") {
        diagnostics = kinds;
    } else if (!kinds[kind].isNil()) {
        diagnostics = Value::dict({{kind, kinds[kind]}});
    } else if (kind == "MobileGestalt") {
        Value values = Value::dict({{"Status", "MobileGestaltSuccess"}});
        const Value& keys = request["MobileGestaltKeys"];
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::string name = keys[i].stringOr();
            values.set(name,
                       name == "DeviceSupports3DMaps" ? Value(true) : device.value("", name, true));
        }
        diagnostics = Value::dict({{"MobileGestalt", values}});
    } else if (kind != "Sleep" && kind != "Goodbye" && kind != "Restart" && kind != "Shutdown") {
        return Value::dict({{"Status", "UnknownRequest"}});
    }
    Value reply = Value::dict({{"Status", "Success"}});
    reply.set("Diagnostics", diagnostics);
    return reply;
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
