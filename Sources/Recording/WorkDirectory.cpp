#include "WorkDirectory.h"

#include "MediaError.h"
#include "VelmorError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUuid>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

const char* const kSystemFile = "system.caf";
const char* const kMicFile = "mic.caf";
const char* const kMixFile = "velmor.m4a";
const char* const kPartialMixFile = "velmor.m4a.part";
const char* const kInfoFile = "recording.json";
const char* const kInfoDraft = "recording.json.new";
constexpr qint64 kInfoLimit = 64 * 1024;

const char* fileOf(WorkDirectory::Source source) {
    return source == WorkDirectory::Source::System ? kSystemFile : kMicFile;
}

bool isInRam(const QString& path) {
    struct statfs fs = {};
    return ::statfs(QFile::encodeName(path).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

// A time read from disk is believed only between the first recording this program could have
// made and tomorrow: anything else would be sent as a meeting's date.
QDateTime plausible(const QDateTime& time) {
    static const QDateTime earliest(QDate(2000, 1, 1), QTime(0, 0), QTimeZone::utc());
    const bool isPlausible =
        time.isValid() && time >= earliest && time <= QDateTime::currentDateTimeUtc().addDays(1);
    return isPlausible ? time.toLocalTime() : QDateTime();
}

QDateTime fromTimespec(const statx_timestamp& stamp) {
    return QDateTime::fromMSecsSinceEpoch(qint64(stamp.tv_sec) * 1000 + stamp.tv_nsec / 1000000);
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString WorkDirectory::root() {
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

QStringList WorkDirectory::roots() {
    QStringList all{root(), QDir::tempPath()};
    all.removeDuplicates();
    return all;
}

bool WorkDirectory::isWorkDirectoryName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^velmor-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"));
    return pattern.match(name).hasMatch();
}

WorkDirectory::WorkDirectory(int fd, QString path) : fd_(fd), path_(std::move(path)) {}

WorkDirectory::~WorkDirectory() {
    ::close(fd_);
}

std::shared_ptr<WorkDirectory> WorkDirectory::create() {
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString path = QDir::cleanPath(QDir(root()).filePath(QStringLiteral("velmor-") + uuid));
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    // The temporary directory is shared between users, and a recording is private.
    if (::mkdir(native.constData(), S_IRWXU) != 0) {
        throw VelmorError(QStringLiteral("Не удалось создать папку записи (%1)").arg(systemError()));
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Another process's look at the new, empty directory holds it for a moment at most.
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        const QString reason = systemError();
        if (fd >= 0) {
            ::close(fd);
        }
        ::rmdir(native.constData());
        throw VelmorError(QStringLiteral("Не удалось создать папку записи (%1)").arg(reason));
    }
    return std::shared_ptr<WorkDirectory>(new WorkDirectory(fd, path));
}

bool WorkDirectory::isUnusable(const QString& path) {
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::getuid() &&
           ((status.st_mode & S_IRWXU) != S_IRWXU || (status.st_mode & (S_IRWXG | S_IRWXO)) != 0);
}

std::shared_ptr<WorkDirectory> WorkDirectory::open(const QString& path, Hold hold) {
    const QString clean = QDir::cleanPath(path);
    const int fd = ::open(QFile::encodeName(clean).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat status = {};
    // Another user could have put files into a directory open to them.
    const bool isPrivate = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
                           (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
    // Another look may have taken its shared lock a moment before: that is over at once.
    const int attempts = hold == Hold::alone ? 10 : 1;
    bool isTaken = false;
    for (int attempt = 0; isPrivate && !isTaken && attempt < attempts; ++attempt) {
        if (attempt > 0) {
            ::usleep(5000);
        }
        isTaken = ::flock(fd, (hold == Hold::alone ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
    }
    if (!isTaken) {
        ::close(fd);
        return nullptr;
    }
    if (hold == Hold::toLook) {
        ::flock(fd, LOCK_UN);
    }
    return std::shared_ptr<WorkDirectory>(new WorkDirectory(fd, clean));
}

QString WorkDirectory::throughFd(const char* name) const {
    return QStringLiteral("/proc/self/fd/%1/%2").arg(fd_).arg(QString::fromLatin1(name));
}

QString WorkDirectory::borrowedSourcePath(Source source) const {
    return throughFd(fileOf(source));
}

QString WorkDirectory::borrowedMixPath() const {
    return throughFd(kMixFile);
}

QString WorkDirectory::borrowedPartialMixPath() const {
    return throughFd(kPartialMixFile);
}

bool WorkDirectory::isRegularFile(const char* name, qint64 minimumSize) const {
    struct stat status = {};
    return ::fstatat(fd_, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
           status.st_size >= minimumSize;
}

bool WorkDirectory::hasSource(Source source) const {
    return isRegularFile(fileOf(source), 1);
}

bool WorkDirectory::isRemoved() const {
    struct stat status = {};
    return ::fstat(fd_, &status) != 0 || status.st_nlink == 0;
}

bool WorkDirectory::hasMix() const {
    return isRegularFile(kMixFile, 1);
}

void WorkDirectory::publishMix() const {
    // A finished file appears under its name only once it is whole: one cut off by a crash or a
    // quit is never taken for a finished one.
    const int fd = ::openat(fd_, kPartialMixFile, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    const bool isPublished = fd >= 0 && ::fsync(fd) == 0 && ::renameat(fd_, kPartialMixFile, fd_, kMixFile) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!isPublished) {
        ::unlinkat(fd_, kPartialMixFile, 0);
        throw Media::MediaError(Media::MediaError::Kind::CannotWrite);
    }
}

WorkDirectory::Info WorkDirectory::readInfo() const {
    Info info;
    // Not blocking: a FIFO in its place would hang the read.
    const int fd = ::openat(fd_, kInfoFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status = {};
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kInfoLimit) {
        QByteArray text(qsizetype(status.st_size), '\0');
        const ssize_t got = ::read(fd, text.data(), std::size_t(text.size()));
        text.resize(got > 0 ? qsizetype(got) : 0);
        const QJsonObject object = QJsonDocument::fromJson(text).object();
        const auto time = [&](const char* key) {
            return plausible(
                QDateTime::fromString(object.value(QLatin1String(key)).toString(), Qt::ISODateWithMs));
        };
        info.recordedAt = time("recordedAt");
        info.endedAt = time("endedAt");
        info.title = object.value(QStringLiteral("title")).toString().left(kTitleLimit);
        info.sources = object.value(QStringLiteral("sources")).toObject();
        info.isSent = object.value(QStringLiteral("sent")).toBool();
        info.isRetried = object.value(QStringLiteral("retry")).toBool();
        const QString date = object.value(QStringLiteral("date")).toString();
        if (plausible(QDateTime(QDate::fromString(date, Qt::ISODate), QTime(12, 0), QTimeZone::utc())).isValid()) {
            info.name = object.value(QStringLiteral("name")).toString().left(kTitleLimit);
            info.date = date;
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (!info.recordedAt.isValid()) {
        // The work files are created with the first audio.
        for (const Source source : kSources) {
            struct statx status = {};
            if (::statx(fd_, fileOf(source), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &status) != 0) {
                continue;
            }
            const QDateTime created = plausible(
                fromTimespec((status.stx_mask & STATX_BTIME) != 0 ? status.stx_btime : status.stx_ctime));
            if (created.isValid() && (!info.recordedAt.isValid() || created < info.recordedAt)) {
                info.recordedAt = created;
            }
        }
    }
    if (!info.recordedAt.isValid()) {
        struct stat own = {};
        if (::fstat(fd_, &own) == 0) {
            info.recordedAt = plausible(QDateTime::fromSecsSinceEpoch(own.st_mtim.tv_sec));
        }
    }
    return info;
}

QDateTime WorkDirectory::audioEnd() const {
    const Info info = readInfo();
    if (info.endedAt.isValid()) {
        return info.endedAt;
    }
    QDateTime latest;
    for (const Source source : kSources) {
        struct stat status = {};
        if (::fstatat(fd_, fileOf(source), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
            const QDateTime changed = plausible(QDateTime::fromMSecsSinceEpoch(
                qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000));
            if (changed.isValid() && (!latest.isValid() || changed > latest)) {
                latest = changed;
            }
        }
    }
    return latest.isValid() ? latest : info.recordedAt;
}

bool WorkDirectory::writeInfo(const Info& info) const {
    QJsonObject object;
    const auto insertTime = [&](const char* key, const QDateTime& time) {
        if (time.isValid()) {
            object.insert(QLatin1String(key), time.toUTC().toString(Qt::ISODateWithMs));
        }
    };
    insertTime("recordedAt", info.recordedAt);
    insertTime("endedAt", info.endedAt);
    object.insert(QStringLiteral("title"), info.title);
    if (!info.sources.isEmpty()) {
        object.insert(QStringLiteral("sources"), info.sources);
    }
    if (info.isNamed()) {
        object.insert(QStringLiteral("name"), info.name);
        object.insert(QStringLiteral("date"), info.date);
    }
    if (info.isRetried) {
        object.insert(QStringLiteral("retry"), true);
    }
    if (info.isSent) {
        object.insert(QStringLiteral("sent"), true);
    }
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
    const int fd =
        ::openat(fd_, kInfoDraft, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return false;
    }
    // On disk before it replaces the last one: a power loss leaves one of the two, whole.
    const bool isWritten =
        ::write(fd, text.constData(), std::size_t(text.size())) == ssize_t(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!isWritten || ::renameat(fd_, kInfoDraft, fd_, kInfoFile) != 0) {
        ::unlinkat(fd_, kInfoDraft, 0);
        return false;
    }
    return true;
}

void WorkDirectory::removeWorkFiles() const {
    for (const Source source : kSources) {
        ::unlinkat(fd_, fileOf(source), 0);
    }
}

void WorkDirectory::remove() const {
    // Every entry, whatever it is (a link is removed, not followed), but no subdirectory.
    const int listFd = ::dup(fd_);
    if (DIR* listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
        ::rewinddir(listing);
        while (const dirent* entry = ::readdir(listing)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                ::unlinkat(fd_, entry->d_name, 0);
            }
        }
        ::closedir(listing);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    // The name is removed only while it still names the directory that was opened.
    const QFileInfo where(path_);
    const QByteArray parentPath = QFile::encodeName(where.absolutePath());
    const QByteArray name = QFile::encodeName(where.fileName());
    const int parent = ::open(parentPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        return;
    }
    struct stat opened = {};
    struct stat named = {};
    if (::fstat(fd_, &opened) == 0 && ::fstatat(parent, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(named.st_mode) && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
        ::unlinkat(parent, name.constData(), AT_REMOVEDIR);
    }
    ::close(parent);
}
