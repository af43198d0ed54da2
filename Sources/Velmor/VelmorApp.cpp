#include "VelmorApp.h"

#include "CallResponder.h"
#include "CallWatch.h"
#include "Clock.h"
#include "Icons.h"
#include "PanelView.h"
#include "PanelWindow.h"
#include "Recorder.h"
#include "RemoteControl.h"
#include "Retries.h"
#include "StatusNotifierItem.h"
#include "SystemEvents.h"

#include <QApplication>
#include <QPalette>
#include <unistd.h>

namespace {
// How long an app started with the session waits for a tray before it shows its own window.
constexpr int kTrayGraceMs = 10000;
// How long the tray's watcher has to answer at start before the app goes on without a tray.
constexpr int kWatcherAnswerMs = 2000;
} // namespace

VelmorApp::VelmorApp(std::shared_ptr<Recorder> recorder, Start start)
    : recorder_(recorder ? std::move(recorder) : std::make_shared<Recorder>()) {
    // Without an icon theme of its own (a bare X or Wayland session) the installed tray symbols
    // are still found in the base theme.
    if (QIcon::themeName().isEmpty()) {
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }
    buildTrayMenu();
    control_ = std::make_unique<RemoteControl>(*recorder_, settings_);
    control_->registerOnSessionBus();
    statusItem_ = std::make_unique<Tray::StatusNotifierItem>(QStringLiteral(VELMOR_APP_ID),
                                                             QStringLiteral("Велмор"), &trayMenu_);
    auto* panel = new PanelView(*recorder_);
    calls_ = std::make_unique<CallWatch>();
    callResponder_ = std::make_unique<CallResponder>(*recorder_, settings_, *calls_);
    connect(calls_.get(), &CallWatch::changed, this, [this, panel] {
        panel->setCall(calls_->call());
        refreshIcon();
    });
    calls_->start();
    system_ = std::make_unique<System::SystemEvents>();
    retries_ = std::make_unique<Retries>(*recorder_, settings_, *system_);
    connect(panel, &PanelView::quitRequested, this, &VelmorApp::quitNow);
    window_ = std::make_unique<Tray::PanelWindow>(panel, false);
    connect(window_.get(), &Tray::PanelWindow::closedWithoutTray, this, &VelmorApp::quitNow);
    window_->setWindowIcon(Tray::symbolIcon(QStringLiteral("waveform.circle"), QColor(0x44, 0x44, 0x44)));
    connect(recorder_.get(), &Recorder::objectWillChange, this, &VelmorApp::refreshIcon, Qt::QueuedConnection);
    connect(&trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            window_->toggle(iconGeometry());
        }
    });
    // Such trays tell no icon position, some the point of the click: the panel opens there, else
    // at the pointer.
    connect(statusItem_.get(), &Tray::StatusNotifierItem::activated, this, [this](const QPoint& where) {
        lastClick_ = where;
        window_->toggle(iconGeometry());
    });
    connect(statusItem_.get(), &Tray::StatusNotifierItem::menuRequested, this, [this](const QPoint& where) {
        if (!where.isNull()) {
            lastClick_ = where;
        }
    });
    toolTipTurn_.setSingleShot(true);
    connect(&toolTipTurn_, &QTimer::timeout, this, &VelmorApp::refreshToolTip);
    connect(&Dispatch::Clock::current(), &Dispatch::Clock::moved, this, &VelmorApp::refreshToolTip);
    refreshIcon();
    // Whether there is a tray is known once the watcher has answered; one that does not answer
    // soon counts as none until it does.
    if (statusItem_->isSettled()) {
        settleTray(start);
    } else {
        connect(statusItem_.get(), &Tray::StatusNotifierItem::settled, this, [this, start] { settleTray(start); });
        QTimer::singleShot(kWatcherAnswerMs, this, [this, start] { settleTray(start); });
    }
}

void VelmorApp::settleTray(Start start) {
    if (isTraySettled_) {
        return;
    }
    isTraySettled_ = true;
    // Qt decided, when it made its tray icon, whether that icon is an XEmbed one or a
    // StatusNotifierItem (if such a tray was there then). Ours serves StatusNotifierItem trays,
    // also those that come later; Qt's is used only where it is the XEmbed kind.
    isXEmbedUsable_ = !statusItem_->isAvailable();
    hasTray_ = findTray() != TrayKind::none;
    if (hasTray_) {
        window_->setHasTray(true);
    }
    trayIcon_.setVisible(findTray() == TrayKind::xembed);
    if (!hasTray_) {
        // No tray on this desktop (stock GNOME): the panel is a small window of its own. At login
        // the tray may only be on its way: then the window waits for it a little.
        if (start == Start::withSession) {
            trayGrace_.setSingleShot(true);
            connect(&trayGrace_, &QTimer::timeout, this, [this] {
                if (!hasTray_) {
                    window_->showAnchored({});
                }
            });
            trayGrace_.start(kTrayGraceMs);
        } else {
            window_->showAnchored({});
        }
    }
    // At login the app often starts before the panel with the tray, and a panel can restart.
    connect(statusItem_.get(), &Tray::StatusNotifierItem::availableChanged, this, &VelmorApp::followTray);
    connect(&trayWatch_, &QTimer::timeout, this, &VelmorApp::followTray);
    trayWatch_.start(2000);
}

