#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "simdevice/SimAfcPacket.h"
#include "simdevice/SimConfinedFolder.h"

namespace simdevice {

// Ways the service can break its protocol, for tests of clients that must survive them.
// The first two answer a read (of a file or a folder) so, then hang up.
enum class SimAfcHostility {
    None,
    HugeLength,     // a header claiming about 4 GiB
    Truncated,      // a header claiming more than follows
    BadEntryNames,  // folder listings hold names with "/" and ".."
    ShortReads,     // file reads answer at most 1000 bytes
    LiesAboutSizes, // files are said to hold 100 bytes, and their reads never reach an end
    EndlessFolders, // every folder holds one more, "deeper", without end
    FailingWrites,  // a file write stores half its bytes, then answers that the disk is full
};

// What the service tells about its file system.
struct SimAfcVolume {
    std::string model;
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
};

// The device file service over one folder, for one connection: file information,
// listings, folders, removal, renames, links, times, and open files with read, write,
// seek, tell, size and lock.
class SimAfcServer {
public:
    SimAfcServer(const std::string& root, SimAfcVolume volume,
                 SimAfcHostility hostility = SimAfcHostility::None);

    // Answers requests until the peer leaves or sends a malformed packet.
    void serve(int fd);

    struct Reply {
        std::uint64_t operation = afc::kStatus;
        std::vector<std::uint8_t> data;
        std::vector<std::uint8_t> payload;
    };
    Reply answer(const SimAfcPacket& request);

private:
    Reply readDirectory(SimAfcArguments& args);
    Reply fileInfo(SimAfcArguments& args);
    Reply deviceInfo();
    Reply makeDirectory(SimAfcArguments& args);
    Reply removePath(SimAfcArguments& args, bool withContents);
    Reply renamePath(SimAfcArguments& args);
    Reply makeLink(SimAfcArguments& args);
    Reply setModificationTime(SimAfcArguments& args);
    Reply truncatePath(SimAfcArguments& args);
    Reply openFile(SimAfcArguments& args);
    Reply fileCall(std::uint64_t operation, SimAfcArguments& args);

    SimConfinedFolder folder_;
    const SimAfcVolume volume_;
    const SimAfcHostility hostility_;
    std::map<std::uint64_t, SimFd> files_;
    std::uint64_t nextHandle_ = 1;
};

}  // namespace simdevice
