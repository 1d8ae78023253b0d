#include "quotes/quotefeed.h"

#include "quotes/feedextraction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <cmath>

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

// A path is a JSON Pointer (RFC 6901: "/" before every name, "~0" for "~" and "~1" for "/") or member
// names joined by "."; no name of a dot path may be empty.
void checkPath(const QString &name, const QString &path)
{
    if (path.startsWith(QLatin1Char('/'))) {
        for (qsizetype at = path.indexOf(QLatin1Char('~')); at >= 0;
             at = path.indexOf(QLatin1Char('~'), at + 1))
            if (at + 1 >= path.size() ||
                (path[at + 1] != QLatin1Char('0') && path[at + 1] != QLatin1Char('1')))
                throw EntryProblem{
                    QStringLiteral("%1: in einem JSON Pointer steht „~“ nur als „~0“ oder „~1“: %2")
                        .arg(quoted(name), quoted(path))};
        return;
    }
    const QStringList names = path.split(QLatin1Char('.'));
    for (const QString &part : names)
        if (part.isEmpty())
            throw EntryProblem{
                QStringLiteral("%1 ist kein Pfad aus Feldnamen mit „.“: %2").arg(quoted(name), quoted(path))};
}

QString dotPath(const QJsonObject &object, const QString &name, bool required, bool mayBeEmpty)
{
    if (required && !object.contains(name))
        throw EntryProblem{QStringLiteral("%1 fehlt").arg(quoted(name))};
    const QString path = textMember(object, name);
    if (path.isEmpty() && (mayBeEmpty || !object.contains(name)))
        return path;
    checkPath(name, path);
    return path;
}

// A CSV column: its header text, or its 0-based number (a JSON number or a text of digits).
QString column(const QJsonObject &object, const QString &name, bool required)
{
    const QJsonValue value = object.value(name);
    if (value.isUndefined()) {
        if (required)
            throw EntryProblem{QStringLiteral("%1 fehlt").arg(quoted(name))};
        return {};
    }
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number < 0 || number > 9999 || number != std::floor(number))
            throw EntryProblem{QStringLiteral("%1 ist keine Spaltennummer ab 0").arg(quoted(name))};
        return QString::number(int(number));
    }
    if (!value.isString() || value.toString().trimmed().isEmpty())
        throw EntryProblem{
            QStringLiteral("%1 muss ein Spaltenname oder eine Spaltennummer sein").arg(quoted(name))};
    return value.toString().trimmed();
}

// `time`: one path (column) or a list of them.
QStringList timePaths(const QJsonObject &object, QuoteFeed::Kind kind)
{
    const QString name = QStringLiteral("time");
    const QJsonValue value = object.value(name);
    if (value.isUndefined())
        return {};
    QJsonObject one;
    QStringList paths;
    const QJsonArray list = value.isArray() ? value.toArray() : QJsonArray{value};
    if (list.isEmpty())
        throw EntryProblem{QStringLiteral("%1 ist eine leere Liste").arg(quoted(name))};
    for (const QJsonValue &path : list) {
        one.insert(name, path);
        paths << (kind == QuoteFeed::Kind::Csv ? column(one, name, true) : dotPath(one, name, true, false));
    }
    return paths;
}

// Replaces every {env:NAME} by that environment variable; an unset one is an error naming it, so that a
// key kept out of the file is never sent as the placeholder.
QString withEnvironment(const QString &text, const QString &member)
{
    static const QRegularExpression placeholder(QStringLiteral("\\{env:([^}]*)\\}"));
    QString result;
    qsizetype done = 0;
    for (auto matches = placeholder.globalMatch(text); matches.hasNext();) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = match.captured(1);
        if (name.isEmpty() || !qEnvironmentVariableIsSet(name.toLocal8Bit().constData()))
            throw EntryProblem{QStringLiteral("%1: die Umgebungsvariable %2 ist nicht gesetzt")
                                   .arg(quoted(member), quoted(name))};
        result += QStringView(text).mid(done, match.capturedStart() - done);
        result += qEnvironmentVariable(name.toLocal8Bit().constData());
        done = match.capturedEnd();
    }
    return result + text.mid(done);
}

