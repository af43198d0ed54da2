#include "SendProgress.h"

#include "Clock.h"
#include "Recorder.h"

#include <QLocale>

namespace {

QString megabytes(qint64 bytes) {
    return QLocale(QLocale::Russian).toString(double(bytes) / 1e6, 'f', 1);
}

} // namespace

QString SendProgress::text() const {
    QString text = isMixing
                       ? QStringLiteral("%1%").arg(percent())
                       : QStringLiteral("%1% · %2 из %3 МБ").arg(percent()).arg(megabytes(done), megabytes(total));
    if (isWaitingForServer) {
        text += QStringLiteral(" · ждём ответа сервера");
    } else if (secondsLeft >= 0) {
        text += QStringLiteral(" · осталось ") + Recorder::formatElapsed(secondsLeft);
    }
    return text;
}

void ProgressMeter::restart() {
    stageStartMs_.reset();
    lastShownMs_.reset();
    shown_.reset();
    allSentMs_.reset();
}

std::optional<SendProgress> ProgressMeter::poll() {
    const qint64 now = Dispatch::Clock::current().monotonicMs();
    if (!shown_ || shown_->isWaitingForServer || !allSentMs_ || now - *allSentMs_ < kServerWaitMs) {
        return std::nullopt;
    }
    shown_->isWaitingForServer = true;
    shown_->secondsLeft = -1;
    return shown_;
}

std::optional<SendProgress> ProgressMeter::report(qint64 done, qint64 total, bool isMixing) {
    const qint64 now = Dispatch::Clock::current().monotonicMs();
    if (!stageStartMs_ || isMixing != isMixing_) {
        stageStartMs_ = now;
        isMixing_ = isMixing;
    }
    if (done < total && lastShownMs_ && now - *lastShownMs_ < kReportIntervalMs) {
        return std::nullopt;
    }
    lastShownMs_ = now;
    SendProgress shown{done, total, -1, isMixing};
    const qint64 elapsed = now - *stageStartMs_;
    // A rate from the first seconds alone says little.
    if (elapsed >= kRateAfterMs && done > 0) {
        shown.secondsLeft = int(double(total - done) * double(elapsed) / double(done) / 1000.0);
    }
    const bool isAllSent = !isMixing && total > 0 && done == total;
    if (!isAllSent) {
        allSentMs_.reset();
    } else if (!allSentMs_) {
        allSentMs_ = now;
    }
    shown_ = shown;
    return shown;
}
