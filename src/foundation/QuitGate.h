#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace foundation {

class DispatchGroup;

// The application's quit as the work it must wait for sees it. Work that the process's end
// must not cut off part-way (a copy writing a file, a load holding copies in a folder of its
// own) enters when it starts, saying how it is stopped. Once the quit has begun nothing enters
// any more, and the quit stops what is inside and waits for it. Whether the quit has begun is
// tested under the same lock that lets work in, so work starting while the quit begins is
// either stopped and waited for or does not start at all. Thread-safe; copies are handles
// of the same gate.
class QuitGate {
public:
    QuitGate();

    // The application's own gate, which it closes when it quits. Never destroyed: work on
    // the pool may still hold passes while the process ends.
    static QuitGate& application();

    // Held by work while it runs; letting it go tells the quit that the work has ended.
    class Pass {
    public:
        ~Pass();
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

    private:
        friend class QuitGate;
        struct State;
        Pass(std::shared_ptr<State> state, std::uint64_t id);
        std::shared_ptr<State> state_;
        std::uint64_t id_;
    };

    // A pass for work starting now, which `stop` stops should the quit begin while it runs;
    // null once the quit has begun: the work must not start. `stop` runs on the quitting
    // thread, must not wait for the work, and may come just as the work lets its pass go.
    [[nodiscard]] std::unique_ptr<Pass> enter(std::function<void()> stop);
    // Begins the quit: from now on nothing enters, and every work inside is stopped, with
    // `finishing` (when given) entered for it until its pass goes.
    void close(const std::shared_ptr<DispatchGroup>& finishing);
    bool closed() const;

private:
    std::shared_ptr<Pass::State> state_;
};

}  // namespace foundation
