// The index definition file: load it as the program does; a file that loads is written back, loaded
// again and written once more, and the two written files have the same bytes. Whatever the program
// writes must load again: a value it cannot read back (an "INF") would stop the next start.

#include "core/errors.h"
#include "fuzztarget.h"
#include "tests/core/fakeindexwindow.h"

#include <QDir>
#include <QFile>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QDir folder(fuzzScratchFolder());
    const QString input = folder.filePath(QStringLiteral("Dax.txt"));
    const QString first = folder.filePath(QStringLiteral("Erste.txt"));
    const QString second = folder.filePath(QStringLiteral("Zweite.txt"));
    {
        QFile file(input);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }

    FakeIndexWindow window;
    IndexDefinition definition(window, QLatin1Char(','));
    window.definition = &definition;
    try {
        definition.load(input);
    } catch (const ConversionError &) {
        return 0; // refused before anything was written
    }
    definition.save(first);

    FakeIndexWindow reloaded;
    IndexDefinition again(reloaded, QLatin1Char(','));
    reloaded.definition = &again;
    try {
        again.load(first);
    } catch (const ConversionError &error) {
        std::fprintf(stderr, "written file refused: %s\n", qPrintable(error.text()));
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(reloaded.edit2 == window.edit2 && reloaded.edit3 == window.edit3);
    FUZZ_CHECK(reloaded.componentCount == window.componentCount);
    again.save(second);
    FUZZ_CHECK(readFile(second) == readFile(first));
    return 0;
}
