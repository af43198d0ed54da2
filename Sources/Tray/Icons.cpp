#include "Icons.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace Tray {

namespace {

// 24x24 drawings; "C" stands for the line colour, "R" for the recording red.
const QHash<QString, QByteArray>& drawings() {
    static const QHash<QString, QByteArray> symbols{
        // Filled shapes only, like the installed tray symbols: a panel that recolours fills them.
        {QStringLiteral("waveform.circle"),
         R"(<path fill="C" fill-rule="evenodd" d="M12 1a11 11 0 1 0 0 22a11 11 0 1 0 0-22zm0 2a9 9 0 1 1 0 18a9 9 0 1 1 0-18z"/>
            <path fill="C" d="M6 11.3a0.8 0.8 0 0 1 1.6 0v1.4a0.8 0.8 0 0 1 -1.6 0zM8.6 8.8a0.8 0.8 0 0 1 1.6 0v6.4a0.8 0.8 0 0 1 -1.6 0zM11.2 7.3a0.8 0.8 0 0 1 1.6 0v9.4a0.8 0.8 0 0 1 -1.6 0zM13.8 9.8a0.8 0.8 0 0 1 1.6 0v4.4a0.8 0.8 0 0 1 -1.6 0zM16.4 11.8a0.8 0.8 0 0 1 1.6 0v0.4a0.8 0.8 0 0 1 -1.6 0z"/>)"},
        {QStringLiteral("record.circle.fill"),
         R"(<circle cx="12" cy="12" r="11" fill="R"/><circle cx="12" cy="12" r="4.5" fill="#ffffff"/>)"},
        {QStringLiteral("record.circle"),
         R"(<circle cx="12" cy="12" r="10.5" fill="none" stroke="C" stroke-width="1.8"/>
            <circle cx="12" cy="12" r="5" fill="R"/>)"},
        {QStringLiteral("stop.circle.fill"),
         R"(<circle cx="12" cy="12" r="11" fill="C"/><rect x="8" y="8" width="8" height="8" rx="1.5" fill="R"/>)"},
        {QStringLiteral("gearshape"),
         R"(<g fill="none" stroke="C" stroke-width="1.8"><circle cx="12" cy="12" r="3.2"/>
            <path d="M12 2.5v3M12 18.5v3M2.5 12h3M18.5 12h3M5.3 5.3l2.1 2.1M16.6 16.6l2.1 2.1M5.3 18.7l2.1-2.1M16.6 7.4l2.1-2.1"
             stroke-linecap="round"/><circle cx="12" cy="12" r="6.8"/></g>)"},
    };
    return symbols;
}

QByteArray symbolSvg(const QString& name, const QColor& color) {
    QByteArray body = drawings().value(name);
    if (body.isEmpty()) {
        return {};
    }
    body.replace("\"C\"", "\"" + color.name().toLatin1() + "\"");
    body.replace("\"R\"", "\"#e0302a\"");
    return R"(<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24">)" + body +
           "</svg>";
}

} // namespace

QIcon symbolIcon(const QString& name, const QColor& color) {
    const QByteArray svg = symbolSvg(name, color);
    if (svg.isEmpty()) {
        return {};
    }
    QSvgRenderer renderer(svg);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 44, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon trayIcon(const QString& symbol, const QString& themeName) {
    if (QIcon::hasThemeIcon(themeName)) {
        return QIcon::fromTheme(themeName);
    }
    // 3.4:1 against light (#e8e8e8) and dark (#2b2b2b) bars alike.
    return symbolIcon(symbol, QColor(0x7c, 0x7c, 0x7c));
}

} // namespace Tray
