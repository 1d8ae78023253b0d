#include "app/weblink.h"

#include "app/historychart.h"
#include "app/livelink.h"
#include "core/clock.h"
#include "core/dayhistory.h"
#include "core/indexcalculation.h"
#include "core/indextable.h"
#include "core/numbertext.h"
#include "net/weblinkserver.h"
#include "shell/metricstext.h"
#include "shell/refreshhealth.h"

#include <QFile>
#include <QLocale>
#include <QTimer>

namespace {

std::optional<double> numberOf(const QString &text)
{
    const std::optional<long double> value =
        NumberText::tryParseFloat(text, QLocale::system().decimalPoint().at(0));
    if (!value)
        return std::nullopt;
    return double(*value);
}

} // namespace

WebLink::WebLink(LiveLink *item, const IndexTable *table, const HistoryChart *history,
                 const IndexCalculation *calculation, const Clock &clock, const RefreshHealth *health,
                 QObject *parent)
    : QObject(parent), m_item(item), m_table(table), m_history(history), m_calculation(calculation),
      m_clock(clock), m_health(health)
{
    connect(m_item, &LiveLink::itemSet, this, [this](const QString &, bool poked) { itemSet(poked); });
}

WebLink::~WebLink() = default;

bool WebLink::start(quint16 port)
{
    // A reload with the same port keeps the server and its clients.
    if (m_server && m_server->isListening() && m_server->port() == port)
        return true;
    stop();
    if (port == 0)
        return false;
    WebLinkServer::Content content;
    content.topic = [this] { return m_item->topic(); };
    content.item = [this] { return m_item->itemText().toUtf8(); };
    content.json = [this] { return webLinkJson(snapshot(true), true); };
    content.dashboard = [this] {
        return dashboardPage().replace("@TOPIC@", m_item->topic().toHtmlEscaped().toUtf8());
    };
    content.health = [this] {
        const int status = m_health->status() == RefreshHealth::Status::Failing ? 503 : 200;
        return qMakePair(status, m_health->json());
    };
    content.metrics = [this] { return metricsText(*m_health, numberOf(m_item->itemText())); };
    content.history = [this] { return historyFile(); };
    m_server = new WebLinkServer(std::move(content), this);
    if (!m_server->listen(port)) {
        stop();
        return false;
    }
    return true;
}

void WebLink::stop()
{
    delete m_server;
    m_server = nullptr;
}

void WebLink::itemSet(bool poked)
{
    if (!poked)
        m_calculated = m_clock.now();
    // A refresh costs no JSON while nobody follows the events; a request builds its own.
    if (!m_server || m_server->eventStreamCount() == 0)
        return;
    // The item is set in the middle of a calculation; its weights and history point follow. The events
    // go out when it has ended, one per setting of the item.
    if (m_pendingEvents++ == 0)
        QTimer::singleShot(0, this, &WebLink::sendPendingEvents);
}

void WebLink::sendPendingEvents()
{
    const int count = std::exchange(m_pendingEvents, 0);
    if (!m_server || count == 0)
        return;
    const QByteArray data = webLinkJson(snapshot(false), false);
    for (int i = 0; i < count; ++i)
        m_server->sendEvent(data);
}

WebLinkSnapshot WebLink::snapshot(bool withHistory) const
{
    WebLinkSnapshot snapshot;
    snapshot.index = m_item->topic();
    snapshot.itemText = m_item->itemText();
    snapshot.value = numberOf(snapshot.itemText);
    snapshot.calculated = m_calculated;
    snapshot.direction = m_calculation->direction;

    const bool quotes = m_table->columns() > IndexTable::BID;
    for (int row = 1; row < m_table->rows(); ++row) {
        WebLinkSnapshot::Component component;
        component.name = m_table->cell(IndexTable::Name, row);
        component.wkn = m_table->cell(IndexTable::WKN, row);
        component.price = numberOf(m_table->cell(IndexTable::Kurswert, row));
        component.weight = numberOf(m_table->cell(IndexTable::Wichtung, row));
        if (quotes) {
            component.bid = numberOf(m_table->cell(IndexTable::BID, row));
            component.ask = numberOf(m_table->cell(IndexTable::ASK, row));
        }
        if (row - 1 < m_quoteAges.size()) {
            component.quoteTime = m_quoteAges.at(row - 1).time;
            component.stale = m_quoteAges.at(row - 1).stale;
        }
        snapshot.components.append(component);
    }

    // Only the last point unless the whole line is asked for: a trading day holds thousands.
    const int points = m_history->pointCount(HistorySeries::Index);
    snapshot.historyLength = points;
    for (int i = withHistory ? 0 : std::max(0, points - 1); i < points; ++i) {
        const QPointF point = m_history->point(HistorySeries::Index, i);
        // In UTC: the same moment, without a time zone look-up for each of a day's points.
        snapshot.history.append({QDateTime::fromMSecsSinceEpoch(qint64(point.x()), Qt::UTC), point.y()});
    }
    return snapshot;
}

QByteArray WebLink::historyFile() const
{
    QFile file(m_historyFile ? m_historyFile() : QString());
    // No point yet today: the file is not there, the day is empty.
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return QByteArray(DayHistory::header) + '\n';
    return file.readAll();
}

QByteArray WebLink::dashboardPage()
{
    static const QByteArray page = [] {
        QFile file(QStringLiteral(":/weblink/dashboard.html"));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    return page;
}
