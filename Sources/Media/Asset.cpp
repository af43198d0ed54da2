#include "Asset.h"

#include "AvHandles.h"
#include "Background.h"
#include "MediaError.h"

#include <QFile>
#include <cmath>

namespace Media {

namespace av {

Input openInput(const QString& path) {
    // The program writes no log; failures reach the user through the errors instead.
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* raw = nullptr;
    const QByteArray native = QFile::encodeName(path);
    int result = avformat_open_input(&raw, native.constData(), nullptr, nullptr);
    if (result < 0) {
        throw MediaError::fromAv(MediaError::Kind::CannotOpen, result);
    }
    Input input(raw);
    result = avformat_find_stream_info(input.get(), nullptr);
    if (result < 0) {
        throw MediaError::fromAv(MediaError::Kind::CannotRead, result);
    }
    return input;
}

} // namespace av

namespace {

// Samples of one stream, by counting its packets when the container does not say.
qint64 countedSamples(const QString& path, int streamIndex) {
    av::Input input = av::openInput(path);
    av::Packet packet(av_packet_alloc());
    const AVStream* stream = input->streams[streamIndex];
    qint64 total = 0;
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == streamIndex) {
            total += packet->duration;
        }
        av_packet_unref(packet.get());
    }
    return av_rescale_q(total, stream->time_base, AVRational{1, stream->codecpar->sample_rate});
}

} // namespace

QList<AssetTrack> Asset::audioTracks() const {
    av::Input input = av::openInput(path_);
    QList<AssetTrack> tracks;
    for (unsigned index = 0; index < input->nb_streams; ++index) {
        const AVCodecParameters* parameters = input->streams[index]->codecpar;
        if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
            tracks.append({path_, int(index), parameters->sample_rate, parameters->ch_layout.nb_channels});
        }
    }
    return tracks;
}

MediaTime Asset::duration() const {
    av::Input input = av::openInput(path_);
    MediaTime longest = MediaTime::zero();
    for (unsigned index = 0; index < input->nb_streams; ++index) {
        const AVStream* stream = input->streams[index];
        const int rate = stream->codecpar->sample_rate;
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || rate <= 0) {
            continue;
        }
        const qint64 samples = stream->duration != AV_NOPTS_VALUE
                                   ? av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate})
                                   : countedSamples(path_, int(index));
        const MediaTime length{samples, rate, true};
        if (length.seconds() > longest.seconds()) {
            longest = length;
        }
    }
    return longest;
}

std::optional<MediaTime> Asset::wholeAacLength(double tolerance) const {
    try {
        const av::Input input = av::openInput(path_);
        if (QByteArray(input->iformat->name).split(',').indexOf("mp4") < 0 || input->nb_streams != 1) {
            return std::nullopt;
        }
        const AVStream* stream = input->streams[0];
        const int rate = stream->codecpar->sample_rate;
        if (stream->codecpar->codec_id != AV_CODEC_ID_AAC || rate <= 0 || stream->duration == AV_NOPTS_VALUE) {
            return std::nullopt;
        }
        const MediaTime stated{av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate}), rate, true};
        const MediaTime counted{countedSamples(path_, 0), rate, true};
        if (std::abs(stated.seconds() - counted.seconds()) > tolerance) {
            return std::nullopt;
        }
        return counted;
    } catch (const MediaError&) {
        return std::nullopt;
    }
}

QCoro::Task<QList<AssetTrack>> Asset::loadAudioTracks() const {
    return Dispatch::runInBackground([path = path_] { return Asset(path).audioTracks(); });
}

QCoro::Task<MediaTime> Asset::loadDuration() const {
    return Dispatch::runInBackground([path = path_] { return Asset(path).duration(); });
}

} // namespace Media
