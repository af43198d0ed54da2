#include "Limiter.h"

#include <algorithm>
#include <cmath>

namespace Media {

Limiter::Limiter(int rate) : releasePerFrame_(1.0f / (0.5f * float(rate))) {}

void Limiter::process(float* left, float* right, int frames) {
    float peak = 0.0f;
    for (int i = 0; i < frames; ++i) {
        // A driver can deliver a NaN or an infinity; one would poison the gain and the encoder.
        if (!std::isfinite(left[i])) {
            left[i] = 0.0f;
        }
        if (!std::isfinite(right[i])) {
            right[i] = 0.0f;
        }
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    }
    const float target = peak > kCeiling ? kCeiling / peak : 1.0f;
    if (target >= 1.0f && gain_ >= 1.0f) {
        return;
    }
    if (target < gain_) {
        // Attack at once: no sample of this block may pass the ceiling.
        gain_ = target;
        for (int i = 0; i < frames; ++i) {
            left[i] *= gain_;
            right[i] *= gain_;
        }
        return;
    }
    // Release slowly (about half a second from full reduction), never above this block's target.
    const float from = gain_;
    const float to = std::min(target, from + releasePerFrame_ * float(frames));
    for (int i = 0; i < frames; ++i) {
        const float g = from + (to - from) * float(i + 1) / float(frames);
        left[i] *= g;
        right[i] *= g;
    }
    gain_ = to;
}

} // namespace Media
