#include "fuzztarget.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

__attribute__((weak)) QByteArray fuzzInputFromFiles(const QStringList &paths)
{
    return paths.isEmpty() ? QByteArray() : readFile(paths.first());
}

QString fuzzScratchFolder()
{
    static const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir folder(base + QStringLiteral("/zalvento-fuzz-XXXXXX"));
    return folder.path();
}

void fuzzSetUp(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int count = argc;
    static QCoreApplication application(count, argv);
}

#ifdef ZALVENTO_LIBFUZZER
// libFuzzer cannot follow the corpus' references. With ZALVENTO_FUZZ_EXPAND=<folder>, the target writes
// the inputs of the ".ref" files in the corpus folders named on its command line into that folder and
// ends; tools/fuzz.sh then hands that folder to the run as one more corpus.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzSetUp(*argc, *argv);
    const QString target = qEnvironmentVariable("ZALVENTO_FUZZ_EXPAND");
    if (target.isEmpty())
        return 0;
    QDir().mkpath(target);
    for (int i = 1; i < *argc; ++i) {
        QDirIterator files(QString::fromLocal8Bit((*argv)[i]), {QStringLiteral("*.ref")}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QStringList paths;
            for (const QByteArray &line : readFile(files.next()).split('\n')) {
                if (!line.trimmed().isEmpty())
                    paths << QStringLiteral(ZALVENTO_SOURCE_DIR "/") + QString::fromUtf8(line.trimmed());
            }
            const QByteArray input = fuzzInputFromFiles(paths);
            if (input.isEmpty())
                continue;
            QFile out(target + QLatin1Char('/') +
                      QString::fromLatin1(QCryptographicHash::hash(input, QCryptographicHash::Sha1).toHex()));
            if (out.open(QIODevice::WriteOnly))
                out.write(input);
        }
    }
    std::exit(0);
}
#endif
