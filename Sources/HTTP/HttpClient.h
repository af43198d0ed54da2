#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QPair>
#include <QString>
#include <atomic>
#include <memory>

namespace Http {

struct UploadRequest {
    QByteArray method = "POST";
    QByteArray url; // already encoded
    QList<QPair<QByteArray, QByteArray>> headers;
    QString bodyFile;                               // streamed, never read into memory
    int idleTimeoutSeconds = 600;                   // no byte moved for this long ends the transfer
    std::shared_ptr<std::atomic<bool>> isCancelled; // set: the transfer ends within a second
};

struct Response {
    int statusCode = 0;
    QByteArray body;
};

// Runs the upload on a pool thread; resumes the awaiting coroutine on its own thread. Throws
// HttpError for a transfer that ends without an HTTP response.
QCoro::Task<Response> upload(UploadRequest request);
Response uploadBlocking(const UploadRequest& request);

} // namespace Http
