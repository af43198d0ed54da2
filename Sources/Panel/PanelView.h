// The panel: the recorder's state, the two settings and the meeting title, the start and
// stop-and-send buttons, the links and the quit button. It holds no logic beyond its show, hide
// and enable rules; it re-reads everything after each change the recorder announces.
#pragma once

#include "Autostart.h"
#include "Settings.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QProgressBar;
class QTimer;
class QLineEdit;
class QPushButton;
class QToolButton;
class Recorder;
struct SendProgress;

class PanelView : public QWidget {
    Q_OBJECT

public:
    explicit PanelView(Recorder* recorder, QWidget* parent = nullptr);

    bool showSettings() const { return showSettings_; }
    // What the send bar says, e.g. "42% · 25,2 из 60,0 МБ · осталось 01:20".
    static QString progressText(const SendProgress& progress);
    // The address the footer link opens: the typed server address, or the default when it does not parse.
    static QUrl footerAddress(const QString& serverURL);

public slots:
    void refresh();

signals:
    // The quit button: the application ends the process at once.
    void quitRequested();

protected:
    // The autostart box shows what is on disk each time the panel opens.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The meters' lowest reading, in dBFS.
    static constexpr double kMeterFloorDb = -60;

    void build();
    void followMeters();
    void readMeters();
    void triggerMainButton();
    void startRecording();
    void stopAndSend();
    void sendSaved();

    QPointer<Recorder> recorder_;
    Preferences::Settings settings_;
    Preferences::Autostart autostart_;
    bool showSettings_ = false;

    QToolButton* gearButton_ = nullptr;
    QWidget* settingsSection_ = nullptr;
    QWidget* settingsDivider_ = nullptr;
    QLineEdit* serverField_ = nullptr;
    QLineEdit* keyField_ = nullptr;
    QLabel* keyWarning_ = nullptr;
    QCheckBox* autostartBox_ = nullptr;
    QLineEdit* titleField_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QWidget* recordingDot_ = nullptr;
    QLabel* elapsedLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QWidget* metersSection_ = nullptr;
    QProgressBar* systemMeter_ = nullptr;
    QProgressBar* micMeter_ = nullptr;
    QTimer* meterTimer_ = nullptr;
    QProgressBar* sendBar_ = nullptr;
    QLabel* sourceWarning_ = nullptr;
    QLabel* meetingLink_ = nullptr;
    QPushButton* sendSavedButton_ = nullptr;
    QPushButton* cancelSendButton_ = nullptr;
    QLabel* footerLink_ = nullptr;
    QToolButton* quitButton_ = nullptr;
};
