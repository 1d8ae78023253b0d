#include "app/livelink.h"

#include <QAtomicInt>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <functional>

namespace {

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString introspectableInterface = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString errorPrefix = QStringLiteral("de.quenkel.Zalvento.Link.Error.");

// Serves every path below "/" through the link, so that topics can be matched without regard to case.
class LinkObject : public QDBusVirtualObject
{
public:
    using Handler = std::function<bool(const QDBusMessage &, const QDBusConnection &)>;
    using Introspector = std::function<QString(const QString &)>;

    LinkObject(Handler handler, Introspector introspector)
        : m_handler(std::move(handler)), m_introspector(std::move(introspector))
    {
    }

    QString introspect(const QString &path) const override { return m_introspector(path); }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        return m_handler(message, connection);
    }

private:
    Handler m_handler;
    Introspector m_introspector;
};

bool isAsciiAlphanumeric(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

void reply(const QDBusConnection &connection, const QDBusMessage &message, const QList<QVariant> &arguments)
{
    if (message.isReplyRequired())
        connection.send(message.createReply(arguments));
}

void replyError(const QDBusConnection &connection, const QDBusMessage &message, const QString &name,
                const QString &text)
{
    if (message.isReplyRequired())
        connection.send(message.createErrorReply(name, text));
}

const char *const linkInterfaceXml = R"(  <interface name="de.quenkel.Zalvento.Link">
    <property name="Kurs" type="s" access="readwrite">
      <annotation name="org.freedesktop.DBus.Property.EmitsChangedSignal" value="true"/>
    </property>
    <method name="Execute">
      <arg name="command" type="s" direction="in"/>
    </method>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="property_name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="GetAll">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="values" type="a{sv}" direction="out"/>
    </method>
    <method name="Set">
      <arg name="interface_name" type="s" direction="in"/>
      <arg name="property_name" type="s" direction="in"/>
      <arg name="value" type="v" direction="in"/>
    </method>
    <signal name="PropertiesChanged">
      <arg name="interface_name" type="s"/>
      <arg name="changed_properties" type="a{sv}"/>
      <arg name="invalidated_properties" type="as"/>
    </signal>
  </interface>
)";

const char *const introspectableXml = R"(  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect">
      <arg name="xml_data" type="s" direction="out"/>
    </method>
  </interface>
)";

QAtomicInt connectionCounter;

} // namespace

LiveLink::LiveLink(QObject *parent) : QObject(parent), m_connection(QString()) {}

LiveLink::~LiveLink()
{
    stop();
}

QString LiveLink::serviceNameFor(const QString &executablePath)
{
    const QString fileName = QFileInfo(executablePath).fileName();
    const QString name = fileName.left(
        fileName.indexOf(QLatin1Char('.')) < 0 ? fileName.size() : fileName.indexOf(QLatin1Char('.')));
    QString service;
    for (const QChar c : name) {
        const bool allowed = c.unicode() < 128 && (isAsciiAlphanumeric(char(c.unicode())) ||
                                                   c == QLatin1Char('_') || c == QLatin1Char('-'));
        service += allowed ? c : QLatin1Char('_');
    }
    // A bus name element must not be empty nor begin with a digit.
    if (service.isEmpty() || service.front().isDigit())
        service.prepend(QLatin1Char('_'));
    return service;
}

