#pragma once

#include "core/indexdirection.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// What the web link shows of the index at one moment: the live item and the state of the window behind it.
struct WebLinkSnapshot
{
    struct Component
    {
        QString name;
        QString wkn;
        std::optional<double> price; // "Kurswert"
        std::optional<double> bid;
        std::optional<double> ask;
        std::optional<double> weight; // percent
        QDateTime quoteTime;          // invalid: not known (null)
        bool stale = false;
    };
    struct HistoryPoint
    {
        QDateTime time;
        double value = 0;
    };

    QString index;               // the topic: the window caption ("DAX")
    QString itemText;            // the live item "Kurs" exactly
    std::optional<double> value; // the item text as a number; none after a poke that is no number
    QDateTime calculated;        // the last calculation that set the item; invalid before the first
    IndexDirection direction = IndexDirection::Unchanged; // of the latest calculation
    QList<Component> components;
    QList<HistoryPoint> history; // the day's "Index" series, or only its end
    int historyLength = 0;       // the points of the whole series

    int staleCount() const;
};

// The snapshot as a JSON object (UTF-8, compact): "index", "item", "value", "time", "direction" ("up",
// "down", "unchanged"), "staleCount", "components" [{"name", "wkn", "price", "bid", "ask", "weight",
// "quoteTime", "stale"}], "historyLength",
// "historyLast" ([epoch milliseconds, value] or null), and "history" [[epoch milliseconds, value], ...] when
// `withHistory`. Unknown numbers and times are null; times are ISO 8601 with their UTC offset.
QByteArray webLinkJson(const WebLinkSnapshot &snapshot, bool withHistory);
