// Stop and send, end to end: the real capture from the private audio server, the real mixdown,
// the local receiver over HTTP, and notifications on the private session bus.
#include "FakeCapture.h"
#include "Mixdown.h"
#include "TestSupport.h"

#include <QDir>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUuid>
#include <unistd.h>

namespace {

using TestSupport::notifications;

// A work directory as an earlier run of the app would have left it.
QString savedDir(const QString& root, const QDateTime& recordedAt, const QString& title) {
    const QString dir =
        QDir(root).filePath("velmor-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    QDir().mkpath(dir);
    if (recordedAt.isValid()) {
        SavedRecordings::writeInfo(dir, {recordedAt, title});
    }
    return dir;
}

// The summary of the notification posted after the first `before`, once it has arrived.
QString summaryAfter(qsizetype before) {
    const QList<QJsonObject> all = notifications();
    return all.size() > before ? all[before]["summary"].toString() : QString();
}

QJsonObject receivedWithTitle(const TestSupport::Receiver& receiver, const QString& title) {
    for (const QJsonObject& meta : receiver.received()) {
        if (meta["title"].toString() == title) {
            return meta;
        }
    }
    return {};
}

} // namespace

class SendTest : public QObject {
    Q_OBJECT

    TestSupport::PrivateDirs tmp_;
    std::unique_ptr<TestSupport::Receiver> receiver_;
    QString server_;

    void record(Recorder& recorder, int ms) {
        QCoro::waitFor(recorder.start());
        QVERIFY(recorder.isRecording());
        QProcess player;
        player.start(QStringLiteral("paplay"), {QStringLiteral("--device=speakers"), tmp_.filePath("tone.caf")});
        QCoro::waitFor(TestSupport::pause(ms));
        player.waitForFinished(5000);
    }

private slots:
    void initTestCase() {
        TestSupport::writeCaf(tmp_.filePath("tone.caf"), 2.0, TestSupport::tone(440, 0.3));
        receiver_ = std::make_unique<TestSupport::Receiver>(tmp_.filePath("received"), "vl_right");
        server_ = receiver_->address();
        QVERIFY(server_.startsWith(QStringLiteral("http://127.0.0.1:")));
    }
    void init() { tmp_.reset(); }

    // (The end-to-end test sends a real recording through the panel and checks what arrives.)
    void aFailedSendKeepsTheLastLinkAndNotifiesApart() {
        Recorder recorder(std::make_shared<FakeCaptureService>());
        const QUrl previous(QStringLiteral("http://127.0.0.1/m/previous"));
        recorder.lastLink = previous;
        const qsizetype before = notifications().size();
        for (int i = 0; i < 2; ++i) {
            QCoro::waitFor(recorder.start());
            QCoro::waitFor(recorder.stopAndSend(server_, QStringLiteral("vl_right")));
        }
        QCOMPARE(recorder.lastLink(), std::optional<QUrl>(previous));
        QTRY_COMPARE_WITH_TIMEOUT(summaryAfter(before + 1), QStringLiteral("Не удалось отправить"), 5000);
        QCOMPARE(notifications()[before]["body"].toString(),
                 QStringLiteral("Запись пустая — ничего не прозвучало"));
        // Each has an identifier of its own: none replaces another.
        QVERIFY(notifications()[before]["hints"].toObject()["x-velmor-id"] !=
                notifications()[before + 1]["hints"].toObject()["x-velmor-id"]);
    }

    void anEmptyKeyIsNoticedAfterTheMix() {
        Recorder recorder;
        recorder.title = QStringLiteral("будет очищено");
        record(recorder, 800);
        const QString dir = *RecorderTestAccess::workDir(recorder);
        QCoro::waitFor(recorder.stopAndSend(server_, QString()));
        QCOMPARE(recorder.status(),
                 QStringLiteral("Ошибка: Не задан ключ API — откройте настройки виджета. Файл сохранён в ") + dir);
        for (const char* name : {"system.caf", "mic.caf", "velmor.m4a"}) {
            QVERIFY2(QFileInfo::exists(dir + "/" + name), name);
        }
        QCOMPARE(recorder.title(), QString());
    }

