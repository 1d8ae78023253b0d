#include "quotes/quoteage.h"

bool isStale(const QDateTime &time, const QDateTime &now, int kursalterMinutes)
{
    if (!time.isValid())
        return true;
    if (kursalterMinutes <= 0)
        return false;
    return time.msecsTo(now) > qint64(kursalterMinutes) * 60 * 1000;
}

QuoteAge quoteAgeOf(const QDateTime &time, const QDateTime &now, int kursalterMinutes)
{
    return QuoteAge{time, isStale(time, now, kursalterMinutes)};
}

QuoteAges rejudged(const QuoteAges &ages, const QDateTime &now, int kursalterMinutes)
{
    QuoteAges judged = ages;
    for (QuoteAge &age : judged)
        age.stale = age.timeUnreadable || isStale(age.time, now, kursalterMinutes);
    return judged;
}

QuoteAges quoteAgesOf(const QList<QDateTime> &times, const QDateTime &now, int kursalterMinutes)
{
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const qint64 limit = qint64(kursalterMinutes) * 60 * 1000;
    // The start of the last hour looked up, as a moment; a local time's date and time cost no look-up.
    QDate hourDate;
    int hour = -1;
    qint64 hourStart = 0;
    QuoteAges ages;
    ages.reserve(times.size());
    for (const QDateTime &time : times) {
        if (!time.isValid() || kursalterMinutes <= 0) {
            ages.append(QuoteAge{time, !time.isValid()});
            continue;
        }
        qint64 ms = 0;
        if (time.timeSpec() == Qt::LocalTime) {
            const QDate date = time.date();
            const QTime clock = time.time();
            if (date != hourDate || clock.hour() != hour) {
                hourDate = date;
                hour = clock.hour();
                hourStart = QDateTime(date, QTime(hour, 0)).toMSecsSinceEpoch();
            }
            ms = hourStart + clock.msecsSinceStartOfDay() - hour * 3600000LL;
        } else {
            ms = time.toMSecsSinceEpoch();
        }
        ages.append(QuoteAge{time, nowMs - ms > limit});
    }
    return ages;
}
