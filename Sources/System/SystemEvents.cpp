#include "SystemEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace System {

namespace {

const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNetworkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginManager = QStringLiteral("org.freedesktop.login1.Manager");
// NM_STATE_CONNECTED_GLOBAL: full connectivity.
constexpr uint kConnectedGlobal = 70;
// Below NM_STATE_DISCONNECTED (20) the state tells nothing (unknown, asleep).
constexpr uint kDisconnected = 20;

} // namespace

SystemEvents::SystemEvents(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    bus.connect(kNetworkManager, kNetworkManagerPath, kNetworkManager, QStringLiteral("StateChanged"), this,
                SLOT(onNetworkState(uint)));
    bus.connect(kLogin, kLoginPath, kLoginManager, QStringLiteral("PrepareForSleep"), this,
                SLOT(onPrepareForSleep(bool)));
    QDBusMessage ask =
        QDBusMessage::createMethodCall(kNetworkManager, kNetworkManagerPath,
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << kNetworkManager << QStringLiteral("State");
    isNetworkKnown_ = false;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        isNetworkKnown_ = true;
        if (!reply.isError()) {
            onNetworkState(reply.value().variant().toUInt());
        }
        emit onlineChanged();
    });
}

void SystemEvents::onNetworkState(uint state) {
    if (state < kDisconnected) {
        return;
    }
    const bool isOnline = state >= kConnectedGlobal;
    if (isOnline == isOnline_) {
        return;
    }
    isOnline_ = isOnline;
    emit onlineChanged();
    if (isOnline_) {
        emit connectivityRestored();
    }
}

void SystemEvents::onPrepareForSleep(bool isGoingToSleep) {
    if (isGoingToSleep) {
        emit aboutToSleep();
        lock_ = {};
        return;
    }
    // Taken again for the work that goes on after the wake-up.
    if (wantsLock_) {
        holdSleep(why_);
    }
    emit wokeUp();
}

void SystemEvents::holdSleep(const QString& why) {
    wantsLock_ = true;
    why_ = why;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (lock_.isValid() || !bus.isConnected()) {
        return;
    }
    QDBusMessage inhibit =
        QDBusMessage::createMethodCall(kLogin, kLoginPath, kLoginManager, QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("sleep") << QStringLiteral("Велмор") << why << QStringLiteral("delay");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(inhibit), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        // Released meanwhile: the answer's lock goes at once.
        if (!reply.isError() && wantsLock_) {
            lock_ = reply.value();
        }
    });
}

void SystemEvents::releaseSleep() {
    wantsLock_ = false;
    lock_ = {};
}

} // namespace System
