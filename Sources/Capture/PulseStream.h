// A capture of system audio and microphone from the audio server. Each registered output type
// is one record stream: type Audio reads the monitor of the default sink, type Microphone the
// default source. Both files' timelines start when the capture starts: the first data of each
// stream, and the first after a device switch, is preceded by the silence that lies between.
// The stream's life is in PulseStream.cpp, the timeline in PulseStreamTimeline.cpp, following the
// defaults in PulseStreamDefaults.cpp.
#pragma once

#include "CaptureService.h"
#include "PulseConnection.h"

#include <atomic>
#include <memory>
#include <vector>

namespace Capture {

class PulseStream : public Stream {
public:
    PulseStream(StreamConfiguration configuration, std::shared_ptr<StreamDelegate> delegate);
    ~PulseStream() override;

    void addStreamOutput(std::shared_ptr<StreamOutput> output, OutputType type,
                         Dispatch::SerialQueue& queue) override;
    QCoro::Task<> startCapture() override;
    QCoro::Task<> stopCapture() override;

private:
    // The server hands audio over a few milliseconds at a time; it is passed on in pieces of this.
    static constexpr pa_usec_t kFragment = 50 * PA_USEC_PER_MSEC;
    // A stream's first audio waits for this many timings from the server, at most this long.
    static constexpr std::size_t kTimings = 3;
    static constexpr pa_usec_t kLongestHold = 1000 * PA_USEC_PER_MSEC;

    struct Tap {
        PulseStream* owner = nullptr;
        OutputType type = OutputType::Audio;
        std::shared_ptr<StreamOutput> output;
        Dispatch::SerialQueue* queue = nullptr;
        pa_stream* stream = nullptr;
        QString followed; // the default sink (system audio) or source (microphone) being followed
        QString device;   // the source actually recorded
        qint64 framesDelivered = 0;
        bool needsAlignment = true;
        timeval heldSince{};            // when the first audio waiting for alignment arrived
        timeval lastTiming{};           // the server's last timing used for it
        std::vector<qint64> heldStarts; // when its first frame was captured, by each timing
        QByteArray pending;             // gathered until a fragment's worth, then handed on as one buffer
    };

    void connectAll();
    void connectTap(Tap& tap, const QString& device);
    void disconnectTap(Tap& tap);
    void shutdown();
    void drainQueues();
    AudioFormat format() const;

    // On the loop's thread.
    void deliver(Tap& tap, const void* data, std::size_t bytes);
    void flush(Tap& tap);
    void align(Tap& tap);
    // When the first held frame was captured, by the server's latest timing (capture clock, µs).
    qint64 heldStart(const Tap& tap) const;
    void followDefaults();
    // The one rule for what is recorded behind a default: the monitor of the default sink for
    // system audio (`source`), the default source for the microphone unless it is a monitor.
    static QString deviceBehind(OutputType type, const QString& source, bool isMonitor);
    // Records from `device` from now on (nothing when empty), keeping the timeline.
    void switchTo(Tap& tap, const QString& device);
    void reportLost(int pulseError);
    // Asks the server whether the microphone being recorded is muted or at zero volume, and tells
    // the delegate when that changes.
    void checkMicrophone();
    static void onRead(pa_stream* stream, std::size_t bytes, void* tap);
    static void onStreamState(pa_stream* stream, void* tap);
    static void onTimingUpdate(pa_stream* stream, void* tap);

    StreamConfiguration configuration_;
    std::shared_ptr<StreamDelegate> delegate_;
    std::vector<std::unique_ptr<Tap>> taps_;
    std::unique_ptr<PulseConnection> connection_;
    pa_usec_t startedAt_ = 0;
    std::atomic<bool> isRunning_ = false;
    bool wasLost_ = false;
    uint32_t microphoneIndex_ = PA_INVALID_INDEX; // the recorded microphone's, once known
    int microphoneMuted_ = -1;                    // as last told: unknown, no, yes
};

} // namespace Capture
