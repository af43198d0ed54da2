// The panel's settings: the server address and the key, written as they are typed, what a call
// does, and the box that starts the app with the session. It writes through Settings and Autostart and says when a
// change of the autostart entry did not go through.
#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace Preferences {
class Autostart;
class Settings;
} // namespace Preferences

class SettingsSection : public QWidget {
    Q_OBJECT

public:
    // Both outlive the section.
    SettingsSection(Preferences::Settings& settings, Preferences::Autostart& autostart, QWidget* parent = nullptr);

    // The box shows what the session will do: what is on disk now.
    void readAutostart();

signals:
    // A setting was typed.
    void edited();

private:
    void setAutostart(bool enabled);
    // Recording by itself is chosen only after the user agreed to it, once.
    void setCallAction(int index);
    void refresh();

    Preferences::Settings& settings_;
    Preferences::Autostart& autostart_;
    QLineEdit* serverField_ = nullptr;
    QLineEdit* keyField_ = nullptr;
    QLabel* keyWarning_ = nullptr;
    QComboBox* callChoice_ = nullptr;
    QCheckBox* autostartBox_ = nullptr;
    QLabel* autostartFailure_ = nullptr;
};
