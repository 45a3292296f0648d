#include "media/iTunesDBReader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <utility>

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Utf8.h"
#include "logging/LogCall.h"
#include "media/ByteCursor.h"
#include "media/MappedFile.h"
#include "media/iTunesDBLayout.h"

namespace media {

namespace {

using foundation::Value;
using Bytes = ByteCursor::Bytes;
using namespace itunesdb;

// The faults met in one reading, each logged as it is met; the first is kept.
class Faults {
public:
    template <typename... Args>
    void add(fmt::format_string<Args...> format, Args&&... args) {
        std::string text = fmt::format(format, std::forward<Args>(args)...);
        LogWarn("iTunesDB: {}", text);
        if (first_.empty()) first_ = std::move(text);
    }
    std::string take() { return std::move(first_); }
    // Into `fault` when that holds none yet.
    void keepFirstIn(std::string& fault) {
        if (fault.empty()) fault = take();
    }

private:
    std::string first_;
};

// A record of the file: its header (at least `fixedPart` bytes) and a cursor over the rest of
// the record, header stepped over. Takes the whole record from the parent.
struct Record {
    Bytes header;
    ByteCursor body;
};

// Records without a total length (the lists) are just their header.
std::optional<Record> takeRecord(ByteCursor& parent, std::size_t fixedPart, bool hasTotal) {
    auto head = parent.peek(fixedPart);
    if (!head) return std::nullopt;
    const std::size_t headerLength = ByteCursor::u32(*head, 4);
    const std::size_t totalLength = hasTotal ? ByteCursor::u32(*head, 8) : headerLength;
    if (headerLength < fixedPart || headerLength > parent.remaining()) return std::nullopt;
    if (totalLength < headerLength || totalLength > parent.remaining()) return std::nullopt;
    auto whole = parent.child(totalLength);
    Record record{ByteCursor::slice(*head, 0, fixedPart), *whole};
    record.body.skip(headerLength);
    return record;
}

iTunesDBTrack::Text trackText(std::uint32_t type, bool& known) {
    known = true;
    switch (type) {
        case 1:
            return iTunesDBTrack::Title;
        case 2:
            return iTunesDBTrack::Location;
        case 3:
            return iTunesDBTrack::Album;
        case 4:
            return iTunesDBTrack::Artist;
        case 5:
            return iTunesDBTrack::Genre;
        case 6:
            return iTunesDBTrack::FileType;
        case 8:
            return iTunesDBTrack::Comment;
        default:
            known = false;
            return iTunesDBTrack::kTexts;
    }
}

// One data object of the track being read. False when the object is malformed, which ends
// the track's objects.
bool readTrackObject(ByteCursor& objects, iTunesDBTrackList& tracks) {
    auto head = objects.peek(kObjectFixed);
    if (!head) return false;
    const std::uint32_t total = ByteCursor::u32(*head, 8);
    const std::uint32_t type = ByteCursor::u32(*head, 12);
    if (total < kObjectFixed || total > objects.remaining()) return false;
    const Bytes object = *objects.read(total);
    bool known = false;
    const iTunesDBTrack::Text text = trackText(type, known);
    if (!known && type != 0) return true;  // other objects are stepped over
    if (object.size() < kStringObjectFixed) return false;
    const std::uint32_t length = ByteCursor::u32(object, 28);
    if (length > object.size() - kStringObjectFixed) return false;
    if (!known) return true;  // type 0 is read and dropped
    // Undecodable text leaves the earlier value.
    tracks.setText(text, object.subspan(kStringObjectFixed, length));
    return true;
}

bool readTrack(ByteCursor& list, iTunesDBTrackList& tracks, Faults& faults) {
    auto record = takeRecord(list, kTrackFixed, true);
    if (!record) return false;
    const Bytes h = record->header;
    iTunesDBTrack numbers;
    numbers.pid = ByteCursor::u32(h, 16);
    numbers.size = ByteCursor::u32(h, 36);
    numbers.length = ByteCursor::u32(h, 40);
    numbers.stars = ByteCursor::u8(h, 31);
    numbers.year = static_cast<std::int32_t>(ByteCursor::u32(h, 52));
    numbers.playCount = ByteCursor::u32(h, 80);
    numbers.trackNumber = static_cast<std::int32_t>(ByteCursor::u32(h, 44));
    numbers.totalTracks = static_cast<std::int32_t>(ByteCursor::u32(h, 48));
    tracks.add(numbers);
    const std::uint32_t objectCount = ByteCursor::u32(h, 12);
    std::uint32_t objects = 0;
    for (; objects < objectCount && !record->body.atEnd(); ++objects) {
        if (!readTrackObject(record->body, tracks)) {
            faults.add("malformed data object {} of track {}", objects, numbers.pid);
            break;
        }
    }
    if (objects < objectCount && record->body.atEnd()) {
        faults.add("track {} holds {} of its {} data objects", numbers.pid, objects, objectCount);
    }
    tracks.classify(ByteCursor::u32(h, 208), ByteCursor::u8(h, 177));
    return true;
}

void readTrackList(ByteCursor& set, iTunesDBTrackList& tracks, Faults& faults) {
    auto list = takeRecord(set, kListFixed, false);
    if (!list) {
        faults.add("malformed track list");
        return;
    }
    const std::uint32_t count = ByteCursor::u32(list->header, 8);
    tracks.reserve(std::min<std::size_t>(count, set.remaining() / kTrackFixed));
    // The list's entries follow its header inside the set.
    std::uint32_t read = 0;
    for (; read < count && !set.atEnd(); ++read) {
        if (!readTrack(set, tracks, faults)) {
            faults.add("track record {} of {} is malformed", read, count);
            return;
        }
    }
    if (read < count) faults.add("the track list holds {} of its {} tracks", read, count);
}

struct PlaylistRead {
    std::shared_ptr<iPodPlaylist> playlist;
    std::optional<std::string> firstName;
};

// With `namesOnly` the playlist's members are not read: naming an iPod needs only its titles.
std::optional<PlaylistRead> readPlaylist(ByteCursor& list, std::int32_t tag, bool logNames,
                                         bool namesOnly, Faults& faults) {
    auto record = takeRecord(list, kPlaylistFixed, true);
    if (!record) return std::nullopt;
    const Bytes h = record->header;
    ByteCursor& body = record->body;
    PlaylistRead result;
    std::optional<std::string> name;  // none without a name object
    bool smart = false;
    const std::uint32_t objectCount = ByteCursor::u32(h, 12);
    const std::uint32_t itemCount = ByteCursor::u32(h, 16);
    bool intact = true;
    std::uint32_t objects = 0;
    for (; objects < objectCount && intact && !body.atEnd(); ++objects) {
        auto head = body.peek(kObjectFixed);
        const std::uint32_t total = head ? ByteCursor::u32(*head, 8) : 0;
        if (!head || total < kObjectFixed || total > body.remaining()) {
            intact = false;
            break;
        }
        const Bytes object = *body.read(total);
        const std::uint32_t type = ByteCursor::u32(object, 12);
        if (type == 50) {
            smart = true;
        } else if (type == 1 && object.size() >= kStringObjectFixed) {
            if (auto text = decodeUtf16LE(object.subspan(kStringObjectFixed))) {
                if (logNames) LogInfo("{}", *text);
                if (!result.firstName) result.firstName = *text;
                name = std::move(*text);
            }
        }
    }
    intact = intact && objects == objectCount;
    std::vector<Value> ids;
    if (!namesOnly) ids.reserve(std::min<std::size_t>(itemCount, body.remaining() / kItemFixed));
    for (std::uint32_t i = 0; i < itemCount && intact && !namesOnly; ++i) {
        if (body.atEnd()) {
            intact = false;
            break;
        }
        auto head = body.peek(kItemFixed);
        const std::uint32_t total = head ? ByteCursor::u32(*head, 8) : 0;
        if (!head || total < kItemFixed || total > body.remaining()) {
            intact = false;
            break;
        }
        const Bytes item = *body.read(total);
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, ByteCursor::u32(item, 24)).ptr;
        ids.emplace_back(std::string(digits, end));
    }
    if (!intact) faults.add("playlist \"{}\" has a malformed entry", name.value_or(""));
    result.playlist = iPodPlaylist::CreateNewPlaylistWithName(name, 0, tag);
    result.playlist->trackIDs() = std::move(ids);
    if (smart) result.playlist->setType(2);
    if (ByteCursor::u8(h, 20) == 1) result.playlist->setIsMaster(true);
    return result;
}

// With `namesOnly` the list ends at the first master playlist with a title.
std::vector<PlaylistRead> readPlaylistList(ByteCursor& set, bool logNames, bool namesOnly,
                                           Faults& faults) {
    std::vector<PlaylistRead> playlists;
    auto list = takeRecord(set, kListFixed, false);
    if (!list) {
        faults.add("malformed playlist list");
        return playlists;
    }
    const std::uint32_t count = ByteCursor::u32(list->header, 8);
    std::uint32_t read = 0;
    for (; read < count && !set.atEnd(); ++read) {
        auto playlist = readPlaylist(set, static_cast<std::int32_t>(100 + std::min(read, 1u << 30)),
                                     logNames, namesOnly, faults);
        if (!playlist) {
            faults.add("playlist record {} of {} is malformed", read, count);
            return playlists;
        }
        const bool named = playlist->playlist->isMaster() && playlist->firstName;
        playlists.push_back(std::move(*playlist));
        if (namesOnly && named) return playlists;
    }
    if (read < count) faults.add("the playlist list holds {} of its {} playlists", read, count);
    return playlists;
}

// Walks the database's sections, handing the body of each (header stepped over) to `visit`
// with its type. False when the file is no database.
template <typename Visit>
bool walkSections(std::span<const std::uint8_t> bytes, Faults& faults, Visit&& visit) {
    ByteCursor file(bytes);
    auto head = file.peek(kDatabaseFixed);
    if (!head || !ByteCursor::hasTag(*head, "mhbd")) return false;
    const std::size_t headerLength = ByteCursor::u32(*head, 4);
    if (headerLength < kDatabaseFixed || headerLength > file.remaining()) return false;
    file.skip(headerLength);
    const std::uint32_t count = ByteCursor::u32(*head, 20);
    std::uint32_t read = 0;
    for (; read < count && !file.atEnd(); ++read) {
        auto set = takeRecord(file, kSetFixed, true);
        if (!set) {
            faults.add("data set {} of {} is malformed", read, count);
            return true;
        }
        if (!visit(ByteCursor::u32(set->header, 12), set->body)) return true;
    }
    if (read < count) faults.add("the database holds {} of its {} data sets", read, count);
    return true;
}

// Exactly `length` bytes at `offset`, or nothing when the file is shorter (by now).
std::optional<std::vector<std::uint8_t>> readAt(int fd, std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, bytes.data() + done, length - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

// The database header followed by the file's first playlist set, the header's set count made
// one: what masterPlaylistName needs, without the track set before it. Empty when the file is
// no database or has no playlist set.
std::vector<std::uint8_t> databaseWithPlaylistSet(int fd, std::uint64_t fileSize) {
    const auto head = readAt(fd, 0, kDatabaseFixed);
    if (!head || !ByteCursor::hasTag(*head, "mhbd")) return {};
    const std::uint32_t headerLength = ByteCursor::u32(*head, 4);
    const std::uint32_t count = ByteCursor::u32(*head, 20);
    if (headerLength < kDatabaseFixed || headerLength > fileSize) return {};
    auto database = readAt(fd, 0, headerLength);
    if (!database) return {};
    std::uint64_t offset = headerLength;
    for (std::uint32_t i = 0; i < count && offset + kSetFixed <= fileSize; ++i) {
        const auto set = readAt(fd, offset, kSetFixed);
        if (!set) return {};
        const std::uint32_t total = ByteCursor::u32(*set, 8);
        if (total < kSetFixed || total > fileSize - offset) return {};
        if (ByteCursor::u32(*set, 12) == 2) {
            const auto body = readAt(fd, offset, total);
            if (!body) return {};
            database->insert(database->end(), body->begin(), body->end());
            const std::uint8_t one[4] = {1, 0, 0, 0};
            std::copy(std::begin(one), std::end(one), database->begin() + 20);
            return std::move(*database);
        }
        offset += total;
    }
    return {};
}

// The first title of the master playlist in a playlist list.
std::optional<std::string> masterPlaylistNameInList(ByteCursor& set, Faults& faults) {
    for (auto& read : readPlaylistList(set, false, true, faults)) {
        if (read.playlist->isMaster() && read.firstName) return read.firstName;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> decodeUtf16LE(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    if (!appendUtf16LE(bytes, out)) return std::nullopt;
    return out;
}

bool iTunesDBReader::walkDataSets(
    std::span<const std::uint8_t> bytes, std::string& fault,
    const std::function<bool(std::uint32_t type, ByteCursor& set)>& visit) {
    Faults faults;
    const bool database = walkSections(bytes, faults, visit);
    faults.keepFirstIn(fault);
    return database;
}

void iTunesDBReader::readTrackList(ByteCursor& set, iTunesDBTrackList& tracks, std::string& fault) {
    Faults faults;
    media::readTrackList(set, tracks, faults);
    faults.keepFirstIn(fault);
}

std::vector<std::shared_ptr<iPodPlaylist>> iTunesDBReader::readPlaylistList(ByteCursor& set,
                                                                            std::string& fault) {
    Faults faults;
    std::vector<std::shared_ptr<iPodPlaylist>> playlists;
    for (auto& read : media::readPlaylistList(set, true, false, faults)) {
        playlists.push_back(std::move(read.playlist));
    }
    faults.keepFirstIn(fault);
    return playlists;
}

iTunesDBContents iTunesDBReader::read(std::span<const std::uint8_t> bytes) {
    iTunesDBContents contents;
    Faults faults;
    contents.isDatabase = walkSections(bytes, faults, [&](std::uint32_t type, ByteCursor& set) {
        if (type == 1) {
            media::readTrackList(set, contents.tracks, faults);
        } else if (type == 2) {
            contents.hasPlaylistList = true;
            for (auto& read : media::readPlaylistList(set, true, false, faults)) {
                contents.playlists.push_back(std::move(read.playlist));
            }
        }
        return true;
    });
    contents.error = contents.isDatabase ? faults.take() : "the file is no iTunesDB";
    return contents;
}

iTunesDBContents iTunesDBReader::readFile(const std::string& path) {
    const MappedFile file(path);
    if (!file.isOpen()) return {};
    return read(file.bytes());
}

std::optional<std::string> iTunesDBReader::masterPlaylistName(std::span<const std::uint8_t> bytes) {
    std::optional<std::string> name;
    Faults faults;
    walkSections(bytes, faults, [&](std::uint32_t type, ByteCursor& set) {
        if (type != 2) return true;
        name = media::masterPlaylistNameInList(set, faults);
        return !name;
    });
    return name;
}

std::optional<std::string> iTunesDBReader::masterPlaylistNameInList(ByteCursor& set) {
    Faults faults;
    return media::masterPlaylistNameInList(set, faults);
}

std::optional<std::string> iTunesDBReader::readUtf16Text(ByteCursor& cursor, std::uint32_t length) {
    const auto bytes = cursor.peek(length);
    if (!bytes) return std::nullopt;
    auto text = decodeUtf16LE(*bytes);
    if (text) cursor.skip(length);
    return text;
}

std::optional<std::string> iTunesDBReader::masterPlaylistNameOfFile(const std::string& path) {
    // This file is the live database on the volume: mapped, a rewrite or the device's removal
    // would end the process with SIGBUS. Reads into a buffer see a short file instead, and
    // only the database header and the playlist set are read.
    // Not blocking: a named pipe in its place would never answer the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::vector<std::uint8_t> database;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        database = databaseWithPlaylistSet(fd, static_cast<std::uint64_t>(info.st_size));
    ::close(fd);
    if (database.empty()) return std::nullopt;
    return masterPlaylistName(database);
}

}  // namespace media
