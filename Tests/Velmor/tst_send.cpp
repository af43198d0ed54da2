// Stop and send, end to end: the real capture from the private audio server, the real mixdown,
// the local receiver over HTTP, and notifications on the private session bus.
#include "FakeCapture.h"
#include "TestSupport.h"

#include <QCoroTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

QList<QJsonObject> notifications() {
    QFile log(qEnvironmentVariable("VELMOR_NOTIFICATION_LOG"));
    QList<QJsonObject> entries;
    if (log.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : log.readAll().split('\n')) {
            if (!line.isEmpty()) {
                entries.append(QJsonDocument::fromJson(line).object());
            }
        }
    }
    return entries;
}

} // namespace

class SendTest : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_{QStringLiteral("/tmp/velmor-send-test-XXXXXX")};
    QProcess receiver_;
    QString server_;

    void record(Recorder& recorder, int ms) {
        QCoro::waitFor(recorder.start());
        QVERIFY(recorder.isRecording());
        QProcess player;
        player.start(QStringLiteral("paplay"), {QStringLiteral("--device=speakers"), tmp_.filePath("tone.wav")});
        QCoro::waitFor(TestSupport::pause(ms));
        player.waitForFinished(5000);
    }

private slots:
    void initTestCase() {
        qputenv("TMPDIR", tmp_.path().toUtf8());
        TestSupport::writeCaf(tmp_.filePath("tone.caf"), 2.0, TestSupport::tone(440, 0.3));
        QCOMPARE(TestSupport::run("sox", {tmp_.filePath("tone.caf"), "-b", "16", tmp_.filePath("tone.wav")}), 0);
        receiver_.start(qEnvironmentVariable("VELMOR_RECEIVER"),
                        {"--key", "vl_right", "--data", tmp_.filePath("received"), "--port", "0"});
        QVERIFY(receiver_.waitForReadyRead(10000));
        const QString line = QString::fromUtf8(receiver_.readLine()).trimmed();
        server_ = line.mid(line.indexOf(QStringLiteral("http://")));
        QVERIFY(server_.startsWith(QStringLiteral("http://127.0.0.1:")));
    }
    void cleanupTestCase() {
        receiver_.kill();
        receiver_.waitForFinished(5000);
    }

    void aRecordingArrivesAndLinksToItsPage() {
        Recorder recorder;
        recorder.title = QStringLiteral("Планёрка +1");
        record(recorder, 1500);
        const QString dir = *RecorderTestAccess::workDir(recorder);
        QStringList statuses;
        connect(&recorder, &Recorder::objectWillChange, this, [&] { statuses.append(recorder.status()); });
        const int before = int(notifications().size());
        QCoro::waitFor(recorder.stopAndSend(server_ + "/", QStringLiteral("vl_right")));
        QCOMPARE(recorder.status(), QStringLiteral("Отправлено. Протокол будет через несколько минут."));
        QVERIFY(statuses.contains(QStringLiteral("Останавливаем…")));
        QVERIFY(statuses.contains(QStringLiteral("Сводим запись…")));
        QVERIFY(statuses.contains(QStringLiteral("Отправляем в Велмор…")));
        QVERIFY(!QFileInfo::exists(dir));
        QVERIFY(recorder.lastLink());
        const QString id = recorder.lastLink()->path().section('/', -1);
        QCOMPARE(recorder.lastLink()->toString(), server_ + "/m/" + id);
        QCOMPARE(recorder.title(), QString());
        QCOMPARE(recorder.elapsedText(), QStringLiteral("00:00"));
        QVERIFY(!recorder.isBusy() && !recorder.isRecording());

        const QString received = tmp_.filePath("received/" + id);
        QFile meta(received + "/meta.json");
        QVERIFY(meta.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(meta.readAll()).object()["title"].toString(),
                 QStringLiteral("Планёрка +1"));
        const TestSupport::StreamInfo info = TestSupport::probe(received + "/recording.m4a");
        QCOMPARE(info.codec, QStringLiteral("aac"));
        QVERIFY2(info.seconds > 1.2 && info.seconds < 5.0, qPrintable(QString::number(info.seconds)));
        const TestSupport::Pcm pcm = TestSupport::decode(received + "/recording.m4a");
        QVERIFY(TestSupport::toneLevel(pcm.left, 0, pcm.frames(), 440) > 0.02);

        QTRY_COMPARE_WITH_TIMEOUT(notifications().size(), before + 1, 5000);
        const QJsonObject note = notifications().last();
        QCOMPARE(note["summary"].toString(), QStringLiteral("Запись отправлена"));
        QCOMPARE(note["body"].toString(), QStringLiteral("Велмор распознаёт речь и собирает протокол."));
        QCOMPARE(note["app_name"].toString(), QStringLiteral("Велмор"));
    }

    void aRefusedSendKeepsTheFilesAndTheLastLink() {
        Recorder recorder;
        const QUrl previous(QStringLiteral("http://127.0.0.1/m/previous"));
        recorder.lastLink = previous;
        record(recorder, 800);
        const QString dir = *RecorderTestAccess::workDir(recorder);
        QCoro::waitFor(recorder.stopAndSend(server_, QStringLiteral("vl_wrong")));
        QCOMPARE(recorder.status(), QStringLiteral("Ошибка: Неверный ключ API. Файл сохранён в ") + dir);
        QCOMPARE(recorder.lastLink(), std::optional<QUrl>(previous));
        QVERIFY(QFileInfo::exists(dir + "/velmor.m4a"));
        QTRY_VERIFY_WITH_TIMEOUT(!notifications().isEmpty() && notifications().last()["summary"].toString() ==
                                                                   QStringLiteral("Не удалось отправить"),
                                 5000);
        QCOMPARE(notifications().last()["body"].toString(), QStringLiteral("Неверный ключ API"));
        // Every notification has an identifier of its own: none replaces another.
        QSet<QString> identifiers;
        for (const QJsonObject& note : notifications()) {
            const QString identifier = note["hints"].toObject()["x-velmor-id"].toString();
            QVERIFY(identifier.contains(QRegularExpression(QStringLiteral("^[0-9A-F-]{36}$"))));
            QCOMPARE(note["replaces_id"].toInt(), 0);
            identifiers.insert(identifier);
        }
        QVERIFY(identifiers.size() >= 2);
        QCOMPARE(identifiers.size(), notifications().size());
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

    void anEmptyRecordingIsNotSent() {
        auto service = std::make_shared<FakeCaptureService>();
        Recorder recorder(service);
        QCoro::waitFor(recorder.start());
        const QString dir = *RecorderTestAccess::workDir(recorder);
        QCoro::waitFor(recorder.stopAndSend(server_, QStringLiteral("vl_right")));
        QCOMPARE(recorder.status(),
                 QStringLiteral("Ошибка: Запись пустая — ничего не прозвучало. Файл сохранён в ") + dir);
        QVERIFY(QFileInfo(dir).isDir());
    }

    void aSecondCallDuringARunIsTurnedAway() {
        auto service = std::make_shared<FakeCaptureService>();
        service->stopDelayMs = 300;
        service->failStop = true; // a failed stop is ignored
        Recorder recorder(service);
        QCoro::waitFor(recorder.start());
        auto first = recorder.stopAndSend(server_, QStringLiteral("vl_right"));
        QVERIFY(recorder.isRecording() && recorder.isBusy());
        QCoro::waitFor(recorder.stopAndSend(server_, QStringLiteral("vl_right")));
        QCOMPARE(service->stopsCalled, 1);
        QCoro::waitFor(first);
        QCOMPARE(service->stopsCalled, 1);
        QVERIFY(recorder.status().startsWith(QStringLiteral("Ошибка: Запись пустая")));
        QVERIFY(!recorder.isBusy());
    }
};

QTEST_MAIN(SendTest)
#include "tst_send.moc"
