#include "PulseConnection.h"

#include "CaptureError.h"

#include <pulse/rtclock.h>

namespace Capture {

namespace {

constexpr pa_usec_t kWaitBound = 10 * PA_USEC_PER_SEC;

// A bound on a wait of the loop's lock holder: the time event wakes it up and marks the wait as
// timed out, so a server that stops answering cannot hang the caller.
class WaitBound {
public:
    WaitBound(pa_threaded_mainloop* loop, pa_context* context) : loop_(loop) {
        event_ = pa_context_rttime_new(context, pa_rtclock_now() + kWaitBound, &WaitBound::fire, this);
    }
    ~WaitBound() {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        api->time_free(event_);
    }
    bool expired() const { return expired_; }

private:
    static void fire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* bound = static_cast<WaitBound*>(self);
        bound->expired_ = true;
        pa_threaded_mainloop_signal(bound->loop_, 0);
    }
    pa_threaded_mainloop* loop_;
    pa_time_event* event_ = nullptr;
    bool expired_ = false;
};

} // namespace

PulseConnection::PulseConnection(const char* applicationName) {
    loop_ = pa_threaded_mainloop_new();
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, VELMOR_APP_ID);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, VELMOR_APP_ID);
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), applicationName, properties);
    pa_proplist_free(properties);
    pa_context_set_state_callback(context_, &PulseConnection::onContextState, this);
    try {
        connect();
    } catch (...) {
        release();
        throw;
    }
}

void PulseConnection::connect() {
    Lock lock(*this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        throw CaptureError::fromPulse(pa_context_errno(context_));
    }
    WaitBound bound(loop_, context_);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) {
            wasReady_ = true;
            return;
        }
        if (!PA_CONTEXT_IS_GOOD(state) || bound.expired()) {
            throw CaptureError::fromPulse(bound.expired() ? PA_ERR_TIMEOUT : pa_context_errno(context_));
        }
        pa_threaded_mainloop_wait(loop_);
    }
}

PulseConnection::~PulseConnection() {
    release();
}

void PulseConnection::release() {
    stop();
    pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
}

void PulseConnection::stop() {
    if (isStopped_) {
        return;
    }
    isStopped_ = true;
    {
        Lock lock(*this);
        onLost_ = nullptr;
        onChanged_ = nullptr;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
    }
    pa_threaded_mainloop_stop(loop_);
}

void PulseConnection::onContextState(pa_context* context, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state) && connection->wasReady_ && connection->onLost_) {
        const int error = pa_context_errno(context);
        connection->onLost_(error == PA_OK ? PA_ERR_CONNECTIONTERMINATED : error);
    }
    connection->signal();
}

void PulseConnection::await(pa_operation* operation) {
    if (!operation) {
        throw CaptureError::fromPulse(pa_context_errno(context_));
    }
    const bool finished =
        waitFor([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    const bool done = finished && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    if (!done) {
        const bool contextGood = PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
        throw CaptureError::fromPulse(contextGood ? PA_ERR_TIMEOUT : pa_context_errno(context_));
    }
}

bool PulseConnection::waitFor(const std::function<bool()>& isDone) {
    WaitBound bound(loop_, context_);
    while (!isDone()) {
        if (bound.expired() || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            return false;
        }
        pa_threaded_mainloop_wait(loop_);
    }
    return true;
}

PulseConnection::ServerInfo PulseConnection::serverInfo() {
    struct Query {
        PulseConnection* connection;
        ServerInfo info;
    } query{this, {}};
    await(pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* query = static_cast<Query*>(data);
            if (info) {
                query->info.defaultSinkName =
                    QString::fromUtf8(info->default_sink_name ? info->default_sink_name : "");
                query->info.defaultSourceName =
                    QString::fromUtf8(info->default_source_name ? info->default_source_name : "");
            }
            query->connection->signal();
        },
        &query));
    return query.info;
}

QString PulseConnection::monitorOfSink(const QString& sinkName) {
    struct Query {
        PulseConnection* connection;
        QString monitor;
    } query{this, {}};
    if (sinkName.isEmpty()) {
        return {};
    }
    const QByteArray name = sinkName.toUtf8();
    await(pa_context_get_sink_info_by_name(
        context_, name.constData(),
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto* query = static_cast<Query*>(data);
            if (info && info->monitor_source_name) {
                query->monitor = QString::fromUtf8(info->monitor_source_name);
            }
            if (eol != 0) {
                query->connection->signal();
            }
        },
        &query));
    return query.monitor;
}

bool PulseConnection::isInputSource(const QString& sourceName) {
    struct Query {
        PulseConnection* connection;
        bool isInput = false;
    } query{this};
    if (sourceName.isEmpty()) {
        return false;
    }
    const QByteArray name = sourceName.toUtf8();
    await(pa_context_get_source_info_by_name(
        context_, name.constData(),
        [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* query = static_cast<Query*>(data);
            if (info) {
                query->isInput = info->monitor_of_sink == PA_INVALID_INDEX;
            }
            if (eol != 0) {
                query->connection->signal();
            }
        },
        &query));
    return query.isInput;
}

void PulseConnection::setOnContextLost(std::function<void(int)> onLost) {
    onLost_ = std::move(onLost);
}

void PulseConnection::setOnServerChanged(std::function<void()> onChanged) {
    onChanged_ = std::move(onChanged);
}

void PulseConnection::setOnSourceChanged(std::function<void(uint32_t)> onChanged) {
    onSourceChanged_ = std::move(onChanged);
}

void PulseConnection::onSubscription(pa_context*, pa_subscription_event_type_t type, uint32_t index, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER && connection->onChanged_) {
        connection->onChanged_();
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE &&
        (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE && connection->onSourceChanged_) {
        connection->onSourceChanged_(index);
    }
}

void PulseConnection::subscribeToServerChanges() {
    pa_context_set_subscribe_callback(context_, &PulseConnection::onSubscription, this);
    // A change of default is a server event; a device that goes away fails its stream instead.
    // Source events tell a microphone muted or turned down; sink events would wake us for nothing.
    auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE);
    pa_operation* operation = pa_context_subscribe(context_, mask, nullptr, nullptr);
    if (operation) {
        pa_operation_unref(operation);
    }
}

} // namespace Capture
