#pragma once

#include <string>

#include "foundation/Error.h"

// A request's failure in words for people. A connection that could not be made names the
// host it went to and the system's reason ("Could not connect to 127.0.0.1: Connection
// refused"); any other failure is the error's own description.
namespace NetFailureText {

std::string describe(const foundation::Error& error, const std::string& host);

}  // namespace NetFailureText
