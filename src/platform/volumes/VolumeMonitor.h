#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/volumes/MountTable.h"

typedef struct _GUnixMountMonitor GUnixMountMonitor;

namespace volumes {

// Tells of volumes mounted and unmounted, by comparing the mount table each time GIO's
// unix-mount monitor says it changed. Main thread only: the notices arrive there, and
// `rescan` (which tests call after changing their own table) must be called there.
class VolumeMonitor {
public:
    using Notice = std::function<void(const MountEntry&)>;

    explicit VolumeMonitor(std::string mountTablePath = kSystemMountTable);
    ~VolumeMonitor();
    VolumeMonitor(const VolumeMonitor&) = delete;
    VolumeMonitor& operator=(const VolumeMonitor&) = delete;

    // The volumes mounted now that may be media: sources that are device nodes, the root
    // file system left out. Read afresh from the table.
    std::vector<MountEntry> mountedVolumes() const;

    // Reads the table as it is now (so that what is mounted already is not announced), then
    // reports later changes; `watchSystem` false leaves the reports to `rescan`.
    void start(Notice mounted, Notice unmounted, bool watchSystem = true);
    void stop();
    // Compares the table with the last reading and reports unmounts, then mounts.
    void rescan();

    const std::string& mountTablePath() const { return mountTablePath_; }

private:
    static void onMountsChanged(GUnixMountMonitor*, void* self);

    std::string mountTablePath_;
    std::vector<MountEntry> known_;
    Notice mounted_;
    Notice unmounted_;
    GUnixMountMonitor* monitor_ = nullptr;
    unsigned long handler_ = 0;
};

}  // namespace volumes
