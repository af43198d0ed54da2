// One instance per user, on the real file system and sockets.
#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/file.h>
#include <sys/stat.h>

class SingleInstanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QString dir() const { return home_.filePath(QStringLiteral("velmor/instance")); }
    static qsizetype openDescriptors() {
        return QDir(QStringLiteral("/proc/self/fd"))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
            .size();
    }

    // A claims, B cannot and hands A its command; a stranger's line on the socket is not taken.
    void checkOneRunsAndTheOtherIsShown(const QByteArray& command = "show") {
        Instance::SingleInstance first(dir());
        QVERIFY(first.claim());
        QSignalSpy received(&first, &Instance::SingleInstance::commandReceived);
        QLocalSocket stranger;
        stranger.connectToServer(QDir(dir()).filePath(QStringLiteral("socket")));
        QVERIFY(stranger.waitForConnected(1000));
        stranger.write("rm -rf ~\n");
        QVERIFY(stranger.waitForBytesWritten(1000));
        QTRY_COMPARE(stranger.state(), QLocalSocket::UnconnectedState); // read, and let go
        const qsizetype open = openDescriptors();
        {
            Instance::SingleInstance second(dir());
            QVERIFY(!second.claim(command));
        }
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toByteArray(), command);
        QCOMPARE(openDescriptors(), open); // a launch that ends keeps nothing open
        struct stat info = {};
        QCOMPARE(::lstat(QFile::encodeName(dir()).constData(), &info), 0);
        QVERIFY(S_ISDIR(info.st_mode));
        QCOMPARE(info.st_mode & 0777, 0700u);
    }

private slots:
    void init() { QDir(home_.filePath(QStringLiteral("velmor"))).removeRecursively(); }

    void oneRunsAndALaterLaunchHandsItsCommandOver() {
        checkOneRunsAndTheOtherIsShown();
        // The first has ended: the next launch runs.
        checkOneRunsAndTheOtherIsShown("toggle");
    }

    // A lock held by an instance that does not answer (killed a moment ago) is tried again once,
    // and still held, keeps this launch out.
    void anInstanceThatDoesNotAnswerStillKeepsALaunchOut() {
        QDir().mkpath(dir());
        QFile::setPermissions(dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile lock(QDir(dir()).filePath(QStringLiteral("lock")));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
        const qsizetype open = openDescriptors();
        {
            Instance::SingleInstance late(dir());
            QVERIFY(!late.claim());
        }
        QCOMPARE(openDescriptors(), open);
        lock.close();
        Instance::SingleInstance next(dir());
        QVERIFY(next.claim());
    }

    // Whatever was left or planted where the app keeps its lock and socket never stops it, and
    // never lets two run.
    void junkAtItsPathsIsClearedAway_data() {
        QTest::addColumn<QString>("junk");
        for (const char* junk : {"file as directory", "link as directory", "open directory", "directory as socket",
                                 "stale socket", "link as lock"}) {
            QTest::newRow(junk) << QString::fromLatin1(junk);
        }
    }
    void junkAtItsPathsIsClearedAway() {
        QFETCH(QString, junk);
        const QString elsewhere = home_.filePath(QStringLiteral("elsewhere"));
        QDir().mkpath(elsewhere);
        QDir().mkpath(QFileInfo(dir()).absolutePath());
        const auto touch = [](const QString& path) { QFile(path).open(QIODevice::WriteOnly); };
        if (junk == "file as directory") {
            touch(dir());
        } else if (junk == "link as directory") {
            QVERIFY(QFile::link(elsewhere, dir()));
        } else if (junk == "open directory") {
            QDir().mkpath(dir());
            QVERIFY(QFile::setPermissions(dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::ReadOther | QFile::WriteOther | QFile::ExeOther));
        } else {
            QDir().mkpath(dir());
            QFile::setPermissions(dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            const QString socket = QDir(dir()).filePath("socket");
            const QString lock = QDir(dir()).filePath("lock");
            if (junk == "directory as socket") {
                QDir().mkpath(socket + "/inner");
            } else if (junk == "stale socket") {
                QLocalServer crashed;
                crashed.setSocketOptions(QLocalServer::UserAccessOption);
                QVERIFY(crashed.listen(socket));
                crashed.close(); // leaves no listener; the path is cleared by the next owner
                touch(socket);
            } else {
                QVERIFY(QFile::link(elsewhere + "/lock", lock));
            }
        }
        checkOneRunsAndTheOtherIsShown();
        QVERIFY(QDir(elsewhere).isEmpty());
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_instance.moc"
