// The application: one recorder for the life of the process, the tray icon that follows
// `isRecording`, and the panel window the icon opens.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <memory>

class PanelView;
class Recorder;
namespace UI {
class PanelWindow;
}

class VelmorApp : public QObject {
    Q_OBJECT

public:
    explicit VelmorApp(std::shared_ptr<Recorder> recorder = nullptr);
    ~VelmorApp() override;

    Recorder& recorder() const { return *recorder_; }
    UI::PanelWindow& panelWindow() const { return *window_; }
    QSystemTrayIcon& trayIcon() { return trayIcon_; }
    bool hasTray() const { return hasTray_; }
    // The symbol the tray shows now.
    QString symbolName() const;

    void showPanel();

public slots:
    void refreshIcon();

private:
    std::shared_ptr<Recorder> recorder_;
    bool hasTray_;
    QSystemTrayIcon trayIcon_;
    std::unique_ptr<UI::PanelWindow> window_;
};
