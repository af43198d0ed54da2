// Renders a composition's timeline as float stereo: every segment plays from its insertion time
// at its own level, summed, then kept from clipping by the limiter.
#pragma once

#include "Composition.h"
#include "Limiter.h"
#include "TrackReader.h"

#include <memory>
#include <vector>

namespace Media {

class Mixer {
public:
    Mixer(const Composition& composition, int rate); // throws MediaError
    // A timeline of sources still being written: each plays from zero, with no end until bound.
    Mixer(std::vector<std::unique_ptr<TrackReader>> readers, int rate);
    // Gives the sources their ends, in order, once they are known. False when the mix has already
    // gone past one of them, so it can no longer match the bound timeline.
    bool bind(const std::vector<qint64>& ends);
    qint64 length() const { return length_; }
    qint64 position() const { return position_; }
    // Renders the next `frames` frames (silence past the end) and advances.
    void render(float* left, float* right, int frames);
    // Renders and drops frames up to `position`, keeping every state as if they had been used.
    void advanceTo(qint64 position);

private:
    struct Source {
        std::unique_ptr<TrackReader> reader;
        qint64 start = 0;
        qint64 end = 0;
    };
    std::vector<Source> sources_;
    Limiter limiter_;
    qint64 length_ = 0;
    qint64 position_ = 0;
    std::vector<float> scratch_[2];
};

} // namespace Media
