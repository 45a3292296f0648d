#pragma once

// Fixtures written by Debian's libgpod, an independent producer of iPod databases.

#ifdef ORVANDEL_HAVE_GPOD

#include <gpod/itdb.h>

#include <memory>
#include <string>

namespace mediatest {

struct ItdbFree {
    void operator()(Itdb_iTunesDB* itdb) const { itdb_free(itdb); }
};
using ItdbPtr = std::unique_ptr<Itdb_iTunesDB, ItdbFree>;

inline Itdb_Track* addGpodTrack(Itdb_iTunesDB* itdb, const char* title, const char* path,
                                const char* fileType, guint32 mediaType) {
    Itdb_Track* track = itdb_track_new();
    track->title = g_strdup(title);
    track->artist = g_strdup("Gpod Artist");
    track->album = g_strdup("Gpod Album");
    track->genre = g_strdup("Rock");
    track->filetype = g_strdup(fileType);
    track->ipod_path = g_strdup(path);
    track->mediatype = mediaType;
    track->size = 1234567;
    track->tracklen = 180000;
    track->track_nr = 4;
    track->tracks = 10;
    track->year = 2007;
    track->playcount = 3;
    track->rating = 60;
    itdb_track_add(itdb, track, -1);
    return track;
}

// A database with `trackCount` songs, all in the master playlist "Gpod iPod", the first two
// in a plain playlist "Road" and a smart playlist "Smart".
inline ItdbPtr makeGpodDatabase(int trackCount) {
    ItdbPtr itdb(itdb_new());
    Itdb_Playlist* master = itdb_playlist_new("Gpod iPod", FALSE);
    itdb_playlist_set_mpl(master);
    itdb_playlist_add(itdb.get(), master, -1);
    Itdb_Playlist* road = itdb_playlist_new("Road", FALSE);
    itdb_playlist_add(itdb.get(), road, -1);
    Itdb_Playlist* smart = itdb_playlist_new("Smart", TRUE);
    itdb_playlist_add(itdb.get(), smart, -1);
    for (int i = 0; i < trackCount; ++i) {
        const std::string title = "Song " + std::to_string(i);
        const std::string path = ":iPod_Control:Music:F00:S" + std::to_string(i) + ".mp3";
        Itdb_Track* track = addGpodTrack(itdb.get(), title.c_str(), path.c_str(), "MPEG audio file",
                                         ITDB_MEDIATYPE_AUDIO);
        itdb_playlist_add_track(master, track, -1);
        if (i < 2) {
            itdb_playlist_add_track(road, track, -1);
            itdb_playlist_add_track(smart, track, -1);
        }
    }
    return itdb;
}

// A mount point that libgpod takes for an iPod of the given model number ("xB029"), for
// databases of that model's picture formats.
inline void makeGpodDevice(const std::string& mountPoint, const std::string& model) {
    const std::string device = mountPoint + "/iPod_Control/Device";
    g_mkdir_with_parents(device.c_str(), 0755);
    g_mkdir_with_parents((mountPoint + "/Photos").c_str(), 0755);
    const std::string sysInfo = "ModelNumStr: " + model + "\n";
    g_file_set_contents((device + "/SysInfo").c_str(), sysInfo.c_str(), -1, nullptr);
}

inline bool writeGpodDatabase(Itdb_iTunesDB* itdb, const std::string& path) {
    GError* error = nullptr;
    const bool ok = itdb_write_file(itdb, path.c_str(), &error);
    if (error) g_error_free(error);
    return ok;
}

}  // namespace mediatest

#endif
