// Sends again by itself what failed for a reason that passes (no network, the server down or
// busy): backing off from 30 s to every 15 min, or after the server's Retry-After; at once when
// the network comes back, 5 s after a wake-up, and at start for what waits from an earlier run.
// One recording at a time, oldest first, never beside a recording or another send. It also holds
// sleep off while a recording is made or sent.
#pragma once

#include <QObject>
#include <QTimer>
#include <optional>

class Recorder;
namespace Preferences {
class Settings;
}
namespace System {
class SystemEvents;
}

class Retries : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kWakeDelayMs = 5000;
    // The wait before the next try after `failures` failed tries in a row: the server's
    // Retry-After when it gave one (bounded to 1 to 900 s), else 30 s, 1, 2, 5, 10, then 15 min.
    static qint64 delayMs(int failures, int retryAfterSeconds);

    // All three outlive it.
    Retries(Recorder& recorder, Preferences::Settings& settings, System::SystemEvents& system,
            QObject* parent = nullptr);

private:
    void onSendEnded(bool isSent, bool isPassing, int retryAfterSeconds);
    void dueIn(qint64 ms);
    void look();
    void tell();
    void holdSleep();

    Recorder& recorder_;
    Preferences::Settings& settings_;
    System::SystemEvents& system_;
    int failures_ = 0;
    bool hasLookedAtStart_ = false;
    std::optional<qint64> dueMs_;
    QTimer tick_;
};
