// The one description of linear PCM here, always interleaved: what the capture delivers and what
// the work files hold.
#pragma once

namespace Media {

struct PcmFormat {
    enum class SampleType { Int16, Int32, Float32, Float64 };
    double sampleRate = 48000;
    int channelCount = 2;
    SampleType sampleType = SampleType::Float32;

    int bytesPerSample() const {
        switch (sampleType) {
        case SampleType::Int16:
            return 2;
        case SampleType::Int32:
        case SampleType::Float32:
            return 4;
        case SampleType::Float64:
            return 8;
        }
        return 4;
    }
    bool operator==(const PcmFormat&) const = default;
};

} // namespace Media
