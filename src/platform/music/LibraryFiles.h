#pragma once

#include <optional>
#include <string>

namespace music {

// The file work of the library folder. A track file only ever appears under its final name
// whole: it is copied under a temporary name into a staging folder on the same file system,
// flushed, and then linked to the first free name ("Title.m4a", "Title 2.m4a", ...), which
// never replaces an existing file. What a crash leaves in the staging folder is never
// listed and can go at the next start.
namespace LibraryFiles {

// Copies the file to the first free name at or beside `wantedPath`, making the folders;
// the final path, or nullopt with a reason.
std::optional<std::string> copyToFreeName(const std::string& source, const std::string& wantedPath,
                                          const std::string& stagingFolder, std::string* error);
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
// Gives an existing file a second name, the first free one of `wantedPath` and its numbered
// names up to `lastNumber`; the old name stays until the caller removes it. nullopt when
// none is free or the file system cannot do it.
std::optional<std::string> linkToFreeName(const std::string& existing,
                                          const std::string& wantedPath, std::string* error,
                                          int lastNumber = 1000);
// The absolute path with symbolic links and "." and ".." resolved; nullopt when the file
// is not there.
std::optional<std::string> canonicalPath(const std::string& path);
bool isRegularFile(const std::string& path);
// True when `path` lies below `folder` (both canonical).
bool isInside(const std::string& path, const std::string& folder);

}  // namespace LibraryFiles

}  // namespace music
