// The one recording controller: the state the panel shows and the workflows: start,
// stop-and-send, and sending the recordings saved on disk. Bound to the main thread; the capture
// writer works on `queue`.
#pragma once

#include "CaptureService.h"
#include "CaptureWriter.h"
#include "Published.h"
#include "SavedRecordings.h"
#include "SerialQueue.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <memory>
#include <optional>

namespace Media {
class LiveExport;
}

namespace Notifications {
class NotificationCenter;
}

class Recorder : public QObject {
    Q_OBJECT

public:
    // The real audio server unless a test hands in a capture service of its own.
    explicit Recorder(std::shared_ptr<Capture::CaptureService> captureService = nullptr);
    ~Recorder() override;

    Published<bool> isRecording{[this] { emit objectWillChange(); }, false};
    Published<bool> isBusy{[this] { emit objectWillChange(); }, false};
    Published<QString> status{[this] { emit objectWillChange(); }, QStringLiteral("Готов к записи")};
    Published<QString> elapsedText{[this] { emit objectWillChange(); }, QStringLiteral("00:00")};
    Published<QString> title{[this] { emit objectWillChange(); }, QString()};
    Published<std::optional<QUrl>> lastLink{[this] { emit objectWillChange(); }, std::nullopt};
    // How many recordings wait on disk to be sent (SavedRecordings).
    Published<int> savedCount{[this] { emit objectWillChange(); }, 0};

    // The workflows report only through the published state; none ever throws.
    QCoro::Task<> start();
    QCoro::Task<> stopAndSend(QString server, QString apiKey);
    // Sends the saved recordings one at a time, oldest first, each as stop-and-send would.
    QCoro::Task<> sendSaved(QString server, QString apiKey);

    // A mixdown or upload is under way (stop-and-send or a saved one).
    bool isSending() const { return isSending_; }
    // Ends the running send as a failed one: its recording stays saved.
    void cancelSend();
    // Completes the work files of a running capture on the capture queue, so that a process that
    // ends now leaves them whole.
    void closeWorkFiles();
    // Looks for saved recordings again and publishes their count.
    void refreshSaved();

    // "%02d:%02d" of whole minutes and seconds; minutes go on past 59.
    static QString formatElapsed(double seconds);

signals:
    // Sent before every store to a published property.
    void objectWillChange();

private:
    friend struct RecorderTestAccess;

    // By reference from the public entries, which own copies (GCC 12, see Background.h).
    QCoro::Task<> stopAndSendWorkflow(const QString& server, const QString& apiKey);
    QCoro::Task<> sendSavedWorkflow(const QString& server, const QString& apiKey);
    // Mixes unless a finished file is there, uploads, reports; removes the directory on success.
    // `info` is null for the recording just stopped, which sends the title being typed.
    QCoro::Task<> deliver(const QString& dir, const QString& server, const QString& apiKey,
                          const std::optional<SavedRecordings::RecordingInfo>& info);
    void beginSending(const QString& dir);
    void endSending();
    void tick();
    QCoro::Task<QString> mixdown(const QString& dir);
    QCoro::Task<QUrl> upload(const QString& file, const QString& server, const QString& apiKey,
                             const SavedRecordings::RecordingInfo& info);
    void notify(const QString& title, const QString& body);
    std::function<void(std::exception_ptr)> interruptionHandler();
    void interrupt(const QString& description);
    void discardWorkFiles(const std::shared_ptr<CaptureWriter>& failed);

    std::shared_ptr<Capture::CaptureService> captureService_;
    std::unique_ptr<Notifications::NotificationCenter> notifications_;
    int uploadIdleTimeoutSeconds_ = 600;
    bool isSending_ = false;
    std::shared_ptr<std::atomic<bool>> isCancelled_ = std::make_shared<std::atomic<bool>>(false);
    std::optional<QString> sendingDir_;

    // Declared before the stream and the writer: a stream's last deliveries drain through it.
    Dispatch::SerialQueue queue{QStringLiteral(VELMOR_APP_ID ".capture")};
    std::unique_ptr<Capture::Stream> stream;
    std::shared_ptr<CaptureWriter> writer;
    std::optional<QDateTime> startedAt;
    std::unique_ptr<QTimer> timer;
    std::optional<QString> workDir;
    // Encodes the latest recording while it is made; kept for its send after an interruption.
    std::shared_ptr<Media::LiveExport> liveExport_;
};
