#pragma once

#include <QDateTime>
#include <QList>

// The age of one component's quote, as the price refresh last saw it: the feed's time, else the arrival
// of the page; from Norvata the `Zeit` of the record used. The window draws stale quotes grey and italic
// and counts them in the status bar; the definition file, the XML file and the live link ignore it.
struct QuoteAge
{
    QDateTime time;              // invalid: the source had no quote for the component ("kein Kurs")
    bool stale = false;          // older than the setting "Kursalter", or no quote at all
    bool timeUnreadable = false; // a quote whose time could not be read ("Zeit unlesbar"): always stale

    bool operator==(const QuoteAge &) const = default;
};

// The quote ages of an index, one per component in row order (element 0 is row 1).
using QuoteAges = QList<QuoteAge>;

// Whether a quote of `time` counts as stale at `now`: no quote at all (an invalid time) always does;
// otherwise one older than `kursalterMinutes` minutes, unless that setting is 0 (never) or less.
// A time after `now` (a feed whose clock runs ahead) is fresh.
bool isStale(const QDateTime &time, const QDateTime &now, int kursalterMinutes);

// The quote age of a quote of `time` at `now`: `time` and isStale().
QuoteAge quoteAgeOf(const QDateTime &time, const QDateTime &now, int kursalterMinutes);

// The same ages judged again at `now`: quotes turn stale while no new ones come.
QuoteAges rejudged(const QuoteAges &ages, const QDateTime &now, int kursalterMinutes);

// The quote ages of all `times` at `now`, as quoteAgeOf() gives each. A local time's moment costs a look-up
// in the time zone; here it is made once per hour of the times, not once per quote, so that an index of
// 5,000 components costs little more than one of 40.
QuoteAges quoteAgesOf(const QList<QDateTime> &times, const QDateTime &now, int kursalterMinutes);
