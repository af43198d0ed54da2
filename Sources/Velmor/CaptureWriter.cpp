#include "CaptureWriter.h"

#include "MediaError.h"

#include <QDir>

CaptureWriter::CaptureWriter(QString dir) : dir_(std::move(dir)) {}

void CaptureWriter::closeFiles() {
    systemFile.reset();
    micFile.reset();
    isClosed_ = true;
}

void CaptureWriter::stream(Capture::Stream&, const Capture::SampleBuffer& buffer, Capture::OutputType type) {
    if (isClosed_) {
        return;
    }
    try {
        switch (type) {
        case Capture::OutputType::Audio:
            write(buffer, systemFile, QStringLiteral("system.caf"));
            break;
        case Capture::OutputType::Microphone:
            write(buffer, micFile, QStringLiteral("mic.caf"));
            break;
        case Capture::OutputType::Screen:
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
                          const QString& name) {
    if (!buffer.isValid() || !buffer.formatDescription()) {
        return;
    }
    const Media::PcmFormat& format = *buffer.formatDescription();
    if (!file) {
        file = std::make_unique<Media::AudioFile>(QDir(dir_).filePath(name), format);
    }
    buffer.withAudioBufferList([&](const QList<Capture::AudioBlock>& blocks) {
        if (blocks.isEmpty()) {
            return;
        }
        QList<const void*> data;
        for (const Capture::AudioBlock& block : blocks) {
            data.append(block.data);
        }
        file->write(format, data, buffer.frameCount());
    });
}

void CaptureWriter::streamDidStopWithError(Capture::Stream&, std::exception_ptr error) {
    if (onStop) {
        onStop(error);
    }
}
