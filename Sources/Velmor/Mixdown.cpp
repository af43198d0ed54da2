#include "Mixdown.h"

#include "Asset.h"
#include "Background.h"
#include "Composition.h"
#include "ExportSession.h"
#include "LiveExport.h"
#include "VelmorError.h"

#include "MediaError.h"

#include <QDir>
#include <QFileInfo>
#include <unistd.h>

namespace {

const char* const kSources[] = {"system.caf", "mic.caf"};

QString partialOf(const QString& dir) {
    return QDir(dir).filePath(QStringLiteral("velmor.m4a.part"));
}

// Builds the composition from the work files, in their fixed order. A file that cannot be read
// ends the whole mixdown; a missing, silent or too short one is left out. Blocking: the loads
// read the files, so this runs on a pool thread.
std::pair<Media::Composition, int> compose(const QString& dir) {
    Media::Composition composition;
    int accepted = 0;
    for (const char* name : kSources) {
        const QString path = QDir(dir).filePath(QString::fromLatin1(name));
        if (!QFileInfo::exists(path)) {
            continue;
        }
        const Media::Asset asset(path);
        const QList<Media::AssetTrack> tracks = asset.audioTracks();
        const Media::MediaTime duration = asset.duration();
        if (tracks.isEmpty()) {
            continue;
        }
        // Strictly longer than 0.2 s; an invalid duration (NaN) fails the comparison too.
        if (!(duration.seconds() > 0.2)) {
            continue;
        }
        Media::CompositionTrack* track = composition.addMutableAudioTrack(0);
        if (!track) {
            continue;
        }
        // Only the first audio track, from time zero: both sources start together.
        track->insertTimeRange({Media::MediaTime::zero(), duration}, tracks.front(), Media::MediaTime::zero());
        ++accepted;
    }
    return {composition, accepted};
}

// A finished file appears under its name only once it is whole: one cut off by a crash or a quit
// is never taken for a finished one.
void publish(const QString& partial, const QString& output) {
    QFile file(partial);
    if (!file.open(QIODevice::ReadWrite) || ::fsync(file.handle()) != 0 ||
        ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(output).constData()) != 0) {
        QFile::remove(partial);
        throw Media::MediaError(Media::MediaError::Kind::CannotWrite);
    }
}

} // namespace

QCoro::Task<QString> mixdownWorkFiles(const QString& dir, const std::shared_ptr<std::atomic<bool>>& isCancelled,
                                      const std::shared_ptr<Media::LiveExport>& live) {
    QCoro::Task<std::pair<Media::Composition, int>> composing =
        Dispatch::runInBackground([dir] { return compose(dir); });
    const std::pair<Media::Composition, int> composed = co_await composing;
    const Media::Composition& composition = composed.first;
    if (composed.second < 1) {
        throw VelmorError(QStringLiteral("Запись пустая — ничего не прозвучало"));
    }
    const QString output = QDir(dir).filePath(QStringLiteral("velmor.m4a"));
    const QString partial = partialOf(dir);
    if (followsWorkFiles(live, dir)) {
        QCoro::Task<bool> finishing = Dispatch::runInBackground(
            [live, composition, isCancelled] { return live->finish(composition, isCancelled); });
        if (co_await finishing) {
            publish(partial, output);
            co_return output;
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
    QCoro::Task<> exporting = exporter->exportTo(partial, Media::ExportSession::FileType::AppleM4A);
    co_await exporting;
    publish(partial, output);
    co_return output;
}

std::shared_ptr<Media::LiveExport> followWorkFiles(const QString& dir) {
    QStringList sources;
    for (const char* name : kSources) {
        sources.append(QDir(dir).filePath(QString::fromLatin1(name)));
    }
    return std::make_shared<Media::LiveExport>(sources, partialOf(dir));
}

bool followsWorkFiles(const std::shared_ptr<Media::LiveExport>& live, const QString& dir) {
    return live && live->output() == partialOf(dir);
}
