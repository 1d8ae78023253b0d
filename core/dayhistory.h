#pragma once

#include "core/clock.h"
#include "core/indexpublication.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>
#include <array>
#include <optional>

// One moment of the day's history: its time and the value of each series that got a point then.
struct DayHistoryRow
{
    QDateTime time;
    // Indexed by HistorySeries; empty for a series without a point at this moment.
    std::array<std::optional<double>, 4> values;

    bool operator==(const DayHistoryRow &) const = default;
};

// What a day's history file reads back as.
struct DayHistoryRead
{
    QList<DayHistoryRow> rows;
    int damagedLines = 0; // skipped
};

// The day's history of one index, kept in a file per day so that a restart finds the day's points again:
// "<folder><INDEX>-<yyyy-MM-dd>.csv", header "Zeit;Index;Bid;Ask;Mittel", one line per moment at which
// the calculation added points, local time ISO 8601 to the second, decimal comma, an empty field for a
// series without a point.
//
// The file is only ever appended to, one whole line per write, so a crash loses at most the line being
// written. Such a torn last line is cut off before the next append, so that it never runs into the next.
// A file that cannot be written costs the history on disk, never the points in the window: one warning
// on standard error, then the history goes on without the file.
class DayHistory
{
public:
    static constexpr char header[] = "Zeit;Index;Bid;Ask;Mittel";

    // The line of `row`, with its line end.
    static QByteArray formatLine(const DayHistoryRow &row);
    // The row of one line given without its line end; none when the line is damaged (not five fields, a
    // time that is no local ISO 8601 date-time to the second, a value that is no number, no value at all).
    static std::optional<DayHistoryRow> parseLine(QByteArrayView line);
    // The rows of a whole file: the header skipped, every damaged line skipped and counted, a last line
    // without line end (torn by a crash) counted as damaged as well.
    static DayHistoryRead parse(QByteArrayView contents);
    // The file of `indexName` for `day`: "<INDEX>-<yyyy-MM-dd>.csv".
    static QString fileName(const QString &indexName, QDate day);

    explicit DayHistory(const Clock &clock) : m_clock(clock) {}

    // Starts the history of `indexName` (the caption, "DAX") in `folder` (ending in "/") for the clock's
    // day, and returns what that day's file holds. A missing file reads as empty; damaged lines are
    // skipped with one warning. Files of other days are left alone.
    DayHistoryRead start(const QString &folder, const QString &indexName);

    // Ends the history: the moment begun is written, and points that follow are kept nowhere until the
    // next start().
    void stop();

    // True, once, when the clock has moved into another day than the history's: the points so far stay in
    // the earlier day's file, and the history goes on in the new day's, from nothing.
    bool followDay();

    // A point of `series` at the clock's time; returns the moment it belongs to. "Index" begins a new
    // moment, the other series join it (a series that already has a value there begins one as well).
    QDateTime addPoint(HistorySeries series, double value);

    // Appends the moment's line to the day's file, when there is one to write.
    void flush();

    QDate day() const { return m_day; }
    // Today's file; empty before start().
    QString path() const;

private:
    bool openFile();

    const Clock &m_clock;
    QString m_folder;
    QString m_indexName;
    QDate m_day;
    std::optional<DayHistoryRow> m_pending;
    QFile m_file;
    bool m_failed = false;
};
