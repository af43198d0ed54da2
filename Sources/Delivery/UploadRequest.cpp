#include "UploadRequest.h"

#include "DateStamps.h"
#include "VelmorError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

QByteArray queryItem(const char* name, const QString& value) {
    // Everything but the unreserved characters is encoded, "+" too: left raw, servers read it as a space.
    return QByteArray(name) + '=' + QUrl::toPercentEncoding(value);
}

bool hasControlCharacter(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

} // namespace

JsonError::JsonError(const QString& reason)
    : std::runtime_error(
          (QStringLiteral("Не удалось прочитать данные, так как они имеют неверный формат (") + reason + ')')
              .toStdString()) {}

QString baseAddress(const QString& server) {
    qsizetype first = 0;
    qsizetype last = server.size();
    const auto trimmed = [](QChar c) { return c == u'/' || c == u' '; };
    while (first < last && trimmed(server[first])) {
        ++first;
    }
    while (last > first && trimmed(server[last - 1])) {
        --last;
    }
    return server.mid(first, last - first);
}

UploadLabels uploadLabels(const QDateTime& moment, const QString& title) {
    return {QStringLiteral("Запись ") + fileStamp().string(moment) + QStringLiteral(".m4a"),
            dateOnly().string(moment),
            title.isEmpty() ? QStringLiteral("Звонок ") + humanStamp().string(moment) : title};
}

Http::UploadRequest makeUploadRequest(const QString& file, const QString& server, const QString& apiKey,
                                      const UploadLabels& labels, int idleTimeoutSeconds) {
    const auto everySend = VelmorError::Scope::everySend;
    if (apiKey.isEmpty()) {
        throw VelmorError(QStringLiteral("Не задан ключ API — откройте настройки виджета"), everySend);
    }
    // Sent raw, a line break in the key would start a header of its own.
    if (hasControlCharacter(apiKey)) {
        throw VelmorError(QStringLiteral("Ключ API содержит недопустимые символы — скопируйте его заново"),
                          everySend);
    }
    const QString base = baseAddress(server);
    const QUrl endpoint(base + QStringLiteral("/api/transcribe"), QUrl::StrictMode);
    // A "?" or "#" in the address would move the path into the query or fragment: the file and
    // the key would go to another page of the server.
    if (!endpoint.isValid() || endpoint.hasQuery() || endpoint.hasFragment()) {
        throw VelmorError(QStringLiteral("Адрес сервера указан неверно — проверьте настройки"), everySend);
    }

    Http::UploadRequest request;
    request.url = endpoint.toEncoded() + '?' + queryItem("name", labels.name) + '&' +
                  queryItem("title", labels.title) + '&' + queryItem("date", labels.date);
    request.headers = {{"Content-Type", "audio/mp4"}, {"X-Api-Key", apiKey.toUtf8()}};
    request.bodyFile = file;
    request.idleTimeoutSeconds = idleTimeoutSeconds;
    return request;
}

QUrl meetingPage(const QString& base, const Http::Response& response) {
    if (response.statusCode == 0) {
        throw VelmorError(QStringLiteral("Нет ответа от сервера"));
    }
    if (response.statusCode < 200 || response.statusCode > 299) {
        const QJsonDocument reply = QJsonDocument::fromJson(response.body);
        const QJsonValue error = reply.isObject() ? reply.object().value(QStringLiteral("error")) : QJsonValue();
        // A refused key is refused for every recording.
        const bool isRefusedKey = response.statusCode == 401 || response.statusCode == 403;
        const auto scope = isRefusedKey ? VelmorError::Scope::everySend : VelmorError::Scope::thisSend;
        const QString message = error.isString()
                                    ? error.toString()
                                    : QStringLiteral("Сервер ответил ") + QString::number(response.statusCode);
        // Busy, overloaded or timed out waiting for the request: it took nothing. (A 502 or 504 may
        // come after it took the file: a repeat would make the meeting twice.)
        const int status = response.statusCode;
        if (status == 503 || status == 429 || status == 408) {
            throw VelmorError::passing(message, response.retryAfterSeconds);
        }
        throw VelmorError(message, scope);
    }
    QJsonParseError parseError{};
    const QJsonDocument reply = QJsonDocument::fromJson(response.body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        throw JsonError(parseError.errorString());
    }
    if (!reply.isObject() && !reply.isArray()) {
        throw JsonError(QStringLiteral("ответ не является объектом или массивом"));
    }
    const QJsonValue id = reply.object().value(QStringLiteral("meeting")).toObject().value(QStringLiteral("id"));
    const QUrl page(base + QStringLiteral("/m/") + (id.isString() ? id.toString() : QString()));
    if (!page.isValid()) {
        throw VelmorError(QStringLiteral("Сервер вернул неверный адрес встречи"));
    }
    return page;
}

QCoro::Task<QUrl> sendRecording(const QString& file, const QString& server, const QString& apiKey,
                                const UploadLabels& labels, int idleTimeoutSeconds,
                                const std::shared_ptr<std::atomic<bool>>& isCancelled,
                                const std::function<void(qint64, qint64)>& onProgress) {
    Http::UploadRequest request = makeUploadRequest(file, server, apiKey, labels, idleTimeoutSeconds);
    request.isCancelled = isCancelled;
    request.onProgress = onProgress;
    QCoro::Task<Http::Response> uploading = Http::upload(std::move(request));
    const Http::Response response = co_await uploading;
    co_return meetingPage(baseAddress(server), response);
}
