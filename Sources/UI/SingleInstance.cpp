#include "SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <unistd.h>

namespace UI {

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent), name_(name) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            socket->deleteLater();
            emit showRequested();
        }
    });
}

QString SingleInstance::userSocketPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) {
        return QDir(runtime).filePath(QStringLiteral(VELMOR_APP_ID ".socket"));
    }
    return QStringLiteral("/tmp/velmor-%1.socket").arg(::getuid());
}

bool SingleInstance::askRunningInstanceToShow() {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(1000)) {
        return false;
    }
    socket.write("show\n");
    socket.waitForBytesWritten(1000);
    return true;
}

void SingleInstance::listen() {
    // A socket left by a crashed instance would keep us from listening.
    QLocalServer::removeServer(name_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(name_);
}

} // namespace UI
