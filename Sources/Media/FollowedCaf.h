// A CAF work file read while its writer still appends to it. Only the audio that its header
// already counts is read: the writer brings the header up to date every second, so that much is
// on disk and whole. FFmpeg reads it through an I/O context of its own that shows the data chunk
// as one of unknown length, so the demuxer reads on instead of stopping at today's length; at the
// edge a read waits until the header counts more, or until the file is declared complete.
#pragma once

#include "AvHandles.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace Media {

// What every followed file of one recording waits on.
struct FollowEdge {
    std::mutex mutex;
    std::condition_variable changed;
    // Set under the mutex, then `changed` notified.
    std::atomic<bool> isComplete = false;  // the writer closed the files: read to their final end
    std::atomic<bool> isAbandoned = false; // waiting reads fail at once
};

class FollowedCaf {
public:
    // Throws MediaError when the file is missing or its header is not (yet) a linear PCM CAF.
    FollowedCaf(const QString& path, FollowEdge& edge);
    ~FollowedCaf();
    FollowedCaf(const FollowedCaf&) = delete;
    FollowedCaf& operator=(const FollowedCaf&) = delete;

    double sampleRate() const { return sampleRate_; }
    // Frames the header counts now.
    qint64 durableFrames();
    // A demuxer over this file; it must be closed before this object goes.
    av::Input openInput();

private:
    static int readPacket(void* opaque, uint8_t* buffer, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);
    int read(uint8_t* buffer, int size);
    qint64 durableBytes();

    int fd_ = -1;
    FollowEdge& edge_;
    qint64 sizeField_ = 0; // where the data chunk's length is kept
    qint64 dataStart_ = 0;
    qint64 bytesPerFrame_ = 0;
    double sampleRate_ = 0;
    qint64 durable_ = 0; // bytes of audio known to be whole
    qint64 position_ = 0;
    AVIOContext* io_ = nullptr;
};

} // namespace Media
