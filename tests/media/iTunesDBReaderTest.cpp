#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <utility>

#include "foundation/ScratchFolder.h"
#include "iTunesDBWriter.h"
#include "media/iTunesDBReader.h"

namespace {

using foundation::Value;
using media::iTunesDBReader;
using namespace mediatest;

std::vector<std::string> ids(const media::iPodPlaylist& playlist) {
    std::vector<std::string> out;
    for (const auto& id : playlist.trackIDs()) out.push_back(id.stringOr("?"));
    return out;
}

DatabaseSpec sampleDatabase() {
    DatabaseSpec spec;
    spec.tracks.push_back({.id = 52,
                           .strings = {{1, u"Blue"},
                                       {2, u":iPod_Control:Music:F01:A.mp3"},
                                       {3, u"Album"},
                                       {4, u"Artist"},
                                       {5, u"Jazz"},
                                       {6, u"MPEG audio file"},
                                       {8, u"nice"}},
                           .size = 4000000,
                           .length = 215000,
                           .trackNumber = 3,
                           .totalTracks = 12,
                           .year = 1999,
                           .playCount = 7,
                           .rating = 80});
    spec.tracks.push_back({.id = 53,
                           .strings = {{1, u"Film"}, {6, u"MPEG-4 video file"}},
                           .mediaType = 2,
                           .movieFlag = 1});
    spec.playlists.push_back({u"My iPod", true, false, {52, 53}});
    spec.playlists.push_back({u"Recent", false, true, {53}});
    spec.playlists.push_back({u"Plain", false, false, {}});
    return spec;
}

TEST(iTunesDBReaderTest, ReadsTracksAndPlaylistsOfOurOwnWriter) {
    auto spec = sampleDatabase();
    spec.otherSetBetween = true;
    auto contents = iTunesDBReader::read(writeITunesDB(spec));
    ASSERT_TRUE(contents.isDatabase);
    ASSERT_EQ(contents.tracks.size(), 2u);
    // The whole record, so that a stray key or flag shows too.
    EXPECT_EQ(contents.tracks[0], Value::dict({{"pid", 52u},
                                               {"title", "Blue"},
                                               {"location", "/iPod_Control/Music/F01/A.mp3"},
                                               {"album", "Album"},
                                               {"artist", "Artist"},
                                               {"genre", "Jazz"},
                                               {"comment", "nice"},
                                               {"fileType", "MPEG audio file"},
                                               {"size", 4000000u},
                                               {"length", 215000u},
                                               {"trackNumber", 3},
                                               {"totalTracks", 12},
                                               {"year", 1999},
                                               {"playCount", 7u},
                                               {"stars", 80u},
                                               {"is_song", true}}));
    EXPECT_TRUE(contents.tracks[1]["is_movie"].isBool());

    // The type-3 set in between is stepped over, not read as a playlist list.
    ASSERT_TRUE(contents.hasPlaylistList);
    ASSERT_EQ(contents.playlists.size(), 3u);
    const auto& master = *contents.playlists[0];
    EXPECT_EQ(master.name(), "My iPod");
    EXPECT_TRUE(master.isMaster());
    EXPECT_EQ(master.type(), 0);
    EXPECT_EQ(master.tag(), 100);
    EXPECT_EQ(ids(master), (std::vector<std::string>{"52", "53"}));
    EXPECT_EQ(contents.playlists[1]->type(), 2);
    EXPECT_FALSE(contents.playlists[1]->isMaster());
    EXPECT_EQ(contents.playlists[1]->tag(), 101);
    EXPECT_EQ(ids(*contents.playlists[1]), (std::vector<std::string>{"53"}));
    EXPECT_EQ(contents.playlists[2]->tag(), 102);
    EXPECT_TRUE(contents.playlists[2]->trackIDs().empty());

    EXPECT_EQ(iTunesDBReader::masterPlaylistName(writeITunesDB(spec)), "My iPod");
}

struct ClassificationCase {
    const char* what;
    std::u16string fileType;  // empty: no file-type string
    std::u16string location;
    std::uint32_t mediaType;
    std::uint8_t movieFlag;
    std::vector<const char*> flags;
};

TEST(iTunesDBReaderTest, ClassifiesByFileTypeMediaTypeAndExtension) {
    const ClassificationCase cases[] = {
        {"no file type, audio book", u"", u"", 8, 0, {"is_audio_book"}},
        {"no file type, song", u"", u"", 0, 0, {"is_song"}},
        {"audio podcast", u"AAC audio file", u"", 4, 0, {"is_podcast"}},
        {"music video only", u"MPEG-4 video file", u"", 2, 0, {"is_music_video"}},
        {"movie", u"MPEG-4 video file", u"", 2, 1, {"is_music_video", "is_movie"}},
        {"tv show", u"MPEG-4 video file", u"", 64, 1, {"is_music_video", "is_tv_show"}},
        {"video podcast", u"MPEG-4 video file", u"", 6, 0, {"is_music_video", "is_podcast"}},
        {"MP3 in capitals", u"MPEG-4 video file", u":x:Y.MP3", 2, 0, {"is_music_video", "is_song"}},
        {"aiff audio book", u"AIFF audio file", u":a:b.aiff", 8, 0, {"is_audio_book", "is_song"}},
        {"neither audio nor video", u"Picture", u"", 0, 0, {}},
        {"dot in a folder only", u"Picture", u":a.mp3:file", 0, 0, {}},
    };
    const char* allFlags[] = {"is_song",        "is_podcast", "is_audio_book",
                              "is_music_video", "is_movie",   "is_tv_show"};
    for (const auto& c : cases) {
        TrackSpec track{.id = 1, .mediaType = c.mediaType, .movieFlag = c.movieFlag};
        if (!c.fileType.empty()) track.strings[6] = c.fileType;
        if (!c.location.empty()) track.strings[2] = c.location;
        auto contents = iTunesDBReader::read(writeITunesDB({.tracks = {track}}));
        ASSERT_EQ(contents.tracks.size(), 1u) << c.what;
        for (const char* flag : allFlags) {
            const bool expected = std::find_if(c.flags.begin(), c.flags.end(), [&](const char* f) {
                                      return std::string_view(f) == flag;
                                  }) != c.flags.end();
            // Flags are only ever present as YES.
            EXPECT_EQ(contents.tracks[0][flag].isNil(), !expected) << c.what << " " << flag;
        }
    }
}

TEST(iTunesDBReaderTest, TrackWithoutStringsKeepsDefaultsAndBadTextKeepsEarlierValue) {
    TrackSpec bare{.id = 9};
    TrackSpec odd{.id = 10};
    odd.strings[1] = u"Fine";
    auto bytes = writeITunesDB({.tracks = {bare, odd}});
    auto contents = iTunesDBReader::read(bytes);
    ASSERT_EQ(contents.tracks.size(), 2u);
    for (const char* key : {"title", "artist", "album", "genre"}) {
        EXPECT_EQ(contents.tracks[0][key], Value("Unknown")) << key;
    }
    EXPECT_TRUE(contents.tracks[0]["location"].isNil());

    // An unpaired surrogate in the title: the default stays.
    TrackSpec broken{.id = 11};
    broken.strings[1] = std::u16string(1, char16_t(0xD800));
    contents = iTunesDBReader::read(writeITunesDB({.tracks = {broken}}));
    ASSERT_EQ(contents.tracks.size(), 1u);
    EXPECT_EQ(contents.tracks[0]["title"], Value("Unknown"));
}

TEST(iTunesDBReaderTest, RejectsWhatIsNoDatabase) {
    const Bytes inputs[] = {{}, Bytes(24, 0), header("mhbx", 104), header("mhbd", 8)};
    for (const auto& input : inputs) {
        auto contents = iTunesDBReader::read(input);
        EXPECT_FALSE(contents.isDatabase);
        EXPECT_EQ(contents.error, "the file is no iTunesDB");
        EXPECT_TRUE(contents.tracks.empty());
        EXPECT_FALSE(contents.hasPlaylistList);
    }
    EXPECT_FALSE(iTunesDBReader::readFile("/nonexistent/iTunesDB").isDatabase);
    EXPECT_FALSE(iTunesDBReader::masterPlaylistName(writeITunesDB({})).has_value());
}

// Offsets into the sample database, found by walking our own writer's layout.
struct LengthFault {
    const char* what;
    std::function<void(Bytes&)> damage;
    std::size_t tracks;
    std::size_t playlists;
};

TEST(iTunesDBReaderTest, BadLengthsEndTheirListButKeepWhatCameBefore) {
    const Bytes good = writeITunesDB(sampleDatabase());
    const std::size_t firstSet = 104;
    const std::size_t firstTrack = firstSet + 96 + 92;
    const std::size_t secondTrack = firstTrack + get32(good, firstTrack + 8);
    const std::size_t playlistSet = firstSet + get32(good, firstSet + 8);
    const std::size_t firstPlaylist = playlistSet + 96 + 92;
    const std::size_t secondPlaylist = firstPlaylist + get32(good, firstPlaylist + 8);
    const LengthFault faults[] = {
        {"database header past the end", [&](Bytes& b) { put32(b, 4, 0x7FFFFFFF); }, 0, 0},
        {"second track header below its fixed part",
         [&](Bytes& b) { put32(b, secondTrack + 4, 100); }, 1, 3},
        {"second track total past its set", [&](Bytes& b) { put32(b, secondTrack + 8, 1u << 30); },
         1, 3},
        {"track total below its header", [&](Bytes& b) { put32(b, firstTrack + 8, 200); }, 0, 3},
        {"huge track count", [&](Bytes& b) { put32(b, firstSet + 96 + 8, 0xFFFFFFFF); }, 2, 3},
        {"track set total past the file", [&](Bytes& b) { put32(b, firstSet + 8, 0xFFFFFFF0); }, 0,
         0},
        {"second playlist total past the end",
         [&](Bytes& b) { put32(b, secondPlaylist + 8, 0xFFFFFFFF); }, 2, 1},
        {"huge set count", [&](Bytes& b) { put32(b, 20, 0xFFFFFFFF); }, 2, 3},
        {"string object longer than its record",
         [&](Bytes& b) { put32(b, firstTrack + 388 + 28, 0x10000); }, 2, 3},
    };
    for (const auto& fault : faults) {
        Bytes bytes = good;
        fault.damage(bytes);
        auto contents = iTunesDBReader::read(bytes);
        EXPECT_EQ(contents.tracks.size(), fault.tracks) << fault.what;
        EXPECT_EQ(contents.playlists.size(), fault.playlists) << fault.what;
        EXPECT_NE(contents.error, "") << fault.what;
    }
}

// The tracks and playlists a file's lists say they hold, found by following the database's
// data sets by their total lengths; nullopt where the file cannot be followed so.
std::optional<std::pair<std::size_t, std::size_t>> declaredCounts(const Bytes& bytes) {
    if (bytes.size() < 24 || !std::equal(bytes.begin(), bytes.begin() + 4, "mhbd")) {
        return std::nullopt;
    }
    std::size_t at = get32(bytes, 4);
    std::size_t tracks = 0, playlists = 0;
    for (std::uint32_t set = 0, sets = get32(bytes, 20); set < sets; ++set) {
        if (at > bytes.size() || bytes.size() - at < 16) return std::nullopt;
        const std::size_t header = get32(bytes, at + 4);
        const std::size_t total = get32(bytes, at + 8);
        const std::uint32_t type = get32(bytes, at + 12);
        if (header < 16 || total < header || total > bytes.size() - at) return std::nullopt;
        if (type == 1 || type == 2) {
            if (total - header < 12) return std::nullopt;
            (type == 1 ? tracks : playlists) += get32(bytes, at + header + 8);
        }
        at += total;
    }
    return std::make_pair(tracks, playlists);
}

TEST(iTunesDBReaderTest, SurvivesTruncationAtEveryOffsetAndRandomMutation) {
    const Bytes good = writeITunesDB(sampleDatabase());
    const auto full = iTunesDBReader::read(good);
    EXPECT_EQ(full.error, "");
    EXPECT_EQ(declaredCounts(good), std::make_pair(std::size_t{2}, std::size_t{3}));
    std::size_t whole = 0, failed = 0;
    readEveryCutAndMutation(good, 13, [&](const Bytes& bytes, bool cut) {
        const auto contents = iTunesDBReader::read(bytes);
        iTunesDBReader::masterPlaylistName(bytes);
        // Every database reads whole, with as many tracks and playlists as its lists say, or
        // says what is wrong with it.
        if (contents.error.empty()) {
            ++whole;
            EXPECT_TRUE(contents.isDatabase);
            const auto declared = declaredCounts(bytes);
            ASSERT_TRUE(declared) << "read whole, yet its sets cannot be followed";
            EXPECT_EQ(contents.tracks.size(), declared->first);
            EXPECT_EQ(contents.playlists.size(), declared->second);
        } else {
            ++failed;
        }
        // Within what the bytes can hold, whatever they say.
        EXPECT_LE(contents.tracks.size(), bytes.size() / 212);
        EXPECT_LE(contents.playlists.size(), bytes.size() / 24);
        std::size_t ids = 0;
        for (const auto& playlist : contents.playlists) ids += playlist->trackIDs().size();
        EXPECT_LE(ids, bytes.size() / 28);
        std::size_t text = 0;
        for (std::size_t i = 0; i < contents.tracks.size(); ++i) {
            const Value track = contents.tracks[i];
            for (const char* key : {"pid", "title", "artist", "album", "genre"}) {
                EXPECT_FALSE(track[key].isNil()) << key;
            }
            for (const auto& entry : *track.dictionary()) {
                if (const std::string* string = entry.second.string()) text += string->size();
            }
        }
        // UTF-16 becomes at most half as long again in UTF-8; "Unknown" stands for what is
        // missing.
        EXPECT_LE(text, bytes.size() * 3 / 2 + contents.tracks.size() * 4 * 7);
        if (!cut) return;
        // A cut file never yields more than the whole one.
        EXPECT_LE(contents.tracks.size(), full.tracks.size()) << bytes.size();
        EXPECT_LE(contents.playlists.size(), full.playlists.size()) << bytes.size();
    });
    // Both outcomes are met: the mutations are neither all harmless nor all fatal.
    EXPECT_GT(whole, 100u);
    EXPECT_GT(failed, 100u);
}

// The name is read from the live database on a mounted iPod, which the device or another
// program rewrites in place: a shrinking file gives no name or the name, never a crash.
TEST(iTunesDBReaderTest, NameOfALiveFileSurvivesItsRewriteInPlace) {
    foundationtest::ScratchFolder folder;
    const std::string path = folder / "iTunesDB";
    DatabaseSpec spec = sampleDatabase();
    for (std::uint32_t id = 1000; id < 4000; ++id)
        spec.tracks.push_back({.id = id, .strings = {{1, u"A title long enough to fill pages"}}});
    const Bytes bytes = writeITunesDB(spec);
    auto rewrite = [&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        for (std::size_t at = 0; at < bytes.size(); at += 65536) {
            const std::size_t n = std::min<std::size_t>(65536, bytes.size() - at);
            ASSERT_EQ(::write(fd, bytes.data() + at, n), static_cast<ssize_t>(n));
        }
        ::close(fd);
    };
    rewrite();
    EXPECT_EQ(iTunesDBReader::masterPlaylistNameOfFile(path), "My iPod");

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 1500; ++i) rewrite();
        done = true;
    });
    while (!done) {
        const auto name = iTunesDBReader::masterPlaylistNameOfFile(path);
        if (name) {
            EXPECT_EQ(*name, "My iPod");
        }
    }
    writer.join();
    EXPECT_EQ(iTunesDBReader::masterPlaylistNameOfFile(path), "My iPod");
    EXPECT_FALSE(iTunesDBReader::masterPlaylistNameOfFile(folder / "missing").has_value());
}

}  // namespace
