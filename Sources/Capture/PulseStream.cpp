#include "PulseStream.h"

#include "Background.h"

#include <algorithm>
#include <pulse/rtclock.h>
#include <set>

namespace Capture {

PulseStream::PulseStream(StreamConfiguration configuration, std::shared_ptr<StreamDelegate> delegate)
    : configuration_(configuration), delegate_(std::move(delegate)) {}

PulseStream::~PulseStream() {
    shutdown();
    drainQueues();
}

AudioFormat PulseStream::format() const {
    return AudioFormat{double(configuration_.sampleRate), configuration_.channelCount, SampleType::Float32};
}

void PulseStream::addStreamOutput(std::shared_ptr<StreamOutput> output, OutputType type,
                                  Dispatch::SerialQueue& queue) {
    if (!output) {
        throw CaptureError(CaptureError::Kind::Other, QStringLiteral("такой выход не поддерживается"));
    }
    auto tap = std::make_unique<Tap>();
    tap->owner = this;
    tap->type = type;
    tap->output = std::move(output);
    tap->queue = &queue;
    taps_.push_back(std::move(tap));
}

QCoro::Task<> PulseStream::startCapture() {
    return Dispatch::runInBackground([this] {
        try {
            connectAll();
        } catch (...) {
            shutdown();
            throw;
        }
    });
}

void PulseStream::connectAll() {
    connection_ = std::make_unique<PulseConnection>("Velmor");
    PulseConnection::Lock lock(*connection_);
    const PulseConnection::ServerInfo server = connection_->serverInfo();
    startedAt_ = pa_rtclock_now();
    isRunning_ = true;
    bool anyConnected = false;
    for (auto& tap : taps_) {
        const bool isSystem = tap->type == OutputType::Audio;
        tap->followed = isSystem ? server.defaultSinkName : server.defaultSourceName;
        const QString device =
            isSystem ? deviceBehind(tap->type, connection_->monitorOfSink(tap->followed), false)
                     : deviceBehind(tap->type, tap->followed, !connection_->isInputSource(tap->followed));
        if (device.isEmpty()) {
            continue;
        }
        connectTap(*tap, device);
        pa_stream* stream = tap->stream;
        const bool settled = connection_->waitFor([stream] {
            return pa_stream_get_state(stream) != PA_STREAM_CREATING &&
                   pa_stream_get_state(stream) != PA_STREAM_UNCONNECTED;
        });
        if (!settled || pa_stream_get_state(stream) != PA_STREAM_READY) {
            const int error = pa_context_errno(connection_->context());
            throw CaptureError::fromPulse(settled && error != PA_OK ? error : PA_ERR_TIMEOUT);
        }
        anyConnected = true;
    }
    if (!anyConnected) {
        throw CaptureError(CaptureError::Kind::NoSuchDevice, QStringLiteral("нет ни выхода звука, ни микрофона"));
    }
    connection_->setOnContextLost([this](int error) { reportLost(error); });
    connection_->setOnServerChanged([this] { followDefaults(); });
    connection_->setOnSourceChanged([this](uint32_t index) {
        if (index == microphoneIndex_) {
            checkMicrophone();
        }
    });
    connection_->subscribeToServerChanges();
    checkMicrophone();
}

void PulseStream::checkMicrophone() {
    const auto tap = std::find_if(taps_.begin(), taps_.end(),
                                  [](const auto& candidate) { return candidate->type == OutputType::Microphone; });
    if (!isRunning_ || tap == taps_.end() || (*tap)->device.isEmpty()) {
        return;
    }
    const QByteArray device = (*tap)->device.toUtf8();
    pa_operation* operation = pa_context_get_source_info_by_name(
        connection_->context(), device.constData(),
        [](pa_context*, const pa_source_info* source, int, void* data) {
            auto* self = static_cast<PulseStream*>(data);
            if (!source || !self->isRunning_) {
                return;
            }
            self->microphoneIndex_ = source->index;
            const int muted = source->mute || pa_cvolume_max(&source->volume) <= PA_VOLUME_MUTED ? 1 : 0;
            if (muted != self->microphoneMuted_ && self->delegate_) {
                self->microphoneMuted_ = muted;
                self->delegate_->streamMicrophoneMuted(*self, muted == 1);
            }
        },
        this);
    if (operation) {
        pa_operation_unref(operation);
    }
}

void PulseStream::connectTap(Tap& tap, const QString& device) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(configuration_.sampleRate),
                              uint8_t(configuration_.channelCount)};
    const char* name = tap.type == OutputType::Audio ? "Системный звук" : "Микрофон";
    tap.stream = pa_stream_new(connection_->context(), name, &spec, nullptr);
    if (!tap.stream) {
        throw CaptureError::fromPulse(pa_context_errno(connection_->context()));
    }
    tap.device = device;
    tap.needsAlignment = true;
    tap.lastTiming = {};
    tap.heldStarts.clear();
    pa_stream_set_read_callback(tap.stream, &PulseStream::onRead, &tap);
    pa_stream_set_state_callback(tap.stream, &PulseStream::onStreamState, &tap);
    pa_stream_set_latency_update_callback(tap.stream, &PulseStream::onTimingUpdate, &tap);
    pa_buffer_attr attributes{};
    attributes.maxlength = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(kFragment, &spec));
    // Not moved by the server: when the device goes away the stream fails and we follow the new
    // default ourselves, keeping the timeline. Timing updates make the latency known when the
    // first data is placed on the timeline; without them the guess was off by up to a fragment.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                         PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
    const QByteArray deviceName = device.toUtf8();
    if (pa_stream_connect_record(tap.stream, deviceName.constData(), &attributes, flags) < 0) {
        const int error = pa_context_errno(connection_->context());
        disconnectTap(tap);
        throw CaptureError::fromPulse(error);
    }
}

