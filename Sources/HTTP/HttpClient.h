#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QPair>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace Http {

struct UploadRequest {
    QByteArray method = "POST";
    QByteArray url; // already encoded
    QList<QPair<QByteArray, QByteArray>> headers;
    QString bodyFile;                               // streamed, never read into memory
    int idleTimeoutSeconds = 600;                   // no byte moved for this long ends the transfer
    int connectTimeoutSeconds = 30;                 // a connection not made by then is not made
    std::shared_ptr<std::atomic<bool>> isCancelled; // set: the transfer ends within a second
    // Called on the transfer's thread as the body goes out: the bytes the network has taken
    // (sent, not merely queued in the socket) and the body's size.
    std::function<void(qint64 sent, qint64 total)> onProgress;
};

struct Response {
    int statusCode = 0;
    QByteArray body;
    int retryAfterSeconds = 0; // the reply's Retry-After, in seconds from now; 0 when none
};

// A meeting id needs a few bytes; a reply past this is no answer of a transcription server.
inline constexpr qsizetype kMaxReplyBytes = 1024 * 1024;
// The slowest average rate a transfer may keep up, on top of the idle rule: a server that
// trickles a byte now and then would otherwise hold a send for ever.
inline constexpr qint64 kMinBytesPerSecond = 4096;

// libcurl's process-wide set-up, OpenSSL's with it, made and undone on the main thread: made
// lazily on a pool thread it would leave that thread's state behind. The program holds one for
// its whole life, before any upload.
class CurlSession {
public:
    CurlSession();
    ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;
};

// Runs the upload on a pool thread; resumes the awaiting coroutine on its own thread. Throws
// HttpError for a transfer that ends without an HTTP response.
QCoro::Task<Response> upload(UploadRequest request);
Response uploadBlocking(const UploadRequest& request);

} // namespace Http
