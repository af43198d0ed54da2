// Sends that failed for a reason that passes go again by themselves: on the backoff and the
// server's Retry-After (an injected clock), when the network comes back and after a wake-up
// (NetworkManager and logind doubles on the private bus that stands in for the system bus), and
// at start. Real HTTP on 127.0.0.1 throughout.
#include "FakeCapture.h"
#include "MockClock.h"
#include "Retries.h"
#include "Settings.h"
#include "SystemEvents.h"
#include "TestSupport.h"
#include "WorkDirectory.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// Answers each request with the next canned status (and a meeting once it is 200), counting them.
class Server : public QTcpServer {
public:
    QList<QByteArray> replies;
    int requests = 0;

    void open(quint16 port = 0) {
        QVERIFY(listen(QHostAddress::LocalHost, port));
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                received_[socket] += socket->readAll();
                const QByteArray& request = received_[socket];
                const qsizetype headEnd = request.indexOf("\r\n\r\n");
                const qsizetype at = request.toLower().indexOf("content-length:");
                if (headEnd < 0 || at < 0 ||
                    request.size() - headEnd - 4 <
                        request.mid(at + 15, request.indexOf("\r\n", at) - at - 15).trimmed().toLongLong()) {
                    return;
                }
                ++requests;
                const QByteArray status = replies.isEmpty() ? QByteArray("200 OK") : replies.takeFirst();
                const QByteArray body = status.startsWith("200") ? R"({"meeting":{"id":"m1"}})" : "{}";
                socket->write("HTTP/1.1 " + status + "\r\nConnection: close\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
    }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    quint16 port_ = 0;

private:
    QHash<QTcpSocket*, QByteArray> received_;
};

// A free port that nothing listens on, yet.
quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QString savedRecording(const QString& root, bool isRetried) {
    const QString dir = TestSupport::newWorkDirectoryIn(root);
    WorkDirectory::Info info{
        QDateTime::currentDateTime().addSecs(-3600), QDateTime::currentDateTime(), {}, {}, {}, {}};
    info.isRetried = isRetried;
    WorkDirectory::open(dir)->writeInfo(info);
    TestSupport::writeCaf(dir + "/system.caf", 1.0, TestSupport::tone(440, 0.3));
    return dir;
}

qsizetype failuresTold(qsizetype after) {
    const QList<QJsonObject> all = TestSupport::notifications();
    return std::count_if(all.begin() + after, all.end(), [](const QJsonObject& n) {
        return n["summary"] == QStringLiteral("Не удалось отправить");
    });
}

} // namespace

class RetriesTest : public QObject {
    Q_OBJECT

    TestSupport::PrivateDirs tmp_;

    void configure(const QString& server) {
        Preferences::Settings settings;
        settings.setServerURL(server);
        settings.setApiKey(QStringLiteral("vl_key"));
    }

private slots:
    void init() { tmp_.reset(); }

