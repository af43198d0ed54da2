#include "PulseStream.h"

#include "Background.h"

#include <pulse/rtclock.h>
#include <set>

namespace Capture {

namespace {

constexpr pa_usec_t kFragment = 50 * PA_USEC_PER_MSEC;

QString sourceNameOf(const char* name) {
    return QString::fromUtf8(name ? name : "");
}

} // namespace

PulseStream::PulseStream(StreamConfiguration configuration, std::shared_ptr<StreamDelegate> delegate)
    : configuration_(configuration), delegate_(std::move(delegate)) {}

PulseStream::~PulseStream() {
    shutdown();
    drainQueues();
}

AudioFormat PulseStream::format() const {
    return AudioFormat{double(configuration_.sampleRate), configuration_.channelCount, SampleType::Float32, true};
}

void PulseStream::addStreamOutput(std::shared_ptr<StreamOutput> output, OutputType type,
                                  Dispatch::SerialQueue& queue) {
    if (type == OutputType::Screen || !output) {
        throw CaptureError(CaptureError::Kind::Other, QStringLiteral("unsupported output"));
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
        QString device;
        if (tap->type == OutputType::Audio) {
            // By name, through the default sink: "@DEFAULT_MONITOR@" resolves to the microphone on
            // PipeWire, which would silently record the microphone twice.
            tap->followed = server.defaultSinkName;
            device = connection_->monitorOfSink(server.defaultSinkName);
        } else {
            tap->followed = server.defaultSourceName;
            if (connection_->isInputSource(server.defaultSourceName)) {
                device = server.defaultSourceName;
            }
        }
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
    connection_->subscribeToServerChanges();
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
    pa_stream_set_read_callback(tap.stream, &PulseStream::onRead, &tap);
    pa_stream_set_state_callback(tap.stream, &PulseStream::onStreamState, &tap);
    pa_buffer_attr attributes{};
    attributes.maxlength = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(kFragment, &spec));
    // Not moved by the server: when the device goes away the stream fails and we follow the new
    // default ourselves, keeping the timeline.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
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

void PulseStream::onRead(pa_stream* stream, std::size_t, void* data) {
    auto& tap = *static_cast<Tap*>(data);
    PulseStream& self = *tap.owner;
    while (self.isRunning_ && pa_stream_readable_size(stream) > 0) {
        const void* audio = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &audio, &bytes) < 0 || bytes == 0) {
            return;
        }
        if (tap.needsAlignment) {
            self.align(tap, bytes);
        }
        // A hole reported by the server is silence in the file, so the timeline does not shift.
        self.deliver(tap, audio, bytes);
        pa_stream_drop(stream);
    }
}

void PulseStream::align(Tap& tap, std::size_t bytes) {
    tap.needsAlignment = false;
    const pa_sample_spec* spec = pa_stream_get_sample_spec(tap.stream);
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(tap.stream, &latency, &negative) < 0 || negative) {
        latency = pa_bytes_to_usec(bytes, spec);
    }
    const pa_usec_t now = pa_rtclock_now();
    const pa_usec_t capturedAt = now > latency ? now - latency : 0;
    if (capturedAt <= startedAt_) {
        return;
    }
    const qint64 expectedFrame = qint64((capturedAt - startedAt_) * spec->rate / PA_USEC_PER_SEC);
    // Silence in fragments: a device that was away for a minute would otherwise be one buffer of
    // tens of megabytes.
    const std::size_t frameSize = pa_frame_size(spec);
    const qint64 fragmentFrames = qint64(pa_usec_to_bytes(kFragment, spec) / frameSize);
    for (qint64 missing = expectedFrame - tap.framesDelivered; missing > 0; missing -= fragmentFrames) {
        deliver(tap, nullptr, std::size_t(std::min(missing, fragmentFrames)) * frameSize);
    }
}

void PulseStream::deliver(Tap& tap, const void* data, std::size_t bytes) {
    const AudioFormat audioFormat = format();
    const std::size_t frameSize = std::size_t(audioFormat.channelCount * audioFormat.bytesPerSample());
    const qint64 frames = qint64(bytes / frameSize);
    const qsizetype length = qsizetype(frames * qint64(frameSize));
    if (data) {
        tap.pending.append(static_cast<const char*>(data), length);
    } else {
        tap.pending.append(length, '\0');
    }
    tap.framesDelivered += frames;
    // The server hands over a few milliseconds at a time; one buffer per fragment keeps the
    // writer's work (and the wake-ups of the capture queue) to twenty a second.
    const qsizetype fragmentBytes = qsizetype(pa_usec_to_bytes(kFragment, pa_stream_get_sample_spec(tap.stream)));
    if (tap.pending.size() >= fragmentBytes) {
        flush(tap);
    }
}

void PulseStream::flush(Tap& tap) {
    if (tap.pending.isEmpty()) {
        return;
    }
    SampleBuffer buffer(format(), std::move(tap.pending));
    tap.pending = QByteArray();
    tap.queue->async([this, output = tap.output, type = tap.type, buffer = std::move(buffer)] {
        output->stream(*this, buffer, type);
    });
}

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
                            auto* tap = static_cast<Tap*>(tapData);
                            if (sink && sink->monitor_source_name && tap->owner->isRunning_) {
                                const QString monitor = sourceNameOf(sink->monitor_source_name);
                                if (monitor != tap->device || !tap->stream) {
                                    tap->owner->disconnectTap(*tap);
                                    try {
                                        tap->owner->connectTap(*tap, monitor);
                                    } catch (const CaptureError&) {
                                        // Silence until the next change brings a usable device.
                                    }
                                }
                            }
                        },
                        tap);
                } else {
                    lookup = pa_context_get_source_info_by_name(
                        context, name.constData(),
                        [](pa_context*, const pa_source_info* source, int, void* tapData) {
                            auto* tap = static_cast<Tap*>(tapData);
                            if (!source || !tap->owner->isRunning_) {
                                return;
                            }
                            const QString sourceName = sourceNameOf(source->name);
                            if (source->monitor_of_sink != PA_INVALID_INDEX) {
                                // A monitor is not a microphone: record nothing until a real one is default.
                                tap->owner->disconnectTap(*tap);
                            } else if (sourceName != tap->device || !tap->stream) {
                                tap->owner->disconnectTap(*tap);
                                try {
                                    tap->owner->connectTap(*tap, sourceName);
                                } catch (const CaptureError&) {
                                }
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
