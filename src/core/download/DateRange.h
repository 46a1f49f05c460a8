// A range of post days, as the services show their posts: days of China
// Standard Time (UTC+8), whatever the machine's zone, both ends included.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cstdint>

namespace tamblin {

// The zone the services show their times in: China Standard Time, UTC+8.
inline QTimeZone ChinaStandardTime()
{
    return QTimeZone(8 * 3600);
}

// Seconds since 1970 of `text`, a time in China Standard Time written in
// `format`; 0 when it is not one.
inline std::int64_t ChinaTimeFromText(const QString &text, const QString &format)
{
    const QDateTime local = QDateTime::fromString(text, format);
    return local.isValid() ? QDateTime(local.date(), local.time(), ChinaStandardTime()).toSecsSinceEpoch() : 0;
}

struct DateRange {
    QDate since; // null: open
    QDate until; // null: open

    bool IsSet() const { return since.isValid() || until.isValid(); }

    // The China Standard Time day of `postTime` (seconds since 1970).
    static QDate DayOf(std::int64_t postTime)
    {
        return QDateTime::fromSecsSinceEpoch(postTime, ChinaStandardTime()).date();
    }

    // A day written YYYY-MM-DD (as the command line and the extension
    // settings take it); an invalid date for any other text.
    static QDate ParseDay(const QString &text)
    {
        const QString day = text.trimmed();
        return day.size() == 10 ? QDate::fromString(day, Qt::ISODate) : QDate();
    }

    // Whether a picture posted at `postTime` (known, above 0) is in range.
    bool Contains(std::int64_t postTime) const
    {
        const QDate day = DayOf(postTime);
        return (!since.isValid() || day >= since) && (!until.isValid() || day <= until);
    }
};

} // namespace tamblin
