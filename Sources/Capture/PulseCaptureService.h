#pragma once

#include "CaptureService.h"

namespace Capture {

// The capture service over the audio server (PulseAudio, or PipeWire through pipewire-pulse).
class PulseCaptureService : public CaptureService {
public:
    // Connects once to the audio server and lets go.
    QCoro::Task<> checkServer() override;
    std::unique_ptr<Stream> makeStream(const StreamConfiguration& configuration,
                                       std::shared_ptr<StreamDelegate> delegate) override;
};

} // namespace Capture
