#include "SourceWatch.h"

#include "CaptureWriter.h"
#include "Clock.h"

#include <QStringList>

namespace {

const QString kMissingMicrophone = QStringLiteral("Микрофон не найден: записывается только звук компьютера. "
                                                  "Подключите микрофон или выберите его в настройках звука.");
const QString kSilentMicrophone = QStringLiteral(
    "Микрофон не слышно: он выключен или молчит. Проверьте, что он включён и выбран в настройках звука.");
const QString kSilentSystem =
    QStringLiteral("Звука компьютера не слышно с начала записи. Проверьте, что выбран нужный выход звука.");

} // namespace

void SourceWatch::restart() {
    microphoneSeconds_ = 0;
    microphoneChangedMs_ = Dispatch::Clock::current().monotonicMs();
    isMissingTold_ = false;
    isSilentTold_ = false;
}

SourceWatch::Verdict SourceWatch::check(const CaptureLevels& levels) {
    // Counted by the clock, not by the frames: a source that delivers nothing counts no frames.
    const qint64 now = Dispatch::Clock::current().monotonicMs();
    if (levels.microphone.seconds() != microphoneSeconds_) {
        microphoneSeconds_ = levels.microphone.seconds();
        microphoneChangedMs_ = now;
    }
    Verdict verdict;
    QStringList warnings;
    // A microphone's trouble is notified once per recording for each kind.
    const auto tell = [&](const QString& warning, bool& isTold, const QString& summary, const QString& body) {
        warnings.append(warning);
        if (!isTold) {
            isTold = true;
            verdict.notice = Notice{summary, body};
        }
    };
    if (double(now - microphoneChangedMs_) / 1000.0 >= kMissingMicrophoneSeconds) {
        tell(kMissingMicrophone, isMissingTold_, QStringLiteral("Микрофон не найден"),
             QStringLiteral("Записывается только звук компьютера. Подключите микрофон или выберите его в "
                            "настройках звука."));
    } else if (levels.isMicrophoneMuted || levels.microphone.silentNowSeconds() >= kSilentMicrophoneSeconds) {
        tell(kSilentMicrophone, isSilentTold_, QStringLiteral("Микрофон не слышно"),
             QStringLiteral("Он выключен или молчит. Проверьте, что он включён и выбран в настройках звука."));
    }
    // Both are told when both are wrong.
    if (levels.system.peakDb() <= SourceLevel::toDb(SourceLevel::kSilence) &&
        levels.system.seconds() >= kSilentSystemSeconds) {
        warnings.append(kSilentSystem);
    }
    verdict.warning = warnings.join(u'\n');
    return verdict;
}
