// What a call does, as the user chose in the settings: nothing, a suggestion to record (and,
// when the recording runs on after the call, to stop and send), or a recording that starts and
// ends with the call. A recording the user started is never stopped by a call's end.
#pragma once

#include "NotificationCenter.h"

#include <QCoroTask>
#include <QObject>

class CallWatch;
class Recorder;
namespace Preferences {
class Settings;
}

class CallResponder : public QObject {
    Q_OBJECT

public:
    // All three outlive it.
    CallResponder(Recorder& recorder, Preferences::Settings& settings, CallWatch& watch,
                  QObject* parent = nullptr);

private:
    void onStarted(const QString& application);
    void onEnded(const QString& application);
    void onAction(const QString& key);
    QCoro::Task<> recordCall(QString application);
    void stopAndSend();

    Recorder& recorder_;
    Preferences::Settings& settings_;
    Notifications::NotificationCenter notifications_;
    // The recording under way was started by a call, not by the user.
    bool isCallsRecording_ = false;
    int calls_ = 0;
};
