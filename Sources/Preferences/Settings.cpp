#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Preferences {

namespace {

constexpr auto kOrganization = "velmor";
constexpr auto kApplication = "velmor";

QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication);
}

// QSettings creates its file with the process umask (usually 0644). The key must not be readable
// by other users even for a moment, so the file exists with mode 0600 before QSettings writes it.
void ensurePrivateFile(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0) {
        ::fchmod(fd, S_IRUSR | S_IWUSR);
        ::close(fd);
    }
}

} // namespace

Settings::Settings() = default;

QString Settings::value(const Setting& setting) const {
    return store().value(setting.key, QString::fromUtf8(setting.defaultValue)).toString();
}

void Settings::setValue(const Setting& setting, const QString& value) {
    ensurePrivateFile(fileName());
    QSettings settings = store();
    settings.setValue(setting.key, value);
    settings.sync();
    // QSettings replaces the file through a temporary one on sync; keep the mode private.
    QFile::setPermissions(fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

CallAction Settings::callAction() const {
    const QString action = value(kWhenCallStarts);
    if (action == QLatin1String("nothing")) {
        return CallAction::nothing;
    }
    return action == QLatin1String("record") && hasAgreedToAutoRecord() ? CallAction::record : CallAction::suggest;
}

void Settings::setCallAction(CallAction action) {
    const char* names[] = {"nothing", "suggest", "record"};
    setValue(kWhenCallStarts, QString::fromLatin1(names[int(action)]));
}

QString Settings::fileName() const {
    return store().fileName();
}

} // namespace Preferences
