#include "Recorder.h"

#include "Background.h"
#include "Clock.h"
#include "ErrorDescription.h"
#include "NotificationCenter.h"
#include "PulseCaptureService.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QUuid>

namespace {

// On Linux a start fails when the audio server is not running or has no devices.
const QString kStartFailureSuffix =
    QStringLiteral(". Проверьте, что звуковой сервер (PipeWire или PulseAudio) запущен.");

QString keptText(const QString& dir) {
    return QStringLiteral(". Файл сохранён в ") + dir;
}

} // namespace

Recorder::Recorder(std::shared_ptr<Capture::CaptureService> captureService)
    : notifications_(std::make_unique<Notifications::NotificationCenter>()),
      capture_(captureService ? std::move(captureService) : std::make_shared<Capture::PulseCaptureService>()) {
    connect(&capture_, &CaptureSession::ticked, this, &Recorder::tick);
    // A clock that jumps is read again at once, not at the next second.
    connect(&Dispatch::Clock::current(), &Dispatch::Clock::moved, this, &Recorder::tick);
    connect(&Dispatch::Clock::current(), &Dispatch::Clock::moved, this, &Recorder::pollProgress);
    progressPoll_.setInterval(1000);
    connect(&progressPoll_, &QTimer::timeout, this, &Recorder::pollProgress);
    connect(&capture_, &CaptureSession::endedByItself, this, &Recorder::interrupt);
    delivery_.onStep = [this](const QString& step) { status = step; };
    const QPointer<Recorder> self(this);
    delivery_.onUploadProgress = [self](qint64 sent, qint64 total) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, sent, total] {
                if (self) {
                    self->showProgress(sent, total, false);
                }
            },
            Qt::QueuedConnection);
    };
    delivery_.onMixProgress = [this](double done) { showProgress(qint64(done * 1000), 1000, true); };
    // Nothing awaits the task; it catches every failure itself.
    findSaved();
}

Recorder::~Recorder() = default;

QCoro::Task<> Recorder::start() {
    if (phase() != Phase::idle) {
        co_return;
    }
    phase = Phase::starting;
    status = QStringLiteral("Запрашиваем доступ…");
    try {
        QCoro::Task<> starting = capture_.start();
        co_await starting;
        phase = Phase::recording;
        status = QStringLiteral("Идёт запись. Говорите как обычно.");
        sourceWatch_.restart();
    } catch (...) {
        status = QStringLiteral("Не удалось начать: ") + currentErrorDescription() + kStartFailureSuffix;
        phase = Phase::idle;
    }
}

void Recorder::interrupt(const QString& description) {
    capture_.keepTitle(title());
    const std::shared_ptr<Recording> recording = capture_.interrupt();
    if (!recording) {
        return;
    }
    phase = Phase::idle;
    checkSources();
    const bool isGone = recording->isRemoved();
    status =
        QStringLiteral("Запись прервана: ") + description + (isGone ? QString() : keptText(recording->path()));
    notify(QStringLiteral("Запись прервана"), description);
    // Held with what was mixed while it was recorded, for its send.
    if (!isGone && SavedRecordings::holdsRecording(*recording)) {
        keepSaved(SavedRecordings::entryOf(recording, true));
    }
}

QString Recorder::formatElapsed(double seconds) {
    // A clock set back before the start shows zero rather than negative fields.
    const qint64 whole = std::max<qint64>(0, qint64(seconds));
    return QString::asprintf("%02lld:%02lld", whole / 60, whole % 60);
}

void Recorder::tick() {
    if (!capture_.startedAt()) {
        return;
    }
    const double seconds = double(capture_.startedAt()->msecsTo(Dispatch::Clock::current().now())) / 1000.0;
    elapsedText = formatElapsed(seconds);
    capture_.keepTitle(title());
    checkSources();
}

void Recorder::checkSources() {
    const std::shared_ptr<CaptureLevels> levels = capture_.levels();
    // A recording that has ended shows no warning.
    const SourceWatch::Verdict verdict =
        levels && isRecording() ? sourceWatch_.check(*levels) : SourceWatch::Verdict{};
    if (verdict.notice) {
        notify(verdict.notice->summary, verdict.notice->body);
    }
    if (verdict.warning != sourceWarning()) {
        sourceWarning = verdict.warning;
    }
}

