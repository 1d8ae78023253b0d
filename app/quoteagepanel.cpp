#include "app/quoteagepanel.h"

#include <algorithm>

void QuoteAgePanel::showAges(const QuoteAges &ages)
{
    const QString text = textFor(ages);
    setText(text);
    setVisible(!text.isEmpty());
}

QString QuoteAgePanel::textFor(const QuoteAges &ages)
{
    const auto stale =
        std::count_if(ages.cbegin(), ages.cend(), [](const QuoteAge &age) { return age.stale; });
    if (stale == 0)
        return {};
    return QStringLiteral("%1 von %2 Kursen veraltet").arg(stale).arg(ages.size());
}
