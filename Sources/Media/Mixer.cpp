#include "Mixer.h"

#include <algorithm>
#include <limits>

namespace Media {

Mixer::Mixer(const Composition& composition, int rate) : limiter_(rate) {
    for (const CompositionTrack& track : composition.tracks()) {
        for (const CompositionSegment& segment : track.segments()) {
            Source source;
            source.reader = std::make_unique<TrackReader>(segment.source, rate);
            source.reader->skip(segment.sourceRange.start.samplesAt(rate));
            source.start = segment.insertedAt.samplesAt(rate);
            source.end = source.start + segment.sourceRange.duration.samplesAt(rate);
            length_ = std::max(length_, source.end);
            sources_.push_back(std::move(source));
        }
    }
}

Mixer::Mixer(std::vector<std::unique_ptr<TrackReader>> readers, int rate)
    : limiter_(rate), length_(std::numeric_limits<qint64>::max()) {
    for (auto& reader : readers) {
        sources_.push_back({std::move(reader), 0, std::numeric_limits<qint64>::max()});
    }
}

bool Mixer::bind(const std::vector<qint64>& ends) {
    if (ends.size() != sources_.size()) {
        return false;
    }
    qint64 length = 0;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        if (ends[k] < position_) {
            return false;
        }
        length = std::max(length, ends[k]);
    }
    for (std::size_t k = 0; k < ends.size(); ++k) {
        sources_[k].end = ends[k];
    }
    length_ = length;
    return true;
}

void Mixer::render(float* left, float* right, int frames) {
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
    for (auto& plane : scratch_) {
        plane.resize(std::size_t(frames));
    }
    const qint64 blockEnd = position_ + frames;
    for (Source& source : sources_) {
        const qint64 from = std::max(source.start, position_);
        const qint64 to = std::min(source.end, blockEnd);
        if (from >= to) {
            continue;
        }
        const int offset = int(from - position_);
        const int count = source.reader->read(scratch_[0].data(), scratch_[1].data(), int(to - from));
        for (int i = 0; i < count; ++i) {
            left[offset + i] += scratch_[0][std::size_t(i)];
            right[offset + i] += scratch_[1][std::size_t(i)];
        }
    }
    limiter_.process(left, right, frames);
    position_ = blockEnd;
}

void Mixer::advanceTo(qint64 position) {
    constexpr int kBlock = 1024;
    float left[kBlock];
    float right[kBlock];
    while (position_ < position) {
        render(left, right, int(std::min<qint64>(kBlock, position - position_)));
    }
}

} // namespace Media