    void theWaitBacksOffOrFollowsTheServer() {
        QList<qint64> waits;
        for (int failures = 1; failures <= 7; ++failures) {
            waits << Retries::delayMs(failures, 0) / 1000;
        }
        QCOMPARE(waits, QList<qint64>({30, 60, 120, 300, 600, 900, 900}));
        QCOMPARE(Retries::delayMs(1, 7), 7000);
        QCOMPARE(Retries::delayMs(3, 5000), 900'000);
    }

    // Down at the send, then busy with a Retry-After, then up: delivered with no click, the failure
    // told once; a refusal of the key is never tried again.
    void aPassingFailureIsSentByItself() {
        MockClock clock;
        Server server;
        server.port_ = freePort();
        configure(server.address());
        savedRecording(tmp_.path(), false);
        Preferences::Settings settings;
        System::SystemEvents system;
        Recorder recorder(std::make_shared<FakeCaptureService>());
        Retries retries(recorder, settings, system);
        QCoro::waitFor(recorder.findSaved());
        const qsizetype before = TestSupport::notifications().size();
        QCoro::waitFor(recorder.sendSaved(server.address(), QStringLiteral("vl_key")));
        QVERIFY(recorder.status().startsWith(QStringLiteral("Ошибка: Не удалось подключиться к серверу")));
        const QString at = clock.now().toLocalTime().addSecs(30).toString(QStringLiteral("HH:mm"));
        QTRY_COMPARE(recorder.retryNote(), QStringLiteral("Отправим снова автоматически в ") + at);
        server.replies = {"503 Service Unavailable\r\nRetry-After: 7"};
        server.open(server.port_);
        clock.advance(29'000);
        QCOMPARE(server.requests, 0);
        clock.advance(1000);
        QTRY_COMPARE(server.requests, 1);
        QTRY_VERIFY(!recorder.retryNote().isEmpty() && recorder.phase() == Phase::idle);
        clock.advance(6000);
        QCOMPARE(server.requests, 1);
        clock.advance(1000);
        QTRY_COMPARE(recorder.status(), QStringLiteral("Отправлено. Протокол будет через несколько минут."));
        QCOMPARE(server.requests, 2);
        QTRY_VERIFY(recorder.retryNote().isEmpty());
        QCOMPARE(recorder.savedCount(), 0);
        QTRY_COMPARE(failuresTold(before), 1);

        // A refused key, and a gateway's failure that may come after the server took the file.
        for (const QByteArray& status : {QByteArray("401 Unauthorized"), QByteArray("502 Bad Gateway")}) {
            savedRecording(tmp_.path(), false);
            QCoro::waitFor(recorder.findSaved());
            server.replies = {status, status}; // the one before is sent again with it
            QCoro::waitFor(recorder.sendSaved(server.address(), QStringLiteral("vl_key")));
        }
        const int requests = server.requests;
        QCOMPARE(recorder.savedCount(), 2);
        for (int i = 0; i < 4; ++i) {
            clock.advance(900'000);
        }
        QCOMPARE(server.requests, requests);
        QVERIFY(recorder.retryNote().isEmpty());
    }

    // The network's return and a wake-up send at once; what an earlier run left is sent at start;
    // sleep is held off while recording and sending.
    void theMachineSaysWhenToTryAgain() {
        QProcess doubles;
        doubles.start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(VELMOR_SOURCE_DIR "/Tests/support/system_doubles.py"), QStringLiteral("20")});
        QVERIFY(doubles.waitForReadyRead(10000));
        QDBusInterface machine(QStringLiteral("app.velmor.TestSystem"), QStringLiteral("/app/velmor/Test"),
                               QStringLiteral("app.velmor.Test.System"), QDBusConnection::systemBus());
        MockClock clock;
        Server server;
        server.port_ = freePort();
        configure(server.address());
        const QString leftBefore = savedRecording(tmp_.path(), true);
        const QString notRetried = savedRecording(tmp_.path(), false);
        Preferences::Settings settings;
        System::SystemEvents system;
        auto service = std::make_shared<FakeCaptureService>();
        Recorder recorder(service);
        Retries retries(recorder, settings, system);
        // Offline: left for the network, whatever the clock says.
        QTRY_COMPARE(recorder.retryNote(), QStringLiteral("Отправим снова автоматически при появлении сети"));
        clock.advance(60'000);
        QCOMPARE(server.requests, 0);
        server.open(server.port_);
        machine.call(QStringLiteral("SetNetwork"), 70u);
        QTRY_COMPARE_WITH_TIMEOUT(server.requests, 1, 5000);
        QTRY_VERIFY(!QFileInfo::exists(leftBefore));
        QVERIFY(QFileInfo::exists(notRetried));

        // Recording holds sleep off; stopped, its send fails (the server busy), and a wake-up sends it.
        QCoro::waitFor(recorder.start());
        service->deliver(1.0);
        QTRY_COMPARE(QDBusReply<uint>(machine.call(QStringLiteral("HeldLocks"))).value(), 1u);
        // Told of a sleep, the work files' headers state all that was written before the lock goes.
        service->deliver(0.5);
        const QString workFile = recorder.capture().lastPath() + "/system.caf";
        machine.call(QStringLiteral("Sleep"), true);
        QTRY_COMPARE(TestSupport::headerSeconds(workFile), 1.5);
        machine.call(QStringLiteral("Sleep"), false);
        server.replies = {"503 Service Unavailable"};
        QCoro::waitFor(recorder.stopAndSend(server.address(), QStringLiteral("vl_key")));
        QTRY_COMPARE(QDBusReply<uint>(machine.call(QStringLiteral("HeldLocks"))).value(), 0u);
        QTRY_VERIFY(!recorder.retryNote().isEmpty());
        machine.call(QStringLiteral("Sleep"), true);
        machine.call(QStringLiteral("Sleep"), false);
        QCoro::waitFor(TestSupport::pause(200));
        clock.advance(4000);
        QCOMPARE(server.requests, 2);
        clock.advance(1000);
        QTRY_COMPARE(server.requests, 3);
        QTRY_COMPARE(recorder.status(), QStringLiteral("Отправлено. Протокол будет через несколько минут."));
        QCOMPARE(recorder.savedCount(), 1); // the one that never failed for a passing reason
        doubles.kill();
        doubles.waitForFinished();
    }
};

QTEST_MAIN(RetriesTest)
#include "tst_retries.moc"
