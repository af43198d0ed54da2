#include "HttpError.h"

#include <curl/curl.h>

namespace Http {

namespace {

QString describe(HttpError::Kind kind) {
    switch (kind) {
    case HttpError::Kind::CannotConnect:
        return QStringLiteral("Не удалось подключиться к серверу");
    case HttpError::Kind::HostNotFound:
        return QStringLiteral("Не удалось найти сервер с указанным именем узла");
    case HttpError::Kind::TimedOut:
        return QStringLiteral("Превышен лимит времени на запрос");
    case HttpError::Kind::SecureConnectionFailed:
        return QStringLiteral("Не удалось установить защищённое соединение с сервером");
    case HttpError::Kind::UnsupportedURL:
        return QStringLiteral("Неподдерживаемый URL");
    case HttpError::Kind::CannotReadFile:
        return QStringLiteral("Не удалось прочитать файл для отправки");
    case HttpError::Kind::ConnectionLost:
        return QStringLiteral("Сервер разорвал соединение, не ответив");
    case HttpError::Kind::ReplyTooLarge:
        return QStringLiteral("Ответ сервера слишком велик");
    case HttpError::Kind::Other:
        break;
    }
    return QStringLiteral("Ошибка сети");
}

} // namespace

HttpError::HttpError(Kind kind, const QString& reason)
    : std::runtime_error((reason.isEmpty() ? describe(kind) : describe(kind) + QStringLiteral(" (") + reason + ')')
                             .toStdString()),
      kind_(kind) {}

HttpError HttpError::fromCurl(int curlCode, const QString& reason) {
    Kind kind = Kind::Other;
    switch (CURLcode(curlCode)) {
    case CURLE_COULDNT_CONNECT:
        kind = Kind::CannotConnect;
        break;
    // The connection stood: the server broke it off while taking the file or before answering.
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        kind = Kind::ConnectionLost;
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        kind = Kind::HostNotFound;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        kind = Kind::TimedOut;
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        kind = Kind::SecureConnectionFailed;
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        kind = Kind::UnsupportedURL;
        break;
    case CURLE_READ_ERROR:
    case CURLE_ABORTED_BY_CALLBACK:
        kind = Kind::CannotReadFile;
        break;
    default:
        break;
    }
    return HttpError(kind, kind == Kind::Other ? reason : QString());
}

} // namespace Http
