#include "Mixdown.h"

#include "Asset.h"
#include "Background.h"
#include "Composition.h"
#include "ExportSession.h"
#include "LiveExport.h"
#include "MediaError.h"
#include "Recording.h"
#include "VelmorError.h"

#include <QTimer>

namespace {

const QString kEmptyText = QStringLiteral("Запись пустая — ничего не прозвучало");
const QString kBrokenText = QStringLiteral("Запись повреждена — её не из чего собрать");

struct Sources {
    Media::Composition composition;
    int accepted = 0;
    bool isAnyUnreadable = false;
    double seconds = 0; // of the longest source taken
};

// Builds the composition from the work files, in their fixed order. A missing, empty, unreadable,
// silent or too short one is left out. Blocking: the loads read the files.
Sources compose(const WorkDirectory& dir) {
    Sources sources;
    for (const WorkDirectory::Source source : WorkDirectory::kSources) {
        if (!dir.hasSource(source)) {
            continue;
        }
        QList<Media::AssetTrack> tracks;
        Media::MediaTime duration;
        try {
            const Media::Asset asset(dir.borrowedSourcePath(source));
            tracks = asset.audioTracks();
            duration = asset.duration();
        } catch (const Media::MediaError&) {
            sources.isAnyUnreadable = true;
            continue;
        }
        // Strictly longer than 0.2 s; an invalid duration (NaN) fails the comparison too.
        if (tracks.isEmpty() || !(duration.seconds() > 0.2)) {
            continue;
        }
        Media::CompositionTrack* track = sources.composition.addMutableAudioTrack(0);
        if (!track) {
            continue;
        }
        // Only the first audio track, from time zero: both sources start together.
        track->insertTimeRange({Media::MediaTime::zero(), duration}, tracks.front(), Media::MediaTime::zero());
        ++sources.accepted;
        sources.seconds = std::max(sources.seconds, duration.seconds());
    }
    return sources;
}

// Whether the finished mix there is whole, measured against the work files it was made of.
bool isWholeMix(const WorkDirectory& dir, const Sources& sources) {
    if (!dir.hasMix()) {
        return false;
    }
    const std::optional<Media::MediaTime> length = Media::Asset(dir.borrowedMixPath()).wholeAacLength(1.0);
    return length && (sources.accepted == 0 || std::abs(length->seconds() - sources.seconds) <= 1.0);
}

// By reference (GCC 12, see Background.h): the callers own the arguments until the task ends.
QCoro::Task<QString> exportMix(const std::shared_ptr<Recording>& recording, const Media::Composition& composition,
                               const std::shared_ptr<std::atomic<bool>>& isCancelled,
                               const std::function<void(double)>& onProgress) {
    const WorkDirectory& dir = recording->directory();
    const std::shared_ptr<Media::LiveExport> live = recording->liveExport();
    if (live) {
        QCoro::Task<bool> finishing = Dispatch::runInBackground(
            [live, composition, isCancelled] { return live->finish(composition, isCancelled); });
        const bool isFinished = co_await finishing;
        recording->dropLiveExport();
        if (isFinished) {
            dir.publishMix();
            co_return dir.borrowedMixPath();
        }
    }
    std::unique_ptr<Media::ExportSession> exporter =
        Media::ExportSession::create(composition, Media::ExportSession::Preset::AppleM4A);
    if (!exporter) {
        throw VelmorError(QStringLiteral("Не удалось подготовить экспорт"));
    }
    if (isCancelled) {
        exporter->cancelWhen(isCancelled);
    }
    // Read five times a second while it runs, on this thread.
    QTimer poll;
    if (onProgress) {
        const Media::ExportSession* watched = exporter.get();
        QObject::connect(&poll, &QTimer::timeout, [watched, onProgress] { onProgress(watched->progress()); });
        poll.start(200);
    }
    QCoro::Task<> exporting =
        exporter->exportTo(dir.borrowedPartialMixPath(), Media::ExportSession::FileType::AppleM4A);
    co_await exporting;
    poll.stop();
    dir.publishMix();
    co_return dir.borrowedMixPath();
}

} // namespace

QCoro::Task<QString> mixToSend(const std::shared_ptr<Recording>& recording,
                               const std::shared_ptr<std::atomic<bool>>& isCancelled,
                               const std::function<void(double)>& onProgress) {
    const WorkDirectory& dir = recording->directory();
    QCoro::Task<std::pair<Sources, bool>> looking = Dispatch::runInBackground([recording] {
        Sources sources = compose(recording->directory());
        const bool isWhole = isWholeMix(recording->directory(), sources);
        return std::pair<Sources, bool>{std::move(sources), isWhole};
    });
    const std::pair<Sources, bool> found = co_await looking;
    recording->noteUnreadableWorkFile(found.first.isAnyUnreadable);
    if (found.second) {
        recording->dropLiveExport();
        co_return dir.borrowedMixPath();
    }
    if (found.first.accepted < 1) {
        // A mix that is not whole, or a work file that cannot be read, with nothing to make anew.
        throw VelmorError(dir.hasMix() || found.first.isAnyUnreadable ? kBrokenText : kEmptyText,
                          VelmorError::Scope::thisRecording);
    }
    QCoro::Task<QString> exporting = exportMix(recording, found.first.composition, isCancelled, onProgress);
    const QString mixed = co_await exporting;
    co_return mixed;
}
