// What the machine tells on the system bus: the network's connectivity (NetworkManager) and
// sleep (logind), and a delay lock on sleep while work is under way. A machine without either
// service on the bus is taken to be online, and simply has no lock.
#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

namespace System {

class SystemEvents : public QObject {
    Q_OBJECT

public:
    explicit SystemEvents(QObject* parent = nullptr);

    // False only while NetworkManager says there is no full connectivity.
    bool isOnline() const { return isOnline_; }
    // Whether NetworkManager has answered (or is not there): until then isOnline() is a guess.
    bool isNetworkKnown() const { return isNetworkKnown_; }

    // Asks logind to delay sleep until released, saying why ("Идёт запись встречи"); a lock held
    // already is kept. Asynchronous: held once logind has answered.
    void holdSleep(const QString& why);
    void releaseSleep();
    bool isHoldingSleep() const { return lock_.isValid(); }

signals:
    // Full connectivity again, after a time without it.
    void connectivityRestored();
    // The network's state changed, or became known.
    void onlineChanged();
    // The machine is about to sleep (the lock, if any, is released after this), and woke up.
    void aboutToSleep();
    void wokeUp();

private slots:
    void onNetworkState(uint state);
    void onPrepareForSleep(bool isGoingToSleep);

private:
    bool isOnline_ = true;
    bool isNetworkKnown_ = true;
    bool wantsLock_ = false;
    QString why_;
    QDBusUnixFileDescriptor lock_;
};

} // namespace System
