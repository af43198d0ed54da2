// One recording being made: the stream from the audio server, the writer of its work files on the
// capture queue, the clock, and the recording itself (its held directory and live export). Bound
// to the main thread. Stopping or an interruption hands the recording on, its files complete.
#pragma once

#include "CaptureService.h"
#include "CaptureWriter.h"
#include "Recording.h"
#include "SerialQueue.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

class CaptureSession : public QObject {
    Q_OBJECT

public:
    explicit CaptureSession(std::shared_ptr<Capture::CaptureService> service);
    ~CaptureSession() override;

    bool isRunning() const { return recording_ != nullptr; }
    const std::optional<QDateTime>& startedAt() const { return startedAt_; }
    // The directory of the recording being made or, after a failed start, of the one tried last.
    const QString& lastPath() const { return lastPath_; }
    // The recording being made; null when none is.
    const std::shared_ptr<Recording>& recording() const { return recording_; }
    // How the sources of the recording being made sound; null when none is.
    std::shared_ptr<CaptureLevels> levels() const { return writer_ ? writer_->levels : nullptr; }

    // Throws whatever stopped the start; a directory made for it is left empty.
    QCoro::Task<> start();
    // Stops the stream (a failed stop changes nothing: the files hold what was captured), completes
    // the files and hands over the recording.
    QCoro::Task<std::shared_ptr<Recording>> stop();
    // After the capture ended by itself: completes the files and hands over the recording; null
    // when nothing is running or a stop is under way.
    std::shared_ptr<Recording> interrupt();
    // Completes the work files of a running capture on the capture queue, so that a process that
    // ends now leaves them whole.
    void closeWorkFiles();
    // Both work files described whole and on the disk, as before a sleep; the capture goes on.
    void syncWorkFiles();
    // Keeps the title being typed with the recording being made, so that it is sent with it even
    // after an interruption or a crash.
    void keepTitle(const QString& title);

signals:
    // Each second while recording.
    void ticked();
    // The capture ended by itself: the audio server stopped it, or a work file could not be written.
    void endedByItself(const QString& description);

private:
    std::function<void(std::exception_ptr)> interruptionHandler();
    void discardWorkFiles(const std::shared_ptr<CaptureWriter>& failed, const WorkDirectory& dir);
    std::shared_ptr<Recording> finish();

    std::shared_ptr<Capture::CaptureService> service_;
    // Declared before the stream and the writer: a stream's last deliveries drain through it.
    Dispatch::SerialQueue queue_{QStringLiteral(VELMOR_APP_ID ".capture")};
    std::shared_ptr<Recording> recording_;
    std::unique_ptr<Capture::Stream> stream_;
    std::shared_ptr<CaptureWriter> writer_;
    std::optional<QDateTime> startedAt_;
    QString lastPath_;
    QString keptTitle_;
    QTimer timer_;
    bool isStopping_ = false;
};
