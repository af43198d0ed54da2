// The recordings waiting on disk to be sent: left by a failed send, an interruption, a quit, a
// crash or a power loss. Found once at start, off the main thread, then kept up to date by each
// event instead of looking again.
#pragma once

#include "WorkDirectory.h"

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
        std::shared_ptr<WorkDirectory> held;
    };

    // Blocking: this user's recordings in the work roots that nothing holds (none being made or
    // sent by this or another process), oldest first.
    static QList<Entry> scan();
    // A finished mix, or a work file of more than 0.2 s.
    static bool holdsRecording(const WorkDirectory& dir);

    int count() const { return int(entries_.size()); }
    const QList<Entry>& entries() const { return entries_; }
    // Adds, or replaces the entry of the same path; the list stays oldest first.
    void add(Entry entry);
    void add(const QList<Entry>& entries);
    void remove(const QString& path);

private:
    QList<Entry> entries_;
};
