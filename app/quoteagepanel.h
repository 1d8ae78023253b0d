#pragma once

#include "quotes/quoteage.h"

#include <QLabel>

// The permanent panel at the right of the status bar: "n von m Kursen veraltet" while any of the last
// refresh's quotes is stale or missing, hidden otherwise.
class QuoteAgePanel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    void showAges(const QuoteAges &ages);

    // The panel's text for `ages`; empty when none is stale.
    static QString textFor(const QuoteAges &ages);
};
