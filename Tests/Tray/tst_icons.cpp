// The installed tray symbols, rendered: as they are, where a tray shows them unchanged (LXQt,
// waybar), and recoloured as GTK, GNOME Shell and Plasma do it, by setting the fill of every
// shape. Prints the contrast figures; `build/Tests/tst_icons -v2` shows them.
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
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

// What a recolouring host does: every shape filled with its one colour, whatever it said.
QByteArray recoloured(QByteArray svg, const QColor& color) {
    static const QRegularExpression shape(
        QStringLiteral("<(path|circle|rect|ellipse|polygon|line)\\b([^>]*?)/?>"));
    static const QRegularExpression fill(QStringLiteral("\\sfill=\"[^\"]*\""));
    QString text = QString::fromUtf8(svg);
    QString out;
    qsizetype last = 0;
    for (auto it = shape.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString attributes = match.captured(2);
        attributes.remove(fill);
        out += text.mid(last, match.capturedStart() - last) + '<' + match.captured(1) + attributes +
               QStringLiteral(" fill=\"%1\"/>").arg(color.name());
        last = match.capturedEnd();
    }
    return (out + text.mid(last)).toUtf8();
}

QImage render(const QByteArray& svg, int size, const QColor& background) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    QSvgRenderer(svg).render(&painter);
    return image;
}

double luminance(const QColor& color) {
    const auto channel = [](double value) {
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The runs of drawn pixels across the middle row: a ring around bars gives seven, a ring around a
// dot three, a filled disc one.
int runsAcrossTheMiddle(const QImage& image, const QColor& background) {
    int runs = 0;
    bool inRun = false;
    const int y = image.height() / 2;
    for (int x = 0; x < image.width(); ++x) {
        const QColor pixel = image.pixelColor(x, y);
        const int distance = std::abs(pixel.red() - background.red()) +
                             std::abs(pixel.green() - background.green()) +
                             std::abs(pixel.blue() - background.blue());
        const bool isDrawn = distance > 60;
        runs += isDrawn && !inRun ? 1 : 0;
        inRun = isDrawn;
    }
    return runs;
}

} // namespace

class IconsTest : public QObject {
    Q_OBJECT

private slots:
    void shapesSurviveRecolouring_data() {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<int>("runs");      // at 48 px
        QTest::addColumn<int>("smallRuns"); // at 16 px, where bars may merge but never with the ring
        QTest::newRow("idle: ring and bars") << QByteArray("idle") << 7 << 3;
        QTest::newRow("recording: ring and dot") << QByteArray("recording") << 3 << 3;
    }
    void shapesSurviveRecolouring() {
        QFETCH(QByteArray, state);
        QFETCH(int, runs);
        QFETCH(int, smallRuns);
        const QByteArray svg = symbol(state.constData());
        QVERIFY(!svg.isEmpty());
        QVERIFY2(!svg.contains("stroke"), "a host that fills shapes turns strokes into discs");
        // Light panel with a dark symbol, dark panel with a light one, and as it is on both.
        const QList<std::pair<QColor, QColor>> looks{{kLightBar, QColor(0x2e, 0x34, 0x36)},
                                                     {kDarkBar, QColor(0xee, 0xee, 0xec)},
                                                     {kLightBar, {}},
                                                     {kDarkBar, {}}};
        for (const auto& [bar, ink] : looks) {
            const QByteArray drawn = ink.isValid() ? recoloured(svg, ink) : svg;
            QCOMPARE(runsAcrossTheMiddle(render(drawn, 48, bar), bar), runs);
            const int small = runsAcrossTheMiddle(render(drawn, 16, bar), bar);
            QVERIFY2(small >= smallRuns,
                     qPrintable(QStringLiteral("%1 runs at 16 px on %2").arg(small).arg(bar.name())));
        }
    }

    // Unrecoloured, the glyph stands out of light and dark bars alike (3:1, as for graphics).
    void contrastWhereNotRecoloured() {
        for (const char* state : {"idle", "recording"}) {
            const QByteArray svg = symbol(state);
            for (const QColor& bar : {kLightBar, kDarkBar}) {
                // The ring's middle, fully covered at 48 px.
                const QColor ring = render(svg, 48, bar).pixelColor(4, 24);
                const double ratio = contrast(ring, bar);
                qInfo("%s on %s: ring %s, %.2f:1", state, qPrintable(bar.name()), qPrintable(ring.name()), ratio);
                QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
            }
        }
        // The recording dot, the one other colour.
        for (const QColor& bar : {kLightBar, kDarkBar}) {
            const QColor dot = render(symbol("recording"), 48, bar).pixelColor(24, 24);
            const double ratio = contrast(dot, bar);
            qInfo("recording dot on %s: %s, %.2f:1", qPrintable(bar.name()), qPrintable(dot.name()), ratio);
            QVERIFY2(ratio >= 3.0, qPrintable(QString::number(ratio)));
        }
    }
};

QTEST_MAIN(IconsTest)
#include "tst_icons.moc"
