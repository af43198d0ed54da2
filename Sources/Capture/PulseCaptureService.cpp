#include "PulseCaptureService.h"

#include "Background.h"
#include "PulseConnection.h"
#include "PulseStream.h"

#include <QGuiApplication>
#include <QScreen>

namespace Capture {

QCoro::Task<ShareableContent> PulseCaptureService::shareableContent(bool, bool) {
    co_await Dispatch::runInBackground([] { PulseConnection probe("Velmor"); });
    ShareableContent content;
    for (QScreen* screen : QGuiApplication::screens()) {
        content.displays.append(Display{screen->name(), screen->geometry()});
    }
    co_return content;
}

std::unique_ptr<Stream> PulseCaptureService::makeStream(const ContentFilter&,
                                                        const StreamConfiguration& configuration,
                                                        std::shared_ptr<StreamDelegate> delegate) {
    return std::make_unique<PulseStream>(configuration, std::move(delegate));
}

} // namespace Capture
