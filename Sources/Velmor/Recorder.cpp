#include "Recorder.h"

#include "DateStamps.h"
#include "ErrorDescription.h"
#include "LiveExport.h"
#include "Mixdown.h"
#include "NotificationCenter.h"
#include "PulseCaptureService.h"
#include "UploadRequest.h"
#include "VelmorError.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QUuid>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

// On Linux a start fails when the audio server is not running or has no devices.
const QString kStartFailureSuffix =
    QStringLiteral(". Проверьте, что звуковой сервер (PipeWire или PulseAudio) запущен.");

// The temporary directory is shared between users on Linux, and a recording is private: the
// work directory is readable by the user alone.
void createPrivateDirectory(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0) {
        throw std::runtime_error(QStringLiteral("Не удалось создать папку записи (%1)")
                                     .arg(QString::fromLocal8Bit(std::strerror(errno)))
                                     .toStdString());
    }
}

QString newWorkDirPath() {
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return QDir::cleanPath(QDir(SavedRecordings::workRoot()).filePath(QStringLiteral("velmor-") + uuid));
}

QString keptText(const QString& dir) {
    return QStringLiteral(". Файл сохранён в ") + QDir::cleanPath(dir);
}

Capture::StreamConfiguration captureConfiguration() {
    Capture::StreamConfiguration configuration;
    configuration.capturesAudio = true;
    configuration.excludesCurrentProcessAudio = true;
    configuration.sampleRate = 48000;
    configuration.channelCount = 2;
    configuration.captureMicrophone = true;
    return configuration;
}

} // namespace

Recorder::Recorder(std::shared_ptr<Capture::CaptureService> captureService)
    : captureService_(captureService ? std::move(captureService)
                                     : std::make_shared<Capture::PulseCaptureService>()),
      notifications_(std::make_unique<Notifications::NotificationCenter>()) {
    refreshSaved();
}

Recorder::~Recorder() = default;

QCoro::Task<> Recorder::start() {
    if (isRecording()) {
        co_return;
    }
    if (isBusy()) {
        co_return;
    }
    isBusy = true;
    status = QStringLiteral("Запрашиваем доступ…");
    std::shared_ptr<CaptureWriter> newWriter;
    std::unique_ptr<Capture::Stream> newStream;
    try {
        const Capture::ShareableContent content = co_await captureService_->shareableContent(false, false);
        if (content.displays.isEmpty()) {
            throw VelmorError(QStringLiteral("Нет экрана для захвата"));
        }
        const Capture::ContentFilter filter{content.displays.front(), {}};
        const Capture::StreamConfiguration configuration = captureConfiguration();
        const QString dir = newWorkDirPath();
        createPrivateDirectory(dir);
        workDir = dir;
        newWriter = std::make_shared<CaptureWriter>(dir);
        newWriter->onStop = interruptionHandler();
        newStream = captureService_->makeStream(filter, configuration, newWriter);
        newStream->addStreamOutput(newWriter, Capture::OutputType::Audio, queue);
        newStream->addStreamOutput(newWriter, Capture::OutputType::Microphone, queue);
        co_await newStream->startCapture();

        stream = std::move(newStream);
        writer = std::move(newWriter);
        liveExport_ = followWorkFiles(dir);
        startedAt = QDateTime::currentDateTimeUtc();
        SavedRecordings::writeInfo(dir, {startedAt->toLocalTime(), QString()});
        isRecording = true;
        status = QStringLiteral("Идёт запись. Говорите как обычно.");
        timer = std::make_unique<QTimer>();
        QPointer<Recorder> weak(this);
        QObject::connect(timer.get(), &QTimer::timeout, [weak] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [weak] {
                    if (weak) {
                        weak->tick();
                    }
                },
                Qt::QueuedConnection);
        });
        timer->start(1000);
        isBusy = false;
    } catch (...) {
        const QString description = currentErrorDescription();
        newStream.reset();
        discardWorkFiles(newWriter);
        status = QStringLiteral("Не удалось начать: ") + description + kStartFailureSuffix;
        isBusy = false;
    }
}

