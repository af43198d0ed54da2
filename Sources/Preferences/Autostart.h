// Starting with the session: an XDG autostart entry in the user's config directory. It is the
// launcher's own desktop entry, told to start the app in the tray.
#pragma once

#include <QString>

namespace Preferences {

class Autostart {
public:
    // `program` is what the entry starts; `directory` where the session looks for entries.
    explicit Autostart(QString program, QString directory = defaultDirectory());

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
    static QString defaultDirectory();
    // The argument that tells a started app the session started it.
    static QString argument() { return QStringLiteral("--autostart"); }

    QString path() const;
    // The entry is there and not switched off (Hidden=true) by the user or the desktop.
    bool isEnabled() const;
    // Writes or removes the entry. Throws std::runtime_error when the directory refuses it.
    void setEnabled(bool enabled);

    // The launcher's entry with Exec starting `program` in the tray.
    static QByteArray entryFor(const QString& program);

private:
    QString program_;
    QString directory_;
};

} // namespace Preferences
