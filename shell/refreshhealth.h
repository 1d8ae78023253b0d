#pragma once

#include "core/clock.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// How well the price refresh keeps the index current, as the web link reports it to a watcher.
//
// Status: "failing" after failingAfter or more refreshes failed in a row, or when no refresh succeeded for
// silenceLimit while the automatic mode is on (counted from the later of the last success and the
// switch-on); else "stale" while a component's quote is stale (a missing quote counts as stale); else
// "ok". Times are read from the injected clock, so that a test can move them.
class RefreshHealth
{
public:
    enum class Status { Ok, Stale, Failing };

    static constexpr int failingAfter = 3;
    static constexpr qint64 silenceLimit = 10 * 60 * 1000; // ms

    explicit RefreshHealth(const Clock &clock) : m_clock(clock) {}

    // A refresh ended, having taken `milliseconds`; a failed one with its reason (the status text).
    void refreshSucceeded(qint64 milliseconds);
    void refreshFailed(const QString &reason, qint64 milliseconds);
    // The quote ages after a refresh, or after they were judged again: stale ones (missing included), and
    // the missing ones among them.
    void setQuoteCounts(int stale, int missing);
    void setAutomaticMode(bool on);
    // The index whose refreshes are counted (the window caption): another one starts every count afresh;
    // the same one again (a reload) keeps them.
    void setIndex(const QString &index);

    Status status() const;
    static QString statusName(Status status);

    QString index() const { return m_index; }
    int successes() const { return m_successes; }
    int failures() const { return m_failures; }
    int consecutiveFailures() const { return m_consecutiveFailures; }
    int staleCount() const { return m_stale; }
    int missingCount() const { return m_missing; }
    QDateTime lastSuccess() const { return m_lastSuccess; } // invalid: none yet
    QString lastFailureReason() const { return m_lastFailureReason; }
    qint64 lastDuration() const { return m_lastDuration; } // ms; 0 before the first refresh
    // When the present trouble began: the first of the failures in a row, else the later of the last
    // success and the switch-on. Invalid while the status is not "failing".
    QDateTime failingSince() const;

    // The JSON of GET /health (UTF-8, compact): "index", "status", "lastSuccess" (ISO 8601 with its UTC
    // offset, or null), "lastFailureReason" (null when none), "consecutiveFailures", "staleCount",
    // "missingCount", "failingSince" (or null).
    QByteArray json() const;

private:
    QDateTime silenceStart() const;

    const Clock &m_clock;
    QString m_index;
    int m_successes = 0;
    int m_failures = 0;
    int m_consecutiveFailures = 0;
    int m_stale = 0;
    int m_missing = 0;
    QDateTime m_lastSuccess;
    QDateTime m_firstFailureInRow;
    QString m_lastFailureReason;
    qint64 m_lastDuration = 0;
    bool m_automatic = false;
    QDateTime m_automaticSince;
};
