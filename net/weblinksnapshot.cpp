#include "net/weblinksnapshot.h"

#include "core/clock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonValue number(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue time(const QDateTime &when)
{
    return when.isValid() ? QJsonValue(isoTimeWithOffset(when)) : QJsonValue(QJsonValue::Null);
}

QString directionName(IndexDirection direction)
{
    switch (direction) {
    case IndexDirection::Rising:
        return QStringLiteral("up");
    case IndexDirection::Falling:
        return QStringLiteral("down");
    case IndexDirection::Unchanged:
        break;
    }
    return QStringLiteral("unchanged");
}

} // namespace

int WebLinkSnapshot::staleCount() const
{
    int count = 0;
    for (const Component &component : components)
        count += component.stale ? 1 : 0;
    return count;
}

QByteArray webLinkJson(const WebLinkSnapshot &snapshot, bool withHistory)
{
    QJsonArray components;
    for (const WebLinkSnapshot::Component &component : snapshot.components) {
        components.append(QJsonObject{{QStringLiteral("name"), component.name},
                                      {QStringLiteral("wkn"), component.wkn},
                                      {QStringLiteral("price"), number(component.price)},
                                      {QStringLiteral("bid"), number(component.bid)},
                                      {QStringLiteral("ask"), number(component.ask)},
                                      {QStringLiteral("weight"), number(component.weight)},
                                      {QStringLiteral("quoteTime"), time(component.quoteTime)},
                                      {QStringLiteral("stale"), component.stale}});
    }
    QJsonObject object{{QStringLiteral("index"), snapshot.index},
                       {QStringLiteral("item"), snapshot.itemText},
                       {QStringLiteral("value"), number(snapshot.value)},
                       {QStringLiteral("time"), time(snapshot.calculated)},
                       {QStringLiteral("direction"), directionName(snapshot.direction)},
                       {QStringLiteral("staleCount"), snapshot.staleCount()},
                       {QStringLiteral("components"), components}};
    // The history's length and last point let a follower of the events extend its line without the whole.
    object.insert(QStringLiteral("historyLength"), snapshot.historyLength);
    object.insert(QStringLiteral("historyLast"),
                  snapshot.history.isEmpty()
                      ? QJsonValue(QJsonValue::Null)
                      : QJsonValue(QJsonArray{double(snapshot.history.last().time.toMSecsSinceEpoch()),
                                              snapshot.history.last().value}));
    if (withHistory) {
        QJsonArray history;
        for (const WebLinkSnapshot::HistoryPoint &point : snapshot.history)
            history.append(QJsonArray{double(point.time.toMSecsSinceEpoch()), point.value});
        object.insert(QStringLiteral("history"), history);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