QString LiveLink::topicPath(const QString &topic)
{
    QString path = QStringLiteral("/");
    const QByteArray utf8 = topic.toUtf8();
    for (const char c : utf8) {
        if (isAsciiAlphanumeric(c))
            path += QLatin1Char(c);
        else
            path += QStringLiteral("_%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    }
    return path;
}

bool LiveLink::start(const QString &serviceName)
{
    stop();
    m_errorText.clear();
    m_connectionName = QStringLiteral("zalvento-live-link-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    m_connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
    if (!m_connection.isConnected()) {
        m_errorText = m_connection.lastError().message();
        if (m_errorText.isEmpty())
            m_errorText = QStringLiteral("no session bus");
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connection = QDBusConnection(QString());
        return false;
    }

    m_object = std::make_unique<LinkObject>(
        [this](const QDBusMessage &message, const QDBusConnection &connection) {
            return handleMessage(message, connection);
        },
        [this](const QString &path) { return introspect(path); });
    if (!m_connection.registerVirtualObject(QStringLiteral("/"), static_cast<LinkObject *>(m_object.get()),
                                            QDBusConnection::SubPath)) {
        m_errorText = QStringLiteral("the link's objects cannot be registered");
        stop();
        return false;
    }
    m_running = true;

    // Queue behind an instance that owns the name already: this one still serves on its unique name
    // and takes the well-known name over when the other one ends.
    m_busName = QStringLiteral("de.quenkel.") + serviceName;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> registered =
        m_connection.interface()->registerService(m_busName, QDBusConnectionInterface::QueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement);
    if (!registered.isValid())
        m_errorText = registered.error().message();
    return true;
}

void LiveLink::stop()
{
    if (!m_connectionName.isEmpty()) {
        if (m_connection.isConnected()) {
            if (m_running)
                m_connection.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
            if (!m_busName.isEmpty())
                m_connection.interface()->unregisterService(m_busName);
        }
        m_connection = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connectionName.clear();
    }
    m_object.reset();
    m_running = false;
}

QString LiveLink::uniqueName() const
{
    return m_running ? m_connection.baseService() : QString();
}

bool LiveLink::ownsBusName() const
{
    if (!m_running || m_busName.isEmpty())
        return false;
    const QDBusReply<QString> owner = m_connection.interface()->serviceOwner(m_busName);
    return owner.isValid() && owner.value() == m_connection.baseService();
}

void LiveLink::setTopic(const QString &caption)
{
    m_topic = caption;
}

void LiveLink::setItemText(const QString &text)
{
    setItem(text, false);
}

void LiveLink::setItem(const QString &text, bool poked)
{
    m_itemText = text;
    notify();
    emit itemSet(m_itemText, poked);
}

bool LiveLink::isTopicPath(const QString &path) const
{
    return !m_topic.isEmpty() && path.compare(topicPath(m_topic), Qt::CaseInsensitive) == 0;
}

void LiveLink::notify()
{
    if (!m_running || m_topic.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(topicPath(m_topic), propertiesInterface,
                                                     QStringLiteral("PropertiesChanged"));
    signal << interfaceName << QVariantMap{{itemName, m_itemText}} << QStringList();
    m_connection.send(signal);
}

QString LiveLink::introspect(const QString &path) const
{
    if (path == QStringLiteral("/")) {
        // Lists the topic that a program can link to now.
        return m_topic.isEmpty() ? QString()
                                 : QStringLiteral("  <node name=\"%1\"/>\n").arg(topicPath(m_topic).mid(1));
    }
    if (isTopicPath(path))
        return QString::fromLatin1(linkInterfaceXml);
    return QString();
}

bool LiveLink::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const QString path = message.path();
    const QString interface = message.interface();
    const QString member = message.member();
    const QList<QVariant> arguments = message.arguments();

    if (interface == introspectableInterface && member == QStringLiteral("Introspect")) {
        if (path != QStringLiteral("/") && !isTopicPath(path)) {
            replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                       QStringLiteral("No topic %1").arg(path));
            return true;
        }
        QString xml = QStringLiteral(
            "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n");
        xml += QString::fromLatin1(introspectableXml);
        xml += introspect(path);
        xml += QStringLiteral("</node>\n");
        reply(connection, message, {xml});
        return true;
    }

    if (!isTopicPath(path)) {
        replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                   QStringLiteral("No topic %1").arg(path));
        return true;
    }

    const auto isLinkInterface = [](const QVariant &name) {
        return name.toString().isEmpty() || name.toString() == interfaceName;
    };
    const auto unknownProperty = [&] {
        replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                   QStringLiteral("No item %1").arg(arguments.value(1).toString()));
    };

    if (interface == propertiesInterface || interface.isEmpty()) {
        if (member == QStringLiteral("Get") && arguments.size() == 2) {
            if (!isLinkInterface(arguments.at(0)) || arguments.at(1).toString() != itemName)
                unknownProperty();
            else
                reply(connection, message, {QVariant::fromValue(QDBusVariant(m_itemText))});
            return true;
        }
        if (member == QStringLiteral("GetAll") && arguments.size() == 1) {
            if (!isLinkInterface(arguments.at(0)))
                replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
                           QStringLiteral("No interface %1").arg(arguments.at(0).toString()));
            else
                reply(connection, message, {QVariantMap{{itemName, m_itemText}}});
            return true;
        }
        if (member == QStringLiteral("Set") && arguments.size() == 3) {
            if (!isLinkInterface(arguments.at(0)) || arguments.at(1).toString() != itemName) {
                unknownProperty();
                return true;
            }
            const QVariant value = arguments.at(2).value<QDBusVariant>().variant();
            if (value.metaType() != QMetaType::fromType<QString>()) {
                replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                           QStringLiteral("The item Kurs takes text only"));
                return true;
            }
            reply(connection, message, {});
            setItem(value.toString(), true);
            emit itemPoked(m_itemText);
            return true;
        }
    }

    if (interface == interfaceName || interface.isEmpty()) {
        if (member == QStringLiteral("Execute")) {
            replyError(connection, message, errorPrefix + QStringLiteral("ExecuteRefused"),
                       QStringLiteral("Commands are not executed"));
            return true;
        }
    }

    replyError(connection, message, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
               QStringLiteral("No method %1.%2").arg(interface, member));
    return true;
}
