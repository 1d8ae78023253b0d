#include "shell/windowsettings.h"

#include "core/programfiles.h"

#include <QFileInfo>
#include <algorithm>
#include <exception>

namespace {

void readInOrder(const SettingsValues &settings, WindowSettings &result,
                 const std::function<void(const QString &)> &prepareSession)
{
    const auto integer = [&settings](const char *name) -> std::optional<qint32> {
        const QString key = QString::fromLatin1(name);
        if (!settings.valueExists(key))
            return std::nullopt;
        return settings.readInteger(key);
    };
    if (settings.valueExists(QStringLiteral("Datenpath")))
        result.dataFolder = settings.readString(QStringLiteral("Datenpath"));
    else
        result.norvataAvailable = false;
    if (const auto value = integer("IndexEintragen"))
        result.recordIndexValue = *value != 0;
    if (const auto value = integer("IndexKurseeintragen"))
        result.transferWebPrices = *value != 0;
    if (const auto value = integer("IndexQuelle"))
        result.source = clampSourceChoice(*value);
    result.width = integer("Indexwidth");
    result.height = integer("Indexheight");
    if (result.norvataAvailable)
        prepareSession(result.dataFolder);
}

QString serverSetting(const SettingsValues &settings, const QString &name)
{
    try {
        return settings.valueExists(name) ? settings.readString(name) : QString();
    } catch (const std::exception &) {
        return QString();
    }
}

// A dword of the program's own beyond the original's settings: missing or mistyped, its default.
qint32 integerSetting(const SettingsValues &settings, const QString &name, qint32 fallback)
{
    try {
        return settings.valueExists(name) ? settings.readInteger(name) : fallback;
    } catch (const std::exception &) {
        return fallback;
    }
}

} // namespace

int clampSourceChoice(qint32 stored)
{
    return std::clamp(stored, -1, 1);
}

WindowSettings readWindowSettings(const SettingsValues &settings, const QString &programFolder,
                                  const std::function<void(const QString &dataFolder)> &prepareSession)
{
    WindowSettings result;
    result.dataFolder = programFolder;
    result.norvataAvailable = true;
    try {
        readInOrder(settings, result, prepareSession);
    } catch (const std::exception &) {
        // One guarded block: what was read before the failing value stays.
    }
    // "Datenpath" is a prefix: a folder without its closing separator names a different file here.
    if (result.norvataAvailable &&
        !QFileInfo::exists(ProgramFiles::resolve(result.dataFolder, QStringLiteral("Intraday.db"))))
        result.norvataAvailable = false;
    result.quoteServer = serverSetting(settings, QStringLiteral("Kursserver"));
    result.updateServer = serverSetting(settings, QStringLiteral("Updateserver"));
    result.kursalter = integerSetting(settings, QStringLiteral("Kursalter"), result.kursalter);
    result.webPort = integerSetting(settings, QStringLiteral("Webport"), result.webPort);
    return result;
}

void storeWindowChoices(SettingsValues &settings, const WindowChoices &choices)
{
    settings.writeInteger(QStringLiteral("IndexEintragen"), choices.recordIndexValue ? 1 : 0);
    settings.writeInteger(QStringLiteral("IndexKurseeintragen"), choices.transferWebPrices ? 1 : 0);
    settings.writeInteger(QStringLiteral("IndexQuelle"), choices.source);
    settings.writeInteger(QStringLiteral("Indexwidth"), choices.width);
    settings.writeInteger(QStringLiteral("Indexheight"), choices.height);
}
