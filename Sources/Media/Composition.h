// An editable composition: audio tracks, each holding time ranges of source tracks placed on the
// composition's timeline. It only refers to the files; nothing is decoded until export.
#pragma once

#include "Asset.h"
#include "MediaTime.h"

#include <list>

namespace Media {

struct CompositionSegment {
    AssetTrack source;
    TimeRange sourceRange;
    MediaTime insertedAt;
};

class CompositionTrack {
public:
    explicit CompositionTrack(int trackID) : trackID_(trackID) {}
    int trackID() const { return trackID_; }
    const QList<CompositionSegment>& segments() const { return segments_; }

    // Throws MediaError for an invalid range or an unusable source track.
    void insertTimeRange(const TimeRange& range, const AssetTrack& track, const MediaTime& at);

private:
    int trackID_;
    QList<CompositionSegment> segments_;
};

class Composition {
public:
    // preferredTrackID 0 lets the composition choose. Null when the preferred ID is taken.
    CompositionTrack* addMutableAudioTrack(int preferredTrackID = 0);
    const std::list<CompositionTrack>& tracks() const { return tracks_; }

private:
    std::list<CompositionTrack> tracks_;
};

} // namespace Media
