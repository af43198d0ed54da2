// Keeping both files on one timeline: each stream's first data, and its first after a device
// switch, is placed by the capture clock once the server's timing for it is known; silence fills
// what lies between.
#include "PulseStream.h"

#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <algorithm>

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
            // Held until the server's timing tells where it lies (see onTimingUpdate).
            if (tap.pending.isEmpty()) {
                pa_gettimeofday(&tap.heldSince);
            }
            if (audio) {
                tap.pending.append(static_cast<const char*>(audio), qsizetype(bytes));
            } else {
                tap.pending.append(qsizetype(bytes), '\0');
            }
            pa_stream_drop(stream);
            if (tap.pending.size() >=
                qsizetype(pa_usec_to_bytes(kLongestHold, pa_stream_get_sample_spec(stream)))) {
                self.align(tap);
            }
            continue;
        }
        // A hole reported by the server is silence in the file, so the timeline does not shift.
        self.deliver(tap, audio, bytes);
        pa_stream_drop(stream);
    }
}

void PulseStream::onTimingUpdate(pa_stream* stream, void* data) {
    auto& tap = *static_cast<Tap*>(data);
    // Only timings taken after the first data arrived: the latency known before (from the
    // stream's creation) is off by up to a server period, differently for each stream. One timing
    // now and then is off by as much (seen on PipeWire), so the middle one of a few is used.
    const pa_timing_info* timing = pa_stream_get_timing_info(stream);
    if (tap.needsAlignment && !tap.pending.isEmpty() && timing &&
        pa_timeval_cmp(&timing->timestamp, &tap.heldSince) > 0 &&
        pa_timeval_cmp(&timing->timestamp, &tap.lastTiming) > 0) {
        tap.lastTiming = timing->timestamp;
        tap.heldStarts.push_back(tap.owner->heldStart(tap));
        if (tap.heldStarts.size() == kTimings) {
            tap.owner->align(tap);
        }
    }
}

qint64 PulseStream::heldStart(const Tap& tap) const {
    const pa_sample_spec* spec = pa_stream_get_sample_spec(tap.stream);
    pa_usec_t magnitude = 0;
    int negative = 0;
    if (pa_stream_get_latency(tap.stream, &magnitude, &negative) < 0) {
        magnitude = 0;
    }
    // A monitor's latency is negative: it gets what its sink plays before the sink plays it.
    const qint64 latency = negative ? -qint64(magnitude) : qint64(magnitude);
    // The held audio ends where the next read begins, which was captured `latency` ago.
    const qint64 heldFrames = tap.pending.size() / qsizetype(pa_frame_size(spec));
    return qint64(pa_rtclock_now()) - latency - heldFrames * qint64(PA_USEC_PER_SEC) / spec->rate;
}

void PulseStream::align(Tap& tap) {
    tap.needsAlignment = false;
    const pa_sample_spec* spec = pa_stream_get_sample_spec(tap.stream);
    const std::size_t frameSize = pa_frame_size(spec);
    std::vector<qint64>& starts = tap.heldStarts;
    if (starts.empty()) {
        starts.push_back(heldStart(tap));
    }
    std::sort(starts.begin(), starts.end());
    const qint64 capturedAt = starts[starts.size() / 2];
    starts.clear();
    QByteArray held = std::move(tap.pending);
    tap.pending = QByteArray();
    const qint64 heldFrames = held.size() / qsizetype(frameSize);
    const qint64 expectedFrame = (capturedAt - qint64(startedAt_)) * spec->rate / qint64(PA_USEC_PER_SEC);
    qint64 missing = expectedFrame - tap.framesDelivered;
    // What was captured before the start (or before the end of what the previous device gave)
    // is left out.
    const qint64 dropped = std::clamp(-missing, qint64(0), heldFrames);
    // In fragments, as always: a device that was away for a minute would otherwise be one buffer
    // of silence of tens of megabytes.
    const qint64 fragmentFrames = qint64(pa_usec_to_bytes(kFragment, spec) / frameSize);
    for (; missing > 0; missing -= fragmentFrames) {
        deliver(tap, nullptr, std::size_t(std::min(missing, fragmentFrames)) * frameSize);
    }
    for (qint64 frame = dropped; frame < heldFrames; frame += fragmentFrames) {
        deliver(tap, held.constData() + frame * qint64(frameSize),
                std::size_t(std::min(heldFrames - frame, fragmentFrames)) * frameSize);
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
