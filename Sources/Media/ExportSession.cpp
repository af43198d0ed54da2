#include "ExportSession.h"

#include "AvHandles.h"
#include "Background.h"
#include "MediaError.h"
#include "Mixer.h"
#include "Muxer.h"
#include "Spool.h"

#include <QFileInfo>
#include <QThread>
#include <functional>
#include <limits>
#include <thread>

extern "C" {
#include <libavutil/opt.h>
}

namespace Media {

namespace {

constexpr int kRate = 48000;
constexpr qint64 kFrame = 1024;
// A splitting pays only when each core gets well more than its warm-up to encode.
constexpr qint64 kSplitThreshold = 3 * 60 * kRate;
// The segment before a cut is fed a little past it, so its last kept frames are encoded with
// the same look-ahead as in one long encode.
constexpr qint64 kOverrun = 4 * kFrame;

using PacketSink = std::function<void(AVPacket*)>;

struct Segment {
    qint64 warmupStart = 0;
    qint64 keepStart = std::numeric_limits<qint64>::min();
    qint64 keepEnd = std::numeric_limits<qint64>::max();
    qint64 feedEnd = 0;
};

constexpr auto check = &MediaError::check;

av::Codec makeEncoder(const ExportSession::Options& options) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        throw MediaError(MediaError::Kind::CannotEncode, QStringLiteral("no AAC encoder"));
    }
    av::Codec encoder(avcodec_alloc_context3(codec));
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->sample_rate = kRate;
    encoder->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    encoder->bit_rate = options.bitRate;
    encoder->profile = FF_PROFILE_AAC_LOW;
    encoder->time_base = AVRational{1, kRate};
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // MPEG-4 keeps the decoder config out of band
    AVDictionary* settings = nullptr;
    av_dict_set(&settings, "aac_coder", options.coder.toUtf8().constData(), 0);
    av_dict_parse_string(&settings, options.encoderOptions.toUtf8().constData(), "=", ":", 0);
    const int result = avcodec_open2(encoder.get(), codec, &settings);
    av_dict_free(&settings);
    check(result, MediaError::Kind::CannotEncode);
    return encoder;
}

void encodeSegment(const Composition& composition, AVCodecContext* encoder, const Segment& segment,
                   const PacketSink& sink, const std::function<bool()>& shouldStop) {
    Mixer mixer(composition, kRate);
    mixer.advanceTo(segment.warmupStart);
    av::Frame frame(av_frame_alloc());
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    frame->sample_rate = kRate;
    frame->nb_samples = int(kFrame);
    check(av_frame_get_buffer(frame.get(), 0), MediaError::Kind::CannotEncode);
    av::Packet packet(av_packet_alloc());
    const auto drain = [&] {
        for (;;) {
            const int result = avcodec_receive_packet(encoder, packet.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
                return;
            }
            check(result, MediaError::Kind::CannotEncode);
            if (packet->pts >= segment.keepStart && packet->pts < segment.keepEnd) {
                sink(packet.get());
            }
            av_packet_unref(packet.get());
        }
    };
    for (qint64 position = segment.warmupStart; position < segment.feedEnd; position += kFrame) {
        if (shouldStop()) {
            throw MediaError(MediaError::Kind::Cancelled);
        }
        check(av_frame_make_writable(frame.get()), MediaError::Kind::CannotEncode);
        frame->nb_samples = int(std::min(kFrame, segment.feedEnd - position));
        mixer.render(reinterpret_cast<float*>(frame->data[0]), reinterpret_cast<float*>(frame->data[1]),
                     frame->nb_samples);
        frame->pts = position;
        check(avcodec_send_frame(encoder, frame.get()), MediaError::Kind::CannotEncode);
        drain();
    }
    check(avcodec_send_frame(encoder, nullptr), MediaError::Kind::CannotEncode);
    drain();
}

