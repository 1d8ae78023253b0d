#pragma once

#include <QAbstractSocket>
#include <QString>

// The error numbers and texts that the HTTP client reports for its transport. They are the Windows
// Sockets numbers that the program's users and its messages have always shown ("Connection refused
// (Error #10061)"); the platform's own socket errors are mapped onto them.
namespace SocketError {

// The text of a Windows Sockets error number; "Not a WinSock error" for any number it does not know.
QString text(int number);

// The Windows Sockets number of a Qt socket error.
int fromQt(QAbstractSocket::SocketError error);

} // namespace SocketError
