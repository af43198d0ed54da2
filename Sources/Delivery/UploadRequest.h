// The wire format of a send: one POST of the file's bytes to <server>/api/transcribe with the
// name, title and date in the query and the key in a header; the reply's meeting id becomes the
// address of the meeting's page.
#pragma once

#include "HttpClient.h"

#include <QCoroTask>
#include <QDateTime>
#include <QString>
#include <QUrl>

// What a recording is sent under: the file name, the UTC date and the title.
struct UploadLabels {
    QString name;
    QString date;
    QString title;
};
// The labels of a recording made at `moment`: `title`, or the default one when it is empty.
UploadLabels uploadLabels(const QDateTime& moment, const QString& title);

// Throws VelmorError for the failures the server or the settings cause, and passes the HTTP
// layer's and the JSON parser's errors on unchanged. Setting `isCancelled` ends the transfer.
QCoro::Task<QUrl> sendRecording(const QString& file, const QString& server, const QString& apiKey,
                                const UploadLabels& labels, int idleTimeoutSeconds,
                                const std::shared_ptr<std::atomic<bool>>& isCancelled = nullptr,
                                const std::function<void(qint64 sent, qint64 total)>& onProgress = {});

// The server address without leading and trailing "/" and " ".
QString baseAddress(const QString& server);
// Throws VelmorError when the key is empty or holds control characters, or no URL can be formed.
Http::UploadRequest makeUploadRequest(const QString& file, const QString& server, const QString& apiKey,
                                      const UploadLabels& labels, int idleTimeoutSeconds);
// Throws VelmorError for a failure status (for 401 and 403 one that every send meets), JsonError for a success
// body that is not JSON.
QUrl meetingPage(const QString& base, const Http::Response& response);

class JsonError : public std::runtime_error {
public:
    explicit JsonError(const QString& reason);
};
