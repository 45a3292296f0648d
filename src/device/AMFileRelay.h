#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "device/AMService.h"

// The device's file relay: named sets of device files (logs, configuration), answered as
// one gzip-compressed cpio archive. One request per service.
class AMFileRelay : public AMService {
public:
    static constexpr const char* kServiceName = "com.apple.mobile.file_relay";
    static constexpr std::size_t kChunkLength = 1024;

    static std::shared_ptr<AMFileRelay> create(const std::shared_ptr<AMDevice>& device);
    static std::shared_ptr<AMFileRelay> withSocket(int socket);

    // Writes the archive of the named sets to the stream; false with lasterror set when
    // the device refuses, the stream breaks off, or the service was used before.
    bool getFileSetsInto(const std::vector<std::string>& sources, std::ostream& out);
    bool getFileSetInto(const std::string& source, std::ostream& out);
    // Copies what the device sends until it closes the connection.
    bool slurpInto(std::ostream& out);

private:
    bool used_ = false;
};
