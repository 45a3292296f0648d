#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/AMApplication.h"
#include "foundation/Value.h"
#include "platform/mobiledevice/FileService.h"
#include "platform/mobiledevice/MobileDevice.h"

class AFCApplicationDirectory;
class AFCCrashLogDirectory;
class AFCMediaDirectory;
class AFCRootDirectory;
class AMHeartBeatService;
class AMSpringboardServices;

// A started service as the framework hands it out: a plain socket, or a service
// connection when the service was started through the secure call.
struct AMServiceHandle {
    int socket = -1;
    mobiledevice::AMDServiceConnectionRef connection;
};

class AMFileRelay;
class AMIOSDiagnosticsRelay;
class AMInstallationProxy;
class AMMobileDiagnosticsRelay;
class AMMobileSync;
class AMNotificationProxy;
class AMScreenshotService;
class AMServiceDelegate;
class AMSyslogRelay;

// One attached lockdown device. Every operation opens the connection and session it
// needs and closes again what it opened; failures leave the framework status in
// lastcode() and words in lasterror(). Safe to use from several threads: each operation
// runs under the device's own lock. What the main thread asks of it (identity, last error,
// whether it wraps a handle, forgetting the handle) never waits for that lock, which an
// operation holds while it waits for the device.
class AMDevice : public std::enable_shared_from_this<AMDevice> {
public:
    // Makes the device for an attachment: connects, reads the name and identifier,
    // disconnects. Null (and the reason logged) when the device cannot be reached.
    static std::shared_ptr<AMDevice> deviceFrom(const mobiledevice::AMDeviceRef& handle);

    AMDevice() = default;
    ~AMDevice();
    AMDevice(const AMDevice&) = delete;
    AMDevice& operator=(const AMDevice&) = delete;

    bool isDevice(const mobiledevice::AMDeviceRef& handle) const;
    // The handle is let go now, or by the operation under way when it ends.
    void forgetDevice();
    std::string udid() const;
    std::string deviceName() const;
    std::uint8_t interfaceType() const;
    std::int32_t lastcode() const;
    std::string lasterror() const;
    void setLasterror(std::string text);
    void setLastcode(std::int32_t code);
    std::string description() const;
    // How long the device has to answer (fixed when it was made).
    const mobiledevice::DeviceTimeLimits& timeLimits() const { return timeLimits_; }

    bool deviceConnect();
    bool deviceDisconnect();
    bool startSession();
    bool stopSession();
    bool startNewSession();
    void stopOpenedSession();

    // Keeps the connection and session open over a run of operations, which then share
    // them instead of each paying for a session of its own; on destruction it closes what
    // it opened. The device's lock is not held in between, so other threads' operations go
    // on and may use the session too. When nothing opens, each operation tries on its own.
    class HeldSession {
    public:
        explicit HeldSession(const std::shared_ptr<AMDevice>& device);
        ~HeldSession();
        HeldSession(const HeldSession&) = delete;
        HeldSession& operator=(const HeldSession&) = delete;

    private:
        std::shared_ptr<AMDevice> device_;
        bool connection_ = false;
        bool session_ = false;
    };

    // Ends the session and connection left open, once an operation under way has ended.
    void applicationWillTerminate();

    // Lockdown values; nil when missing or unreachable. Empty key or domain means none.
    foundation::Value deviceValueForKeyInDomain(const std::string& key, const std::string& domain);
    foundation::Value deviceValueForKey(const std::string& key);
    foundation::Value allDeviceValuesForDomain(const std::string& domain);
    std::string productType();
    std::string deviceClass();
    std::string serialNumber();
    std::string productVersion();

    // Whether this computer holds a pair record that the device still accepts.
    bool paired();
    bool pair();
    bool unpair();

    // Services: plain first, then secure with the options.
    bool startServiceWithOptionsReturnHandleSecure(const std::string& name,
                                                   const foundation::Value& options,
                                                   AMServiceHandle* handle, bool* secure);
    bool startServiceReturnHandleSecure(const std::string& name, AMServiceHandle* handle,
                                        bool* secure);
    // One attempt of the requested kind.
    bool startServiceOutServiceConnectionOptionsInSecure(const std::string& name,
                                                         AMServiceHandle* handle,
                                                         const foundation::Value& options,
                                                         bool secure);
    // A socket to an application's container, or -1. The caller holds a session.
    int startApplicationHouseArrestService(const std::string& bundleId);

