// One running instance per user: a second start asks the first to show its panel and ends.
#pragma once

#include <QLocalServer>
#include <QObject>

namespace UI {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    // One per user, whatever $TMPDIR says: in $XDG_RUNTIME_DIR, else in /tmp under the user's id.
    static QString userSocketPath();
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
