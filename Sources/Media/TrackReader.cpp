#include "TrackReader.h"

#include "MediaError.h"

#include <algorithm>

extern "C" {
#include <libavutil/opt.h>
}

namespace Media {

namespace {
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 384000;
constexpr int kMaxChannels = 16;
} // namespace

TrackReader::TrackReader(const AssetTrack& track, int rate)
    : TrackReader(av::openInput(track.path), track.streamIndex, rate) {}

TrackReader::TrackReader(av::Input input, int streamIndex, int rate)
    : input_(std::move(input)), packet_(av_packet_alloc()), frame_(av_frame_alloc()), streamIndex_(streamIndex),
      rate_(rate) {
    if (streamIndex_ < 0 || unsigned(streamIndex_) >= input_->nb_streams) {
        throw MediaError(MediaError::Kind::CannotRead, QStringLiteral("no such track"));
    }
    const AVCodecParameters* parameters = input_->streams[streamIndex_]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) {
        throw MediaError(MediaError::Kind::Unsupported, QString::fromUtf8(avcodec_get_name(parameters->codec_id)));
    }
    decoder_.reset(avcodec_alloc_context3(codec));
    int result = avcodec_parameters_to_context(decoder_.get(), parameters);
    if (result >= 0) {
        result = avcodec_open2(decoder_.get(), codec, nullptr);
    }
    if (result < 0) {
        throw MediaError::fromAv(MediaError::Kind::CannotRead, result);
    }
    // A damaged header can claim any rate: converting 1 Hz to 48 kHz takes gigabytes.
    const int channels = decoder_->ch_layout.nb_channels;
    if (decoder_->sample_rate < kMinRate || decoder_->sample_rate > kMaxRate || channels < 1 ||
        channels > kMaxChannels) {
        throw MediaError(MediaError::Kind::Unsupported,
                         QStringLiteral("%1 Гц, каналов: %2").arg(decoder_->sample_rate).arg(channels));
    }
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout sourceLayout{};
    if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&sourceLayout, decoder_->ch_layout.nb_channels);
    } else {
        av_channel_layout_copy(&sourceLayout, &decoder_->ch_layout);
    }
    SwrContext* resampler = nullptr;
    result = swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_FLTP, rate_, &sourceLayout,
                                 decoder_->sample_fmt, decoder_->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&sourceLayout);
    resampler_.reset(resampler);
    if (result >= 0) {
        // A mono microphone plays at its own level on both sides, not 3 dB down.
        if (decoder_->ch_layout.nb_channels == 1) {
            const double bothSides[2] = {1.0, 1.0};
            result = swr_set_matrix(resampler_.get(), bothSides, 1);
        }
    }
    if (result >= 0) {
        result = swr_init(resampler_.get());
    }
    if (result < 0) {
        throw MediaError::fromAv(MediaError::Kind::Unsupported, result);
    }
}

void TrackReader::convert(const AVFrame* frame) {
    const int capacity = swr_get_out_samples(resampler_.get(), frame ? frame->nb_samples : 0);
    if (capacity <= 0) {
        return;
    }
    // Compact what was already read, then convert straight into the planes' free space.
    for (auto& plane : planes_) {
        plane.erase(plane.begin(), plane.begin() + std::ptrdiff_t(readOffset_));
    }
    readOffset_ = 0;
    const std::size_t used = planes_[0].size();
    for (auto& plane : planes_) {
        plane.resize(used + std::size_t(capacity));
    }
    uint8_t* out[kChannels] = {reinterpret_cast<uint8_t*>(planes_[0].data() + used),
                               reinterpret_cast<uint8_t*>(planes_[1].data() + used)};
    const int converted = swr_convert(resampler_.get(), out, capacity,
                                      frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                                      frame ? frame->nb_samples : 0);
    if (converted < 0) {
        throw MediaError::fromAv(MediaError::Kind::CannotRead, converted);
    }
    for (auto& plane : planes_) {
        plane.resize(used + std::size_t(converted));
    }
}

bool TrackReader::refill() {
    while (!flushed_) {
        int result = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (result >= 0) {
            convert(frame_.get());
            av_frame_unref(frame_.get());
            return true;
        }
        if (result == AVERROR_EOF) {
            convert(nullptr); // what the resampler still holds
            flushed_ = true;
            return true;
        }
        if (result != AVERROR(EAGAIN)) {
            throw MediaError::fromAv(MediaError::Kind::CannotRead, result);
        }
        if (inputEnded_) {
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        result = av_read_frame(input_.get(), packet_.get());
        if (result == AVERROR_EOF) {
            inputEnded_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        if (result < 0) {
            throw MediaError::fromAv(MediaError::Kind::CannotRead, result);
        }
        if (packet_->stream_index == streamIndex_) {
            result = avcodec_send_packet(decoder_.get(), packet_.get());
            // A damaged packet is skipped rather than ending the whole mix.
            if (result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_INVALIDDATA) {
                av_packet_unref(packet_.get());
                throw MediaError::fromAv(MediaError::Kind::CannotRead, result);
            }
        }
        av_packet_unref(packet_.get());
    }
    return false;
}

int TrackReader::read(float* left, float* right, int frames) {
    int filled = 0;
    while (filled < frames) {
        const std::size_t available = planes_[0].size() - readOffset_;
        if (available == 0) {
            if (!refill()) {
                break;
            }
            continue;
        }
        const int count = int(std::min<std::size_t>(available, std::size_t(frames - filled)));
        if (left) {
            std::copy_n(planes_[0].data() + readOffset_, count, left + filled);
            std::copy_n(planes_[1].data() + readOffset_, count, right + filled);
        }
        readOffset_ += std::size_t(count);
        filled += count;
    }
    return filled;
}

void TrackReader::skip(qint64 frames) {
    while (frames > 0) {
        const int step = int(std::min<qint64>(frames, 1 << 16));
        const int done = read(nullptr, nullptr, step);
        if (done == 0) {
            return;
        }
        frames -= done;
    }
}

} // namespace Media
