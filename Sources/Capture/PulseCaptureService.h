#pragma once

#include "CaptureService.h"

namespace Capture {

// The capture service over the audio server (PulseAudio, or PipeWire through pipewire-pulse).
class PulseCaptureService : public CaptureService {
public:
    // Asks the audio server whether it can be reached (its failure is the query's error); the
    // displays are the screens the toolkit reports.
    QCoro::Task<ShareableContent> shareableContent(bool excludingDesktopWindows,
                                                   bool onScreenWindowsOnly) override;
    std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                       std::shared_ptr<StreamDelegate> delegate) override;
};

} // namespace Capture
