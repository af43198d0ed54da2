#include "Clock.h"

#include <QElapsedTimer>

namespace Dispatch {

namespace {
Clock* installed = nullptr;
} // namespace

Clock& Clock::current() {
    static Clock system;
    return installed ? *installed : system;
}

Clock::Clock() = default;

Clock::~Clock() {
    if (installed == this) {
        installed = nullptr;
    }
}

void Clock::install() {
    installed = this;
}

QDateTime Clock::now() const {
    return QDateTime::currentDateTimeUtc();
}

qint64 Clock::monotonicMs() const {
    static QElapsedTimer sinceStart = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return sinceStart.elapsed();
}

} // namespace Dispatch
