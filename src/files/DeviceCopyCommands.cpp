#include "files/DeviceCopyCommands.h"

#include <exception>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "content/ThreadPool.h"
#include "device/DeviceCopyDelegate.h"
#include "foundation/DispatchGroup.h"
#include "foundation/NotificationCenter.h"
#include "shell/ShellNotifications.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

// One copy as its job and its stop handler share it. While it runs it listens for the
// application's will-terminate notice, which stops it as the page's stop does and takes its
// partial file on the computer away at once: the application waits only a while for the
// copy to end, and a copy waiting for a device that does not answer may end after the
// process.
class RunningCopy : public std::enable_shared_from_this<RunningCopy> {
public:
    const std::shared_ptr<DeviceCopyDelegate> delegate = std::make_shared<DeviceCopyDelegate>();

    ~RunningCopy() { stopListening(); }

    void listenForQuit() {
        std::weak_ptr<RunningCopy> weak = weak_from_this();
        std::lock_guard lock(mutex_);
        quitObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
            kApplicationWillTerminateNotification, nullptr,
            [weak](const foundation::Notification& notice) {
                auto copy = weak.lock();
                if (!copy) return;
                copy->delegate->abandon();
                const auto* finishing = notice.get<std::shared_ptr<foundation::DispatchGroup>>(
                    kWillTerminateFinishing);
                if (!finishing || !*finishing) return;
                (*finishing)->enter();
                copy->whenEnded([group = *finishing] { group->leave(); });
            });
    }
    void stopListening() {
        foundation::NotificationCenter::ObserverId observer = 0;
        {
            std::lock_guard lock(mutex_);
            std::swap(observer, quitObserver_);
        }
        if (observer) foundation::NotificationCenter::defaultCenter().removeObserver(observer);
    }

    // Runs `then` once the copy has ended: now when it has, else from the copy's job.
    void whenEnded(std::function<void()> then) {
        {
            std::lock_guard lock(mutex_);
            if (!ended_) {
                waiting_.push_back(std::move(then));
                return;
            }
        }
        then();
    }
    void end() {
        std::vector<std::function<void()>> waiting;
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            waiting.swap(waiting_);
        }
        for (auto& then : waiting) then();
    }

private:
    std::mutex mutex_;
    foundation::NotificationCenter::ObserverId quitObserver_ = 0;
    bool ended_ = false;
    std::vector<std::function<void()>> waiting_;
};

WVBridgeHandler stopHandler(std::shared_ptr<RunningCopy> copy, std::weak_ptr<ScriptBridge> bridge,
                            std::string name) {
    return [copy = std::move(copy), bridge = std::move(bridge), name = std::move(name)](
               const Value&, WVBridgeResponseCallback reply) {
        try {
            copy->delegate->setStop(true);
            if (auto alive = bridge.lock()) alive->removeHandler(name);
            copy->whenEnded([reply] { reply(Value::null()); });
        } catch (const std::exception& exception) {
            reply(Value::dict({{"error", exception.what()}}));
        }
    };
}

}  // namespace

void DeviceCopyCommands::addTo(std::map<std::string, Plugin::Command>& commands) {
    commands["device-download"] = &download;
    commands["device-upload"] = &upload;
}

Value DeviceCopyCommands::download(Plugin& plugin, Plugin::Request& request) {
    return start(plugin, request, false);
}

Value DeviceCopyCommands::upload(Plugin& plugin, Plugin::Request& request) {
    return start(plugin, request, true);
}

Value DeviceCopyCommands::start(Plugin& plugin, Plugin::Request& request, bool toDevice) {
    const std::string to = request.data["to"].stringOr();
    if (to.empty()) return Value::dict({{"result", false}});
    if (toDevice && !Plugin::isConfinedDevicePath(to))
        return Value::dict({{"result", false}, {"error", fmt::format("Invalid device path: {}", to)}});
    if (!toDevice && !Plugin::isUsableComputerPath(to))
        return Value::dict({{"result", false}, {"error", fmt::format("Invalid computer path: {}", to)}});
    const double delay = toDevice ? 0 : request.data["delay"].toDouble().value_or(0);

    auto copy = std::make_shared<RunningCopy>();
    copy->listenForQuit();
    const std::weak_ptr<ScriptBridge> bridge = plugin.wkbridge();
    copy->delegate->setCb([bridge, progress = request.progressHandler, delay,
                           pause = plugin.copyPause()](std::int64_t bytes, std::int64_t total) {
        if (!progress.empty()) {
            if (auto alive = bridge.lock())
                alive->callHandler(progress, Value::dict({{"progress", Value::dict({{"total", total},
                                                                                    {"bytes", bytes}})}}));
        }
        if (delay > 0) pause(delay);
    });
    const std::string stopName = request.data["stopCB"].stringOr();
    if (!stopName.empty()) {
        if (auto alive = bridge.lock()) alive->registerHandler(stopName, stopHandler(copy, bridge, stopName));
    }

    ThreadPool::addAsyncJobWithBlock([copy, toDevice, node = request.node, from = request.path, to,
                                      reply = request.reply] {
        Value answer;
        try {
            bool copied = false;
            if (node) {
                node->performOnDevice([&](iMobileDevice& device) {
                    copied = toDevice ? device.uploadFileFrom(to, from, copy->delegate)
                                      : device.downloadFileTo(from, to, copy->delegate);
                });
            }
            // A stop asked for is no failure; anything else is worth a line in the log.
            if (!copied && !copy->delegate->stop())
                LogWarn("Copying {} to {} {} failed", from, toDevice ? "the device's" : "the computer's", to);
            answer = Value::dict({{"result", copied}});
        } catch (const std::exception& exception) {
            LogError("{}", exception.what());
            answer = Value::dict({{"result", false}, {"error", exception.what()}});
        }
        copy->stopListening();
        copy->end();
        if (reply) reply(answer);
    });
    return Value();
}
