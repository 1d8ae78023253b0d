#pragma once

#include "net/weblinksnapshot.h"
#include "quotes/quoteage.h"

#include <QDateTime>
#include <QObject>
#include <functional>

class Clock;
class HistoryChart;
class IndexCalculation;
class IndexTable;
class LiveLink;
class RefreshHealth;
class WebLinkServer;

// The web link: serves the live item "Kurs" over HTTP on 127.0.0.1, as the D-Bus link serves it, with a
// JSON view of the window, an event stream, the dashboard page, and the refresh's health and metrics.
//
// It follows the live item: the same text and topic (the window caption), and an event every time the item
// is set, by a calculation or a poke, even when the text did not change. The event goes out once the
// calculation has run to its end, so that it carries the weights and the history point of the same run.
class WebLink : public QObject
{
    Q_OBJECT

public:
    // The window's parts that the link reads; they outlive the link.
    WebLink(LiveLink *item, const IndexTable *table, const HistoryChart *history,
            const IndexCalculation *calculation, const Clock &clock, const RefreshHealth *health,
            QObject *parent = nullptr);
    ~WebLink() override;

    // Serves on 127.0.0.1:port; false when the port is 0 or cannot be had (another instance holds it): the
    // program runs without the web link then, and says nothing.
    bool start(quint16 port);
    void stop();

    // Where the day's history file is, asked at every request for it.
    void setHistoryFile(std::function<QString()> path) { m_historyFile = std::move(path); }

    // The quote ages of the last price refresh, one per component row.
    void setQuoteAges(const QuoteAges &ages) { m_quoteAges = ages; }

    WebLinkSnapshot snapshot(bool withHistory) const;
    WebLinkServer *server() const { return m_server; }

    // The dashboard page.
    static QByteArray dashboardPage();
    // The day's history file as it is now; the header alone before the day's first point.
    QByteArray historyFile() const;

private:
    void itemSet(bool poked);
    void sendPendingEvents();

    LiveLink *m_item;
    const IndexTable *m_table;
    const HistoryChart *m_history;
    const IndexCalculation *m_calculation;
    const Clock &m_clock;
    const RefreshHealth *m_health;
    WebLinkServer *m_server = nullptr;
    std::function<QString()> m_historyFile;
    QuoteAges m_quoteAges;
    QDateTime m_calculated;
    int m_pendingEvents = 0;
};
