// The settings file: read, write the values the program writes at close, read again. Reading and
// writing back an unchanged file keeps its bytes; every value keeps its reading, the written ones read
// as written, and writing the same values again changes nothing.

#include "core/settingsstore.h"
#include "fuzztarget.h"

namespace {

// What the program gets when it reads `name`: a text, an integer, or a type error.
QString readingOf(const SettingsStore &store, const QString &name)
{
    if (!store.valueExists(name))
        return QStringLiteral("missing");
    QString reading;
    try {
        reading += QStringLiteral("text:") + store.readString(name);
    } catch (const SettingsTypeError &) {
        reading += QStringLiteral("no text");
    }
    try {
        reading += QStringLiteral(" integer:%1").arg(store.readInteger(name));
    } catch (const SettingsTypeError &) {
        reading += QStringLiteral(" no integer");
    }
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    SettingsStore store(QString{});
    store.parse(bytes);
    FUZZ_CHECK(store.compose() == bytes);

    const QStringList written = {QStringLiteral("IndexEintragen"), QStringLiteral("IndexKurseeintragen"),
                                 QStringLiteral("IndexQuelle"), QStringLiteral("Indexwidth"),
                                 QStringLiteral("Indexheight")};
    const QStringList names = store.valueNames();
    QStringList readings;
    for (const QString &name : std::as_const(names))
        readings << readingOf(store, name);
    for (int i = 0; i < written.size(); ++i)
        store.writeInteger(written[i], qint32(size) - i);
    const QByteArray composed = store.compose();

    SettingsStore again(QString{});
    again.parse(composed);
    for (int i = 0; i < names.size(); ++i) {
        if (!written.contains(names[i], Qt::CaseInsensitive))
            FUZZ_CHECK(readingOf(again, names[i]) == readings[i]);
    }
    for (int i = 0; i < written.size(); ++i)
        FUZZ_CHECK(again.readInteger(written[i]) == qint32(size) - i);
    for (int i = 0; i < written.size(); ++i)
        again.writeInteger(written[i], qint32(size) - i);
    FUZZ_CHECK(again.compose() == composed);
    return 0;
}
