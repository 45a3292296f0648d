#include "platform/webkit/SoftwarePainting.h"

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/webkit/GlRenderer.h"

namespace webkit {

bool SoftwarePainting::paintsOnCpu(const GraphicsFacts& facts) {
    if (facts.cpuRenderingSetting) return false;
    if (!facts.hasRenderNode) return true;
    std::string renderer = facts.renderer;
    std::transform(renderer.begin(), renderer.end(), renderer.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const char* software : {"llvmpipe", "softpipe", "swrast"}) {
        if (renderer.find(software) != std::string::npos) return true;
    }
    return false;
}

GraphicsFacts SoftwarePainting::ofThisMachine() {
    GraphicsFacts facts;
    if (const char* set = std::getenv(kVariable)) facts.cpuRenderingSetting = set;
    glob_t found{};
    facts.hasRenderNode = ::glob("/dev/dri/renderD*", 0, nullptr, &found) == 0 && found.gl_pathc > 0;
    globfree(&found);
    if (facts.hasRenderNode && !facts.cpuRenderingSetting) facts.renderer = glRendererName();
    return facts;
}

bool SoftwarePainting::chooseBeforeFirstView() {
    if (!paintsOnCpu(ofThisMachine())) return false;
    // Overwrite off: a value that appeared meanwhile is the person's.
    ::setenv(kVariable, "1", 0);
    return true;
}

}  // namespace webkit
