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

NotificationCenter::NotificationCenter(QObject* parent) : QObject(parent) {}

void NotificationCenter::post(const QString& identifier, const QString& title, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Without a bus a pending call never finishes; there is nothing to post to anyway.
    if (!bus.isConnected()) {
        return;
    }
    if (hasBodyMarkup_) {
        send(identifier, title, body, *hasBodyMarkup_);
        return;
    }
    // A server that renders markup would read "<" and "&" in a message as tags, so ask first.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, identifier, title, body](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                QDBusPendingReply<QStringList> reply = *w;
                if (reply.isError()) {
                    return; // no notification service
                }
                hasBodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
                send(identifier, title, body, *hasBodyMarkup_);
            });
}

void NotificationCenter::send(const QString& identifier, const QString& title, const QString& body,
                              bool escapeBody) {
    QDBusMessage message = call(QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral(VELMOR_APP_ID)},
                            {QStringLiteral("x-velmor-id"), identifier}};
    message << QStringLiteral("Велмор") << uint(0) << QStringLiteral(VELMOR_APP_ID) << title
            << (escapeBody ? body.toHtmlEscaped() : body) << QStringList() << hints << int(-1);
    // The answer (the server's own id, or an error) is of no use: send and forget.
    QDBusConnection::sessionBus().send(message);
}

} // namespace Notifications
