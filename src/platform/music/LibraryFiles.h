#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace music {

// The file work of the library folder. A track file only ever appears under its final name
// whole: it is copied under a temporary name into a staging folder on the same file system,
// flushed, and then linked to the first free name ("Title.m4a", "Title 2.m4a", ...), which
// never replaces an existing file. What a crash leaves in the staging folder is never
// listed and can go at the next start. On a file system without hard links (FAT and exFAT
// drives, some network mounts) a file is moved to its name instead where the system can
// refuse to replace one, and otherwise copied to a name created for it alone.
namespace LibraryFiles {

// Gives the file `from` the second name `to` as link() does: 0, or -1 with errno set. Empty
// means link() itself; a test gives another to stand for a file system without hard links.
using LinkCall = std::function<int(const char* from, const char* to)>;

// Puts the file `from` at `to` without ever replacing a file there (EEXIST then). With
// `keepSource` the file keeps its old name as well (a second name, or a copy where the file
// system has no hard links); without, the old name goes. 0 or the errno of the failure.
int placeWithoutReplacing(const std::string& from, const std::string& to, bool keepSource,
                          const LinkCall& link = {});

enum class Written { Yes, NameTaken, Failed };
// Writes `bytes` as the file at `path`, whole or not at all, where that name is free or still
// holds the very bytes the library last wrote there (`lastWritten`: their SHA-256). Any other
// file there is left as it is: NameTaken. A file replaced keeps its permission bits; a new
// one is private to the user.
Written writeOwnFile(const std::string& path, std::span<const std::uint8_t> bytes,
                     const std::optional<std::string>& lastWritten, std::string* error,
                     const LinkCall& link = {});
// The SHA-256 of the bytes as lower-case hexadecimal text, as writeOwnFile compares them.
std::string digestOf(std::span<const std::uint8_t> bytes);
// The digest of the regular file at `path` (a symbolic link is not followed); nullopt when
// there is none or it cannot be read.
std::optional<std::string> digestOfFile(const std::string& path);

// Copies the file to the first free name at or beside `wantedPath`, making the folders;
// the final path, or nullopt with a reason.
std::optional<std::string> copyToFreeName(const std::string& source, const std::string& wantedPath,
                                          const std::string& stagingFolder, std::string* error,
                                          const LinkCall& link = {});
// The name a clash gives: `wanted` itself for 1, then "Title 2.m4a", "Title 3.m4a", ...
std::string numberedName(const std::string& wanted, int number);
// 1 when `path` is `wanted`, N when it is the numbered name "Title N.m4a" taken in its
// place; nullopt for any other name.
std::optional<int> freeNameNumber(const std::string& path, const std::string& wanted);
// Removes everything in the folder; a missing folder is fine.
void emptyFolder(const std::string& folder);
// Removes the folder and then each folder above it while they are empty, up to `root`
// (which stays); a folder that holds anything stays as it is.
void removeEmptyFolders(const std::string& folder, const std::string& root);
// Gives an existing file a second name (a copy where the file system has no hard links), the
// first free one of `wantedPath` and its numbered names up to `lastNumber`; the old name
// stays until the caller removes it. nullopt when none is free or the file cannot go there.
std::optional<std::string> linkToFreeName(const std::string& existing,
                                          const std::string& wantedPath, std::string* error,
                                          int lastNumber = 1000, const LinkCall& link = {});
// The absolute path with symbolic links and "." and ".." resolved; nullopt when the file
// is not there.
std::optional<std::string> canonicalPath(const std::string& path);
bool isRegularFile(const std::string& path);
// True when `path` lies below `folder` (both canonical).
bool isInside(const std::string& path, const std::string& folder);

}  // namespace LibraryFiles

}  // namespace music
