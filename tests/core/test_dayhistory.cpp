#include "core/dayhistory.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

const QByteArray header = "Zeit;Index;Bid;Ask;Mittel\n";
const QByteArray full = "2026-12-09T10:15:30;15234,56;15230,1;15240,2;15235,15\n";
const QByteArray indexOnly = "2026-12-09T10:15:35;15234,5;;;\n";

} // namespace

class TestDayHistory : public QObject
{
    Q_OBJECT

private slots:
    // A file's contents, and the lines that its rows give when written again.
    void readBack_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<int>("damaged");
        QTest::newRow("empty file") << QByteArray() << QByteArray() << 0;
        QTest::newRow("all series") << header + full << full << 0;
        QTest::newRow("empty fields") << header + indexOnly << indexOnly << 0;
        QTest::newRow("no header") << indexOnly << indexOnly << 0;
        QTest::newRow("CR LF") << header + indexOnly.chopped(1) + "\r\n" << indexOnly << 0;
        QTest::newRow("damaged in the middle")
            << header + full + "x;y\n" + indexOnly << full + indexOnly << 1;
        QTest::newRow("torn last line") << header + full + indexOnly.left(20) << full << 1;
        QTest::newRow("empty line") << header + "\n" + full << full << 1;
        QTest::newRow("too few fields") << header + "2026-12-09T10:15:35;1;2;3\n" << QByteArray() << 1;
        QTest::newRow("too many fields") << header + "2026-12-09T10:15:35;1;2;3;4;5\n" << QByteArray() << 1;
        QTest::newRow("no value at all") << header + "2026-12-09T10:15:35;;;;\n" << QByteArray() << 1;
        QTest::newRow("decimal point") << header + "2026-12-09T10:15:35;15234.5;;;\n" << QByteArray() << 1;
        QTest::newRow("not a number") << header + "2026-12-09T10:15:35;abc;;;\n" << QByteArray() << 1;
        QTest::newRow("NUL byte") << header + QByteArray("2026-12-09T10:15:35;1\0;;;\n", 26) << QByteArray()
                                  << 1;
        QTest::newRow("time with offset") << header + "2026-12-09T10:15:35+01:00;1;;;\n" << QByteArray() << 1;
        QTest::newRow("impossible time") << header + "2026-12-09T24:15:35;1;;;\n" << QByteArray() << 1;
        QTest::newRow("impossible date") << header + "2026-02-30T10:15:35;1;;;\n" << QByteArray() << 1;
    }

    void readBack()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, rows);
        QFETCH(int, damaged);
        const DayHistoryRead read = DayHistory::parse(contents);
        QByteArray written;
        for (const DayHistoryRow &row : read.rows)
            written += DayHistory::formatLine(row);
        QCOMPARE(written, rows);
        QCOMPARE(read.damagedLines, damaged);
    }

    void columnsFollowTheHeader()
    {
        const std::optional<DayHistoryRow> row = DayHistory::parseLine("2026-12-09T10:15:30;1;2;3;4,5");
        QVERIFY(row);
        QCOMPARE(row->time, QDateTime(QDate(2026, 12, 9), QTime(10, 15, 30)));
        QCOMPARE(row->values[int(HistorySeries::Index)], 1.0);
        QCOMPARE(row->values[int(HistorySeries::IndexBid)], 2.0);
        QCOMPARE(row->values[int(HistorySeries::IndexAsk)], 3.0);
        QCOMPARE(row->values[int(HistorySeries::IndexMittel)], 4.5);
    }

    // A day's file with a torn line is appended to after a restart; at midnight the next day's file
    // begins and the earlier one stays as it was.
    void appendsAcrossRestartAndDayChange()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + QStringLiteral("/Verlauf/");
        ManualClock clock(QDateTime(QDate(2026, 12, 9), QTime(23, 59, 58)));
        QDir().mkpath(folder);
        const QString today = folder + QStringLiteral("DAX-2026-12-09.csv");
        writeAll(today, header + full + indexOnly.left(20));

        DayHistory history(clock);
        const DayHistoryRead read = history.start(folder, QStringLiteral("DAX"));
        QCOMPARE(read.rows.size(), 1);
        QCOMPARE(read.damagedLines, 1);
        QCOMPARE(history.path(), today);

        history.addPoint(HistorySeries::Index, 15300.25);
        QCOMPARE(history.addPoint(HistorySeries::IndexAsk, 15301), clock.now());
        QVERIFY(!history.followDay());
        history.flush();
        const QByteArray firstDay = header + full + "2026-12-09T23:59:58;15300,25;;15301;\n";
        QCOMPARE(readAll(today), firstDay);

        history.addPoint(HistorySeries::Index, 15310);
        clock.advance(4000);
        QVERIFY(history.followDay());
        QVERIFY(!history.followDay());
        history.addPoint(HistorySeries::Index, 15320);
        history.flush();
        QCOMPARE(readAll(today), firstDay + "2026-12-09T23:59:58;15310;;;\n");
        QCOMPARE(readAll(folder + QStringLiteral("DAX-2026-12-10.csv")),
                 header + "2026-12-10T00:00:02;15320;;;\n");

        QCOMPARE(DayHistory(clock).start(folder, QStringLiteral("DAX")).rows.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDayHistory)
#include "test_dayhistory.moc"
