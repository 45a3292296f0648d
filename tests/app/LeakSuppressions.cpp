// GTK, WebKitGTK and the libraries under them keep caches for the life of the process
// (fonts, the script engine's heap, type data) that the leak checker reports at exit. Their
// stacks stop inside those libraries, so a leak that passes through our code still shows.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libjavascriptcoregtk\n"
           "leak:libwebkit2gtk\n"
           "leak:libfontconfig\n"
           "leak:libgtk-3\n"
           "leak:libgdk-3\n"
           "leak:libpango\n"
           "leak:libharfbuzz\n"
           "leak:libcairo\n"
           "leak:libglib-2.0\n"
           "leak:libgobject-2.0\n"
           "leak:libgio-2.0\n"
           "leak:libdbus-1\n"
           "leak:libatk\n"
           "leak:libatspi\n"
           // libimobiledevice 1.3 leaves the TLS state of a lockdown session whose simulated
           // phone went away mid-session; the stack stops inside libcrypto.
           "leak:libcrypto.so\n";
}
