#include "AacEncoder.h"

#include "MediaError.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace Media {

namespace {
constexpr auto check = &MediaError::check;
} // namespace

AacEncoder::AacEncoder(const ExportSession::Options& options)
    : frame_(av_frame_alloc()), packet_(av_packet_alloc()) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        throw MediaError(MediaError::Kind::CannotEncode, QStringLiteral("no AAC encoder"));
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder_->sample_rate = kRate;
    encoder_->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    encoder_->bit_rate = options.bitRate;
    encoder_->profile = FF_PROFILE_AAC_LOW;
    encoder_->time_base = AVRational{1, kRate};
    encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // MPEG-4 keeps the decoder config out of band
    AVDictionary* settings = nullptr;
    av_dict_set(&settings, "aac_coder", options.coder.toUtf8().constData(), 0);
    av_dict_parse_string(&settings, options.encoderOptions.toUtf8().constData(), "=", ":", 0);
    const int result = avcodec_open2(encoder_.get(), codec, &settings);
    av_dict_free(&settings);
    check(result, MediaError::Kind::CannotEncode);

    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    frame_->sample_rate = kRate;
    frame_->nb_samples = int(kFrame);
    check(av_frame_get_buffer(frame_.get(), 0), MediaError::Kind::CannotEncode);
}

void AacEncoder::drain(const PacketSink& sink) {
    for (;;) {
        const int result = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return;
        }
        check(result, MediaError::Kind::CannotEncode);
        sink(packet_.get());
        av_packet_unref(packet_.get());
    }
}

void AacEncoder::encode(Mixer& mixer, qint64 end, const PacketSink& sink,
                        const std::function<bool()>& shouldStop) {
    while (mixer.position() < end) {
        if (shouldStop()) {
            throw MediaError(MediaError::Kind::Cancelled);
        }
        check(av_frame_make_writable(frame_.get()), MediaError::Kind::CannotEncode);
        frame_->nb_samples = int(std::min(kFrame, end - mixer.position()));
        frame_->pts = mixer.position();
        mixer.render(reinterpret_cast<float*>(frame_->data[0]), reinterpret_cast<float*>(frame_->data[1]),
                     frame_->nb_samples);
        check(avcodec_send_frame(encoder_.get(), frame_.get()), MediaError::Kind::CannotEncode);
        drain(sink);
    }
}

void AacEncoder::flush(const PacketSink& sink) {
    check(avcodec_send_frame(encoder_.get(), nullptr), MediaError::Kind::CannotEncode);
    drain(sink);
}

} // namespace Media
