#include "PulseCaptureService.h"

#include "Background.h"
#include "PulseConnection.h"
#include "PulseStream.h"

namespace Capture {

QCoro::Task<> PulseCaptureService::checkServer() {
    return Dispatch::runInBackground([] { PulseConnection probe("Velmor"); });
}

std::unique_ptr<Stream> PulseCaptureService::makeStream(const StreamConfiguration& configuration,
                                                        std::shared_ptr<StreamDelegate> delegate) {
    return std::make_unique<PulseStream>(configuration, std::move(delegate));
}

} // namespace Capture
