#include "ExportSession.h"

#include "AacEncoder.h"
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

namespace Media {

namespace {

constexpr int kRate = AacEncoder::kRate;
constexpr qint64 kFrame = AacEncoder::kFrame;
// A splitting pays only when each core gets well more than its warm-up to encode.
constexpr qint64 kSplitThreshold = 3 * 60 * kRate;
// The segment before a cut is fed a little past it, so its last kept frames are encoded with
// the same look-ahead as in one long encode.
constexpr qint64 kOverrun = 4 * kFrame;

using PacketSink = AacEncoder::PacketSink;

struct Segment {
    qint64 warmupStart = 0;
    qint64 keepStart = std::numeric_limits<qint64>::min();
    qint64 keepEnd = std::numeric_limits<qint64>::max();
    qint64 feedEnd = 0;
};

void encodeSegment(const Composition& composition, AacEncoder& encoder, const Segment& segment,
                   const PacketSink& sink, const std::function<bool()>& shouldStop, std::atomic<qint64>& encoded) {
    Mixer mixer(composition, kRate);
    mixer.advanceTo(segment.warmupStart);
    const PacketSink kept = [&](AVPacket* packet) {
        if (packet->pts >= segment.keepStart && packet->pts < segment.keepEnd) {
            sink(packet);
            encoded += packet->duration > 0 ? packet->duration : 1024;
        }
    };
    encoder.encode(mixer, segment.feedEnd, kept, shouldStop);
    encoder.flush(kept);
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
    const int count = ExportSession::segmentCount(length, options);
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

int ExportSession::segmentCount(qint64 length, const Options& options) {
    if (options.segments > 0) {
        return options.segments;
    }
    return length >= kSplitThreshold ? std::clamp(QThread::idealThreadCount(), 1, 8) : 1;
}

std::unique_ptr<ExportSession> ExportSession::create(const Composition& composition, Preset) {
    const bool hasAudio = std::any_of(composition.tracks().begin(), composition.tracks().end(),
                                      [](const CompositionTrack& track) { return !track.segments().isEmpty(); });
    if (!hasAudio) {
        return nullptr;
    }
    return std::unique_ptr<ExportSession>(new ExportSession(composition));
}

double ExportSession::progress() const {
    const qint64 length = length_;
    return length > 0 ? std::clamp(double(encoded_) / double(length), 0.0, 1.0) : 0.0;
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
    length_ = length;
    encoded_ = 0;
    const QList<Segment> segments = planSegments(length, options_);
    std::vector<std::unique_ptr<AacEncoder>> encoders;
    for (int k = 0; k < segments.size(); ++k) {
        encoders.push_back(std::make_unique<AacEncoder>(options_));
    }
    Muxer muxer(path, encoders.front()->context(), kRate);

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
                    composition_, *encoders[std::size_t(k)], segments[k],
                    [spool](AVPacket* packet) { spool->put(packet); }, shouldStop, encoded_);
            });
        });
    }
    watch(0, [&] {
        encodeSegment(
            composition_, *encoders.front(), segments.front(), [&muxer](AVPacket* packet) { muxer.write(packet); },
            shouldStop, encoded_);
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
