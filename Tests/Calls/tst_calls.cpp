// Calls noticed from the audio server: the decision over stream descriptions, then a call client
// on the private audio server (recording the microphone and playing a tone) with the real
// recorder, the local receiver and the notification server's actions.
#include "CallResponder.h"
#include "CallWatch.h"
#include "MockClock.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QTest>

using TestSupport::notified;

namespace {

Capture::ClientStream stream(bool isRecording, const QString& binary, const QString& name = {}) {
    Capture::ClientStream s;
    s.isRecording = isRecording;
    s.binary = binary;
    s.applicationName = name.isEmpty() ? binary : name;
    return s;
}
Capture::ClientStream capture(const QString& binary, const QString& name = {}) {
    return stream(true, binary, name);
}
Capture::ClientStream playback(const QString& binary) {
    return stream(false, binary);
}

// A client on the private audio server, as a call client's process would be.
class Client {
public:
    Client(const QString& name, const QString& binary, bool plays) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_PROP"), QStringLiteral("application.process.binary=") + binary);
        for (QProcess* process : {&recorder_, &player_}) {
            process->setProcessEnvironment(environment);
            process->setStandardOutputFile(QProcess::nullDevice());
        }
        recorder_.start(QStringLiteral("parecord"), {QStringLiteral("--client-name=") + name,
                                                     QStringLiteral("--raw"), QStringLiteral("/dev/null")});
        if (plays) {
            player_.start(QStringLiteral("paplay"), {QStringLiteral("--client-name=") + name, tone()});
        }
    }
    ~Client() { end(); }
    void end() {
        for (QProcess* process : {&recorder_, &player_}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    static QString tone() { return QDir::temp().filePath(QStringLiteral("call-tone.caf")); }

private:
    QProcess recorder_;
    QProcess player_;
};

bool hears(const CallWatch& watch, const QString& binary) {
    const auto& streams = watch.streams();
    return std::any_of(streams.begin(), streams.end(),
                       [&](const Capture::ClientStream& s) { return s.isRecording && s.binary == binary; });
}

// How much of the computer's sound the recording being made holds.
double heldSeconds(Recorder& recorder) {
    return double(QFileInfo(recorder.capture().lastPath() + "/system.caf").size()) / (48000 * 8);
}

// Plays the user at the notification server.
void tellNotificationServer(const QString& method, const QVariantList& arguments) {
    TestSupport::callBus(QStringLiteral("org.freedesktop.Notifications"),
                         QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("app.velmor.Test"),
                         method, arguments);
}

// The user choosing an action of a notification, as the notification server tells it.
void choose(const QJsonObject& notification, const QString& action) {
    const QStringList actions = notification["actions"].toVariant().toStringList();
    const QString key = actions.value(actions.indexOf(action) - 1);
    tellNotificationServer(QStringLiteral("Invoke"), {uint(notification["id"].toInt()), key});
}

} // namespace

// The app's side: the recorder, the watch and the responder, on a clock the test moves.
struct App {
    MockClock clock;
    Recorder recorder;
    Preferences::Settings settings;
    CallWatch watch;
    std::unique_ptr<CallResponder> responder = std::make_unique<CallResponder>(recorder, settings, watch);
    App() { watch.start(); }
};

class CallsTest : public QObject {
    Q_OBJECT

    TestSupport::PrivateDirs tmp_;
    std::unique_ptr<TestSupport::Receiver> receiver_;

    void configure(Preferences::CallAction action) {
        Preferences::Settings settings;
        settings.setServerURL(receiver_->address());
        settings.setApiKey(QStringLiteral("vl_key"));
        settings.agreeToAutoRecord();
        settings.setCallAction(action);
    }

private slots:
    void initTestCase() {
        TestSupport::writeCaf(Client::tone(), 60.0, TestSupport::tone(440, 0.2));
        receiver_ = std::make_unique<TestSupport::Receiver>(tmp_.filePath("received"), QStringLiteral("vl_key"));
    }
    void init() { tmp_.reset(); }

