// The layer shell (zwlr_layer_shell_v1) through LayerShellQt.
#include "CornerAnchor.h"

#include <LayerShellQt/Window>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <cstring>
#include <wayland-client.h>

namespace Tray {

namespace {

// Whether the compositor offers the layer shell, asked once on a queue of our own so that none of
// Qt's events are dispatched here. LayerShellQt would only warn and leave such a window without
// its anchors; asking first keeps it a plain window on compositors without the protocol.
bool compositorHasLayerShell() {
    static const bool offered = [] {
        auto* wayland = qGuiApp->nativeInterface<QNativeInterface::QWaylandApplication>();
        wl_display* display = wayland ? wayland->display() : nullptr;
        if (!display) {
            return false;
        }
        bool found = false;
        wl_event_queue* queue = wl_display_create_queue(display);
        auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
        wl_registry* registry = wl_display_get_registry(wrapper);
        static const wl_registry_listener listener = {
            [](void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
                if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0) {
                    *static_cast<bool*>(data) = true;
                }
            },
            [](void*, wl_registry*, uint32_t) {}};
        wl_registry_add_listener(registry, &listener, &found);
        wl_display_roundtrip_queue(display, queue);
        wl_registry_destroy(registry);
        wl_proxy_wrapper_destroy(wrapper);
        wl_event_queue_destroy(queue);
        return found;
    }();
    return offered;
}

} // namespace

bool anchorToCorner(QWindow* window, const QRect& near) {
    if (QGuiApplication::platformName() != QLatin1String("wayland") || !compositorHasLayerShell()) {
        return false;
    }
    LayerShellQt::Window* layer = LayerShellQt::Window::get(window);
    if (!layer) {
        return false;
    }
    using Anchor = LayerShellQt::Window::Anchor;
    // Top right unless the icon's place says otherwise (the library declares no flag operators).
    bool bottom = false;
    bool left = false;
    if (const QScreen* screen = window->screen(); near.isValid() && screen) {
        bottom = near.center().y() > screen->geometry().center().y();
        left = near.center().x() < screen->geometry().center().x();
    }
    LayerShellQt::Window::Anchors anchors;
    anchors |= bottom ? Anchor::AnchorBottom : Anchor::AnchorTop;
    anchors |= left ? Anchor::AnchorLeft : Anchor::AnchorRight;
    layer->setLayer(LayerShellQt::Window::LayerTop);
    layer->setAnchors(anchors);
    layer->setMargins(QMargins(4, 4, 4, 4));
    layer->setKeyboardInteractivity(LayerShellQt::Window::KeyboardInteractivityOnDemand);
    layer->setScope(QStringLiteral("velmor-panel"));
    return true;
}

} // namespace Tray
