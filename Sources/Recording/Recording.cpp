#include "Recording.h"

#include "LiveExport.h"

Recording::Recording(std::shared_ptr<WorkDirectory> dir) : dir_(std::move(dir)) {}

Recording::~Recording() {
    live_.reset();
}

void Recording::followWorkFiles(Media::ExportSession::Options options) {
    live_ = std::make_shared<Media::LiveExport>(
        QStringList{dir_->borrowedSourcePath(WorkDirectory::Source::System),
                    dir_->borrowedSourcePath(WorkDirectory::Source::Microphone)},
        dir_->borrowedPartialMixPath(), options);
}
