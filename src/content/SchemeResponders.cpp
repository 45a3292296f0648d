#include "content/SchemeResponders.h"

#include "content/AppFetchHandler.h"
#include "content/DynamicResponse.h"
#include "content/StaticFileResponse.h"

namespace content {

void registerSchemeResponders() {
    CustomSchemeHandler::addResponseHandlerClass(AppFetchHandler::responderClass());
    CustomSchemeHandler::addResponseHandlerClass(StaticFileResponse::responderClass());
    CustomSchemeHandler::addResponseHandlerClass(DynamicResponse::responderClass());
}

}  // namespace content
