#include "HttpClient.h"

#include "Background.h"
#include "HttpError.h"

#include <QFile>
#include <QUrl>
#include <curl/curl.h>
#include <linux/sockios.h>
#include <memory>
#include <sys/ioctl.h>

namespace Http {

namespace {

std::size_t readBody(char* buffer, std::size_t size, std::size_t count, void* file) {
    const qint64 read = static_cast<QFile*>(file)->read(buffer, qint64(size * count));
    return read < 0 ? CURL_READFUNC_ABORT : std::size_t(read);
}

struct Reply {
    QByteArray body;
    bool isTooLarge = false;
};

std::size_t collectReply(char* data, std::size_t size, std::size_t count, void* target) {
    auto* reply = static_cast<Reply*>(target);
    const qsizetype bytes = qsizetype(size * count);
    if (reply->body.size() + bytes > kMaxReplyBytes) {
        reply->isTooLarge = true;
        return 0; // ends the transfer
    }
    reply->body.append(data, bytes);
    return size * count;
}

struct Watch {
    curl_socket_t socket = CURL_SOCKET_BAD;
    const UploadRequest* request = nullptr;
    qint64 lastSent = 0;
    qint64 total = 0;
};

// Called by libcurl at least once a second, also while nothing moves.
int watchTransfer(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto* watch = static_cast<Watch*>(data);
    if (watch->request->onProgress && uploaded > 0) {
        // libcurl counts what it wrote into the socket; what still waits in the socket's queue has
        // not gone out yet, and on a slow link that can be megabytes.
        int queued = 0;
        if (watch->socket == CURL_SOCKET_BAD || ::ioctl(watch->socket, SIOCOUTQ, &queued) != 0) {
            queued = 0;
        }
        const qint64 sent = std::max(watch->lastSent, qint64(uploaded) - queued);
        if (sent != watch->lastSent) {
            watch->lastSent = sent;
            watch->request->onProgress(sent, watch->total);
        }
    }
    return watch->request->isCancelled && watch->request->isCancelled->load() ? 1 : 0;
}

// The connection's socket, for the progress to ask how much of what was written still waits.
int noteSocket(void* data, curl_socket_t socket, curlsocktype) {
    static_cast<Watch*>(data)->socket = socket;
    return CURL_SOCKOPT_OK;
}

struct EasyCloser {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListCloser {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

CurlSession::CurlSession() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlSession::~CurlSession() {
    curl_global_cleanup();
}

Response uploadBlocking(const UploadRequest& request) {
    // An address without a scheme is not completed with a guessed one.
    const QString scheme = QUrl::fromEncoded(request.url).scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        throw HttpError(HttpError::Kind::UnsupportedURL,
                        QStringLiteral("адрес должен начинаться с http:// или https://"));
    }
    QFile file(request.bodyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        throw HttpError(HttpError::Kind::CannotReadFile, file.errorString());
    }
    std::unique_ptr<CURL, EasyCloser> easy(curl_easy_init());
    std::unique_ptr<curl_slist, ListCloser> headers;
    for (const auto& [name, value] : request.headers) {
        const QByteArray line = name + ": " + value;
        headers.reset(curl_slist_append(headers.release(), line.constData()));
    }
    Reply reply;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, request.url.constData());
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.constData());
    curl_easy_setopt(handle, CURLOPT_READFUNCTION, &readBody);
    curl_easy_setopt(handle, CURLOPT_READDATA, &file);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(file.size()));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &collectReply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, long(request.connectTimeoutSeconds));
    // Idle, not total: a long upload may take as long as it needs while bytes keep moving. The
    // wait for the server's answer after the last byte counts as idle time too.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, long(request.idleTimeoutSeconds));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, long(request.idleTimeoutSeconds + file.size() / kMinBytesPerSecond));
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, 2L * 1024L * 1024L);
    Watch watch{CURL_SOCKET_BAD, &request, 0, file.size()};
    curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, &noteSocket);
    curl_easy_setopt(handle, CURLOPT_SOCKOPTDATA, &watch);
    if (request.isCancelled || request.onProgress) {
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &watchTransfer);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &watch);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode result = curl_easy_perform(handle);
    if (reply.isTooLarge) {
        throw HttpError(HttpError::Kind::ReplyTooLarge, QString());
    }
    if (result != CURLE_OK) {
        const QString reason = QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(result));
        // Out of time before the connection stood: the server was never reached.
        curl_off_t connected = 0;
        if (result == CURLE_OPERATION_TIMEDOUT &&
            curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK && connected == 0) {
            throw HttpError(HttpError::Kind::CannotConnect, reason);
        }
        HttpError error = HttpError::fromCurl(result, reason);
        curl_off_t uploaded = 0;
        curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &uploaded);
        error.setBodySent(uploaded >= file.size());
        throw error;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t retryAfter = 0;
    curl_easy_getinfo(handle, CURLINFO_RETRY_AFTER, &retryAfter);
    if (request.onProgress && status >= 200 && status < 300 && watch.lastSent < file.size()) {
        request.onProgress(file.size(), file.size()); // taken: all of it went out
    }
    return Response{int(status), std::move(reply.body), int(std::clamp<curl_off_t>(retryAfter, 0, 86400))};
}

QCoro::Task<Response> upload(UploadRequest request) {
    return Dispatch::runInBackground([request = std::move(request)] { return uploadBlocking(request); });
}

} // namespace Http
