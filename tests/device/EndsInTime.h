#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>

namespace devicetest {

// Runs a call that waits for a device on a thread of its own and answers its result. A
// call still waiting after the generous limit would wait for good: the test fails, and
// `release` (the device's end closing) lets the call go so that the test can end.
template <class Call>
auto endsInTime(Call call, const std::function<void()>& release,
                std::chrono::seconds limit = std::chrono::seconds(30)) {
    auto result = std::async(std::launch::async, std::move(call));
    if (result.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << "still waiting for the device after " << limit.count() << " s";
        release();
    }
    return result.get();
}

}  // namespace devicetest