void PulseStream::disconnectTap(Tap& tap) {
    if (!tap.stream) {
        return;
    }
    flush(tap);
    pa_stream_set_read_callback(tap.stream, nullptr, nullptr);
    pa_stream_set_state_callback(tap.stream, nullptr, nullptr);
    pa_stream_set_latency_update_callback(tap.stream, nullptr, nullptr);
    if (pa_stream_get_state(tap.stream) == PA_STREAM_READY ||
        pa_stream_get_state(tap.stream) == PA_STREAM_CREATING) {
        pa_stream_disconnect(tap.stream);
    }
    pa_stream_unref(tap.stream);
    tap.stream = nullptr;
    tap.device.clear();
}

void PulseStream::shutdown() {
    isRunning_ = false;
    if (!connection_) {
        return;
    }
    {
        PulseConnection::Lock lock(*connection_);
        connection_->setOnContextLost(nullptr);
        connection_->setOnServerChanged(nullptr);
        connection_->setOnSourceChanged(nullptr);
        for (auto& tap : taps_) {
            disconnectTap(*tap);
        }
    }
    connection_->stop();
    connection_.reset();
}

void PulseStream::drainQueues() {
    // Deliveries already queued run before this returns; none are queued after the shutdown.
    std::set<Dispatch::SerialQueue*> queues;
    for (auto& tap : taps_) {
        queues.insert(tap->queue);
    }
    for (auto* queue : queues) {
        queue->sync([] {});
    }
}

QCoro::Task<> PulseStream::stopCapture() {
    return Dispatch::runInBackground([this] {
        shutdown();
        drainQueues();
    });
}

void PulseStream::reportLost(int pulseError) {
    if (wasLost_ || !isRunning_) {
        return;
    }
    wasLost_ = true;
    if (delegate_) {
        const CaptureError error(CaptureError::Kind::ConnectionTerminated,
                                 QString::fromUtf8(pa_strerror(pulseError)));
        delegate_->streamDidStopWithError(*this, std::make_exception_ptr(error));
    }
}

} // namespace Capture
