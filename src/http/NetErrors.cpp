#include "http/NetErrors.h"

foundation::Error makeNetError(NetErrorCode code, std::string message) {
    foundation::Error error;
    error.domain = NetworkRequestErrorDomain;
    error.code = code;
    error.message = std::move(message);
    return error;
}
