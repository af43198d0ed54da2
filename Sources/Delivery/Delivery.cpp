#include "Delivery.h"

#include "ErrorDescription.h"
#include "HttpError.h"
#include "Mixdown.h"
#include "VelmorError.h"

#include <QScopeGuard>

namespace {

Delivery::Result resultOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const VelmorError& velmorError) {
        switch (velmorError.scope()) {
        case VelmorError::Scope::thisSend:
            return Delivery::Result::failed;
        case VelmorError::Scope::thisRecording:
            return Delivery::Result::unsendable;
        case VelmorError::Scope::everySend:
            return Delivery::Result::failedForEvery;
        }
    } catch (const Http::HttpError& httpError) {
        // The server cannot be reached at all: the next recording would not reach it either.
        switch (httpError.kind()) {
        case Http::HttpError::Kind::CannotConnect:
        case Http::HttpError::Kind::HostNotFound:
        case Http::HttpError::Kind::SecureConnectionFailed:
        case Http::HttpError::Kind::UnsupportedURL:
            return Delivery::Result::failedForEvery;
        default:
            break;
        }
    } catch (...) {
    }
    return Delivery::Result::failed;
}

// Kept with the recording, so that a later start knows to try it again by itself.
void remember(WorkDirectory& dir, bool isPassing) {
    WorkDirectory::Info info = dir.readInfo();
    if (info.isRetried != isPassing) {
        info.isRetried = isPassing;
        dir.writeInfo(info);
    }
}

} // namespace

bool Delivery::isPassing(std::exception_ptr error, int* retryAfterSeconds) {
    try {
        std::rethrow_exception(error);
    } catch (const VelmorError& velmorError) {
        if (retryAfterSeconds) {
            *retryAfterSeconds = velmorError.retryAfterSeconds();
        }
        return velmorError.isPassing();
    } catch (const Http::HttpError& httpError) {
        switch (httpError.kind()) {
        case Http::HttpError::Kind::CannotConnect:
        case Http::HttpError::Kind::HostNotFound:
            return true;
        // Broken off or stalled before the whole body went out: the server has no recording.
        case Http::HttpError::Kind::ConnectionLost:
        case Http::HttpError::Kind::TimedOut:
            return !httpError.isBodySent();
        default:
            return false;
        }
    } catch (...) {
        return false;
    }
}

void Delivery::step(const QString& text) const {
    if (onStep) {
        onStep(text);
    }
}

void Delivery::cancel() {
    if (isSending_) {
        isCancelled_->store(true);
    }
}

UploadLabels Delivery::labelsOf(const WorkDirectory& dir, const std::function<QString()>& typedTitle) {
    WorkDirectory::Info info = dir.readInfo();
    if (info.isNamed()) {
        return {info.name, info.date, info.title};
    }
    // The recording just stopped is named by this moment; one that never reached a send by the
    // moment its audio ended.
    QDateTime moment = typedTitle ? QDateTime::currentDateTime() : dir.audioEnd();
    if (!moment.isValid()) {
        moment = QDateTime::currentDateTime();
    }
    const QString title = typedTitle ? typedTitle().left(WorkDirectory::kTitleLimit) : info.title;
    const UploadLabels labels = uploadLabels(moment, title);
    // Kept before the upload: should it fail after the server took the file, the next send
    // repeats the same name, date and title.
    info.name = labels.name;
    info.date = labels.date;
    info.title = labels.title;
    if (!dir.writeInfo(info)) {
        throw VelmorError(QStringLiteral("Не удалось сохранить сведения о записи (recording.json) — "
                                         "возможно, диск заполнен"));
    }
    return labels;
}

QCoro::Task<Delivery::Outcome> Delivery::send(const std::shared_ptr<Recording>& recording, const QString& server,
                                              const QString& apiKey, const std::function<QString()>& typedTitle) {
    isSending_ = true;
    isCancelled_ = std::make_shared<std::atomic<bool>>(false);
    const std::shared_ptr<std::atomic<bool>> isCancelled = isCancelled_;
    const auto done = qScopeGuard([this] { isSending_ = false; });
    Outcome outcome;
    try {
        // At once, also while the files are first read to see what is usable.
        step(QStringLiteral("Сводим запись…"));
        QCoro::Task<QString> mixing = mixToSend(recording, isCancelled, onMixProgress);
        const QString mixed = co_await mixing;
        step(QStringLiteral("Отправляем в Велмор…"));
        const UploadLabels labels = labelsOf(recording->directory(), typedTitle);
        QCoro::Task<QUrl> uploading =
            sendRecording(mixed, server, apiKey, labels, kUploadIdleTimeoutSeconds, isCancelled, onUploadProgress);
        outcome.link = co_await uploading;
        outcome.result = Result::sent;
        WorkDirectory& dir = recording->directory();
        if (recording->hasUnreadableWorkFile()) {
            // What could not be read is the user's to look at: kept, and marked so that it is
            // not offered again.
            WorkDirectory::Info info = dir.readInfo();
            info.isSent = true;
            dir.writeInfo(info);
            outcome.keptUnreadable = recording->path();
        } else {
            dir.remove();
        }
    } catch (...) {
        const bool isCancelledNow = isCancelled->load();
        outcome.failure = isCancelledNow ? QStringLiteral("Отправка отменена") : currentErrorDescription();
        outcome.result = isCancelledNow ? Result::cancelled : resultOf(std::current_exception());
        outcome.isPassing = !isCancelledNow && isPassing(std::current_exception(), &outcome.retryAfterSeconds);
        if (!isCancelledNow) {
            remember(recording->directory(), outcome.isPassing);
        }
    }
    co_return outcome;
}
