#pragma once

#include <cstdint>

class DeviceManagerDelegate;

// Starts the process's device manager with the real detectors: phones through the
// mobile-device hub, disk-mode iPods through the system's mounts. Main thread.
bool startDeviceDetection(std::uint32_t deviceKinds, DeviceManagerDelegate& delegate);
// Lets go of the delegate before it goes away at exit.
void stopDeviceDetection();
