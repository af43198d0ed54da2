// The state the panel shows, and the workflows that change it: start, stop-and-send, and sending
// the recordings saved on disk. Bound to the main thread. The recording being made is the capture
// session's, a send is the delivery's, and what waits on disk is the saved list's.
#pragma once

#include "CaptureService.h"
#include "CaptureSession.h"
#include "Delivery.h"
#include "Published.h"
#include "SavedRecordings.h"
#include "SendProgress.h"
#include "SourceWatch.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <optional>

namespace Notifications {
class NotificationCenter;
}

// What the app is doing; one answer for every view and outside interface.
enum class Phase {
    idle,
    starting,  // asking the audio server and setting up
    recording, // a capture is running
    stopping,  // the capture is being stopped and its files completed
    sending,   // mixing and uploading, one recording or a batch of saved ones
};

class Recorder : public QObject {
    Q_OBJECT

public:
    // The real audio server unless a test hands in a capture service of its own. The saved
    // recordings are looked for at once, off the main thread.
    explicit Recorder(std::shared_ptr<Capture::CaptureService> captureService = nullptr);
    ~Recorder() override;

    // The longest meeting title taken.
    static constexpr int kTitleLimit = WorkDirectory::kTitleLimit;

    Published<Phase> phase{[this] { emit objectWillChange(); }, Phase::idle};
    Published<QString> status{[this] { emit objectWillChange(); }, QStringLiteral("Готов к записи")};
    Published<QString> elapsedText{[this] { emit objectWillChange(); }, QStringLiteral("00:00")};
    Published<QString> title{[this] { emit objectWillChange(); }, QString()};
    Published<std::optional<QUrl>> lastLink{[this] { emit objectWillChange(); }, std::nullopt};
    // How many recordings wait on disk to be sent.
    Published<int> savedCount{[this] { emit objectWillChange(); }, 0};
    // Recordings on disk that cannot be read, for the panel; empty when there are none.
    Published<QString> unusableSaved{[this] { emit objectWillChange(); }, QString()};
    // What is wrong with a source of the recording being made (a silent microphone, no sound
    // from the computer); empty while both are heard.
    Published<QString> sourceWarning{[this] { emit objectWillChange(); }, QString()};
    // When a failed send will be tried again by itself, for the panel and the tooltip; empty
    // while none is pending.
    Published<QString> retryNote{[this] { emit objectWillChange(); }, QString()};
    // The running upload's progress; none while nothing is uploaded.
    Published<std::optional<SendProgress>> progress{[this] { emit objectWillChange(); }, std::nullopt};

    // The workflows report only through the published state; none ever throws.
    QCoro::Task<> start();
    QCoro::Task<> stopAndSend(QString server, QString apiKey);
    // Sends the saved recordings one at a time, oldest first, each as stop-and-send would. Stops at
    // a failure that every following send would meet too.
    QCoro::Task<> sendSaved(QString server, QString apiKey);
    // Looks for saved recordings on disk (off the main thread) and adds what it finds.
    QCoro::Task<> findSaved();
    // Sends the oldest saved recording whose last send failed for a reason that passes, as a send
    // from the menu would, but tells a failure only in the status: it was told the first time.
    QCoro::Task<> retrySaved(QString server, QString apiKey);
    // Whether a saved recording waits to be tried again by itself.
    bool hasRetries() const;

    // A capture is running, also while it is being stopped.
    bool isRecording() const { return phase() == Phase::recording || phase() == Phase::stopping; }
    // A workflow is under way: no other may start.
    bool isBusy() const { return phase() != Phase::idle && phase() != Phase::recording; }
    // A mixdown or upload is under way (stop-and-send or saved ones): it can be cancelled.
    bool isSending() const { return phase() == Phase::sending; }
    // Whether sending the saved recordings can start now.
    bool canSendSaved() const { return savedCount() > 0 && phase() == Phase::idle; }
    // Ends the running send as a failed one: its recording stays saved.
    void cancelSend() { delivery_.cancel(); }
    // Completes the work files of a running capture, so that a process that ends now leaves them whole.
    void closeWorkFiles() { capture_.closeWorkFiles(); }

    // How the sources of the recording being made sound, for the meters; null when none is.
    std::shared_ptr<CaptureLevels> levels() const { return capture_.levels(); }

    // "%02d:%02d" of whole minutes and seconds; minutes go on past 59.
    static QString formatElapsed(double seconds);

    // The recording being made (or tried last), and what waits on disk: for views and tests.
    CaptureSession& capture() { return capture_; }
    const SavedRecordings& saved() const { return saved_; }

signals:
    // Sent before every store to a published property.
    void objectWillChange();
    // A send has ended: sent, or failed (for a reason that passes, the server's wait if it gave one).
    void sendEnded(bool isSent, bool isPassing, int retryAfterSeconds);

private:
    // By reference from the public entries, which own copies (GCC 12, see Background.h).
    QCoro::Task<> stopAndSendWorkflow(const QString& server, const QString& apiKey);
    QCoro::Task<> sendSavedWorkflow(const QString& server, const QString& apiKey);
    // Sends one recording and reports the outcome; true unless every following send would fail.
    QCoro::Task<Delivery::Outcome> deliver(const std::shared_ptr<Recording>& recording, const QString& server,
                                           const QString& apiKey, const std::function<QString()>& typedTitle,
                                           bool isRetry = false);
    QCoro::Task<> retrySavedWorkflow(const QString& server, const QString& apiKey);
    void tick();
    void checkSources();
    // On the main thread, from the upload's or the mixdown's reports.
    void showProgress(qint64 done, qint64 total, bool isMixing);
    void pollProgress();
    void interrupt(const QString& description);
    void keepSaved(SavedRecordings::Entry entry);
    void forgetSaved(const QString& path);
    void notify(const QString& title, const QString& body);

    std::unique_ptr<Notifications::NotificationCenter> notifications_;
    CaptureSession capture_;
    Delivery delivery_;
    SavedRecordings saved_;
    SourceWatch sourceWatch_;
    ProgressMeter progressMeter_;
    // Looks at a send's progress once a second while no report comes.
    QTimer progressPoll_;
};
