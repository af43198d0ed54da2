#include "LiveExport.h"

#include "AacEncoder.h"
#include "MediaError.h"
#include "Muxer.h"

#include <QFileInfo>
#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

namespace Media {

namespace {

constexpr int kRate = AacEncoder::kRate;
constexpr qint64 kFrame = AacEncoder::kFrame;
// The mix stays this far behind the durable audio, so that what the decoder and the resampler
// read ahead is on disk already.
constexpr qint64 kMargin = 2 * kFrame;
constexpr auto kPollInterval = std::chrono::seconds(1);
// A source alone this long is mixed alone: the other one may never come.
constexpr auto kLoneSourceWait = std::chrono::seconds(30);

MediaError abandoned() {
    return MediaError(MediaError::Kind::Cancelled);
}

} // namespace

LiveExport::LiveExport(QStringList sources, QString output, ExportSession::Options options)
    : sources_(std::move(sources)), output_(std::move(output)), options_(std::move(options)) {
    thread_ = std::thread([this] { run(); });
}

LiveExport::~LiveExport() {
    stop();
}

void LiveExport::stop() {
    {
        std::lock_guard lock(edge_.mutex);
        edge_.isAbandoned = true;
    }
    edge_.changed.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LiveExport::sourcesComplete() {
    {
        std::lock_guard lock(edge_.mutex);
        edge_.isComplete = true;
    }
    edge_.changed.notify_all();
}

void LiveExport::run() {
    // The lowest priority: the writer, the desktop and the meeting itself come first.
    setpriority(PRIO_PROCESS, id_t(::gettid()), 19);
    try {
        encode();
    } catch (...) {
        error_ = std::current_exception();
    }
}

std::vector<std::unique_ptr<FollowedCaf>> LiveExport::waitForSources(QStringList& paths) {
    std::optional<std::chrono::steady_clock::time_point> firstSeen;
    std::unique_lock lock(edge_.mutex);
    for (;;) {
        if (edge_.isAbandoned) {
            throw abandoned();
        }
        std::vector<std::unique_ptr<FollowedCaf>> files;
        paths.clear();
        for (const QString& path : sources_) {
            try {
                files.push_back(std::make_unique<FollowedCaf>(path, edge_));
                paths.append(path);
            } catch (const MediaError&) {
                // Not there yet, or its header is still being written.
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (!files.empty() && !firstSeen) {
            firstSeen = now;
        }
        const bool waitedAlone = firstSeen && now - *firstSeen >= kLoneSourceWait;
        if (files.size() == std::size_t(sources_.size()) ||
            ((waitedAlone || edge_.isComplete) && !files.empty())) {
            return files;
        }
        if (edge_.isComplete) {
            throw MediaError(MediaError::Kind::CannotOpen);
        }
        edge_.changed.wait_for(lock, kPollInterval);
    }
}

void LiveExport::encode() {
    QStringList paths;
    // Declared before the mixer: its readers read through these.
    const std::vector<std::unique_ptr<FollowedCaf>> files = waitForSources(paths);
    std::vector<std::unique_ptr<TrackReader>> readers;
    for (const auto& file : files) {
        readers.push_back(std::make_unique<TrackReader>(file->openInput(), 0, kRate));
    }
    Mixer mixer(std::move(readers), kRate);
    AacEncoder encoder(options_);
    Muxer muxer(output_, encoder.context(), kRate);
    const AacEncoder::PacketSink write = [&muxer](AVPacket* packet) { muxer.write(packet); };
    std::shared_ptr<std::atomic<bool>> isCancelled;
    const auto shouldStop = [&] { return edge_.isAbandoned || (isCancelled && isCancelled->load()); };
    {
        std::lock_guard lock(edge_.mutex);
        followed_ = paths;
    }

    std::unique_lock lock(edge_.mutex);
    while (!ending_) {
        if (edge_.isAbandoned) {
            throw abandoned();
        }
        qint64 durable = std::numeric_limits<qint64>::max();
        for (const auto& file : files) {
            durable = std::min(durable, qint64(double(file->durableFrames()) * kRate / file->sampleRate()));
        }
        const qint64 target = (durable - kMargin) / kFrame * kFrame;
        if (target <= mixer.position()) {
            edge_.changed.wait_for(lock, kPollInterval);
            continue;
        }
        lock.unlock();
        encoder.encode(mixer, target, write, shouldStop);
        position_ = mixer.position();
        lock.lock();
    }
    const Ending ending = *ending_;
    lock.unlock();

    isCancelled = ending.isCancelled;
    if (!mixer.bind(ending.ends)) {
        throw MediaError(MediaError::Kind::Unsupported);
    }
    encoder.encode(mixer, mixer.length(), write, shouldStop);
    encoder.flush(write);
    muxer.finish();
    position_ = mixer.position();
}

bool LiveExport::finish(const Composition& composition, const std::shared_ptr<std::atomic<bool>>& isCancelled) {
    // Each source of the composition must be the first track of a followed file, whole, from zero.
    QStringList paths;
    std::vector<qint64> ends;
    bool isSameShape = true;
    for (const CompositionTrack& track : composition.tracks()) {
        for (const CompositionSegment& segment : track.segments()) {
            isSameShape = isSameShape && segment.source.streamIndex == 0 && segment.insertedAt.value == 0 &&
                          segment.sourceRange.start.value == 0;
            paths.append(segment.source.path);
            ends.push_back(segment.insertedAt.samplesAt(kRate) + segment.sourceRange.duration.samplesAt(kRate));
        }
    }
    if (!thread_.joinable()) {
        return false; // finished or given up before
    }
    bool isUsable = false;
    {
        std::lock_guard lock(edge_.mutex);
        edge_.isComplete = true;
        if (isSameShape && followed_ == paths && !ends.empty()) {
            const qint64 length = *std::max_element(ends.begin(), ends.end());
            // Finishing here must not take longer than exporting the whole in parallel would.
            const qint64 remaining = length - position_.load();
            isUsable = remaining <= length / ExportSession::segmentCount(length, options_);
        }
        if (isUsable) {
            ending_ = Ending{ends, isCancelled};
        } else {
            edge_.isAbandoned = true;
        }
    }
    edge_.changed.notify_all();
    thread_.join();
    if (!isUsable || !error_) {
        return isUsable;
    }
    try {
        std::rethrow_exception(error_);
    } catch (const MediaError& error) {
        if (error.kind() == MediaError::Kind::Cancelled && isCancelled && isCancelled->load()) {
            throw;
        }
    } catch (...) {
    }
    return false;
}

} // namespace Media