void Recorder::discardWorkFiles(const std::shared_ptr<CaptureWriter>& failed) {
    // A source that started before the other one failed has written its first buffers.
    if (!failed) {
        return;
    }
    queue.sync([failed] { failed->closeFiles(); });
    for (const char* name : {"system.caf", "mic.caf"}) {
        QFile::remove(QDir(failed->dir()).filePath(QString::fromLatin1(name)));
    }
}

void Recorder::closeWorkFiles() {
    queue.sync([this] {
        if (writer) {
            writer->closeFiles();
        }
    });
}

std::function<void(std::exception_ptr)> Recorder::interruptionHandler() {
    QPointer<Recorder> weak(this);
    return [weak](std::exception_ptr error) {
        const QString description = errorDescription(error);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak, description] {
                if (weak) {
                    weak->interrupt(description);
                }
            },
            Qt::QueuedConnection);
    };
}

void Recorder::interrupt(const QString& description) {
    // A send that is stopping the capture finishes the recording itself.
    if (!isRecording() || isSending_ || !workDir) {
        return;
    }
    const QString dir = *workDir;
    closeWorkFiles();
    if (liveExport_) {
        liveExport_->sourcesComplete();
    }
    if (timer) {
        timer->stop();
    }
    // Whatever the stream still delivers finds the files closed.
    stream.reset();
    writer.reset();
    isRecording = false;
    status =
        QStringLiteral("Запись прервана: ") + description + (QFileInfo(dir).isDir() ? keptText(dir) : QString());
    notify(QStringLiteral("Запись прервана"), description);
    refreshSaved();
}

QString Recorder::formatElapsed(double seconds) {
    // A clock set back before the start shows zero rather than negative fields.
    const qint64 whole = std::max<qint64>(0, qint64(seconds));
    return QString::asprintf("%02lld:%02lld", whole / 60, whole % 60);
}

void Recorder::tick() {
    if (!startedAt) {
        return;
    }
    const double seconds = double(startedAt->msecsTo(QDateTime::currentDateTimeUtc())) / 1000.0;
    elapsedText = formatElapsed(seconds);
}

QCoro::Task<> Recorder::stopAndSend(QString server, QString apiKey) {
    // Nothing awaits the panel's task: the copies must live as long as the workflow.
    return [](Recorder* self, QString ownServer, QString ownApiKey) -> QCoro::Task<> {
        co_await self->stopAndSendWorkflow(ownServer, ownApiKey);
    }(this, std::move(server), std::move(apiKey));
}

QCoro::Task<> Recorder::stopAndSendWorkflow(const QString& server, const QString& apiKey) {
    if (!isRecording() || !stream || !workDir) {
        co_return;
    }
    // A second press while the first run still waits for the capture to stop is turned away.
    if (isSending_) {
        co_return;
    }
    const QString dir = *workDir;
    beginSending(dir);
    isBusy = true;
    if (timer) {
        timer->stop();
    }
    status = QStringLiteral("Останавливаем…");
    try {
        co_await stream->stopCapture();
    } catch (...) {
        // A failed stop changes nothing: the files hold what was captured.
    }
    stream.reset();
    isRecording = false;
    closeWorkFiles();
    writer.reset();
    const std::optional<SavedRecordings::RecordingInfo> current;
    QCoro::Task<> delivering = deliver(dir, server, apiKey, current);
    co_await delivering;
    title = QString();
    elapsedText = QStringLiteral("00:00");
    isBusy = false;
    endSending();
}

QCoro::Task<> Recorder::sendSaved(QString server, QString apiKey) {
    return [](Recorder* self, QString ownServer, QString ownApiKey) -> QCoro::Task<> {
        co_await self->sendSavedWorkflow(ownServer, ownApiKey);
    }(this, std::move(server), std::move(apiKey));
}

