#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "foundation/Json.h"
#include "foundation/Value.h"
#include "shell/events/WVEventHandler.h"
#include "support/MainLoop.h"

// A file with the text, its folders made.
inline void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Runs one request through a handler and returns its one answer (nil when none came).
inline foundation::Value askRequest(WVEventHandler& handler, const foundation::Value& request) {
    std::optional<foundation::Value> answer;
    int answers = 0;
    handler.handleRequestEventPluginCallback(request, nullptr, [&](const foundation::Value& reply) {
        answer = reply;
        ++answers;
    });
    testsupport::runMainLoopUntil([&] { return answer.has_value(); },
                                  std::chrono::milliseconds(2000));
    EXPECT_LE(answers, 1) << foundation::json::write(request) << " answered more than once";
    return answer.value_or(foundation::Value());
}

// The same for the command `cmd` with its `data`.
inline foundation::Value askHandler(WVEventHandler& handler, const char* cmd,
                                    const foundation::Value& data = foundation::Value()) {
    foundation::Value request = foundation::Value::dict({{"cmd", cmd}});
    request.set("data", data);
    return askRequest(handler, request);
}
