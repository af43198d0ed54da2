// The installed tray symbols, rendered as they are, where a tray shows them unchanged (LXQt,
// waybar). Prints the contrast figures; `build/Tests/tst_icons -v2` shows them.
#include "Icons.h"
#include "PanelWindow.h"
#include "TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QTest>
#include <cmath>

namespace {

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

class IconsTest : public QObject {
    Q_OBJECT

private slots:
    // Unrecoloured, the glyph stands out of light and dark bars alike (3:1, as for graphics); a
    // host that recolours fills every shape, so none may be a stroke (it would become a disc).
    void contrastWhereNotRecoloured() {
        for (const char* state : {"idle", "recording"}) {
            const QByteArray svg = symbol(state);
            QVERIFY(!svg.isEmpty() && !svg.contains("stroke"));
            for (const QColor& bar : {kLightBar, kDarkBar}) {
                // The ring's middle, fully covered at 48 px.
                const QColor ring = render(svg, 48, bar).pixelColor(4, 24);
                const double ratio = TestSupport::contrast(ring, bar);
                qInfo("%s on %s: ring %s, %.2f:1", state, qPrintable(bar.name()), qPrintable(ring.name()), ratio);
                QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
            }
        }
        // The recording dot, the one other colour.
        for (const QColor& bar : {kLightBar, kDarkBar}) {
            const QColor dot = render(symbol("recording"), 48, bar).pixelColor(24, 24);
            const double ratio = TestSupport::contrast(dot, bar);
            qInfo("recording dot on %s: %s, %.2f:1", qPrintable(bar.name()), qPrintable(dot.name()), ratio);
            QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
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
};

QTEST_MAIN(IconsTest)
#include "tst_icons.moc"
