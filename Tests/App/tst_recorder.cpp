#include "DateStamps.h"
#include "FakeCapture.h"
#include "MockClock.h"
#include "TestSupport.h"

#include <QTest>
#include <QTimeZone>

class RecorderStateTest : public QObject {
    Q_OBJECT

private slots:
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
};

class DateStampsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // East of UTC: at 00:30 local time the UTC date is still the previous day.
        qputenv("TZ", "Europe/Moscow");
        tzset();
    }

    void afterLocalMidnightTheUtcDateIsTheDayBefore() {
        const QDateTime night(QDate(2026, 3, 1), QTime(0, 30), QTimeZone("Europe/Moscow"));
        QCOMPARE(dateOnly().string(night), QStringLiteral("2026-02-28"));
        QCOMPARE(fileStamp().string(night), QStringLiteral("2026-03-01 00-30"));
        QCOMPARE(humanStamp().string(night), QStringLiteral("1 марта, 00:30"));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    RecorderStateTest state;
    DateStampsTest stamps;
    return QTest::qExec(&state, argc, argv) | QTest::qExec(&stamps, argc, argv);
}

#include "tst_recorder.moc"
