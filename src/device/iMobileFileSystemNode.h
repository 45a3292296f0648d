#pragma once

#include <string>

// One entry of a device folder listing. Listings make fresh entries on every call.
class iMobileFileSystemNode {
public:
    iMobileFileSystemNode(std::string name, std::string inDirectory, bool isFolder);
    static iMobileFileSystemNode iMobileFileSystemNodeWithDirectoryParentDirectory(
        std::string name, std::string parentDirectory);
    static iMobileFileSystemNode iMobileFileSystemNodeWithFileParentDirectory(
        std::string name, std::string parentDirectory);

    // The parent path joined with the name by exactly one separator.
    std::string fullpath() const;

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    const std::string& parentDirectory() const { return parentDirectory_; }
    void setParentDirectory(std::string parent) { parentDirectory_ = std::move(parent); }
    bool isDirectory() const { return isDirectory_; }

    bool operator==(const iMobileFileSystemNode&) const = default;

private:
    std::string parentDirectory_;
    std::string name_;
    bool isDirectory_ = false;
};
