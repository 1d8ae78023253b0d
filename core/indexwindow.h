#pragma once

#include "core/indexdirection.h"

#include <QString>

class IndexTable;

// What the index logic reads and writes of the main window. The window implements it with its
// widgets; tests implement it with a plain struct.
class IndexWindow
{
public:
    virtual ~IndexWindow() = default;

    virtual IndexTable &table() = 0;

    // Texts of "Referenzkurs" and "NV Index". Setting one runs its change handler.
    virtual QString referenzkursText() const = 0;
    virtual void setReferenzkursText(const QString &text) = 0;
    virtual QString indexFirmaText() const = 0;
    virtual void setIndexFirmaText(const QString &text) = 0;

    // "Werte-Anzahl:".
    virtual void setComponentCount(int count) = 0;

    // The value label.
    virtual QString valueText() const = 0;
    virtual void setValueText(const QString &text) = 0;
    // The label's colour: green when the index rose, red when it fell, the button face when unchanged.
    virtual void setValueDirection(IndexDirection direction) = 0;

    // A modal message box with a single OK button.
    virtual void showMessage(const QString &text) = 0;
};
