#pragma once

#include <string>

#include "foundation/Error.h"

// The domain and codes of every error the HTTP client makes.
inline constexpr const char* NetworkRequestErrorDomain = "NetHTTPRequestErrorDomain";

enum NetErrorCode : int {
    NetConnectionFailureErrorType = 1,
    NetRequestTimedOutErrorType = 2,
    NetAuthenticationErrorType = 3,
    NetRequestCancelledErrorType = 4,
    NetUnableToCreateRequestErrorType = 5,
    NetInternalErrorWhileBuildingRequestType = 6,
    NetInternalErrorWhileApplyingCredentialsType = 7,
    NetFileManagementError = 8,
    NetTooMuchRedirectionErrorType = 9,
    NetUnhandledExceptionError = 10,
    NetCompressionError = 11,
};

foundation::Error makeNetError(NetErrorCode code, std::string message);
