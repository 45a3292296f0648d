#include "support/headlesspage/HeadlessPage.h"

#include <jsc/jsc.h>

#include "foundation/MainQueue.h"

// JavaScriptCore keeps some of its allocations behind pointers of its own heap, where the
// leak checker cannot see them; those reports are not about our code.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libjavascriptcoregtk\n";
}
// Its collector and compiler threads synchronise through primitives of its own, which the
// race detector does not understand, and stop threads with signals whose handlers touch
// errno. GLib's allocations are left out for the same reason (futex-based locks).
extern "C" const char* __tsan_default_suppressions() {
    return "race:libjavascriptcoregtk\n"
           "signal:libjavascriptcoregtk\n"
           "called_from_lib:libglib-2.0.so.0\n";
}

namespace testsupport {

namespace {

constexpr char kShim[] = R"shim(
var window = this;
var console = {
    log: function() {
        var parts = [];
        for (var i = 0; i < arguments.length; i++) {
            var a = arguments[i];
            parts.push(typeof a == 'string' ? a : JSON.stringify(a));
        }
        __console(parts.join(' '));
    }
};
function setTimeout(fn, delay) { __setTimeout(fn); return 0; }
var document = {
    createElement: function(tag) {
        var element = { tagName: tag, style: {}, attached: false, _src: '' };
        Object.defineProperty(element, 'src', {
            get: function() { return this._src; },
            set: function(url) {
                this._src = String(url);
                if (this.attached) __navigate(this._src);
            }
        });
        return element;
    },
    documentElement: {
        children: [],
        appendChild: function(element) {
            this.children.push(element);
            element.attached = true;
            if (element._src) __navigate(element._src);
            return element;
        },
        removeChild: function(element) {
            this.children = this.children.filter(function(e) { return e !== element; });
            element.attached = false;
            return element;
        }
    }
};
)shim";

// One virtual machine for every page of the process, never released: tearing a machine
// down runs JavaScriptCore's own clean-up, which the sanitizers misread as faults of ours
// (its shared pointers are resolved to our instrumented copies of the library code).
JSCVirtualMachine* sharedMachine() {
    static JSCVirtualMachine* const machine = jsc_virtual_machine_new();
    return machine;
}

}  // namespace

std::shared_ptr<HeadlessPage> HeadlessPage::create() {
    std::shared_ptr<HeadlessPage> page(new HeadlessPage());
    page->install();
    return page;
}

HeadlessPage::HeadlessPage() : context_(jsc_context_new_with_virtual_machine(sharedMachine())) {}

HeadlessPage::~HeadlessPage() {
    g_object_unref(context_);
}

void HeadlessPage::install() {
    // The natives get a raw pointer: they only run inside this page's own evaluations,
    // while it is alive. Timers and navigations go through the main loop and check.
    auto define = [this](const char* name, GCallback callback, GType parameter) {
        JSCValue* function = jsc_value_new_function(context_, name, callback, this, nullptr,
                                                    G_TYPE_NONE, 1, parameter);
        jsc_context_set_value(context_, name, function);
        g_object_unref(function);
    };
    define("__console", G_CALLBACK(consoleLog), G_TYPE_STRING);
    define("__setTimeout", G_CALLBACK(setTimeoutNative), JSC_TYPE_VALUE);
    define("__navigate", G_CALLBACK(navigateNative), G_TYPE_STRING);
    evaluate(kShim);
}

std::optional<std::string> HeadlessPage::evaluate(const std::string& script) {
    JSCValue* result =
        jsc_context_evaluate(context_, script.data(), static_cast<gssize>(script.size()));
    std::optional<std::string> text;
    if (jsc_context_get_exception(context_) != nullptr) {
        keepException();
    } else if (result != nullptr && !jsc_value_is_undefined(result)) {
        char* chars = jsc_value_to_string(result);
        text = chars;
        g_free(chars);
    }
    if (result != nullptr) g_object_unref(result);
    return text;
}

void HeadlessPage::keepException() {
    JSCException* exception = jsc_context_get_exception(context_);
    if (exception == nullptr) return;
    char* report = jsc_exception_report(exception);
    errors_.emplace_back(report != nullptr ? report : "exception");
    g_free(report);
    jsc_context_clear_exception(context_);
}

void HeadlessPage::setNavigationHandler(std::function<void(const std::string&)> handler) {
    navigationHandler_ = std::move(handler);
}

std::vector<std::string> HeadlessPage::consoleLines() const {
    return console_;
}

std::vector<std::string> HeadlessPage::errors() const {
    return errors_;
}

void HeadlessPage::consoleLog(const char* line, void* self) {
    static_cast<HeadlessPage*>(self)->console_.emplace_back(line != nullptr ? line : "");
}

void HeadlessPage::setTimeoutNative(void* function, void* self) {
    auto* page = static_cast<HeadlessPage*>(self);
    std::weak_ptr<HeadlessPage> weakPage = page->weak_from_this();
    auto* callable = static_cast<JSCValue*>(g_object_ref(function));
    foundation::MainQueue::async([weakPage, callable] {
        if (auto alive = weakPage.lock()) {
            JSCValue* result = jsc_value_function_call(callable, G_TYPE_NONE);
            if (result != nullptr) g_object_unref(result);
            alive->keepException();
        }
        g_object_unref(callable);
    });
}

void HeadlessPage::navigateNative(const char* url, void* self) {
    auto* page = static_cast<HeadlessPage*>(self);
    std::weak_ptr<HeadlessPage> weakPage = page->weak_from_this();
    // A browser decides on a navigation after the script that started it has returned.
    foundation::MainQueue::async([weakPage, target = std::string(url != nullptr ? url : "")] {
        if (auto alive = weakPage.lock()) {
            if (alive->navigationHandler_) alive->navigationHandler_(target);
        }
    });
}

}  // namespace testsupport
