// The recorder's state and its start, on a capture service whose every step can fail and a clock
// the test moves; no session bus at all.
#include "DateStamps.h"
#include "FakeCapture.h"
#include "MockClock.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>
#include <QTimeZone>
#include <cmath>

namespace {

const QString kSuffix = QStringLiteral(". Проверьте, что звуковой сервер (PipeWire или PulseAudio) запущен.");

} // namespace

class StartTest : public QObject {
    Q_OBJECT

    TestSupport::PrivateDirs tmp_;

private slots:
    void initTestCase() {
        // No session bus at all: notifications must neither block nor disturb a send.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velmor-test-bus");
    }

    void init() { tmp_.reset(); }

    // Each step is told as it starts, from the start to the end of a send (mixing at once after the
    // stop, even when nothing in the recording turns out usable), the phase moving with them; a
    // second start while recording changes nothing. With no notification service, a send ends as usual.
    void aRecordingGoesThroughItsSteps() {
        auto service = std::make_shared<FakeCaptureService>();
        Recorder recorder(service);
        QStringList steps;
        QList<Phase> phases;
        // Announced before each store: what was stored before it, the last one read at the end.
        const auto note = [&] {
            if (steps.value(steps.size() - 1) != recorder.status()) {
                steps.append(recorder.status());
            }
            if (phases.value(phases.size() - 1) != recorder.phase()) {
                phases.append(recorder.phase());
            }
        };
        connect(&recorder, &Recorder::objectWillChange, this, note);
        QCoro::waitFor(recorder.start());
        QCOMPARE(service->outputsAdded,
                 (QList<Capture::OutputType>{Capture::OutputType::Audio, Capture::OutputType::Microphone}));
        QCoro::waitFor(recorder.start());
        QCOMPARE(service->streamsMade, 1);
        const QString dir = recorder.capture().lastPath();
        QCoro::waitFor(recorder.stopAndSend(QStringLiteral("http://127.0.0.1:9"), QStringLiteral("k")));
        note();
        QCOMPARE(
            steps,
            (QStringList{QStringLiteral("Готов к записи"), QStringLiteral("Запрашиваем доступ…"),
                         QStringLiteral("Идёт запись. Говорите как обычно."), QStringLiteral("Останавливаем…"),
                         QStringLiteral("Сводим запись…"),
                         QStringLiteral("Ошибка: Запись пустая — ничего не прозвучало. Файл сохранён в ") + dir}));
        QCOMPARE(phases,
                 (QList<Phase>{Phase::starting, Phase::recording, Phase::stopping, Phase::sending, Phase::idle}));
    }

    // A microphone is told silent after 20 s of digital silence at any time, while a noise floor
    // far below speech is not; the computer's sound only after 2 minutes of silence from the start.
    void digitalSilenceIsToldAfterItsTime() {
        MockClock clock;
        // A recording fed the given seconds of each source's amplitude: the warning at the next tick.
        struct Feed {
            MockClock& clock;
            std::shared_ptr<FakeCaptureService> service = std::make_shared<FakeCaptureService>();
            Recorder recorder{service};
            QString after(double seconds, double system, double mic) {
                service->deliver(seconds, system, mic);
                clock.advance(1000);
                return recorder.sourceWarning();
            }
        };
        Feed speaking{clock};
        QCoro::waitFor(speaking.recorder.start());
        const double noiseFloor = std::pow(10.0, -70.0 / 20); // -70 dBFS
        QCOMPARE(speaking.after(5, 0.3, 0.3), QString());
        QCOMPARE(speaking.after(19, 0.3, noiseFloor), QString());
        QCOMPARE(speaking.after(19, 0.3, 0), QString());
        QVERIFY(speaking.after(1.5, 0.3, 0).startsWith(QStringLiteral("Микрофон не слышно")));
        QCOMPARE(speaking.after(0.1, 0.3, 0.3), QString());

        // Silence from the computer is told only from the start of a recording.
        Feed quiet{clock};
        QCoro::waitFor(quiet.recorder.start());
        QCOMPARE(quiet.after(119, 0, 0.3), QString());
        QVERIFY(quiet.after(1.5, 0, 0.3).startsWith(QStringLiteral("Звука компьютера не слышно")));
        QCOMPARE(quiet.after(0.1, 0.001, 0.3), QString());
        // Both silent from the start: both told.
        Feed mute{clock};
        QCoro::waitFor(mute.recorder.start());
        const QStringList both = mute.after(121, 0, 0).split(u'\n');
        QCOMPARE(both.size(), 2);
        QVERIFY(both[0].startsWith(QStringLiteral("Микрофон не слышно")) &&
                both[1].startsWith(QStringLiteral("Звука компьютера не слышно")));

        // A microphone that delivers nothing is told missing within three seconds, by the clock;
        // it is followed again as soon as it delivers, and told again when it stalls.
        Feed alone{clock};
        QCoro::waitFor(alone.recorder.start());
        const QString missing = QStringLiteral("Микрофон не найден: записывается только звук компьютера. "
                                               "Подключите микрофон или выберите его в настройках звука.");
        for (int stall = 0; stall < 2; ++stall) {
            QCOMPARE(alone.after(0.5, 0.3, -1), QString());
            clock.advance(1499);
            QCOMPARE(alone.recorder.sourceWarning(), QString());
            clock.advance(1);
            QCOMPARE(alone.recorder.sourceWarning(), missing);
            QCOMPARE(alone.after(0.1, 0.3, 0.3), QString());
        }
    }

