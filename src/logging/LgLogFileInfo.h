#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// What is known about one log file: path, name, dates, size, age and whether it was
// archived (closed by rolling). Everything but the path is read from the file on first use
// and kept. Failures go to the console; an unreadable file has size 0, no dates, age 0.
class LgLogFileInfo {
public:
    using Clock = std::chrono::system_clock;

    // The attribute holding the archived mark; its value is the single byte 1.
    static constexpr const char* kArchivedAttributeName = "user.orvandel.log.archived";

    struct FileAttributes {
        std::uint64_t size = 0;
        std::optional<Clock::time_point> creationDate;
        std::optional<Clock::time_point> modificationDate;
    };

    // nullptr for an empty path.
    static std::shared_ptr<LgLogFileInfo> logFileWithPath(const std::string& filePath);
    // Throws foundation::NamedException for an empty path.
    explicit LgLogFileInfo(std::string filePath);

    const std::string& filePath() const { return filePath_; }
    const std::string& fileName();
    // Empty (nullopt) when the file cannot be read.
    const std::optional<FileAttributes>& fileAttributes();
    // The file's birth time; where the file system keeps none, the time in a log file's
    // name, else the modification time.
    std::optional<Clock::time_point> creationDate();
    std::optional<Clock::time_point> modificationDate();
    // A kept size of 0 is read again: the file may have grown since.
    std::uint64_t fileSize();
    // Seconds since creation; 0 without a creation date.
    double age();

    bool isArchived();
    void setIsArchived(bool archived);
    bool hasExtendedAttributeWithName(const std::string& name);
    void addExtendedAttributeWithName(const std::string& name);
    void removeExtendedAttributeWithName(const std::string& name);

    // Forgets the kept name, attributes and dates (not the size).
    void reset();
    // Moves the file to `newName` in the same folder, replacing what is there.
    void renameFile(const std::string& newName);

    // Newer first.
    bool reverseCompareByCreationDate(LgLogFileInfo& other);
    bool reverseCompareByModificationDate(LgLogFileInfo& other);

    std::string description();

    bool operator==(const LgLogFileInfo& other) const { return filePath_ == other.filePath_; }

private:
    std::string filePath_;
    std::optional<std::string> fileName_;
    bool attributesRead_ = false;
    std::optional<FileAttributes> fileAttributes_;
    std::uint64_t fileSize_ = 0;
};

template <>
struct std::hash<LgLogFileInfo> {
    std::size_t operator()(const LgLogFileInfo& info) const {
        return std::hash<std::string>()(info.filePath());
    }
};
