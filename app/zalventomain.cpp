#include "app/livelink.h"
#include "app/settingsstore.h"
#include "app/mainwindow.h"
#include "app/zalventoapplication.h"

int zalventoMain(int argc, char **argv)
{
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
