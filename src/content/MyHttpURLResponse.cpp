#include "content/MyHttpURLResponse.h"

namespace content {

void MyHttpURLResponse::setValueForHeader(std::optional<std::string> value,
                                          std::string_view header) {
    if (value) {
        headers_.set(header, std::move(*value));
    } else {
        headers_.remove(header);
    }
}

}  // namespace content
