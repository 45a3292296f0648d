#include "http/NetFormDataRequest.h"

#include <sys/stat.h>

#include <fmt/format.h>

#include <algorithm>

#include "data/helpers/NSStringHelpers.h"
#include "foundation/Json.h"
#include "http/NetTextEncoding.h"

using foundation::Data;
using foundation::Value;

namespace {

// A field value as text: a string as it is, a number in decimal, anything else as JSON.
std::string describe(const Value& value) {
    if (const auto* text = value.string()) return *text;
    if (const auto* flag = value.boolean()) return *flag ? "1" : "0";
    if (const auto* number = value.int64()) return fmt::format("{}", *number);
    if (const auto* number = value.uint64()) return fmt::format("{}", *number);
    if (const auto* number = value.real()) return fmt::format("{}", *number);
    if (value.isNil()) return "";
    return foundation::json::write(value);
}

// A name or file name inside a quoted part header: a quote or a line break would end the
// header early, so they are escaped.
std::string quotedPartName(std::string_view name) {
    std::string result;
    for (char c : name) {
        switch (c) {
            case '"':
                result += "%22";
                break;
            case '\r':
                result += "%0D";
                break;
            case '\n':
                result += "%0A";
                break;
            default:
                result += c;
        }
    }
    return result;
}

std::string lastPathComponent(const std::string& path) {
    auto end = path.find_last_not_of('/');
    if (end == std::string::npos) return path.empty() ? path : "/";
    auto slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1,
                       end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

}  // namespace

NetFormDataRequest::NetFormDataRequest(std::optional<foundation::Url> url)
    : NetHTTPRequest(std::move(url)) {
    setRequestMethod("POST");
}

std::shared_ptr<NetFormDataRequest> NetFormDataRequest::requestWithURL(
    std::optional<foundation::Url> url) {
    return std::make_shared<NetFormDataRequest>(std::move(url));
}

std::shared_ptr<NetHTTPRequest> NetFormDataRequest::copy() const {
    std::lock_guard guard(cancelledLock());
    auto other = std::make_shared<NetFormDataRequest>(url());
    copyPropertiesInto(*other);
    other->postData_ = postData_;
    other->fileData_ = fileData_;
    other->postFormat_ = postFormat_;
    other->stringEncoding_ = stringEncoding_;
    return other;
}

void NetFormDataRequest::addPostValue(const Value& value, const std::optional<std::string>& key) {
    if (!key) return;
    if (!postData_) postData_.emplace();
    postData_->push_back({*key, describe(value)});
}

void NetFormDataRequest::setPostValue(const Value& value, const std::string& key) {
    if (postData_) std::erase_if(*postData_, [&](const Field& f) { return f.key == key; });
    addPostValue(value, key);
}

void NetFormDataRequest::addData(Data data, const std::string& key,
                                 const std::optional<std::string>& fileName,
                                 const std::optional<std::string>& contentType) {
    if (!fileData_) fileData_.emplace();
    fileData_->push_back({key, fileName.value_or("file"),
                          contentType.value_or("application/octet-stream"), std::move(data)});
}

void NetFormDataRequest::setData(Data data, const std::string& key,
                                 const std::optional<std::string>& fileName,
                                 const std::optional<std::string>& contentType) {
    if (fileData_) std::erase_if(*fileData_, [&](const FilePart& f) { return f.key == key; });
    addData(std::move(data), key, fileName, contentType);
}

void NetFormDataRequest::addFile(const std::string& path, const std::string& key,
                                 const std::optional<std::string>& fileName,
                                 const std::optional<std::string>& contentType) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        failWithError(makeNetError(NetInternalErrorWhileBuildingRequestType,
                                   fmt::format("No file exists at {}", path)));
    }
    if (!fileData_) fileData_.emplace();
    fileData_->push_back(
        {key, fileName.value_or(lastPathComponent(path)),
         contentType.value_or(mimeTypeForFileAtPath(path).value_or("application/octet-stream")),
         path});
}

void NetFormDataRequest::setFile(const std::string& path, const std::string& key,
                                 const std::optional<std::string>& fileName,
                                 const std::optional<std::string>& contentType) {
    if (fileData_) std::erase_if(*fileData_, [&](const FilePart& f) { return f.key == key; });
    addFile(path, key, fileName, contentType);
}

