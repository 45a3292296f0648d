#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace httptest {

// Sets an environment variable (empty: unsets it) for the life of the object.
struct ScopedVariable {
    const char* name;
    std::optional<std::string> old;
    ScopedVariable(const char* n, const std::string& value) : name(n) {
        if (const char* was = std::getenv(n)) old = was;
        value.empty() ? (void)::unsetenv(n) : (void)::setenv(n, value.c_str(), 1);
    }
    ~ScopedVariable() { old ? (void)::setenv(name, old->c_str(), 1) : (void)::unsetenv(name); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
};

}  // namespace httptest
