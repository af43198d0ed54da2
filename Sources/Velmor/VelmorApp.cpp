#include "VelmorApp.h"

#include "Icons.h"
#include "PanelView.h"
#include "PanelWindow.h"
#include "Recorder.h"

#include <QApplication>
#include <QPalette>

VelmorApp::VelmorApp(std::shared_ptr<Recorder> recorder)
    : recorder_(recorder ? std::move(recorder) : std::make_shared<Recorder>()),
      hasTray_(QSystemTrayIcon::isSystemTrayAvailable()) {
    window_ = std::make_unique<UI::PanelWindow>(new PanelView(recorder_.get()), hasTray_);
    window_->setWindowIcon(UI::symbolIcon(QStringLiteral("waveform.circle"), QColor(0x44, 0x44, 0x44)));
    connect(recorder_.get(), &Recorder::objectWillChange, this, &VelmorApp::refreshIcon, Qt::QueuedConnection);
    connect(&trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            window_->toggle(trayIcon_.geometry());
        }
    });
    trayIcon_.setToolTip(QStringLiteral("Велмор"));
    refreshIcon();
    trayIcon_.show();
    if (!hasTray_) {
        // No tray on this desktop (stock GNOME): the panel is a small window of its own.
        window_->showAnchored({});
    }
}

VelmorApp::~VelmorApp() = default;

QString VelmorApp::symbolName() const {
    return recorder_->isRecording() ? QStringLiteral("record.circle.fill") : QStringLiteral("waveform.circle");
}

void VelmorApp::refreshIcon() {
    const QColor line = QApplication::palette().color(QPalette::WindowText);
    trayIcon_.setIcon(UI::symbolIcon(symbolName(), line));
}

void VelmorApp::showPanel() {
    if (!window_->isVisible()) {
        window_->showAnchored(trayIcon_.geometry());
    }
    window_->raise();
    window_->activateWindow();
}
