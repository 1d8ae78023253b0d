#pragma once

#include "app/messages.h"
#include "app/mainwindow.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

// A temporary program folder with its executable path, data folder and settings file, and a recorder of
// the message boxes, for running the main window in tests.
struct ProgramFolder
{
    QTemporaryDir root;
    QStringList messages;

    ProgramFolder()
    {
        QDir(root.path()).mkpath(QStringLiteral("bin"));
        QDir(root.path()).mkpath(QStringLiteral("daten"));
        Messages::setSink([this](Messages::Kind, const QString &text) { messages << text; });
    }
    ~ProgramFolder() { Messages::setSink({}); }

    QString path(const QString &name) const { return root.path() + QLatin1Char('/') + name; }
    QString dataFolder() const { return path(QStringLiteral("daten/")); }

    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(path(name));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    }
    QByteArray read(const QString &name) const
    {
        QFile file(path(name));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

    void writeInfo(const QByteArray &firstLine = "NV Zalvento V1.7") const
    {
        write(QStringLiteral("Info.txt"), firstLine + "\r\nText\r\n");
    }
    // A definition file of two components (the worked example: value 10422,22 with divisor 9).
    void writeDefinition(const QString &name = QStringLiteral("Dax.txt"),
                         const QByteArray &divisor = "9") const
    {
        QByteArray text =
            divisor +
            "\r\n0\r\nA\r\n111\r\n12,34\r\n3\r\n\r\n0\r\n0\r\nB\r\n222\r\n56,78\r\n1\r\n\r\n0\r\n0\r\n";
        // Prices in the number text of the user's locale, as the program reads them.
        write(name, text.replace(',', QLocale::system().decimalPoint().toLatin1()));
    }
    // Settings in the registry export format; `values` are lines such as "\"IndexQuelle\"=dword:00000001".
    void writeSettings(const QStringList &values) const
    {
        QByteArray text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n";
        for (const QString &value : values)
            text += value.toUtf8() + "\r\n";
        write(QStringLiteral("Norvata.reg"), text);
    }
    // "Datenpath" naming the data folder, which holds an "Intraday.db".
    QString norvataSettingsLine() const
    {
        write(QStringLiteral("daten/Intraday.db"), QByteArray());
        return QStringLiteral("\"Datenpath\"=\"%1\"").arg(dataFolder());
    }

    StartOptions options(const QStringList &arguments = {}) const
    {
        return StartOptions{path(QStringLiteral("bin/zalvento")), arguments,
                            path(QStringLiteral("Norvata.reg"))};
    }
};
