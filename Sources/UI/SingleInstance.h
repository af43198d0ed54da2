// One running instance per user: a second start asks the first to show its panel and ends.
#pragma once

#include <QLocalServer>
#include <QObject>

namespace UI {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    // True when another instance answered; it has been asked to show itself.
    bool askRunningInstanceToShow();
    // Starts listening for later instances.
    void listen();

signals:
    void showRequested();

private:
    QString name_;
    QLocalServer server_;
};

} // namespace UI
