// Mixes and encodes a recording's work files while they are still being written, on a thread of
// its own at the lowest priority, just behind what the writer has made durable. It makes the
// file a single stop-time export of the same sources would make (same mix from time zero, same
// limiter, same encoder), so that once the sources are complete only the last seconds remain.
//
// It never holds up the writer: it only reads the files. The sources it mixes are the ones that
// exist once all of them do (or once one has waited alone for a while); when the stop-time
// composition turns out different, or this work failed or lags too far, finish() says so and the
// caller exports the usual way.
#pragma once

#include "Composition.h"
#include "ExportSession.h"
#include "FollowedCaf.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace Media {

class LiveExport {
public:
    // Starts following `sources` (CAF work files, possibly not there yet) into `output`.
    LiveExport(QStringList sources, QString output, ExportSession::Options options = {});
    // Abandons the work; its unfinished output is removed.
    ~LiveExport();
    LiveExport(const LiveExport&) = delete;
    LiveExport& operator=(const LiveExport&) = delete;

    const QString& output() const { return output_; }
    // Frames of the mix encoded so far.
    qint64 position() const { return position_.load(); }

    // The writer has closed the files: what remains of them is read to their end.
    void sourcesComplete();
    // Blocking. `composition` is what the stop-time export would mix, the sources complete. Encodes
    // the rest and finishes `output`: true once it is whole. False when this work cannot give the
    // same result, or sooner than a fresh export: then nothing is left at `output`. Throws
    // MediaError (Cancelled) once `isCancelled` is set.
    bool finish(const Composition& composition, const std::shared_ptr<std::atomic<bool>>& isCancelled);

private:
    struct Ending {
        std::vector<qint64> ends;
        std::shared_ptr<std::atomic<bool>> isCancelled;
    };

    void run();
    void encode();
    // The followed files, once all sources exist (or one has waited alone long enough); their
    // paths into `paths`. Throws MediaError when abandoned, or complete with no source at all.
    std::vector<std::unique_ptr<FollowedCaf>> waitForSources(QStringList& paths);
    void stop();

    const QStringList sources_;
    const QString output_;
    const ExportSession::Options options_;
    FollowEdge edge_;
    QStringList followed_;         // set by the thread once it starts mixing, under the edge's lock
    std::optional<Ending> ending_; // under the edge's lock
    std::atomic<qint64> position_ = 0;
    std::exception_ptr error_;
    std::thread thread_;
};

} // namespace Media
