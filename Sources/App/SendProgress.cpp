#include "SendProgress.h"

#include "Clock.h"

void ProgressMeter::restart() {
    stageStartMs_.reset();
    lastShownMs_.reset();
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
    return shown;
}
