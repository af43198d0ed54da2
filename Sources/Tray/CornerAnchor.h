// Pins a window to a corner of its screen where the compositor lets a client place it: Wayland
// leaves a normal window's position to the compositor, but the layer shell of wlroots-based and
// KDE compositors places a surface at the edges it is anchored to. One implementation is built:
// with the layer shell's Qt library, or one that anchors nothing.
#pragma once

#include <QRect>

class QWindow;

namespace Tray {

// Before `window` is shown: anchors it to the screen corner nearest `near` (top right when
// `near` is empty), above normal windows, taking the keyboard when clicked. False when this
// build, the session or the compositor cannot: the window then shows as a normal one.
bool anchorToCorner(QWindow* window, const QRect& near);

} // namespace Tray
