#pragma once

#include <cstdint>

class KolvexAppDelegate;

// Starts the process's device manager with the real detectors (phones through the
// mobile-device hub, disk-mode iPods through the system's mounts) and hands what it
// reports to the application delegate. Main thread.
bool startDeviceDetection(std::uint32_t deviceKinds, KolvexAppDelegate& delegate);
// Lets go of the delegate before it goes away at exit.
void stopDeviceDetection();
