#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago (another process may still take it).
std::uint16_t freeLoopbackPort();
// Whether something accepts connections on the 127.0.0.1 port.
bool acceptsOnLoopback(std::uint16_t port);
// The program's path: one of the usual system folders, else the first on the PATH; empty
// when there is none.
std::string findProgram(const std::string& name);

}  // namespace testsupport
