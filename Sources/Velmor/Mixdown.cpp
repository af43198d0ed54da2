#include "Mixdown.h"

#include "Asset.h"
#include "Composition.h"
#include "ExportSession.h"
#include "VelmorError.h"

#include <QDir>
#include <QFileInfo>

QCoro::Task<QString> mixdownWorkFiles(QString dir) {
    Media::Composition composition;
    int accepted = 0;
    for (const QString& name : {QStringLiteral("system.caf"), QStringLiteral("mic.caf")}) {
        const QString path = QDir(dir).filePath(name);
        if (!QFileInfo::exists(path)) {
            continue;
        }
        const Media::Asset asset(path);
        const QList<Media::AssetTrack> tracks = co_await asset.loadAudioTracks();
        const Media::MediaTime duration = co_await asset.loadDuration();
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
        track->insertTimeRange({Media::MediaTime::zero(), duration}, tracks.front(), Media::MediaTime::zero());
        ++accepted;
    }
    if (accepted < 1) {
        throw VelmorError(QStringLiteral("Запись пустая — ничего не прозвучало"));
    }
    const QString output = QDir(dir).filePath(QStringLiteral("velmor.m4a"));
    std::unique_ptr<Media::ExportSession> exporter =
        Media::ExportSession::create(composition, Media::ExportSession::Preset::AppleM4A);
    if (!exporter) {
        throw VelmorError(QStringLiteral("Не удалось подготовить экспорт"));
    }
    co_await exporter->exportTo(output, Media::ExportSession::FileType::AppleM4A);
    co_return output;
}
