// The app's symbols, drawn as small SVGs in one colour so they stay easy to tell apart at 16-22 px:
// "waveform.circle", "record.circle.fill", "record.circle", "stop.circle.fill", "gearshape".
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace Tray {

// An empty icon for an unknown name. `color` paints the symbol's lines.
QIcon symbolIcon(const QString& name, const QColor& color);
// A tray icon: the installed symbolic icon `themeName`, which trays recolour to suit their bar,
// else the symbol drawn in a grey that shows on light and dark bars alike.
QIcon trayIcon(const QString& symbol, const QString& themeName);

} // namespace Tray
