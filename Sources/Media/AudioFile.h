// A CAF work file of linear PCM, written as it arrives (libsndfile). The header is brought up to
// date every second of audio, so a file cut off by a crash still describes the audio written up
// to its last second. A write that fails (a full disk, the file removed) throws at once; the
// audio written before it stays readable.
#pragma once

#include "PcmFormat.h"

#include <QString>
#include <cstddef>
#include <sndfile.h>

namespace Media {

class AudioFile {
public:
    // Creates (or replaces) the file, readable by the user alone; a symbolic link in its place is
    // not followed (CannotWrite). Throws MediaError.
    AudioFile(const QString& path, const PcmFormat& format);
    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    const PcmFormat& format() const { return format_; }
    qint64 framesWritten() const { return framesWritten_; }

    // Appends `frames` interleaved frames. Throws MediaError: Unsupported when the data is not in
    // the file's format, CannotWrite when the disk refuses it or the file was removed (noticed
    // within a second).
    void write(const PcmFormat& format, const void* interleaved, qint64 frames);
    // Brings the header up to date with every frame written and puts the file on the disk now.
    void sync();

private:
    sf_count_t writeInterleaved(const void* data, sf_count_t frames);

    void checkStillLinked() const;

    int fd_ = -1; // owned by file_, kept to notice a removed file
    SNDFILE* file_ = nullptr;
    PcmFormat format_;
    qint64 framesWritten_ = 0;
    qint64 framesInHeader_ = 0;
};

} // namespace Media
