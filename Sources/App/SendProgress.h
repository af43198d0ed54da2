// How far a send has come, and the pace at which that is told: at most five reports a second,
// with the time left once two seconds have given a rate.
#pragma once

#include <QString>
#include <optional>

// A send's upload in bytes, or a mixdown from the files in thousandths.
struct SendProgress {
    qint64 done = 0;
    qint64 total = 0;
    int secondsLeft = -1; // once the rate is known
    bool isMixing = false;
    // Every byte is out and no reply has come for a while.
    bool isWaitingForServer = false;
    int percent() const { return total > 0 ? int(done * 100 / total) : 0; }
    // What the send bar says, e.g. "42% · 25,2 из 60,0 МБ · осталось 01:20".
    QString text() const;
};

class ProgressMeter {
public:
    static constexpr qint64 kReportIntervalMs = 200;
    static constexpr qint64 kRateAfterMs = 2000;
    static constexpr qint64 kServerWaitMs = 10000;

    // A new send: its first report is told at once.
    void restart();
    // What to show of this report, read on the clock; none while the last one shown is too recent
    // (the last report of a stage is always shown).
    std::optional<SendProgress> report(qint64 done, qint64 total, bool isMixing);
    // Looked at while nothing is reported: the upload's whole body out and no reply for a while
    // is told once.
    std::optional<SendProgress> poll();

private:
    std::optional<SendProgress> shown_;
    std::optional<qint64> allSentMs_;
    std::optional<qint64> stageStartMs_; // a stage (mixdown, upload) starts its own rate
    std::optional<qint64> lastShownMs_;
    bool isMixing_ = false;
};
