#include "CallDetector.h"

#include <QRegularExpression>
#include <set>

namespace {

struct KnownClient {
    const char* word; // a word of its binary, name or id
    const char* name;
};
// Words, not substrings: "element" must not match "elements".
constexpr KnownClient kCallClients[] = {
    {"zoom", "Zoom"},
    {"teams", "Microsoft Teams"},
    {"skype", "Skype"},
    {"skypeforlinux", "Skype"},
    {"slack", "Slack"},
    {"discord", "Discord"},
    {"telegram", "Telegram"},
    {"webex", "Webex"},
    {"element", "Element"},
    {"riot", "Element"},
    {"signal", "Signal"},
    {"jitsi", "Jitsi Meet"},
    {"mumble", "Mumble"},
    {"linphone", "Linphone"},
    {"jami", "Jami"},
    {"whatsapp", "WhatsApp"},
    {"viber", "Viber"},
    {"wire", "Wire"},
    {"rocketchat", "Rocket.Chat"},
};

std::optional<QString> knownClient(const Capture::ClientStream& stream) {
    static const QRegularExpression nonWord(QStringLiteral("[^a-z0-9]+"));
    for (const QString& label : {stream.sandboxId, stream.binary, stream.applicationId, stream.applicationName}) {
        const QStringList words = label.toLower().split(nonWord, Qt::SkipEmptyParts);
        for (const KnownClient& client : kCallClients) {
            if (words.contains(QLatin1String(client.word))) {
                return QString::fromUtf8(client.name);
            }
        }
    }
    return std::nullopt;
}

// One application, whichever of its processes made the stream.
QString applicationKey(const Capture::ClientStream& stream) {
    for (const QString& label : {stream.sandboxId, stream.binary, stream.applicationId, stream.applicationName}) {
        if (!label.isEmpty()) {
            return label.toLower();
        }
    }
    return {};
}

bool isMicrophoneCapture(const Capture::ClientStream& stream) {
    return stream.isRecording && !stream.isOurs && !stream.isFromMonitor && !stream.isFromModule &&
           !stream.isCorked;
}

} // namespace

bool CallDetector::isCallClient(const Capture::ClientStream& stream) {
    return stream.mediaRole == QLatin1String("phone") || knownClient(stream).has_value();
}

QString CallDetector::applicationName(const Capture::ClientStream& stream) {
    if (const std::optional<QString> known = knownClient(stream)) {
        return *known;
    }
    for (const QString& label : {stream.applicationName, stream.binary, stream.applicationId}) {
        if (!label.isEmpty()) {
            return label.left(1).toUpper() + label.mid(1);
        }
    }
    return QStringLiteral("Неизвестное приложение");
}

std::vector<CallDetector::Event> CallDetector::update(std::vector<Capture::ClientStream> streams, qint64 nowMs) {
    streams_ = std::move(streams);
    return advance(nowMs);
}

std::vector<CallDetector::Event> CallDetector::advance(qint64 nowMs) {
    nowMs_ = nowMs;
    std::map<QString, QString> recording; // application key -> name, for every microphone capture
    std::set<QString> playing;
    std::set<QString> clients;
    for (const Capture::ClientStream& stream : streams_) {
        const QString key = applicationKey(stream);
        if (isMicrophoneCapture(stream)) {
            recording.emplace(key, applicationName(stream));
            if (isCallClient(stream)) {
                clients.insert(key);
            }
        } else if (!stream.isRecording && !stream.isOurs && !stream.isCorked) {
            playing.insert(key);
        }
    }
    for (const auto& [key, name] : recording) {
        tracked_.try_emplace(key, Tracked{name, std::nullopt, false, false, nowMs});
    }
    std::vector<Event> events;
    for (auto it = tracked_.begin(); it != tracked_.end();) {
        Tracked& call = it->second;
        const bool records = recording.count(it->first) > 0;
        if (records) {
            call.lastRecordedMs = nowMs;
        }
        if (!call.isStarted) {
            const bool qualifies = records && (clients.count(it->first) > 0 || playing.count(it->first) > 0);
            if (!qualifies) {
                it = tracked_.erase(it);
                continue;
            }
            call.candidateSinceMs = call.candidateSinceMs.value_or(nowMs);
            if (nowMs - *call.candidateSinceMs >= kStartMs) {
                call.isStarted = true;
                events.push_back({Event::Kind::started, call.application});
            }
        } else if (!records) {
            // One call gives one end: a recording that comes back and goes again is told no more.
            const qint64 goneMs = nowMs - call.lastRecordedMs;
            if (goneMs >= kEndMs && !call.isEndTold) {
                call.isEndTold = true;
                events.push_back({Event::Kind::ended, call.application});
            }
            if (goneMs >= kSameCallMs) {
                it = tracked_.erase(it);
                continue;
            }
        }
        ++it;
    }
    return events;
}

std::optional<QString> CallDetector::call() const {
    for (const auto& [key, call] : tracked_) {
        if (call.isStarted && nowMs_ - call.lastRecordedMs < kEndMs) {
            return call.application;
        }
    }
    return std::nullopt;
}

bool CallDetector::isWaiting() const {
    return !tracked_.empty();
}
