// Posts desktop notifications without ever waiting: no bus, no notification service, a refusal
// or an error reply all leave the caller untouched, and the notification simply does not appear.
#pragma once

#include <QObject>
#include <QString>
#include <optional>

namespace Notifications {

class NotificationCenter : public QObject {
    Q_OBJECT

public:
    explicit NotificationCenter(QObject* parent = nullptr);

    // Shown at once, never replacing another. `identifier` travels as the hint "x-velmor-id".
    void post(const QString& identifier, const QString& title, const QString& body);

private:
    void send(const QString& identifier, const QString& title, const QString& body, bool escapeBody);

    // Whether the server renders markup in bodies, learnt from its first answer.
    std::optional<bool> hasBodyMarkup_;
};

} // namespace Notifications
