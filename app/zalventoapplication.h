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

private:
    bool m_terminationRequested = false;
};
