#include "platform/volumes/VolumeMonitor.h"

#include <gio/gunixmounts.h>

#include <algorithm>
#include <utility>

namespace volumes {

namespace {

bool mayBeMedia(const MountEntry& entry) {
    return entry.device.starts_with("/dev/") && entry.mountPath != "/";
}

bool sameMount(const MountEntry& a, const MountEntry& b) {
    return a.mountPath == b.mountPath && a.device == b.device;
}

bool contains(const std::vector<MountEntry>& list, const MountEntry& entry) {
    return std::any_of(list.begin(), list.end(),
                       [&](const MountEntry& other) { return sameMount(other, entry); });
}

}  // namespace

VolumeMonitor::VolumeMonitor(std::string mountTablePath)
    : mountTablePath_(std::move(mountTablePath)) {}

VolumeMonitor::~VolumeMonitor() {
    stop();
}

std::vector<MountEntry> VolumeMonitor::mountedVolumes() const {
    std::vector<MountEntry> volumes;
    for (auto& entry : readMountTable(mountTablePath_).value_or(std::vector<MountEntry>{})) {
        if (mayBeMedia(entry) && !contains(volumes, entry)) volumes.push_back(std::move(entry));
    }
    return volumes;
}

void VolumeMonitor::start(Notice mounted, Notice unmounted, bool watchSystem) {
    stop();
    mounted_ = std::move(mounted);
    unmounted_ = std::move(unmounted);
    known_ = mountedVolumes();
    if (watchSystem) {
        monitor_ = g_unix_mount_monitor_get();
        handler_ = g_signal_connect(monitor_, "mounts-changed", G_CALLBACK(onMountsChanged), this);
    }
}

void VolumeMonitor::stop() {
    if (monitor_) {
        g_signal_handler_disconnect(monitor_, handler_);
        g_object_unref(monitor_);
        monitor_ = nullptr;
        handler_ = 0;
    }
    mounted_ = nullptr;
    unmounted_ = nullptr;
}

void VolumeMonitor::onMountsChanged(GUnixMountMonitor*, void* self) {
    static_cast<VolumeMonitor*>(self)->rescan();
}

void VolumeMonitor::rescan() {
    const std::vector<MountEntry> now = mountedVolumes();
    const std::vector<MountEntry> before = std::exchange(known_, now);
    // Copies: a notice may stop this monitor.
    const Notice mounted = mounted_;
    const Notice unmounted = unmounted_;
    for (const auto& entry : before) {
        if (!contains(now, entry) && unmounted) unmounted(entry);
    }
    for (const auto& entry : now) {
        if (!contains(before, entry) && mounted) mounted(entry);
    }
}

}  // namespace volumes
