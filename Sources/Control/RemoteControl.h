// The recorder driven from outside the panel: a command line that reaches the running instance,
// the desktop entry's actions, and the D-Bus object app.velmor.Velmor.Recorder on the session bus
// (methods Start, StopAndSend and Toggle; the property State, announced by PropertiesChanged).
#pragma once

#include "Recorder.h"

#include <QDBusContext>
#include <QObject>
#include <QString>

namespace Preferences {
class Settings;
}

class RemoteControl : public QObject, protected QDBusContext {
    Q_OBJECT

public:
    // Both outlive it.
    RemoteControl(Recorder& recorder, Preferences::Settings& settings, QObject* parent = nullptr);
    ~RemoteControl() override;

    // Registers the object and takes the service name on the session bus; false when there is no
    // bus, or the name is another's.
    bool registerOnSessionBus();

    // Each acts when it can, else says why it cannot act now (for the user); empty when it acted.
    QString start();
    QString stopAndSend();
    QString toggle();

    // "idle", "starting", "recording", "stopping" or "sending".
    static QString stateName(Phase phase);
    QString state() const { return stateName(recorder_.phase()); }

    static constexpr const char* kService = "app.velmor.Velmor";
    static constexpr const char* kPath = "/app/velmor/Velmor";
    static constexpr const char* kInterface = "app.velmor.Velmor.Recorder";

private:
    friend class RecorderAdaptor;
    // From the bus: acts, or answers the call with an error that says why not.
    void answer(const QString& refusal);
    void announceState();

    Recorder& recorder_;
    Preferences::Settings& settings_;
    QString announcedState_;
    bool isRegistered_ = false;
};
