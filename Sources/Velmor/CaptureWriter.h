// Receives the capture's audio on the capture queue and appends each source to its own work file
// in the recording's directory: system audio to "system.caf", the microphone to "mic.caf".
#pragma once

#include "AudioFile.h"
#include "CaptureService.h"

#include <QString>
#include <functional>
#include <memory>

class CaptureWriter : public Capture::StreamOutput, public Capture::StreamDelegate {
public:
    explicit CaptureWriter(QString dir);

    const QString& dir() const { return dir_; }

    // Set once by the start workflow before the stream exists.
    std::function<void(std::exception_ptr)> onStop;
    // Touched only on the capture queue; emptying a slot closes (and completes) its file.
    std::unique_ptr<Media::AudioFile> systemFile;
    std::unique_ptr<Media::AudioFile> micFile;

    void stream(Capture::Stream& stream, const Capture::SampleBuffer& buffer, Capture::OutputType type) override;
    void streamDidStopWithError(Capture::Stream& stream, std::exception_ptr error) override;

private:
    // Returns the file to keep in the source's slot. Every failure is silent: the buffer is lost,
    // an open file stays open, a file created for this very buffer is dropped and made anew by
    // the next buffer.
    std::unique_ptr<Media::AudioFile> write(const Capture::SampleBuffer& buffer,
                                            std::unique_ptr<Media::AudioFile> file, const QString& name);

    const QString dir_;
};
