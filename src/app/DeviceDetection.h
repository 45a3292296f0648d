#pragma once

#include <cstdint>
#include <memory>

#include "device/DeviceManager.h"

class AppDevice;
class DeviceManagerDelegate;
class KolvexAppDelegate;

// The real detectors: phones set up as iPhoneDevice, mounted iPods as iPodDevice.
DeviceManager::Detectors systemDetectors();
// The device manager's delegate that hands each device on to the application delegate.
std::shared_ptr<DeviceManagerDelegate> delegateRelay(KolvexAppDelegate& delegate);

// Starts the process's device manager with the real detectors (phones through the
// mobile-device hub, disk-mode iPods through the system's mounts) and hands what it
// reports to the application delegate. Main thread.
bool startDeviceDetection(std::uint32_t deviceKinds, KolvexAppDelegate& delegate);
// Lets go of the delegate before it goes away at exit.
void stopDeviceDetection();
// Reads a phone that has not answered yet once more (after a pairing or a reconnect).
void retryPhoneSetUp(const std::shared_ptr<AppDevice>& device);