QList<QPair<QByteArray, QByteArray>> headersOf(const QJsonObject &object)
{
    const QString member = QStringLiteral("headers");
    const QJsonValue value = object.value(member);
    if (value.isUndefined())
        return {};
    if (!value.isObject())
        throw EntryProblem{QStringLiteral("%1 muss ein Objekt aus Kopfzeilen sein").arg(quoted(member))};
    static const QRegularExpression token(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+$"));
    QList<QPair<QByteArray, QByteArray>> headers;
    const QJsonObject fields = value.toObject();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (!token.match(it.key()).hasMatch())
            throw EntryProblem{
                QStringLiteral("%1: %2 ist kein Name einer Kopfzeile").arg(quoted(member), quoted(it.key()))};
        if (!it.value().isString())
            throw EntryProblem{
                QStringLiteral("%1: %2 muss ein Text sein").arg(quoted(member), quoted(it.key()))};
        const QString text = withEnvironment(it.value().toString(), member);
        // A line break would end the header and let the file (or a variable) write a request of its own.
        for (const QChar c : text)
            if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
                throw EntryProblem{QStringLiteral("%1: %2 enthält einen Zeilenumbruch")
                                       .arg(quoted(member), quoted(it.key()))};
        headers.append({it.key().toLatin1(), text.toUtf8()});
    }
    return headers;
}

QHash<QString, QString> symbolsOf(const QJsonObject &object)
{
    const QString member = QStringLiteral("symbols");
    const QJsonValue value = object.value(member);
    if (value.isUndefined())
        return {};
    if (!value.isObject())
        throw EntryProblem{
            QStringLiteral("%1 muss ein Objekt von WKN oder ISIN zu Kennung sein").arg(quoted(member))};
    QHash<QString, QString> symbols;
    const QJsonObject map = value.toObject();
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (!it.value().isString() || it.value().toString().trimmed().isEmpty())
            throw EntryProblem{QStringLiteral("%1: %2 muss eine Kennung als Text haben")
                                   .arg(quoted(member), quoted(it.key()))};
        symbols.insert(FeedExtraction::keyOf(it.key()), it.value().toString().trimmed());
    }
    return symbols;
}

int wholeNumber(const QJsonObject &object, const QString &name, int least, int most, int fallback)
{
    const QJsonValue value = object.value(name);
    if (value.isUndefined())
        return fallback;
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number != std::floor(number) || number < least || number > most)
        throw EntryProblem{QStringLiteral("%1 muss eine ganze Zahl von %2 bis %3 sein")
                               .arg(quoted(name))
                               .arg(least)
                               .arg(most)};
    return int(number);
}

void readTimeFormat(const QJsonObject &object, QuoteFeed &feed)
{
    const QString format = textMember(object, QStringLiteral("timeFormat"));
    if (format.isEmpty() && object.contains(QStringLiteral("timeFormat")))
        throw EntryProblem{QStringLiteral("%1 ist leer").arg(quoted(QStringLiteral("timeFormat")))};
    if (format.isEmpty() || format == QLatin1String("iso")) {
        feed.timeFormat = QuoteFeed::TimeFormat::Iso;
    } else if (format == QLatin1String("unix")) {
        feed.timeFormat = QuoteFeed::TimeFormat::Unix;
    } else if (format == QLatin1String("unixms")) {
        feed.timeFormat = QuoteFeed::TimeFormat::UnixMs;
    } else {
        // A pattern reads at least an hour; one without any field would give every quote the same time.
        static const QRegularExpression field(QStringLiteral("[Hh]"));
        if (!field.match(format).hasMatch())
            throw EntryProblem{QStringLiteral("%1 muss „iso“, „unix“, „unixms“ oder ein Muster mit Stunden "
                                              "(„HH“) sein, nicht %2")
                                   .arg(quoted(QStringLiteral("timeFormat")), quoted(format))};
        feed.timeFormat = QuoteFeed::TimeFormat::Pattern;
        feed.timePattern = format;
    }
    const QString zone = textMember(object, QStringLiteral("timeZone"));
    if (object.contains(QStringLiteral("timeZone"))) {
        feed.timeZone = QTimeZone(zone.toUtf8());
        if (!feed.timeZone.isValid())
            throw EntryProblem{QStringLiteral("%1: %2 ist keine bekannte Zeitzone")
                                   .arg(quoted(QStringLiteral("timeZone")), quoted(zone))};
    }
}

