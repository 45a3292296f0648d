#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace simdevice {

// What the simulated device's relays, proxies and DeviceLink services share across their
// connections, and what tests set up and look at. Fields are read and changed only
// through locked().
class SimServiceState {
public:
    struct Fields {
        std::vector<std::string> syslogMessages;  // streamed by each syslog connection
        foundation::Data screenshot;              // the screenshot service's image bytes
        // File relay sets: source name to files (archive path to contents).
        std::map<std::string, std::map<std::string, std::string>> fileSets;
        std::set<std::string> archives;  // archived through the installation proxy
        // The installation proxy answers a lookup with records "in progress" without end.
        bool endlessLookups = false;
        // Every message a service received, by service name.
        std::map<std::string, std::vector<foundation::Value>> received;
    };
    SimServiceState();

    template <class Work>
    auto locked(Work work) {
        std::lock_guard lock(mutex_);
        return work(fields_);
    }
    void record(const std::string& service, const foundation::Value& message);

    // Notification proxy connections: the names each observes; a posted notification is
    // relayed to every connection that observes it.
    struct Observer {
        int fd = -1;
        std::mutex writeMutex;  // relays come from other connections' threads
        std::set<std::string> names;
    };
    void addObserver(const std::shared_ptr<Observer>& observer);
    void removeObserver(const std::shared_ptr<Observer>& observer);
    void observe(const std::shared_ptr<Observer>& observer, const std::string& name);
    // Returns how many connections the notification reached.
    int postNotification(const std::string& name);
    // Waits until some connection observes the name; false when none did within the limit.
    bool waitForObserver(const std::string& name,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

private:
    std::mutex mutex_;
    Fields fields_;
    std::vector<std::shared_ptr<Observer>> observers_;
    std::condition_variable observed_;
};

}  // namespace simdevice
