#pragma once

#include <array>
#include <string>
#include <string_view>

namespace media {

// The media library's track queries, tried in order until one compiles against the
// database's tables: the shapes of the libraries of successive device generations. In the
// first, "%@" stands for "media_type, " when the item table has that column. Each form
// stands on one line, exactly as devices have been read.
// clang-format off
inline constexpr std::array<std::string_view, 5> kTrackQueryLadder = {
    "SELECT %@ item_extra.item_pid,title, item_artist, album, total_time_ms, track_number, track_count, year,  is_audible_audio_book,content_rating, content_rating_level, is_compilation, disc_number, disc_count, category_id, album_artist, composer, comment, grouping, description, description_long, album_artist, location, file_size, sample_rate, bit_rate, user_rating, play_count_user, genre_id,  media_kind  FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM  (SELECT * FROM  (SELECT *  FROM item  LEFT JOIN album_artist ON item.album_artist_pid=album_artist.album_artist_pid) AS AlbumArtist  LEFT JOIN item_artist ON AlbumArtist.item_artist_pid=item_artist.item_artist_pid)  AS ItemArtist LEFT JOIN  album ON ItemArtist.album_pid=album.album_pid) AS Album LEFT JOIN composer ON Album.composer_pid=composer.composer_pid)) AS AllItems LEFT JOIN item_stats ON AllItems.item_pid=item_stats.item_pid) AS WithoutPlayback LEFT JOIN item_playback ON WithoutPlayback.item_pid=item_playback.item_pid) as items left join item_extra on item_extra.item_pid=items.item_pid WHERE in_my_library>0 AND location<>'';",
    "SELECT item_extra.item_pid,title, item_artist, album, total_time_ms, track_number, track_count, year,  is_audible_audio_book,is_rental, is_itunes_u, is_podcast, content_rating, content_rating_level, is_compilation, disc_number, disc_count, category_id, album_artist, composer, comment, grouping, description, description_long, album_artist, location, file_size, sample_rate, bit_rate, user_rating, play_count_user, genre_id, item_extra.artwork_cache_id AS artwork_cache_id, media_kind FROM item_extra, (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM  (SELECT * FROM  (SELECT *  FROM item  LEFT JOIN album_artist ON item.album_artist_pid=album_artist.album_artist_pid) AS AlbumArtist  LEFT JOIN item_artist ON AlbumArtist.item_artist_pid=item_artist.item_artist_pid)  AS ItemArtist LEFT JOIN  album ON ItemArtist.album_pid=album.album_pid) AS Album LEFT JOIN composer ON Album.composer_pid=composer.composer_pid)) AS AllItems LEFT JOIN item_stats ON AllItems.item_pid=item_stats.item_pid) AS Result WHERE Result.item_pid=item_extra.item_pid;",
    "SELECT item_extra.item_pid,title, item_artist, album, total_time_ms, track_number, track_count, year,  is_audible_audio_book,content_rating, content_rating_level, is_compilation, disc_number, disc_count, category_id, album_artist, composer, comment, grouping, description, description_long, album_artist, location, file_size, sample_rate, bit_rate, user_rating, play_count_user, genre_id,  media_kind, artwork.best_artwork_token AS artwork_cache_id FROM item_extra, (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM  (SELECT * FROM  (SELECT *  FROM item  LEFT JOIN album_artist ON item.album_artist_pid=album_artist.album_artist_pid) AS AlbumArtist  LEFT JOIN item_artist ON AlbumArtist.item_artist_pid=item_artist.item_artist_pid)  AS ItemArtist LEFT JOIN  album ON ItemArtist.album_pid=album.album_pid) AS Album LEFT JOIN composer ON Album.composer_pid=composer.composer_pid)) AS AllItems LEFT JOIN item_stats ON AllItems.item_pid=item_stats.item_pid) AS WithoutPlayback LEFT JOIN item_playback ON WithoutPlayback.item_pid=item_playback.item_pid) AS Result LEFT JOIN item_artwork ON Result.item_pid=item_artwork.item_pid) AS artwork WHERE artwork.item_pid=item_extra.item_pid;",
    "SELECT item_extra.item_pid,title, item_artist, album, total_time_ms, track_number, track_count, year,  is_audible_audio_book,content_rating, content_rating_level, is_compilation, disc_number, disc_count, category_id, album_artist, composer, comment, grouping, description, description_long, album_artist, location, file_size, sample_rate, bit_rate, user_rating, play_count_user, genre_id, item_extra.artwork_cache_id AS artwork_cache_id, media_kind FROM item_extra, (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM  (SELECT * FROM  (SELECT *  FROM item  LEFT JOIN album_artist ON item.album_artist_pid=album_artist.album_artist_pid) AS AlbumArtist  LEFT JOIN item_artist ON AlbumArtist.item_artist_pid=item_artist.item_artist_pid)  AS ItemArtist LEFT JOIN  album ON ItemArtist.album_pid=album.album_pid) AS Album LEFT JOIN composer ON Album.composer_pid=composer.composer_pid)) AS AllItems LEFT JOIN item_stats ON AllItems.item_pid=item_stats.item_pid) AS WithoutPlayback LEFT JOIN item_playback ON WithoutPlayback.item_pid=item_playback.item_pid) AS Result WHERE Result.item_pid=item_extra.item_pid;",
    "SELECT item_extra.item_pid,title, item_artist, album, total_time_ms, track_number, track_count, year,  is_audible_audio_book, is_itunes_u, is_podcast, content_rating, content_rating_level, is_compilation, disc_number, disc_count, category_id, album_artist, composer, comment, grouping, description, description_long, album_artist, location, file_size, sample_rate, bit_rate, user_rating, play_count_user, genre_id, item_extra.artwork_cache_id AS artwork_cache_id, media_kind FROM item_extra, (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM (SELECT * FROM  (SELECT * FROM  (SELECT *  FROM item  LEFT JOIN album_artist ON item.album_artist_pid=album_artist.album_artist_pid) AS AlbumArtist  LEFT JOIN item_artist ON AlbumArtist.item_artist_pid=item_artist.item_artist_pid)  AS ItemArtist LEFT JOIN  album ON ItemArtist.album_pid=album.album_pid) AS Album LEFT JOIN composer ON Album.composer_pid=composer.composer_pid)) AS AllItems LEFT JOIN item_stats ON AllItems.item_pid=item_stats.item_pid) AS WithoutPlayback LEFT JOIN item_playback ON WithoutPlayback.item_pid=item_playback.item_pid) AS Result WHERE Result.item_pid=item_extra.item_pid;",
};
// clang-format on

// The first form with its placeholder filled.
inline std::string firstTrackQuery(bool hasMediaType) {
    constexpr std::string_view form = kTrackQueryLadder[0];
    constexpr std::size_t at = form.find("%@");
    std::string query;
    query.reserve(form.size() + 16);
    query.append(form.substr(0, at));
    if (hasMediaType) query.append("media_type, ");
    query.append(form.substr(at + 2));
    return query;
}

// Artwork file paths: by the track's pid (libraries whose first form worked) or by its
// artwork id; the value is bound.
inline constexpr std::string_view kArtworkByEntityQuery =
    "SELECT relative_path FROM artwork LEFT JOIN artwork_token ON "
    "artwork.artwork_token=artwork_token.artwork_token WHERE artwork_token.entity_pid=?;";
inline constexpr std::string_view kArtworkByTokenQuery =
    "SELECT relative_path from artwork where artwork_token=?;";

}  // namespace media
