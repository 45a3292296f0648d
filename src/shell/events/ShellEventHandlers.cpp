#include "shell/events/ShellEventHandlers.h"

#include "shell/events/AppEventHandler.h"
#include "shell/events/PasteboardEventHandler.h"
#include "shell/events/SystemEventHandler.h"
#include "shell/events/WindowEventHandler.h"

namespace ShellEventHandlers {

void addToEventPlugin() {
    WVEventPlugin::addHandlerClassForEvent(SystemEventHandler::handlerClass(), "system");
    WVEventPlugin::addHandlerClassForEvent(AppEventHandler::handlerClass(), "app");
    WVEventPlugin::addHandlerClassForEvent(PasteboardEventHandler::handlerClass(), "pasteboard");
    WVEventPlugin::addHandlerClassForEvent(WindowEventHandler::handlerClass(), "window");
}

}  // namespace ShellEventHandlers
