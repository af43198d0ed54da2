// What is wrong with the sources of the recording being made, judged at each tick on the clock:
// a microphone missing (nothing delivered for a few seconds: no real input, a monitor as the
// default input, a stalled device), muted in the audio server or digitally silent for 20 s, and
// the computer's sound silent from the start for 2 minutes (a meeting's far side can be quiet
// for long, so only from the start).
#pragma once

#include <QString>
#include <optional>

struct CaptureLevels;

class SourceWatch {
public:
    static constexpr double kMissingMicrophoneSeconds = 2.5;
    static constexpr double kSilentMicrophoneSeconds = 20;
    static constexpr double kSilentSystemSeconds = 120;

    struct Notice {
        QString summary;
        QString body;
    };
    struct Verdict {
        QString warning;              // empty while both sources are heard
        std::optional<Notice> notice; // a microphone's trouble, told once per recording each
    };

    // A new recording: nothing told yet, the microphone's time starts now.
    void restart();
    Verdict check(const CaptureLevels& levels);

private:
    double microphoneSeconds_ = 0;
    qint64 microphoneChangedMs_ = 0;
    bool isMissingTold_ = false;
    bool isSilentTold_ = false;
};
