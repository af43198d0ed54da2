#include "SavedRecordings.h"

#include "Asset.h"

#include <QDir>
#include <algorithm>

namespace {

bool isLongerThanAFifthOfASecond(const WorkDirectory& dir, WorkDirectory::Source source) {
    if (!dir.hasSource(source)) {
        return false;
    }
    try {
        return Media::Asset(dir.borrowedSourcePath(source)).duration().seconds() > 0.2;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool SavedRecordings::holdsRecording(const WorkDirectory& dir) {
    return dir.hasMix() || isLongerThanAFifthOfASecond(dir, WorkDirectory::Source::System) ||
           isLongerThanAFifthOfASecond(dir, WorkDirectory::Source::Microphone);
}

SavedRecordings::Found SavedRecordings::scan() {
    SavedRecordings found;
    Found result;
    for (const QString& root : WorkDirectory::roots()) {
        for (const QString& name : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
            if (!WorkDirectory::isWorkDirectoryName(name)) {
                continue;
            }
            if (WorkDirectory::isUnusable(QDir(root).filePath(name))) {
                ++result.unusable;
                result.unusableFolder = root;
                continue;
            }
            // A recording being made or sent, here or in another process, is not looked at.
            const std::shared_ptr<WorkDirectory> dir =
                WorkDirectory::open(QDir(root).filePath(name), WorkDirectory::Hold::toLook);
            if (!dir) {
                continue;
            }
            const WorkDirectory::Info info = dir->readInfo();
            if (!info.isSent && holdsRecording(*dir)) {
                found.add(Entry{dir->path(), info.recordedAt, nullptr, info.isRetried});
            }
        }
    }
    result.entries = found.entries();
    return result;
}

SavedRecordings::Entry SavedRecordings::entryOf(const std::shared_ptr<Recording>& recording, bool staysHeld) {
    const WorkDirectory::Info info = recording->directory().readInfo();
    return {recording->path(), info.recordedAt, staysHeld ? recording : nullptr, info.isRetried};
}

std::shared_ptr<Recording> SavedRecordings::take(const Entry& entry) {
    if (entry.held) {
        return entry.held;
    }
    std::shared_ptr<WorkDirectory> dir = WorkDirectory::open(entry.path);
    return dir ? std::make_shared<Recording>(std::move(dir)) : nullptr;
}

void SavedRecordings::add(Entry entry) {
    remove(entry.path);
    const auto later = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const Entry& other) { return other.recordedAt > entry.recordedAt; });
    entries_.insert(later, std::move(entry));
}

void SavedRecordings::add(const QList<Entry>& entries) {
    for (const Entry& entry : entries) {
        add(entry);
    }
}

void SavedRecordings::remove(const QString& path) {
    entries_.removeIf([&](const Entry& entry) { return entry.path == path; });
}
