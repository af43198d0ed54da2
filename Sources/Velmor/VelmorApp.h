// The application: one recorder for the life of the process, the tray icon that follows
// `isRecording` with its menu, and the panel window the icon opens.
#pragma once

#include "Settings.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>
#include <optional>

class CallResponder;
class CallWatch;
class PanelView;
class Recorder;
class RemoteControl;
class Retries;
namespace System {
class SystemEvents;
}
namespace Tray {
class PanelWindow;
class StatusNotifierItem;
} // namespace Tray

class VelmorApp : public QObject {
    Q_OBJECT

public:
    // How the process was started: the session starts it at login, often before the tray is up.
    enum class Start { byUser, withSession };
    explicit VelmorApp(std::shared_ptr<Recorder> recorder = nullptr, Start start = Start::byUser);
    ~VelmorApp() override;

    Recorder& recorder() const { return *recorder_; }
    Tray::PanelWindow& panelWindow() const { return *window_; }
    QSystemTrayIcon& trayIcon() { return trayIcon_; }
    Tray::StatusNotifierItem& statusItem() { return *statusItem_; }
    CallWatch& calls() { return *calls_; }
    bool hasTray() const { return hasTray_; }
    // The symbol the tray shows now.
    QString symbolName() const;
    // What hovering the icon says of the recorder's state, e.g. "Велмор — идёт запись, 12:34".
    QString toolTipText() const;

    void showPanel();
    // A command from the command line or a later launch: "show", "start", "stop" (and send) or
    // "toggle".
    void perform(const QByteArray& command);
    QMenu& trayMenu() { return trayMenu_; }

    // Ends the process at once, whatever the recorder is doing: nothing waits for a mixdown or an
    // upload. A running capture's files are completed first; every recording stays saved.
    [[noreturn]] void quitNow();

public slots:
    void refreshIcon();

private:
    enum class TrayKind { none, xembed, statusNotifier };
    TrayKind findTray() const;
    // Decides, once, whether a tray is there and shows the window where none is.
    void settleTray(Start start);
    void buildTrayMenu();
    void followTray();
    void sendSaved();
    void refreshToolTip();
    // Where the icon is, as well as it is known: Qt's icon tells its geometry, a StatusNotifierItem
    // tray the point of the last click on it.
    QRect iconGeometry() const;

    std::shared_ptr<Recorder> recorder_;
    bool hasTray_ = false;
    Preferences::Settings settings_;
    QSystemTrayIcon trayIcon_;
    std::unique_ptr<Tray::StatusNotifierItem> statusItem_;
    bool isXEmbedUsable_ = false;
    bool isTraySettled_ = false;
    QTimer trayWatch_;
    QTimer trayGrace_;
    QString shownSymbol_;
    QPoint lastClick_;
    // Trays are told of a new tooltip at most once a second; the latest text waits for its turn.
    static constexpr qint64 kToolTipIntervalMs = 1000;
    QTimer toolTipTurn_;
    std::optional<qint64> lastToolTipMs_;
    QMenu trayMenu_;
    QAction* sendSavedAction_ = nullptr;
    QAction* cancelSendAction_ = nullptr;
    QAction* recordCallAction_ = nullptr;
    std::unique_ptr<CallWatch> calls_;
    std::unique_ptr<CallResponder> callResponder_;
    std::unique_ptr<System::SystemEvents> system_;
    std::unique_ptr<Retries> retries_;
    std::unique_ptr<Tray::PanelWindow> window_;
    std::unique_ptr<RemoteControl> control_;
};
