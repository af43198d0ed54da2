// The recordings waiting on disk to be sent: left by a failed send, an interruption, a quit, a
// crash or a power loss. Found once at start, off the main thread, then kept up to date by each
// event instead of looking again.
#pragma once

#include "Recording.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>

class SavedRecordings {
public:
    struct Entry {
        QString path;
        QDateTime recordedAt;
        // A recording interrupted in this run stays held, with what its live export made.
        std::shared_ptr<Recording> held;
        // Its last send failed for a reason that passes: tried again by itself.
        bool isRetried = false;
    };

    struct Found {
        QList<Entry> entries;
        // This user's recordings that cannot be read or written, never offered: how many, and a
        // folder they are in.
        int unusable = 0;
        QString unusableFolder;
    };
    // Blocking: this user's recordings in the work roots that nothing holds (none being made or
    // sent by this or another process), oldest first.
    static Found scan();
    // A finished mix, or a work file of more than 0.2 s.
    static bool holdsRecording(const WorkDirectory& dir);
    static bool holdsRecording(const Recording& recording) { return holdsRecording(recording.directory()); }
    // The entry of a recording this run made: held on with what its live export made (one
    // interrupted), or released for any later send to take.
    static Entry entryOf(const std::shared_ptr<Recording>& recording, bool staysHeld);
    // The recording of an entry, ready to send alone: null when it is gone or another object or
    // process holds it.
    static std::shared_ptr<Recording> take(const Entry& entry);

    int count() const { return int(entries_.size()); }
    const QList<Entry>& entries() const { return entries_; }
    // Adds, or replaces the entry of the same path; the list stays oldest first.
    void add(Entry entry);
    void add(const QList<Entry>& entries);
    void remove(const QString& path);

private:
    QList<Entry> entries_;
};
