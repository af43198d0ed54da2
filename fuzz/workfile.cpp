// Whatever a work file (or a finished mix) holds, reading and mixing it ends in audio or a media
// error, with memory bounded.
#include "Asset.h"
#include "Composition.h"
#include "ExportSession.h"
#include "MediaError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("system.caf"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly)) {
            return 0;
        }
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    // Taken for a finished mix, it is judged without a crash or a hang.
    Media::Asset(input).wholeAacLength(1.0);
    try {
        const Media::Asset asset(input);
        const QList<Media::AssetTrack> tracks = asset.audioTracks();
        const Media::MediaTime duration = asset.duration();
        // A header may claim hours; encoding hours of silence is slow, not wrong.
        if (tracks.isEmpty() || !(duration.seconds() > 0) || duration.seconds() > 5) {
            return 0;
        }
        Media::Composition composition;
        composition.addMutableAudioTrack(0)->insertTimeRange({Media::MediaTime::zero(), duration}, tracks.front(),
                                                             Media::MediaTime::zero());
        auto session = Media::ExportSession::create(composition, Media::ExportSession::Preset::AppleM4A);
        session->options().coder = QStringLiteral("fast");
        session->exportBlocking(dir.filePath(QStringLiteral("velmor.m4a")));
    } catch (const Media::MediaError&) {
    }
    return 0;
}
