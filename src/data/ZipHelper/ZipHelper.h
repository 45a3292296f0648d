#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "data/ZipHelper/ZipHelperDelegate.h"
#include "foundation/Value.h"

// libzip's archive and open-entry types.
struct zip;
struct zip_file;

// gzip inflating over zlib, and writing and reading zip archives over libzip, with traditional
// PKWARE encryption for entries with a password. One object writes one archive or reads one
// archive at a time; it is used by one thread at a time.
class ZipHelper {
public:
    ZipHelper() = default;
    ~ZipHelper();
    ZipHelper(const ZipHelper&) = delete;
    ZipHelper& operator=(const ZipHelper&) = delete;

    // The inflated first member of a gzip stream; nullopt on any failure (empty input,
    // no gzip wrapper, damaged or truncated data). Never a partial result.
    static std::optional<foundation::Data> ungzip(std::span<const std::uint8_t> data);

    // Writing. Entries are deflated at the default level and dated with the file's
    // modification time; with a non-empty password every entry is enciphered (traditional
    // PKWARE, which every unzip reads). The files are read, and the archive written, when it
    // is closed: the archive appears whole or not at all.
    bool CreateZipFile2(const std::string& path);
    bool CreateZipFile2(const std::string& path, const std::string& password);
    // False when no archive is open or the file cannot be read now.
    bool addFileToZipNewname(const std::string& file, const std::string& newname);
    // False when no archive was open or writing it failed (a file gone unreadable too).
    bool CloseZipFile2();

    // Reading. The password is handed only to enciphered entries; without it, or with a
    // wrong one, such an entry ends an extraction with "Error occurs".
    bool UnzipOpenFile(const std::string& path);
    bool UnzipOpenFile(const std::string& path, const std::string& password);
    // Extracts every entry below `folder`. An entry whose name is absolute or climbs out of
    // the folder with ".." is refused and reported; the others are still extracted and the
    // answer is then false. A file is replaced only once its entry was read whole and
    // checked, so a damaged entry never leaves a half-written file.
    bool UnzipFileToOverWrite(const std::string& folder, bool overwrite);
    // The first entry of that name ("\" read as "/"); nullopt when there is none or it
    // cannot be read whole.
    std::optional<foundation::Data> UnzipFileByName(const std::string& name);
    bool UnzipCloseFile();

    void OutputErrorMessage(const std::string& message);
    bool OverWrite(const std::string& path);
    // 1 January 1980, midnight, local time: the earliest date a zip entry can hold.
    static foundation::Date Date1980();

    // Kept for callers of the in-memory forms, which are not offered: always nullopt.
    static std::optional<foundation::Data> zipdata(std::span<const std::uint8_t> data);
    static std::optional<foundation::Data> unzipData(std::span<const std::uint8_t> data);

    const std::shared_ptr<ZipHelperDelegate>& delegate() const { return delegate_; }
    void setDelegate(std::shared_ptr<ZipHelperDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

private:
    // Opens entry `index` (with the password when it is enciphered); nullptr when it cannot.
    zip_file* openEntry(std::uint64_t index);
    // Reads an opened entry in steps into `sink` and closes it; false on a read or CRC error.
    template <typename Sink>
    bool readEntry(zip_file* entry, Sink&& sink);
    bool extractEntry(std::uint64_t index, const std::string& folder, bool overwrite,
                      bool& failed);

    zip* writer_ = nullptr;
    std::string writerPath_;
    std::string writerPassword_;
    zip* reader_ = nullptr;
    std::optional<std::string> password_;
    std::shared_ptr<ZipHelperDelegate> delegate_;
};
