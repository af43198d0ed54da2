// The panel's show, hide and enable rules and its keyboard, offscreen, with a recorder whose
// state the test sets and a capture service that records what it was asked.
#include "FakeCapture.h"
#include "PanelStyle.h"
#include "PanelView.h"
#include "SettingsSection.h"
#include "TestSupport.h"
#include "VelmorApp.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

class PanelTest : public QObject {
    Q_OBJECT

    TestSupport::PrivateDirs dirs_;
    std::shared_ptr<FakeCaptureService> service_;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<PanelView> panel_;

    // The first widget of the kind whose accessible name is `name`, or whose text holds it.
    template <typename Widget>
    Widget* find(const char* name) const {
        for (Widget* widget : panel_->findChildren<Widget*>()) {
            if (widget->accessibleName() == QString::fromUtf8(name) ||
                widget->property("text").toString().contains(QString::fromUtf8(name))) {
                return widget;
            }
        }
        return nullptr;
    }
    QLineEdit* field(const char* name) const { return find<QLineEdit>(name); }
    QPushButton* button(const char* text) const { return find<QPushButton>(text); }
    QLabel* label(const char* text) const { return find<QLabel>(text); }
    QProgressBar* bar(const char* name) const { return find<QProgressBar>(name); }
    bool shown(QWidget* widget) const { return widget && widget->isVisibleTo(panel_.get()); }
    void settle() { QCoreApplication::processEvents(); }

private slots:
    void init() {
        dirs_.reset();
        service_ = std::make_shared<FakeCaptureService>();
        recorder_ = std::make_unique<Recorder>(service_);
        panel_ = std::make_unique<PanelView>(*recorder_);
        panel_->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
    }
    void cleanup() {
        panel_.reset();
        recorder_.reset();
    }

