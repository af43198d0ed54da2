// The values the capture service hands out: displays, the filter and configuration of a capture,
// audio formats and sample buffers.
#pragma once

#include "../Media/PcmFormat.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

namespace Capture {

enum class OutputType { Screen = 0, Audio = 1, Microphone = 2 };

// The format the audio arrives in is the one the work files keep.
using AudioFormat = Media::PcmFormat;
using SampleType = Media::PcmFormat::SampleType;

// One block of audio memory: all channels when interleaved, else one channel.
struct AudioBlock {
    const void* data = nullptr;
    std::size_t byteSize = 0;
};

// One delivery of audio. Its memory belongs to the buffer; withAudioBufferList gives access to it
// without copying for as long as the callback runs.
class SampleBuffer {
public:
    SampleBuffer() = default;
    SampleBuffer(AudioFormat format, QByteArray data);
    static SampleBuffer silence(AudioFormat format, qint64 frames);
    // A buffer that claims to be valid but whose data cannot be reached (for tests of the writer).
    static SampleBuffer withUnreachableData(AudioFormat format);

    bool isValid() const { return isValid_; }
    void setValid(bool valid) { isValid_ = valid; }
    const std::optional<AudioFormat>& formatDescription() const { return format_; }
    void setFormatDescription(std::optional<AudioFormat> format) { format_ = std::move(format); }
    qint64 frameCount() const;

    // Throws CaptureError when the audio data cannot be reached.
    void withAudioBufferList(const std::function<void(const QList<AudioBlock>&)>& body) const;

private:
    bool isValid_ = false;
    bool isReachable_ = true;
    std::optional<AudioFormat> format_;
    QByteArray data_;
};

struct Display {
    QString name;
    QRect geometry;
};

struct ShareableContent {
    QList<Display> displays;
};

struct ContentFilter {
    Display display;
    QList<QString> excludedWindows;
};

struct StreamConfiguration {
    bool capturesAudio = false;
    // Leaves out sound played by this program. Velmor itself plays no sound, and the audio server
    // mixes every application into the sink's monitor, so there is nothing to take out here.
    bool excludesCurrentProcessAudio = false;
    int sampleRate = 48000;
    int channelCount = 2;
    bool captureMicrophone = false;
};

} // namespace Capture
