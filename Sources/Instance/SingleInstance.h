// One running instance per user. A lock decides who runs: it is held in a directory beside the
// settings that only this user can write, so every launch of the user finds the same one whatever
// its environment ($XDG_RUNTIME_DIR, $TMPDIR), and no other user can block or reach it. The kernel
// drops the lock when the process ends, crash or not. The socket beside it carries one command
// from a later launch: show the panel, start, stop and send, or toggle the recording.
#pragma once

#include <QLocalServer>
#include <QObject>

class QLocalSocket;

namespace Instance {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString directory = userDirectory(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // "velmor/instance" in the user's configuration directory.
    static QString userDirectory();
    // What a launch can ask of the running instance.
    static bool isCommand(const QByteArray& command);

    // True when this process is the one instance from now on: it holds the lock and listens for
    // later launches. False when another instance runs: it has been handed `command` ("show",
    // "start", "stop" or "toggle"). Whatever else lies at the paths it uses (a stale socket, a
    // file or directory in their place) is cleared away, never obeyed. Called once.
    bool claim(const QByteArray& command = "show");

signals:
    // A later launch's command; nothing else that arrives is taken.
    void commandReceived(const QByteArray& command);

private:
    // The directory, private to this user, opened; -1 when it cannot be made so.
    int openPrivateDirectory();
    bool takeLock();
    // Hands the running instance the command, waiting a little for one that is starting; false
    // when none answered.
    bool handOver(const QByteArray& command);
    void read(QLocalSocket* socket);
    QString socketPath() const;

    QString directory_;
    int directoryFd_ = -1;
    int lockFd_ = -1;
    QLocalServer server_;
};

} // namespace Instance
