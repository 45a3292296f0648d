#include <gtest/gtest.h>

#include <cstdint>

#include "platform/mobiledevice/StatusMapping.h"

using namespace mobiledevice;

namespace {

// The statuses the page sees for the failures users meet most.
TEST(StatusMapping, LockdownAndFileServiceFailuresGetTheFrameworkStatus) {
    struct LockdownCase {
        lockdownd_error_t error;
        std::uint32_t status;
    };
    const LockdownCase lockdown[] = {
        {LOCKDOWN_E_SUCCESS, 0},
        {LOCKDOWN_E_SESSION_INACTIVE, 0xe800001e},
        {LOCKDOWN_E_INVALID_SERVICE, 0xe8000022},
        {LOCKDOWN_E_UNKNOWN_ERROR, 0xe8000001},
    };
    for (const auto& c : lockdown) EXPECT_EQ(statusFromLockdown(c.error), c.status) << c.error;

    struct FileCase {
        afc_error_t error;
        std::uint32_t status;
    };
    const FileCase files[] = {
        {AFC_E_SUCCESS, 0},
        {AFC_E_UNKNOWN_ERROR, 0xe8000001},
        {AFC_E_OBJECT_NOT_FOUND, 0xe8000008},
        {AFC_E_OBJECT_IS_DIR, 0xe8000009},
        {AFC_E_PERM_DENIED, 0xe800000a},
        {AFC_E_OBJECT_EXISTS, 0xe8000010},
        {AFC_E_OBJECT_BUSY, 0xe8000011},
        {AFC_E_NO_SPACE_LEFT, 0xe80000c0},
    };
    for (const auto& c : files) EXPECT_EQ(statusFromFileService(c.error), c.status) << c.error;

    // Lockdown's own error names, as a session or service start meets them.
    EXPECT_EQ(statusFromLockdownError("PasswordProtected"), 0xe800001au);
    EXPECT_EQ(statusFromLockdownError("InvalidHostID"), 0xe800001cu);
    EXPECT_EQ(statusFromLockdownError("InvalidService"), 0xe8000022u);
    EXPECT_EQ(statusFromLockdownError("EscrowLocked"), 0xe8000081u);
    EXPECT_EQ(statusFromLockdownError("invalidhostid"), 0xe8000001u);
    EXPECT_EQ(statusFromLockdownError(""), 0xe8000001u);

    EXPECT_EQ(statusFromHouseArrestError("ApplicationLookupFailed"), 0xe80000b8u);
    EXPECT_EQ(statusFromHouseArrestError("PathMissing"), 0xe80000bcu);
    EXPECT_EQ(statusFromHouseArrestError("SomethingNew"), 0xe8000001u);
}

}  // namespace
