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

    void elapsedTextFormatting_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("59.99 s") << 59.99 << "00:59";
        QTest::newRow("3725 s") << 3725.0 << "62:05";
        QTest::newRow("6000 s") << 6000.0 << "100:00";
        QTest::newRow("clock set back") << -65.0 << "00:00";
    }
    void elapsedTextFormatting() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(Recorder::formatElapsed(seconds), text);
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

    void allTwelveGenitiveMonths() {
        const QStringList months{"января", "февраля", "марта",    "апреля",  "мая",    "июня",
                                 "июля",   "августа", "сентября", "октября", "ноября", "декабря"};
        for (int month = 1; month <= 12; ++month) {
            const QDateTime day(QDate(2026, month, 5), QTime(9, 5), QTimeZone("Europe/Moscow"));
            QCOMPARE(humanStamp().string(day),
                     QStringLiteral("5 ") + months[month - 1] + QStringLiteral(", 09:05"));
        }
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    RecorderStateTest state;
    DateStampsTest stamps;
    return QTest::qExec(&state, argc, argv) | QTest::qExec(&stamps, argc, argv);
}

#include "tst_recorder.moc"
