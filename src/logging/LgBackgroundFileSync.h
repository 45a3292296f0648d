#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// Brings files that are done with to the disk, and closes them, away from the queue that
// wrote them: waiting for the disk there would hold up every record behind it. Whoever
// needs the files on disk waits for them with wait().
class LgBackgroundFileSync {
public:
    using FileSync = std::function<int(int fd)>;
    using Runner = std::function<void(std::function<void()>)>;

    // Jobs go to `run`, which must not wait for the caller of wait().
    explicit LgBackgroundFileSync(Runner run);

    // Takes `fd` over: synchronises it with `sync`, then closes it. Waits first while
    // kMostRunning files are still on their way, so that a disk slower than the writer
    // cannot pile up open files.
    void syncAndClose(int fd, FileSync sync);
    // Returns once every file handed over so far is synchronised and closed.
    void wait();

    static constexpr int kMostRunning = 2;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable finished;
        int running = 0;
    };

    const Runner run_;
    // Shared with the jobs, which may outlive this object.
    const std::shared_ptr<State> state_ = std::make_shared<State>();
};
