#include "Icons.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace UI {

namespace {

// 24x24 drawings; "C" stands for the line colour, "R" for the recording red.
const QHash<QString, QByteArray>& drawings() {
    static const QHash<QString, QByteArray> symbols{
        {QStringLiteral("waveform.circle"),
         R"(<circle cx="12" cy="12" r="10.5" fill="none" stroke="C" stroke-width="1.8"/>
            <g stroke="C" stroke-width="2" stroke-linecap="round">
            <line x1="7" y1="10.5" x2="7" y2="13.5"/><line x1="9.5" y1="8" x2="9.5" y2="16"/>
            <line x1="12" y1="6.5" x2="12" y2="17.5"/><line x1="14.5" y1="9" x2="14.5" y2="15"/>
            <line x1="17" y1="11" x2="17" y2="13"/></g>)"},
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
    for (int size : {16, 22, 24, 32, 48, 64}) {
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
    return symbolIcon(symbol, QColor(0x8c, 0x8c, 0x8c));
}

} // namespace UI
