#include "SourceLevel.h"

#include <cmath>
#include <cstdint>

namespace {

template <typename Sample>
float loudest(const void* interleaved, qint64 count, float scale) {
    const auto* samples = static_cast<const Sample*>(interleaved);
    float peak = 0;
    for (qint64 i = 0; i < count; ++i) {
        peak = std::max(peak, std::fabs(float(samples[i])));
    }
    return peak * scale;
}

void raise(std::atomic<float>& peak, float value) {
    float seen = peak.load();
    while (value > seen && !peak.compare_exchange_weak(seen, value)) {
    }
}

} // namespace

void SourceLevel::measure(const Media::PcmFormat& format, const void* interleaved, qint64 frames) {
    const qint64 count = frames * format.channelCount;
    float peak = 0;
    switch (format.sampleType) {
    case Media::PcmFormat::SampleType::Int16:
        peak = loudest<int16_t>(interleaved, count, 1.0f / 32768.0f);
        break;
    case Media::PcmFormat::SampleType::Int32:
        peak = loudest<int32_t>(interleaved, count, 1.0f / 2147483648.0f);
        break;
    case Media::PcmFormat::SampleType::Float32:
        peak = loudest<float>(interleaved, count, 1.0f);
        break;
    case Media::PcmFormat::SampleType::Float64:
        peak = loudest<double>(interleaved, count, 1.0f);
        break;
    }
    sampleRate_ = format.sampleRate;
    frames_ += frames;
    raise(recentPeak_, peak);
    raise(peak_, peak);
    if (peak < kSilence) {
        silentFrames_ += frames;
        silentNowFrames_ += frames;
    } else {
        silentNowFrames_ = 0;
    }
}

double SourceLevel::toDb(float peak) {
    return peak > 0 ? std::max(kFloorDb, 20.0 * std::log10(double(peak))) : kFloorDb;
}

double SourceLevel::takePeakDb() {
    return toDb(recentPeak_.exchange(0));
}

double SourceLevel::peakDb() const {
    return toDb(peak_);
}

double SourceLevel::seconds() const {
    return double(frames_) / sampleRate_;
}

double SourceLevel::silentSeconds() const {
    return double(silentFrames_) / sampleRate_;
}

double SourceLevel::silentNowSeconds() const {
    return double(silentNowFrames_) / sampleRate_;
}
