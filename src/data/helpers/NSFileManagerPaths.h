#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Well-known folders of the current user, looked up without being created.
namespace NSFileManager {

// Four-character folder codes and the user domain, as callers name them.
inline constexpr std::uint32_t kPreferencesFolderType = 0x70726566;         // 'pref'
inline constexpr std::uint32_t kApplicationSupportFolderType = 0x61737570;  // 'asup'
inline constexpr std::uint32_t kCachesFolderType = 0x63616368;              // 'cach'
inline constexpr std::uint32_t kTemporaryFolderType = 0x74656d70;           // 'temp'
inline constexpr std::int16_t kUserDomain = -32763;

// The folder of that type in that domain; nullopt for a type or domain not known here.
std::optional<std::string> findSystemFolderTypeForDomain(std::uint32_t folderType,
                                                         std::int16_t domain);

// The user's preferences folder ($XDG_CONFIG_HOME, else ~/.config); nullopt when the
// lookup fails.
std::optional<std::string> GetPreferencesDirectory();

}  // namespace NSFileManager
