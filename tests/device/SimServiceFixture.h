#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "SimulatorFixture.h"
#include "foundation/ScratchFolder.h"

namespace devicetest {

// A paired simulated device with its media, crash-report and container folders, reached
// through libimobiledevice's own clients.
class SimServiceTest : public SimulatorTest {
protected:
    void SetUp() override {
        SimulatorTest::SetUp();
        simdevice::SimDeviceConfig config;
        config.root = scratch / "media";
        config.crashRoot = scratch / "crash";
        config.containersRoot = scratch / "containers";
        for (const auto* folder : {&config.root, &config.crashRoot, &config.containersRoot}) {
            std::filesystem::create_directories(*folder);
        }
        simulated = attachPaired(config);
        ASSERT_EQ(idevice_new_with_options(&device, config.udid.c_str(), IDEVICE_LOOKUP_USBMUX),
                  IDEVICE_E_SUCCESS);
        ASSERT_EQ(lockdownd_client_new_with_handshake(device, &lockdown, "orvandel-tests"),
                  LOCKDOWN_E_SUCCESS);
    }
    void TearDown() override {
        for (auto client : afcClients) afc_client_free(client);
        if (lockdown) lockdownd_client_free(lockdown);
        if (device) idevice_free(device);
        SimulatorTest::TearDown();
    }

    // A descriptor for the started service; freed with the test.
    lockdownd_service_descriptor_t startService(const char* name) {
        lockdownd_service_descriptor_t descriptor = nullptr;
        EXPECT_EQ(lockdownd_start_service(lockdown, name, &descriptor), LOCKDOWN_E_SUCCESS) << name;
        descriptors.emplace_back(descriptor, lockdownd_service_descriptor_free);
        return descriptor;
    }

    afc_client_t startFiles(const char* service = "com.apple.afc") {
        afc_client_t client = nullptr;
        auto descriptor = startService(service);
        if (!descriptor) return nullptr;
        EXPECT_EQ(afc_client_new(device, descriptor, &client), AFC_E_SUCCESS);
        if (client) afcClients.push_back(client);
        return client;
    }

    std::string media(const std::string& path) const { return scratch / ("media/" + path); }

    foundationtest::ScratchFolder scratch;
    std::shared_ptr<simdevice::SimDevice> simulated;
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    std::vector<afc_client_t> afcClients;
    std::vector<std::unique_ptr<lockdownd_service_descriptor,
                                lockdownd_error_t (*)(lockdownd_service_descriptor_t)>>
        descriptors;
};

// The same, with the AMDevice the hub makes for the simulated device.
class SimAMDeviceTest : public SimServiceTest {
protected:
    void SetUp() override {
        SimServiceTest::SetUp();
        if (HasFatalFailure()) return;
        am = amDevice(simulated);
        ASSERT_TRUE(am);
    }
    std::shared_ptr<AMDevice> am;
};

// Small wrappers over the AFC client for the tests' checks.
inline std::vector<std::string> takeList(char** list) {
    std::vector<std::string> items;
    for (char** item = list; item && *item; ++item) items.emplace_back(*item);
    afc_dictionary_free(list);
    return items;
}

inline std::map<std::string, std::string> fileInfo(afc_client_t afc, const std::string& path,
                                                   afc_error_t* error = nullptr) {
    char** list = nullptr;
    afc_error_t result = afc_get_file_info(afc, path.c_str(), &list);
    if (error) *error = result;
    auto items = takeList(list);
    std::map<std::string, std::string> info;
    for (std::size_t i = 0; i + 1 < items.size(); i += 2) info[items[i]] = items[i + 1];
    return info;
}

inline std::vector<std::string> listFolder(afc_client_t afc, const std::string& path,
                                           afc_error_t* error = nullptr) {
    char** list = nullptr;
    afc_error_t result = afc_read_directory(afc, path.c_str(), &list);
    if (error) *error = result;
    return takeList(list);
}

inline afc_error_t writeFile(afc_client_t afc, const std::string& path, const std::string& bytes,
                             afc_file_mode_t mode = AFC_FOPEN_WRONLY) {
    std::uint64_t handle = 0;
    afc_error_t error = afc_file_open(afc, path.c_str(), mode, &handle);
    if (error != AFC_E_SUCCESS) return error;
    std::size_t done = 0;
    while (error == AFC_E_SUCCESS && done < bytes.size()) {
        const auto chunk =
            static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - done, 1 << 18));
        std::uint32_t written = 0;
        error = afc_file_write(afc, handle, bytes.data() + done, chunk, &written);
        done += written;
        if (written == 0) break;
    }
    afc_file_close(afc, handle);
    return error;
}

inline afc_error_t readFile(afc_client_t afc, const std::string& path, std::string* bytes) {
    std::uint64_t handle = 0;
    bytes->clear();
    afc_error_t error = afc_file_open(afc, path.c_str(), AFC_FOPEN_RDONLY, &handle);
    if (error != AFC_E_SUCCESS) return error;
    std::vector<char> chunk(1 << 18);
    for (;;) {
        std::uint32_t count = 0;
        error = afc_file_read(afc, handle, chunk.data(), static_cast<std::uint32_t>(chunk.size()),
                              &count);
        if (error != AFC_E_SUCCESS || count == 0) break;
        bytes->append(chunk.data(), count);
    }
    afc_file_close(afc, handle);
    return error;
}

}  // namespace devicetest
