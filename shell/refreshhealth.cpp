#include "shell/refreshhealth.h"

#include "core/clock.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonValue timeOrNull(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(isoTimeWithOffset(time)) : QJsonValue(QJsonValue::Null);
}

} // namespace

void RefreshHealth::refreshSucceeded(qint64 milliseconds)
{
    ++m_successes;
    m_consecutiveFailures = 0;
    m_firstFailureInRow = QDateTime();
    m_lastSuccess = m_clock.now();
    m_lastDuration = milliseconds;
}

void RefreshHealth::refreshFailed(const QString &reason, qint64 milliseconds)
{
    ++m_failures;
    if (m_consecutiveFailures++ == 0)
        m_firstFailureInRow = m_clock.now();
    m_lastFailureReason = reason;
    m_lastDuration = milliseconds;
}

void RefreshHealth::setQuoteCounts(int stale, int missing)
{
    m_stale = stale;
    m_missing = missing;
}

void RefreshHealth::setAutomaticMode(bool on)
{
    if (on && !m_automatic)
        m_automaticSince = m_clock.now();
    m_automatic = on;
}

void RefreshHealth::setIndex(const QString &index)
{
    if (index == m_index)
        return;
    // The counts belong to the index they were taken for; the mode goes on as it was.
    m_index = index;
    m_successes = m_failures = m_consecutiveFailures = m_stale = m_missing = 0;
    m_lastSuccess = m_firstFailureInRow = QDateTime();
    m_lastFailureReason = QString();
    m_lastDuration = 0;
    // The silence of the new index counts from now, not from a switch-on long before it was chosen.
    m_automaticSince = m_clock.now();
}

QDateTime RefreshHealth::silenceStart() const
{
    if (!m_lastSuccess.isValid() || m_automaticSince > m_lastSuccess)
        return m_automaticSince;
    return m_lastSuccess;
}

RefreshHealth::Status RefreshHealth::status() const
{
    if (m_consecutiveFailures >= failingAfter)
        return Status::Failing;
    if (m_automatic && silenceStart().msecsTo(m_clock.now()) >= silenceLimit)
        return Status::Failing;
    if (m_stale > 0)
        return Status::Stale;
    return Status::Ok;
}

QDateTime RefreshHealth::failingSince() const
{
    if (status() != Status::Failing)
        return {};
    if (m_consecutiveFailures > 0)
        return m_firstFailureInRow;
    return silenceStart();
}

QString RefreshHealth::statusName(Status status)
{
    switch (status) {
    case Status::Stale:
        return QStringLiteral("stale");
    case Status::Failing:
        return QStringLiteral("failing");
    case Status::Ok:
        break;
    }
    return QStringLiteral("ok");
}

QByteArray RefreshHealth::json() const
{
    const QJsonObject object{{QStringLiteral("index"), m_index},
                             {QStringLiteral("status"), statusName(status())},
                             {QStringLiteral("lastSuccess"), timeOrNull(m_lastSuccess)},
                             {QStringLiteral("lastFailureReason"), m_lastFailureReason.isNull()
                                                                       ? QJsonValue(QJsonValue::Null)
                                                                       : QJsonValue(m_lastFailureReason)},
                             {QStringLiteral("consecutiveFailures"), m_consecutiveFailures},
                             {QStringLiteral("staleCount"), m_stale},
                             {QStringLiteral("missingCount"), m_missing},
                             {QStringLiteral("failingSince"), timeOrNull(failingSince())}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