QCoro::Task<> Recorder::stopAndSend(QString server, QString apiKey) {
    // Nothing awaits the panel's task: the copies must live as long as the workflow.
    return [](Recorder* self, QString ownServer, QString ownApiKey) -> QCoro::Task<> {
        co_await self->stopAndSendWorkflow(ownServer, ownApiKey);
    }(this, std::move(server), std::move(apiKey));
}

QCoro::Task<> Recorder::stopAndSendWorkflow(const QString& server, const QString& apiKey) {
    // A second press while the first run still waits for the capture to stop is turned away.
    if (phase() != Phase::recording) {
        co_return;
    }
    phase = Phase::stopping;
    status = QStringLiteral("Останавливаем…");
    QCoro::Task<std::shared_ptr<Recording>> stopping = capture_.stop();
    const std::shared_ptr<Recording> recording = co_await stopping;
    phase = Phase::sending;
    checkSources();
    if (recording) {
        // The title is read as the upload starts: it can still be typed while the mix is made.
        const std::function<QString()> typedTitle = [this] { return title(); };
        QCoro::Task<Delivery::Outcome> delivering = deliver(recording, server, apiKey, typedTitle);
        const Delivery::Result result = (co_await delivering).result;
        if (result != Delivery::Result::sent && result != Delivery::Result::unsendable) {
            keepSaved(SavedRecordings::entryOf(recording, false));
        }
    }
    title = QString();
    elapsedText = QStringLiteral("00:00");
    phase = Phase::idle;
}

QCoro::Task<> Recorder::sendSaved(QString server, QString apiKey) {
    return [](Recorder* self, QString ownServer, QString ownApiKey) -> QCoro::Task<> {
        co_await self->sendSavedWorkflow(ownServer, ownApiKey);
    }(this, std::move(server), std::move(apiKey));
}

QCoro::Task<> Recorder::sendSavedWorkflow(const QString& server, const QString& apiKey) {
    if (!canSendSaved()) {
        co_return;
    }
    phase = Phase::sending;
    const QList<SavedRecordings::Entry> batch = saved_.entries();
    const std::function<QString()> ownTitle;
    for (qsizetype index = 0; index < batch.size(); ++index) {
        const SavedRecordings::Entry& entry = batch[index];
        // Gone, or held by another process: not this one's to send now.
        const std::shared_ptr<Recording> recording = SavedRecordings::take(entry);
        if (!recording) {
            if (!QFileInfo::exists(entry.path)) {
                forgetSaved(entry.path);
            }
            continue;
        }
        QCoro::Task<Delivery::Outcome> delivering = deliver(recording, server, apiKey, ownTitle);
        const Delivery::Outcome outcome = co_await delivering;
        const Delivery::Result result = outcome.result;
        if (result == Delivery::Result::sent || result == Delivery::Result::unsendable) {
            forgetSaved(entry.path);
        } else {
            // No longer held: what was mixed while it was recorded has served its send.
            keepSaved({entry.path, entry.recordedAt, nullptr, outcome.isPassing});
        }
        const qsizetype remaining = batch.size() - index - 1;
        if (result == Delivery::Result::failedForEvery || result == Delivery::Result::cancelled) {
            if (remaining > 0) {
                status = status() + QStringLiteral(". Ещё не отправлено записей: %1").arg(remaining);
            }
            break;
        }
    }
    phase = Phase::idle;
}

void Recorder::showProgress(qint64 done, qint64 total, bool isMixing) {
    // A late report of a send that has ended is not shown.
    if (!delivery_.isSending()) {
        return;
    }
    if (const std::optional<SendProgress> shown = progressMeter_.report(done, total, isMixing)) {
        progress = *shown;
    }
}

void Recorder::pollProgress() {
    if (!delivery_.isSending()) {
        return;
    }
    if (const std::optional<SendProgress> shown = progressMeter_.poll()) {
        progress = *shown;
    }
}

QCoro::Task<> Recorder::retrySaved(QString server, QString apiKey) {
    return [](Recorder* self, QString ownServer, QString ownApiKey) -> QCoro::Task<> {
        co_await self->retrySavedWorkflow(ownServer, ownApiKey);
    }(this, std::move(server), std::move(apiKey));
}

