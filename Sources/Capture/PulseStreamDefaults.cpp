// Following the server's defaults: a new default sink or source, or a device that went away,
// moves the recording to the device now behind the default, without a gap in the timeline.
#include "PulseStream.h"

namespace Capture {

namespace {
QString sourceNameOf(const char* name) {
    return QString::fromUtf8(name ? name : "");
}
} // namespace

void PulseStream::onStreamState(pa_stream* stream, void* data) {
    auto& tap = *static_cast<Tap*>(data);
    PulseStream& self = *tap.owner;
    self.connection_->signal();
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED && self.isRunning_ &&
        PA_CONTEXT_IS_GOOD(pa_context_get_state(self.connection_->context()))) {
        // The device went away (a headset unplugged): record from whatever is the default now.
        self.disconnectTap(tap);
        tap.followed.clear();
        self.followDefaults();
    }
}

void PulseStream::followDefaults() {
    if (!isRunning_) {
        return;
    }
    pa_operation* operation = pa_context_get_server_info(
        connection_->context(),
        [](pa_context* context, const pa_server_info* info, void* data) {
            auto* self = static_cast<PulseStream*>(data);
            if (!info || !self->isRunning_) {
                return;
            }
            for (auto& tapPointer : self->taps_) {
                Tap* tap = tapPointer.get();
                const bool isSystem = tap->type == OutputType::Audio;
                const QString current =
                    sourceNameOf(isSystem ? info->default_sink_name : info->default_source_name);
                if (current == tap->followed && tap->stream) {
                    continue;
                }
                tap->followed = current;
                const QByteArray name = current.toUtf8();
                pa_operation* lookup = nullptr;
                if (isSystem) {
                    lookup = pa_context_get_sink_info_by_name(
                        context, name.constData(),
                        [](pa_context*, const pa_sink_info* sink, int, void* tapData) {
                            if (sink && sink->monitor_source_name) {
                                auto* tap = static_cast<Tap*>(tapData);
                                tap->owner->switchTo(
                                    *tap, deviceBehind(tap->type, sourceNameOf(sink->monitor_source_name), false));
                            }
                        },
                        tap);
                } else {
                    lookup = pa_context_get_source_info_by_name(
                        context, name.constData(),
                        [](pa_context*, const pa_source_info* source, int, void* tapData) {
                            if (source) {
                                auto* tap = static_cast<Tap*>(tapData);
                                tap->owner->switchTo(*tap,
                                                     deviceBehind(tap->type, sourceNameOf(source->name),
                                                                  source->monitor_of_sink != PA_INVALID_INDEX));
                            }
                        },
                        tap);
                }
                if (lookup) {
                    pa_operation_unref(lookup);
                }
            }
        },
        this);
    if (operation) {
        pa_operation_unref(operation);
    }
}

QString PulseStream::deviceBehind(OutputType type, const QString& source, bool isMonitor) {
    if (type == OutputType::Audio) {
        // By name, through the default sink: "@DEFAULT_MONITOR@" resolves to the microphone on
        // PipeWire, which would silently record the microphone twice.
        return source;
    }
    // A monitor is not a microphone: nothing is recorded until a real one is the default.
    return isMonitor ? QString() : source;
}

void PulseStream::switchTo(Tap& tap, const QString& device) {
    if (!isRunning_ || (device == tap.device && tap.stream)) {
        return;
    }
    disconnectTap(tap);
    if (device.isEmpty()) {
        return;
    }
    try {
        connectTap(tap, device);
    } catch (const CaptureError&) {
        // Silence until the next change brings a usable device.
    }
    if (tap.type == OutputType::Microphone) {
        microphoneIndex_ = PA_INVALID_INDEX;
        checkMicrophone();
    }
}

} // namespace Capture
