#include "ErrorDescription.h"

#include "VelmorError.h"

QString errorDescription(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const VelmorError& velmorError) {
        return velmorError.errorDescription();
    } catch (const std::exception& platformError) {
        // Every layer's error carries its user-facing description as what().
        return QString::fromUtf8(platformError.what());
    } catch (...) {
        return QStringLiteral("Неизвестная ошибка");
    }
}
