#include "CaptureError.h"
#include "DateStamps.h"
#include "ErrorDescription.h"
#include "FakeCapture.h"
#include "TestSupport.h"
#include "VelmorError.h"

#include <QTest>
#include <QTimeZone>

class RecorderStateTest : public QObject {
    Q_OBJECT

private slots:
    void newRecorderIsIdle() {
        Recorder recorder(std::make_shared<FakeCaptureService>());
        QCOMPARE(recorder.status(), QStringLiteral("Готов к записи"));
        QCOMPARE(recorder.elapsedText(), QStringLiteral("00:00"));
        QCOMPARE(recorder.title(), QString());
        QVERIFY(!recorder.lastLink());
        QVERIFY(!recorder.isRecording());
        QVERIFY(!recorder.isBusy());
        QVERIFY(!RecorderTestAccess::stream(recorder));
        QVERIFY(!RecorderTestAccess::writer(recorder));
        QVERIFY(!RecorderTestAccess::workDir(recorder));
        QVERIFY(!RecorderTestAccess::startedAt(recorder));
        QVERIFY(!RecorderTestAccess::timer(recorder));
        QCOMPARE(RecorderTestAccess::queue(recorder).label(), QStringLiteral("app.velmor.Velmor.capture"));
    }

    void everyAssignmentAnnouncesOnceBeforeTheStore() {
        Recorder recorder(std::make_shared<FakeCaptureService>());
        QStringList seenStatus;
        QList<bool> seenRecording;
        connect(&recorder, &Recorder::objectWillChange, this, [&] {
            seenStatus.append(recorder.status());
            seenRecording.append(recorder.isRecording());
        });
        recorder.status = QStringLiteral("Первый");
        QCOMPARE(seenStatus, QStringList{QStringLiteral("Готов к записи")});
        recorder.status = QStringLiteral("Первый"); // equal value: still announced
        QCOMPARE(seenStatus.size(), 2);
        QCOMPARE(seenStatus.last(), QStringLiteral("Первый"));
        recorder.isRecording = true;
        QCOMPARE(seenRecording.last(), false);
        recorder.title = QString();
        recorder.elapsedText = QStringLiteral("00:01");
        recorder.isBusy = false;
        recorder.lastLink = QUrl(QStringLiteral("https://example.org/m/1"));
        QCOMPARE(seenStatus.size(), 7);
    }

    void plainFieldsAndTicksWithoutStartAnnounceNothing() {
        Recorder recorder(std::make_shared<FakeCaptureService>());
        int signals_ = 0;
        connect(&recorder, &Recorder::objectWillChange, this, [&] { ++signals_; });
        RecorderTestAccess::tick(recorder); // no startedAt: nothing changes
        QCOMPARE(signals_, 0);
        QCOMPARE(recorder.elapsedText(), QStringLiteral("00:00"));
        RecorderTestAccess::startedAt(recorder) = QDateTime::currentDateTimeUtc().addSecs(-125);
        QCOMPARE(signals_, 0);
        RecorderTestAccess::tick(recorder);
        QCOMPARE(signals_, 1);
        QCOMPARE(recorder.elapsedText(), QStringLiteral("02:05"));
        RecorderTestAccess::tick(recorder); // same text, announced again
        QCOMPARE(signals_, 2);
    }

    void elapsedTextFormatting_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0.9 s") << 0.9 << "00:00";
        QTest::newRow("59.99 s") << 59.99 << "00:59";
        QTest::newRow("60 s") << 60.0 << "01:00";
        QTest::newRow("3599 s") << 3599.0 << "59:59";
        QTest::newRow("3600 s") << 3600.0 << "60:00";
        QTest::newRow("3725 s") << 3725.0 << "62:05";
        QTest::newRow("6000 s") << 6000.0 << "100:00";
        QTest::newRow("clock set back") << -65.0 << "00:00";
    }
    void elapsedTextFormatting() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(Recorder::formatElapsed(seconds), text);
    }

    void errorDescriptions() {
        QCOMPARE(errorDescription(std::make_exception_ptr(VelmorError(QString()))), QString());
        const QString message = QStringLiteral("Запись пустая — ничего не прозвучало");
        const QString described = errorDescription(std::make_exception_ptr(VelmorError(message)));
        QCOMPARE(described, message);
        QVERIFY(!described.contains(QStringLiteral("VelmorError")));
        const QString platform = errorDescription(std::make_exception_ptr(Capture::CaptureError(
            Capture::CaptureError::Kind::ConnectionRefused, QStringLiteral("Connection refused"))));
        QCOMPARE(platform, QStringLiteral("Не удалось подключиться к аудиосерверу (Connection refused)"));
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

    void stampsOfOneMoment() {
        const QDateTime evening(QDate(2026, 12, 5), QTime(21, 25), QTimeZone("Europe/Moscow"));
        QCOMPARE(dateOnly().string(evening), QStringLiteral("2026-12-05"));
        QCOMPARE(fileStamp().string(evening), QStringLiteral("2026-12-05 21-25"));
        QCOMPARE(humanStamp().string(evening), QStringLiteral("5 декабря, 21:25"));
    }

    void afterLocalMidnightTheUtcDateIsTheDayBefore() {
        const QDateTime night(QDate(2026, 3, 1), QTime(0, 30), QTimeZone("Europe/Moscow"));
        QCOMPARE(dateOnly().string(night), QStringLiteral("2026-02-28"));
        QCOMPARE(fileStamp().string(night), QStringLiteral("2026-03-01 00-30"));
        QCOMPARE(humanStamp().string(night), QStringLiteral("1 марта, 00:30"));
    }

    void morningHoursKeepTwoDigits() {
        const QDateTime morning(QDate(2026, 7, 9), QTime(9, 5), QTimeZone("Europe/Moscow"));
        QCOMPARE(fileStamp().string(morning), QStringLiteral("2026-07-09 09-05"));
        QCOMPARE(humanStamp().string(morning), QStringLiteral("9 июля, 09:05"));
    }

    void allTwelveGenitiveMonths() {
        const QStringList months{"января", "февраля", "марта",    "апреля",  "мая",    "июня",
                                 "июля",   "августа", "сентября", "октября", "ноября", "декабря"};
        for (int month = 1; month <= 12; ++month) {
            const QDateTime day(QDate(2026, month, 15), QTime(12, 0), QTimeZone("Europe/Moscow"));
            QCOMPARE(humanStamp().string(day),
                     QStringLiteral("15 ") + months[month - 1] + QStringLiteral(", 12:00"));
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