    void whichStreamsMakeACall() {
        CallDetector detector;
        QStringList told;
        const auto at = [&](qint64 ms, std::vector<Capture::ClientStream> streams) {
            for (const CallDetector::Event& event : detector.update(std::move(streams), ms)) {
                told << QStringLiteral("%1 %2 %3")
                            .arg(ms)
                            .arg(event.kind == CallDetector::Event::Kind::started ? "started" : "ended")
                            .arg(event.application);
            }
        };
        // A call client, for 5 s; a browser that records only (dictation), then also plays.
        const Capture::ClientStream zoom = capture("zoom", "ZOOM VoiceEngine");
        const Capture::ClientStream firefox = capture("firefox-esr", "Firefox");
        at(0, {zoom, firefox});
        at(4999, {zoom, firefox});
        QVERIFY(told.isEmpty() && !detector.call());
        at(5000, {zoom, firefox});
        QCOMPARE(detector.call(), QStringLiteral("Zoom"));
        at(20000, {zoom, firefox, playback("firefox-esr")});
        at(24000, {zoom, firefox, playback("firefox-esr")});
        at(25000, {zoom, firefox, playback("firefox-esr")});
        QCOMPARE(told, QStringList({"5000 started Zoom", "25000 started Firefox"}));
        // Both gone; Zoom back after 8 s (a reconnect: the same call), Firefox not: it ends 10 s on.
        at(26000, {});
        at(34000, {zoom});
        at(36000, {zoom});
        QCOMPARE(told.mid(2), QStringList({"36000 ended Firefox"}));
        // Zoom gone: ended once, even when it comes back within 15 s and goes again.
        at(40000, {});
        at(50000, {});
        at(52000, {zoom});
        at(58000, {zoom});
        at(59000, {});
        at(75000, {});
        QCOMPARE(told.mid(3), QStringList({"50000 ended Zoom"}));
        // Later, a new call.
        at(80000, {zoom});
        at(85000, {zoom});
        QCOMPARE(told.mid(4), QStringList({"85000 started Zoom"}));

        // No application's microphone: a monitor, our own stream, a server module's, a paused one;
        // and a capture shorter than 5 s.
        CallDetector quiet;
        std::vector<Capture::ClientStream> none(4, capture("zoom"));
        none[0].isFromMonitor = true;
        none[1].isOurs = true;
        none[2].isFromModule = true;
        none[3].isCorked = true;
        quiet.update({capture("telegram-desktop")}, 0);
        QVERIFY(quiet.update(none, 3000).empty());
        QVERIFY(quiet.update(none, 30000).empty() && !quiet.call());

        // Known by any of its names, by word; any other by its own name.
        Capture::ClientStream sandboxed = capture(QString(), QString());
        sandboxed.sandboxId = QStringLiteral("org.telegram.desktop");
        Capture::ClientStream phone = capture(QStringLiteral("baresip"));
        phone.mediaRole = QStringLiteral("phone");
        QCOMPARE(CallDetector::applicationName(sandboxed), QStringLiteral("Telegram"));
        QVERIFY(CallDetector::isCallClient(phone) && CallDetector::isCallClient(sandboxed));
        QVERIFY(!CallDetector::isCallClient(capture("elements")));
        QCOMPARE(CallDetector::applicationName(capture("chromium", "chromium")), QStringLiteral("Chromium"));
    }

