// What one source has sounded like: its loudest sample since the meter last looked and over the
// whole recording, and how long it has been digitally silent. Fed on the capture queue with one
// pass over each buffer; read from any thread.
#pragma once

#include "PcmFormat.h"

#include <QtGlobal>
#include <atomic>

class SourceLevel {
public:
    // About -90 dBFS: a muted, unplugged or misrouted source delivers exact or near zeros, while
    // the quietest room a microphone hears is tens of dB above it.
    static constexpr float kSilence = 3.2e-5f;
    // What a level of nothing at all reads as, in dBFS.
    static constexpr double kFloorDb = -100.0;

    // On the capture queue.
    void measure(const Media::PcmFormat& format, const void* interleaved, qint64 frames);

    // The loudest sample since the last call, in dBFS; it starts over.
    double takePeakDb();
    // The loudest sample of the whole recording, in dBFS.
    double peakDb() const;
    double seconds() const;
    // Digital silence in all, and the stretch of it going on now.
    double silentSeconds() const;
    double silentNowSeconds() const;

    static double toDb(float peak);

private:
    std::atomic<float> recentPeak_ = 0;
    std::atomic<float> peak_ = 0;
    std::atomic<qint64> frames_ = 0;
    std::atomic<qint64> silentFrames_ = 0;
    std::atomic<qint64> silentNowFrames_ = 0;
    std::atomic<double> sampleRate_ = 48000;
};
