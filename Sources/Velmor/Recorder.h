// The one recording controller: the state the panel shows and the two workflows, start and
// stop-and-send. Bound to the main thread; the capture writer works on `queue`.
#pragma once

#include "CaptureService.h"
#include "CaptureWriter.h"
#include "Published.h"
#include "SerialQueue.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <optional>

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

    // Both workflows report only through the published state; neither ever throws.
    QCoro::Task<> start();
    QCoro::Task<> stopAndSend(QString server, QString apiKey);

    // "%02d:%02d" of whole minutes and seconds; minutes go on past 59.
    static QString formatElapsed(double seconds);

signals:
    // Sent before every store to a published property.
    void objectWillChange();

private:
    friend struct RecorderTestAccess;

    // Takes the arguments by reference: GCC 12 destroys a temporary passed by value to a
    // coroutine twice, so the public entry hands over owned copies.
    QCoro::Task<> stopAndSendWorkflow(const QString& server, const QString& apiKey);
    void tick();
    QCoro::Task<QString> mixdown(const QString& dir);
    QCoro::Task<QUrl> upload(const QString& file, const QString& server, const QString& apiKey);
    void notify(const QString& title, const QString& body);
    std::function<void(std::exception_ptr)> interruptionHandler();

    std::shared_ptr<Capture::CaptureService> captureService_;
    std::unique_ptr<Notifications::NotificationCenter> notifications_;
    int uploadIdleTimeoutSeconds_ = 600;
    bool isSending_ = false;

    // Declared before the stream and the writer: a stream's last deliveries drain through it.
    Dispatch::SerialQueue queue{QStringLiteral(VELMOR_APP_ID ".capture")};
    std::unique_ptr<Capture::Stream> stream;
    std::shared_ptr<CaptureWriter> writer;
    std::optional<QDateTime> startedAt;
    std::unique_ptr<QTimer> timer;
    std::optional<QString> workDir;
};