    // A server that cannot be reached leaves no directory; a failure after it was made leaves it empty.
    void failedStartsLeaveNothing_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("no server") << -1;
        QTest::newRow("microphone output") << 1;
        QTest::newRow("start") << 2;
    }
    void failedStartsLeaveNothing() {
        QFETCH(int, fault);
        auto service = std::make_shared<FakeCaptureService>();
        service->failQuery = fault == -1;
        service->failMicrophoneOutput = fault == 1;
        service->failStart = fault == 2;
        Recorder recorder(service);
        QCoro::waitFor(recorder.start());
        QVERIFY(recorder.status().startsWith(QStringLiteral("Не удалось начать: ")));
        QVERIFY(!recorder.isBusy() && !recorder.isRecording() && !recorder.capture().isRunning());
        if (fault == -1) {
            QCOMPARE(recorder.status(),
                     QStringLiteral("Не удалось начать: Не удалось подключиться к аудиосерверу (test)") + kSuffix);
            QVERIFY(QDir(tmp_.path()).entryList({QStringLiteral("velmor-*")}, QDir::Dirs).isEmpty());
            return;
        }
        QCOMPARE(service->outputsAdded.size(), fault);
        const QString dir = recorder.capture().lastPath();
        recorder.closeWorkFiles(); // whatever was delivered has been written
        QVERIFY(QFileInfo(dir).isDir());
        QVERIFY(QDir(dir).isEmpty());
    }

    void everyAssignmentAnnouncesOnceBeforeTheStore() {
        auto service = std::make_shared<FakeCaptureService>();
        Recorder recorder(service);
        QStringList seen;
        connect(&recorder, &Recorder::objectWillChange, this, [&] { seen.append(recorder.status()); });
        recorder.status = QStringLiteral("Первый");
        recorder.status = QStringLiteral("Первый"); // an equal value is announced too
        QCOMPARE(seen, (QStringList{QStringLiteral("Готов к записи"), QStringLiteral("Первый")}));
        // A tick of a recording announces its new elapsed time, once; whole seconds, minutes past 59.
        MockClock clock;
        Recorder recording(service);
        QCoro::waitFor(recording.start());
        int announced = 0;
        connect(&recording, &Recorder::objectWillChange, this, [&] { ++announced; });
        clock.advance(2000);
        QCOMPARE(announced, 1);
        QCOMPARE(recording.elapsedText(), QStringLiteral("00:02"));
        clock.advance(3'723'999);
        QCOMPARE(recording.elapsedText(), QStringLiteral("62:05"));
        // The meter's report pace: at most five a second, each stage's last one always, the time
        // left once two seconds have given a rate.
        ProgressMeter meter;
        QVERIFY(meter.report(0, 1000, false));
        clock.advance(199);
        QVERIFY(!meter.report(10, 1000, false));
        clock.advance(1);
        QCOMPARE(meter.report(20, 1000, false)->secondsLeft, -1);
        QVERIFY(meter.report(1000, 1000, false));
        clock.advance(1800);
        QCOMPARE(meter.report(500, 1000, false)->secondsLeft, 2);  // half in 2 s: 2 s to go
        QCOMPARE(meter.report(1000, 1000, true)->secondsLeft, -1); // a new stage, a new rate
        // Every byte out and no reply: told after ten seconds, once.
        QVERIFY(meter.report(1000, 1000, false));
        clock.advance(9999);
        QVERIFY(!meter.poll());
        clock.advance(1);
        const std::optional<SendProgress> waiting = meter.poll();
        QVERIFY(waiting && waiting->isWaitingForServer);
        QVERIFY(waiting->text().endsWith(QStringLiteral("МБ · ждём ответа сервера")));
        QVERIFY(!meter.poll());
    }

    // East of UTC: at 00:30 local time the UTC date is still the previous day. (Last: it sets TZ.)
    void afterLocalMidnightTheUtcDateIsTheDayBefore() {
        qputenv("TZ", "Europe/Moscow");
        tzset();
        const QDateTime night(QDate(2026, 3, 1), QTime(0, 30), QTimeZone("Europe/Moscow"));
        QCOMPARE(dateOnly().string(night), QStringLiteral("2026-02-28"));
        QCOMPARE(fileStamp().string(night), QStringLiteral("2026-03-01 00-30"));
        QCOMPARE(humanStamp().string(night), QStringLiteral("1 марта, 00:30"));
    }
};

QTEST_MAIN(StartTest)
#include "tst_start.moc"
