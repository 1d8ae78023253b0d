#include "quotes/quotefeed.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

namespace FeedFile {

namespace {

// A feed file is a few entries; anything much larger is no feed file, and reading it whole on every
// refresh must stay cheap.
constexpr qint64 largestFile = 1 << 20;

// A problem of one entry, named in the user's words; Lookup::error gets the file and entry around it.
struct EntryProblem
{
    QString text;
};

QString quoted(const QString &text)
{
    return QStringLiteral("„%1“").arg(text);
}

QString textMember(const QJsonObject &object, const QString &name)
{
    const QJsonValue value = object.value(name);
    if (value.isUndefined())
        return {};
    if (!value.isString())
        throw EntryProblem{QStringLiteral("%1 muss ein Text sein").arg(quoted(name))};
    return value.toString();
}

QString requiredText(const QJsonObject &object, const QString &name)
{
    if (!object.contains(name))
        throw EntryProblem{QStringLiteral("%1 fehlt").arg(quoted(name))};
    const QString text = textMember(object, name);
    if (text.isEmpty())
        throw EntryProblem{QStringLiteral("%1 ist leer").arg(quoted(name))};
    return text;
}

// A dot path is member names joined by "."; no name may be empty.
QString dotPath(const QJsonObject &object, const QString &name, bool required, bool mayBeEmpty)
{
    if (required && !object.contains(name))
        throw EntryProblem{QStringLiteral("%1 fehlt").arg(quoted(name))};
    const QString path = textMember(object, name);
    if (path.isEmpty() && (mayBeEmpty || !object.contains(name)))
        return path;
    const QStringList names = path.split(QLatin1Char('.'));
    for (const QString &part : names)
        if (part.isEmpty())
            throw EntryProblem{
                QStringLiteral("%1 ist kein Pfad aus Feldnamen mit „.“: %2").arg(quoted(name), quoted(path))};
    return path;
}

QString checkedUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        throw EntryProblem{QStringLiteral("%1 ist keine http- oder https-Adresse: %2")
                               .arg(quoted(QStringLiteral("url")), quoted(text))};
    return text;
}

QString checkedPattern(const QString &text)
{
    const QRegularExpression expression(text);
    if (!expression.isValid())
        throw EntryProblem{QStringLiteral("%1 ist kein gültiger regulärer Ausdruck: %2 (Zeichen %3)")
                               .arg(quoted(QStringLiteral("pattern")), expression.errorString())
                               .arg(expression.patternErrorOffset() + 1)};
    const QStringList groups = expression.namedCaptureGroups();
    for (const char *group : {"id", "bid", "ask"})
        if (!groups.contains(QLatin1String(group)))
            throw EntryProblem{QStringLiteral("in %1 fehlt die benannte Gruppe %2, etwa (?<%3>...)")
                                   .arg(quoted(QStringLiteral("pattern")), quoted(QLatin1String(group)),
                                        QLatin1String(group))};
    return text;
}

QuoteFeed::Kind kindOf(const QJsonObject &object)
{
    const QString kind = requiredText(object, QStringLiteral("kind"));
    if (kind == QLatin1String("page"))
        return QuoteFeed::Kind::Page;
    if (kind == QLatin1String("json"))
        return QuoteFeed::Kind::Json;
    if (kind == QLatin1String("pattern"))
        return QuoteFeed::Kind::Pattern;
    throw EntryProblem{QStringLiteral("%1 muss „page“, „json“ oder „pattern“ sein, nicht %2")
                           .arg(quoted(QStringLiteral("kind")), quoted(kind))};
}

// The members each kind reads; any other is a slip of the pen that would otherwise go unnoticed.
QSet<QString> membersOf(QuoteFeed::Kind kind)
{
    QSet<QString> members{QStringLiteral("kind"), QStringLiteral("url"), QStringLiteral("ca")};
    if (kind == QuoteFeed::Kind::Json)
        members += {QStringLiteral("items"), QStringLiteral("id"),   QStringLiteral("bid"),
                    QStringLiteral("ask"),   QStringLiteral("time"), QStringLiteral("decimal"),
                    QStringLiteral("match")};
    if (kind == QuoteFeed::Kind::Pattern)
        members += {QStringLiteral("pattern"), QStringLiteral("decimal"), QStringLiteral("match")};
    return members;
}

QuoteFeed readEntry(const QJsonValue &value, const QString &entry, const QString &filePath)
{
    if (!value.isObject())
        throw EntryProblem{QStringLiteral("kein JSON-Objekt")};
    const QJsonObject object = value.toObject();
    QuoteFeed feed;
    feed.entry = entry;
    feed.kind = kindOf(object);
    const QSet<QString> members = membersOf(feed.kind);
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!members.contains(it.key()))
            throw EntryProblem{QStringLiteral("unbekanntes Feld %1 für %2 %3")
                                   .arg(quoted(it.key()), quoted(QStringLiteral("kind")),
                                        quoted(object.value(QStringLiteral("kind")).toString()))};

