#include "logging/LgBackgroundFileSync.h"
#include "foundation/ConsolePrint.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

LgBackgroundFileSync::LgBackgroundFileSync(Runner run) : run_(std::move(run)) {}

void LgBackgroundFileSync::syncAndClose(int fd, FileSync sync) {
    {
        std::unique_lock lock(state_->mutex);
        state_->finished.wait(lock, [this] { return state_->running < kMostRunning; });
        ++state_->running;
    }
    run_([fd, sync = std::move(sync), state = state_] {
        if (sync(fd) != 0) {
            foundation::printToConsole("LgFileLogger: Failed to synchronize file: {}\n",
                       std::strerror(errno));
        }
        if (::close(fd) != 0) {
            foundation::printToConsole("LgFileLogger: Failed to close file: {}\n", std::strerror(errno));
        }
        std::lock_guard lock(state->mutex);
        --state->running;
        state->finished.notify_all();
    });
}

void LgBackgroundFileSync::wait() {
    std::unique_lock lock(state_->mutex);
    state_->finished.wait(lock, [this] { return state_->running == 0; });
}
