#include <gtest/gtest.h>

#include "platform/webkit/SoftwarePainting.h"

namespace {

using webkit::GraphicsFacts;
using webkit::SoftwarePainting;

// Software GL (no render node, or Mesa's software renderers) paints on the CPU; a GPU keeps
// GPU painting; a value the person set is left as it is, whatever it says.
TEST(SoftwarePainting, SoftwareGlPaintsOnTheCpuUnlessThePersonChose) {
    EXPECT_TRUE(SoftwarePainting::paintsOnCpu({std::nullopt, false, ""}));
    EXPECT_TRUE(SoftwarePainting::paintsOnCpu({std::nullopt, false, "Mesa Intel(R) UHD Graphics 620"}));
    for (const char* software : {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Mesa DRI swrast",
                                 "LLVMPIPE"}) {
        EXPECT_TRUE(SoftwarePainting::paintsOnCpu({std::nullopt, true, software})) << software;
    }
    for (const char* gpu : {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "AMD Radeon RX 6600 (radeonsi)",
                            "NVIDIA GeForce RTX 3060/PCIe/SSE2", ""}) {
        EXPECT_FALSE(SoftwarePainting::paintsOnCpu({std::nullopt, true, gpu})) << gpu;
    }
    for (const char* chosen : {"0", "1", ""}) {
        EXPECT_FALSE(SoftwarePainting::paintsOnCpu({std::string(chosen), false, ""})) << chosen;
        EXPECT_FALSE(SoftwarePainting::paintsOnCpu({std::string(chosen), true, "llvmpipe"})) << chosen;
    }
}

}  // namespace
