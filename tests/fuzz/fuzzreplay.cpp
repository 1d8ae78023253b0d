// The ordinary main of a fuzz target: runs the files, and every file under the folders, named on the command
// line (the checked-in corpus, its findings included) through the target once. A broken property aborts, a
// hang ends by the alarm; either way the test fails and names the input.

#include "fuzztarget.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

constexpr unsigned secondsPerInput = 20;
QByteArray currentInput;

void reportHang(int)
{
    const char text[] = "hang: ";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    (void)!write(STDERR_FILENO, currentInput.constData(), size_t(currentInput.size()));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(1);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char **argv)
{
    fuzzSetUp(argc, argv);
    std::signal(SIGALRM, reportHang);
    int replayed = 0;
    int skipped = 0;
    for (int i = 1; i < argc; ++i) {
        QStringList files;
        if (QFileInfo(QString::fromLocal8Bit(argv[i])).isFile())
            files << QString::fromLocal8Bit(argv[i]);
        QDirIterator it(QString::fromLocal8Bit(argv[i]), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        files.sort();
        for (const QString &path : std::as_const(files)) {
            QByteArray input = readFile(path);
            if (path.endsWith(QLatin1String(".ref"))) {
                QStringList paths;
                for (const QByteArray &line : input.split('\n')) {
                    const QString file =
                        QStringLiteral(ZALVENTO_SOURCE_DIR "/") + QString::fromUtf8(line.trimmed());
                    if (!line.trimmed().isEmpty())
                        paths << file;
                }
                if (!std::all_of(paths.cbegin(), paths.cend(),
                                 [](const QString &p) { return QFileInfo::exists(p); })) {
                    std::printf("skipped, the referenced files are missing: %s\n", qPrintable(path));
                    ++skipped;
                    continue;
                }
                input = fuzzInputFromFiles(paths);
            }
            currentInput = path.toLocal8Bit();
            alarm(secondsPerInput);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                                   size_t(input.size()));
            alarm(0);
            ++replayed;
        }
    }
    std::printf("%d inputs replayed, %d skipped\n", replayed, skipped);
    return replayed > 0 ? 0 : 1;
}
