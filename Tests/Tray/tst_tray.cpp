// The tray as the strictest host reads it: a StatusNotifierItem tray on the private session bus
// (Tests/support/sni_tray.py) that holds the menu as GNOME's AppIndicator extension does. The
// app's own tray icon and recorder, with a capture service that delivers a tone on demand. Then
// the installed symbols as a tray shows them unchanged (LXQt, waybar), with their contrast figures
// printed (`build/Tests/tst_tray -v2 contrastWhereNotRecoloured`), and where the panel goes.
#include "FakeCapture.h"
#include "MockClock.h"
#include "PanelWindow.h"
#include "SniTypes.h"
#include "StatusNotifierItem.h"
#include "TestSupport.h"
#include "VelmorApp.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QSvgRenderer>
#include <QTest>

namespace {

QStringList linesOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

const QColor kLightBar(0xe8, 0xe8, 0xe8);
const QColor kDarkBar(0x2b, 0x2b, 0x2b);

QByteArray symbol(const char* state) {
    QFile file(QStringLiteral(VELMOR_SOURCE_DIR "/Resources/icons/" VELMOR_APP_ID "-%1-symbolic.svg")
                   .arg(QLatin1String(state)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage render(const QByteArray& svg, int size, const QColor& background) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    QSvgRenderer(svg).render(&painter);
    return image;
}

} // namespace

class TrayTest : public QObject {
    Q_OBJECT

    TestSupport::PrivateDirs dirs_;
    QProcess host_;
    QString log_;
    MockClock clock_;
    std::shared_ptr<FakeCaptureService> service_ = std::make_shared<FakeCaptureService>();
    std::shared_ptr<Recorder> recorder_;
    std::unique_ptr<VelmorApp> app_;

    QStringList shownMenu() const { return linesOf(log_ + ".menu"); }
    static QDBusMessage callMenu(const QString& method, const QVariantList& arguments) {
        return TestSupport::callBus(QDBusConnection::sessionBus().baseService(), QStringLiteral("/MenuBar"),
                                    QStringLiteral("com.canonical.dbusmenu"), method, arguments);
    }
    static QDBusArgument itemProperty(const QString& name) {
        return TestSupport::busProperty(QDBusConnection::sessionBus().baseService(),
                                        QStringLiteral("/StatusNotifierItem"),
                                        QStringLiteral("org.kde.StatusNotifierItem"), name)
            .value<QDBusArgument>();
    }

private slots:
    void initTestCase() {
        log_ = dirs_.filePath(QStringLiteral("sni.log"));
        host_.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(VELMOR_SOURCE_DIR "/Tests/support/sni_tray.py"), QStringLiteral("serve"), log_,
                     QStringLiteral("--gnome")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log_ + ".ready"), 10000);
        recorder_ = std::make_shared<Recorder>(service_);
        app_ = std::make_unique<VelmorApp>(recorder_);
        // The watcher is asked without waiting for it; until it answers, no window is shown.
        QVERIFY(!app_->hasTray());
        QTRY_VERIFY(app_->hasTray());
        QVERIFY(!app_->panelWindow().isVisible());
    }
    void cleanupTestCase() {
        app_.reset();
        host_.kill();
        host_.waitForFinished();
    }

    // A recording saved while the app runs, a stalled send, a recording made meanwhile (no send
    // is offered beside it) and the send are all seen by a host that re-reads only the menu's
    // structure on a layout update.
    void theCachedMenuFollowsTheState() {
        QTRY_COMPARE_WITH_TIMEOUT(shownMenu(), (QStringList{"Открыть панель", "Выйти"}), 10000);
        QCoro::waitFor(recorder_->start());
        service_->deliver(1.0);
        service_->fail();
        QTRY_VERIFY(!recorder_->isRecording());
        QTRY_COMPARE(shownMenu(), (QStringList{"Открыть панель", "Отправить сохранённые записи (1)", "Выйти"}));

        TestSupport::HttpServer silent;
        silent.behaviour = TestSupport::HttpServer::Behaviour::silent;
        auto sending = recorder_->sendSaved(silent.address(), QStringLiteral("vl_key"));
        QTRY_COMPARE(shownMenu(), (QStringList{"Открыть панель", "Отменить отправку", "Выйти"}));
        recorder_->cancelSend();
        QCoro::waitFor(sending);
        QTRY_COMPARE(shownMenu(), (QStringList{"Открыть панель", "Отправить сохранённые записи (1)", "Выйти"}));
        QCoro::waitFor(recorder_->start());
        QTRY_COMPARE(shownMenu(), (QStringList{"Открыть панель", "Выйти"}));
        service_->deliver(1.0);
        service_->fail();
        QTRY_COMPARE(shownMenu(), (QStringList{"Открыть панель", "Отправить сохранённые записи (2)", "Выйти"}));

        TestSupport::Receiver receiver(dirs_.filePath(QStringLiteral("received")), QStringLiteral("vl_key"));
        QCoro::waitFor(recorder_->sendSaved(receiver.address(), QStringLiteral("vl_key")));
        QCOMPARE(receiver.received().size(), 2);
        QTRY_COMPARE(shownMenu(), (QStringList{"Открыть панель", "Выйти"}));
    }

