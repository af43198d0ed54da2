// The window the tray icon opens: frameless, next to the icon and kept on screen, or at the
// pointer when the tray tells no icon position. Taller than the screen (a small one at 200 %), it
// scrolls. Escape and a second click close it. Where the desktop has no tray it is a small normal
// window instead, so the app is never invisible: Escape minimizes it, and closing it ends the app.
#pragma once

#include <QRect>
#include <QWidget>

class QScreen;

namespace Tray {

class PanelWindow : public QWidget {
    Q_OBJECT

public:
    PanelWindow(QWidget* content, bool hasTray);
    // A tray came or went: the popup look beside an icon, or a normal window. Leaves it hidden.
    void setHasTray(bool hasTray);

    // Shows the panel anchored to `iconGeometry` (empty: at the pointer), or hides it if shown.
    void toggle(const QRect& iconGeometry);
    void showAnchored(const QRect& iconGeometry);
    // Where the panel goes for an icon at `iconGeometry` (else a click at `pointer`) on a screen
    // whose work area is `available`: against the edge of the work area on the side of the bar
    // that holds the icon (or nearest the pointer), centred on it along that edge, and wholly
    // inside the work area. An icon or pointer inside the work area (a bar that reserves no room)
    // is kept clear of.
    static QPoint placement(const QSize& panel, const QRect& iconGeometry, const QPoint& pointer,
                            const QRect& available);

signals:
    // The window was closed where there is no tray to bring it back.
    void closedWithoutTray();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // A panel that grows or shrinks keeps its edge against the bar and stays on the screen.
    void resizeEvent(QResizeEvent* event) override;

private:
    class Fitting;

    void place(const QSize& size);
    QScreen* anchorScreen() const;

    Fitting* fitting_;
    bool hasTray_;
    // What the panel was last anchored to.
    QRect iconGeometry_;
    QPoint pointer_;
    // Shown as a surface pinned to a screen corner (Wayland's layer shell).
    bool isPinned_ = false;
};

} // namespace Tray
