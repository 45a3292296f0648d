#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fakedevice/FakeMobileDevice.h"
#include "foundation/Json.h"
#include "foundation/ScratchFolder.h"

namespace foundation {
// Values show as JSON in test failures.
inline void PrintTo(const Value& value, std::ostream* out) { *out << json::write(value); }
}  // namespace foundation

// A fake phone over a scratch folder: "media" is its media area and "app" the container
// of the application "com.example.notes".
class DeviceFolderTest : public testing::Test {
protected:
    static constexpr const char* kAppId = "com.example.notes";

    DeviceFolderTest() {
        std::filesystem::create_directories(media());
        std::filesystem::create_directories(container() + "/Documents");
        device = std::make_shared<testsupport::FakeMobileDevice>(media());
        device->addApplication({kAppId, "Notes", container(), true, {}});
    }

    std::string media() const { return folder / "media"; }
    std::string container() const { return folder / "app"; }

    // Makes a file (and its folders) below `root` with the given content.
    static void put(const std::string& root, const std::string& path, const std::string& content) {
        const std::filesystem::path file = root + "/" + path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    foundationtest::ScratchFolder folder;
    std::shared_ptr<testsupport::FakeMobileDevice> device;
};