QCoro::Task<> Recorder::sendSavedWorkflow(const QString& server, const QString& apiKey) {
    if (isRecording() || isBusy()) {
        co_return;
    }
    isBusy = true;
    const QStringList dirs = SavedRecordings::find({});
    for (const QString& dir : dirs) {
        beginSending(dir);
        const std::optional<SavedRecordings::RecordingInfo> info = SavedRecordings::readInfo(dir);
        QCoro::Task<> delivering = deliver(dir, server, apiKey, info);
        co_await delivering;
        const bool wasCancelled = isCancelled_->load();
        endSending();
        if (wasCancelled) {
            break;
        }
    }
    isBusy = false;
}

void Recorder::beginSending(const QString& dir) {
    isSending_ = true;
    sendingDir_ = dir;
    isCancelled_ = std::make_shared<std::atomic<bool>>(false);
}

void Recorder::endSending() {
    isSending_ = false;
    sendingDir_.reset();
    refreshSaved();
}

void Recorder::cancelSend() {
    if (isSending_) {
        isCancelled_->store(true);
    }
}

void Recorder::refreshSaved() {
    QStringList excluded;
    if (sendingDir_) {
        excluded.append(*sendingDir_);
    }
    if (isRecording() && workDir) {
        excluded.append(*workDir);
    }
    savedCount = int(SavedRecordings::find(excluded).size());
}

QCoro::Task<> Recorder::deliver(const QString& dir, const QString& server, const QString& apiKey,
                                const std::optional<SavedRecordings::RecordingInfo>& info) {
    std::optional<QString> failure;
    try {
        QString mixed = QDir(dir).filePath(QStringLiteral("velmor.m4a"));
        if (!QFileInfo::exists(mixed)) {
            status = QStringLiteral("Сводим запись…");
            QCoro::Task<QString> mixing = mixdown(dir);
            mixed = co_await mixing;
        }
        status = QStringLiteral("Отправляем в Велмор…");
        SavedRecordings::RecordingInfo sent = info ? *info : SavedRecordings::readInfo(dir);
        if (!info) {
            // The title travels with the recording, should this send fail. The recording just
            // stopped carries the moment it is sent; a saved one carries its own.
            sent.title = title();
            SavedRecordings::writeInfo(dir, sent);
            sent.recordedAt = QDateTime();
        }
        QCoro::Task<QUrl> uploading = upload(mixed, server, apiKey, sent);
        const QUrl link = co_await uploading;
        lastLink = link;
        status = QStringLiteral("Отправлено. Протокол будет через несколько минут.");
        notify(QStringLiteral("Запись отправлена"), QStringLiteral("Велмор распознаёт речь и собирает протокол."));
        QDir(dir).removeRecursively();
    } catch (...) {
        failure = isCancelled_->load() ? QStringLiteral("Отправка отменена") : currentErrorDescription();
    }
    // Finished or given up by the mixdown: of no further use to this recording.
    if (followsWorkFiles(liveExport_, dir)) {
        liveExport_.reset();
    }
    if (failure) {
        status = QStringLiteral("Ошибка: ") + *failure + keptText(dir);
        notify(QStringLiteral("Не удалось отправить"), *failure);
    }
}

QCoro::Task<QString> Recorder::mixdown(const QString& dir) {
    return mixdownWorkFiles(dir, isCancelled_, liveExport_);
}

QCoro::Task<QUrl> Recorder::upload(const QString& file, const QString& server, const QString& apiKey,
                                   const SavedRecordings::RecordingInfo& info) {
    return sendRecording(file, server, apiKey, info.title, uploadIdleTimeoutSeconds_, info.recordedAt,
                         isCancelled_);
}

void Recorder::notify(const QString& title, const QString& body) {
    const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    notifications_->post(identifier, title, body);
}
