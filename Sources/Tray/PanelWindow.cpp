#include "PanelWindow.h"

#include "CornerAnchor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <xcb/xcb.h>

namespace Tray {

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

// On X11 a popup beside a tray icon is no task: the task bar and Alt+Tab leave out a window in
// these states. Set on the window before it is mapped, as window managers read it then; Qt adds
// its own states to what it finds there.
void leaveOutOfTaskBar(QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    const xcb_atom_t states[] = {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 atom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, states);
    xcb_flush(connection);
}

} // namespace

// The content at its own size while the screen has room for it, else as tall as the screen with a
// scroll bar. A change of the content's size reaches the window's layout (a plain scroll area
// keeps it to itself).
class PanelWindow::Fitting : public QScrollArea {
public:
    explicit Fitting(QWidget* content) {
        setWidget(content);
        setWidgetResizable(true);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFocusPolicy(Qt::NoFocus);
    }
    void setMaximumContentHeight(int height) {
        maximumHeight_ = height;
        updateGeometry();
    }
    QSize sizeHint() const override {
        QSize size = widget()->sizeHint().expandedTo(widget()->minimumSize());
        if (widget()->hasHeightForWidth()) {
            size.setHeight(widget()->heightForWidth(size.width()));
        }
        if (size.height() > maximumHeight_) {
            size = {size.width() + verticalScrollBar()->sizeHint().width(), maximumHeight_};
        }
        return size;
    }

protected:
    bool viewportEvent(QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest) {
            updateGeometry();
        }
        return QScrollArea::viewportEvent(event);
    }

private:
    int maximumHeight_ = QWIDGETSIZE_MAX;
};

PanelWindow::PanelWindow(QWidget* content, bool hasTray) : fitting_(new Fitting(content)) {
    setWindowTitle(QStringLiteral("Велмор"));
    setHasTray(hasTray);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(fitting_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void PanelWindow::setHasTray(bool hasTray) {
    const Qt::WindowFlags flags =
        hasTray ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint : Qt::Window;
    // Qt would re-create the native window for new flags, and a window manager may carry the old
    // one's frame and states over to it (a panel offset by the old title bar, a task bar entry):
    // the old one goes first, so the next show makes a new one from scratch (and a window once
    // given to the layer shell stays its surface). showAnchored sets the states and the place.
    if (flags != windowFlags() && testAttribute(Qt::WA_WState_Created)) {
        hide();
        destroy();
        isPinned_ = false;
    }
    hasTray_ = hasTray;
    setWindowFlags(flags);
}

QPoint PanelWindow::placement(const QSize& panel, const QRect& iconGeometry, const QPoint& pointer,
                              const QRect& available) {
    const bool hasIcon = iconGeometry.isValid() && !iconGeometry.isEmpty();
    const QRect anchor = hasIcon ? iconGeometry : QRect(pointer, QSize(1, 1));
    const QPoint at = anchor.center();
    // The bar's side: where the anchor lies outside the work area, else the nearest edge.
    enum class Side { top, bottom, left, right };
    const QList<std::pair<Side, int>> distances{{Side::top, at.y() - available.top()},
                                                {Side::bottom, available.bottom() - at.y()},
                                                {Side::left, at.x() - available.left()},
                                                {Side::right, available.right() - at.x()}};
    const Side side = std::min_element(distances.begin(), distances.end(), [](const auto& a, const auto& b) {
                          return a.second < b.second;
                      })->first;
    // An icon or a pointer inside the work area may sit on a bar that reserves no room: the panel
    // keeps clear of it rather than cover the bar.
    const bool isInside = available.contains(at);
    QPoint origin(at.x() - panel.width() / 2, at.y() - panel.height() / 2);
    constexpr int kGap = 4;
    switch (side) {
    case Side::top:
        origin.setY(isInside ? anchor.bottom() + 1 + kGap : available.top());
        break;
    case Side::bottom:
        origin.setY(isInside ? anchor.top() - kGap - panel.height() : available.bottom() + 1 - panel.height());
        break;
    case Side::left:
        origin.setX(isInside ? anchor.right() + 1 + kGap : available.left());
        break;
    case Side::right:
        origin.setX(isInside ? anchor.left() - kGap - panel.width() : available.right() + 1 - panel.width());
        break;
    }
    origin.setX(std::clamp(origin.x(), available.left(),
                           std::max(available.left(), available.right() + 1 - panel.width())));
    origin.setY(std::clamp(origin.y(), available.top(),
                           std::max(available.top(), available.bottom() + 1 - panel.height())));
    return origin;
}

QScreen* PanelWindow::anchorScreen() const {
    QScreen* screen = QGuiApplication::screenAt(iconGeometry_.isValid() ? iconGeometry_.center() : pointer_);
    return screen ? screen : QGuiApplication::primaryScreen();
}

void PanelWindow::place(const QSize& size) {
    QScreen* screen = anchorScreen();
    if (hasTray_ && screen && !isPinned_) {
        move(placement(size, iconGeometry_, pointer_, screen->availableGeometry()));
    }
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isVisible()) {
        place(event->size());
    }
}

void PanelWindow::showAnchored(const QRect& iconGeometry) {
    iconGeometry_ = iconGeometry;
    pointer_ = QCursor::pos();
    if (QScreen* screen = anchorScreen()) {
        fitting_->setMaximumContentHeight(screen->availableGeometry().height());
    }
    adjustSize();
    // Where the compositor places windows itself (Wayland), pinned to the screen's corner nearest
    // the icon, if it lets us; elsewhere moved to the icon.
    winId();
    isPinned_ = hasTray_ && anchorToCorner(windowHandle(), iconGeometry);
    place(sizeHint());
    if (hasTray_) {
        leaveOutOfTaskBar(this);
    }
    show();
    raise();
    activateWindow();
    // Typing goes to the panel's first field at once.
    for (QLineEdit* field : findChildren<QLineEdit*>()) {
        if (field->isVisibleTo(this) && field->isEnabled()) {
            field->setFocus(Qt::PopupFocusReason);
            break;
        }
    }
}

void PanelWindow::toggle(const QRect& iconGeometry) {
    if (isVisible()) {
        hide();
    } else {
        showAnchored(iconGeometry);
    }
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        // Without a tray nothing could bring a hidden window back: it goes to the task bar instead.
        if (hasTray_) {
            hide();
        } else {
            showMinimized();
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    // The only window of an app without a tray: closing it ends the app, as with any other.
    if (!hasTray_) {
        emit closedWithoutTray();
    }
    QWidget::closeEvent(event);
}

} // namespace Tray
