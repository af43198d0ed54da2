#include "SingleInstance.h"

#include "Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Instance {

namespace {

const char* const kLockFile = "lock";
const char* const kSocketFile = "socket";

bool isPrivateDirectory(const struct stat& status) {
    return S_ISDIR(status.st_mode) && status.st_uid == ::getuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Clears a name inside the private directory, whatever it is. Only this user can have put it
// there, so a directory by that name may be removed with all it holds.
void clear(int directoryFd, const QString& directory, const char* name) {
    if (::unlinkat(directoryFd, name, 0) != 0 && errno == EISDIR) {
        QDir(QDir(directory).filePath(QString::fromLatin1(name))).removeRecursively();
    }
}

} // namespace

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent), directory_(QDir::cleanPath(directory)) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            read(socket);
        }
    });
}

bool SingleInstance::isCommand(const QByteArray& command) {
    return command == "show" || command == "start" || command == "stop" || command == "toggle";
}

void SingleInstance::read(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        // One short line is all a launch sends: anything longer is not ours.
        if (socket->bytesAvailable() > 64) {
            socket->abort();
        }
        return;
    }
    const QByteArray command = socket->readLine(64).trimmed();
    socket->disconnectFromServer();
    if (isCommand(command)) {
        emit commandReceived(command);
    }
}

SingleInstance::~SingleInstance() {
    server_.close();
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
    if (directoryFd_ >= 0) {
        ::close(directoryFd_);
    }
}

QString SingleInstance::userDirectory() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("velmor/instance"));
}

QString SingleInstance::socketPath() const {
    return QDir(directory_).filePath(QString::fromLatin1(kSocketFile));
}

int SingleInstance::openPrivateDirectory() {
    const QByteArray native = QFile::encodeName(directory_);
    QDir().mkpath(QFileInfo(directory_).absolutePath());
    struct stat status = {};
    if (::lstat(native.constData(), &status) == 0 && !isPrivateDirectory(status)) {
        if (S_ISDIR(status.st_mode) && status.st_uid == ::getuid()) {
            ::chmod(native.constData(), S_IRWXU);
        } else {
            // A link, a file, or someone else's directory in its place is moved aside, not used.
            const QByteArray aside = native + ".stale-" + QByteArray::number(QDateTime::currentMSecsSinceEpoch());
            ::rename(native.constData(), aside.constData());
        }
    }
    ::mkdir(native.constData(), S_IRWXU);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &status) != 0 || !isPrivateDirectory(status)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

bool SingleInstance::claim(const QByteArray& command) {
    directoryFd_ = openPrivateDirectory();
    if (directoryFd_ < 0) {
        // Nowhere to keep a lock: running is better than refusing to record.
        qCWarning(lcVelmor, "%s cannot be made private to this user; not guarding against a second instance",
                  qPrintable(directory_));
        return true;
    }
    // An instance killed a moment ago holds the lock until the system has ended it: when none
    // answers, the lock is tried once more.
    if (!takeLock() && (handOver(command) || !takeLock())) {
        return false;
    }
    // A socket left by an instance that crashed, or anything else by that name.
    clear(directoryFd_, directory_, kSocketFile);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(socketPath())) {
        qCWarning(lcVelmor, "cannot listen at %s: %s", qPrintable(socketPath()),
                  qPrintable(server_.errorString()));
    }
    return true;
}

bool SingleInstance::takeLock() {
    for (int attempt = 0; attempt < 2 && lockFd_ < 0; ++attempt) {
        lockFd_ = ::openat(directoryFd_, kLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (lockFd_ < 0) {
            clear(directoryFd_, directory_, kLockFile);
        }
    }
    if (lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd_);
        lockFd_ = -1;
        return false;
    }
    return true;
}

bool SingleInstance::handOver(const QByteArray& command) {
    // The running instance may hold the lock a moment before it listens.
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + 3000;
    do {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(500)) {
            socket.write(command + '\n');
            socket.waitForBytesWritten(1000);
            return true;
        }
        QThread::msleep(100);
    } while (QDateTime::currentMSecsSinceEpoch() < deadline);
    return false;
}

} // namespace Instance
