#pragma once

#include <QString>

class THttpClient;

// What the index file update needs of the main window. The window implements it; tests implement it
// with a plain struct.
class UpdateWindow
{
public:
    virtual ~UpdateWindow() = default;
    // `Programmverzeichnis`: the folder of the index definition files and "Info.txt", ending in "/".
    virtual QString programDirectory() const = 0;
    // The status bar's only panel.
    virtual void setStatusText(const QString &text) = 0;
    // The start-up sequence, which reloads the chosen index and "Info.txt".
    virtual void runStartUp() = 0;
};

// Menu "&Update", "&Index-Dateien": replaces the four index definition files and "Info.txt" by the
// copies on the download server, then reloads through the start-up sequence.
class IndexFileUpdate
{
public:
    // The download server of the program's maker; the settings value "Updateserver" overrides it.
    static QString defaultServerHost();

    // `serverHost` is a host name, optionally with ":" and a port.
    IndexFileUpdate(THttpClient &client, UpdateWindow &window, QString serverHost);

    // Downloads the five files in order and then runs the start-up sequence.
    //
    // Each download goes to a temporary file beside its local file and replaces that file only after
    // a complete response (a status line below 400, no failure of the connection, and as many bytes
    // as a content-length announced); a failed or cut-off download leaves the local file as it was.
    // The first failure ends the update, with the status bar still showing "Loading": the files of the
    // steps before keep their new content, the later steps and the reload do not run.
    //
    // Throws ZalventoError "Die Aktualisierung der Index-Dateien läuft bereits" when an update is
    // already running, EHttpException "HTTP component is busy" (code 1) when the client serves another
    // request (both before anything is touched), FileError when a file cannot be created or replaced,
    // ZalventoError "Die Datei %1 wurde nicht vollständig übertragen" for an incomplete download, any
    // EHttpException of Get, and the errors of the start-up sequence.
    void run();

    // A download runs (from the first request to the end of the reload): the window refuses a web
    // refresh and a second update meanwhile.
    bool running() const { return m_running; }

private:
    void download(const QString &path, const QString &localName);

    THttpClient &m_client;
    UpdateWindow &m_window;
    QString m_serverHost;
    bool m_running = false;
};
