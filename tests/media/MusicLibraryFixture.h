#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/iTunesWrapper.h"
#include "shell/Settings.h"

namespace mediatest {

// A wrapper over a library in a scratch folder, with the preferences in a folder of their
// own; every metadata preference is on unless a test turns it off.
struct MusicLibraryFixture : testing::Test {
    static void SetUpTestSuite() {
        static foundationtest::ScratchFolder preferences;
        static foundationtest::ScopedEnvironment environment;
        environment.set("XDG_CONFIG_HOME", preferences.path());
    }
    void SetUp() override { Settings::settings().RestoreDefaults(); }
    void TearDown() override { Settings::settings().RestoreDefaults(); }

    foundationtest::ScratchFolder folder;
    std::shared_ptr<music::MusicScript> script = music::MusicScript::load(
        {folder / "Music", folder / "data/index.sqlite", [] { return std::string("/$a/$b/$t"); }},
        nullptr);
    media::iTunesWrapper wrapper{script};

    std::string sourceFile(const std::string& name) {
        const std::string path = folder / name;
        std::ofstream(path) << "audio";
        return path;
    }
};

}  // namespace mediatest