    // The box tells what the session will do: what is on disk when the panel opens, not what was
    // clicked; a change that did not go through says why.
    void theAutostartBoxFollowsTheEntryOnDisk() {
        Preferences::Settings settings;
        Preferences::Autostart entry(QCoreApplication::applicationFilePath());
        SettingsSection section(settings, entry);
        section.show();
        auto* box = section.findChild<QCheckBox*>();
        const auto failure = [&] {
            const QList<QLabel*> labels = section.findChildren<QLabel*>();
            return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) {
                return l->isVisibleTo(&section) &&
                       l->text().startsWith(QStringLiteral("Не удалось изменить автозапуск: "));
            });
        };
        QVERIFY(!box->isChecked());
        box->click();
        QVERIFY(entry.isEnabled() && !failure());
        entry.setEnabled(false); // removed behind the panel's back
        section.readAutostart();
        QVERIFY(!box->isChecked());
        QVERIFY(QDir().mkpath(entry.path())); // a directory in its place: writing it fails
        box->click();
        QVERIFY(!box->isChecked() && !entry.isEnabled() && failure());
        QVERIFY(QDir().rmdir(entry.path()));
        box->click();
        QVERIFY(box->isChecked() && !failure());
        entry.setEnabled(false);
    }

    void theSettingsStayOpenUntilAKeyIsTyped() {
        QLineEdit* key = field("Ключ API");
        panel_->findChild<QToolButton*>()->click(); // the gear cannot hide them without a key
        panel_->findChild<QToolButton*>()->click();
        QVERIFY(shown(key) && shown(label("Без ключа записи некуда отправлять.")));
        key->setFocus();
        QTest::keyClicks(key, QStringLiteral("k"));
        settle();
        QVERIFY(!shown(key));
        QCOMPARE(Preferences::Settings().apiKey(), QStringLiteral("k"));
        panel_->findChild<QToolButton*>()->click();
        QVERIFY(shown(key));
        QVERIFY(!shown(label("Без ключа записи некуда отправлять.")));
    }

    void stateRules() {
        QPushButton* start = button("Начать запись");
        QPushButton* stop = button("Остановить и отправить");
        QLineEdit* title = field("Название встречи");
        QVERIFY(shown(start) && !shown(stop) && start->isEnabled() && title->isEnabled());
        QVERIFY(!shown(label("Открыть встречу в Велмор")));
        recorder_->phase = Phase::starting;
        settle();
        QVERIFY(shown(start) && !start->isEnabled() && title->isEnabled());
        recorder_->phase = Phase::recording;
        recorder_->elapsedText = QStringLiteral("12:34");
        recorder_->status = QStringLiteral("Идёт запись. Говорите как обычно.");
        settle();
        QVERIFY(!shown(start) && shown(stop) && stop->isEnabled() && !title->isEnabled());
        QVERIFY(shown(label("12:34")));
        QVERIFY(shown(label("Идёт запись.")));
        recorder_->phase = Phase::idle;
        recorder_->lastLink = QUrl(QStringLiteral("https://velmor.app/m/42"));
        settle();
        QVERIFY(!shown(label("12:34")));
        QVERIFY(shown(label("Открыть встречу в Велмор")));
        // Saved recordings are offered while nothing else runs.
        recorder_->savedCount = 2;
        settle();
        QVERIFY(shown(button("Отправить сохранённые записи (2)")));
        // A send under way can be cancelled; nothing else is offered.
        recorder_->phase = Phase::sending;
        settle();
        QVERIFY(!shown(button("Отправить сохранённые записи (2)")) && shown(button("Отменить отправку")));
        // Nor while recording: sending would be turned away.
        recorder_->phase = Phase::recording;
        settle();
        QVERIFY(!shown(button("Отменить отправку")) && !shown(button("Отправить сохранённые записи (2)")));
    }

    // The meters read each source in dBFS while the panel is shown, and take nothing while it is
    // hidden; a source's warning shows under the status, in the tooltip too.
    void metersAndWarningWhileRecording() {
        QCoro::waitFor(recorder_->start());
        settle();
        QProgressBar* system = bar("Уровень: звук компьютера");
        QProgressBar* mic = bar("Уровень: микрофон");
        QVERIFY(shown(system) && shown(mic));
        service_->deliver(0.5, 0.1, 0.251); // -20 and -12 dBFS
        QTRY_VERIFY(system->value() == -20 && mic->value() == -12);
        panel_->hide();
        service_->deliver(0.5, 0.5, 0.5);
        QTest::qWait(300);
        QCOMPARE(std::lround(recorder_->levels()->system.takePeakDb()), -6L);

        recorder_->sourceWarning = QStringLiteral("Микрофон не слышно: проверьте его.");
        panel_->show();
        settle();
        QVERIFY(shown(label("Микрофон не слышно: проверьте его.")));
        VelmorApp app(std::shared_ptr<Recorder>(recorder_.get(), [](Recorder*) {}));
        QVERIFY(app.toolTipText().endsWith(QStringLiteral("\nМикрофон не слышно: проверьте его.")));
        recorder_->sourceWarning = QString();
        settle();
        QVERIFY(!shown(label("Микрофон не слышно")));
    }

    // Every text the panel colours itself (warnings, captions, the status, the meters' labels)
    // stands 4.5:1 against its background, under a light and a dark palette; a warning stays amber.
    void itsOwnColoursAreReadableInLightAndDark() {
        const QPalette light = QApplication::palette();
        QPalette dark = light;
        dark.setColor(QPalette::Window, QColor(0x31, 0x36, 0x3b));
        dark.setColor(QPalette::WindowText, QColor(0xfc, 0xfc, 0xfc));
        dark.setColor(QPalette::PlaceholderText, QColor(0x70, 0x70, 0x70));
        // The panel made under the light palette follows the switch to the dark one, and back.
        PanelView panel(*recorder_);
        for (const QPalette& palette : {light, dark, light}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            const QColor background = panel.palette().color(QPalette::Window);
            int coloured = 0;
            for (const QLabel* label : panel.findChildren<QLabel*>()) {
                const QColor text = label->palette().color(QPalette::WindowText);
                if (text != palette.color(QPalette::WindowText)) {
                    ++coloured;
                    QVERIFY2(TestSupport::contrast(text, background) >= 4.5,
                             qPrintable(text.name() + " on " + background.name() + ": " + label->text()));
                }
            }
            QVERIFY(coloured >= 5);
            const QColor warning = PanelStyle::warningColor(&panel);
            QVERIFY2(warning.hslHue() >= 25 && warning.hslHue() <= 45, qPrintable(warning.name()));
        }
        QApplication::setPalette(light);
    }

    void theSendBarTellsHowFarAnUploadHasCome() {
        QProgressBar* sending = bar("Отправка");
        QVERIFY(sending && !shown(sending));
        recorder_->progress = SendProgress{25'200'000, 60'000'000, 80};
        settle();
        QVERIFY(shown(sending) && sending->value() == 42);
        QCOMPARE(sending->text(), QStringLiteral("42% · 25,2 из 60,0 МБ · осталось 01:20"));
        recorder_->progress = std::nullopt;
        settle();
        QVERIFY(!shown(sending));
    }
};

QTEST_MAIN(PanelTest)
#include "tst_panel.moc"
