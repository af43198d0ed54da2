// Receives the capture's audio on the capture queue and appends each source to its own work file
// in the recording's directory.
#pragma once

#include "AudioFile.h"
#include "CaptureService.h"
#include "SourceLevel.h"
#include "WorkDirectory.h"

#include <QString>
#include <functional>
#include <memory>

// How both sources sound while they are written.
struct CaptureLevels {
    SourceLevel system;
    SourceLevel microphone;
    // Muted, or at zero volume, in the audio server.
    std::atomic<bool> isMicrophoneMuted = false;
};

class CaptureWriter : public Capture::StreamOutput, public Capture::StreamDelegate {
public:
    // Holds no lock of the directory: a writer that a stream still keeps lets the recording go.
    explicit CaptureWriter(const std::shared_ptr<const WorkDirectory>& dir);

    // Set once by the start workflow before the stream exists. Called, on the capture queue or a
    // thread of the service, when the capture ends by itself: the service stopped the stream, or
    // a work file could not be written.
    std::function<void(std::exception_ptr)> onStop;
    // Touched only on the capture queue; emptying a slot closes (and completes) its file.
    std::unique_ptr<Media::AudioFile> systemFile;
    std::unique_ptr<Media::AudioFile> micFile;
    // Measured from every buffer written.
    const std::shared_ptr<CaptureLevels> levels = std::make_shared<CaptureLevels>();

    // On the capture queue: completes both files; buffers that still arrive are dropped.
    void closeFiles();
    // On the capture queue: both files' headers up to date and on the disk; writing goes on.
    void syncFiles();

    void stream(Capture::Stream& stream, const Capture::SampleBuffer& buffer, Capture::OutputType type) override;
    void streamDidStopWithError(Capture::Stream& stream, std::exception_ptr error) override;
    void streamMicrophoneMuted(Capture::Stream&, bool muted) override { levels->isMicrophoneMuted = muted; }

private:
    // A buffer the file cannot take (another format, unreachable data) is dropped; one that the
    // disk refuses closes both files and ends the recording, so that no later loss goes unseen.
    void write(const Capture::SampleBuffer& buffer, std::unique_ptr<Media::AudioFile>& file,
               WorkDirectory::Source source, SourceLevel& level);

    const std::weak_ptr<const WorkDirectory> dir_;
    bool isClosed_ = false;
};
