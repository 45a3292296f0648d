#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "foundation/Value.h"
#include "simdevice/SimAfcServer.h"
#include "simdevice/SimServiceState.h"
#include "simdevice/SimSilence.h"

namespace simdevice {

struct SimDeviceConfig {
    std::string udid = "00008030-0011223344556677";
    std::string name = "Simulated iPhone";
    std::string productType = "iPhone12,1";
    std::string productVersion = "16.7.2";
    bool network = false;        // attached over WiFi rather than USB
    std::string root;            // folder behind the media file service
    std::string crashRoot;       // folder behind the crash-report file service
    std::string containersRoot;  // one folder per application, made on first use
    bool sessionSsl = true;      // sessions switch TLS on, as on a phone
    // Services started only with TLS on their connection ("EnableServiceSSL"), as phones
    // serve some of theirs; a client that does not switch it on is not understood.
    std::set<std::string> secureServices;
    // Every connection is served through a relay that can fall silent (silence()), also
    // those opened before a test silences their service.
    bool silenceable = false;
};

// One simulated device: its lockdown values, its pairing and session state, the services
// it has started, and the hooks and counters tests use. Thread-safe: every connection to
// it runs on a thread of its own.
class SimDevice {
public:
    explicit SimDevice(SimDeviceConfig config);

    const SimDeviceConfig& config() const { return config_; }
    std::uint32_t deviceId() const { return deviceId_; }
    void setDeviceId(std::uint32_t id) { deviceId_ = id; }

    // Hooks. A failing request answers {"Error": error}; a dropped one closes the lockdown
    // connection without an answer (once); refused connections fail at the multiplexer.
    void failRequest(const std::string& request, const std::string& error);
    void clearFailures();
    std::optional<std::string> failureFor(const std::string& request) const;
    void dropConnectionOn(const std::string& request);
    bool takeDrop(const std::string& request);
    void setRefuseConnections(bool refuse) { refuseConnections_ = refuse; }
    bool refusesConnections() const { return refuseConnections_; }
    void setHeartbeatAnswers(bool answers) { heartbeatAnswers_ = answers; }
    // Whether a session's TLS handshake is answered; a silent device keeps the connection
    // open and says nothing until the host hangs up.
    void setHandshakeAnswers(bool answers) { handshakeAnswers_ = answers; }
    bool handshakeAnswers() const { return handshakeAnswers_; }
    bool heartbeatAnswers() const { return heartbeatAnswers_; }
    // How file services opened from now on break their protocol.
    void setAfcHostility(SimAfcHostility hostility) { afcHostility_ = hostility; }
    SimAfcHostility afcHostility() const { return afcHostility_; }
    // The file system the file services report, from the disk-usage values.
    SimAfcVolume volume() const;

    // Counters of lockdown requests.
    int sessionsStarted() const { return sessionsStarted_; }
    int sessionsStopped() const { return sessionsStopped_; }
    int pairRequests() const { return pairRequests_; }
    int heartbeatsAnswered() const { return heartbeatsAnswered_; }
    void countSessionStart() { ++sessionsStarted_; }
    void countSessionStop() { ++sessionsStopped_; }
    void countPairRequest() { ++pairRequests_; }
    void countHeartbeat() { ++heartbeatsAnswered_; }

    // Pairing: the hosts this device trusts, each with the device certificate (PEM) its
    // pair record holds.
    void addPairedHost(const std::string& hostId, std::string deviceCertificate);
    bool removePairedHost(const std::string& hostId);
    // The device no longer trusts any host, as when a person resets its trust settings.
    void forgetPairedHosts();
    bool isPairedHost(const std::string& hostId) const;
    std::string deviceCertificateFor(const std::string& hostId) const;

    // Lockdown values; without a session only the public keys of the global domain answer.
    foundation::Value value(const std::string& domain, const std::string& key,
                            bool inSession) const;
    void setValue(const std::string& domain, const std::string& key, foundation::Value value);

    // What the relays, proxies and DeviceLink services share and tests set up.
    SimServiceState& services() { return services_; }
    // Services that stop answering (kLockdownService names the lockdown service); only
    // connections of a `silenceable` device fall silent.
    SimSilence& silence() { return silence_; }

    // Service ports handed out by StartService; `tlsHost` names the paired host whose
    // certificate a secure service's TLS answers with ("" for a plain service). Zero when
    // no port could be opened.
    std::uint16_t openServicePort(const std::string& service, const std::string& tlsHost = {});
    std::optional<std::string> serviceOnPort(std::uint16_t port) const;
    // The host a secure service's port answers TLS for; nullopt for a plain one.
    std::optional<std::string> tlsHostOnPort(std::uint16_t port) const;

    // A network-attached device is reached at a loopback address of its own, where each
    // port it hands out must first be opened (false: the port is taken, try another).
    void setNetworkAddress(std::array<std::uint8_t, 4> address) { networkAddress_ = address; }
    std::array<std::uint8_t, 4> networkAddress() const { return networkAddress_; }
    void setPortOpener(std::function<bool(std::uint16_t)> opener);

private:
    const SimDeviceConfig config_;
    std::atomic<std::uint32_t> deviceId_{0};
    mutable std::mutex mutex_;
    std::map<std::string, std::string> failures_;
    std::set<std::string> drops_;
    std::map<std::string, std::string> pairedHosts_;
    std::map<std::string, foundation::Value> domains_;  // "" is the global domain
    std::map<std::uint16_t, std::string> servicePorts_;
    std::map<std::uint16_t, std::string> tlsHosts_;
    std::array<std::uint8_t, 4> networkAddress_{127, 0, 0, 1};
    std::function<bool(std::uint16_t)> portOpener_;
    std::uint16_t nextPort_ = 49152;
    std::atomic<bool> refuseConnections_{false};
    std::atomic<bool> heartbeatAnswers_{true};
    std::atomic<bool> handshakeAnswers_{true};
    std::atomic<SimAfcHostility> afcHostility_{SimAfcHostility::None};
    std::atomic<int> sessionsStarted_{0};
    std::atomic<int> sessionsStopped_{0};
    std::atomic<int> pairRequests_{0};
    std::atomic<int> heartbeatsAnswered_{0};
    SimServiceState services_;
    SimSilence silence_;
};

}  // namespace simdevice
