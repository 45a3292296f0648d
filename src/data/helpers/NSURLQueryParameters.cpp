#include "data/helpers/NSURLQueryParameters.h"

#include <utility>
#include <vector>

namespace NSURL {
namespace {

struct QueryItem {
    std::string name;
    std::optional<std::string> value;
};

std::vector<QueryItem> queryItems(const foundation::Url& url) {
    std::vector<QueryItem> items;
    if (!url.query()) return items;
    const std::string_view query = *url.query();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string_view item = query.substr(start, end - start);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            items.push_back({foundation::Url::percentDecode(item), std::nullopt});
        } else {
            items.push_back({foundation::Url::percentDecode(item.substr(0, equals)),
                             foundation::Url::percentDecode(item.substr(equals + 1))});
        }
        if (end == query.size()) break;
        start = end + 1;
    }
    return items;
}

}  // namespace

std::map<std::string, std::string> queryParameters(const foundation::Url& url) {
    std::map<std::string, std::string> parameters;
    for (auto& item : queryItems(url)) {
        if (item.value) parameters[std::move(item.name)] = std::move(*item.value);
    }
    return parameters;
}

std::optional<std::string> valueForParameter(const foundation::Url& url, std::string_view name) {
    for (auto& item : queryItems(url)) {
        if (item.name == name) return std::move(item.value);
    }
    return std::nullopt;
}

}  // namespace NSURL
