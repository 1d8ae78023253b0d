#pragma once

#include <QDateTime>

// The program's one clock. Every time the program records (history points, index records, quote
// arrival, the web link's times, the day a history file belongs to) is read from a Clock, so that a test
// can set the time and all of them agree with each other.
class Clock
{
public:
    virtual ~Clock() = default;

    // The current local date and time.
    virtual QDateTime now() const = 0;

    // The system's clock, shared by the whole program.
    static const Clock &system();
};

// A recorded time as the program hands it to others (the web link's JSON, the health): ISO 8601 with
// milliseconds and the local offset from UTC, "2026-12-09T10:15:05.250+01:00". Invalid: an empty text.
QString isoTimeWithOffset(const QDateTime &time);

// A clock that stands still until a test moves it.
class ManualClock : public Clock
{
public:
    explicit ManualClock(QDateTime time) : m_time(std::move(time)) {}

    QDateTime now() const override { return m_time; }
    void set(const QDateTime &time) { m_time = time; }
    void advance(qint64 milliseconds) { m_time = m_time.addMSecs(milliseconds); }

private:
    QDateTime m_time;
};
