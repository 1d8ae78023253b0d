#include "app/zalventoapplication.h"

#include "app/messages.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

ZalventoApplication::ZalventoApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // No display name of its own: the window system would append it to every caption, which names the
    // index alone. The task bar finds the program by its desktop entry and icon.
    setApplicationName(QStringLiteral("NV Zalvento"));
    setDesktopFileName(QStringLiteral("de.quenkel.zalvento"));
}

bool ZalventoApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        Messages::reportError(error);
    } catch (...) {
        Messages::reportError(QStringLiteral("Unbekannter Fehler"));
    }
    return false;
}

void ZalventoApplication::closeOnTerminationSignals()
{
    // The handler only writes a byte; the event loop reads it and closes the window outside the handler.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        char byte;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        m_terminationRequested = true;
        closeAllWindows();
        emit terminating();
        // Posted, so that it also ends a program whose main loop has not started yet.
        QTimer::singleShot(0, this, &QApplication::quit);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

void ZalventoApplication::notifyServiceManagerReady()
{
    sd_notify(0, "READY=1");
    uint64_t watchdogMicroseconds = 0;
    if (sd_watchdog_enabled(0, &watchdogMicroseconds) <= 0 || watchdogMicroseconds == 0)
        return;
    auto *watchdog = new QTimer(this);
    watchdog->setInterval(std::chrono::milliseconds(std::max<uint64_t>(1, watchdogMicroseconds / 2000)));
    connect(watchdog, &QTimer::timeout, this, [] { sd_notify(0, "WATCHDOG=1"); });
    watchdog->start();
}
