#include "platform/audio/M4AExporter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace audio {

namespace {

// Thrown inside the export and turned into its error text.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void check(int status, const char* step) {
    if (status < 0) throw Failure(std::string(step) + ": " + errorText(status));
}

template <typename T>
T* checkPointer(T* pointer, const char* step) {
    if (!pointer) throw Failure(std::string(step) + ": " + errorText(AVERROR(ENOMEM)));
    return pointer;
}

// The source's rate when AAC has it, else 44.1 kHz.
int aacSampleRate(int rate) {
    for (int supported :
         {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000}) {
        if (rate == supported) return rate;
    }
    return 44100;
}

// One export: the decoder, resampler, encoder and output, freed together.
class Job {
public:
    Job(AudioSource& source, M4AExporter::Range range) : source_(source), range_(range) {}
    ~Job() {
        avcodec_free_context(&decoder_);
        avcodec_free_context(&encoder_);
        swr_free(&resampler_);
        if (fifo_) av_audio_fifo_free(fifo_);
        if (output_) {
            if (output_->pb) avio_closep(&output_->pb);
            avformat_free_context(output_);
        }
        av_frame_free(&decoded_);
        av_frame_free(&encoded_);
        av_packet_free(&packet_);
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    void run(const std::string& path, const AudioSource::Metadata& metadata) {
        openDecoder();
        openOutput(path, metadata);
        openResampler();
        origin_ = firstTimestamp();
        seekToStart();
        transcode();
    }

private:
    AVStream* input() const { return source_.formatContext()->streams[source_.audioStreamIndex()]; }

    void openDecoder() {
        const AVCodec* codec = avcodec_find_decoder(input()->codecpar->codec_id);
        if (!codec) throw Failure("no decoder for the audio");
        decoder_ = checkPointer(avcodec_alloc_context3(codec), "decoder");
        check(avcodec_parameters_to_context(decoder_, input()->codecpar), "decoder parameters");
        decoder_->pkt_timebase = input()->time_base;
        check(avcodec_open2(decoder_, codec, nullptr), "opening the decoder");
        if (decoder_->sample_rate <= 0 || decoder_->ch_layout.nb_channels <= 0)
            throw Failure("the audio has no sample rate or channels");
    }

    void openOutput(const std::string& path, const AudioSource::Metadata& metadata) {
        check(avformat_alloc_output_context2(&output_, nullptr, "ipod", nullptr), "output");
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec) throw Failure("no AAC encoder");
        encoder_ = checkPointer(avcodec_alloc_context3(codec), "encoder");
        encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder_->sample_rate = aacSampleRate(decoder_->sample_rate);
        if (decoder_->ch_layout.nb_channels == 1) {
            av_channel_layout_from_mask(&encoder_->ch_layout, AV_CH_LAYOUT_MONO);
        } else {
            av_channel_layout_from_mask(&encoder_->ch_layout, AV_CH_LAYOUT_STEREO);
        }
        encoder_->bit_rate = 128000 * encoder_->ch_layout.nb_channels / 2;
        encoder_->time_base = {1, encoder_->sample_rate};
        if (output_->oformat->flags & AVFMT_GLOBALHEADER)
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(encoder_, codec, nullptr), "opening the encoder");

        stream_ = checkPointer(avformat_new_stream(output_, nullptr), "output stream");
        stream_->time_base = encoder_->time_base;
        check(avcodec_parameters_from_context(stream_->codecpar, encoder_), "output parameters");
        for (const auto& [key, value] : metadata)
            av_dict_set(&output_->metadata, key.c_str(), value.c_str(), 0);
        check(avio_open(&output_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE),
              "opening the output");
        check(avformat_write_header(output_, nullptr), "writing the header");

