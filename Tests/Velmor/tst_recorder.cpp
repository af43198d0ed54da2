#include "DateStamps.h"
#include "FakeCapture.h"
#include "TestSupport.h"

#include <QTest>
#include <QTimeZone>

class RecorderStateTest : public QObject {
    Q_OBJECT

private slots:
    void everyAssignmentAnnouncesOnceBeforeTheStore() {
        Recorder recorder(std::make_shared<FakeCaptureService>());
        QStringList seen;
        connect(&recorder, &Recorder::objectWillChange, this, [&] { seen.append(recorder.status()); });
        recorder.status = QStringLiteral("Первый");
        recorder.status = QStringLiteral("Первый"); // an equal value is announced too
        QCOMPARE(seen, (QStringList{QStringLiteral("Готов к записи"), QStringLiteral("Первый")}));
        // Plain fields announce nothing; a tick without a start changes nothing.
        RecorderTestAccess::tick(recorder);
        RecorderTestAccess::startedAt(recorder) = QDateTime::currentDateTimeUtc().addSecs(-125);
        QCOMPARE(seen.size(), 2);
        RecorderTestAccess::tick(recorder);
        QCOMPARE(seen.size(), 3);
        QCOMPARE(recorder.elapsedText(), QStringLiteral("02:05"));
    }

    void elapsedTextFormatting() {
        QCOMPARE(Recorder::formatElapsed(59.99), QStringLiteral("00:59"));
        QCOMPARE(Recorder::formatElapsed(3725), QStringLiteral("62:05")); // minutes go on past 59
        QCOMPARE(Recorder::formatElapsed(6000), QStringLiteral("100:00"));
        QCOMPARE(Recorder::formatElapsed(-65), QStringLiteral("00:00")); // a clock set back
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