void NetFormDataRequest::buildPostBody() {
    if (haveBuiltPostBody()) return;
    if (!postData_ && !fileData_) return NetHTTPRequest::buildPostBody();
    if (fileData_ && !fileData_->empty()) setShouldStreamPostDataFromDisk(true);
    if (postFormat_ == URLEncodedPostFormat) {
        buildURLEncodedPostBody();
    } else {
        buildMultipartFormDataPostBody();
    }
    if (error()) return;
    NetHTTPRequest::buildPostBody();
}

std::string NetFormDataRequest::charsetName() const {
    return NetTextEncoding::ianaCharsetName(stringEncoding_);
}

void NetFormDataRequest::buildURLEncodedPostBody() {
    if (fileData_ && !fileData_->empty()) {
        postFormat_ = MultipartFormDataPostFormat;
        buildMultipartFormDataPostBody();
        return;
    }
    addRequestHeader("Content-Type",
                     fmt::format("application/x-www-form-urlencoded; charset={}", charsetName()));
    setupPostBody();
    if (!postData_) return;
    std::size_t last = postData_->size() - 1;
    for (std::size_t i = 0; i < postData_->size(); ++i) {
        const Field& field = (*postData_)[i];
        appendPostString(fmt::format("{}={}{}", encodeURL(field.key, stringEncoding_),
                                     encodeURL(field.value, stringEncoding_), i < last ? "&" : ""));
    }
}

void NetFormDataRequest::buildMultipartFormDataPostBody() {
    std::string boundary = makeBoundary();
    addRequestHeader("Content-Type", fmt::format("multipart/form-data; charset={}; boundary={}",
                                                 charsetName(), boundary));
    setupPostBody();
    appendPostString(fmt::format("--{}\r\n", boundary));
    const std::string separator = fmt::format("\r\n--{}\r\n", boundary);
    bool haveFiles = fileData_ && !fileData_->empty();
    if (postData_) {
        for (std::size_t i = 0; i < postData_->size(); ++i) {
            const Field& field = (*postData_)[i];
            appendPostString(fmt::format("Content-Disposition: form-data; name=\"{}\"\r\n\r\n",
                                         quotedPartName(field.key)));
            appendPostString(field.value);
            if (i + 1 < postData_->size() || haveFiles) appendPostString(separator);
        }
    }
    if (haveFiles) {
        for (std::size_t i = 0; i < fileData_->size(); ++i) {
            const FilePart& part = (*fileData_)[i];
            appendPostString(
                fmt::format("Content-Disposition: form-data; name=\"{}\"; filename=\"{}\"\r\n",
                            quotedPartName(part.key), quotedPartName(part.fileName)));
            appendPostString(fmt::format("Content-Type: {}\r\n\r\n", part.contentType));
            if (const auto* path = std::get_if<std::string>(&part.data)) {
                if (!appendPostDataFromFile(*path)) return;
            } else {
                appendPostData(std::get<Data>(part.data));
            }
            if (i + 1 < fileData_->size()) appendPostString(separator);
        }
    }
    appendPostString(fmt::format("\r\n--{}--\r\n", boundary));
}

void NetFormDataRequest::appendPostString(std::string_view text) {
    auto bytes = NetTextEncoding::encode(text, stringEncoding_);
    if (bytes) appendPostData(std::string_view(*bytes));
}

std::string NetFormDataRequest::encodeURL(std::string_view text, const std::string& encoding) {
    auto bytes = NetTextEncoding::encode(text, encoding);
    if (!bytes) return "";
    std::string result;
    for (unsigned char c : *bytes) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_';
        if (plain) {
            result += static_cast<char>(c);
        } else {
            result += fmt::format("%{:02X}", c);
        }
    }
    return result;
}

std::string NetFormDataRequest::makeBoundary() {
    return "0xOrVaNdElBoUnDaRy-" + NSString::guid();
}

std::shared_ptr<NetHTTPRequest> NetFormDataRequest::makeRequestOfSameClass(
    std::optional<foundation::Url> url) const {
    return std::make_shared<NetFormDataRequest>(std::move(url));
}
