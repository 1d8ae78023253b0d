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