        fifo_ =
            checkPointer(av_audio_fifo_alloc(encoder_->sample_fmt, encoder_->ch_layout.nb_channels,
                                             encoder_->frame_size),
                         "sample queue");
        decoded_ = checkPointer(av_frame_alloc(), "frame");
        encoded_ = checkPointer(av_frame_alloc(), "frame");
        packet_ = checkPointer(av_packet_alloc(), "packet");
    }

    void openResampler() {
        AVChannelLayout inputLayout{};
        if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&inputLayout, decoder_->ch_layout.nb_channels);
        } else {
            check(av_channel_layout_copy(&inputLayout, &decoder_->ch_layout), "channel layout");
        }
        const int status = swr_alloc_set_opts2(
            &resampler_, &encoder_->ch_layout, encoder_->sample_fmt, encoder_->sample_rate,
            &inputLayout, decoder_->sample_fmt, decoder_->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inputLayout);
        check(status, "resampler");
        check(swr_init(resampler_), "resampler");
    }

    // The range counts from the audio's first timestamp, in the stream's time base, as
    // players show it: a stream may start at any time, and an MP3's first timestamp is
    // after the encoder delay its decoder drops.
    std::int64_t firstTimestamp() const {
        if (input()->start_time != AV_NOPTS_VALUE) return input()->start_time;
        const std::int64_t formatStart = source_.formatContext()->start_time;
        if (formatStart == AV_NOPTS_VALUE) return 0;
        return av_rescale_q(formatStart, AV_TIME_BASE_Q, input()->time_base);
    }

    // Decoding starts a little before the range so that the decoder has settled by then.
    void seekToStart() {
        if (range_.start <= 0) return;
        const double from = std::max(0.0, range_.start - 0.5);
        const auto timestamp =
            origin_ + static_cast<std::int64_t>(from / av_q2d(input()->time_base));
        if (av_seek_frame(source_.formatContext(), source_.audioStreamIndex(), timestamp,
                          AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(decoder_);
        }
    }

    void transcode() {
        AVFormatContext* format = source_.formatContext();
        bool done = false;
        while (!done) {
            const int status = av_read_frame(format, packet_);
            if (status == AVERROR_EOF) break;
            check(status, "reading the source");
            if (packet_->stream_index == source_.audioStreamIndex()) {
                // A damaged packet is skipped, as players do.
                if (avcodec_send_packet(decoder_, packet_) >= 0) done = drainDecoder();
            }
            av_packet_unref(packet_);
        }
        if (!done) {
            avcodec_send_packet(decoder_, nullptr);
            drainDecoder();
        }
        // What the resampler holds back, then the short last frame, then the encoder's tail.
        resample(nullptr, 0);
        encodeQueued(true);
        if (written_ == 0) throw Failure("the range holds no audio");
        check(avcodec_send_frame(encoder_, nullptr), "finishing the encoder");
        writePackets();
        check(av_write_trailer(output_), "finishing the file");
    }

    // Decodes what the decoder has; true once the range is complete.
    bool drainDecoder() {
        while (true) {
            const int status = avcodec_receive_frame(decoder_, decoded_);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return false;
            if (status < 0) return false;  // a frame that does not decode is left out
            const bool complete = takeFrame();
            av_frame_unref(decoded_);
            if (complete) return true;
        }
    }

    // Passes on the part of the decoded frame that lies within the range.
    bool takeFrame() {
        // The resampler was set up for the first frame's form; a source that changes it
        // midway is not cut.
        if (decoded_->format != decoder_->sample_fmt ||
            decoded_->sample_rate != decoder_->sample_rate ||
            decoded_->ch_layout.nb_channels != decoder_->ch_layout.nb_channels)
            throw Failure("the audio changes its sample format midway");
        const double rate = decoder_->sample_rate;
        if (decoded_->best_effort_timestamp != AV_NOPTS_VALUE) {
            const double at =
                static_cast<double>(decoded_->best_effort_timestamp - origin_) *
                av_q2d(input()->time_base) * rate;
            if (std::isfinite(at) && std::fabs(at) < 1e15) position_ = std::llround(at);
        }
        const std::int64_t first = position_;
        const std::int64_t count = decoded_->nb_samples;
        position_ += count;

        const std::int64_t startSample = std::llround(range_.start * rate);
        const std::int64_t endSample = range_.end > 0 ? std::llround(range_.end * rate) : INT64_MAX;
        const std::int64_t from = std::clamp<std::int64_t>(startSample - first, 0, count);
        const std::int64_t to = std::clamp<std::int64_t>(endSample - first, 0, count);
        if (to > from) {
            const int bytes = av_get_bytes_per_sample(decoder_->sample_fmt);
            const int channels = decoder_->ch_layout.nb_channels;
            const bool planar = av_sample_fmt_is_planar(decoder_->sample_fmt);
            std::vector<const std::uint8_t*> planes(planar ? channels : 1);
            for (std::size_t plane = 0; plane < planes.size(); ++plane)
                planes[plane] =
                    decoded_->extended_data[plane] + from * bytes * (planar ? 1 : channels);
            resample(planes.data(), static_cast<int>(to - from));
            encodeQueued(false);
        }
        return first + count >= endSample;
    }

    void resample(const std::uint8_t** input, int count) {
        const int room = swr_get_out_samples(resampler_, count);
        check(room, "resampling");
        if (room == 0) return;
        check(av_audio_fifo_realloc(fifo_, av_audio_fifo_size(fifo_) + room), "sample queue");
        AVFrame* buffer = encoded_;
        buffer->nb_samples = room;
        buffer->format = encoder_->sample_fmt;
        check(av_channel_layout_copy(&buffer->ch_layout, &encoder_->ch_layout), "channel layout");
        check(av_frame_get_buffer(buffer, 0), "sample buffer");
        const int made = swr_convert(resampler_, buffer->extended_data, room, input, count);
        if (made > 0)
            av_audio_fifo_write(fifo_, reinterpret_cast<void**>(buffer->extended_data), made);
        av_frame_unref(buffer);
        check(made, "resampling");
    }

    // Encodes whole frames from the queue, and with `last` the short rest too.
    void encodeQueued(bool last) {
        const int frameSize = encoder_->frame_size;
        while (av_audio_fifo_size(fifo_) >= frameSize || (last && av_audio_fifo_size(fifo_) > 0)) {
            const int count = std::min(frameSize, av_audio_fifo_size(fifo_));
            AVFrame* frame = encoded_;
            frame->nb_samples = count;
            frame->format = encoder_->sample_fmt;
            frame->sample_rate = encoder_->sample_rate;
            check(av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout),
                  "channel layout");
            check(av_frame_get_buffer(frame, 0), "sample buffer");
            av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame->extended_data), count);
            frame->pts = written_;
            written_ += count;
            const int status = avcodec_send_frame(encoder_, frame);
            av_frame_unref(frame);
            check(status, "encoding");
            writePackets();
        }
    }

    void writePackets() {
        while (true) {
            const int status = avcodec_receive_packet(encoder_, packet_);
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return;
            check(status, "encoding");
            av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            check(av_interleaved_write_frame(output_, packet_), "writing the file");
        }
    }

    AudioSource& source_;
    M4AExporter::Range range_;
    AVCodecContext* decoder_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFormatContext* output_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* decoded_ = nullptr;
    AVFrame* encoded_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::int64_t origin_ = 0;    // the first timestamp, in the stream's time base
    std::int64_t position_ = 0;  // in source samples from the origin
    std::int64_t written_ = 0;   // in output samples
};

}  // namespace

bool M4AExporter::write(AudioSource& source, const std::string& path, Range range,
                        const AudioSource::Metadata& metadata, std::string* error) {
    try {
        Job job(source, range);
        job.run(path, metadata);
        return true;
    } catch (const Failure& failure) {
        if (error) *error = failure.what();
        return false;
    }
}

}  // namespace audio
