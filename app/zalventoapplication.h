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

    // SIGTERM, SIGINT and SIGHUP close the main window the normal way, so that its shutdown writes the
    // definition file and the settings, and then the program ends.
    void closeOnTerminationSignals(QWidget *mainWindow);
};
