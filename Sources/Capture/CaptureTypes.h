// The values of a capture: its configuration, the audio format and the buffers of audio.
#pragma once

#include "../Media/PcmFormat.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace Capture {

// Audio is what the computer plays (the default output's monitor); Microphone the default input.
enum class OutputType { Audio, Microphone };

// The format the audio arrives in is the one the work files keep.
using AudioFormat = Media::PcmFormat;
using SampleType = Media::PcmFormat::SampleType;

// One delivery of interleaved audio. Its memory belongs to the buffer; withSamples gives access to
// it without copying for as long as the callback runs.
class SampleBuffer {
public:
    SampleBuffer() = default;
    SampleBuffer(AudioFormat format, QByteArray data);
    // A buffer that claims to be valid but whose data cannot be reached (for tests of the writer).
    static SampleBuffer withUnreachableData(AudioFormat format);

    bool isValid() const { return isValid_; }
    void setValid(bool valid) { isValid_ = valid; }
    const std::optional<AudioFormat>& formatDescription() const { return format_; }
    void setFormatDescription(std::optional<AudioFormat> format) { format_ = std::move(format); }
    qint64 frameCount() const;

    // Throws CaptureError when the audio data cannot be reached.
    void withSamples(const std::function<void(const void* interleaved)>& body) const;

private:
    bool isValid_ = false;
    bool isReachable_ = true;
    std::optional<AudioFormat> format_;
    QByteArray data_;
};

struct StreamConfiguration {
    int sampleRate = 48000;
    int channelCount = 2;
};

} // namespace Capture
