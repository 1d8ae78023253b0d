#pragma once

#include "core/indexdirection.h"

class IndexDefinition;
class IndexPublication;
class IndexWindow;

// The calculation: the index value from the index table, sum of Kurswert x Fi, x 1000,
// / Referenzkurs, rounded to cents; the weights in column 4; and, with the columns "BID" and "ASK",
// the index on bid, ask and middle prices for the history. It hands its results to the publication
// at fixed points and reports a failure in one of three message boxes:
// "Fehler - in Kurs oder Wichtung", "Fehler - in Berechnung des Index", "Fehler - in Prozent der Wichtung".
class IndexCalculation
{
public:
    IndexCalculation(IndexWindow &window, IndexDefinition &definition, IndexPublication &publication);

    // Returns the direction of the value; Unchanged also when the calculation failed before the value.
    IndexDirection calculate();

    // Sum of the component products of the latest calculation: the divisor of the weights. It
    // survives from one calculation to the next.
    double Summe = 0;
    // The direction of the latest calculation that got as far as the value: what the label's colour shows.
    IndexDirection direction = IndexDirection::Unchanged;

private:
    IndexWindow &m_window;
    IndexDefinition &m_definition;
    IndexPublication &m_publication;
};
