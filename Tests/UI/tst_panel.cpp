// The panel's show, hide and enable rules and its keyboard, offscreen, with a recorder whose
// state the test sets and a capture service that records what it was asked.
#include "FakeCapture.h"
#include "PanelView.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// QTest::keyClicks aborts on Cyrillic: key events carry the text instead.
void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

    QTemporaryDir config_;
    std::shared_ptr<FakeCaptureService> service_;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<PanelView> panel_;

    QLineEdit* field(const char* name) const {
        for (QLineEdit* edit : panel_->findChildren<QLineEdit*>()) {
            if (edit->accessibleName() == QString::fromUtf8(name)) {
                return edit;
            }
        }
        return nullptr;
    }
    QPushButton* button(const char* text) const {
        for (QPushButton* b : panel_->findChildren<QPushButton*>()) {
            if (b->text() == QString::fromUtf8(text)) {
                return b;
            }
        }
        return nullptr;
    }
    QLabel* label(const char* text) const {
        for (QLabel* l : panel_->findChildren<QLabel*>()) {
            if (l->text().contains(QString::fromUtf8(text))) {
                return l;
            }
        }
        return nullptr;
    }
    bool shown(QWidget* widget) const { return widget && widget->isVisibleTo(panel_.get()); }
    void settle() { QCoreApplication::processEvents(); }
    void pressReturn() {
        QTest::keyClick(panel_->focusWidget() ? panel_->focusWidget() : panel_.get(), Qt::Key_Return);
        settle();
    }

private slots:
    void init() {
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        QFile::remove(Preferences::Settings().fileName());
        qputenv("TMPDIR", config_.path().toUtf8());
        service_ = std::make_shared<FakeCaptureService>();
        recorder_ = std::make_unique<Recorder>(service_);
        panel_ = std::make_unique<PanelView>(recorder_.get());
        panel_->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
    }
    void cleanup() {
        panel_.reset();
        recorder_.reset();
    }

    void withoutAKeyTheSettingsStayOpen() {
        QCOMPARE(panel_->width(), 300);
        QCOMPARE(field("Адрес сервера")->text(), QString::fromUtf8(Preferences::kDefaultServerURL));
        QVERIFY(shown(field("Ключ API")));
        QVERIFY(shown(label("Без ключа записи некуда отправлять.")));
        panel_->findChild<QToolButton*>()->click(); // the gear
        QVERIFY(panel_->showSettings());
        QVERIFY(shown(field("Ключ API")));
        panel_->findChild<QToolButton*>()->click();
        QVERIFY(!panel_->showSettings());
        QVERIFY(shown(field("Ключ API")));
    }

    void typingTheFirstKeyCharacterHidesTheSettings() {
        QLineEdit* key = field("Ключ API");
        key->setFocus();
        typeText(key, QStringLiteral("в"));
        settle();
        QVERIFY(!shown(key));
        QVERIFY(!shown(label("Без ключа записи некуда отправлять.")));
        QCOMPARE(Preferences::Settings().apiKey(), QStringLiteral("в"));
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
        recorder_->isBusy = true;
        settle();
        QVERIFY(shown(start) && !start->isEnabled() && title->isEnabled());
        recorder_->isRecording = true;
        recorder_->elapsedText = QStringLiteral("12:34");
        recorder_->status = QStringLiteral("Идёт запись. Говорите как обычно.");
        settle();
        QVERIFY(!shown(start) && shown(stop) && stop->isEnabled() && !title->isEnabled());
        QVERIFY(shown(label("12:34")));
        QVERIFY(shown(label("Идёт запись.")));
        recorder_->isRecording = false;
        recorder_->isBusy = false;
        recorder_->lastLink = QUrl(QStringLiteral("https://velmor.app/m/42"));
        settle();
        QVERIFY(!shown(label("12:34")));
        QVERIFY(shown(label("Открыть встречу в Велмор")));
    }

    void returnTriggersTheShownButtonUnlessDisabled() {
        Preferences::Settings().setApiKey(QStringLiteral("k"));
        recorder_->isBusy = true;
        settle();
        pressReturn();
        QCOMPARE(service_->streamsMade, 0);
        recorder_->isBusy = false;
        settle();
        field("Название встречи")->setFocus();
        pressReturn();
        QTRY_VERIFY(recorder_->isRecording());
        QCOMPARE(service_->streamsMade, 1);
        settle();
        pressReturn();
        QTRY_COMPARE(service_->stopsCalled, 1);
        QTRY_VERIFY(!recorder_->isBusy());
    }

    void theTitleFieldWritesThrough() {
        QLineEdit* title = field("Название встречи");
        title->setFocus();
        typeText(title, QStringLiteral("Планёрка"));
        QCOMPARE(recorder_->title(), QStringLiteral("Планёрка"));
        // Starting keeps the typed title in view (read-only while recording).
        Preferences::Settings().setApiKey(QStringLiteral("k"));
        pressReturn();
        QTRY_VERIFY(recorder_->isRecording());
        settle();
        QCOMPARE(title->text(), QStringLiteral("Планёрка"));
        QVERIFY(!title->isEnabled());
        recorder_->title = QString();
        settle();
        QCOMPARE(title->text(), QString());
    }

    void footerAddress() {
        QCOMPARE(PanelView::footerAddress(QString()), QUrl(QString::fromUtf8(Preferences::kDefaultServerURL)));
        QCOMPARE(PanelView::footerAddress(QStringLiteral("http://[::1")),
                 QUrl(QString::fromUtf8(Preferences::kDefaultServerURL)));
        QCOMPARE(PanelView::footerAddress(QStringLiteral("https://example.org/x")),
                 QUrl(QStringLiteral("https://example.org/x")));
    }
};

QTEST_MAIN(PanelTest)
#include "tst_panel.moc"
