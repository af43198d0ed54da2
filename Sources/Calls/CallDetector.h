// Which of the other applications' streams make a call, judged over time. A call is an
// application recording from a real microphone (no monitor, no stream of ours or of a server
// module) for at least 5 s, when it is a known call client or plays sound at the same time: a
// browser that only records is taking a voice message or dictation. A call whose recording comes
// back within 15 s (a device switch, a reconnect) is the same call. No clock of its own: every
// judgement is given the time.
#pragma once

#include "AudioClients.h"

#include <QString>
#include <map>
#include <optional>
#include <vector>

class CallDetector {
public:
    static constexpr qint64 kStartMs = 5000;
    static constexpr qint64 kEndMs = 10000;
    static constexpr qint64 kSameCallMs = 15000;

    struct Event {
        enum class Kind { started, ended };
        Kind kind;
        QString application; // a human name: "Zoom", "Firefox"
        bool operator==(const Event&) const = default;
    };

    // The streams as the server lists them now.
    std::vector<Event> update(std::vector<Capture::ClientStream> streams, qint64 nowMs);
    // The same streams, later.
    std::vector<Event> advance(qint64 nowMs);

    // The call under way (started, its recording not gone for 10 s), by its application's name.
    std::optional<QString> call() const;
    // The streams as last listed.
    const std::vector<Capture::ClientStream>& streams() const { return streams_; }
    // Whether a judgement waits for time to pass: a capture not yet 5 s long, a call's recording gone.
    bool isWaiting() const;

    // The name a user knows an application by; known call clients by their product's name.
    static QString applicationName(const Capture::ClientStream& stream);
    static bool isCallClient(const Capture::ClientStream& stream);

private:
    struct Tracked {
        QString application;
        std::optional<qint64> candidateSinceMs; // qualifies since, before the call started
        bool isStarted = false;
        bool isEndTold = false;
        qint64 lastRecordedMs = 0;
    };
    std::vector<Capture::ClientStream> streams_;
    qint64 nowMs_ = 0;
    std::map<QString, Tracked> tracked_; // by application
};
