// What the recorder needs of a capture service: whether the audio server can be reached, a stream
// with outputs and a delegate, start and stop. PulseCaptureService is the real one; tests inject faults with
// fakes.
#pragma once

#include "CaptureError.h"
#include "CaptureTypes.h"
#include "SerialQueue.h"

#include <QCoroTask>
#include <exception>
#include <memory>

namespace Capture {

class Stream;

class StreamOutput {
public:
    virtual ~StreamOutput() = default;
    // Called on the queue given with the output, one buffer at a time.
    virtual void stream(Stream& stream, const SampleBuffer& buffer, OutputType type) = 0;
};

class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    // Called once, on a thread of the service, when the service stops the stream because of an error.
    virtual void streamDidStopWithError(Stream& stream, std::exception_ptr error) = 0;
    // Called on a thread of the service whenever the recorded microphone is found muted, or at
    // zero volume, in the audio server, or no longer so; also when another one is recorded.
    virtual void streamMicrophoneMuted(Stream& /*stream*/, bool /*muted*/) {}
};

class Stream {
public:
    virtual ~Stream() = default;
    // Throws CaptureError. The output stays alive as long as the stream.
    virtual void addStreamOutput(std::shared_ptr<StreamOutput> output, OutputType type,
                                 Dispatch::SerialQueue& queue) = 0;
    virtual QCoro::Task<> startCapture() = 0;
    // Once this has completed, no further buffer is delivered.
    virtual QCoro::Task<> stopCapture() = 0;
};

class CaptureService {
public:
    virtual ~CaptureService() = default;
    // Throws CaptureError when the audio server cannot be reached.
    virtual QCoro::Task<> checkServer() = 0;
    virtual std::unique_ptr<Stream> makeStream(const StreamConfiguration& configuration,
                                               std::shared_ptr<StreamDelegate> delegate) = 0;
};

} // namespace Capture
