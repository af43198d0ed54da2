// The three date stamps the upload puts into its request. Each formatter is created once, on first
// use (C++ guarantees a single creation even when two threads arrive together), and never changed.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

class DateStamp {
public:
    enum class Zone { Utc, Local };
    DateStamp(QLocale locale, QString pattern, Zone zone);

    QString string(const QDateTime& date) const;

private:
    QLocale locale_;
    QString pattern_;
    Zone zone_;
};

// 2026-12-05: the calendar date in UTC.
const DateStamp& dateOnly();
// 2026-12-05 21-25: local time, the user's locale; no colon, so it is safe in file names.
const DateStamp& fileStamp();
// 5 декабря, 21:25: local time, Russian, genitive month name.
const DateStamp& humanStamp();
