#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace content {

// HTTP header fields in the order first set. Names compare without regard to letter case,
// so a responder's "content-type" replaces a "Content-Type" rather than adding a second.
class HttpHeaderFields {
public:
    HttpHeaderFields() = default;
    HttpHeaderFields(std::initializer_list<std::pair<std::string, std::string>> fields);

    // Replaces the value of an existing field (keeping the name as first written).
    void set(std::string_view name, std::string value);
    void remove(std::string_view name);
    std::optional<std::string> get(std::string_view name) const;
    bool contains(std::string_view name) const { return find(name) != fields_.end(); }

    const std::vector<std::pair<std::string, std::string>>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }
    bool operator==(const HttpHeaderFields&) const = default;

private:
    using Fields = std::vector<std::pair<std::string, std::string>>;
    Fields::const_iterator find(std::string_view name) const;

    Fields fields_;
};

// "{Name = value; ...}", the way header dictionaries appear on the console.
std::string describeHeaders(const HttpHeaderFields& headers);

}  // namespace content
