#pragma once

#include <QString>
#include <functional>
#include <optional>

// The values of the settings key as the window reads and writes them. Reading a value of the other type
// throws (a text where a 32-bit integer is expected, or the reverse).
class SettingsValues
{
public:
    virtual ~SettingsValues() = default;
    virtual bool valueExists(const QString &name) const = 0;
    virtual QString readString(const QString &name) const = 0;
    virtual qint32 readInteger(const QString &name) const = 0;
    virtual void writeInteger(const QString &name, qint32 value) = 0;
};

// What the user chose in the window and the shutdown stores: the two check items of "&Norvata", the source
// choice "Einlese-Quelle" (0 "Norvata", 1 "Internet", -1 none marked) and the window size.
struct WindowChoices
{
    bool recordIndexValue = false;  // "&Index-Kurs übertragen", stored as "IndexEintragen"
    bool transferWebPrices = false; // "Internet-Aktienkurse übertragen", stored as "IndexKurseeintragen"
    int source = 0;                 // "IndexQuelle"
    int width = 700;                // "Indexwidth"
    int height = 701;               // "Indexheight"
};

// What the start-up sequence takes from the settings. A value that is missing, or that the read stopped
// before, is empty and leaves its element as it is.
struct WindowSettings
{
    QString dataFolder; // "Datenpath", the program folder when it is missing
    bool norvataAvailable = false;
    std::optional<bool> recordIndexValue;
    std::optional<bool> transferWebPrices;
    std::optional<int> source; // clamped to -1 .. 1
    std::optional<int> width;
    std::optional<int> height;
    QString quoteServer;  // "Kursserver", empty for the program's own
    QString updateServer; // "Updateserver", empty for the maker's
    int kursalter = 15;   // "Kursalter": minutes after which a quote is stale, 0 for never
    int webPort = 47654;  // "Webport": the web link's port on 127.0.0.1, 0 (or no port number) for none
};

// A stored source choice above 1 selects "Internet"; below 0 none is marked.
int clampSourceChoice(qint32 stored);

// Reads the settings in their fixed order. The first value of the wrong type ends the read silently: the
// values after it stay empty and the database session is not prepared. Norvata counts as available when
// "Datenpath" is set and "Intraday.db" lies in that folder; `prepareSession` (which may throw, silently
// too) is called with the data folder while it is still taken to be available. The server values are
// read apart from that order, and so are the dwords of the program's own ("Kursalter",
// "Webport"): a missing or
// mistyped one means its default.
WindowSettings readWindowSettings(const SettingsValues &settings, const QString &programFolder,
                                  const std::function<void(const QString &dataFolder)> &prepareSession);

// Writes the choices in the shutdown's order, each as a 32-bit integer.
void storeWindowChoices(SettingsValues &settings, const WindowChoices &choices);
