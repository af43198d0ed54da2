#include "Autostart.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <stdexcept>

namespace Preferences {

namespace {

// An Exec argument, quoted where the desktop entry format needs it: inside quotes \ " ` $ are
// escaped with a backslash, and the string value then doubles every backslash once more.
QString execArgument(const QString& argument) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+,:=@%-]+$"));
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

bool Autostart::isEnabled() const {
    QFile entry(path());
    if (!entry.open(QIODevice::ReadOnly)) {
        return false;
    }
    // Both ways a user or a desktop switches an entry off without removing it.
    for (const QByteArray& line : entry.read(64 * 1024).split('\n')) {
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
    if (!enabled) {
        if (QFile::exists(path()) && !QFile::remove(path())) {
            throw std::runtime_error("cannot remove " + path().toStdString());
        }
        return;
    }
    if (!QDir().mkpath(directory_)) {
        throw std::runtime_error("cannot create " + directory_.toStdString());
    }
    QSaveFile entry(path());
    if (!entry.open(QIODevice::WriteOnly) || entry.write(entryFor(program_)) < 0 || !entry.commit()) {
        throw std::runtime_error("cannot write " + path().toStdString() + ": " +
                                 entry.errorString().toStdString());
    }
}

QByteArray Autostart::entryFor(const QString& program) {
    QFile launcher(QStringLiteral(":/launcher/" VELMOR_APP_ID ".desktop"));
    if (!launcher.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("the launcher entry is not built in");
    }
    QByteArray entry;
    for (const QByteArray& line : launcher.readAll().split('\n')) {
        if (line.startsWith("Exec=")) {
            entry += "Exec=" + (execArgument(program) + u' ' + argument()).toUtf8() + '\n';
        } else if (!line.isEmpty()) {
            entry += line + '\n';
        }
    }
    return entry;
}

} // namespace Preferences
