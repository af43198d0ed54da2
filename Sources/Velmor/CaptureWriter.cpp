#include "CaptureWriter.h"

#include <QDir>

namespace {

Media::PcmFormat pcmFormatOf(const Capture::AudioFormat& format) {
    using Sample = Media::PcmFormat::SampleType;
    Sample sampleType = Sample::Float32;
    switch (format.sampleType) {
    case Capture::SampleType::Int16:
        sampleType = Sample::Int16;
        break;
    case Capture::SampleType::Int32:
        sampleType = Sample::Int32;
        break;
    case Capture::SampleType::Float32:
        sampleType = Sample::Float32;
        break;
    case Capture::SampleType::Float64:
        sampleType = Sample::Float64;
        break;
    }
    return {format.sampleRate, format.channelCount, sampleType, format.isInterleaved};
}

} // namespace

CaptureWriter::CaptureWriter(QString dir) : dir_(std::move(dir)) {}

void CaptureWriter::stream(Capture::Stream&, const Capture::SampleBuffer& buffer, Capture::OutputType type) {
    switch (type) {
    case Capture::OutputType::Audio:
        systemFile = write(buffer, std::move(systemFile), QStringLiteral("system.caf"));
        break;
    case Capture::OutputType::Microphone:
        micFile = write(buffer, std::move(micFile), QStringLiteral("mic.caf"));
        break;
    case Capture::OutputType::Screen:
        break;
    }
}

std::unique_ptr<Media::AudioFile> CaptureWriter::write(const Capture::SampleBuffer& buffer,
                                                       std::unique_ptr<Media::AudioFile> file,
                                                       const QString& name) {
    if (!buffer.isValid() || !buffer.formatDescription()) {
        return file;
    }
    const Media::PcmFormat format = pcmFormatOf(*buffer.formatDescription());
    std::unique_ptr<Media::AudioFile> created;
    if (!file) {
        try {
            created = std::make_unique<Media::AudioFile>(QDir(dir_).filePath(name), format);
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    Media::AudioFile& target = file ? *file : *created;
    try {
        buffer.withAudioBufferList([&](const QList<Capture::AudioBlock>& blocks) {
            if (blocks.isEmpty()) {
                return;
            }
            QList<const void*> data;
            for (const Capture::AudioBlock& block : blocks) {
                data.append(block.data);
            }
            target.write(format, data, buffer.frameCount());
        });
    } catch (const std::exception&) {
        return file;
    }
    return file ? std::move(file) : std::move(created);
}

void CaptureWriter::streamDidStopWithError(Capture::Stream&, std::exception_ptr error) {
    if (onStop) {
        onStop(error);
    }
}
