// Thread-sanitizer builds only: GLib's main context hands jobs from other threads to the
// main thread under futex-based locks of its own, which the race detector cannot see, so
// every hand-off through MainQueue would read as a race. Wrapping the callbacks that
// sources are given marks the hand-off: released where the callback is set, acquired
// where it runs.
#if defined(__SANITIZE_THREAD__)

#include <dlfcn.h>
#include <glib.h>

extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

namespace {

struct WrappedCallback {
    GSourceFunc function;
    gpointer data;
    GDestroyNotify destroy;
};

gboolean callWrapped(gpointer data) {
    auto* wrapped = static_cast<WrappedCallback*>(data);
    __tsan_acquire(wrapped);
    return wrapped->function(wrapped->data);
}

void destroyWrapped(gpointer data) {
    auto* wrapped = static_cast<WrappedCallback*>(data);
    __tsan_acquire(wrapped);
    if (wrapped->destroy != nullptr) wrapped->destroy(wrapped->data);
    delete wrapped;
}

}  // namespace

extern "C" void g_source_set_callback(GSource* source, GSourceFunc function, gpointer data,
                                      GDestroyNotify destroy) {
    using Real = void (*)(GSource*, GSourceFunc, gpointer, GDestroyNotify);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "g_source_set_callback"));
    auto* wrapped = new WrappedCallback{function, data, destroy};
    __tsan_release(wrapped);
    real(source, callWrapped, wrapped, destroyWrapped);
}

#endif
