#include "platform/audio/AudioSource.h"

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace audio {

namespace {

// Demuxers of audio formats; none of them opens further files.
constexpr const char* kAudioDemuxers = "mov,mp3,aac,wav,flac,ogg,aiff,caf,matroska,webm,asf,w64,au";
// No single allocation of a probe or a decode needs more; a hostile length fails instead.
constexpr std::size_t kMaxAllocation = std::size_t(256) << 20;
constexpr int kIOBufferSize = 64 * 1024;

// FFmpeg's own settings, made once: the allocation limit, and no messages of its own on
// standard error (failures come back as results).
void setUpLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_max_alloc(kMaxAllocation);
        av_log_set_level(AV_LOG_QUIET);
    });
}

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

}  // namespace

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// FFmpeg reads memory sources through these callbacks; every read and seek stays within
// the bytes.
struct AudioSource::MemoryReader {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    std::size_t position = 0;
    AVIOContext* io = nullptr;

    ~MemoryReader() {
        if (io) av_freep(&io->buffer);
        avio_context_free(&io);
    }

    static int read(void* opaque, std::uint8_t* buffer, int size) {
        auto* self = static_cast<MemoryReader*>(opaque);
        const std::size_t left = self->bytes->size() - self->position;
        if (left == 0) return AVERROR_EOF;
        const std::size_t count =
            std::min<std::size_t>(left, static_cast<std::size_t>(std::max(size, 0)));
        std::memcpy(buffer, self->bytes->data() + self->position, count);
        self->position += count;
        return static_cast<int>(count);
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
        auto* self = static_cast<MemoryReader*>(opaque);
        const auto size = static_cast<std::int64_t>(self->bytes->size());
        if (whence & AVSEEK_SIZE) return size;
        std::int64_t base = 0;
        switch (whence & ~AVSEEK_FORCE) {
            case SEEK_SET:
                base = 0;
                break;
            case SEEK_CUR:
                base = static_cast<std::int64_t>(self->position);
                break;
            case SEEK_END:
                base = size;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (offset > size - base || base + offset < 0) return AVERROR(EINVAL);
        self->position = static_cast<std::size_t>(base + offset);
        return base + offset;
    }
};

std::unique_ptr<AudioSource> AudioSource::openFile(const std::string& path, std::string* error) {
    // "file:" keeps FFmpeg from reading a protocol into a path such as "a:b.mp3".
    return open(std::unique_ptr<AudioSource>(new AudioSource()), "file:" + path, error);
}

std::unique_ptr<AudioSource> AudioSource::openMemory(
    std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::string* error) {
    std::unique_ptr<AudioSource> source(new AudioSource());
    source->memory_ = std::make_unique<MemoryReader>();
    source->memory_->bytes = std::move(bytes);
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIOBufferSize));
    if (!buffer) {
        setError(error, errorText(AVERROR(ENOMEM)));
        return nullptr;
    }
    source->memory_->io = avio_alloc_context(buffer, kIOBufferSize, 0, source->memory_.get(),
                                             &MemoryReader::read, nullptr, &MemoryReader::seek);
    if (!source->memory_->io) {
        av_free(buffer);
        setError(error, errorText(AVERROR(ENOMEM)));
        return nullptr;
    }
    return open(std::move(source), "", error);
}

std::unique_ptr<AudioSource> AudioSource::open(std::unique_ptr<AudioSource> source,
                                               const std::string& url, std::string* error) {
    setUpLibraries();
    source->format_ = avformat_alloc_context();
    if (!source->format_) {
        setError(error, errorText(AVERROR(ENOMEM)));
        return nullptr;
    }
    if (source->memory_) {
        source->format_->pb = source->memory_->io;
        source->format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kAudioDemuxers, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    int status = avformat_open_input(&source->format_, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (status < 0) {  // the context is freed already
        setError(error, errorText(status));
        return nullptr;
    }
    status = avformat_find_stream_info(source->format_, nullptr);
    if (status < 0) {
        setError(error, errorText(status));
        return nullptr;
    }
    source->stream_ = av_find_best_stream(source->format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (source->stream_ < 0) {
        setError(error, "no audio stream");
        return nullptr;
    }
    return source;
}

AudioSource::~AudioSource() {
    avformat_close_input(&format_);
}

double AudioSource::duration() const {
    if (format_->duration > 0) return static_cast<double>(format_->duration) / AV_TIME_BASE;
    const AVStream* stream = format_->streams[stream_];
    if (stream->duration > 0)
        return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    return 0;
}

AudioSource::Metadata AudioSource::metadata() const {
    Metadata all;
    auto add = [&](const AVDictionary* tags) {
        const AVDictionaryEntry* entry = nullptr;
        while ((entry = av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX))) {
            const bool known = std::any_of(
                all.begin(), all.end(), [&](const auto& item) { return item.first == entry->key; });
            if (!known) all.emplace_back(entry->key, entry->value);
        }
    };
    add(format_->metadata);
    add(format_->streams[stream_]->metadata);
    return all;
}

bool AudioSource::isPlayable() const {
    return avcodec_find_decoder(format_->streams[stream_]->codecpar->codec_id) != nullptr;
}

bool AudioSource::isProtected() const {
    const AVStream* stream = format_->streams[stream_];
    if (stream->codecpar->codec_tag == MKTAG('d', 'r', 'm', 's')) return true;
    for (int i = 0; i < stream->nb_side_data; ++i) {
        if (stream->side_data[i].type == AV_PKT_DATA_ENCRYPTION_INIT_INFO) return true;
    }
    return false;
}

}  // namespace audio
