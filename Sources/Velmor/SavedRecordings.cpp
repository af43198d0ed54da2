#include "SavedRecordings.h"

#include "Asset.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace SavedRecordings {

namespace {

const QString kInfoFile = QStringLiteral("recording.json");

bool isInRam(const QString& path) {
    struct statfs fs {};
    return ::statfs(QFile::encodeName(path).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

bool isOwnDirectory(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::getuid();
}

bool isLongerThanAFifthOfASecond(const QString& path) {
    if (!QFileInfo::exists(path)) {
        return false;
    }
    try {
        return Media::Asset(path).duration().seconds() > 0.2;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

QString workRoot() {
    if (!qEnvironmentVariableIsEmpty("TMPDIR")) {
        return QDir::tempPath();
    }
    const QString temp = QDir::tempPath();
    const QString disk = QStringLiteral("/var/tmp");
    if (isInRam(temp) && QFileInfo(disk).isDir() && QFileInfo(disk).isWritable() && !isInRam(disk)) {
        return disk;
    }
    return temp;
}

void writeInfo(const QString& dir, const RecordingInfo& info) {
    QJsonObject object;
    if (info.recordedAt.isValid()) {
        object.insert(QStringLiteral("recordedAt"), info.recordedAt.toUTC().toString(Qt::ISODateWithMs));
    }
    object.insert(QStringLiteral("title"), info.title);
    QSaveFile file(QDir(dir).filePath(kInfoFile));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

RecordingInfo readInfo(const QString& dir) {
    RecordingInfo info;
    QFile file(QDir(dir).filePath(kInfoFile));
    if (file.open(QIODevice::ReadOnly) && file.size() < 64 * 1024) {
        const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
        info.recordedAt =
            QDateTime::fromString(object.value(QStringLiteral("recordedAt")).toString(), Qt::ISODateWithMs);
        info.title = object.value(QStringLiteral("title")).toString();
    }
    if (!info.recordedAt.isValid()) {
        // The work files are created with the first audio.
        QDateTime earliest;
        for (const QFileInfo& entry : QDir(dir).entryInfoList({QStringLiteral("*.caf")}, QDir::Files)) {
            const QDateTime created = entry.birthTime().isValid()
                                          ? entry.birthTime()
                                          : entry.fileTime(QFileDevice::FileMetadataChangeTime);
            if (!earliest.isValid() || created < earliest) {
                earliest = created;
            }
        }
        info.recordedAt = earliest.isValid() ? earliest : QFileInfo(dir).lastModified();
    }
    return info.recordedAt.isValid() ? RecordingInfo{info.recordedAt.toLocalTime(), info.title} : info;
}

bool holdsRecording(const QString& dir) {
    const QDir directory(dir);
    return QFileInfo::exists(directory.filePath(QStringLiteral("velmor.m4a"))) ||
           isLongerThanAFifthOfASecond(directory.filePath(QStringLiteral("system.caf"))) ||
           isLongerThanAFifthOfASecond(directory.filePath(QStringLiteral("mic.caf")));
}

QStringList find(const QStringList& excluded) {
    static const QRegularExpression name(QStringLiteral("^velmor-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"));
    QStringList roots{workRoot(), QDir::tempPath()};
    roots.removeDuplicates();
    QList<std::pair<QDateTime, QString>> found;
    for (const QString& root : roots) {
        for (const QString& entry : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString dir = QDir::cleanPath(QDir(root).filePath(entry));
            if (!name.match(entry).hasMatch() || excluded.contains(dir) || !isOwnDirectory(dir) ||
                !holdsRecording(dir)) {
                continue;
            }
            found.append({readInfo(dir).recordedAt, dir});
        }
    }
    std::sort(found.begin(), found.end());
    QStringList dirs;
    for (const auto& [recordedAt, dir] : found) {
        dirs.append(dir);
    }
    return dirs;
}

} // namespace SavedRecordings