    // A host about to show the menu learns whether it changed since it last read the layout.
    void aboutToShowSaysWhetherTheMenuChanged() {
        callMenu(QStringLiteral("GetLayout"), {0, -1, QStringList()});
        QCOMPARE(callMenu(QStringLiteral("AboutToShow"), {0}).arguments().value(0).toBool(), false);
        recorder_->savedCount = 3; // announced by the recorder; the menu follows it
        QCoreApplication::processEvents();
        QCOMPARE(callMenu(QStringLiteral("AboutToShow"), {0}).arguments().value(0).toBool(), true);
        callMenu(QStringLiteral("GetLayout"), {0, -1, QStringList()});
        QCOMPARE(callMenu(QStringLiteral("AboutToShow"), {0}).arguments().value(0).toBool(), false);
        recorder_->savedCount = 0;
    }

    // The tooltip tells the state, from both icons, and trays hear of it at most once a second.
    void theToolTipTellsTheStateOncePerSecondAtMost() {
        const auto itemToolTip = [] {
            Tray::sni::ToolTip toolTip;
            itemProperty(QStringLiteral("ToolTip")) >> toolTip;
            return toolTip.title;
        };
        clock_.advance(5000); // the last recording's elapsed time stays "00:05" until the next one ticks
        QCOMPARE(app_->trayIcon().toolTip(), QStringLiteral("Велмор — готов"));
        QTRY_COMPARE(itemToolTip(), QStringLiteral("Велмор — готов"));
        const auto recording = [&] { return QStringLiteral("Велмор — идёт запись, ") + recorder_->elapsedText(); };
        QCoro::waitFor(recorder_->start());
        QCoreApplication::processEvents();
        QCOMPARE(app_->trayIcon().toolTip(), recording());
        const QString told = recording();
        // Changes within the second wait for its end; the latest is told then.
        for (const qint64 step : {0, 999}) {
            clock_.advance(step); // a tick sets the elapsed time back to "00:00"
            recorder_->elapsedText = QStringLiteral("00:30");
            QCoreApplication::processEvents();
            QCOMPARE(app_->trayIcon().toolTip(), told);
        }
        clock_.advance(1);
        QCOMPARE(app_->trayIcon().toolTip(), recording());
        QCOMPARE(recorder_->elapsedText(), QStringLiteral("00:01"));
        QTRY_COMPARE(itemToolTip(), recording());
        QCoro::waitFor(recorder_->stopAndSend(QStringLiteral("http://127.0.0.1:9"), QStringLiteral("k")));
        clock_.advance(1000);
        QCOMPARE(app_->trayIcon().toolTip(), QStringLiteral("Велмор — готов"));
    }

