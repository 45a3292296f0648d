#include "platform/webkit/GlRenderer.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>

namespace webkit {
namespace {

constexpr unsigned kGlRenderer = 0x1F01;  // GL_RENDERER

bool hasExtension(const char* list, const char* name) {
    if (!list) return false;
    const std::size_t length = std::strlen(name);
    for (const char* at = std::strstr(list, name); at; at = std::strstr(at + 1, name)) {
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) return true;
    }
    return false;
}

// A display that needs no window system: Mesa's surfaceless platform, else the default.
EGLDisplay offscreenDisplay() {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay) {
            EGLDisplay display =
                getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (display != EGL_NO_DISPLAY) return display;
        }
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

}  // namespace

std::string glRendererName() {
    EGLDisplay display = offscreenDisplay();
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) return {};
    std::string name;
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    if (eglBindAPI(EGL_OPENGL_ES_API) && hasExtension(extensions, "EGL_KHR_no_config_context") &&
        hasExtension(extensions, "EGL_KHR_surfaceless_context")) {
        const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
        EGLContext context =
            eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
        if (context != EGL_NO_CONTEXT) {
            if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
                using GetString = const unsigned char* (*)(unsigned);
                auto getString = reinterpret_cast<GetString>(eglGetProcAddress("glGetString"));
                const unsigned char* renderer = getString ? getString(kGlRenderer) : nullptr;
                if (renderer) name = reinterpret_cast<const char*>(renderer);
                eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            }
            eglDestroyContext(display, context);
        }
    }
    eglTerminate(display);
    return name;
}

}  // namespace webkit