    // Suggested at the start and, with the recording still running, at the end: each action does
    // what it says, and the recording arrives. Then recorded by itself.
    void aCallIsSuggestedOrRecorded() {
        configure(Preferences::CallAction::suggest);
        App app;
        auto& [clock, recorder, settings, watch, responder] = app;
        const qsizetype before = TestSupport::notifications().size();
        Client zoom(QStringLiteral("ZOOM VoiceEngine"), QStringLiteral("zoom"), true);
        QTRY_VERIFY_WITH_TIMEOUT(hears(watch, QStringLiteral("zoom")) && watch.isWaiting(), 10000);
        clock.advance(5000);
        const QJsonObject offer = TestSupport::awaitNotified(before, QStringLiteral("Похоже, идёт звонок"));
        QCOMPARE(offer["body"].toString(), QStringLiteral("Zoom — записать встречу?"));
        QCOMPARE(offer["actions"].toVariant().toStringList().value(1), QStringLiteral("Записать"));
        QCOMPARE(watch.call(), QStringLiteral("Zoom"));
        choose(offer, QStringLiteral("Записать"));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.isRecording(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(heldSeconds(recorder) > 1, 10000);

        zoom.end();
        QTRY_VERIFY_WITH_TIMEOUT(!hears(watch, QStringLiteral("zoom")), 10000);
        clock.advance(9000);
        QVERIFY(notified(before, QStringLiteral("Звонок закончился")).isEmpty());
        clock.advance(1000);
        const QJsonObject end = TestSupport::awaitNotified(before, QStringLiteral("Звонок закончился"));
        QCOMPARE(end["body"].toString(), QStringLiteral("Остановить запись и отправить?"));
        QVERIFY(recorder.isRecording()); // started by the user's choice: only suggested
        const qsizetype received = receiver_->received().size();
        choose(end, QStringLiteral("Остановить и отправить"));
        QTRY_VERIFY2_WITH_TIMEOUT(receiver_->received().size() == received + 1, qPrintable(recorder.status()),
                                  30000);
        QTRY_COMPARE(recorder.status(), QStringLiteral("Отправлено. Протокол будет через несколько минут."));
        // One offer each way.
        const QList<QJsonObject> all = TestSupport::notifications();
        QCOMPARE(std::count_if(all.begin() + before, all.end(),
                               [](const QJsonObject& n) { return !n["actions"].toArray().isEmpty(); }),
                 2);

        // Recording by itself: it starts with the call and is sent after it, with no click; a
        // recording started by hand is left running.
        settings.setCallAction(Preferences::CallAction::record);
        const qsizetype later = TestSupport::notifications().size();
        const qsizetype sent = receiver_->received().size();
        {
            Client skype(QStringLiteral("Skype"), QStringLiteral("skypeforlinux"), false);
            QTRY_VERIFY_WITH_TIMEOUT(hears(watch, QStringLiteral("skypeforlinux")), 10000);
            clock.advance(5000);
            QTRY_VERIFY_WITH_TIMEOUT(recorder.isRecording(), 10000);
            QCOMPARE(TestSupport::awaitNotified(later, QStringLiteral("Запись началась"))["body"].toString(),
                     QStringLiteral("Skype: звонок записывается. Остановить можно из меню значка."));
            QTRY_VERIFY_WITH_TIMEOUT(heldSeconds(recorder) > 1, 10000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!hears(watch, QStringLiteral("skypeforlinux")), 10000);
        clock.advance(10000);
        QTRY_COMPARE_WITH_TIMEOUT(receiver_->received().size(), sent + 1, 30000);
        QVERIFY(notified(later, QStringLiteral("Звонок закончился")).isEmpty());

        QTRY_COMPARE(recorder.phase(), Phase::idle);
        QCoro::waitFor(recorder.start());
        {
            Client slack(QStringLiteral("Slack"), QStringLiteral("slack"), false);
            QTRY_VERIFY_WITH_TIMEOUT(hears(watch, QStringLiteral("slack")), 10000);
            clock.advance(5000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!hears(watch, QStringLiteral("slack")), 10000);
        clock.advance(10000);
        QVERIFY(!TestSupport::awaitNotified(later, QStringLiteral("Звонок закончился")).isEmpty());
        QVERIFY(recorder.isRecording());
        QCoro::waitFor(recorder.stopAndSend(QString(), QString()));
    }

    // Where the server shows no buttons, the body says where to start.
    void withoutActionsTheSuggestionSaysWhereToStart() {
        configure(Preferences::CallAction::suggest);
        tellNotificationServer(QStringLiteral("SetActions"), {false}); // asked when the responder is made
        App app;
        const qsizetype before = TestSupport::notifications().size();
        Client discord(QStringLiteral("Discord"), QStringLiteral("Discord"), false);
        QTRY_VERIFY_WITH_TIMEOUT(hears(app.watch, QStringLiteral("Discord")), 10000);
        app.clock.advance(5000);
        QTRY_COMPARE_WITH_TIMEOUT(TestSupport::notifications().size(), before + 1, 5000);
        tellNotificationServer(QStringLiteral("SetActions"), {true});
        const QJsonObject told = TestSupport::notifications().last();
        QCOMPARE(told["body"].toString(),
                 QStringLiteral("Discord — записать встречу? Начать запись можно в меню значка Велмора."));
        QVERIFY(told["actions"].toArray().isEmpty());
    }
};

QTEST_MAIN(CallsTest)
#include "tst_calls.moc"
