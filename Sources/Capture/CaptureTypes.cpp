#include "CaptureTypes.h"

#include "CaptureError.h"

namespace Capture {

SampleBuffer::SampleBuffer(AudioFormat format, QByteArray data)
    : isValid_(true), format_(format), data_(std::move(data)) {}

SampleBuffer SampleBuffer::silence(AudioFormat format, qint64 frames) {
    return SampleBuffer(format, QByteArray(frames * format.channelCount * format.bytesPerSample(), '\0'));
}

SampleBuffer SampleBuffer::withUnreachableData(AudioFormat format) {
    SampleBuffer buffer(format, {});
    buffer.isReachable_ = false;
    return buffer;
}

qint64 SampleBuffer::frameCount() const {
    if (!format_ || format_->channelCount <= 0) {
        return 0;
    }
    return data_.size() / (format_->channelCount * format_->bytesPerSample());
}

void SampleBuffer::withAudioBufferList(const std::function<void(const QList<AudioBlock>&)>& body) const {
    if (!isReachable_ || !format_) {
        throw CaptureError(CaptureError::Kind::Other, QStringLiteral("данные звука недоступны"));
    }
    QList<AudioBlock> blocks;
    if (format_->isInterleaved) {
        blocks.append({data_.constData(), std::size_t(data_.size())});
    } else {
        // Planar data is laid out channel after channel.
        const std::size_t plane = std::size_t(data_.size()) / std::size_t(format_->channelCount);
        for (int channel = 0; channel < format_->channelCount; ++channel) {
            blocks.append({data_.constData() + channel * plane, plane});
        }
    }
    body(blocks);
}

} // namespace Capture
