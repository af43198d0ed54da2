// Recordings left on disk by a failed send, an interruption, a quit, a crash or a power loss, and
// where work directories go. A work directory "velmor-<UUID>" holds the two work files, the
// finished "velmor.m4a" once there is one, and "recording.json": when the recording was made and
// the title it was sent with.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace SavedRecordings {

// $TMPDIR when set. Otherwise the temporary directory, unless it lives in RAM (tmpfs): there a
// power loss would erase the recording and a long meeting would fill the memory, so /var/tmp.
QString workRoot();

struct RecordingInfo {
    QDateTime recordedAt; // invalid when unknown
    QString title;
};
// Written whole or not at all.
void writeInfo(const QString& dir, const RecordingInfo& info);
// What the directory says; a recording from before the file existed gets its work files' time.
RecordingInfo readInfo(const QString& dir);

// A finished "velmor.m4a", or a work file of more than 0.2 s.
bool holdsRecording(const QString& dir);
// The current user's saved recordings in the work root and the temporary directory, oldest first,
// leaving out `excluded` (the one being recorded or sent).
QStringList find(const QStringList& excluded);

} // namespace SavedRecordings
