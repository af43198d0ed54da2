// One recording on disk, and the one place that knows its layout: a directory "velmor-<UUID>" in
// the work root, private to the user (0700), holding the two work files, the finished mix once
// there is one, and "recording.json" (when it was made, the title, and the name and date it is
// sent under once they are fixed).
//
// An object holds the directory open and exclusively locked (flock) for as long as it lives: no
// other object, and no other process of this user however it was started, can take a recording
// that is being made or sent. The kernel drops the lock when the process ends, crash or not.
// Every file is reached through the opened directory, so a directory swapped for a link after it
// was opened leads nowhere else; links and other non-regular files inside it are never followed.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class WorkDirectory {
public:
    enum class Source { System, Microphone };
    static constexpr Source kSources[] = {Source::System, Source::Microphone};
    // The longest meeting title the panel takes and a send carries.
    static constexpr int kTitleLimit = 200;

    struct Info {
        QDateTime recordedAt; // when it started; invalid when unknown
        QDateTime endedAt;    // when its audio ended, once known
        QString title;        // as typed; once named, the title it is sent with
        // Fixed by the first send and kept for every later one.
        QString name;
        QString date;
        // What each source held, once the recording ended: {"system"|"microphone": {"peakDb",
        // "seconds", "silentSeconds"}}. Kept as it is through every rewrite.
        QJsonObject sources;
        // Delivered, with a work file that could not be read kept for the user: never offered again.
        bool isSent = false;
        // Its last send failed for a reason that passes: tried again by itself.
        bool isRetried = false;
        bool isNamed() const { return !name.isEmpty() && !date.isEmpty(); }
    };

    // $TMPDIR when set. Otherwise the temporary directory, unless it lives in RAM (tmpfs): there a
    // power loss would erase the recording and a long meeting would fill the memory, so /var/tmp.
    static QString root();
    // Where recordings of earlier runs may be: the root and the temporary directory.
    static QStringList roots();
    static bool isWorkDirectoryName(const QString& name);
    // This user's directory there, but one that cannot be used: not readable, writable and
    // searchable by the user, or open to others.
    static bool isUnusable(const QString& path);

    // A new, empty, held directory in root(). Throws VelmorError.
    static std::shared_ptr<WorkDirectory> create();
    // To send or change it, alone; to look at it only when nothing holds it, holding nothing
    // itself (a send is never kept out by a look).
    enum class Hold { alone, toLook };
    // Holds an existing directory: null when it is not a private directory of this user, or when
    // another object or process holds it in a way that excludes this hold.
    static std::shared_ptr<WorkDirectory> open(const QString& path, Hold hold = Hold::alone);

    ~WorkDirectory();
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;

    // Where it is, for the user to find.
    const QString& path() const { return path_; }
    // Paths that reach the files through the opened directory, for libraries that open by path:
    // they borrow its descriptor, so they are used at once and never kept past its life.
    QString borrowedSourcePath(Source source) const;
    QString borrowedMixPath() const;
    QString borrowedPartialMixPath() const;

    // The source's work file is there, a regular file with something in it.
    bool hasSource(Source source) const;
    // The finished mix is there, a regular file.
    bool hasMix() const;
    // Removed from disk while held.
    bool isRemoved() const;
    // Makes the whole partial mix the finished one (flushed to disk first). Throws
    // MediaError(CannotWrite) and leaves no partial file behind.
    void publishMix() const;

    // What recording.json says, read without blocking and up to 64 KB; dates out of range and a
    // missing start fall back to the work files' times, a long title is cut to kTitleLimit.
    Info readInfo() const;
    // Written whole and synced, or not at all: false then.
    bool writeInfo(const Info& info) const;
    // When the audio ended: as written, else the work files' last change.
    QDateTime audioEnd() const;

    // A failed start's first buffers.
    void removeWorkFiles() const;
    // After a successful send: the files, then the directory itself if it is still the one
    // opened. Nothing outside it is touched.
    void remove() const;

private:
    WorkDirectory(int fd, QString path);
    QString throughFd(const char* name) const;
    bool isRegularFile(const char* name, qint64 minimumSize) const;

    int fd_ = -1;
    QString path_;
};