// The failure that stopped the export, rather than the cancellations it caused in other segments.
void rethrowFirstCause(const std::vector<std::exception_ptr>& errors) {
    std::exception_ptr cancellation;
    for (const std::exception_ptr& error : errors) {
        if (!error) {
            continue;
        }
        try {
            std::rethrow_exception(error);
        } catch (const MediaError& mediaError) {
            if (mediaError.kind() != MediaError::Kind::Cancelled) {
                throw;
            }
            cancellation = error;
        }
    }
    if (cancellation) {
        std::rethrow_exception(cancellation);
    }
}

QList<Segment> planSegments(qint64 length, const ExportSession::Options& options) {
    int count = options.segments;
    if (count <= 0) {
        count = length >= kSplitThreshold ? std::clamp(QThread::idealThreadCount(), 1, 8) : 1;
    }
    QList<qint64> cuts{0};
    for (int k = 1; k < count; ++k) {
        cuts.append(length * k / count / kFrame * kFrame);
    }
    cuts.append(length);
    QList<Segment> segments;
    for (int k = 0; k < count; ++k) {
        Segment segment;
        const bool isLast = k == count - 1;
        if (k > 0) {
            segment.keepStart = cuts[k];
            segment.warmupStart = std::max<qint64>(0, cuts[k] - options.warmupFrames) / kFrame * kFrame;
        }
        if (!isLast) {
            segment.keepEnd = cuts[k + 1];
        }
        segment.feedEnd = isLast ? length : std::min(length, cuts[k + 1] + kOverrun);
        segments.append(segment);
    }
    return segments;
}

} // namespace

std::unique_ptr<ExportSession> ExportSession::create(const Composition& composition, Preset) {
    const bool hasAudio = std::any_of(composition.tracks().begin(), composition.tracks().end(),
                                      [](const CompositionTrack& track) { return !track.segments().isEmpty(); });
    if (!hasAudio) {
        return nullptr;
    }
    return std::unique_ptr<ExportSession>(new ExportSession(composition));
}

QCoro::Task<> ExportSession::exportTo(QString path, FileType) {
    return Dispatch::runInBackground([this, path] { exportBlocking(path); });
}

void ExportSession::exportBlocking(const QString& path) {
    const std::atomic<bool>& isCancelled = *isCancelled_;
    qint64 length = 0;
    {
        Mixer probe(composition_, kRate);
        length = probe.length();
    }
    const QList<Segment> segments = planSegments(length, options_);
    std::vector<av::Codec> encoders;
    for (int k = 0; k < segments.size(); ++k) {
        encoders.push_back(makeEncoder(options_));
    }
    Muxer muxer(path, encoders.front().get(), kRate);

    std::vector<std::unique_ptr<Spool>> spools;
    for (int k = 1; k < segments.size(); ++k) {
        spools.push_back(std::make_unique<Spool>(QFileInfo(path).absolutePath()));
    }
    // A cancel of the session, or a failure of any segment, ends every segment.
    std::atomic<bool> hasFailed = false;
    const auto shouldStop = [&] { return isCancelled.load() || hasFailed.load(); };
    std::vector<std::exception_ptr> errors(std::size_t(segments.size()));
    const auto watch = [&](std::size_t k, const std::function<void()>& work) {
        try {
            work();
        } catch (...) {
            errors[k] = std::current_exception();
            hasFailed = true;
        }
    };
    std::vector<std::thread> threads;
    for (int k = 1; k < segments.size(); ++k) {
        Spool* spool = spools[std::size_t(k - 1)].get();
        threads.emplace_back([&, k, spool] {
            watch(std::size_t(k), [&] {
                encodeSegment(
                    composition_, encoders[std::size_t(k)].get(), segments[k],
                    [spool](AVPacket* packet) { spool->put(packet); }, shouldStop);
            });
        });
    }
    watch(0, [&] {
        encodeSegment(
            composition_, encoders.front().get(), segments.front(),
            [&muxer](AVPacket* packet) { muxer.write(packet); }, shouldStop);
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    rethrowFirstCause(errors);
    for (auto& spool : spools) {
        spool->replayInto(muxer);
    }
    muxer.finish();
}

} // namespace Media
