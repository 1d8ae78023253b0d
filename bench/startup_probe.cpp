// Start-up probes: the program's start to its first value shown, beside a bare Qt Widgets window's start.
// Each prints the milliseconds from the moment its launcher took (ZALVENTO_LAUNCHED_NS, CLOCK_MONOTONIC)
// to the moment its window was first painted, then ends. bench/startup.sh runs both in turns.
#include "app/mainwindow.h"
#include "core/settingsstore.h"
#include "app/zalventoapplication.h"

#include <QEvent>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

double millisecondsSinceLaunch()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double launched = qEnvironmentVariable("ZALVENTO_LAUNCHED_NS").toDouble();
    return (double(now.tv_sec) * 1e9 + double(now.tv_nsec) - launched) / 1e6;
}

// Reports the first paint of the watched widget and ends the program.
class FirstPaint : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, [] {
                // The application has set the user's locale: a German one would print a decimal comma.
                std::printf("%s\n", QByteArray::number(millisecondsSinceLaunch(), 'f', 1).constData());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_done = false;
};

} // namespace

int main(int argc, char **argv)
{
    const bool bare = argc > 1 && qstrcmp(argv[1], "--bare") == 0;
    if (bare) {
        QApplication application(argc, argv);
        QLabel window(QStringLiteral("10422,22"));
        window.resize(700, 701);
        FirstPaint probe;
        window.installEventFilter(&probe);
        window.show();
        return application.exec();
    }
    ZalventoApplication application(argc, argv);
    StartOptions options;
    options.executablePath = qEnvironmentVariable("ZALVENTO_PROGRAM_PATH");
    options.settingsPath = SettingsStore::defaultFilePath();
    MainWindow form(options);
    FirstPaint probe;
    form.valueLabel->installEventFilter(&probe);
    form.show();
    return application.exec();
}
