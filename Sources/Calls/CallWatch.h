// Calls noticed from the audio server, as they start and end: the other applications' streams
// followed on a connection of its own, judged on the app's clock. It follows the server again
// when the server comes back.
#pragma once

#include "CallDetector.h"

#include <QObject>
#include <QTimer>
#include <memory>

class CallWatch : public QObject {
    Q_OBJECT

public:
    explicit CallWatch(QObject* parent = nullptr);
    ~CallWatch() override;

    // Starts following; while the server cannot be reached it tries again every few seconds.
    void start();

    // The call under way, by its application's name.
    std::optional<QString> call() const { return detector_.call(); }
    // The other applications' streams as the server listed them last.
    const std::vector<Capture::ClientStream>& streams() const { return detector_.streams(); }
    // Whether a capture or a call is being timed (a judgement will come as time passes).
    bool isWaiting() const { return detector_.isWaiting(); }

signals:
    void started(const QString& application);
    void ended(const QString& application);
    // call() may have changed.
    void changed();

private:
    void connectToServer();
    void take(std::vector<Capture::ClientStream> streams);
    void look();
    void tell(const std::vector<CallDetector::Event>& events);

    static constexpr int kReconnectMs = 5000;
    CallDetector detector_;
    std::unique_ptr<Capture::AudioClients> clients_;
    QTimer tick_;
    QTimer reconnect_;
    std::optional<QString> toldCall_;
};
