// Exports a composition to one MPEG-4 audio file with AAC-LC, 48 kHz stereo, 128 kb/s (the
// usual M4A values: speech and music at meeting quality in about 1 MB a minute).
//
// Long timelines are cut into one segment per core; each segment is encoded in its own thread,
// its encoder started a warm-up of 20 s before the cut so that it has settled by then, and the
// packets are spliced at frame boundaries into one stream. Every thread renders the mix from
// the start (decoding is cheap next to encoding), so all of them see exactly the same samples
// and limiter state. Later segments spool their packets to a temporary file until their turn.
#pragma once

#include "Composition.h"

#include <QCoroTask>
#include <QString>
#include <atomic>
#include <memory>

namespace Media {

class ExportSession {
public:
    enum class Preset { AppleM4A };
    enum class FileType { AppleM4A };

    struct Options {
        int segments = 0; // 0: one per core for long timelines, else one
        qint64 warmupFrames = 20 * 48000;
        // The encoder's "aac_coder". "fast" is twice as quick but measured 2.7 dB worse on speech
        // below 4 kHz than the ffmpeg command's output (bench/mixdown), so not the default.
        QString coder = QStringLiteral("twoloop");
        QString encoderOptions; // more of the encoder's options, "name=value:..."
        int bitRate = 128000;
    };

    // How many segments an export of `length` frames at 48 kHz is cut into.
    static int segmentCount(qint64 length, const Options& options);

    // Null when the preset cannot be applied (a composition with no audio).
    static std::unique_ptr<ExportSession> create(const Composition& composition, Preset preset);

    Options& options() { return options_; }
    // Completes once the file is fully written. Throws MediaError (Cancelled when cancelled).
    QCoro::Task<> exportTo(QString path, FileType fileType);
    // Cancelled whenever `flag` is set, also before the export starts.
    void cancelWhen(std::shared_ptr<std::atomic<bool>> flag) { isCancelled_ = std::move(flag); }

    // Blocking; for pool threads and benchmarks.
    void exportBlocking(const QString& path);
    // How much of the timeline is encoded, 0 to 1; from any thread while the export runs.
    double progress() const;

private:
    explicit ExportSession(const Composition& composition) : composition_(composition) {}

    Composition composition_;
    Options options_;
    std::shared_ptr<std::atomic<bool>> isCancelled_ = std::make_shared<std::atomic<bool>>(false);
    std::atomic<qint64> length_ = 0;
    std::atomic<qint64> encoded_ = 0; // frames kept, over all segments
};

} // namespace Media
