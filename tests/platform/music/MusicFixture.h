#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "foundation/ScratchFolder.h"
#include "platform/music/MusicScript.h"

namespace musictest {

// A library in a scratch folder: tracks under "Music", the index under "data".
struct MusicFixture : testing::Test {
    foundationtest::ScratchFolder folder;
    std::string pattern = "/$a/$b/$n $t";

    music::MusicLibraryLocation location() {
        return {folder / "Music", folder / "data/MusicLibrary.sqlite", [this] { return pattern; }};
    }

    std::shared_ptr<music::MusicScript> script = music::MusicScript::load(location(), nullptr);

    music::ScriptOutcome run(const std::string& handler, const foundation::Array& arguments) {
        return script->run(handler, arguments);
    }
    // The handler's text answer, or "<none>".
    std::string text(const std::string& handler, const foundation::Array& arguments) {
        auto outcome = run(handler, arguments);
        EXPECT_FALSE(outcome.error) << *outcome.error;
        return outcome.result ? outcome.result->stringValue() : "<none>";
    }

    // A source file outside the library.
    std::string sourceFile(const std::string& name, const std::string& bytes = "ID3 audio") {
        foundationtest::writeText(folder / name, bytes);
        return folder / name;
    }
    std::string importTrack(const std::string& name) {
        return text("add_track_to_itunes", {sourceFile(name)});
    }

    // The paths of a playlist file as another player reads them: every line that is
    // neither empty nor a "#" directive.
    static std::vector<std::string> m3uPaths(const std::string& path) {
        std::ifstream in(path);
        std::string line;
        std::vector<std::string> paths;
        std::getline(in, line);
        EXPECT_EQ(line, "#EXTM3U");
        while (std::getline(in, line)) {
            if (!line.empty() && line[0] != '#') paths.push_back(line);
        }
        return paths;
    }
};

}  // namespace musictest
