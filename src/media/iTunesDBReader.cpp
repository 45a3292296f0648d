#include "media/iTunesDBReader.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "foundation/Utf8.h"
#include "logging/LogCall.h"
#include "media/ByteCursor.h"
#include "media/iTunesDBLayout.h"

namespace media {

namespace {

using foundation::Value;
using Bytes = ByteCursor::Bytes;
using namespace itunesdb;

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

std::string extensionOf(const std::string& location) {
    const auto slash = location.find_last_of('/');
    const auto dot = location.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = location.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

void classify(Value& track, std::uint32_t mediaType, std::uint8_t movieFlag) {
    const Value& fileTypeValue = track["fileType"];
    const std::string fileType = fileTypeValue.isString() ? *fileTypeValue.string() : "audio";
    if (fileType.find("audio") != std::string::npos) {
        if (mediaType == 4) {
            track.set("is_podcast", true);
        } else if (mediaType == 8) {
            track.set("is_audio_book", true);
        } else {
            track.set("is_song", true);
        }
    } else if (fileType.find("video") != std::string::npos) {
        track.set("is_music_video", true);
        if (mediaType == 2 && movieFlag == 1) {
            track.set("is_movie", true);
        } else if (mediaType == 64 && movieFlag == 1) {
            track.set("is_tv_show", true);
        } else if (mediaType == 6) {
            track.set("is_podcast", true);
        }
    }
    if (const std::string* location = track["location"].string()) {
        const std::string extension = extensionOf(*location);
        if (extension == "mp3" || extension == "aiff") track.set("is_song", true);
    }
}

const char* trackStringKey(std::uint32_t type) {
    switch (type) {
        case 1:
            return "title";
        case 2:
            return "location";
        case 3:
            return "album";
        case 4:
            return "artist";
        case 5:
            return "genre";
        case 6:
            return "fileType";
        case 8:
            return "comment";
        default:
            return nullptr;
    }
}

// One data object of a track. False when the object is malformed, which ends the track's
// objects.
bool readTrackObject(ByteCursor& objects, Value& track) {
    auto head = objects.peek(kObjectFixed);
    if (!head) return false;
    const std::uint32_t total = ByteCursor::u32(*head, 8);
    const std::uint32_t type = ByteCursor::u32(*head, 12);
    if (total < kObjectFixed || total > objects.remaining()) return false;
    const Bytes object = *objects.read(total);
    const char* key = trackStringKey(type);
    if (key == nullptr && type != 0) return true;  // other objects are stepped over
    if (object.size() < kStringObjectFixed) return false;
    const std::uint32_t length = ByteCursor::u32(object, 28);
    if (length > object.size() - kStringObjectFixed) return false;
    if (key == nullptr) return true;  // type 0 is read and dropped
    auto text = decodeUtf16LE(object.subspan(kStringObjectFixed, length));
    if (!text) return true;  // undecodable text leaves the earlier value
    if (type == 2) std::replace(text->begin(), text->end(), ':', '/');
    track.set(key, std::move(*text));
    return true;
}

std::optional<Value> readTrack(ByteCursor& list) {
    auto record = takeRecord(list, kTrackFixed, true);
    if (!record) return std::nullopt;
    const Bytes h = record->header;
    // Built in place: a library holds tens of thousands of these.
    foundation::Dictionary fields;
    fields.emplace("pid", ByteCursor::u32(h, 16));
    fields.emplace("size", ByteCursor::u32(h, 36));
    fields.emplace("length", ByteCursor::u32(h, 40));
    fields.emplace("stars", static_cast<unsigned>(ByteCursor::u8(h, 31)));
    fields.emplace("year", static_cast<std::int32_t>(ByteCursor::u32(h, 52)));
    fields.emplace("playCount", ByteCursor::u32(h, 80));
    fields.emplace("trackNumber", static_cast<std::int32_t>(ByteCursor::u32(h, 44)));
    fields.emplace("totalTracks", static_cast<std::int32_t>(ByteCursor::u32(h, 48)));
    for (const char* key : {"album", "artist", "title", "genre"}) fields.emplace(key, "Unknown");
    Value track(std::move(fields));
    const std::uint32_t objectCount = ByteCursor::u32(h, 12);
    for (std::uint32_t i = 0; i < objectCount && !record->body.atEnd(); ++i) {
        if (!readTrackObject(record->body, track)) {
            LogWarn("iTunesDB: malformed data object {} of track {}", i, ByteCursor::u32(h, 16));
            break;
        }
    }
    classify(track, ByteCursor::u32(h, 208), ByteCursor::u8(h, 177));
    return track;
}

void readTrackList(ByteCursor& set, std::vector<Value>& tracks) {
    auto list = takeRecord(set, kListFixed, false);
    if (!list) return;
    const std::uint32_t count = ByteCursor::u32(list->header, 8);
    // The list's entries follow its header inside the set.
    for (std::uint32_t i = 0; i < count && !set.atEnd(); ++i) {
        auto track = readTrack(set);
        if (!track) {
            LogWarn("iTunesDB: track record {} of {} is malformed", i, count);
            break;
        }
        tracks.push_back(std::move(*track));
    }
}

struct PlaylistRead {
    std::shared_ptr<iPodPlaylist> playlist;
    std::optional<std::string> firstName;
};

std::optional<PlaylistRead> readPlaylist(ByteCursor& list, std::int32_t tag, bool logNames) {
    auto record = takeRecord(list, kPlaylistFixed, true);
    if (!record) return std::nullopt;
    const Bytes h = record->header;
    ByteCursor& body = record->body;
    PlaylistRead result;
    std::string name;
    bool smart = false;
    const std::uint32_t objectCount = ByteCursor::u32(h, 12);
    const std::uint32_t itemCount = ByteCursor::u32(h, 16);
    bool intact = true;
    for (std::uint32_t i = 0; i < objectCount && intact && !body.atEnd(); ++i) {
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
    std::vector<Value> ids;
    for (std::uint32_t i = 0; i < itemCount && intact && !body.atEnd(); ++i) {
        auto head = body.peek(kItemFixed);
        const std::uint32_t total = head ? ByteCursor::u32(*head, 8) : 0;
        if (!head || total < kItemFixed || total > body.remaining()) {
            intact = false;
            break;
        }
        const Bytes item = *body.read(total);
        ids.emplace_back(std::to_string(ByteCursor::u32(item, 24)));
    }
    if (!intact) LogWarn("iTunesDB: playlist \"{}\" has a malformed entry", name);
    result.playlist = iPodPlaylist::CreateNewPlaylistWithName(name, 0, tag);
    result.playlist->trackIDs() = std::move(ids);
    if (smart) result.playlist->setType(2);
    if (ByteCursor::u8(h, 20) == 1) result.playlist->setIsMaster(true);
    return result;
}

std::vector<PlaylistRead> readPlaylistList(ByteCursor& set, bool logNames) {
    std::vector<PlaylistRead> playlists;
    auto list = takeRecord(set, kListFixed, false);
    if (!list) return playlists;
    const std::uint32_t count = ByteCursor::u32(list->header, 8);
    for (std::uint32_t i = 0; i < count && !set.atEnd(); ++i) {
        auto playlist =
            readPlaylist(set, static_cast<std::int32_t>(100 + std::min(i, 1u << 30)), logNames);
        if (!playlist) {
            LogWarn("iTunesDB: playlist record {} of {} is malformed", i, count);
            break;
        }
        playlists.push_back(std::move(*playlist));
    }
    return playlists;
}

// Walks the database's sections, handing the body of each (header stepped over) to `visit`
// with its type. False when the file is no database.
template <typename Visit>
bool walkSections(std::span<const std::uint8_t> bytes, Visit&& visit) {
    ByteCursor file(bytes);
    auto head = file.peek(kDatabaseFixed);
    if (!head || !ByteCursor::hasTag(*head, "mhbd")) return false;
    const std::size_t headerLength = ByteCursor::u32(*head, 4);
    if (headerLength < kDatabaseFixed || headerLength > file.remaining()) return false;
    file.skip(headerLength);
    const std::uint32_t count = ByteCursor::u32(*head, 20);
    for (std::uint32_t i = 0; i < count && !file.atEnd(); ++i) {
        auto set = takeRecord(file, kSetFixed, true);
        if (!set) {
            LogWarn("iTunesDB: data set {} of {} is malformed", i, count);
            break;
        }
        visit(ByteCursor::u32(set->header, 12), set->body);
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const std::streamoff size = in.tellg();
    if (size < 0 || !in.seekg(0)) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<std::string> decodeUtf16LE(std::span<const std::uint8_t> bytes) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        char32_t unit = bytes[i] | (bytes[i + 1] << 8);
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= bytes.size()) return std::nullopt;
            const char32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return std::nullopt;
        }
        foundation::utf8::append(out, unit);
    }
    return out;
}

iTunesDBContents iTunesDBReader::read(std::span<const std::uint8_t> bytes) {
    iTunesDBContents contents;
    contents.isDatabase = walkSections(bytes, [&](std::uint32_t type, ByteCursor& set) {
        if (type == 1) {
            readTrackList(set, contents.tracks);
        } else if (type == 2) {
            contents.hasPlaylistList = true;
            for (auto& read : readPlaylistList(set, true)) {
                contents.playlists.push_back(std::move(read.playlist));
            }
        }
    });
    return contents;
}

iTunesDBContents iTunesDBReader::readFile(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) return {};
    return read(*bytes);
}

std::optional<std::string> iTunesDBReader::masterPlaylistName(std::span<const std::uint8_t> bytes) {
    std::optional<std::string> name;
    walkSections(bytes, [&](std::uint32_t type, ByteCursor& set) {
        if (type != 2 || name) return;
        for (auto& read : readPlaylistList(set, false)) {
            if (read.playlist->isMaster() && read.firstName) {
                name = read.firstName;
                return;
            }
        }
    });
    return name;
}

std::optional<std::string> iTunesDBReader::masterPlaylistNameOfFile(const std::string& path) {
    auto bytes = readWholeFile(path);
    if (!bytes) return std::nullopt;
    return masterPlaylistName(*bytes);
}

}  // namespace media
