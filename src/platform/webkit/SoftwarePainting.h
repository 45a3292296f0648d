#pragma once

#include <optional>
#include <string>

namespace webkit {

// What decides where the browser engine paints.
struct GraphicsFacts {
    // WEBKIT_SKIA_ENABLE_CPU_RENDERING as the person set it, if they did.
    std::optional<std::string> cpuRenderingSetting;
    // Whether the machine has a GPU render node (/dev/dri/renderD*).
    bool hasRenderNode = false;
    // The GL renderer's name ("llvmpipe (LLVM 15.0.6, 256 bits)"); empty when unknown.
    std::string renderer;
};

// Where GL is software (Mesa's llvmpipe, softpipe or swrast), the engine's GPU painting
// threads run the GL driver on the CPU, and that driver crashes the web process now and
// then: the engine is asked to paint on the CPU instead. A GPU keeps GPU painting, and a
// setting of the person's is never overridden.
class SoftwarePainting {
public:
    static constexpr const char* kVariable = "WEBKIT_SKIA_ENABLE_CPU_RENDERING";

    // Whether to ask for CPU painting.
    static bool paintsOnCpu(const GraphicsFacts& facts);
    // This machine's facts; GL is asked for its renderer only where a render node exists.
    static GraphicsFacts ofThisMachine();
    // Sets the variable where this machine calls for it; before the first view is made,
    // while the process has no other threads. True when it was set.
    static bool chooseBeforeFirstView();
};

}  // namespace webkit
