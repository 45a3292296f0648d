#pragma once

// Fills the process-wide registries in their order: scheme responders, the page-plugin
// classes and the event handlers. Once per process, before the first window; the tests of
// the running page call it as the process entry does.
void registerApplicationClasses();
