#pragma once

#include "device/AMService.h"

// A diagnostics relay's reply succeeded when its "Status" is "Success"; any other status
// becomes the service's lasterror.
inline bool diagnosticsReplySucceeded(AMService& service, const foundation::Value& reply) {
    const foundation::Value& status = reply["Status"];
    if (status.isNil()) {
        service.setLasterror("Reply did not contain Status entry");
        return false;
    }
    if (status.stringOr() == "Success") return true;
    service.setLasterror(status.stringOr("Status"));
    return false;
}
