#include "Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <stdexcept>

namespace Preferences {

namespace {

// An Exec argument, quoted where the desktop entry format needs it: inside quotes \ " ` $ are
// escaped with a backslash, and the string value then doubles every backslash once more.
QString execArgument(const QString& argument) {
    // "%" starts a field code even outside quotes: it is never plain.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+,:=@-]+$"));
    if (plain.match(argument).hasMatch()) {
        return argument;
    }
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            quoted += u'\\';
        }
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QStringLiteral("\\r"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

} // namespace

Autostart::Autostart(QString program, QString directory)
    : program_(std::move(program)), directory_(std::move(directory)) {}

QString Autostart::defaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString Autostart::path() const {
    return directory_ + QStringLiteral("/" VELMOR_APP_ID ".desktop");
}

std::optional<QByteArray> Autostart::readEntry() const {
    // Only a regular file is read: a FIFO or device in its place would block or never end.
    if (!QFileInfo(path()).isFile()) {
        return std::nullopt;
    }
    QFile entry(path());
    if (!entry.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return entry.read(kMaxEntrySize);
}

bool Autostart::isEnabled() const {
    const std::optional<QByteArray> entry = readEntry();
    if (!entry) {
        return false;
    }
    // Both ways a user or a desktop switches an entry off without removing it.
    for (const QByteArray& line : entry->split('\n')) {
        const qsizetype equals = line.indexOf('=');
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (equals > 0 &&
            ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))) {
            return false;
        }
    }
    return true;
}

void Autostart::setEnabled(bool enabled) {
    const bool exists = QFileInfo::exists(path()) || QFileInfo(path()).isSymLink();
    const std::optional<QByteArray> entry = readEntry();
    if (exists && !entry) {
        throw std::runtime_error(QStringLiteral("%1 не обычный файл").arg(path()).toStdString());
    }
    if (!enabled) {
        if (!entry) {
            return;
        }
        // Ours as written is removed; the user's own is only switched off.
        if (*entry == entryFor(program_)) {
            if (!QFile::remove(path())) {
                throw std::runtime_error(QStringLiteral("не удалось удалить %1").arg(path()).toStdString());
            }
        } else {
            write(switched(*entry, false));
        }
        return;
    }
    if (!QDir().mkpath(directory_)) {
        throw std::runtime_error(QStringLiteral("не удалось создать %1").arg(directory_).toStdString());
    }
    write(entry ? switched(*entry, true) : entryFor(program_));
}

void Autostart::write(const QByteArray& contents) const {
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) < 0 || !file.commit()) {
        throw std::runtime_error(
            QStringLiteral("не удалось записать %1: %2").arg(path(), file.errorString()).toStdString());
    }
}

QByteArray Autostart::switched(const QByteArray& entry, bool enabled) {
    // The keys that switch an entry off go; off, one Hidden=true is added to the main group. Every
    // other line stays as the user wrote it.
    QByteArray result;
    bool inMainGroup = false;
    bool added = false;
    for (const QByteArray& line : entry.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[')) {
            inMainGroup = trimmed == "[Desktop Entry]";
        }
        const QByteArray key = trimmed.left(trimmed.indexOf('=')).trimmed();
        if (inMainGroup && (key == "Hidden" || key == "X-GNOME-Autostart-enabled")) {
            continue;
        }
        result += line + '\n';
        if (!enabled && !added && trimmed == "[Desktop Entry]") {
            result += "Hidden=true\n";
            added = true;
        }
    }
    result.chop(1); // the split's last, empty piece
    return result;
}

QByteArray Autostart::entryFor(const QString& program) {
    QFile launcher(QStringLiteral(":/launcher/" VELMOR_APP_ID ".desktop"));
    if (!launcher.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("the launcher entry is not built in");
    }
    // The main group starts the program in the tray; each action starts it with the action's own
    // arguments.
    QByteArray entry;
    bool inMainGroup = false;
    for (const QByteArray& line : launcher.readAll().split('\n')) {
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            entry += entry.isEmpty() ? line + '\n' : '\n' + line + '\n';
        } else if (line.startsWith("Exec=")) {
            const QByteArray arguments = inMainGroup ? argument().toUtf8() : line.mid(line.indexOf(' ') + 1);
            entry += "Exec=" + execArgument(program).toUtf8() + ' ' + arguments + '\n';
        } else if (!line.isEmpty()) {
            entry += line + '\n';
        }
    }
    return entry;
}

} // namespace Preferences
