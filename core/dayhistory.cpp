#include "core/dayhistory.h"

#include "core/numbertext.h"

#include <QDir>
#include <QTimeZone>
#include <cmath>
#include <cstdio>

namespace {

// The file's columns after the time, in HistorySeries order of the values they hold.
constexpr std::array<HistorySeries, 4> columns = {HistorySeries::Index, HistorySeries::IndexBid,
                                                  HistorySeries::IndexAsk, HistorySeries::IndexMittel};
constexpr QChar decimalComma = u',';

// The value of `count` decimal digits at `text`; -1 when one of them is no digit.
int digits(QByteArrayView text, qsizetype from, int count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Reading back a day means thousands of times of the same day. A local date-time costs a time zone
// look-up; the hour's start and its offset from UTC are looked up once, and each time is made from them.
class TimeReader
{
public:
    std::optional<QDateTime> read(QByteArrayView text)
    {
        // yyyy-MM-ddTHH:mm:ss
        if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
            text[16] != ':')
            return std::nullopt;
        const QDate date(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
        const int hour = digits(text, 11, 2);
        const int minute = digits(text, 14, 2);
        const int second = digits(text, 17, 2);
        if (!date.isValid() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
            second > 59)
            return std::nullopt;
        if (date != m_date || hour != m_hour) {
            const QDateTime start(date, QTime(hour, 0));
            // An hour skipped by a change to summer time does not exist locally.
            if (!start.isValid() || start.time().hour() != hour)
                return std::nullopt;
            m_date = date;
            m_hour = hour;
            m_hourStart = start.toMSecsSinceEpoch();
            m_offset = start.offsetFromUtc();
        }
        return QDateTime::fromMSecsSinceEpoch(m_hourStart + (minute * 60 + second) * 1000LL, Qt::OffsetFromUTC,
                                              m_offset);
    }

private:
    QDate m_date;
    int m_hour = -1;
    qint64 m_hourStart = 0;
    int m_offset = 0;
};

std::optional<DayHistoryRow> parseLineWith(QByteArrayView line, TimeReader &times)
{
    std::array<QByteArrayView, 5> fields;
    qsizetype position = 0;
    for (int i = 0; i < 5; ++i) {
        const qsizetype end = i < 4 ? line.indexOf(';', position) : line.size();
        if (end < 0)
            return std::nullopt;
        fields[i] = line.sliced(position, end - position);
        position = end + 1;
    }
    if (fields[4].contains(';'))
        return std::nullopt;

    DayHistoryRow row;
    const std::optional<QDateTime> time = times.read(fields[0]);
    if (!time)
        return std::nullopt;
    row.time = *time;
    bool anyValue = false;
    for (int i = 0; i < 4; ++i) {
        if (fields[i + 1].isEmpty())
            continue;
        const std::optional<long double> value =
            NumberText::tryParseFloat(QString::fromLatin1(fields[i + 1]), decimalComma);
        if (!value || !std::isfinite(double(*value)))
            return std::nullopt;
        row.values[int(columns[i])] = double(*value);
        anyValue = true;
    }
    if (!anyValue)
        return std::nullopt;
    return row;
}

} // namespace

QByteArray DayHistory::formatLine(const DayHistoryRow &row)
{
    QByteArray line = row.time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
    for (const HistorySeries series : columns) {
        line += ';';
        if (const std::optional<double> value = row.values[int(series)])
            line += NumberText::format(*value, decimalComma).toLatin1();
    }
    line += '\n';
    return line;
}

std::optional<DayHistoryRow> DayHistory::parseLine(QByteArrayView line)
{
    TimeReader times;
    return parseLineWith(line, times);
}

DayHistoryRead DayHistory::parse(QByteArrayView contents)
{
    DayHistoryRead read;
    read.rows.reserve(contents.size() / 32);
    TimeReader times;
    qsizetype position = 0;
    bool first = true;
    while (position < contents.size()) {
        const qsizetype end = contents.indexOf('\n', position);
        if (end < 0) {
            // The line being written when the program ended.
            ++read.damagedLines;
            break;
        }
        QByteArrayView line = contents.sliced(position, end - position);
        position = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (std::exchange(first, false) && line == QByteArrayView(header))
            continue;
        if (std::optional<DayHistoryRow> row = parseLineWith(line, times))
            read.rows.append(std::move(*row));
        else
            ++read.damagedLines;
    }
    return read;
}

QString DayHistory::fileName(const QString &indexName, QDate day)
{
    return indexName + u'-' + day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".csv");
}

