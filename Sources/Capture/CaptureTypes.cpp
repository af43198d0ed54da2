#include "CaptureTypes.h"

#include "CaptureError.h"

namespace Capture {

SampleBuffer::SampleBuffer(AudioFormat format, QByteArray data)
    : isValid_(true), format_(format), data_(std::move(data)) {}

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

void SampleBuffer::withSamples(const std::function<void(const void*)>& body) const {
    if (!isReachable_ || !format_) {
        throw CaptureError(CaptureError::Kind::Other, QStringLiteral("данные звука недоступны"));
    }
    body(data_.constData());
}

} // namespace Capture
