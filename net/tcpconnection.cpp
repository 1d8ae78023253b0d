#include "net/tcpconnection.h"

#include "net/socketerror.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QTcpSocket>
#include <algorithm>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Qt reads from the network only as far as this buffer has room, so a large document passes through
// in portions instead of piling up in memory when the receiver is slower than the network.
constexpr qint64 readBufferSize = 64 * 1024;

bool isDottedAddress(const QString &host)
{
    static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    if (!dotted.match(host).hasMatch())
        return false;
    const QStringList parts = host.split(QLatin1Char('.'));
    for (const QString &part : parts) {
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

// A decimal port or a service name of the system's service table; 0 when it names no port.
quint16 portNumber(const QString &port)
{
    bool ok = false;
    const uint number = port.trimmed().toUInt(&ok);
    if (ok)
        return number <= 65535 ? quint16(number) : 0;
    if (port.isEmpty())
        return 0;
    const QByteArray name = port.toLatin1();
    const servent *service = getservbyname(name.constData(), "tcp");
    return service ? ntohs(quint16(service->s_port)) : 0;
}

bool connectionWasReset(int fd)
{
    if (fd == -1)
        return false;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return false;
    return info.tcpi_state == TCP_CLOSE;
}

} // namespace

TTcpConnection::TTcpConnection(QObject *parent) : QObject(parent) {}

TTcpConnection::~TTcpConnection()
{
    CancelDnsLookup();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    closeDescriptorCopy();
}

template <typename F> void TTcpConnection::dispatch(F &&handler)
{
    const QScopedValueRollback depth(m_dispatchDepth, m_dispatchDepth + 1);
    try {
        handler();
    } catch (...) {
        // The handler's failure ends the connection; the closed event tells its owner.
        if (m_socket)
            finish(10053);
    }
}

void TTcpConnection::DnsLookup(const QString &host)
{
    CancelDnsLookup();
    DnsResult.clear();
    if (host.isEmpty()) {
        dispatch([this] {
            if (OnDnsLookupDone)
                OnDnsLookupDone(10022);
        });
        return;
    }
    if (isDottedAddress(host)) {
        DnsResult = QHostAddress(host).toString();
        dispatch([this] {
            if (OnDnsLookupDone)
                OnDnsLookupDone(0);
        });
        return;
    }
    m_lookupId = QHostInfo::lookupHost(host, this, [this](const QHostInfo &info) {
        if (info.lookupId() != m_lookupId)
            return;
        m_lookupId = -1;
        quint16 error = 0;
        if (info.error() == QHostInfo::HostNotFound) {
            error = 11001;
        } else if (info.error() != QHostInfo::NoError) {
            error = 11003;
        } else {
            error = 11004;
            const QList<QHostAddress> addresses = info.addresses();
            for (const QHostAddress &address : addresses) {
                if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                    DnsResult = address.toString();
                    error = 0;
                    break;
                }
            }
        }
        dispatch([this, error] {
            if (OnDnsLookupDone)
                OnDnsLookupDone(error);
        });
        purgeRetired();
    });
}

void TTcpConnection::CancelDnsLookup()
{
    if (m_lookupId != -1)
        QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
}

void TTcpConnection::Connect(const QString &address, const QString &port)
{
    if (m_socket)
        retireSocket();
    purgeRetired();
    const quint16 portValue = portNumber(port);
    const QHostAddress hostAddress(address);
    if (portValue == 0 || hostAddress.protocol() != QAbstractSocket::IPv4Protocol) {
        LastError = 10022;
        throw ESocketException(SocketError::text(LastError), quint16(LastError));
    }
    LastError = 0;
    m_connected = false;
    m_peerReset = false;
    m_socket = std::make_unique<QTcpSocket>();
    m_socket->setReadBufferSize(readBufferSize);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 0);
    connect(m_socket.get(), &QTcpSocket::connected, this, &TTcpConnection::onConnected);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &TTcpConnection::onError);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &TTcpConnection::onReadyRead);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &TTcpConnection::onDisconnected);
    m_socket->connectToHost(hostAddress, portValue);
}

