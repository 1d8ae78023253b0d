#include "app/livelink.h"
#include "app/mainwindow.h"
#include "app/messages.h"
#include "app/zalventoapplication.h"
#include "core/settingsstore.h"

#include <cstdio>
#include <cstring>

namespace {

const char helpText[] =
    "Aufruf: zalvento [/A] [--unattended]\n"
    "        zalvento --help | --version\n"
    "\n"
    "NV Zalvento berechnet den aktuellen Stand eines deutschen Aktienindex (Dax, MDax, SDax, TecDax)\n"
    "aus den Kursen seiner Werte und veröffentlicht ihn.\n"
    "\n"
    "  /A            automatische Aktualisierung alle fünf Sekunden einschalten\n"
    "  --unattended  ohne Fenster laufen: Meldungen als Zeilen auf die Standardfehlerausgabe\n"
    "                (für das Journal), keine Meldungsfenster\n"
    "  --help        diese Hilfe ausgeben und beenden\n"
    "  --version     die Programmversion ausgeben und beenden\n"
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

    bool unattended = false;
    for (int i = 1; i < argc; ++i)
        unattended = unattended || std::strcmp(argv[i], "--unattended") == 0;
    // The window is never shown: no display is needed, unless a platform was chosen on purpose.
    if (unattended && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    ZalventoApplication application(argc, argv);
    application.closeOnTerminationSignals();
    if (unattended)
        Messages::setMode(Messages::Mode::Unattended);
    StartOptions options;
    options.executablePath = QCoreApplication::applicationFilePath();
    options.arguments = QCoreApplication::arguments().mid(1);
    options.settingsPath = SettingsStore::defaultFilePath();
    options.serviceName = LiveLink::serviceNameFor(options.executablePath);
    MainWindow window(options);
    if (application.terminationRequested())
        return 0;
    QObject::connect(&application, &ZalventoApplication::terminating, &window, &QWidget::close);
    if (!unattended)
        window.show();
    application.notifyServiceManagerReady();
    return application.exec();
}
