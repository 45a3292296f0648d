#include "files/DeviceCopyCommands.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "content/ThreadPool.h"
#include "device/DeviceCopyDelegate.h"
#include "foundation/QuitGate.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

// One copy as its job and its stop handler share it. It holds a pass of the application's
// quit while it runs: the quit stops it as the page's stop does and takes its partial file
// on the computer away at once, then waits a while for it to end (a copy waiting for a
// device that does not answer may end after the process).
class RunningCopy {
public:
    const std::shared_ptr<DeviceCopyDelegate> delegate = std::make_shared<DeviceCopyDelegate>();

    // False, and the copy must not start, once the application has begun to quit.
    bool enter(foundation::QuitGate gate) {
        auto pass = gate.enter([delegate = delegate] { delegate->abandon(); });
        std::lock_guard lock(mutex_);
        pass_ = std::move(pass);
        return pass_ != nullptr;
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
    // The copy's files are as it leaves them: the quit need not wait any longer.
    void end() {
        std::vector<std::function<void()>> waiting;
        std::unique_ptr<foundation::QuitGate::Pass> pass;
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            waiting.swap(waiting_);
            pass.swap(pass_);
        }
        pass.reset();
        for (auto& then : waiting) then();
    }

private:
    std::mutex mutex_;
    std::unique_ptr<foundation::QuitGate::Pass> pass_;
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
    // Once the application has begun to quit, a copy makes no file.
    if (!copy->enter(plugin.quitGate())) return Value::dict({{"result", false}});
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
            // Stopped before it began (the quit, or the page): nothing is made.
            if (node && !copy->delegate->stop()) {
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
        copy->end();
        if (reply) reply(answer);
    });
    return Value();
}
