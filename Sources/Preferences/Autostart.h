// Starting with the session: an XDG autostart entry in the user's config directory. It is the
// launcher's own desktop entry, told to start the app in the tray.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

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
    // The entry is there, a regular file, and not switched off (Hidden=true) by the user or the
    // desktop.
    bool isEnabled() const;
    // Writes our entry or removes it; an entry the user wrote or changed is kept and only switched
    // on or off (its Hidden key). Throws std::runtime_error, its text for the user, when the
    // directory refuses it or something other than a file is in its place.
    void setEnabled(bool enabled);

    // The launcher's entry with Exec starting `program` in the tray.
    static QByteArray entryFor(const QString& program);

private:
    static constexpr qint64 kMaxEntrySize = 64 * 1024;
    std::optional<QByteArray> readEntry() const;
    void write(const QByteArray& contents) const;
    static QByteArray switched(const QByteArray& entry, bool enabled);

    QString program_;
    QString directory_;
};

} // namespace Preferences
