// The upload against a scripted HTTP server on 127.0.0.1 that answers, or misbehaves, as each case needs.
#include "HttpError.h"
#include "TestSupport.h"
#include "UploadRequest.h"

#include <QTemporaryDir>
#include <QTest>

using TestSupport::httpReply;
using Behaviour = TestSupport::HttpServer::Behaviour;

class UploadTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString file_;
    TestSupport::HttpServer server_;

    TestSupport::Settled<QUrl> send(const QString& server, const QString& key = QStringLiteral("vl_key"),
                                    const QString& title = QStringLiteral("Планёрка +1"), int timeout = 600,
                                    const QString& file = {}) {
        const UploadLabels labels = uploadLabels(QDateTime::currentDateTime(), title);
        return TestSupport::settle(sendRecording(file.isEmpty() ? file_ : file, server, key, labels, timeout));
    }

private slots:
    void initTestCase() {
        file_ = dir_.filePath("velmor.m4a");
        QByteArray bytes(3 * 1024 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            bytes[i] = char(i * 7 % 251);
        }
        QVERIFY(TestSupport::writeFile(file_, bytes));
    }

    void theRequestIsExactlyAsSpecified() {
        server_.replies = {httpReply(200, R"({"meeting":{"id":"abc123"},"other":1})")};
        const auto result = send(server_.address() + QStringLiteral("// "), QStringLiteral(" vl_key "));
        QCOMPARE(result.value, QUrl(server_.address() + QStringLiteral("/m/abc123")));
        const QByteArray head = server_.request.left(server_.request.indexOf("\r\n\r\n"));
        QVERIFY(head.startsWith("POST /api/transcribe?name="));
        const auto items = server_.query().queryItems(QUrl::FullyDecoded);
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[0].first, QStringLiteral("name"));
        QVERIFY(items[0].second.startsWith(QStringLiteral("Запись ")) &&
                items[0].second.endsWith(QStringLiteral(".m4a")));
        QCOMPARE(items[1], qMakePair(QStringLiteral("title"), QStringLiteral("Планёрка +1")));
        QVERIFY(head.left(head.indexOf("\r\n")).contains("%2B1")); // "+" is encoded, or it would arrive as a space
        QCOMPARE(items[2].first, QStringLiteral("date"));
        QCOMPARE(items[2].second, QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd")));
        QVERIFY(head.contains("\r\nContent-Type: audio/mp4"));
        QVERIFY(head.contains("\r\nX-Api-Key:  vl_key "));
        QFile file(file_);
        file.open(QIODevice::ReadOnly);
        QVERIFY(server_.body() == file.readAll());
    }

    void replies() {
        const struct {
            QByteArray reply;
            QString link; // or else the error
            QString error;
        } cases[] = {
            {httpReply(299, R"({"meeting":{"id":"7"}})"), "/m/7", {}},
            {httpReply(200, R"({"meeting":{"id":7}})"), "/m/", {}}, // a number is no id
            {httpReply(300, "{}"), {}, "Сервер ответил 300"},
            {httpReply(403, R"({"error":"Ключ отозван"})"), {}, "Ключ отозван"},
            {httpReply(400, R"({"error":""})"), {}, ""},
            {httpReply(502, "<html>bad</html>", "Content-Type: text/html\r\n"), {}, "Сервер ответил 502"},
            {httpReply(200, ""), {}, "Не удалось прочитать данные"},
            {httpReply(200, "\"id\""), {}, "Не удалось прочитать данные"},
        };
        for (const auto& expected : cases) {
            server_.replies = {expected.reply};
            const auto result = send(server_.address());
            if (!expected.link.isEmpty()) {
                QCOMPARE(result.value, QUrl(server_.address() + expected.link));
            } else if (expected.error.startsWith(QStringLiteral("Не удалось прочитать"))) {
                QVERIFY2(result.error && result.error->startsWith(expected.error), expected.reply.constData());
            } else {
                QCOMPARE(result.error, expected.error);
            }
        }
    }

    void failuresBeforeAnythingIsSent() {
        QCOMPARE(send(server_.address(), QString()).error,
                 QStringLiteral("Не задан ключ API — откройте настройки виджета"));
        server_.request.clear();
        const auto injected = send(server_.address(), QStringLiteral("key\r\nX-Admin: 1"));
        QCOMPARE(injected.error, QStringLiteral("Ключ API содержит недопустимые символы — скопируйте его заново"));
        QVERIFY(server_.request.isEmpty());
        QCOMPARE(send(QStringLiteral("velmor.example")).error,
                 QStringLiteral("Неподдерживаемый URL (адрес должен начинаться с http:// или https://)"));
        QCOMPARE(send(QStringLiteral("http://[::1")).error,
                 QStringLiteral("Адрес сервера указан неверно — проверьте настройки"));
        // Or the file and the key would go to "/" with the rest as a query or fragment.
        server_.replies = {httpReply()};
        for (const QString& suffix : {QStringLiteral("/?a=1"), QStringLiteral("#part")}) {
            QCOMPARE(send(server_.address() + suffix).error,
                     QStringLiteral("Адрес сервера указан неверно — проверьте настройки"));
        }
        QVERIFY(server_.request.isEmpty());
    }

    // Hostile or hasty: a reply too large, a reset after the body, a trickle that never ends, and
    // a refusal before the body was read, whose answer is kept.
    void hostileServersAreBounded() {
        server_.behaviour = Behaviour::answerEarly;
        server_.replies = {httpReply(401, R"({"error":"Неверный ключ API"})")};
        QCOMPARE(send(server_.address()).error, QStringLiteral("Неверный ключ API"));
        server_.behaviour = Behaviour::answer;
        server_.replies = {httpReply(200, QByteArray(2 * 1024 * 1024, '{'))};
        QCOMPARE(send(server_.address()).error, QStringLiteral("Ответ сервера слишком велик"));
        server_.behaviour = Behaviour::resetAfterBody;
        QCOMPARE(send(server_.address()).error, QStringLiteral("Сервер разорвал соединение, не ответив"));
        // Never idle, yet never done: the bound on the whole transfer ends it.
        const QString small = dir_.filePath("small.m4a");
        QVERIFY(TestSupport::writeFile(small, QByteArray(100, 'a')));
        server_.behaviour = Behaviour::trickle;
        const auto trickled = send(server_.address(), QStringLiteral("k"), QString(), 1, small);
        server_.behaviour = Behaviour::answer;
        QCOMPARE(trickled.error, QStringLiteral("Превышен лимит времени на запрос"));
    }

    void transferErrors() {
        QCOMPARE(send(QStringLiteral("http://127.0.0.1:1")).error,
                 QStringLiteral("Не удалось подключиться к серверу"));
        server_.behaviour = Behaviour::silent;
        const auto stalled = send(server_.address(), QStringLiteral("k"), QString(), 2);
        server_.behaviour = Behaviour::answer;
        QCOMPARE(stalled.error, QStringLiteral("Превышен лимит времени на запрос"));
        // A connection that is never made ends on its own bound, not the idle rule's.
        const TestSupport::Script unanswered(QStringLiteral("unanswered_connect.py"));
        Http::UploadRequest request;
        request.url = "http://127.0.0.1:" + unanswered.firstLine + "/api/transcribe";
        request.bodyFile = file_;
        request.connectTimeoutSeconds = 1;
        try {
            Http::uploadBlocking(request);
            QFAIL("connected");
        } catch (const Http::HttpError& error) {
            QCOMPARE(error.kind(), Http::HttpError::Kind::CannotConnect);
        }
    }
};

QTEST_GUILESS_MAIN(UploadTest)
#include "tst_upload.moc"
