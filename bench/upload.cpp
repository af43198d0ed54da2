// velmor-bench-upload: the upload's benchmark helper.
//   serve             a server on 127.0.0.1 that reads and discards every POST body; prints its port
//   send URL FILE     the app's HTTP layer posting FILE to URL; prints the status
#include "HttpClient.h"

#include <QCoreApplication>
#include <cstdio>
#include <httplib.h>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    if (args.size() == 1 && args[0] == QLatin1String("serve")) {
        httplib::Server server;
        server.Post("/api/transcribe", [](const httplib::Request&, httplib::Response& response,
                                          const httplib::ContentReader& read) {
            std::size_t total = 0;
            read([&](const char*, std::size_t length) {
                total += length;
                return true;
            });
            response.set_content("{\"meeting\":{\"id\":\"" + std::to_string(total) + "\"}}", "application/json");
        });
        const int port = server.bind_to_any_port("127.0.0.1");
        std::printf("%d\n", port);
        std::fflush(stdout);
        return server.listen_after_bind() ? 0 : 1;
    }
    if (args.size() == 3 && args[0] == QLatin1String("send")) {
        const Http::CurlSession curl;
        Http::UploadRequest request;
        request.url = args[1].toUtf8();
        request.headers = {{"Content-Type", "audio/mp4"}, {"X-Api-Key", "bench"}};
        request.bodyFile = args[2];
        try {
            const Http::Response response = Http::uploadBlocking(request);
            std::printf("%d %s\n", response.statusCode, response.body.constData());
            return 0;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
    }
    std::fprintf(stderr, "usage: serve | send URL FILE\n");
    return 2;
}
