// A connection to the audio server: a threaded main loop and a context, connected without
// spawning a server. Every call that touches the context holds the loop's lock (Lock).
#pragma once

#include <QString>
#include <functional>
#include <pulse/pulseaudio.h>

namespace Capture {

class PulseConnection {
public:
    // Connects and waits (bounded) until the context is ready; throws CaptureError.
    explicit PulseConnection(const char* applicationName);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    class Lock {
    public:
        explicit Lock(const PulseConnection& connection) : loop_(connection.loop_) {
            pa_threaded_mainloop_lock(loop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    // With the lock held: runs an operation started by `begin` and waits (bounded) for it to end.
    // The operation's callbacks must call signal() when done.
    void await(pa_operation* operation);
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }
    // With the lock held: waits until `isDone` holds; false when the bound ran out or the
    // context failed first.
    bool waitFor(const std::function<bool()>& isDone);

    struct ServerInfo {
        QString defaultSinkName;
        QString defaultSourceName;
    };
    // With the lock held. Throws CaptureError.
    ServerInfo serverInfo();
    // The monitor source of a sink, or empty if the sink is gone.
    QString monitorOfSink(const QString& sinkName);
    // Whether the source exists and is a real input, not the monitor of a sink.
    bool isInputSource(const QString& sourceName);

    // Called on the loop's thread when the context fails or is terminated by the server.
    void setOnContextLost(std::function<void(int error)> onLost);
    // Called on the loop's thread on every change of the server's defaults.
    void setOnServerChanged(std::function<void()> onChanged);
    // Called on the loop's thread when a source changes (its mute or volume among others).
    void setOnSourceChanged(std::function<void(uint32_t index)> onChanged);
    void subscribeToServerChanges();

    // Stops the loop's thread; afterwards no callback runs. Not from the loop's thread.
    void stop();

private:
    void connect();
    void release();
    static void onContextState(pa_context* context, void* self);
    static void onSubscription(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool isStopped_ = false;
    bool wasReady_ = false;
    std::function<void(int)> onLost_;
    std::function<void()> onChanged_;
    std::function<void(uint32_t)> onSourceChanged_;
};

} // namespace Capture
