// The recorder driven over the private session bus, as a key binding or a script would drive it.
#include "FakeCapture.h"
#include "RemoteControl.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QTest>

// Keeps what the bus announced of the object's properties.
class Announcements : public QObject {
    Q_OBJECT

public:
    QStringList states;

public slots:
    void changed(const QString&, const QVariantMap& properties, const QStringList&) {
        states.append(properties.value(QStringLiteral("State")).toString());
    }
};

class ControlTest : public QObject {
    Q_OBJECT

    TestSupport::PrivateDirs dirs_;

    static QDBusMessage call(const QString& method) {
        return TestSupport::callBus(QString::fromLatin1(RemoteControl::kService),
                                    QString::fromLatin1(RemoteControl::kPath),
                                    QString::fromLatin1(RemoteControl::kInterface), method);
    }
    static QString state() {
        return TestSupport::busProperty(QString::fromLatin1(RemoteControl::kService),
                                        QString::fromLatin1(RemoteControl::kPath),
                                        QString::fromLatin1(RemoteControl::kInterface), QStringLiteral("State"))
            .toString();
    }

private slots:
    // Each method acts where it can and says in Russian why it cannot; State follows the phase
    // and is announced as it changes.
    void theRecorderIsDrivenOverTheBus() {
        Recorder recorder(std::make_shared<FakeCaptureService>());
        Preferences::Settings settings;
        RemoteControl control(recorder, settings);
        QVERIFY(control.registerOnSessionBus());
        Announcements announced;
        QVERIFY(QDBusConnection::sessionBus().connect(
            QString::fromLatin1(RemoteControl::kService), QString::fromLatin1(RemoteControl::kPath),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), &announced,
            SLOT(changed(QString, QVariantMap, QStringList))));
        QCOMPARE(state(), QStringLiteral("idle"));
        const QDBusMessage notRecording = call(QStringLiteral("StopAndSend"));
        QCOMPARE(notRecording.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(notRecording.errorMessage(), QStringLiteral("Запись не идёт"));

        QCOMPARE(call(QStringLiteral("Start")).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE(state(), QStringLiteral("recording"));
        QTRY_COMPARE(announced.states.value(announced.states.size() - 1), QStringLiteral("recording"));
        QCOMPARE(call(QStringLiteral("Start")).errorMessage(), QStringLiteral("Запись уже идёт"));

        // Toggled while recording: stopped and sent (here: kept, as there is no key).
        QCOMPARE(call(QStringLiteral("Toggle")).type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE(state(), QStringLiteral("idle"));
        QTRY_COMPARE(announced.states.value(announced.states.size() - 1), QStringLiteral("idle"));
        QVERIFY(recorder.status().startsWith(QStringLiteral("Ошибка: ")));
    }
};

QTEST_MAIN(ControlTest)
#include "tst_control.moc"
