#include "CaptureError.h"

#include <pulse/def.h>

namespace Capture {

namespace {

QString describe(CaptureError::Kind kind) {
    switch (kind) {
    case CaptureError::Kind::ConnectionRefused:
        return QStringLiteral("Не удалось подключиться к аудиосерверу");
    case CaptureError::Kind::ConnectionTerminated:
        return QStringLiteral("Соединение с аудиосервером прервано");
    case CaptureError::Kind::NoSuchDevice:
        return QStringLiteral("Устройство записи звука не найдено");
    case CaptureError::Kind::TimedOut:
        return QStringLiteral("Аудиосервер не отвечает");
    case CaptureError::Kind::AccessDenied:
        return QStringLiteral("Нет доступа к аудиосерверу");
    case CaptureError::Kind::Other:
        break;
    }
    return QStringLiteral("Ошибка захвата звука");
}

QString withReason(CaptureError::Kind kind, const QString& reason) {
    return reason.isEmpty() ? describe(kind)
                            : describe(kind) + QStringLiteral(" (") + reason + QStringLiteral(")");
}

} // namespace

CaptureError::CaptureError(Kind kind, const QString& reason)
    : std::runtime_error(withReason(kind, reason).toStdString()), kind_(kind) {}

CaptureError CaptureError::fromPulse(int pulseError) {
    Kind kind = Kind::Other;
    switch (pulseError) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_INVALIDSERVER:
        kind = Kind::ConnectionRefused;
        break;
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_KILLED:
        kind = Kind::ConnectionTerminated;
        break;
    case PA_ERR_NOENTITY:
        kind = Kind::NoSuchDevice;
        break;
    case PA_ERR_TIMEOUT:
        kind = Kind::TimedOut;
        break;
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY:
        kind = Kind::AccessDenied;
        break;
    default:
        break;
    }
    // The server's own text is English: the user sees it only where no description fits, as a code.
    return CaptureError(kind, kind == Kind::Other ? QStringLiteral("код %1").arg(pulseError) : QString());
}

} // namespace Capture
