// Keeps the mix's peaks below a ceiling a few dB under full scale: AAC decoding overshoots the
// PCM peak by 2-3 dB, so a ceiling at full scale would still clip after decoding. Where the
// mix has headroom the gain stays exactly 1, so quiet speech keeps its level.
#pragma once

namespace Media {

class Limiter {
public:
    static constexpr float kCeiling = 0.70794576f; // -3 dBFS

    explicit Limiter(int rate);
    void process(float* left, float* right, int frames);
    float gain() const { return gain_; }

private:
    float gain_ = 1.0f;
    float releasePerFrame_;
};

} // namespace Media
