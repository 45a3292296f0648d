#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace foundationtest {

// Sets or clears environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
public:
    void set(const char* name, const std::string& value) {
        save(name);
        setenv(name, value.c_str(), 1);
    }
    void unset(const char* name) {
        save(name);
        unsetenv(name);
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }

private:
    void save(const char* name) {
        if (saved_.count(name)) return;
        const char* old = std::getenv(name);
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace foundationtest
