// The time that the app's rules read ("at most once a second", "five reports a second", the
// elapsed time of a recording). The app reads the system's; a test installs a clock of its own
// and moves it, so that a rule is tested by moving time rather than by sleeping.
#pragma once

#include <QDateTime>
#include <QObject>

namespace Dispatch {

class Clock : public QObject {
    Q_OBJECT

public:
    // The one the app reads: the system's unless another was installed.
    static Clock& current();

    Clock();
    // An installed clock gives way to the system's when it goes.
    ~Clock() override;

    // Wall-clock time, UTC.
    virtual QDateTime now() const;
    // Milliseconds on a clock that never goes back, for intervals.
    virtual qint64 monotonicMs() const;

signals:
    // Time jumped (a test moved it): rules waiting on a timer look again now.
    void moved();

protected:
    // Makes this the clock the app reads.
    void install();
};

} // namespace Dispatch
