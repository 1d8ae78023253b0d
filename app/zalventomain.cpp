#include "app/livelink.h"
#include "app/mainwindow.h"
#include "core/settingsstore.h"
#include "app/zalventoapplication.h"

#include <cstdio>
#include <cstring>

namespace {

const char helpText[] =
    "Aufruf: zalvento [/A]\n"
    "        zalvento --help | --version\n"
    "\n"
    "NV Zalvento berechnet den aktuellen Stand eines deutschen Aktienindex (Dax, MDax, SDax, TecDax)\n"
    "aus den Kursen seiner Werte und veröffentlicht ihn.\n"
    "\n"
    "  /A         automatische Aktualisierung alle fünf Sekunden einschalten\n"
    "  --help     diese Hilfe ausgeben und beenden\n"
    "  --version  die Programmversion ausgeben und beenden\n"
    "\n"
    "Weitere Argumente werden übergangen. Mehr in \"man zalvento\".\n";

} // namespace

int zalventoMain(int argc, char **argv)
{
    // Answered before the application object exists, so they need no display and open no window.
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(helpText, stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("NV Zalvento " ZALVENTO_VERSION "\n", stdout);
        return 0;
    }

    ZalventoApplication application(argc, argv);
    application.closeOnTerminationSignals();
    StartOptions options;
    options.executablePath = QCoreApplication::applicationFilePath();
    options.arguments = QCoreApplication::arguments().mid(1);
    options.settingsPath = SettingsStore::defaultFilePath();
    options.serviceName = LiveLink::serviceNameFor(options.executablePath);
    MainWindow window(options);
    if (application.terminationRequested())
        return 0;
    window.show();
    return application.exec();
}
