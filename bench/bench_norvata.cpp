// Norvata tables at the size of years of prices: Intraday.db with 1,000,000 records (5,000 ids with
// 200 prices each). A refresh finds 40 ids and walks each to its newest price; a web refresh with
// transfer appends 40 records as one change.
#include "norvata/norvatalayout.h"
#include "norvata/norvatatable.h"
#include "paradox/paradoxtable.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int ids = 5000;
constexpr int pricesPerId = 200;
const QDateTime start(QDate(2024, 3, 1), QTime(9, 0));

struct BigTable
{
    QTemporaryDir dir;
    QString folder() const { return dir.path() + QLatin1Char('/'); }
    BigTable()
    {
        const QString path = dir.filePath(QStringLiteral("Intraday.db"));
        NorvataLayout::createIntraday(path);
        ParadoxTable table(path, true);
        const ParadoxField &firma = table.fields().at(0), &zeit = table.fields().at(1),
                           &kurs = table.fields().at(2);
        QList<QByteArray> records;
        records.reserve(qsizetype(ids) * pricesPerId);
        for (int id = 1; id <= ids; ++id)
            for (int i = 0; i < pricesPerId; ++i) {
                QByteArray record(table.data().recordSize(), '\0');
                firma.setValue(record.data(), id);
                zeit.setValue(record.data(), start.addSecs(60 * i));
                kurs.setValue(record.data(), 10.0 + i / 100.0);
                records.append(record);
            }
        table.rebuild(records);
    }
};

BigTable &bigTable()
{
    static BigTable table;
    return table;
}

void evict(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd >= 0) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

void BM_FindAndWalk40(benchmark::State &state)
{
    BigTable &big = bigTable();
    NorvataTable table;
    int round = 0;
    for (auto _ : state) {
        table.open(big.folder(), QStringLiteral("Intraday.db"), QString());
        for (int n = 0; n < 40; ++n) {
            const QString id = QString::number(1 + (round * 40 + n) * 97 % ids);
            double newest = 0;
            if (table.findKey(id))
                while (!table.eof() && table.fieldEquals(QStringLiteral("Firma"), id)) {
                    newest = table.fieldFloat(QStringLiteral("Kurs"));
                    table.next();
                }
            benchmark::DoNotOptimize(newest);
        }
        table.close();
        ++round;
    }
}
BENCHMARK(BM_FindAndWalk40)->Unit(benchmark::kMillisecond);

void BM_Append40(benchmark::State &state)
{
    BigTable &big = bigTable();
    NorvataTable table;
    static qint64 tick = 0; // keys stay new across the runs of this benchmark
    // The crash window: from the journal being synced to the last table write, a reader that does
    // not know the journal may see blocks and headers of two states.
    QElapsedTimer clock;
    qint64 windowNs = 0, windows = 0;
    ParadoxTable::setCommitHook([&](int step) {
        if (step == 2)
            clock.start();
        else if (step == 4) {
            windowNs += clock.nsecsElapsed();
            ++windows;
        }
    });
    for (auto _ : state) {
        QList<IntradayRecord> records;
        for (int n = 0; n < 40; ++n)
            records.append({1 + n * 123 % ids, 12.34, start.addDays(1).addMSecs(++tick)});
        table.open(big.folder(), QStringLiteral("Intraday.db"), QString());
        if (table.appendRecords(records) != 40)
            state.SkipWithError("an append failed");
        table.close();
    }
    ParadoxTable::setCommitHook(nullptr);
    state.counters["crash_window_us"] = windows ? windowNs / 1000.0 / windows : 0;
}
BENCHMARK(BM_Append40)->Unit(benchmark::kMillisecond);

void BM_OpenCold(benchmark::State &state)
{
    BigTable &big = bigTable();
    NorvataTable table;
    for (auto _ : state) {
        state.PauseTiming();
        evict(big.dir.filePath(QStringLiteral("Intraday.db")));
        evict(big.dir.filePath(QStringLiteral("Intraday.PX")));
        state.ResumeTiming();
        table.open(big.folder(), QStringLiteral("Intraday.db"), QString());
        benchmark::DoNotOptimize(table.findKey(QStringLiteral("2500")));
        table.close();
    }
}
BENCHMARK(BM_OpenCold)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
