#include "Composition.h"

#include "MediaError.h"

#include <algorithm>

namespace Media {

void CompositionTrack::insertTimeRange(const TimeRange& range, const AssetTrack& track, const MediaTime& at) {
    if (!range.start.isValid || !range.duration.isValid || !at.isValid || range.duration.value < 0 ||
        track.streamIndex < 0 || track.sampleRate <= 0 || track.channelCount <= 0) {
        throw MediaError(MediaError::Kind::Unsupported, QStringLiteral("invalid time range or track"));
    }
    segments_.append({track, range, at});
}

CompositionTrack* Composition::addMutableAudioTrack(int preferredTrackID) {
    const auto taken = [this](int id) {
        return std::any_of(tracks_.begin(), tracks_.end(),
                           [id](const CompositionTrack& t) { return t.trackID() == id; });
    };
    int id = preferredTrackID;
    if (id == 0) {
        id = 1;
        while (taken(id)) {
            ++id;
        }
    } else if (taken(id)) {
        return nullptr;
    }
    return &tracks_.emplace_back(id);
}

} // namespace Media
