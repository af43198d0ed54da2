#pragma once

#include <QCoroTask>
#include <QString>
#include <atomic>
#include <memory>

namespace Media {
class LiveExport;
}

// Lays "system.caf" and "mic.caf" of a work directory over each other from time zero and exports
// "velmor.m4a" there. Returns its path. Throws VelmorError for an empty recording or an export
// that cannot be set up, and the media layer's error for a file that cannot be read or written
// or an export cancelled through `isCancelled` (may be null). What `live` (may be null) has
// already encoded of these files is finished rather than done again, unless it cannot give the
// same file; its failure never fails the mixdown. The caller keeps the arguments alive until the
// task ends.
QCoro::Task<QString> mixdownWorkFiles(const QString& dir,
                                      const std::shared_ptr<std::atomic<bool>>& isCancelled = nullptr,
                                      const std::shared_ptr<Media::LiveExport>& live = nullptr);

// Starts mixing and encoding the work files of `dir` while they are written, for
// mixdownWorkFiles to finish (Media::LiveExport).
std::shared_ptr<Media::LiveExport> followWorkFiles(const QString& dir);
// Whether `live` follows the work files of `dir`.
bool followsWorkFiles(const std::shared_ptr<Media::LiveExport>& live, const QString& dir);
