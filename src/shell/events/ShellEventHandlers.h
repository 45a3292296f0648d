#pragma once

// The shell's own event handlers ("system", "app", "pasteboard", "window"), registered with the
// event plugin in that order. Called once, at start-up, after the plugin classes.
namespace ShellEventHandlers {

void addToEventPlugin();

}  // namespace ShellEventHandlers