    void aSecondCallDuringARunIsTurnedAway() {
        auto service = std::make_shared<FakeCaptureService>();
        service->stopDelayMs = 300;
        service->failStop = true; // a failed stop is ignored
        Recorder recorder(service);
        QCoro::waitFor(recorder.start());
        const QString dir = *RecorderTestAccess::workDir(recorder);
        auto first = recorder.stopAndSend(server_, QStringLiteral("vl_right"));
        QVERIFY(recorder.isRecording() && recorder.isBusy());
        QCoro::waitFor(recorder.stopAndSend(server_, QStringLiteral("vl_right")));
        QCoro::waitFor(first);
        QCOMPARE(service->stopsCalled, 1);
        // Nothing was captured: nothing is sent, and the empty directory is not offered again.
        QCOMPARE(recorder.status(),
                 QStringLiteral("Ошибка: Запись пустая — ничего не прозвучало. Файл сохранён в ") + dir);
        QVERIFY(!recorder.isBusy());
        QCOMPARE(recorder.savedCount(), 0);
    }

    void aFailedSendIsOfferedAgainWithItsTitleAndArrivesOnce() {
        Recorder recorder;
        recorder.title = QStringLiteral("Разбор полётов");
        record(recorder, 800);
        const QString dir = *RecorderTestAccess::workDir(recorder);
        QCOMPARE(recorder.savedCount(), 0); // not while it is being recorded
        QCoro::waitFor(recorder.stopAndSend(QStringLiteral("http://127.0.0.1:9"), QStringLiteral("vl_right")));
        QCOMPARE(recorder.savedCount(), 1);
        const qsizetype before = receiver_->received().size();
        QCoro::waitFor(recorder.sendSaved(server_, QStringLiteral("vl_right")));
        QCOMPARE(recorder.status(), QStringLiteral("Отправлено. Протокол будет через несколько минут."));
        QCOMPARE(receiver_->received().size(), before + 1);
        QVERIFY(!receivedWithTitle(*receiver_, QStringLiteral("Разбор полётов")).isEmpty());
        QVERIFY(!QFileInfo::exists(dir));
        QCOMPARE(recorder.savedCount(), 0);
        QVERIFY(!recorder.isBusy());
    }

    void savedRecordingsGoOldestFirstWithTheirOwnTime() {
        const QString root = tmp_.path();
        const QDateTime older(QDate(2026, 3, 1), QTime(10, 15));
        const QString first = savedDir(root, older, QString());
        TestSupport::writeCaf(first + "/system.caf", 1.0, TestSupport::tone(440, 0.3));
        // Finished before: sent as it is, not mixed again (it has no work files left to mix).
        const QString second = savedDir(root, older.addDays(1), QStringLiteral("Ретро"));
        TestSupport::writeCaf(second + "/mic.caf", 1.0, TestSupport::tone(880, 0.3));
        QVERIFY(TestSupport::settle(mixdownWorkFiles(second)).value);
        QFile::remove(second + "/mic.caf");
        // Not recordings: empty (a failed start), too short, a mixdown cut off.
        const QString empty = savedDir(root, older, QString());
        const QString tooShort = savedDir(root, QDateTime(), QString());
        TestSupport::writeCaf(tooShort + "/mic.caf", 0.1, TestSupport::tone(440, 0.3));
        const QString cutOff = savedDir(root, older, QString());
        QFile(cutOff + "/velmor.m4a.part").open(QIODevice::WriteOnly);
        // Another user's recording is never touched (only root can make one here).
        const QString foreign = savedDir(root, older.addDays(-1), QString());
        TestSupport::writeCaf(foreign + "/system.caf", 1.0, TestSupport::tone(440, 0.3));
        if (::chown(QFile::encodeName(foreign).constData(), 65534, 65534) != 0) {
            QDir(foreign).removeRecursively();
        }
        Recorder recorder(std::make_shared<FakeCaptureService>());
        QCOMPARE(recorder.savedCount(), 2);
        QCoro::waitFor(recorder.sendSaved(server_, QStringLiteral("vl_right")));
        QCOMPARE(recorder.status(), QStringLiteral("Отправлено. Протокол будет через несколько минут."));
        const QJsonObject sentFirst = receivedWithTitle(*receiver_, QStringLiteral("Звонок 1 марта, 10:15"));
        QCOMPARE(sentFirst["name"].toString(), QStringLiteral("Запись 2026-03-01 10-15.m4a"));
        QCOMPARE(sentFirst["date"].toString(), older.toUTC().date().toString(Qt::ISODate));
        const QJsonObject sentSecond = receivedWithTitle(*receiver_, QStringLiteral("Ретро"));
        QCOMPARE(sentSecond["name"].toString(), QStringLiteral("Запись 2026-03-02 10-15.m4a"));
        // The newest went last.
        QCOMPARE(recorder.lastLink()->path().section('/', -1), sentSecond["id"].toString());
        QVERIFY(!QFileInfo::exists(first) && !QFileInfo::exists(second));
        QVERIFY(QFileInfo::exists(empty) && QFileInfo::exists(tooShort) && QFileInfo::exists(cutOff));
        QCOMPARE(recorder.savedCount(), 0);
    }

