#include "CallResponder.h"

#include "CallWatch.h"
#include "Recorder.h"
#include "Settings.h"

using Preferences::CallAction;

CallResponder::CallResponder(Recorder& recorder, Preferences::Settings& settings, CallWatch& watch,
                             QObject* parent)
    : QObject(parent), recorder_(recorder), settings_(settings) {
    connect(&watch, &CallWatch::started, this, &CallResponder::onStarted);
    connect(&watch, &CallWatch::ended, this, &CallResponder::onEnded);
    connect(&notifications_, &Notifications::NotificationCenter::actionInvoked, this,
            [this](const QString&, const QString& key) { onAction(key); });
    // Read after the store that follows the announcement: a recording that ended, or never
    // started, is no longer the call's.
    connect(
        &recorder_, &Recorder::objectWillChange, this,
        [this] {
            if (recorder_.phase() != Phase::starting && recorder_.phase() != Phase::recording) {
                isCallsRecording_ = false;
            }
        },
        Qt::QueuedConnection);
}

void CallResponder::onStarted(const QString& application) {
    ++calls_;
    const CallAction action = settings_.callAction();
    if (action == CallAction::nothing || recorder_.phase() != Phase::idle) {
        return;
    }
    if (action == CallAction::record) {
        recordCall(application);
        return;
    }
    notifications_.post(QStringLiteral("call-start-%1").arg(calls_), QStringLiteral("Похоже, идёт звонок"),
                        application + QStringLiteral(" — записать встречу?"),
                        {{QStringLiteral("record"), QStringLiteral("Записать")}},
                        QStringLiteral("Начать запись можно в меню значка Велмора."));
}

void CallResponder::onEnded(const QString&) {
    if (recorder_.phase() != Phase::recording || settings_.callAction() == CallAction::nothing) {
        return;
    }
    if (isCallsRecording_ && settings_.callAction() == CallAction::record) {
        stopAndSend();
        return;
    }
    notifications_.post(QStringLiteral("call-end-%1").arg(calls_), QStringLiteral("Звонок закончился"),
                        QStringLiteral("Остановить запись и отправить?"),
                        {{QStringLiteral("stop"), QStringLiteral("Остановить и отправить")}},
                        QStringLiteral("Остановить запись можно в меню значка Велмора."));
}

void CallResponder::onAction(const QString& key) {
    if (key == QLatin1String("record") && recorder_.phase() == Phase::idle) {
        // Chosen by the user: a recording of theirs, which a call's end never stops.
        recorder_.start();
    } else if (key == QLatin1String("stop")) {
        stopAndSend();
    }
}

QCoro::Task<> CallResponder::recordCall(QString application) {
    isCallsRecording_ = true;
    QCoro::Task<> starting = recorder_.start();
    co_await starting;
    if (recorder_.phase() == Phase::recording && isCallsRecording_) {
        notifications_.post(QStringLiteral("call-recording-%1").arg(calls_), QStringLiteral("Запись началась"),
                            application +
                                QStringLiteral(": звонок записывается. Остановить можно из меню значка."));
    }
}

void CallResponder::stopAndSend() {
    if (recorder_.phase() == Phase::recording) {
        // Nothing awaits the task; the workflow itself catches every failure.
        recorder_.stopAndSend(settings_.serverURL(), settings_.apiKey());
    }
}
