// One recording on its way from the capture to the server: its directory, held, and what the live
// export makes of its work files while they are written. The capture session owns it while it is
// made and hands it on whole to the send, so the mix begun while recording is finished there.
#pragma once

#include "ExportSession.h"
#include "WorkDirectory.h"

#include <memory>

namespace Media {
class LiveExport;
}

class Recording {
public:
    explicit Recording(std::shared_ptr<WorkDirectory> dir);
    // The live export reads and writes through the directory's descriptor: it ends first.
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    WorkDirectory& directory() const { return *dir_; }
    const QString& path() const { return dir_->path(); }
    // Removed from disk while it was made or held.
    bool isRemoved() const { return dir_->isRemoved(); }

    // Encodes the work files while they are written, for the mixdown to finish.
    void followWorkFiles(Media::ExportSession::Options options = {});
    void adoptLiveExport(std::shared_ptr<Media::LiveExport> live) { live_ = std::move(live); }
    const std::shared_ptr<Media::LiveExport>& liveExport() const { return live_; }
    // Finished or given up: of no further use to this recording.
    void dropLiveExport() { live_.reset(); }

    // A work file is there but could not be read: it is left out of the mix and kept on disk.
    bool hasUnreadableWorkFile() const { return hasUnreadableWorkFile_; }
    void noteUnreadableWorkFile(bool isUnreadable) { hasUnreadableWorkFile_ = isUnreadable; }

private:
    std::shared_ptr<WorkDirectory> dir_;
    std::shared_ptr<Media::LiveExport> live_;
    bool hasUnreadableWorkFile_ = false;
};
