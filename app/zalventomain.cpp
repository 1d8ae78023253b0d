#include "app/livelink.h"
#include "core/settingsstore.h"
#include "app/tform1.h"
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
    TForm1 Form1(options);
    if (application.terminationRequested())
        return 0;
    Form1.show();
    return application.exec();
}
