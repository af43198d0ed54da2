// Decodes one audio track and converts it to the mix format: float planar stereo at the mix rate.
#pragma once

#include "Asset.h"
#include "AvHandles.h"

#include <vector>

namespace Media {

class TrackReader {
public:
    static constexpr int kChannels = 2;

    TrackReader(const AssetTrack& track, int rate); // throws MediaError
    TrackReader(av::Input input, int streamIndex, int rate);
    // Fills up to `frames` frames of each plane; returns how many it filled, 0 at the end.
    int read(float* left, float* right, int frames);
    void skip(qint64 frames);

private:
    bool refill();
    void convert(const AVFrame* frame);

    av::Input input_;
    av::Codec decoder_;
    av::Resampler resampler_;
    av::Packet packet_;
    av::Frame frame_;
    int streamIndex_;
    int rate_;
    bool inputEnded_ = false;
    bool flushed_ = false;
    std::vector<float> planes_[kChannels];
    std::size_t readOffset_ = 0;
};

} // namespace Media
