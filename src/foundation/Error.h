#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "foundation/Value.h"

namespace foundation {

// A failure reported as a value: a domain, a code, a message for people and any details.
struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string message;
    Value userInfo;

    // "<domain> <code>: <message>", for logs.
    std::string description() const;
};

// An exception that carries a name and a reason, thrown where the system raises named
// failures; caught at plugin, handler, job and responder boundaries.
class NamedException : public std::runtime_error {
public:
    NamedException(std::string name, std::string reason);
    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }

private:
    std::string name_;
    std::string reason_;
};

}  // namespace foundation
