#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace media {

// One device playlist as the rest of the program sees it. Track ids are numbers (64-bit
// persistent ids) or decimal texts (32-bit ids of the binary iPod database); trackIDValue
// reads either. A playlist whose database gives it no name has none (nullopt), which the
// page sees as null.
class iPodPlaylist {
public:
    iPodPlaylist(std::optional<std::string> name, std::int32_t type, std::int32_t tag);
    iPodPlaylist(std::optional<std::string> name, const std::vector<foundation::Value>& trackIDs,
                 std::int32_t type, std::int32_t tag);

    static std::shared_ptr<iPodPlaylist> CreateNewPlaylistWithName(std::optional<std::string> name,
                                                                   std::int64_t pid,
                                                                   std::int32_t type,
                                                                   std::int32_t tag);
    static std::shared_ptr<iPodPlaylist> CreateNewPlaylistWithName(std::optional<std::string> name,
                                                                   std::int32_t type,
                                                                   std::int32_t tag);

    // The name, "" when there is none.
    const std::string& name() const;
    bool hasName() const { return name_.has_value(); }
    void setName(std::optional<std::string> name) { name_ = std::move(name); }
    bool isHidden() const { return isHidden_; }
    void setIsHidden(bool value) { isHidden_ = value; }
    bool isSmart() const { return isSmart_; }
    void setIsSmart(bool value) { isSmart_ = value; }
    bool isGenius() const { return isGenius_; }
    void setIsGenius(bool value) { isGenius_ = value; }
    bool isMaster() const { return isMaster_; }
    void setIsMaster(bool value) { isMaster_ = value; }
    std::int64_t pid() const { return pid_; }
    void setPid(std::int64_t pid) { pid_ = pid; }
    std::int32_t type() const { return type_; }
    void setType(std::int32_t type) { type_ = type; }
    std::int32_t tag() const { return tag_; }
    void setTag(std::int32_t tag) { tag_ = tag; }

    // Callers fill the list in place.
    std::vector<foundation::Value>& trackIDs() { return trackIDs_; }
    const std::vector<foundation::Value>& trackIDs() const { return trackIDs_; }

    // A track id as a signed 64-bit number: numbers as they are, decimal texts parsed (a
    // leading sign allowed, digits up to the first other character), anything else 0.
    static std::int64_t trackIDValue(const foundation::Value& id);

private:
    std::optional<std::string> name_;
    bool isHidden_ = false;
    bool isSmart_ = false;
    bool isGenius_ = false;
    bool isMaster_ = false;
    std::int64_t pid_ = 0;
    std::int32_t type_ = 0;
    std::int32_t tag_ = 0;
    std::vector<foundation::Value> trackIDs_;
};

}  // namespace media
