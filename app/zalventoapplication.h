#pragma once

#include <QApplication>

// The application object. An exception that no handler catches ends the action that raised it and
// reaches the default error report; the program goes on.
class ZalventoApplication : public QApplication
{
    Q_OBJECT

public:
    ZalventoApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // From now on SIGTERM, SIGINT and SIGHUP close the windows the normal way, so that the main window's
    // shutdown writes the definition file and the settings, and then the program ends. A signal that
    // arrives while the main window is still being created (a message box of its start-up open, say)
    // closes it all the same; terminationRequested() then tells the start not to show it.
    void closeOnTerminationSignals();
    bool terminationRequested() const { return m_terminationRequested; }

    // Tells the service manager that the program is up (READY=1), and, when the unit sets a watchdog,
    // pings it (WATCHDOG=1) from a timer of the event loop at half its interval: a program whose loop
    // hangs stops pinging and is restarted. Outside a unit of type notify it does nothing.
    void notifyServiceManagerReady();

signals:
    // A termination signal arrived; a window that is not shown (unattended) closes itself on it, since
    // closing all windows reaches only the visible ones.
    void terminating();

private:
    bool m_terminationRequested = false;
};
