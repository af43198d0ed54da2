// Whatever the settings and the title hold, the request either is refused or goes to the
// server's own /api/transcribe with no line break in any header.
#include "UploadRequest.h"
#include "VelmorError.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Three fields, separated by NUL bytes: server address, key, title.
    const QList<QByteArray> fields = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    if (fields.size() < 3) {
        return 0;
    }
    const QString server = QString::fromUtf8(fields[0]);
    try {
        const Http::UploadRequest request =
            makeUploadRequest(QStringLiteral("/dev/null"), server, QString::fromUtf8(fields[1]),
                              uploadLabels(QDateTime::currentDateTime(), QString::fromUtf8(fields[2])), 600);
        const QUrl sent = QUrl::fromEncoded(request.url);
        if (!sent.path().endsWith(QStringLiteral("/api/transcribe")) || sent.hasFragment() ||
            request.url.contains('\n') || request.url.contains('\r')) {
            __builtin_trap();
        }
        for (const auto& [name, value] : request.headers) {
            if (value.contains('\n') || value.contains('\r')) {
                __builtin_trap();
            }
        }
    } catch (const VelmorError&) {
    }
    return 0;
}