    if (feed.kind == QuoteFeed::Kind::Page) {
        const QString url = textMember(object, QStringLiteral("url"));
        if (!url.isEmpty())
            feed.url = checkedUrl(url);
    } else {
        feed.url = checkedUrl(requiredText(object, QStringLiteral("url")));
    }

    if (feed.kind == QuoteFeed::Kind::Json) {
        feed.items = dotPath(object, QStringLiteral("items"), false, true);
        feed.id = dotPath(object, QStringLiteral("id"), false, false);
        feed.bid = dotPath(object, QStringLiteral("bid"), true, false);
        feed.ask = dotPath(object, QStringLiteral("ask"), true, false);
        feed.time = dotPath(object, QStringLiteral("time"), false, false);
    }
    if (feed.kind == QuoteFeed::Kind::Pattern)
        feed.pattern = checkedPattern(requiredText(object, QStringLiteral("pattern")));

    if (object.contains(QStringLiteral("decimal"))) {
        const QString decimal = textMember(object, QStringLiteral("decimal"));
        if (decimal != QLatin1String(".") && decimal != QLatin1String(","))
            throw EntryProblem{QStringLiteral("%1 muss „.“ oder „,“ sein, nicht %2")
                                   .arg(quoted(QStringLiteral("decimal")), quoted(decimal))};
        feed.decimal = decimal.front();
    }
    if (object.contains(QStringLiteral("match"))) {
        const QString match = textMember(object, QStringLiteral("match"));
        if (match == QLatin1String("isin"))
            feed.match = QuoteFeed::Match::Isin;
        else if (match != QLatin1String("wkn"))
            throw EntryProblem{QStringLiteral("%1 muss „wkn“ oder „isin“ sein, nicht %2")
                                   .arg(quoted(QStringLiteral("match")), quoted(match))};
    }
    if (object.contains(QStringLiteral("ca"))) {
        const QString ca = requiredText(object, QStringLiteral("ca"));
        // A relative path is taken from the feed file's folder, wherever the program was started.
        const QFileInfo file(QFileInfo(filePath).dir(), ca);
        if (!file.isFile() || !file.isReadable())
            throw EntryProblem{QStringLiteral("%1: die Datei %2 ist nicht lesbar")
                                   .arg(quoted(QStringLiteral("ca")), file.absoluteFilePath())};
        feed.ca = file.absoluteFilePath();
    }
    return feed;
}

QString fileError(const QString &path, const QString &problem)
{
    return QStringLiteral("Kursquellen-Datei %1: %2").arg(QDir::toNativeSeparators(path), problem);
}

} // namespace

QString defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/zalvento/kursquellen.json");
}

Lookup find(const QString &path, const QString &indexName)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, fileError(path, QStringLiteral("nicht lesbar: %1").arg(file.errorString()))};
    if (file.size() > largestFile)
        return {std::nullopt, fileError(path, QStringLiteral("größer als %1 Bytes").arg(largestFile))};
    const QByteArray text = file.read(largestFile + 1);
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, fileError(path, QStringLiteral("nicht lesbar: %1").arg(file.errorString()))};
    return parse(text, path, indexName);
}

Lookup parse(const QByteArray &text, const QString &path, const QString &indexName)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {std::nullopt, fileError(path, QStringLiteral("kein gültiges JSON: %1 (Zeichen %2)")
                                                  .arg(parseError.errorString())
                                                  .arg(parseError.offset + 1))};
    if (!document.isObject())
        return {std::nullopt, fileError(path, QStringLiteral("kein JSON-Objekt mit einem Eintrag je Index"))};
    if (indexName.isEmpty())
        return {};

    const QJsonObject entries = document.object();
    QStringList matching;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (it.key().compare(indexName, Qt::CaseInsensitive) == 0)
            matching << it.key();
    if (matching.isEmpty())
        return {};
    if (matching.size() > 1)
        return {std::nullopt,
                fileError(path, QStringLiteral("mehrere Einträge für den Index %1: %2")
                                    .arg(quoted(indexName), matching.join(QStringLiteral(", "))))};
    try {
        return {readEntry(entries.value(matching.front()), matching.front(), path), QString()};
    } catch (const EntryProblem &problem) {
        return {
            std::nullopt,
            fileError(path, QStringLiteral("Eintrag %1: %2").arg(quoted(matching.front()), problem.text))};
    }
}

} // namespace FeedFile
