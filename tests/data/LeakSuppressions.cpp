// Fontconfig, Pango and GIO's MIME database keep caches for the life of the process that the
// leak checker reports at exit. Their stacks stop inside those libraries, so a leak that
// passes through our code still shows.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libpango\n"
           "leak:libharfbuzz\n"
           "leak:libcairo\n"
           "leak:libglib-2.0\n"
           "leak:libgobject-2.0\n"
           "leak:libgio-2.0\n";
}
