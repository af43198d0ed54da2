#include "Recorder.h"

#include "DateStamps.h"
#include "ErrorDescription.h"
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

const QString kStartFailureSuffix =
    QStringLiteral(". Проверьте Системные настройки → Конфиденциальность → Запись экрана и системного звука.");

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
    return QDir(QDir::tempPath()).filePath(QStringLiteral("velmor-") + uuid);
}

Capture::StreamConfiguration captureConfiguration() {
    Capture::StreamConfiguration configuration;
    configuration.capturesAudio = true;
    configuration.excludesCurrentProcessAudio = true;
    configuration.sampleRate = 48000;
    configuration.channelCount = 2;
    configuration.captureMicrophone = true;
    configuration.width = 2;
    configuration.height = 2;
    configuration.minimumFrameInterval = {1, 1};
    configuration.showsCursor = false;
    return configuration;
}

} // namespace

Recorder::Recorder(std::shared_ptr<Capture::CaptureService> captureService)
    : captureService_(captureService ? std::move(captureService)
                                     : std::make_shared<Capture::PulseCaptureService>()),
      notifications_(std::make_unique<Notifications::NotificationCenter>()) {}

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
        auto newWriter = std::make_shared<CaptureWriter>(dir);
        newWriter->onStop = interruptionHandler();
        std::unique_ptr<Capture::Stream> newStream = captureService_->makeStream(filter, configuration, newWriter);
        newStream->addStreamOutput(newWriter, Capture::OutputType::Audio, queue);
        newStream->addStreamOutput(newWriter, Capture::OutputType::Microphone, queue);
        co_await newStream->startCapture();

        stream = std::move(newStream);
        writer = std::move(newWriter);
        startedAt = QDateTime::currentDateTimeUtc();
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
        status = QStringLiteral("Не удалось начать: ") + currentErrorDescription() + kStartFailureSuffix;
        isBusy = false;
    }
}

std::function<void(std::exception_ptr)> Recorder::interruptionHandler() {
    QPointer<Recorder> weak(this);
    return [weak](std::exception_ptr error) {
        const QString description = errorDescription(error);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak, description] {
                if (weak) {
                    weak->isRecording = false;
                    // Nothing will stop this recording's timer any more; the elapsed time stops here.
                    if (weak->timer) {
                        weak->timer->stop();
                    }
                }
                if (weak) {
                    weak->status = QStringLiteral("Запись прервана: ") + description;
                }
            },
            Qt::QueuedConnection);
    };
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
    isSending_ = true;
    const QString dir = *workDir;
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
    queue.sync([this] {
        if (writer) {
            writer->systemFile.reset();
            writer->micFile.reset();
        }
    });
    writer.reset();
    status = QStringLiteral("Сводим запись…");

    std::optional<QString> failure;
    try {
        const QString mixed = co_await mixdown(dir);
        status = QStringLiteral("Отправляем в Велмор…");
        const QUrl link = co_await upload(mixed, server, apiKey);
        lastLink = link;
        status = QStringLiteral("Отправлено. Протокол будет через несколько минут.");
        notify(QStringLiteral("Запись отправлена"), QStringLiteral("Велмор распознаёт речь и собирает протокол."));
        QDir(dir).removeRecursively();
    } catch (...) {
        failure = currentErrorDescription();
    }
    if (failure) {
        status =
            QStringLiteral("Ошибка: ") + *failure + QStringLiteral(". Файл сохранён в ") + QDir::cleanPath(dir);
        notify(QStringLiteral("Не удалось отправить"), *failure);
    }
    title = QString();
    elapsedText = QStringLiteral("00:00");
    isBusy = false;
    isSending_ = false;
}

QCoro::Task<QString> Recorder::mixdown(const QString& dir) {
    return mixdownWorkFiles(dir);
}

QCoro::Task<QUrl> Recorder::upload(const QString& file, const QString& server, const QString& apiKey) {
    return sendRecording(file, server, apiKey, title(), uploadIdleTimeoutSeconds_);
}

void Recorder::notify(const QString& title, const QString& body) {
    const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    notifications_->post(identifier, title, body);
}
