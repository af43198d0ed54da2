#pragma once

#include <QtGlobal>
#include <limits>

namespace Media {

// A point or length on a media timeline: value / timescale seconds.
struct MediaTime {
    qint64 value = 0;
    qint32 timescale = 0;
    bool isValid = false;

    static MediaTime zero() { return {0, 1, true}; }
    static MediaTime invalid() { return {}; }
    // NaN for an invalid time.
    double seconds() const {
        return isValid && timescale > 0 ? double(value) / double(timescale)
                                        : std::numeric_limits<double>::quiet_NaN();
    }
    // The same time in samples at `rate`, rounded down.
    qint64 samplesAt(int rate) const { return isValid && timescale > 0 ? value * rate / timescale : 0; }
};

struct TimeRange {
    MediaTime start;
    MediaTime duration;
};

} // namespace Media
