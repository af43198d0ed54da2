// Keeping both files on one timeline: each stream's first data, and its first after a device
// switch, is placed by the capture clock; silence fills what lies between.
#include "PulseStream.h"

#include <pulse/rtclock.h>

namespace Capture {

void PulseStream::onRead(pa_stream* stream, std::size_t, void* data) {
    auto& tap = *static_cast<Tap*>(data);
    PulseStream& self = *tap.owner;
    while (self.isRunning_ && pa_stream_readable_size(stream) > 0) {
        const void* audio = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &audio, &bytes) < 0 || bytes == 0) {
            return;
        }
        if (tap.needsAlignment) {
            self.align(tap, bytes);
        }
        // A hole reported by the server is silence in the file, so the timeline does not shift.
        self.deliver(tap, audio, bytes);
        pa_stream_drop(stream);
    }
}

void PulseStream::align(Tap& tap, std::size_t bytes) {
    tap.needsAlignment = false;
    const pa_sample_spec* spec = pa_stream_get_sample_spec(tap.stream);
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(tap.stream, &latency, &negative) < 0 || negative) {
        latency = pa_bytes_to_usec(bytes, spec);
    }
    const pa_usec_t now = pa_rtclock_now();
    const pa_usec_t capturedAt = now > latency ? now - latency : 0;
    if (capturedAt <= startedAt_) {
        return;
    }
    const qint64 expectedFrame = qint64((capturedAt - startedAt_) * spec->rate / PA_USEC_PER_SEC);
    // Silence in fragments: a device that was away for a minute would otherwise be one buffer of
    // tens of megabytes.
    const std::size_t frameSize = pa_frame_size(spec);
    const qint64 fragmentFrames = qint64(pa_usec_to_bytes(kFragment, spec) / frameSize);
    for (qint64 missing = expectedFrame - tap.framesDelivered; missing > 0; missing -= fragmentFrames) {
        deliver(tap, nullptr, std::size_t(std::min(missing, fragmentFrames)) * frameSize);
    }
}

void PulseStream::deliver(Tap& tap, const void* data, std::size_t bytes) {
    const AudioFormat audioFormat = format();
    const std::size_t frameSize = std::size_t(audioFormat.channelCount * audioFormat.bytesPerSample());
    const qint64 frames = qint64(bytes / frameSize);
    const qsizetype length = qsizetype(frames * qint64(frameSize));
    if (data) {
        tap.pending.append(static_cast<const char*>(data), length);
    } else {
        tap.pending.append(length, '\0');
    }
    tap.framesDelivered += frames;
    // The server hands over a few milliseconds at a time; one buffer per fragment keeps the
    // writer's work (and the wake-ups of the capture queue) to twenty a second.
    const qsizetype fragmentBytes = qsizetype(pa_usec_to_bytes(kFragment, pa_stream_get_sample_spec(tap.stream)));
    if (tap.pending.size() >= fragmentBytes) {
        flush(tap);
    }
}

void PulseStream::flush(Tap& tap) {
    if (tap.pending.isEmpty()) {
        return;
    }
    SampleBuffer buffer(format(), std::move(tap.pending));
    tap.pending = QByteArray();
    tap.queue->async([this, output = tap.output, type = tap.type, buffer = std::move(buffer)] {
        output->stream(*this, buffer, type);
    });
}

} // namespace Capture
