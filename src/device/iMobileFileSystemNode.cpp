#include "device/iMobileFileSystemNode.h"

#include "foundation/PathComponents.h"

iMobileFileSystemNode::iMobileFileSystemNode(std::string name, std::string inDirectory,
                                             bool isFolder)
    : parentDirectory_(std::move(inDirectory)), name_(std::move(name)), isDirectory_(isFolder) {}

iMobileFileSystemNode iMobileFileSystemNode::iMobileFileSystemNodeWithDirectoryParentDirectory(
    std::string name, std::string parentDirectory) {
    return iMobileFileSystemNode(std::move(name), std::move(parentDirectory), true);
}

iMobileFileSystemNode iMobileFileSystemNode::iMobileFileSystemNodeWithFileParentDirectory(
    std::string name, std::string parentDirectory) {
    return iMobileFileSystemNode(std::move(name), std::move(parentDirectory), false);
}

std::string iMobileFileSystemNode::fullpath() const {
    return foundation::appendingPathComponent(parentDirectory_, name_);
}
