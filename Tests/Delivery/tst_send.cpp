// Stop and send, end to end: the real writer fed by a capture service that hands it a tone, the
// real mixdown, the local receiver over HTTP, and notifications on the private session bus.
#include "FakeCapture.h"
#include "Mixdown.h"
#include "MockClock.h"
#include "TestSupport.h"
#include "WorkDirectory.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestSupport::notifications;
using TestSupport::notified;

// A finished mix of a tone, as a send that got as far as the upload leaves it.
void writeMix(const QString& dir, double seconds) {
    const QString work = QDir(dir).filePath(QStringLiteral("mix-source"));
    const auto source = std::make_shared<Recording>(TestSupport::workDirectory(work));
    TestSupport::writeCaf(QDir(work).filePath("system.caf"), seconds, TestSupport::tone(440, 0.3));
    QVERIFY(TestSupport::settle(mixToSend(source)).value);
    QVERIFY(QFile::rename(QDir(work).filePath("velmor.m4a"), QDir(dir).filePath("velmor.m4a")));
    QVERIFY(QDir(work).removeRecursively());
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

    // A recorder that has looked for the saved recordings.
    std::unique_ptr<Recorder> recorderWithSaved(int expected) {
        auto recorder = std::make_unique<Recorder>(std::make_shared<FakeCaptureService>());
        QCoro::waitFor(recorder->findSaved());
        [&] { QCOMPARE(recorder->savedCount(), expected); }();
        return recorder;
    }

    static QString sent() { return QStringLiteral("Отправлено. Протокол будет через несколько минут."); }

private slots:
    void initTestCase() {
        receiver_ = std::make_unique<TestSupport::Receiver>(tmp_.filePath("received"), "vl_right");
        server_ = receiver_->address();
        QVERIFY(server_.startsWith(QStringLiteral("http://127.0.0.1:")));
    }
    void init() { tmp_.reset(); }

    // Empty recordings: a second stop-and-send during a run is turned away and a failed stop is
    // ignored; nothing is sent or offered again, the last link stays, each failure is notified
    // apart. (The end-to-end test sends a real recording through the panel.)
    void emptyRecordingsFailApart() {
        auto service = std::make_shared<FakeCaptureService>();
        service->stopDelayMs = 300;
        service->failStop = true;
        Recorder recorder(service);
        const QUrl previous(QStringLiteral("http://127.0.0.1/m/previous"));
        recorder.lastLink = previous;
        const qsizetype before = notifications().size();
        for (int i = 0; i < 2; ++i) {
            QCoro::waitFor(recorder.start());
            const QString dir = recorder.capture().lastPath();
            auto first = recorder.stopAndSend(server_, QStringLiteral("vl_right"));
            QVERIFY(recorder.isRecording() && recorder.isBusy());
            QCoro::waitFor(recorder.stopAndSend(server_, QStringLiteral("vl_right")));
            QCoro::waitFor(first);
            QCOMPARE(recorder.status(),
                     QStringLiteral("Ошибка: Запись пустая — ничего не прозвучало. Файл сохранён в ") + dir);
        }
        QCOMPARE(service->stopsCalled, 2);
        QVERIFY(!recorder.isBusy());
        QCOMPARE(recorder.savedCount(), 0);
        QCOMPARE(recorder.lastLink(), std::optional<QUrl>(previous));
        QTRY_COMPARE_WITH_TIMEOUT(notified(before, QStringLiteral("Не удалось отправить")).size(), 2, 5000);
        QCOMPARE(notifications()[before]["body"].toString(),
                 QStringLiteral("Запись пустая — ничего не прозвучало"));
        QVERIFY(notifications()[before]["hints"].toObject()["x-velmor-id"] !=
                notifications()[before + 1]["hints"].toObject()["x-velmor-id"]);
    }

    // A server may have taken the file before failing: the next send must not make it a second
    // meeting under another name.
    void aSendAfterAFailedOneCarriesTheSameLabels() {
        auto service = std::make_shared<FakeCaptureService>();
        Recorder recorder(service);
        recorder.title = QStringLiteral("Разбор полётов");
        QCoro::waitFor(recorder.start());
        service->deliver(1.0);
        const QString dir = recorder.capture().lastPath();
        QCOMPARE(recorder.savedCount(), 0); // not while it is being recorded
        TestSupport::HttpServer failing;
        failing.replies = {TestSupport::httpReply(500, {})};
        QCoro::waitFor(recorder.stopAndSend(failing.address(), QStringLiteral("vl_right")));
        QCOMPARE(recorder.status(), QStringLiteral("Ошибка: Сервер ответил 500. Файл сохранён в ") + dir);
        QCOMPARE(failing.query().queryItemValue("title", QUrl::FullyDecoded), QStringLiteral("Разбор полётов"));
        QCOMPARE(recorder.savedCount(), 1);
        // Its times moved an hour back: a name taken anew from them would differ.
        {
            const auto held = WorkDirectory::open(dir);
            WorkDirectory::Info info = held->readInfo();
            QVERIFY(info.isNamed());
            info.recordedAt = info.recordedAt.addSecs(-3600);
            info.endedAt = info.endedAt.addSecs(-3600);
            held->writeInfo(info);
        }
        const qsizetype before = receiver_->received().size();
        QCoro::waitFor(recorder.sendSaved(server_, QStringLiteral("vl_right")));
        QCOMPARE(recorder.status(), sent());
        QCOMPARE(receiver_->received().size(), before + 1);
        const QJsonObject again = receivedWithTitle(*receiver_, QStringLiteral("Разбор полётов"));
        QCOMPARE(again["name"].toString(), failing.query().queryItemValue("name", QUrl::FullyDecoded));
        QCOMPARE(again["date"].toString(), failing.query().queryItemValue("date", QUrl::FullyDecoded));
        QVERIFY(!QFileInfo::exists(dir));
        QCOMPARE(recorder.savedCount(), 0);
        QVERIFY(!recorder.isBusy());
    }

    void savedRecordingsGoOldestFirstWithTheirOwnTime() {
        const QString root = tmp_.path();
        const QDateTime older(QDate(2026, 3, 1), QTime(10, 15));
        const QString first = TestSupport::savedRecording(root, older);
        // Finished before: sent as it is, not mixed again (it has no work files left to mix).
        // Its title too long for the field: cut, and the receiver takes the longest.
        const QString second = TestSupport::savedRecording(root, older.addDays(1), 0, QString(1500, QChar(u'я')));
        writeMix(second, 1.0);
        // Not recordings: empty (a failed start), too short, a mixdown cut off.
        const QString empty = TestSupport::savedRecording(root, older, 0);
        const QString tooShort = TestSupport::savedRecording(root, QDateTime(), 0);
        TestSupport::writeCaf(tooShort + "/mic.caf", 0.1, TestSupport::tone(440, 0.3));
        const QString cutOff = TestSupport::savedRecording(root, older, 0);
        QFile(cutOff + "/velmor.m4a.part").open(QIODevice::WriteOnly);
        const auto recorder = recorderWithSaved(2);
        QCoro::waitFor(recorder->sendSaved(server_, QStringLiteral("vl_right")));
        QCOMPARE(recorder->status(), sent());
        // Never sent before: named by the moment its audio ended.
        const QJsonObject sentFirst = receivedWithTitle(*receiver_, QStringLiteral("Звонок 1 марта, 10:45"));
        QCOMPARE(sentFirst["name"].toString(), QStringLiteral("Запись 2026-03-01 10-45.m4a"));
        QCOMPARE(sentFirst["date"].toString(), older.toUTC().date().toString(Qt::ISODate));
        const QJsonObject sentSecond = receivedWithTitle(*receiver_, QString(Recorder::kTitleLimit, QChar(u'я')));
        QCOMPARE(sentSecond["name"].toString(), QStringLiteral("Запись 2026-03-02 10-45.m4a"));
        // The newest went last.
        QCOMPARE(recorder->lastLink()->path().section('/', -1), sentSecond["id"].toString());
        QVERIFY(!QFileInfo::exists(first) && !QFileInfo::exists(second));
        QVERIFY(QFileInfo::exists(empty) && QFileInfo::exists(tooShort) && QFileInfo::exists(cutOff));
        QCOMPARE(recorder->savedCount(), 0);
    }

    // Junk, cut off, or a link where the finished mix should be, beside work files that hold the
    // recording: the mix is made again from them; an empty work file is left out. With no work
    // files to make it again, it is never sent.
    void aMixThatIsNotWholeIsMadeAgain_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"random bytes", "link", "another codec", "packets missing",
                                 "longer than the work", "no work files"}) {
            QTest::newRow(kind) << QString::fromLatin1(kind);
        }
    }
    void aMixThatIsNotWholeIsMadeAgain() {
        QFETCH(QString, kind);
        const QString dir = TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-3600),
                                                        kind == "no work files" ? 0 : 3.0);
        QFile(dir + "/mic.caf").open(QIODevice::WriteOnly);
        const QString mix = dir + "/velmor.m4a";
        if (kind == "random bytes" || kind == "no work files") {
            QVERIFY(TestSupport::writeFile(mix, QByteArray(64 * 1024, '\x5a')));
        } else if (kind == "link") {
            const QString elsewhere = tmp_.filePath("elsewhere");
            QDir().mkpath(elsewhere);
            writeMix(elsewhere, 1.0);
            QVERIFY(QFile::link(elsewhere + "/velmor.m4a", mix));
            // And a recording.json that would hang a blocking read.
            QFile::remove(dir + "/recording.json");
            QCOMPARE(::mkfifo(QFile::encodeName(dir + "/recording.json").constData(), 0600), 0);
        } else if (kind == "packets missing" || kind == "longer than the work") {
            // Of another tone: a send of it would be heard. Its index first, so that it still opens
            // when its data is cut: it then states 4.5 s and holds 3.
            const QString seconds = kind == "packets missing" ? QStringLiteral("4.5") : QStringLiteral("5");
            QCOMPARE(TestSupport::run("ffmpeg", {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                                 "sine=f=1000:d=" + seconds, "-c:a", "aac", "-movflags",
                                                 "+faststart", "-f", "mp4", mix}),
                     0);
            if (kind == "packets missing") {
                QFile cut(mix);
                QVERIFY(cut.resize(cut.size() * 2 / 3));
            }
        } else {
            // A whole MPEG-4 file, but not of one AAC track.
            QCOMPARE(TestSupport::run("ffmpeg", {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                                 "sine=f=440:d=3", "-c:a", "alac", "-f", "mp4", mix}),
                     0);
        }
        const auto recorder = recorderWithSaved(1);
        const qsizetype received = receiver_->received().size();
        const qsizetype before = notifications().size();
        QCoro::waitFor(recorder->sendSaved(server_, QStringLiteral("vl_right")));
        if (kind == "no work files") {
            const QString broken = QStringLiteral("Запись повреждена — её не из чего собрать");
            QCOMPARE(recorder->status(), "Ошибка: " + broken + ". Файл сохранён в " + dir);
            QTRY_COMPARE_WITH_TIMEOUT(notified(before, QStringLiteral("Не удалось отправить")).size(), 1, 5000);
            QCOMPARE(receiver_->received().size(), received);
            QVERIFY(QFileInfo::exists(mix));
            QCOMPARE(recorder->savedCount(), 0); // not offered again: nothing in it can be sent
            return;
        }
        QCOMPARE(recorder->status(), sent());
        const QString id = recorder->lastLink()->path().section('/', -1);
        const TestSupport::Pcm delivered = TestSupport::decode(tmp_.filePath("received/" + id + "/recording.m4a"));
        QVERIFY2(std::abs(delivered.frames() - 3 * 48000) <= 1024,
                 qPrintable(QString::number(delivered.frames())));
        QVERIFY(TestSupport::toneLevel(delivered.left, 48000, 2 * 48000, 440) > 0.2);
        QVERIFY(TestSupport::toneLevel(delivered.left, 48000, 2 * 48000, 1000) < 0.01);
        QVERIFY(!QFileInfo::exists(dir));
    }

    // A send publishes its progress: the mixdown from the work files, then the upload on a slow
    // link as the network takes the file, each from near 0 up, with the time left once the rate
    // is known; then it is gone.
    void aSendPublishesItsProgress() {
        TestSupport::savedRecording(WorkDirectory::root(), QDateTime::currentDateTime().addDays(-1), 120.0);
        const TestSupport::Script server(QStringLiteral("slow_server.py"), {QStringLiteral("524288")});
        const QString address = QStringLiteral("http://127.0.0.1:") + QString::fromUtf8(server.firstLine);
        auto recorder = recorderWithSaved(1);
        // Each announcement comes before a store: the value it finds is the one stored before.
        QList<SendProgress> mixing;
        QList<SendProgress> uploading;
        connect(recorder.get(), &Recorder::objectWillChange, this, [&] {
            if (const std::optional<SendProgress> now = recorder->progress()) {
                QList<SendProgress>& stage = now->isMixing ? mixing : uploading;
                if (stage.isEmpty() || stage.last().done != now->done) {
                    stage.append(*now);
                }
            }
        });
        QCoro::waitFor(recorder->sendSaved(address, QStringLiteral("vl_right")));
        QCOMPARE(recorder->status(), sent());
        QVERIFY(!recorder->progress());
        // A mixdown is read five times a second: a fast machine may finish it within one reading.
        QVERIFY(!mixing.isEmpty() && uploading.size() >= 2);
        QVERIFY(mixing.first().percent() < 50 && uploading.first().percent() < 50);
        QCOMPARE(uploading.last().percent(), 100);
        QVERIFY(std::any_of(uploading.begin(), uploading.end(),
                            [](const SendProgress& p) { return p.secondsLeft >= 0; }));
    }

    void aBatchStopsAtAFailureEverySendWouldMeet() {
        QStringList dirs;
        for (int i = 0; i < 3; ++i) {
            dirs.append(
                TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-3600 * (3 - i))));
        }
        const auto recorder = recorderWithSaved(3);
        const qsizetype before = notifications().size();
        QCoro::waitFor(recorder->sendSaved(server_, QString()));
        QCOMPARE(recorder->status(),
                 QStringLiteral("Ошибка: Не задан ключ API — откройте настройки виджета. Файл сохранён в ") +
                     dirs[0] + QStringLiteral(". Ещё не отправлено записей: 2"));
        QTRY_COMPARE_WITH_TIMEOUT(notified(before, QStringLiteral("Не удалось отправить")).size(), 1, 5000);
        QCoro::waitFor(TestSupport::pause(300));
        QCOMPARE(notifications().size(), before + 1);
        QVERIFY(QFileInfo::exists(dirs[0] + "/velmor.m4a"));
        QVERIFY(!QFileInfo::exists(dirs[1] + "/velmor.m4a") && !QFileInfo::exists(dirs[2] + "/velmor.m4a"));
        QCOMPARE(recorder->savedCount(), 3);
        QVERIFY(!recorder->isBusy());
    }

    // Nothing of the user's is lost on the way: a work file that cannot be read stays on disk
    // (and is not offered again), a title typed before an interruption goes with the recording,
    // and a recording whose metadata cannot be written is not sent under a name it cannot keep.
    void nothingOfTheUsersIsLost() {
        // A damaged microphone file beside a good system file: its first bytes overwritten.
        const QString damaged =
            TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-600));
        TestSupport::writeCaf(damaged + "/mic.caf", 1.0, TestSupport::tone(1000, 0.3));
        QFile mic(damaged + "/mic.caf");
        QVERIFY(mic.open(QIODevice::ReadWrite) && mic.write("XXXX") == 4);
        mic.close();
        auto recorder = recorderWithSaved(1);
        QCoro::waitFor(recorder->sendSaved(server_, QStringLiteral("vl_right")));
        QCOMPARE(recorder->status(),
                 sent() + QStringLiteral(" Файл записи, который не удалось прочитать, оставлен в ") + damaged);
        QVERIFY(QFileInfo::exists(damaged + "/mic.caf"));
        recorderWithSaved(0);

        // A title typed, then the recording interrupted: sent later with that title.
        auto service = std::make_shared<FakeCaptureService>();
        MockClock clock;
        Recorder interrupted(service);
        QCoro::waitFor(interrupted.start());
        service->deliver(1.0);
        interrupted.title = QStringLiteral("Созвон");
        clock.advance(1000); // kept a second behind the typing, as a crash would find it
        QFile info(interrupted.capture().lastPath() + "/recording.json");
        QVERIFY(info.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(info.readAll())["title"].toString(), QStringLiteral("Созвон"));
        interrupted.title = QStringLiteral("Созвон с юристами");
        service->fail();
        QTRY_VERIFY(!interrupted.isRecording());
        QCoro::waitFor(interrupted.sendSaved(server_, QStringLiteral("vl_right")));
        QCOMPARE(interrupted.status(), sent());
        QVERIFY(!receivedWithTitle(*receiver_, QStringLiteral("Созвон с юристами")).isEmpty());

        // recording.json cannot be replaced (a directory where its draft goes): not sent, kept.
        const QString unwritable =
            TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-300));
        QVERIFY(QDir().mkpath(unwritable + "/recording.json.new"));
        const qsizetype received = receiver_->received().size();
        recorder = recorderWithSaved(1);
        QCoro::waitFor(recorder->sendSaved(server_, QStringLiteral("vl_right")));
        QVERIFY2(recorder->status().startsWith(QStringLiteral("Ошибка: Не удалось сохранить сведения о записи")),
                 qPrintable(recorder->status()));
        QCOMPARE(receiver_->received().size(), received);
        QCOMPARE(recorder->savedCount(), 1);

        // A recording that cannot be read or written is never offered, only counted once.
        const QString locked =
            TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-200));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        const auto later = recorderWithSaved(1);
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(later->unusableSaved(),
                 QStringLiteral("Есть записи, которые не удаётся прочитать: 1 — они в ") + tmp_.path());
    }

    // Cancelled while it is mixed, then while the server is awaited: each time it stays as it was.
    void aSendCanBeCancelledAndStaysSaved() {
        MockClock clock;
        TestSupport::HttpServer silent;
        silent.behaviour = TestSupport::HttpServer::Behaviour::silent;
        const QString dir =
            TestSupport::savedRecording(tmp_.path(), QDateTime::currentDateTime().addSecs(-60), 120);
        const auto recorder = recorderWithSaved(1);
        const QString address = silent.address();
        const QString cancelled = QStringLiteral("Ошибка: Отправка отменена. Файл сохранён в ") + dir;
        auto mixing = recorder->sendSaved(address, QStringLiteral("vl_right"));
        QTRY_VERIFY(recorder->progress() && recorder->progress()->isMixing);
        recorder->cancelSend();
        QCoro::waitFor(mixing);
        QCOMPARE(recorder->status(), cancelled);
        QCOMPARE(QDir(dir).entryList({QStringLiteral("velmor.m4a*")}), QStringList());
        QCOMPARE(silent.requests + silent.request.size(), 0);
        auto sending = recorder->sendSaved(address, QStringLiteral("vl_right"));
        QTRY_COMPARE(recorder->status(), QStringLiteral("Отправляем в Велмор…"));
        QVERIFY(recorder->isSending() && recorder->isBusy() && !recorder->canSendSaved());
        // A second choice, a start and a stop-and-send are all turned away meanwhile.
        QCoro::waitFor(recorder->sendSaved(address, QStringLiteral("vl_right")));
        QCoro::waitFor(recorder->start());
        QCOMPARE(recorder->status(), QStringLiteral("Отправляем в Велмор…"));
        // All of it out, no reply: the bar says the server is awaited.
        QTRY_VERIFY(recorder->progress() && recorder->progress()->percent() == 100);
        clock.advance(10'000);
        QVERIFY(recorder->progress()->isWaitingForServer);
        recorder->cancelSend();
        QCoro::waitFor(sending);
        QCOMPARE(recorder->status(), cancelled);
        QVERIFY(!recorder->isBusy() && !recorder->isSending());
        QVERIFY(QFileInfo::exists(dir + "/velmor.m4a"));
        QCOMPARE(recorder->savedCount(), 1);
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
        auto service = std::make_shared<FakeCaptureService>();
        Recorder recorder(service);
        const qsizetype before = notifications().size();
        QCoro::waitFor(recorder.start());
        for (int i = 0; i < 20; ++i) {
            service->deliver(0.1);
        }
        const QString dir = recorder.capture().lastPath();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 15000);
        QCOMPARE(recorder.status(),
                 QStringLiteral("Запись прервана: Не удалось записать аудиофайл (на диске закончилось место). "
                                "Файл сохранён в ") +
                     dir);
        QCOMPARE(TestSupport::awaitNotified(before, QStringLiteral("Запись прервана"))["body"].toString(),
                 QStringLiteral("Не удалось записать аудиофайл (на диске закончилось место)"));
        QCOMPARE(recorder.savedCount(), 1);
        // Space comes back: what was written before is sent, complete.
        QVERIFY(filler.remove());
        const double written = TestSupport::probe(dir + "/system.caf").seconds;
        QVERIFY2(written > 0.5, qPrintable(QString::number(written)));
        QCoro::waitFor(recorder.sendSaved(server_, QStringLiteral("vl_right")));
        QCOMPARE(recorder.status(), sent());
        const QString id = recorder.lastLink()->path().section('/', -1);
        const double delivered = TestSupport::probe(tmp_.filePath("received/" + id + "/recording.m4a")).seconds;
        QVERIFY2(std::abs(delivered - written) < 0.1,
                 qPrintable(QStringLiteral("%1 of %2 s").arg(delivered).arg(written)));
    }
};

QTEST_MAIN(SendTest)
#include "tst_send.moc"
