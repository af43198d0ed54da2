// A clock that stands still until the test moves it; installed for as long as it lives.
#pragma once

#include "Clock.h"

class MockClock : public Dispatch::Clock {
public:
    MockClock() : now_(QDateTime::currentDateTimeUtc()) { install(); }

    QDateTime now() const override { return now_.addMSecs(ms_); }
    qint64 monotonicMs() const override { return ms_; }

    void advance(qint64 ms) {
        ms_ += ms;
        emit moved();
    }

private:
    QDateTime now_;
    qint64 ms_ = 1'000'000;
};
