#include "quotes/feedextraction.h"

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
            value = value[name];
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

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (H. Hinnant's days_from_civil).
qint64 daysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The common form of feed times, "YYYY-MM-DDTHH:MM:SS[.fff](Z|+HH:MM|-HH:MM|+HHMM|+HH)", read without
// QDateTime's general parser, which costs more than the rest of a large feed together. Nothing for
// any other form (a time without offset is local time: QDateTime reads it).
std::optional<QDateTime> fastIsoTime(QStringView text)
{
    qsizetype at = 0;
    const auto number = [&](int digits, int &value) {
        value = 0;
        for (int i = 0; i < digits; ++i, ++at) {
            if (at >= text.size() || !text[at].isDigit() || text[at].unicode() > u'9')
                return false;
            value = value * 10 + (text[at].unicode() - u'0');
        }
        return true;
    };
    const auto expect = [&](char16_t c) { return at < text.size() && text[at++].unicode() == c; };
    int year, month, day, hour, minute, second = 0;
    if (!number(4, year) || !expect(u'-') || !number(2, month) || !expect(u'-') || !number(2, day))
        return std::nullopt;
    if (at >= text.size() || (text[at] != QLatin1Char('T') && text[at] != QLatin1Char(' ')))
        return std::nullopt;
    ++at;
    if (!number(2, hour) || !expect(u':') || !number(2, minute))
        return std::nullopt;
    if (at < text.size() && text[at] == QLatin1Char(':')) {
        ++at;
        if (!number(2, second))
            return std::nullopt;
    }
    int milliseconds = 0;
    if (at < text.size() && (text[at] == QLatin1Char('.') || text[at] == QLatin1Char(','))) {
        ++at;
        int digits = 0;
        for (; at < text.size() && text[at].unicode() >= u'0' && text[at].unicode() <= u'9'; ++at, ++digits)
            if (digits < 3)
                milliseconds = milliseconds * 10 + (text[at].unicode() - u'0');
        if (digits == 0)
            return std::nullopt;
        for (; digits < 3; ++digits)
            milliseconds *= 10;
    }
    int offset = 0;
    if (at < text.size() && text[at] == QLatin1Char('Z')) {
        ++at;
    } else if (at < text.size() && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-'))) {
        const int sign = text[at++] == QLatin1Char('-') ? -1 : 1;
        int offsetHours, offsetMinutes = 0;
        if (!number(2, offsetHours))
            return std::nullopt;
        if (at < text.size() && text[at] == QLatin1Char(':'))
            ++at;
        if (at < text.size() && !number(2, offsetMinutes))
            return std::nullopt;
        if (offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offset = sign * (offsetHours * 3600 + offsetMinutes * 60);
    } else {
        return std::nullopt;
    }
    if (at != text.size())
        return std::nullopt;

    static constexpr int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59)
        return QDateTime();
    const qint64 seconds =
        daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
    if (offset == 0)
        return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + milliseconds, Qt::UTC);
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + milliseconds, Qt::OffsetFromUTC, offset);
}

QDateTime timeOfValue(const QJsonValue &value)
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
    if (const auto time = fastIsoTime(trimmed))
        return *time;
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
        throw FeedError(
            entryError(feed, QStringLiteral("das Dokument ist kein gültiges JSON: %1 (Zeichen %2)")
                                 .arg(parseError.errorString())
                                 .arg(parseError.offset + 1)));
    const QJsonValue root = json.isObject() ? QJsonValue(json.object()) : QJsonValue(json.array());
    const QJsonValue items = follow(root, pathOf(feed.items));

    const QStringList id = pathOf(feed.id), bid = pathOf(feed.bid), ask = pathOf(feed.ask);
    const QStringList time = pathOf(feed.time);
    FeedQuotes quotes;
    const auto addItem = [&](const QString &itemId, const QJsonValue &item) {
        add(quotes, itemId, numberOf(follow(item, bid), feed.decimal),
            numberOf(follow(item, ask), feed.decimal),
            time.isEmpty() ? QDateTime() : timeOfValue(follow(item, time)));
    };
    if (items.isArray()) {
        if (id.isEmpty())
            throw FeedError(
                entryError(feed, QStringLiteral("„items“ führt zu einer Liste, aber „id“ fehlt")));
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
