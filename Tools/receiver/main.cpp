// velmor-receiver: accepts recordings as the transcription server would and serves a page per
// meeting with a player. Listens on 127.0.0.1 only.
//
//   velmor-receiver --key KEY --data DIR [--port PORT]    (port 0: any free one)
//
// POST /api/transcribe stores the body and the query under DIR/<id>/ and answers
// {"meeting":{"id":"<id>"}}; GET /m/<id> is the meeting's page; GET /m/<id>/audio the recording.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <cstdio>
#include <httplib.h>
#include <mutex>

namespace {

QString html(const QString& text) {
    return text.toHtmlEscaped();
}

void replyError(httplib::Response& response, int status, const QString& message) {
    response.status = status;
    response.set_content(
        QJsonDocument(QJsonObject{{"error", message}}).toJson(QJsonDocument::Compact).toStdString(),
        "application/json");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"key", "The API key a sender must give.", "key"});
    parser.addOption({"data", "Where recordings are kept.", "dir"});
    parser.addOption({"port", "The port on 127.0.0.1 (0: any free one).", "port", "8765"});
    parser.process(application);
    if (!parser.isSet("key") || !parser.isSet("data")) {
        parser.showHelp(2);
    }
    const std::string key = parser.value("key").toStdString();
    const QDir data(parser.value("data"));
    QDir().mkpath(data.absolutePath());
    std::mutex storing;

    httplib::Server server;
    server.Post("/api/transcribe", [&](const httplib::Request& request, httplib::Response& response,
                                       const httplib::ContentReader& readBody) {
        if (request.get_header_value("X-Api-Key") != key) {
            replyError(response, 401, QStringLiteral("Неверный ключ API"));
            return;
        }
        const QString id = QUuid::createUuid().toString(QUuid::Id128).left(12);
        QDir().mkpath(data.filePath(id));
        QFile body(data.filePath(id + "/recording.m4a"));
        if (!body.open(QIODevice::WriteOnly)) {
            replyError(response, 500, QStringLiteral("Не удалось сохранить запись"));
            return;
        }
        readBody([&](const char* chunk, std::size_t length) {
            return body.write(chunk, qint64(length)) == qint64(length);
        });
        body.close();
        QJsonObject meta;
        for (const char* name : {"name", "title", "date"}) {
            meta.insert(name, QString::fromStdString(request.get_param_value(name)));
        }
        meta.insert("contentType", QString::fromStdString(request.get_header_value("Content-Type")));
        meta.insert("target", QString::fromStdString(request.target));
        meta.insert("receivedAt", QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        {
            std::lock_guard lock(storing);
            QFile metaFile(data.filePath(id + "/meta.json"));
            metaFile.open(QIODevice::WriteOnly);
            metaFile.write(QJsonDocument(meta).toJson());
        }
        response.set_content(QJsonDocument(QJsonObject{{"meeting", QJsonObject{{"id", id}}}})
                                 .toJson(QJsonDocument::Compact)
                                 .toStdString(),
                             "application/json");
    });
    server.Get(R"(/m/([0-9a-f]+))", [&](const httplib::Request& request, httplib::Response& response) {
        const QString id = QString::fromStdString(request.matches[1]);
        QFile metaFile(data.filePath(id + "/meta.json"));
        if (!metaFile.open(QIODevice::ReadOnly)) {
            response.status = 404;
            return;
        }
        const QJsonObject meta = QJsonDocument::fromJson(metaFile.readAll()).object();
        const QString page =
            QStringLiteral(
                "<!doctype html><html lang=\"ru\"><meta charset=\"utf-8\"><title>%1</title>"
                "<body><h1>%1</h1><p>%2 · %3</p><audio controls src=\"/m/%4/audio\"></audio></body></html>")
                .arg(html(meta["title"].toString()), html(meta["date"].toString()), html(meta["name"].toString()),
                     id);
        response.set_content(page.toStdString(), "text/html; charset=utf-8");
    });
    server.Get(R"(/m/([0-9a-f]+)/audio)", [&](const httplib::Request& request, httplib::Response& response) {
        QFile audio(data.filePath(QString::fromStdString(request.matches[1]) + "/recording.m4a"));
        if (!audio.open(QIODevice::ReadOnly)) {
            response.status = 404;
            return;
        }
        response.set_content(audio.readAll().toStdString(), "audio/mp4");
    });

    int port = parser.value("port").toInt();
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port <= 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("listening on http://127.0.0.1:%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
