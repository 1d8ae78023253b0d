#include "net/socketerror.h"

#include <array>

namespace SocketError {

namespace {

struct Entry
{
    int number;
    const char *text;
};

constexpr std::array entries{
    Entry{0, "No Error"},
    Entry{10004, "Interrupted system call"},
    Entry{10009, "Bad file number"},
    Entry{10013, "Permission denied"},
    Entry{10014, "Bad address"},
    Entry{10022, "Invalid argument"},
    Entry{10024, "Too many open files"},
    Entry{10035, "Operation would block"},
    Entry{10036, "Operation now in progress"},
    Entry{10037, "Operation already in progress"},
    Entry{10038, "Socket operation on non-socket"},
    Entry{10039, "Destination address required"},
    Entry{10040, "Message too long"},
    Entry{10041, "Protocol wrong type for socket"},
    Entry{10042, "Protocol not available"},
    Entry{10043, "Protocol not supported"},
    Entry{10044, "Socket type not supported"},
    Entry{10045, "Operation not supported on socket"},
    Entry{10046, "Protocol family not supported"},
    Entry{10047, "Address family not supported by protocol family"},
    Entry{10048, "Address already in use"},
    Entry{10049, "Address not available"},
    Entry{10050, "Network is down"},
    Entry{10051, "Network is unreachable"},
    Entry{10052, "Network dropped connection on reset"},
    Entry{10053, "Connection aborted"},
    Entry{10054, "Connection reset by peer"},
    Entry{10055, "No buffer space available"},
    Entry{10056, "Socket is already connected"},
    Entry{10057, "Socket is not connected"},
    Entry{10058, "Can't send after socket shutdown"},
    Entry{10059, "Too many references: can't splice"},
    Entry{10060, "Connection timed out"},
    Entry{10061, "Connection refused"},
    Entry{10062, "Too many levels of symbolic links"},
    Entry{10063, "File name too long"},
    Entry{10064, "Host is down"},
    Entry{10065, "No route to host"},
    Entry{10066, "Directory not empty"},
    Entry{10067, "Too many processes"},
    Entry{10068, "Too many users"},
    Entry{10069, "Disc quota exceeded"},
    Entry{10070, "Stale NFS file handle"},
    Entry{10071, "Too many levels of remote in path"},
    Entry{10091, "Network sub-system is unusable"},
    Entry{10092, "WinSock DLL cannot support this application"},
    Entry{10093, "WinSock not initialized"},
    Entry{11001, "Host not found"},
    Entry{11002, "Non-authoritative host not found"},
    Entry{11003, "Non-recoverable error"},
    Entry{11004, "No Data"},
};

} // namespace

QString text(int number)
{
    for (const Entry &entry : entries) {
        if (entry.number == number)
            return QString::fromLatin1(entry.text);
    }
    return QStringLiteral("Not a WinSock error");
}

int fromQt(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::DatagramTooLargeError:
        return 10040;
    case QAbstractSocket::NetworkError:
        return 10051;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10047;
    case QAbstractSocket::OperationError:
        return 10022;
    case QAbstractSocket::TemporaryError:
        return 10035;
    default:
        return 10053;
    }
}

} // namespace SocketError
