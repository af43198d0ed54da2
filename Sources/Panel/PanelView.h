// The panel: the recorder's state, the settings and the meeting title, the start and
// stop-and-send buttons, the links and the quit button. It holds no logic beyond its show, hide
// and enable rules; it re-reads everything after each change the recorder announces.
#pragma once

#include "Autostart.h"
#include "Settings.h"

#include <QWidget>
#include <optional>

class LevelMeters;
class QBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class Recorder;
class SettingsSection;

class PanelView : public QWidget {
    Q_OBJECT

public:
    // The recorder outlives the panel.
    explicit PanelView(Recorder& recorder, QWidget* parent = nullptr);

    // The address the footer link opens: the typed server address, or the default when it does not parse.
    static QUrl footerAddress(const QString& serverURL);

    // While a call is under way the start button names it: "Записать звонок (Zoom)".
    void setCall(const std::optional<QString>& application);

public slots:
    void refresh();

signals:
    // The quit button: the application ends the process at once.
    void quitRequested();

protected:
    // The autostart box shows what is on disk each time the panel opens.
    void showEvent(QShowEvent* event) override;

private:
    void addHeader(QBoxLayout* stack);
    void addRecordingControls(QBoxLayout* stack);
    void addSendingControls(QBoxLayout* stack);
    void addFooter(QBoxLayout* stack);
    void connectShortcuts();
    void triggerMainButton();

    Recorder& recorder_;
    Preferences::Settings settings_;
    Preferences::Autostart autostart_;
    bool showSettings_ = false;
    std::optional<QString> call_;

    QToolButton* gearButton_ = nullptr;
    SettingsSection* settingsSection_ = nullptr;
    QWidget* settingsDivider_ = nullptr;
    QLineEdit* titleField_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QWidget* recordingDot_ = nullptr;
    QLabel* elapsedLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* retryNote_ = nullptr;
    LevelMeters* meters_ = nullptr;
    QLabel* sourceWarning_ = nullptr;
    QProgressBar* sendBar_ = nullptr;
    QLabel* meetingLink_ = nullptr;
    QPushButton* sendSavedButton_ = nullptr;
    QLabel* unusableSaved_ = nullptr;
    QPushButton* cancelSendButton_ = nullptr;
};