VelmorApp::TrayKind VelmorApp::findTray() const {
    // Where a desktop offers both kinds, one icon: the kind that can be recoloured.
    if (statusItem_->isAvailable()) {
        return TrayKind::statusNotifier;
    }
    return isXEmbedUsable_ && QSystemTrayIcon::isSystemTrayAvailable() ? TrayKind::xembed : TrayKind::none;
}

void VelmorApp::followTray() {
    const TrayKind tray = findTray();
    trayIcon_.setVisible(tray == TrayKind::xembed);
    if ((tray != TrayKind::none) == hasTray_) {
        return;
    }
    hasTray_ = tray != TrayKind::none;
    window_->setHasTray(hasTray_);
    if (!hasTray_) {
        window_->showAnchored({});
    }
}

VelmorApp::~VelmorApp() = default;

QString VelmorApp::symbolName() const {
    return recorder_->isRecording() ? QStringLiteral("record.circle.fill") : QStringLiteral("waveform.circle");
}

void VelmorApp::buildTrayMenu() {
    // First: where a click opens the menu (GNOME), this is the way to the panel.
    trayMenu_.addAction(QStringLiteral("Открыть панель"), this, &VelmorApp::showPanel);
    recordCallAction_ = trayMenu_.addAction(QString(), this, [this] { control_->start(); });
    sendSavedAction_ = trayMenu_.addAction(QString(), this, &VelmorApp::sendSaved);
    cancelSendAction_ =
        trayMenu_.addAction(QStringLiteral("Отменить отправку"), recorder_.get(), &Recorder::cancelSend);
    trayMenu_.addSeparator();
    trayMenu_.addAction(QStringLiteral("Выйти"), this, &VelmorApp::quitNow);
    trayIcon_.setContextMenu(&trayMenu_);
}

void VelmorApp::sendSaved() {
    // Nothing awaits the task; the workflow itself catches every failure.
    recorder_->sendSaved(settings_.serverURL(), settings_.apiKey());
}

void VelmorApp::quitNow() {
    recorder_->closeWorkFiles();
    ::_exit(0);
}

void VelmorApp::refreshIcon() {
    // Only a new form is sent: a tray is told of every setIcon, and ticks come each second.
    if (symbolName() != shownSymbol_) {
        shownSymbol_ = symbolName();
        const QString themeName = recorder_->isRecording() ? QStringLiteral(VELMOR_APP_ID "-recording-symbolic")
                                                           : QStringLiteral(VELMOR_APP_ID "-idle-symbolic");
        const QIcon icon = Tray::trayIcon(shownSymbol_, themeName);
        trayIcon_.setIcon(icon);
        statusItem_->setIcon(themeName, icon);
    }
    const int saved = recorder_->savedCount();
    sendSavedAction_->setText(QStringLiteral("Отправить сохранённые записи (%1)").arg(saved));
    sendSavedAction_->setVisible(recorder_->canSendSaved());
    cancelSendAction_->setVisible(recorder_->isSending());
    const std::optional<QString> call = calls_ ? calls_->call() : std::nullopt;
    recordCallAction_->setText(QStringLiteral("Записать звонок (%1)").arg(call.value_or(QString())));
    recordCallAction_->setVisible(call && recorder_->phase() == Phase::idle);
    refreshToolTip();
}

QString VelmorApp::toolTipText() const {
    if (recorder_->isRecording()) {
        const QString warning = recorder_->sourceWarning();
        return QStringLiteral("Велмор — идёт запись, ") + recorder_->elapsedText() +
               (warning.isEmpty() ? QString() : QStringLiteral("\n") + warning);
    }
    if (recorder_->isSending()) {
        const std::optional<SendProgress> progress = recorder_->progress();
        return QStringLiteral("Велмор — отправка…") +
               (progress ? QStringLiteral(" %1%").arg(progress->percent()) : QString());
    }
    if (!recorder_->retryNote().isEmpty()) {
        return QStringLiteral("Велмор — готов\n") + recorder_->retryNote();
    }
    return QStringLiteral("Велмор — готов");
}

void VelmorApp::refreshToolTip() {
    const QString text = toolTipText();
    if (text == trayIcon_.toolTip()) {
        return;
    }
    const qint64 now = Dispatch::Clock::current().monotonicMs();
    if (lastToolTipMs_ && now - *lastToolTipMs_ < kToolTipIntervalMs) {
        if (!toolTipTurn_.isActive()) {
            toolTipTurn_.start(int(kToolTipIntervalMs - (now - *lastToolTipMs_)));
        }
        return;
    }
    lastToolTipMs_ = now;
    trayIcon_.setToolTip(text);
    statusItem_->setToolTip(text);
}

QRect VelmorApp::iconGeometry() const {
    if (trayIcon_.isVisible()) {
        return trayIcon_.geometry();
    }
    return lastClick_.isNull() ? QRect() : QRect(lastClick_, QSize(1, 1));
}

void VelmorApp::perform(const QByteArray& command) {
    if (command == "start") {
        control_->start();
    } else if (command == "stop") {
        control_->stopAndSend();
    } else if (command == "toggle") {
        control_->toggle();
    } else {
        showPanel();
    }
}

void VelmorApp::showPanel() {
    if (!window_->isVisible()) {
        window_->showAnchored(iconGeometry());
    }
    window_->raise();
    window_->activateWindow();
}