void TTcpConnection::Send(const QByteArray &data)
{
    if (m_socket)
        m_socket->write(data);
}

qint64 TTcpConnection::Receive(char *buffer, qint64 maximum)
{
    if (!m_socket || maximum <= 0)
        return 0;
    return std::max<qint64>(0, m_socket->read(buffer, maximum));
}

void TTcpConnection::Close()
{
    Abort(0);
}

void TTcpConnection::Abort(quint16 error)
{
    if (m_socket)
        finish(error);
}

void TTcpConnection::onConnected()
{
    const QScopedValueRollback depth(m_dispatchDepth, m_dispatchDepth + 1);
    m_connected = true;
    const int fd = int(m_socket->socketDescriptor());
    if (fd != -1) {
        // A close discards what was not sent and resets the connection instead of lingering.
        const linger noLinger{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        // Qt closes its descriptor before it reports the end of the connection; this copy keeps the
        // connection's state readable until then.
        m_descriptorCopy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    }
    dispatch([this] {
        if (OnSessionConnected)
            OnSessionConnected(0);
    });
    if (m_socket && m_socket->bytesAvailable() > 0)
        deliverData();
}

void TTcpConnection::onError()
{
    const QScopedValueRollback depth(m_dispatchDepth, m_dispatchDepth + 1);
    if (!m_socket)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (!m_connected) {
        const quint16 number = quint16(SocketError::fromQt(error));
        dispatch([this, number] {
            if (OnSessionConnected)
                OnSessionConnected(number);
        });
        if (m_socket)
            finish(number);
        return;
    }
    // Qt reports an orderly close and a reset by the peer alike; "disconnected" follows and ends it.
    // The kernel still tells them apart: after a reset the connection is closed outright, after an
    // orderly close it waits for our side to close.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        m_peerReset = connectionWasReset(m_descriptorCopy);
        return;
    }
    deliverData();
    if (m_socket)
        finish(quint16(SocketError::fromQt(error)));
}

void TTcpConnection::onReadyRead()
{
    const QScopedValueRollback depth(m_dispatchDepth, m_dispatchDepth + 1);
    if (m_connected)
        deliverData();
}

void TTcpConnection::onDisconnected()
{
    const QScopedValueRollback depth(m_dispatchDepth, m_dispatchDepth + 1);
    deliverData();
    if (m_socket)
        finish(m_peerReset ? 10054 : 0);
}

void TTcpConnection::deliverData()
{
    // A handler may run a nested event loop; the socket's next readyRead must not start a second
    // delivery of the same socket underneath the first.
    QTcpSocket *const socket = m_socket.get();
    if (!socket || m_deliveringSocket == socket)
        return;
    QTcpSocket *const outer = m_deliveringSocket;
    m_deliveringSocket = socket;
    while (m_socket.get() == socket && socket->bytesAvailable() > 0) {
        const qint64 before = socket->bytesAvailable();
        dispatch([this] {
            if (OnDataAvailable)
                OnDataAvailable(0);
        });
        // A handler that takes nothing would be offered the same bytes for ever.
        if (m_socket.get() == socket && socket->bytesAvailable() >= before)
            break;
    }
    m_deliveringSocket = outer;
}

void TTcpConnection::finish(quint16 error)
{
    if (!m_socket)
        return;
    retireSocket();
    dispatch([this, error] {
        if (OnSessionClosed)
            OnSessionClosed(error);
    });
}

void TTcpConnection::closeDescriptorCopy()
{
    if (m_descriptorCopy != -1)
        ::close(m_descriptorCopy);
    m_descriptorCopy = -1;
}

void TTcpConnection::retireSocket()
{
    m_socket->disconnect(this);
    m_socket->abort();
    closeDescriptorCopy();
    m_retired.push_back(std::move(m_socket));
    m_connected = false;
    QMetaObject::invokeMethod(this, &TTcpConnection::purgeRetired, Qt::QueuedConnection);
}

void TTcpConnection::purgeRetired()
{
    if (m_dispatchDepth == 0)
        m_retired.clear();
}