QString DayHistory::path() const
{
    return m_folder.isEmpty() ? QString() : m_folder + fileName(m_indexName, m_day);
}

DayHistoryRead DayHistory::start(const QString &folder, const QString &indexName)
{
    flush();
    m_file.close();
    m_failed = false;
    m_folder = folder;
    m_indexName = indexName;
    m_day = m_clock.now().date();

    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const DayHistoryRead read = parse(file.readAll());
    if (read.damagedLines > 0) {
        std::fprintf(stderr, "%s\n",
                     qUtf8Printable(QStringLiteral("%1: %2 beschädigte Zeilen übersprungen")
                                        .arg(QDir::toNativeSeparators(path()))
                                        .arg(read.damagedLines)));
    }
    return read;
}

void DayHistory::stop()
{
    flush();
    m_file.close();
    m_folder.clear();
}

bool DayHistory::followDay()
{
    if (m_folder.isEmpty())
        return false;
    const QDate today = m_clock.now().date();
    if (today == m_day)
        return false;
    flush();
    m_file.close();
    m_failed = false;
    m_day = today;
    return true;
}

QDateTime DayHistory::addPoint(HistorySeries series, double value)
{
    if (series == HistorySeries::Index || !m_pending || m_pending->values[int(series)]) {
        flush();
        m_pending = DayHistoryRow{m_clock.now(), {}};
    }
    m_pending->values[int(series)] = value;
    return m_pending->time;
}

void DayHistory::flush()
{
    const std::optional<DayHistoryRow> row = std::exchange(m_pending, std::nullopt);
    if (!row || m_folder.isEmpty() || !openFile())
        return;
    const QByteArray line = formatLine(*row);
    // One write per line, handed to the system at once: what a crash can catch is this line only.
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        std::fprintf(stderr, "%s\n",
                     qUtf8Printable(QStringLiteral("Verlauf nicht geschrieben: %1: %2")
                                        .arg(QDir::toNativeSeparators(path()), m_file.errorString())));
        m_file.close();
        m_failed = true;
    }
}

bool DayHistory::openFile()
{
    if (m_file.isOpen())
        return true;
    if (m_failed)
        return false;
    const QString filePath = path();
    m_file.setFileName(filePath);
    const auto fail = [&] {
        std::fprintf(stderr, "%s\n",
                     qUtf8Printable(QStringLiteral("Verlauf nicht geschrieben: %1: %2")
                                        .arg(QDir::toNativeSeparators(filePath), m_file.errorString())));
        m_file.close();
        m_failed = true;
        return false;
    };
    QDir().mkpath(m_folder);

    // A line torn by a crash is cut off, back to the end of the last whole line.
    if (!m_file.open(QIODevice::ReadWrite))
        return fail();
    const qint64 size = m_file.size();
    constexpr qint64 chunk = 4096;
    qint64 keep = 0;
    for (qint64 end = size; end > 0 && keep == 0;) {
        const qint64 begin = std::max<qint64>(0, end - chunk);
        if (!m_file.seek(begin))
            return fail();
        const QByteArray tail = m_file.read(end - begin);
        const qsizetype newline = tail.lastIndexOf('\n');
        if (newline >= 0)
            keep = begin + newline + 1;
        end = begin;
    }
    if (keep != size && !m_file.resize(keep))
        return fail();
    m_file.close();

    // Appending: each line goes to the end even when another instance writes the same file.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail();
    if (keep == 0) {
        const QByteArray headerLine = QByteArray(header) + '\n';
        if (m_file.write(headerLine) != headerLine.size())
            return fail();
    }
    return true;
}
