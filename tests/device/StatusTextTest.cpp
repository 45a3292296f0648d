#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "device/MobileDeviceErrors.h"

namespace {

struct TextCase {
    std::uint32_t status;
    const char* text;
};

TEST(StatusText, KnownAndUnknownStatuses) {
    const TextCase cases[] = {
        {0, "There was no error."},
        {0xe8000008, "The file could not be found."},
        {0xe80000b8, "The requested application is not a user application."},
        {0xe80000c0, "No space is available on the device."},
        // Rows that already hold a message pass through unchanged.
        {0xe80000db,
         "The device is out of storage for apps. Please remove some apps from the device and "
         "try again."},
        {0xe8008011, "This provisioning profile has expired."},
        {0xe8008001, "An unknown error has occurred."},
        // Identifiers without a message of their own are given as they stand.
        {0xe8000038, "kAMDApplicationSINFCaptureFailedError"},
    };
    for (const auto& c : cases) {
        ASSERT_NE(get_error_message(c.status), nullptr) << std::hex << c.status;
        EXPECT_STREQ(get_error_message(c.status), c.text) << std::hex << c.status;
        EXPECT_EQ(describeStatus(c.status), c.text) << std::hex << c.status;
    }
}

// The gap in the table and statuses beyond it have no words of the tables; what is shown
// for them still names the status.
TEST(StatusText, StatusesWithoutARowHaveNoTextButAreStillDescribed) {
    const TextCase cases[] = {
        {0xe80000ba, "Unknown error (0xe80000ba)"},
        {0xe80000ef, "Unknown error (0xe80000ef)"},
        {0xe8008029, "Unknown error (0xe8008029)"},
        {0xffffffff, "Unknown error (0xffffffff)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(get_error_message(c.status), nullptr) << std::hex << c.status;
        EXPECT_EQ(describeStatus(c.status), c.text) << std::hex << c.status;
    }
}

// Every status of the framework's ranges has words, and every identifier row resolves to
// a message (only two identifiers have none), which catches a mis-sorted message table.
TEST(StatusText, EveryKnownStatusHasAMessage) {
    auto check = [](std::uint32_t first, std::uint32_t last) {
        for (std::uint32_t status = first; status <= last; ++status) {
            if (status == 0xe80000ba) continue;
            const std::string text = describeStatus(status);
            EXPECT_EQ(text.find("Unknown error"), std::string::npos) << std::hex << status;
            const bool identifier = text.rfind("kAMD", 0) == 0 || text.rfind("kMobile", 0) == 0;
            if (status != 0xe8000038 && status != 0xe800007d) {
                EXPECT_FALSE(identifier) << std::hex << status << " " << text;
            } else {
                EXPECT_TRUE(identifier) << std::hex << status;
            }
        }
    };
    check(0xe8000001, 0xe80000ee);
    check(0xe8008001, 0xe8008028);
}

}  // namespace