bool Recorder::hasRetries() const {
    const QList<SavedRecordings::Entry>& entries = saved_.entries();
    return std::any_of(entries.begin(), entries.end(), [](const auto& entry) { return entry.isRetried; });
}

QCoro::Task<> Recorder::retrySavedWorkflow(const QString& server, const QString& apiKey) {
    if (phase() != Phase::idle) {
        co_return;
    }
    for (const SavedRecordings::Entry& entry : saved_.entries()) {
        if (!entry.isRetried) {
            continue;
        }
        const std::shared_ptr<Recording> recording = SavedRecordings::take(entry);
        if (!recording) {
            continue;
        }
        phase = Phase::sending;
        const SavedRecordings::Entry kept = entry;
        const std::function<QString()> ownTitle; // by reference into the coroutine: named, not a temporary
        QCoro::Task<Delivery::Outcome> delivering = deliver(recording, server, apiKey, ownTitle, true);
        const Delivery::Outcome outcome = co_await delivering;
        if (outcome.result == Delivery::Result::sent || outcome.result == Delivery::Result::unsendable) {
            forgetSaved(kept.path);
        } else {
            keepSaved({kept.path, kept.recordedAt, nullptr, outcome.isPassing});
        }
        phase = Phase::idle;
        co_return;
    }
}

QCoro::Task<Delivery::Outcome> Recorder::deliver(const std::shared_ptr<Recording>& recording,
                                                 const QString& server, const QString& apiKey,
                                                 const std::function<QString()>& typedTitle, bool isRetry) {
    progressMeter_.restart();
    progressPoll_.start();
    QCoro::Task<Delivery::Outcome> sending = delivery_.send(recording, server, apiKey, typedTitle);
    const Delivery::Outcome outcome = co_await sending;
    progressPoll_.stop();
    if (progress()) {
        progress = std::nullopt;
    }
    if (outcome.result == Delivery::Result::sent) {
        lastLink = outcome.link;
        status = QStringLiteral("Отправлено. Протокол будет через несколько минут.") +
                 (outcome.keptUnreadable.isEmpty()
                      ? QString()
                      : QStringLiteral(" Файл записи, который не удалось прочитать, оставлен в ") +
                            outcome.keptUnreadable);
        notify(QStringLiteral("Запись отправлена"), QStringLiteral("Велмор распознаёт речь и собирает протокол."));
    } else {
        status = QStringLiteral("Ошибка: ") + outcome.failure + keptText(recording->path());
        // A retry that fails again says so only in the status: the first failure was told.
        if (!isRetry) {
            notify(QStringLiteral("Не удалось отправить"), outcome.failure);
        }
    }
    emit sendEnded(outcome.result == Delivery::Result::sent, outcome.isPassing, outcome.retryAfterSeconds);
    co_return outcome;
}

QCoro::Task<> Recorder::findSaved() {
    const QPointer<Recorder> self(this);
    SavedRecordings::Found found;
    try {
        QCoro::Task<SavedRecordings::Found> scanning = Dispatch::runInBackground(&SavedRecordings::scan);
        found = co_await scanning;
    } catch (...) {
        // An unreadable work root holds nothing to offer.
    }
    if (self) {
        saved_.add(found.entries);
        savedCount = saved_.count();
        // Told once, here; never offered, so nothing about them fails at every start.
        const QString unusable = found.unusable > 0
                                     ? QStringLiteral("Есть записи, которые не удаётся прочитать: %1 — они в %2")
                                           .arg(found.unusable)
                                           .arg(found.unusableFolder)
                                     : QString();
        if (unusable != unusableSaved()) {
            unusableSaved = unusable;
        }
    }
}

void Recorder::keepSaved(SavedRecordings::Entry entry) {
    saved_.add(std::move(entry));
    savedCount = saved_.count();
}

void Recorder::forgetSaved(const QString& path) {
    saved_.remove(path);
    savedCount = saved_.count();
}

void Recorder::notify(const QString& title, const QString& body) {
    const QString identifier = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    notifications_->post(identifier, title, body);
}
