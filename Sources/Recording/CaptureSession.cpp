#include "CaptureSession.h"

#include "Clock.h"
#include "ErrorDescription.h"
#include "LiveExport.h"

#include <QCoreApplication>
#include <QPointer>
#include <cmath>

namespace {

// What each source held, for the recording's metadata: a silent source tells itself from a quiet
// one by its peak, and one silent throughout by its silent time.
QJsonObject summary(const CaptureLevels& levels) {
    const auto of = [](const SourceLevel& level) {
        const auto rounded = [](double value) { return std::round(value * 10) / 10; };
        return QJsonObject{{QStringLiteral("peakDb"), rounded(level.peakDb())},
                           {QStringLiteral("seconds"), rounded(level.seconds())},
                           {QStringLiteral("silentSeconds"), rounded(level.silentSeconds())}};
    };
    return QJsonObject{{QStringLiteral("system"), of(levels.system)},
                       {QStringLiteral("microphone"), of(levels.microphone)}};
}

} // namespace

CaptureSession::CaptureSession(std::shared_ptr<Capture::CaptureService> service) : service_(std::move(service)) {
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &CaptureSession::ticked);
}

CaptureSession::~CaptureSession() {
    // The stream's last deliveries find the files closed.
    stream_.reset();
    closeWorkFiles();
}

QCoro::Task<> CaptureSession::start() {
    QCoro::Task<> checking = service_->checkServer();
    co_await checking;
    const std::shared_ptr<WorkDirectory> dir = WorkDirectory::create();
    lastPath_ = dir->path();
    auto writer = std::make_shared<CaptureWriter>(dir);
    writer->onStop = interruptionHandler();
    std::unique_ptr<Capture::Stream> stream = service_->makeStream(Capture::StreamConfiguration{48000, 2}, writer);
    std::exception_ptr failure;
    try {
        stream->addStreamOutput(writer, Capture::OutputType::Audio, queue_);
        stream->addStreamOutput(writer, Capture::OutputType::Microphone, queue_);
        QCoro::Task<> starting = stream->startCapture();
        co_await starting;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        stream.reset();
        discardWorkFiles(writer, *dir);
        std::rethrow_exception(failure);
    }
    stream_ = std::move(stream);
    writer_ = std::move(writer);
    recording_ = std::make_shared<Recording>(dir);
    keptTitle_.clear();
    isStopping_ = false;
    recording_->followWorkFiles();
    startedAt_ = Dispatch::Clock::current().now();
    dir->writeInfo({startedAt_->toLocalTime(), {}, {}, {}, {}, {}});
    timer_.start();
}

void CaptureSession::discardWorkFiles(const std::shared_ptr<CaptureWriter>& failed, const WorkDirectory& dir) {
    // A source that started before the other one failed has written its first buffers.
    queue_.sync([failed] { failed->closeFiles(); });
    dir.removeWorkFiles();
}

void CaptureSession::closeWorkFiles() {
    queue_.sync([this] {
        if (writer_) {
            writer_->closeFiles();
        }
    });
}

void CaptureSession::syncWorkFiles() {
    queue_.sync([this] {
        if (writer_) {
            writer_->syncFiles();
        }
    });
}

void CaptureSession::keepTitle(const QString& title) {
    if (!recording_ || title == keptTitle_) {
        return;
    }
    const WorkDirectory& dir = recording_->directory();
    WorkDirectory::Info info = dir.readInfo();
    info.title = title.left(WorkDirectory::kTitleLimit);
    if (dir.writeInfo(info)) {
        keptTitle_ = title;
    }
}

std::function<void(std::exception_ptr)> CaptureSession::interruptionHandler() {
    QPointer<CaptureSession> weak(this);
    return [weak](std::exception_ptr error) {
        const QString description = errorDescription(error);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak, description] {
                if (weak) {
                    emit weak->endedByItself(description);
                }
            },
            Qt::QueuedConnection);
    };
}

QCoro::Task<std::shared_ptr<Recording>> CaptureSession::stop() {
    if (!isRunning() || isStopping_) {
        co_return std::shared_ptr<Recording>();
    }
    isStopping_ = true;
    timer_.stop();
    try {
        QCoro::Task<> stopping = stream_->stopCapture();
        co_await stopping;
    } catch (...) {
        // A failed stop changes nothing: the files hold what was captured.
    }
    co_return finish();
}

std::shared_ptr<Recording> CaptureSession::interrupt() {
    // A stop under way finishes the recording itself.
    if (!isRunning() || isStopping_) {
        return nullptr;
    }
    const std::shared_ptr<Recording> recording = finish();
    if (recording->liveExport()) {
        recording->liveExport()->sourcesComplete();
    }
    return recording;
}

std::shared_ptr<Recording> CaptureSession::finish() {
    timer_.stop();
    // Whatever the stream still delivers finds the files closed.
    stream_.reset();
    closeWorkFiles();
    const std::shared_ptr<const CaptureLevels> levels = writer_->levels;
    writer_.reset();
    std::shared_ptr<Recording> recording = std::move(recording_);
    const WorkDirectory& dir = recording->directory();
    WorkDirectory::Info info = dir.readInfo();
    info.endedAt = QDateTime::currentDateTime();
    info.sources = summary(*levels);
    dir.writeInfo(info);
    isStopping_ = false;
    return recording;
}
