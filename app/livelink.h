#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <memory>

class QDBusMessage;

// The live item "Kurs" that other programs link to, on the D-Bus session bus.
//
// Service: the bus name "de.quenkel." + the executable's name up to its first dot ("de.quenkel.zalvento").
// Topic: the window caption, served as the object path "/" + caption ("/DAX"); a path that differs only
// in case addresses the same topic. Item: the string property `Kurs` (exact case) of the interface
// "de.quenkel.Zalvento.Link".
//   request  = org.freedesktop.DBus.Properties.Get / GetAll
//   advise   = the signal org.freedesktop.DBus.Properties.PropertiesChanged on the topic's path, sent every
//              time the calculation sets the item, even when the value did not change
//   poke     = Properties.Set with a string: replaces the item until the next calculation and notifies
//   execute  = the method Execute, always answered with an error
// Introspecting "/" lists the current topic.
class LiveLink : public QObject
{
    Q_OBJECT

public:
    static inline const QString interfaceName = QStringLiteral("de.quenkel.Zalvento.Link");
    static inline const QString itemName = QStringLiteral("Kurs");

    explicit LiveLink(QObject *parent = nullptr);
    ~LiveLink() override;

    // The service name of an executable: its file name up to the first dot ("/opt/x/zalvento" and
    // "Zalvento.exe" give "zalvento" and "Zalvento"). Characters that a bus name cannot hold become "_".
    static QString serviceNameFor(const QString &executablePath);

    // The object path of a topic: "/" + the caption; characters other than A-Z, a-z and 0-9 are
    // written as "_" and two hex digits per UTF-8 byte ("/TEC_20DAX" for "TEC DAX").
    static QString topicPath(const QString &topic);

    // Connects to the session bus, serves the item and asks for the bus name "de.quenkel." + serviceName.
    // Returns false, with errorText() saying why, when there is no session bus: the program then runs
    // without the link. When another instance owns the name, this one still starts: it serves on its
    // unique bus name and waits in the bus's queue for the well-known name, which it gets when the
    // other instance ends.
    bool start(const QString &serviceName);
    void stop();

    bool isRunning() const { return m_running; }
    QString errorText() const { return m_errorText; }
    QString busName() const { return m_busName; }
    QString uniqueName() const;
    // True while this instance owns busName() (false while it waits behind another instance).
    bool ownsBusName() const;

    // The topic: the window caption ("DAX"). Notifications go to the current topic's path only.
    void setTopic(const QString &caption);
    QString topic() const { return m_topic; }

    // Sets the item's text and notifies the linked programs, also when the text did not change.
    void setItemText(const QString &text);
    // "1000" until the first set.
    QString itemText() const { return m_itemText; }

signals:
    // The item was set: by a calculation, or by a linked program (`poked`). Sent also for an unchanged text.
    void itemSet(const QString &text, bool poked);
    // A linked program replaced the item's text (a poke).
    void itemPoked(const QString &text);

private:
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection);
    QString introspect(const QString &path) const;
    bool isTopicPath(const QString &path) const;
    void notify();
    void setItem(const QString &text, bool poked);

    QDBusConnection m_connection;
    std::unique_ptr<QObject> m_object;
    QString m_connectionName;
    QString m_busName;
    QString m_errorText;
    QString m_topic;
    QString m_itemText = QStringLiteral("1000");
    bool m_running = false;
};
