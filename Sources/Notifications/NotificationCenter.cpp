#include "NotificationCenter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace Notifications {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

} // namespace

NotificationCenter::NotificationCenter(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                    SLOT(onActionInvoked(uint, QString)));
    }
}

void NotificationCenter::post(const QString& identifier, const QString& title, const QString& body,
                              const QList<Action>& actions, const QString& withoutActions) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Without a bus a pending call never finishes; there is nothing to post to anyway.
    if (!bus.isConnected()) {
        return;
    }
    if (capabilities_) {
        send(identifier, title, body, actions, withoutActions);
        return;
    }
    // Whether it renders markup and shows buttons decides what is sent, so ask first.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier, title, body, actions, withoutActions](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                QDBusPendingReply<QStringList> reply = *w;
                if (reply.isError()) {
                    return; // no notification service
                }
                capabilities_ = reply.value();
                send(identifier, title, body, actions, withoutActions);
            });
}

void NotificationCenter::send(const QString& identifier, const QString& title, const QString& body,
                              const QList<Action>& actions, const QString& withoutActions) {
    const bool hasActions = capabilities_->contains(QStringLiteral("actions"));
    QString text = hasActions || withoutActions.isEmpty() ? body : body + QStringLiteral(" ") + withoutActions;
    // A server that renders markup would read "<" and "&" in a message as tags.
    if (capabilities_->contains(QStringLiteral("body-markup"))) {
        text = text.toHtmlEscaped();
    }
    QStringList pairs;
    for (const Action& action : hasActions ? actions : QList<Action>()) {
        pairs << identifier + QLatin1Char('/') + action.key << action.label;
    }
    if (!pairs.isEmpty()) {
        withActions_.insert(identifier);
    }
    QDBusMessage message = call(QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral(VELMOR_APP_ID)},
                            {QStringLiteral("x-velmor-id"), identifier}};
    message << QStringLiteral("Велмор") << uint(0) << QStringLiteral(VELMOR_APP_ID) << title << text << pairs
            << hints << int(-1);
    // The answer (the server's own id, or an error) is of no use: send and forget.
    QDBusConnection::sessionBus().send(message);
}

void NotificationCenter::onActionInvoked(uint, const QString& key) {
    const qsizetype slash = key.lastIndexOf(QLatin1Char('/'));
    const QString identifier = key.left(slash);
    if (slash > 0 && withActions_.contains(identifier)) {
        emit actionInvoked(identifier, key.mid(slash + 1));
    }
}

} // namespace Notifications