QString checkedUrl(const QString &text)
{
    QString probe = text;
    probe.replace(QLatin1String("{ids}"), QLatin1String("x"))
        .replace(QLatin1String("{id}"), QLatin1String("x"));
    if (text.contains(QLatin1String("{id}")) && text.contains(QLatin1String("{ids}")))
        throw EntryProblem{QStringLiteral("%1 enthält „{id}“ und „{ids}“: nur eins von beiden")
                               .arg(quoted(QStringLiteral("url")))};
    const QUrl url(probe, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        throw EntryProblem{QStringLiteral("%1 ist keine http- oder https-Adresse: %2")
                               .arg(quoted(QStringLiteral("url")), quoted(text))};
    return text;
}

QString checkedPattern(const QString &text, bool idNeeded)
{
    const QRegularExpression expression(text);
    if (!expression.isValid())
        throw EntryProblem{QStringLiteral("%1 ist kein gültiger regulärer Ausdruck: %2 (Zeichen %3)")
                               .arg(quoted(QStringLiteral("pattern")), expression.errorString())
                               .arg(expression.patternErrorOffset() + 1)};
    const QStringList groups = expression.namedCaptureGroups();
    for (const char *group : {"id", "bid", "ask"})
        if (!groups.contains(QLatin1String(group)) && (idNeeded || qstrcmp(group, "id") != 0))
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
    if (kind == QLatin1String("csv"))
        return QuoteFeed::Kind::Csv;
    throw EntryProblem{QStringLiteral("%1 muss „page“, „json“, „pattern“ oder „csv“ sein, nicht %2")
                           .arg(quoted(QStringLiteral("kind")), quoted(kind))};
}

// The members each kind reads; any other is a slip of the pen that would otherwise go unnoticed.
QSet<QString> membersOf(QuoteFeed::Kind kind)
{
    QSet<QString> members{QStringLiteral("kind"),    QStringLiteral("url"),      QStringLiteral("ca"),
                          QStringLiteral("headers"), QStringLiteral("parallel"), QStringLiteral("batch"),
                          QStringLiteral("interval")};
    if (kind == QuoteFeed::Kind::Page)
        return members;
    members += {QStringLiteral("decimal"), QStringLiteral("match"), QStringLiteral("symbols"),
                QStringLiteral("timeFormat"), QStringLiteral("timeZone")};
    if (kind == QuoteFeed::Kind::Pattern)
        return members += QStringLiteral("pattern");
    members += {QStringLiteral("id"), QStringLiteral("bid"), QStringLiteral("ask"), QStringLiteral("last"),
                QStringLiteral("time")};
    if (kind == QuoteFeed::Kind::Json)
        members += QStringLiteral("items");
    if (kind == QuoteFeed::Kind::Csv)
        members += {QStringLiteral("separator"), QStringLiteral("skip")};
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
            feed.url = checkedUrl(withEnvironment(url, QStringLiteral("url")));
    } else {
        feed.url =
            checkedUrl(withEnvironment(requiredText(object, QStringLiteral("url")), QStringLiteral("url")));
    }
    if (feed.kind == QuoteFeed::Kind::Page && (feed.perComponent() || feed.batched()))
        throw EntryProblem{
            QStringLiteral("%1 „page“ liest eine Seite für alle Werte: kein „{id}“ oder „{ids}“ in %2")
                .arg(quoted(QStringLiteral("kind")), quoted(QStringLiteral("url")))};
    feed.headers = headersOf(object);
    feed.parallel = wholeNumber(object, QStringLiteral("parallel"), 1, 64, feed.parallel);
    feed.batch = wholeNumber(object, QStringLiteral("batch"), 1, 1000, feed.batch);
    feed.interval = wholeNumber(object, QStringLiteral("interval"), 0, 86400, feed.interval);
    if (object.contains(QStringLiteral("parallel")) && !feed.perComponent())
        throw EntryProblem{QStringLiteral("%1 gilt nur mit „{id}“ in %2")
                               .arg(quoted(QStringLiteral("parallel")), quoted(QStringLiteral("url")))};
    if (object.contains(QStringLiteral("batch")) && !feed.batched())
        throw EntryProblem{QStringLiteral("%1 gilt nur mit „{ids}“ in %2")
                               .arg(quoted(QStringLiteral("batch")), quoted(QStringLiteral("url")))};

    // A document of one component's request may hold just that quote, without its id.
    const bool idNeeded = !feed.perComponent();
    if (feed.kind == QuoteFeed::Kind::Json) {
        feed.items = dotPath(object, QStringLiteral("items"), false, true);
        feed.id = dotPath(object, QStringLiteral("id"), false, false);
        feed.bid = dotPath(object, QStringLiteral("bid"), true, false);
        feed.ask = dotPath(object, QStringLiteral("ask"), true, false);
        feed.last = dotPath(object, QStringLiteral("last"), false, false);
    }
    if (feed.kind == QuoteFeed::Kind::Csv) {
        feed.id = column(object, QStringLiteral("id"), idNeeded);
        feed.bid = column(object, QStringLiteral("bid"), true);
        feed.ask = column(object, QStringLiteral("ask"), true);
        feed.last = column(object, QStringLiteral("last"), false);
        const QString separator = textMember(object, QStringLiteral("separator"));
        if (object.contains(QStringLiteral("separator"))) {
            if (separator.size() != 1 || separator == QLatin1String("\"") ||
                separator == QLatin1String("\n") || separator == QLatin1String("\r"))
                throw EntryProblem{
                    QStringLiteral("%1 muss ein Zeichen sein (nicht „\"“ oder ein Zeilenumbruch)")
                        .arg(quoted(QStringLiteral("separator")))};
            feed.separator = separator.front();
        }
        feed.skip = wholeNumber(object, QStringLiteral("skip"), 0, 1000, 0);
    }
    if (feed.kind == QuoteFeed::Kind::Json || feed.kind == QuoteFeed::Kind::Csv)
        feed.time = timePaths(object, feed.kind);
    if (feed.kind == QuoteFeed::Kind::Pattern)
        feed.pattern = checkedPattern(requiredText(object, QStringLiteral("pattern")), idNeeded);
    if (feed.kind != QuoteFeed::Kind::Page) {
        readTimeFormat(object, feed);
        feed.symbols = symbolsOf(object);
    }

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
        else if (match == QLatin1String("symbol"))
            feed.match = QuoteFeed::Match::Symbol;
        else if (match != QLatin1String("wkn"))
            throw EntryProblem{QStringLiteral("%1 muss „wkn“, „isin“ oder „symbol“ sein, nicht %2")
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

QString feedIdOf(const QuoteFeed &feed, const QString &wkn)
{
    if (!feed.symbols.isEmpty()) {
        auto it = feed.symbols.constFind(FeedExtraction::keyOf(wkn));
        if (it == feed.symbols.cend())
            it = feed.symbols.constFind(FeedExtraction::isinOf(wkn));
        if (it != feed.symbols.cend())
            return *it;
    }
    return feed.match == QuoteFeed::Match::Isin ? FeedExtraction::isinOf(wkn) : wkn.trimmed();
}

QList<FeedRequest> requestsOf(const QuoteFeed &feed, const QStringList &ids)
{
    if (!feed.perComponent() && !feed.batched())
        return {FeedRequest{QUrl(feed.url), {}}};
    QStringList distinct;
    QSet<QString> seen;
    for (const QString &id : ids)
        if (!id.isEmpty() && !seen.contains(FeedExtraction::keyOf(id))) {
            seen.insert(FeedExtraction::keyOf(id));
            distinct << id;
        }
    const QLatin1String placeholder = feed.perComponent() ? QLatin1String("{id}") : QLatin1String("{ids}");
    const qsizetype step = feed.perComponent() ? 1 : feed.batch;
    QList<FeedRequest> requests;
    requests.reserve((distinct.size() + step - 1) / step);
    for (qsizetype first = 0; first < distinct.size(); first += step) {
        const QStringList part = distinct.mid(first, step);
        QStringList encoded;
        for (const QString &id : part)
            encoded << QString::fromLatin1(QUrl::toPercentEncoding(id));
        QString url = feed.url;
        url.replace(placeholder, encoded.join(QLatin1Char(',')));
        requests.append({QUrl(url), part});
    }
    return requests;
}

} // namespace FeedFile
