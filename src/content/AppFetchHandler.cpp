#include "content/AppFetchHandler.h"

namespace content {

ResponderClass AppFetchHandler::responderClass() {
    return {"AppFetchHandler", "/fetch", nullptr,
            [] { return std::make_shared<AppFetchHandler>(); }};
}

}  // namespace content
