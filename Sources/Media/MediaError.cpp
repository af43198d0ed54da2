#include "MediaError.h"

extern "C" {
#include <libavutil/error.h>
}

namespace Media {

namespace {

QString describe(MediaError::Kind kind) {
    switch (kind) {
    case MediaError::Kind::CannotOpen:
        return QStringLiteral("Не удалось открыть аудиофайл");
    case MediaError::Kind::CannotRead:
        return QStringLiteral("Не удалось прочитать аудиофайл");
    case MediaError::Kind::CannotWrite:
        return QStringLiteral("Не удалось записать аудиофайл");
    case MediaError::Kind::CannotEncode:
        return QStringLiteral("Не удалось сжать звук");
    case MediaError::Kind::Cancelled:
        return QStringLiteral("Операция отменена");
    case MediaError::Kind::Unsupported:
        return QStringLiteral("Формат звука не поддерживается");
    }
    return QStringLiteral("Ошибка обработки звука");
}

QString withReason(MediaError::Kind kind, const QString& reason) {
    return reason.isEmpty() ? describe(kind)
                            : describe(kind) + QStringLiteral(" (") + reason + QStringLiteral(")");
}

} // namespace

MediaError::MediaError(Kind kind, const QString& reason)
    : std::runtime_error(withReason(kind, reason).toStdString()), kind_(kind) {}

MediaError MediaError::fromAv(Kind kind, int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return MediaError(kind, QString::fromUtf8(text));
}

} // namespace Media
