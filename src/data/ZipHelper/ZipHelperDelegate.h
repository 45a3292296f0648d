#pragma once

#include <string>

// What a ZipHelper asks of its delegate. Both operations are optional: the defaults ignore
// messages and allow every overwrite.
class ZipHelperDelegate {
public:
    virtual ~ZipHelperDelegate() = default;
    virtual void ErrorMessage(const std::string& message) { (void)message; }
    virtual bool OverWriteOperation(const std::string& path) {
        (void)path;
        return true;
    }
};
