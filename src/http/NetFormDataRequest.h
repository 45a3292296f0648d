#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "http/NetHTTPRequest.h"

// The request that carries a form: named text fields and file parts, written just before
// the request is sent as an "application/x-www-form-urlencoded" body or, once a file part is
// there, as a "multipart/form-data" body streamed from disk. Its method is "POST".
class NetFormDataRequest : public NetHTTPRequest {
public:
    enum PostFormat : int { MultipartFormDataPostFormat = 0, URLEncodedPostFormat = 1 };

    struct Field {
        std::string key;
        std::string value;
    };
    struct FilePart {
        std::string key;
        std::string fileName;
        std::string contentType;
        // A path whose contents are sent, or the bytes themselves.
        std::variant<std::string, foundation::Data> data;
    };

    explicit NetFormDataRequest(std::optional<foundation::Url> url);
    static std::shared_ptr<NetFormDataRequest> requestWithURL(std::optional<foundation::Url> url);
    std::shared_ptr<NetHTTPRequest> copy() const override;

protected:
    std::shared_ptr<NetHTTPRequest> makeRequestOfSameClass(
        std::optional<foundation::Url> url) const override;

public:
    void addPostValue(const foundation::Value& value, const std::optional<std::string>& key);
    void setPostValue(const foundation::Value& value, const std::string& key);
    void addData(foundation::Data data, const std::string& key,
                 const std::optional<std::string>& fileName = std::nullopt,
                 const std::optional<std::string>& contentType = std::nullopt);
    void setData(foundation::Data data, const std::string& key,
                 const std::optional<std::string>& fileName = std::nullopt,
                 const std::optional<std::string>& contentType = std::nullopt);
    // A missing file or a folder fails the request at once (code 6).
    void addFile(const std::string& path, const std::string& key,
                 const std::optional<std::string>& fileName = std::nullopt,
                 const std::optional<std::string>& contentType = std::nullopt);
    void setFile(const std::string& path, const std::string& key,
                 const std::optional<std::string>& fileName = std::nullopt,
                 const std::optional<std::string>& contentType = std::nullopt);

    const std::optional<std::vector<Field>>& postData() const { return postData_; }
    const std::optional<std::vector<FilePart>>& fileData() const { return fileData_; }
    int postFormat() const { return postFormat_; }
    void setPostFormat(int format) { postFormat_ = format; }
    // The IANA name of the form's text encoding ("UTF-8").
    const std::string& stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(std::string encoding) { stringEncoding_ = std::move(encoding); }

    // Percent-escapes a field for the URL-encoded body: only ASCII letters, digits, "-", "."
    // and "_" stay; empty when the text cannot be written in the encoding.
    static std::string encodeURL(std::string_view text, const std::string& encoding);
    // "0xOrVaNdElBoUnDaRy-<UUID>", new for every body.
    static std::string makeBoundary();

protected:
    void buildPostBody() override;

private:
    void buildURLEncodedPostBody();
    void buildMultipartFormDataPostBody();
    void appendPostString(std::string_view text);
    std::string charsetName() const;

    std::optional<std::vector<Field>> postData_;
    std::optional<std::vector<FilePart>> fileData_;
    int postFormat_ = URLEncodedPostFormat;
    std::string stringEncoding_ = "UTF-8";
};
