#pragma once

#include <QCoroTask>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class Recording;

// The file to send of a recording: its finished mix when that is whole (one AAC track in MPEG-4,
// as long as the work files within a second where there are any), else a new mixdown of the work
// files laid over each other from time zero (a missing, empty, unreadable or too short one is left
// out; what the live export has already encoded is finished rather than done again, unless it
// cannot give the same file, and its failure never fails the mixdown). Returns its path, which
// borrows the directory's descriptor: it is used while the recording lives. Throws
// VelmorError for a recording with nothing to send (empty, or broken beyond repair) or an export
// that cannot be set up, and the media layer's error for a file that cannot be written or an
// export cancelled through `isCancelled` (may be null). `onProgress` (may be null) is told how far
// a mixdown from the files has come, 0 to 1, on the caller's thread.
QCoro::Task<QString> mixToSend(const std::shared_ptr<Recording>& recording,
                               const std::shared_ptr<std::atomic<bool>>& isCancelled = nullptr,
                               const std::function<void(double)>& onProgress = {});
