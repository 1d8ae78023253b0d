#include "sources/feedextraction.h"

#include "core/numbertext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <cfloat>
#include <cmath>
#include <optional>

namespace FeedExtraction {

namespace {

// Unix seconds beyond this (the year 5138) are no time a quote can carry; QDateTime would take them.
constexpr double latestSeconds = 1e11;

QString entryError(const QuoteFeed &feed, const QString &problem)
{
    return QStringLiteral("Kursquelle „%1“: %2").arg(feed.entry, problem);
}

QStringList pathOf(const QString &dotPath)
{
    return dotPath.isEmpty() ? QStringList() : dotPath.split(QLatin1Char('.'));
}

// Follows member names, and positions in lists, from `value`; undefined where the path leads nowhere.
QJsonValue follow(QJsonValue value, const QStringList &path)
{
    for (const QString &name : path) {
        if (value.isObject()) {
            value = value.toObject().value(name);
        } else if (value.isArray()) {
            bool isPosition = false;
            const int position = name.toInt(&isPosition);
            const QJsonArray list = value.toArray();
            if (!isPosition || position < 0 || position >= list.size())
                return QJsonValue(QJsonValue::Undefined);
            value = list.at(position);
        } else {
            return QJsonValue(QJsonValue::Undefined);
        }
    }
    return value;
}

std::optional<double> numberText(const QString &text, QChar decimal)
{
    const auto value = NumberText::tryParseFloat(text.trimmed(), decimal);
    // The price rule and the cells work with doubles; a quote beyond their range is no quote.
    if (!value || std::fabs(*value) > static_cast<long double>(DBL_MAX))
        return std::nullopt;
    return static_cast<double>(*value);
}

std::optional<double> numberOf(const QJsonValue &value, QChar decimal)
{
    if (value.isDouble())
        return value.toDouble();
    if (value.isString())
        return numberText(value.toString(), decimal);
    return std::nullopt;
}

QDateTime fromUnixSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > latestSeconds)
        return {};
    return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000));
}

QDateTime timeOf(const QJsonValue &value)
{
    if (value.isDouble())
        return fromUnixSeconds(value.toDouble());
    if (value.isString())
        return FeedExtraction::timeOf(value.toString());
    return {};
}

// A feed id as text: ids are texts, but a WKN of digits is easily written as a JSON number.
QString idOf(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number >= 0 && number < 1e15 && number == std::floor(number))
            return QString::number(qint64(number));
    }
    return {};
}

// First quote of an id wins, as the first occurrence of a WKN does on the built-in page.
void add(FeedQuotes &quotes, const QString &id, std::optional<double> bid, std::optional<double> ask,
         const QDateTime &time)
{
    const QString key = keyOf(id);
    if (key.isEmpty() || !bid || !ask || quotes.contains(key))
        return;
    quotes.insert(key, FeedQuote{*bid, *ask, time});
}

int isinDigitSum(const QString &digits)
{
    // Luhn over the digits, the letters counted as two digits (A = 10 ... Z = 35): from the right,
    // every other digit starting with the last is doubled.
    int sum = 0;
    bool doubled = true;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        int digit = digits[i].unicode() - u'0';
        if (doubled)
            digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
        sum += digit;
        doubled = !doubled;
    }
    return sum;
}

// The check digit of the eleven characters of an ISIN before it; -1 for a character that no ISIN holds.
int isinCheckDigit(const QString &body)
{
    QString digits;
    for (const QChar c : body) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            digits += QString::number(c.unicode() - u'A' + 10);
        else
            return -1;
    }
    return (10 - isinDigitSum(digits) % 10) % 10;
}

} // namespace

QString keyOf(const QString &id)
{
    return id.trimmed().toUpper();
}

QString isinOf(const QString &wkn)
{
    const QString text = keyOf(wkn);
    if (text.size() == 12 && text[0].isLetter() && text[1].isLetter() && text[11].isDigit() &&
        isinCheckDigit(text.left(11)) == text[11].unicode() - u'0')
        return text;
    if (text.size() != 6)
        return {};
    const QString body = QStringLiteral("DE000") + text;
    const int check = isinCheckDigit(body);
    return check < 0 ? QString() : body + QString::number(check);
}

QDateTime timeOf(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    bool isNumber = false;
    const double seconds = trimmed.toDouble(&isNumber);
    if (isNumber && trimmed.front().isDigit())
        return fromUnixSeconds(seconds);
    return QDateTime::fromString(trimmed, Qt::ISODateWithMs);
}

FeedQuotes readJson(const QByteArray &document, const QuoteFeed &feed)
{
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw FeedError(entryError(feed, QStringLiteral("das Dokument ist kein gültiges JSON: %1 (Zeichen %2)")
                                             .arg(parseError.errorString())
                                             .arg(parseError.offset + 1)));
    const QJsonValue root = json.isObject() ? QJsonValue(json.object()) : QJsonValue(json.array());
    const QJsonValue items = follow(root, pathOf(feed.items));

    const QStringList id = pathOf(feed.id), bid = pathOf(feed.bid), ask = pathOf(feed.ask);
    const QStringList time = pathOf(feed.time);
    FeedQuotes quotes;
    const auto addItem = [&](const QString &itemId, const QJsonValue &item) {
        add(quotes, itemId, numberOf(follow(item, bid), feed.decimal), numberOf(follow(item, ask), feed.decimal),
            time.isEmpty() ? QDateTime() : timeOf(follow(item, time)));
    };
    if (items.isArray()) {
        if (id.isEmpty())
            throw FeedError(entryError(feed, QStringLiteral("„items“ führt zu einer Liste, aber „id“ fehlt")));
        const QJsonArray list = items.toArray();
        quotes.reserve(list.size());
        for (const QJsonValue &item : list)
            addItem(idOf(follow(item, id)), item);
    } else if (items.isObject()) {
        // An object keyed by id: the member names are the ids.
        const QJsonObject object = items.toObject();
        quotes.reserve(object.size());
        for (auto it = object.begin(); it != object.end(); ++it)
            addItem(it.key(), it.value());
    } else {
        throw FeedError(entryError(feed, QStringLiteral("„items“ „%1“ führt im Dokument zu keiner Liste und "
                                                        "keinem Objekt")
                                             .arg(feed.items)));
    }
    return quotes;
}

FeedQuotes readPattern(const QByteArray &page, const QuoteFeed &feed)
{
    const QRegularExpression pattern(feed.pattern);
    const QStringList groups = pattern.namedCaptureGroups();
    const int id = int(groups.indexOf(QStringLiteral("id")));
    const int bid = int(groups.indexOf(QStringLiteral("bid")));
    const int ask = int(groups.indexOf(QStringLiteral("ask")));
    const int time = int(groups.indexOf(QStringLiteral("time")));
    if (!pattern.isValid() || id < 0 || bid < 0 || ask < 0)
        throw FeedError(entryError(feed, QStringLiteral("„pattern“ ist ungültig oder ohne die Gruppen "
                                                        "id, bid und ask")));

    FeedQuotes quotes;
    const QString text = QString::fromUtf8(page);
    for (auto matches = pattern.globalMatch(text); matches.hasNext();) {
        const QRegularExpressionMatch match = matches.next();
        add(quotes, match.captured(id), numberText(match.captured(bid), feed.decimal),
            numberText(match.captured(ask), feed.decimal),
            time < 0 ? QDateTime() : timeOf(match.captured(time)));
    }
    return quotes;
}

} // namespace FeedExtraction
