#include "Retries.h"

#include "Clock.h"
#include "Recorder.h"
#include "Settings.h"
#include "SystemEvents.h"

#include <algorithm>

namespace {

qint64 nowMs() {
    return Dispatch::Clock::current().monotonicMs();
}

} // namespace

qint64 Retries::delayMs(int failures, int retryAfterSeconds) {
    if (retryAfterSeconds > 0) {
        return std::clamp(retryAfterSeconds, 1, 900) * qint64(1000);
    }
    constexpr qint64 kSeconds[] = {30, 60, 120, 300, 600, 900};
    return kSeconds[std::clamp(failures - 1, 0, int(std::size(kSeconds)) - 1)] * 1000;
}

Retries::Retries(Recorder& recorder, Preferences::Settings& settings, System::SystemEvents& system,
                 QObject* parent)
    : QObject(parent), recorder_(recorder), settings_(settings), system_(system) {
    // Queued: handled once the workflow has put the recording back among the saved ones.
    connect(&recorder_, &Recorder::sendEnded, this, &Retries::onSendEnded, Qt::QueuedConnection);
    connect(
        &recorder_, &Recorder::objectWillChange, this,
        [this] {
            // What an earlier run left to try again, once the saved recordings are found.
            if (!hasLookedAtStart_ && recorder_.hasRetries()) {
                hasLookedAtStart_ = true;
                dueIn(0);
            }
            holdSleep();
        },
        Qt::QueuedConnection);
    connect(&system_, &System::SystemEvents::connectivityRestored, this, [this] {
        if (dueMs_) {
            dueIn(0);
        }
    });
    connect(&system_, &System::SystemEvents::onlineChanged, this, [this] {
        tell();
        look();
    });
    // Before the lock goes: nothing recorded before the sleep may be lost to a machine that never wakes.
    connect(&system_, &System::SystemEvents::aboutToSleep, this, [this] { recorder_.capture().syncWorkFiles(); });
    connect(&system_, &System::SystemEvents::wokeUp, this, [this] {
        if (dueMs_) {
            dueIn(kWakeDelayMs);
        }
    });
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &Retries::look);
    connect(&Dispatch::Clock::current(), &Dispatch::Clock::moved, this, &Retries::look);
    // The saved recordings may have been found already (a quick look ends without a pause).
    if (recorder_.hasRetries()) {
        hasLookedAtStart_ = true;
        dueIn(0);
    }
}

void Retries::onSendEnded(bool isSent, bool isPassing, int retryAfterSeconds) {
    hasLookedAtStart_ = true;
    if (isPassing) {
        dueIn(delayMs(++failures_, retryAfterSeconds));
        return;
    }
    if (isSent) {
        failures_ = 0;
    }
    // The next one waiting goes after a success at once; after a failure that does not pass,
    // when its own time comes.
    if (isSent && recorder_.hasRetries()) {
        dueIn(0);
    } else if (recorder_.hasRetries()) {
        dueIn(delayMs(std::max(failures_, 1), 0));
    } else {
        dueMs_.reset();
        tell();
    }
}

void Retries::dueIn(qint64 ms) {
    dueMs_ = nowMs() + ms;
    tick_.start();
    tell();
    look();
}

void Retries::look() {
    // Not before NetworkManager has said whether there is a network: a try then may be wasted.
    if (!dueMs_ || nowMs() < *dueMs_ || !system_.isNetworkKnown() || !system_.isOnline() ||
        recorder_.phase() != Phase::idle) {
        return;
    }
    dueMs_.reset();
    tick_.stop();
    tell();
    if (recorder_.hasRetries()) {
        // Nothing awaits the task; the workflow itself catches every failure.
        recorder_.retrySaved(settings_.serverURL(), settings_.apiKey());
    }
}

void Retries::tell() {
    QString note;
    if (dueMs_ && !system_.isOnline()) {
        note = QStringLiteral("Отправим снова автоматически при появлении сети");
    } else if (dueMs_) {
        const QDateTime at = Dispatch::Clock::current().now().addMSecs(std::max<qint64>(0, *dueMs_ - nowMs()));
        note =
            QStringLiteral("Отправим снова автоматически в ") + at.toLocalTime().toString(QStringLiteral("HH:mm"));
    }
    if (note != recorder_.retryNote()) {
        recorder_.retryNote = note;
    }
}

void Retries::holdSleep() {
    switch (recorder_.phase()) {
    case Phase::idle:
        system_.releaseSleep();
        break;
    case Phase::sending:
        system_.holdSleep(QStringLiteral("Отправка записи"));
        break;
    default:
        system_.holdSleep(QStringLiteral("Идёт запись встречи"));
        break;
    }
}
