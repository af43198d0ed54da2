#include "CaptureWriter.h"

#include "MediaError.h"

CaptureWriter::CaptureWriter(const std::shared_ptr<const WorkDirectory>& dir) : dir_(dir) {}

void CaptureWriter::closeFiles() {
    systemFile.reset();
    micFile.reset();
    isClosed_ = true;
}

void CaptureWriter::syncFiles() {
    for (const std::unique_ptr<Media::AudioFile>* file : {&systemFile, &micFile}) {
        if (*file) {
            (*file)->sync();
        }
    }
}

void CaptureWriter::stream(Capture::Stream&, const Capture::SampleBuffer& buffer, Capture::OutputType type) {
    if (isClosed_) {
        return;
    }
    try {
        switch (type) {
        case Capture::OutputType::Audio:
            write(buffer, systemFile, WorkDirectory::Source::System, levels->system);
            break;
        case Capture::OutputType::Microphone:
            write(buffer, micFile, WorkDirectory::Source::Microphone, levels->microphone);
            break;
        }
    } catch (const Media::MediaError& error) {
        if (error.kind() != Media::MediaError::Kind::CannotWrite) {
            return;
        }
        closeFiles();
        if (onStop) {
            onStop(std::current_exception());
        }
    } catch (const std::exception&) {
        // The buffer's data could not be reached: that buffer alone is lost.
    }
}

void CaptureWriter::write(const Capture::SampleBuffer& buffer, std::unique_ptr<Media::AudioFile>& file,
                          WorkDirectory::Source source, SourceLevel& level) {
    if (!buffer.isValid() || !buffer.formatDescription()) {
        return;
    }
    const Media::PcmFormat& format = *buffer.formatDescription();
    if (!file) {
        const std::shared_ptr<const WorkDirectory> dir = dir_.lock();
        if (!dir) {
            throw Media::MediaError(Media::MediaError::Kind::CannotWrite);
        }
        file = std::make_unique<Media::AudioFile>(dir->borrowedSourcePath(source), format);
    }
    buffer.withSamples([&](const void* interleaved) {
        file->write(format, interleaved, buffer.frameCount());
        level.measure(format, interleaved, buffer.frameCount());
    });
}

void CaptureWriter::streamDidStopWithError(Capture::Stream&, std::exception_ptr error) {
    if (onStop) {
        onStop(error);
    }
}
