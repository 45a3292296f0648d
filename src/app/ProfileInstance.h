#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/SingleInstance.h"

// The application runs once per profile: the folders it keeps its preferences, data, logs and
// caches in, each after its XDG variable. Two processes on one profile would overwrite each
// other's preferences; a second start brings the running window forward instead and ends.
namespace ProfileInstance {

// The profile's folders (made when missing).
std::vector<std::string> folders();
// The identifier on the session bus: the bundle's identifier with a mark of the profile's
// folders, so that starts on other profiles (tests with folders of their own) never meet.
std::string applicationId(const std::string& bundleIdentifier,
                          const std::vector<std::string>& folders);
// Claims the profile for this process; `activated` runs when a later start asks.
gtk::SingleInstance::Claim claim(std::function<void()> activated);
// The process that holds the profile, as its lock files tell; nullopt when they do not.
std::optional<long> holder();
// What a start that finds the profile held, out of the holder's session bus, says.
std::string inUseMessage(std::optional<long> holder);

}  // namespace ProfileInstance