    // A file service client, inside the caller's session; null with lastcode and lasterror
    // set when the service does not start.
    mobiledevice::AFCConnectionRef startFileService(const std::string& name,
                                                    const foundation::Value& options);
    // An application's container: the whole container, else its documents; null with
    // "Unable to find bundle with id: ..." when neither opens.
    mobiledevice::AFCConnectionRef startApplicationFileService(const std::string& bundleId);

    // Makes a service object inside a session of its own (opened and closed here). The
    // class gives `static std::shared_ptr<T> create(const std::shared_ptr<AMDevice>&, args...)`.
    template <class Service, class... Args>
    std::shared_ptr<Service> newServiceHandler(const Args&... args);
    std::shared_ptr<AFCMediaDirectory> newAFCMediaDirectory();
    std::shared_ptr<AFCCrashLogDirectory> newAFCCrashLogDirectory();
    std::shared_ptr<AFCRootDirectory> newAFCRootDirectory();
    std::shared_ptr<AFCApplicationDirectory> newAFCApplicationDirectory(const std::string& bundleId);
    std::shared_ptr<AMSpringboardServices> newAMSpringboardServices();
    std::shared_ptr<AMHeartBeatService> newHeartbeatService();
    std::shared_ptr<AMHeartBeatService> heartbeatService() const;

    // Further services, each made inside a session of its own; null when it does not start.
    std::shared_ptr<AMInstallationProxy> newAMInstallationProxyWithDelegate(
        const std::shared_ptr<AMServiceDelegate>& delegate);
    // The listener hears each log message on the main thread.
    std::shared_ptr<AMSyslogRelay> newAMSyslogRelay(
        std::function<void(const std::string& message)> listener);
    std::shared_ptr<AMFileRelay> newAMFileRelay();
    std::shared_ptr<AMIOSDiagnosticsRelay> newAMIOSDiagnosticsRelay();
    std::shared_ptr<AMMobileDiagnosticsRelay> newAMMobileDiagnosticsRelay();
    std::shared_ptr<AMNotificationProxy> newAMNotificationProxy();
    std::shared_ptr<AMMobileSync> newAMMobileSync();
    std::shared_ptr<AMScreenshotService> newAMScreenshotService();

    // Installed applications: the attribute list asked for, and the raw lookup records
    // keyed by bundle identifier (nil on failure).
    foundation::Value defaultReturnAttributes() const;
    void setApplicationAttributes(std::optional<std::vector<std::string>> attributes);
    foundation::Value lookupApplications();
    // The lookup's records as applications; nullopt when the lookup fails.
    std::optional<std::vector<AMApplication>> installedApplications();
    std::optional<AMApplication> installedApplicationWithId(const std::string& bundleId);

private:
    bool initWithDeviceOrBust(const mobiledevice::AMDeviceRef& handle, std::string* error);
    // Status 0 answers true; anything else records the failure and answers false.
    bool checkStatus(mobiledevice::AMDStatus status, const char* operation, int line);
    void recordFailure(mobiledevice::AMDStatus status, std::string text);
    // Under mutex_: whether a handle is held; one forgotten meanwhile is let go here.
    bool attached();
    // Opens what is not open yet; closeOpened closes only what this call opened.
    struct Opened {
        bool connection = false;
        bool session = false;
    };
    bool openConnection(Opened* opened);
    bool openSession(Opened* opened);
    void closeOpened(const Opened& opened);

    mutable std::recursive_mutex mutex_;
    mobiledevice::AMDeviceRef device_;
    // The handle wrapped, for isDevice(); and whether it was forgotten.
    std::atomic<const void*> handleIdentity_{nullptr};
    std::atomic<bool> forgotten_{false};
    std::atomic<std::int32_t> lastcode_{0};
    mutable std::mutex errorMutex_;  // lasterror_ only; never held while the device is asked
    std::string lasterror_;
    // Fixed at creation, before the device is handed to anyone.
    std::string deviceName_;
    std::string udid_;
    mobiledevice::DeviceTimeLimits timeLimits_;
    std::optional<std::vector<std::string>> applAttributes_;
    bool connected_ = false;
    bool insession_ = false;
    std::atomic<std::uint8_t> interfaceType_{0};
    bool openedNewSession_ = false;
    std::shared_ptr<AMHeartBeatService> heartbeatService_;
};

template <class Service, class... Args>
std::shared_ptr<Service> AMDevice::newServiceHandler(const Args&... args) {
    std::lock_guard lock(mutex_);
    Opened opened;
    if (!openConnection(&opened)) return nullptr;
    std::shared_ptr<Service> service;
    std::string kept;
    if (openSession(&opened)) {
        service = Service::create(shared_from_this(), args...);
        kept = lasterror();
    }
    closeOpened(opened);
    if (!service) setLasterror(kept);
    return service;
}
