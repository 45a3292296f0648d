#pragma once

// A small writer of artwork and photo databases for the reader's tests.

#include <string>

#include "RecordWriter.h"

namespace mediatest {

struct SubImageSpec {
    std::uint32_t correlationID = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::uint16_t width = 0, height = 0, horizontalPadding = 0, verticalPadding = 0;
    std::uint32_t size2 = 0;
    std::u16string fileName;  // empty: no name record
};

struct ImageSpec {
    std::uint32_t id = 0;
    std::uint64_t songID = 0;
    std::uint32_t rating = 0;
    std::uint32_t created = 0;
    std::uint32_t sourceSize = 0;
    std::vector<SubImageSpec> subImages;
};

struct AlbumSpec {
    std::string name;  // empty: no name record
    std::vector<std::uint32_t> imageIDs;
};

struct FileSpec {
    std::uint32_t correlationID = 0;
    std::uint32_t size = 0;
};

struct PhotoDatabaseSpec {
    std::vector<ImageSpec> images;
    std::vector<AlbumSpec> albums;
    std::vector<FileSpec> files;
    bool unknownSection = false;  // a type-9 section with content before the others
};

inline Bytes dataRecord(std::uint16_t type, const Bytes& body) {
    Bytes head = header("mhod", 24);
    put16(head, 12, type);
    return withTotal(head, body);
}

inline Bytes stringRecord(std::uint16_t type, const Bytes& text, std::uint32_t encoding) {
    Bytes body(12, 0);
    put32(body, 0, static_cast<std::uint32_t>(text.size()));
    put32(body, 4, encoding);
    append(body, text);
    while (body.size() % 4) body.push_back(0);
    return dataRecord(type, body);
}

inline Bytes nameRecord(const SubImageSpec& spec) {
    Bytes head = header("mhni", 76);
    put32(head, 12, spec.fileName.empty() ? 0 : 1);
    put32(head, 16, spec.correlationID);
    put32(head, 20, spec.offset);
    put32(head, 24, spec.size);
    put16(head, 28, spec.verticalPadding);
    put16(head, 30, spec.horizontalPadding);
    put16(head, 32, spec.height);
    put16(head, 34, spec.width);
    put32(head, 40, spec.size2);
    Bytes children;
    if (!spec.fileName.empty()) children = stringRecord(3, utf16le(spec.fileName), 2);
    return withTotal(head, children);
}

inline Bytes imageRecord(const ImageSpec& spec) {
    Bytes head = header("mhii", 152);
    put32(head, 12, static_cast<std::uint32_t>(spec.subImages.size()));
    put32(head, 16, spec.id);
    put(head, 20, spec.songID, 8);
    put32(head, 32, spec.rating);
    put32(head, 40, spec.created);
    put32(head, 44, spec.created + 1);
    put32(head, 48, spec.sourceSize);
    Bytes children;
    for (const auto& sub : spec.subImages) append(children, dataRecord(2, nameRecord(sub)));
    return withTotal(head, children);
}

inline Bytes albumRecord(const AlbumSpec& spec) {
    Bytes head = header("mhba", 148);
    put32(head, 12, spec.name.empty() ? 0 : 1);
    put32(head, 16, static_cast<std::uint32_t>(spec.imageIDs.size()));
    Bytes children;
    if (!spec.name.empty()) {
        append(children, stringRecord(1, Bytes(spec.name.begin(), spec.name.end()), 1));
    }
    for (std::uint32_t id : spec.imageIDs) {
        Bytes item = header("mhia", 40);
        put32(item, 16, id);
        append(children, withTotal(item, {}));
    }
    return withTotal(head, children);
}

inline Bytes fileRecord(const FileSpec& spec) {
    Bytes head = header("mhif", 124);
    put32(head, 16, spec.correlationID);
    put32(head, 20, spec.size);
    return withTotal(head, {});
}

inline Bytes writePhotoDB(const PhotoDatabaseSpec& spec) {
    Bytes sections;
    std::uint32_t count = 3;
    if (spec.unknownSection) {
        // A section whose content looks like records but must be stepped over.
        append(sections, dataSet(9, list("mhli", 1, imageRecord({.id = 999}))));
        ++count;
    }
    Bytes images, albums, files;
    for (const auto& image : spec.images) append(images, imageRecord(image));
    for (const auto& album : spec.albums) append(albums, albumRecord(album));
    for (const auto& file : spec.files) append(files, fileRecord(file));
    append(sections,
           dataSet(1, list("mhli", static_cast<std::uint32_t>(spec.images.size()), images)));
    append(sections,
           dataSet(2, list("mhla", static_cast<std::uint32_t>(spec.albums.size()), albums)));
    append(sections,
           dataSet(3, list("mhlf", static_cast<std::uint32_t>(spec.files.size()), files)));
    Bytes head = header("mhfd", 132);
    put32(head, 20, count);
    return withTotal(head, sections);
}

}  // namespace mediatest
