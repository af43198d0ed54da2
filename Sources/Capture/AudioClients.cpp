#include "AudioClients.h"

#include "PulseConnection.h"

#include <set>
#include <unistd.h>

namespace Capture {

struct AudioClients::Listing {
    bool isRunning = false;
    bool isAgain = false;
    std::set<uint32_t> monitors;
    std::vector<ClientStream> streams;

    static void onSource(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void onOutput(pa_context* context, const pa_source_output_info* info, int eol, void* self);
    static void onSink(pa_context* context, const pa_sink_input_info* info, int eol, void* self);
};

namespace {

QString property(const pa_proplist* properties, const char* key) {
    const char* value = pa_proplist_gets(properties, key);
    return value ? QString::fromUtf8(value) : QString();
}

ClientStream describe(const pa_proplist* properties, uint32_t client, bool isCorked) {
    ClientStream stream;
    stream.applicationName = property(properties, PA_PROP_APPLICATION_NAME);
    stream.applicationId = property(properties, PA_PROP_APPLICATION_ID);
    stream.binary = property(properties, PA_PROP_APPLICATION_PROCESS_BINARY);
    stream.sandboxId = property(properties, "pipewire.access.portal.app_id");
    stream.mediaRole = property(properties, PA_PROP_MEDIA_ROLE);
    stream.isOurs = property(properties, PA_PROP_APPLICATION_PROCESS_ID) == QString::number(::getpid());
    // A module's stream (a loopback, an echo canceller) has no client; the owner module tells
    // nothing, PulseAudio names its protocol module as the owner of every client's stream.
    stream.isFromModule = client == PA_INVALID_INDEX;
    stream.isCorked = isCorked;
    return stream;
}

} // namespace

AudioClients::AudioClients(std::function<void(std::vector<ClientStream>)> onChange, std::function<void()> onLost)
    : onChange_(std::move(onChange)), onLost_(std::move(onLost)), listing_(std::make_unique<Listing>()) {}

AudioClients::~AudioClients() {
    // No callback runs once the loop has stopped; only then may the listing go.
    if (connection_) {
        connection_->stop();
    }
}

void AudioClients::start() {
    connection_ = std::make_unique<PulseConnection>("Velmor");
    connection_->setOnContextLost([this](int) { onLost_(); });
    PulseConnection::Lock lock(*connection_);
    pa_context_set_subscribe_callback(
        connection_->context(),
        [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
            static_cast<AudioClients*>(self)->list();
        },
        this);
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT |
                                             PA_SUBSCRIPTION_MASK_SINK_INPUT);
    if (pa_operation* operation = pa_context_subscribe(connection_->context(), mask, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    list();
}

void AudioClients::list() {
    Listing& listing = *listing_;
    if (listing.isRunning) {
        listing.isAgain = true;
        return;
    }
    listing = Listing{true, false, {}, {}};
    pa_context* context = connection_->context();
    if (pa_operation* first = pa_context_get_source_info_list(context, &Listing::onSource, this)) {
        pa_operation_unref(first);
    } else {
        listing.isRunning = false;
    }
}

void AudioClients::Listing::onSink(pa_context*, const pa_sink_input_info* info, int eol, void* data) {
    auto* self = static_cast<AudioClients*>(data);
    if (info) {
        self->listing_->streams.push_back(describe(info->proplist, info->client, info->corked != 0));
        return;
    }
    Listing& done = *self->listing_;
    done.isRunning = false;
    // A failed listing (eol < 0) tells nothing: the next change lists again.
    if (eol > 0) {
        self->onChange_(done.streams);
    }
    if (done.isAgain) {
        self->list();
    }
}

void AudioClients::Listing::onOutput(pa_context* c, const pa_source_output_info* info, int, void* data) {
    auto* self = static_cast<AudioClients*>(data);
    if (info) {
        ClientStream stream = describe(info->proplist, info->client, info->corked != 0);
        stream.isRecording = true;
        stream.isFromMonitor = self->listing_->monitors.count(info->source) > 0;
        self->listing_->streams.push_back(stream);
        return;
    }
    if (pa_operation* next = pa_context_get_sink_input_info_list(c, &Listing::onSink, self)) {
        pa_operation_unref(next);
    } else {
        self->listing_->isRunning = false;
    }
}

void AudioClients::Listing::onSource(pa_context* c, const pa_source_info* info, int, void* data) {
    auto* self = static_cast<AudioClients*>(data);
    if (info) {
        if (info->monitor_of_sink != PA_INVALID_INDEX) {
            self->listing_->monitors.insert(info->index);
        }
        return;
    }
    if (pa_operation* next = pa_context_get_source_output_info_list(c, &Listing::onOutput, self)) {
        pa_operation_unref(next);
    } else {
        self->listing_->isRunning = false;
    }
}

} // namespace Capture
