#include "DateStamps.h"

DateStamp::DateStamp(QLocale locale, QString pattern, Zone zone)
    : locale_(std::move(locale)), pattern_(std::move(pattern)), zone_(zone) {}

QString DateStamp::string(const QDateTime& date) const {
    return locale_.toString(zone_ == Zone::Utc ? date.toUTC() : date.toLocalTime(), pattern_);
}

const DateStamp& dateOnly() {
    static const DateStamp stamp(QLocale::c(), QStringLiteral("yyyy-MM-dd"), DateStamp::Zone::Utc);
    return stamp;
}

const DateStamp& fileStamp() {
    static const DateStamp stamp(QLocale::system(), QStringLiteral("yyyy-MM-dd HH-mm"), DateStamp::Zone::Local);
    return stamp;
}

const DateStamp& humanStamp() {
    static const DateStamp stamp(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("d MMMM, HH:mm"),
                                 DateStamp::Zone::Local);
    return stamp;
}