    void aStalledSendCanBeCancelledAndStaysSaved() {
        // Takes the request and never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        connect(&silent, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* socket = silent.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        });
        const QString dir = savedDir(tmp_.path(), QDateTime::currentDateTime(), QString());
        TestSupport::writeCaf(dir + "/system.caf", 1.0, TestSupport::tone(440, 0.3));
        Recorder recorder(std::make_shared<FakeCaptureService>());
        const QString address = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
        auto sending = recorder.sendSaved(address, QStringLiteral("vl_right"));
        QTRY_COMPARE(recorder.status(), QStringLiteral("Отправляем в Велмор…"));
        QVERIFY(recorder.isSending() && recorder.isBusy());
        // A second choice, a start and a stop-and-send are all turned away meanwhile.
        QCoro::waitFor(recorder.sendSaved(address, QStringLiteral("vl_right")));
        QCoro::waitFor(recorder.start());
        QCOMPARE(recorder.status(), QStringLiteral("Отправляем в Велмор…"));
        recorder.cancelSend();
        QCoro::waitFor(sending);
        QCOMPARE(recorder.status(), QStringLiteral("Ошибка: Отправка отменена. Файл сохранён в ") + dir);
        QVERIFY(!recorder.isBusy() && !recorder.isSending());
        QVERIFY(QFileInfo::exists(dir + "/velmor.m4a"));
        QCOMPARE(recorder.savedCount(), 1);
    }

    void aFullDiskInterruptsAndWhatWasWrittenIsSentLater() {
        const QString root = tmp_.filePath("small");
        QDir().mkpath(root);
        if (TestSupport::run("mount", {"-t", "tmpfs", "-o", "size=3m,mode=0700", "tmpfs", root}) != 0) {
            QSKIP("mounting a small tmpfs needs root");
        }
        const auto unmount = qScopeGuard([&] {
            TestSupport::run("umount", {"-l", root});
            qputenv("TMPDIR", tmp_.path().toUtf8());
        });
        // Leaves about a second of room for the two work files.
        QFile filler(root + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(2 * 1024 * 1024, '\0'));
        filler.close();
        qputenv("TMPDIR", root.toUtf8());
        Recorder recorder;
        const qsizetype before = notifications().size();
        record(recorder, 300);
        const QString dir = *RecorderTestAccess::workDir(recorder);
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 15000);
        QCOMPARE(recorder.status(),
                 QStringLiteral("Запись прервана: Не удалось записать аудиофайл (на диске закончилось место). "
                                "Файл сохранён в ") +
                     dir);
        QTRY_COMPARE_WITH_TIMEOUT(summaryAfter(before), QStringLiteral("Запись прервана"), 5000);
        QCOMPARE(notifications()[before]["body"].toString(),
                 QStringLiteral("Не удалось записать аудиофайл (на диске закончилось место)"));
        QCOMPARE(recorder.savedCount(), 1);
        // Space comes back: what was written before is sent, complete.
        QVERIFY(filler.remove());
        const double written = TestSupport::probe(dir + "/system.caf").seconds;
        QVERIFY2(written > 0.5, qPrintable(QString::number(written)));
        QCoro::waitFor(recorder.sendSaved(server_, QStringLiteral("vl_right")));
        QCOMPARE(recorder.status(), QStringLiteral("Отправлено. Протокол будет через несколько минут."));
        const QString id = recorder.lastLink()->path().section('/', -1);
        const double sent = TestSupport::probe(tmp_.filePath("received/" + id + "/recording.m4a")).seconds;
        QVERIFY2(std::abs(sent - written) < 0.1, qPrintable(QStringLiteral("%1 of %2 s").arg(sent).arg(written)));
    }
};

QTEST_MAIN(SendTest)
#include "tst_send.moc"
