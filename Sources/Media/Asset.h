// A media file opened for reading. Its audio tracks and duration load on a pool thread; a file
// that cannot be read fails the loads with the library's error.
#pragma once

#include "MediaTime.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <optional>

namespace Media {

struct AssetTrack {
    QString path;
    int streamIndex = -1;
    int sampleRate = 0;
    int channelCount = 0;
};

class Asset {
public:
    explicit Asset(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }
    // The audio tracks in file order; possibly empty. Throws MediaError.
    QCoro::Task<QList<AssetTrack>> loadAudioTracks() const;
    // The longest audio track's length. Throws MediaError.
    QCoro::Task<MediaTime> loadDuration() const;

    // The same, blocking; for pool threads.
    QList<AssetTrack> audioTracks() const;
    MediaTime duration() const;
    // Blocking. The length of an MPEG-4 file that holds one track, AAC audio, counted over the
    // packets that are really there and agreeing with what the container states within `tolerance`
    // seconds; nothing for any other file (a cut-off or foreign file, or one that cannot be read).
    std::optional<MediaTime> wholeAacLength(double tolerance) const;

private:
    QString path_;
};

} // namespace Media