    // A tray reading the icon again and again gets what was drawn once, when it was set.
    void theIconIsDrawnOncePerIcon() {
        // Keeps the size of every drawing.
        struct RecordingEngine : QIconEngine {
            QList<int>& drawn;
            explicit RecordingEngine(QList<int>& sizes) : drawn(sizes) {}
            void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
                drawn.append(rect.width());
                painter->fillRect(rect, Qt::red);
            }
            QIconEngine* clone() const override { return new RecordingEngine(drawn); }
        };
        QList<int> drawn;
        app_->statusItem().setIcon(QString(), QIcon(new RecordingEngine(drawn)));
        const QList<int> once = drawn;
        Tray::sni::IconPixmaps pixmaps;
        for (int read = 0; read < 3; ++read) {
            itemProperty(QStringLiteral("IconPixmap")) >> pixmaps;
        }
        QCOMPARE(drawn, once);
        QList<int> widths;
        for (const Tray::sni::IconPixmap& pixmap : pixmaps) {
            widths.append(pixmap.width);
        }
        // Each drawn at its own size, none scaled up from another; 44 and 64 px for a bar at twice
        // the density.
        QCOMPARE(widths, once);
        QVERIFY(widths.contains(44) && widths.contains(64));
    }

    // Unrecoloured, the glyph stands out of light and dark bars alike (3:1, as for graphics); a
    // host that recolours fills every shape, so none may be a stroke (it would become a disc).
    void contrastWhereNotRecoloured() {
        // The ring's middle, fully covered at 48 px, and the recording's dot, the one other colour.
        for (const auto& [state, at] : {std::pair{"idle", QPoint(4, 24)}, std::pair{"recording", QPoint(4, 24)},
                                        std::pair{"recording", QPoint(24, 24)}}) {
            const QByteArray svg = symbol(state);
            QVERIFY(!svg.isEmpty() && !svg.contains("stroke"));
            for (const QColor& bar : {kLightBar, kDarkBar}) {
                const QColor shown = render(svg, 48, bar).pixelColor(at);
                const double ratio = TestSupport::contrast(shown, bar);
                qInfo("%s at %d on %s: %s, %.2f:1", state, at.x(), qPrintable(bar.name()),
                      qPrintable(shown.name()), ratio);
                QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
            }
        }
    }

    // The panel goes against the bar's edge of the work area, at the icon or the click, never at
    // a click point inside the bar, and never off the screen however tall it grows.
    void thePanelIsAnchoredToTheBarsEdge_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<int>("height");
        QTest::addColumn<QPoint>("expected");
        const QRect topBar(0, 28, 1920, 1052);
        const QRect bottomBar(0, 0, 1920, 1040);
        QTest::newRow("top bar, icon at the right")
            << topBar << QRect(1800, 2, 24, 24) << QPoint() << 400 << QPoint(1620, 28);
        QTest::newRow("bottom bar, click mid-bar")
            << bottomBar << QRect(960, 1060, 1, 1) << QPoint() << 400 << QPoint(810, 640);
        QTest::newRow("bottom bar, grown")
            << bottomBar << QRect(960, 1060, 1, 1) << QPoint() << 700 << QPoint(810, 340);
        QTest::newRow("taller than the screen")
            << bottomBar << QRect(960, 1060, 1, 1) << QPoint() << 1200 << QPoint(810, 0);
        QTest::newRow("left bar") << QRect(48, 0, 1872, 1080) << QRect(10, 500, 24, 24) << QPoint() << 400
                                  << QPoint(48, 311);
        QTest::newRow("pointer below a top bar")
            << topBar << QRect() << QPoint(1700, 67) << 400 << QPoint(1550, 72);
        QTest::newRow("bar that reserves nothing")
            << QRect(0, 0, 1920, 1080) << QRect(1800, 1052, 24, 24) << QPoint() << 400 << QPoint(1620, 648);
    }
    void thePanelIsAnchoredToTheBarsEdge() {
        QFETCH(QRect, available);
        QFETCH(QRect, icon);
        QFETCH(QPoint, pointer);
        QFETCH(int, height);
        QFETCH(QPoint, expected);
        QCOMPARE(Tray::PanelWindow::placement(QSize(300, height), icon, pointer, available), expected);
    }

    // Taller than the screen (a small one at 200 %), the panel is as tall as the work area and
    // scrolls; it keeps its edge against the bar as it shrinks back to its own size.
    void aPanelTallerThanTheScreenScrolls() {
        auto* content = new QWidget;
        Tray::PanelWindow window(content, true);
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        content->setMinimumSize(300, available.height() + 200);
        window.showAnchored(QRect(available.center().x(), available.bottom() + 10, 1, 1));
        QTRY_COMPARE(window.geometry().top(), available.top());
        QCOMPARE(window.height(), available.height());
        content->setMinimumSize(300, 200);
        QTRY_COMPARE(window.height(), 200);
        QTRY_COMPARE(window.geometry().bottom(), available.bottom());
    }
};

QTEST_MAIN(TrayTest)
#include "tst_tray.moc"
