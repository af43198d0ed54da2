// Sends one recording: its mix (made now unless a whole one is there), the upload, and on success
// the removal of its directory. One send at a time; the running one can be cancelled. The
// recording's name, date and title are fixed by its first send and kept for every later one.
#pragma once

#include "Recording.h"
#include "UploadRequest.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>

class Delivery {
public:
    enum class Result {
        sent,
        failed,
        cancelled,
        // Nothing in this recording can be sent: it stays on disk for the user.
        unsendable,
        // The same failure awaits every other recording with these settings.
        failedForEvery,
    };
    struct Outcome {
        Result result = Result::failed;
        QUrl link;       // when sent
        QString failure; // otherwise: what went wrong, for the user
        // Sent, but a work file that could not be read was kept: where it is.
        QString keptUnreadable;
        // Failed for a reason that passes (no network, the server down or busy), before the
        // server could take the recording: the same send may be tried again by itself.
        bool isPassing = false;
        int retryAfterSeconds = 0; // as the server asked; 0 when it did not
    };

    // Whether a failure passes, as Outcome::isPassing.
    static bool isPassing(std::exception_ptr error, int* retryAfterSeconds = nullptr);

    // Each step as it begins: "Сводим запись…", "Отправляем в Велмор…".
    std::function<void(const QString&)> onStep;
    // The upload's progress: bytes the network took of the file's; called on the upload's thread.
    std::function<void(qint64 sent, qint64 total)> onUploadProgress;
    // A mixdown from the work files: how far it has come, 0 to 1, on the main thread.
    std::function<void(double)> onMixProgress;
    // An upload during which nothing moves for this long has failed.
    static constexpr int kUploadIdleTimeoutSeconds = 600;

    // `typedTitle` reads the title being typed, for the recording just stopped, when its upload
    // starts; null for a saved recording, which carries its own. Never throws.
    QCoro::Task<Outcome> send(const std::shared_ptr<Recording>& recording, const QString& server,
                              const QString& apiKey, const std::function<QString()>& typedTitle);

    bool isSending() const { return isSending_; }
    // Ends the running send as a failed one: its recording stays.
    void cancel();

private:
    void step(const QString& text) const;
    // Fixes the labels at the first send of the recording and returns them.
    static UploadLabels labelsOf(const WorkDirectory& dir, const std::function<QString()>& typedTitle);

    bool isSending_ = false;
    std::shared_ptr<std::atomic<bool>> isCancelled_ = std::make_shared<std::atomic<bool>>(false);
};
