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

#include <QTest>

using TestSupport::notified;

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

    // Down at the send, then busy with a Retry-After, then up: delivered with no click, the failure
    // told once; a refusal of the key is never tried again.
    void aPassingFailureIsSentByItself() {
        MockClock clock;
        TestSupport::HttpServer server(false);
        configure(server.address());
        TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-3600));
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
        server.replies = {TestSupport::httpReply(503, "{}", "Retry-After: 7\r\n"), TestSupport::httpReply()};
        server.open();
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
        QTRY_COMPARE(notified(before, QStringLiteral("Не удалось отправить")).size(), 1);

        // A refused key, and a gateway's failure that may come after the server took the file.
        for (const int status : {401, 502}) {
            TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-3600));
            QCoro::waitFor(recorder.findSaved());
            server.replies = {TestSupport::httpReply(status, "{}")}; // the one before is sent again with it
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
        const TestSupport::Script doubles(QStringLiteral("system_doubles.py"), {QStringLiteral("20")});
        const auto machine = [](const QString& method, const QVariantList& arguments = {}) {
            return TestSupport::callBus(
                QStringLiteral("app.velmor.TestSystem"), QStringLiteral("/app/velmor/Test"),
                QStringLiteral("app.velmor.Test.System"), method, arguments, QDBusConnection::systemBus());
        };
        MockClock clock;
        TestSupport::HttpServer server(false);
        configure(server.address());
        const QString leftBefore =
            TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-3600), 1.0, {}, true);
        const QString notRetried =
            TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-3600));
        Preferences::Settings settings;
        System::SystemEvents system;
        auto service = std::make_shared<FakeCaptureService>();
        Recorder recorder(service);
        Retries retries(recorder, settings, system);
        // Offline: left for the network, whatever the clock says.
        QTRY_COMPARE(recorder.retryNote(), QStringLiteral("Отправим снова автоматически при появлении сети"));
        clock.advance(60'000);
        QCOMPARE(server.requests, 0);
        server.open();
        machine(QStringLiteral("SetNetwork"), {70u});
        QTRY_COMPARE_WITH_TIMEOUT(server.requests, 1, 5000);
        QTRY_VERIFY(!QFileInfo::exists(leftBefore));
        QVERIFY(QFileInfo::exists(notRetried));

        // Recording holds sleep off; stopped, its send fails (the server busy), and a wake-up sends it.
        QCoro::waitFor(recorder.start());
        service->deliver(1.0);
        QTRY_COMPARE(machine(QStringLiteral("HeldLocks")).arguments().value(0).toUInt(), 1u);
        // Told of a sleep, the work files' headers state all that was written before the lock goes.
        service->deliver(0.5);
        const QString workFile = recorder.capture().lastPath() + "/system.caf";
        machine(QStringLiteral("Sleep"), {true});
        QTRY_COMPARE(TestSupport::headerSeconds(workFile), 1.5);
        machine(QStringLiteral("Sleep"), {false});
        server.replies = {TestSupport::httpReply(503, "{}"), TestSupport::httpReply()};
        QCoro::waitFor(recorder.stopAndSend(server.address(), QStringLiteral("vl_key")));
        QTRY_COMPARE(machine(QStringLiteral("HeldLocks")).arguments().value(0).toUInt(), 0u);
        QTRY_VERIFY(!recorder.retryNote().isEmpty());
        machine(QStringLiteral("Sleep"), {true});
        machine(QStringLiteral("Sleep"), {false});
        QCoro::waitFor(TestSupport::pause(200));
        clock.advance(4000);
        QCOMPARE(server.requests, 2);
        clock.advance(1000);
        QTRY_COMPARE(server.requests, 3);
        QTRY_COMPARE(recorder.status(), QStringLiteral("Отправлено. Протокол будет через несколько минут."));
        QCOMPARE(recorder.savedCount(), 1); // the one that never failed for a passing reason
    }
};

QTEST_MAIN(RetriesTest)
#include "tst_retries.moc"
