#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct AVFormatContext;

namespace audio {

// An opened and probed audio source: a file, or bytes held in memory. Only the demuxers of
// audio formats are allowed, and no demuxer may reach further files or the network, so a
// hostile source can do no more than fail.
class AudioSource {
public:
    using Metadata = std::vector<std::pair<std::string, std::string>>;

    // nullptr with a reason when the source cannot be opened or holds no audio stream.
    static std::unique_ptr<AudioSource> openFile(const std::string& path, std::string* error);
    static std::unique_ptr<AudioSource> openMemory(
        std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::string* error);
    ~AudioSource();
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;

    // Seconds; 0 when the source does not tell.
    double duration() const;
    // The container's tags, then those of the audio stream that the container lacks, in
    // FFmpeg's generic key names ("title", "artist", "album", ...).
    Metadata metadata() const;
    // A decoder for the audio is there.
    bool isPlayable() const;
    // The audio is encrypted.
    bool isProtected() const;

    AVFormatContext* formatContext() const { return format_; }
    int audioStreamIndex() const { return stream_; }

private:
    struct MemoryReader;
    AudioSource() = default;
    static std::unique_ptr<AudioSource> open(std::unique_ptr<AudioSource> source,
                                             const std::string& url, std::string* error);

    AVFormatContext* format_ = nullptr;
    int stream_ = -1;
    std::unique_ptr<MemoryReader> memory_;
};

// FFmpeg's text for one of its error codes.
std::string errorText(int code);

}  // namespace audio
