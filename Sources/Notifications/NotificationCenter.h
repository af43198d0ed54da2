// Posts desktop notifications without ever waiting: no bus, no notification service, a refusal
// or an error reply all leave the caller untouched, and the notification simply does not appear.
#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace Notifications {

class NotificationCenter : public QObject {
    Q_OBJECT

public:
    explicit NotificationCenter(QObject* parent = nullptr);

    struct Action {
        QString key;
        QString label;
    };

    // Shown at once, never replacing another. `identifier` travels as the hint "x-velmor-id".
    // A server that shows no buttons gets `withoutActions` added to the body instead of `actions`.
    void post(const QString& identifier, const QString& title, const QString& body,
              const QList<Action>& actions = {}, const QString& withoutActions = {});

signals:
    // The user chose an action of a notification this center posted.
    void actionInvoked(const QString& identifier, const QString& key);

private slots:
    void onActionInvoked(uint id, const QString& key);

private:
    void send(const QString& identifier, const QString& title, const QString& body, const QList<Action>& actions,
              const QString& withoutActions);

    // What the server can do ("body-markup", "actions"), learnt from its first answer.
    std::optional<QStringList> capabilities_;
    // The notifications posted with actions: their actions' keys carry the identifier
    // ("<identifier>/<key>"), so no reply of the server needs to be awaited to know them again.
    QSet<QString> withActions_;
};

} // namespace Notifications
